// Secrets in a real Secret Service: GNOME Keyring on a private D-Bus
// session, started by this program (see PrivateSecretService).
#include "keyring/PrivateSecretService.h"

#include "api/Records.h"
#include "platform/Preferences.h"
#include "platform/SecretStore.h"
#include "state/AppState.h"
#include "state/CredentialStore.h"
#include "support/TestSupport.h"

using Outcome = SecretStore::Reading::Outcome;

class KeyringTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!service.isRunning())
            GTEST_SKIP() << "No private Secret Service: " << service.whyMissing().toStdString();
    }

    static UserInfo demoUser(const QString &email = "demo@tavrel.test")
    {
        UserInfo user;
        user.email = email;
        user.displayName = "Demo User";
        user.organization = "Tavrel Demo";
        return user;
    }

    PrivateSecretService &service = PrivateSecretService::instance();
    testsupport::TempHome home;
};

TEST_F(KeyringTest, SecretsAreWrittenReadAndRemoved)
{
    EXPECT_TRUE(SecretStore::isAvailable());
    EXPECT_EQ(testsupport::run(SecretStore::read("nothing here")).outcome, Outcome::notFound);

    ASSERT_TRUE(testsupport::run(SecretStore::write("a key", "first \u00e9 secret")));
    ASSERT_TRUE(testsupport::run(SecretStore::write("a key", "second secret")));
    const SecretStore::Reading reading = SecretStore::readNow("a key");
    EXPECT_EQ(reading.outcome, Outcome::found);
    EXPECT_EQ(reading.secret, "second secret");
    // Another program of the desktop finds it under the service's name.
    EXPECT_EQ(service.lookUp("a key"), "second secret");

    EXPECT_TRUE(testsupport::run(SecretStore::remove("a key")));
    EXPECT_EQ(testsupport::run(SecretStore::read("a key")).outcome, Outcome::notFound);
    EXPECT_TRUE(testsupport::run(SecretStore::remove("a key"))) << "nothing to remove is no failure";
}

// A token in the preferences (as an earlier version, or a desktop without
// a keyring, left it) moves to the keyring at the next start, which finds
// the session there; another account's sign-in takes the old token out,
// and the sign-out its own.
TEST_F(KeyringTest, TheSessionTokenLivesInTheKeyringAndLeavesWithTheSignOut)
{
    {
        Preferences preferences;
        preferences.setString("tavrel_api_token", "kept-token");
        preferences.setString("tavrel_server_url", "http://127.0.0.1:8765");
        preferences.setString("tavrel_user_email", "demo@tavrel.test");
        preferences.setString("tavrel_user_name", "Demo User");
        preferences.setString("tavrel_user_org", "Tavrel Demo");
    }
    const QString key = "demo@tavrel.test on http://127.0.0.1:8765";
    for (int start = 0; start < 2; ++start) { // moved there, then found there
        Preferences later;
        AppState state(later);
        EXPECT_EQ(state.loadSavedState(), "kept-token");
        EXPECT_TRUE(state.isLoggedIn());
        ASSERT_TRUE(state.userInfo());
        EXPECT_EQ(state.userInfo()->organization, "Tavrel Demo");
        EXPECT_FALSE(Preferences().contains("tavrel_api_token"));
        EXPECT_EQ(Preferences().string("tavrel_server_url"), "http://127.0.0.1:8765");
        EXPECT_EQ(service.lookUp(key), "kept-token");
    }

    Preferences preferences;
    EXPECT_EQ(CredentialStore::tokenPlace(preferences).keyringKey, key);
    testsupport::run(
        CredentialStore::storeSession(preferences, "http://127.0.0.1:8765", demoUser("other@tavrel.test"), "token-2"));
    EXPECT_EQ(service.lookUp(key), "");
    const QString otherKey = CredentialStore::tokenPlace(preferences).keyringKey;
    EXPECT_EQ(service.lookUp(otherKey), "token-2");
    EXPECT_FALSE(Preferences().contains("tavrel_api_token"));
    EXPECT_EQ(Preferences().string("tavrel_user_email"), "other@tavrel.test");

    testsupport::run(CredentialStore::forgetSession(preferences));
    EXPECT_EQ(service.lookUp(otherKey), "");
    Preferences later;
    AppState state(later);
    EXPECT_EQ(state.loadSavedState(), std::nullopt);
    EXPECT_FALSE(state.isLoggedIn());
}
