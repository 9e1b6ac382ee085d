#include "state/CredentialStore.h"

#include "api/Records.h"
#include "platform/Preferences.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

TEST(CredentialStoreTest, StoresTheFivePrefixedKeysAndClearsOnlyThem)
{
    testsupport::TempHome home;
    Preferences preferences;
    CredentialStore store(preferences);

    for (const QString &key : CredentialStore::shortKeys())
        store.write(key, key + "-value");
    preferences.setDataArray("watchedFolderBookmarks", {"bookmark"});
    preferences.setDouble("syncInterval", 60);

    // Written under the prefixed names, and read back by a later run.
    Preferences later;
    EXPECT_EQ(later.string("tavrel_api_token"), QStringLiteral("api_token-value"));
    EXPECT_EQ(later.string("tavrel_user_org"), QStringLiteral("user_org-value"));
    EXPECT_EQ(CredentialStore(later).read("server_url"), QStringLiteral("server_url-value"));
    EXPECT_FALSE(store.read("unknown"));

    store.clearAll();
    for (const QString &key : CredentialStore::shortKeys()) {
        EXPECT_FALSE(store.read(key)) << key.toStdString();
        EXPECT_FALSE(Preferences().contains("tavrel_" + key)) << key.toStdString();
    }
    EXPECT_EQ(Preferences().dataArray("watchedFolderBookmarks"), QList<QByteArray>{"bookmark"});
    EXPECT_EQ(Preferences().doubleValue("syncInterval"), 60);
}

// Without a keyring (the tests reach no session bus), the token lives in the
// preferences file beside the other session keys, as it always did, and the
// answer comes at once rather than after a D-Bus time-out.
TEST(CredentialStoreTest, WithoutAKeyringTheTokenStaysInThePreferencesFile)
{
    testsupport::TempHome home;
    Preferences preferences;
    UserInfo user;
    user.email = "demo@tavrel.test";
    user.displayName = "Demo User";
    user.organization = "Tavrel Demo";
    testsupport::run(CredentialStore::storeSession(preferences, "http://127.0.0.1:1", user, "the-token"));

    Preferences later;
    EXPECT_EQ(later.string("tavrel_api_token"), QStringLiteral("the-token"));
    EXPECT_EQ(later.string("tavrel_user_email"), QStringLiteral("demo@tavrel.test"));
    EXPECT_EQ(CredentialStore::loadToken(later), QStringLiteral("the-token"));
    // Loading leaves it where it is.
    EXPECT_EQ(Preferences().string("tavrel_api_token"), QStringLiteral("the-token"));

    // Another account's sign-in replaces the session whole.
    user.email = "other@tavrel.test";
    testsupport::run(CredentialStore::storeSession(later, "http://127.0.0.1:2", user, "other-token"));
    EXPECT_EQ(CredentialStore::loadToken(later), QStringLiteral("other-token"));

    later.setDouble("syncInterval", 60);
    testsupport::run(CredentialStore::forgetSession(later));
    for (const QString &key : CredentialStore::shortKeys())
        EXPECT_FALSE(Preferences().contains("tavrel_" + key)) << key.toStdString();
    EXPECT_EQ(CredentialStore::loadToken(later), std::nullopt);
    EXPECT_EQ(Preferences().doubleValue("syncInterval"), 60);
}
