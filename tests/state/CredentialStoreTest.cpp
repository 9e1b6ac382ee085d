#include "state/CredentialStore.h"

#include "api/Records.h"
#include "platform/Preferences.h"
#include "support/TestSupport.h"

// The session's keys live under the "tavrel_" prefix and go without the
// other keys. Without a keyring (the tests reach no session bus) the token
// stays in the preferences file beside them, as it always did, and the
// answer comes at once rather than after a D-Bus time-out.
TEST(CredentialStoreTest, StoresTheSessionKeysAndClearsOnlyThem)
{
    testsupport::TempHome home;
    Preferences preferences;
    preferences.setDataArray("watchedFolderBookmarks", {"bookmark"});
    preferences.setDouble("syncInterval", 60);
    CredentialStore store(preferences);
    for (const QString &key : CredentialStore::shortKeys())
        store.write(key, key + "-value");
    Preferences later;
    EXPECT_EQ(later.string("tavrel_user_org"), QStringLiteral("user_org-value"));
    EXPECT_EQ(CredentialStore(later).read("server_url"), QStringLiteral("server_url-value"));
    EXPECT_FALSE(store.read("unknown"));
    store.clearAll();
    for (const QString &key : CredentialStore::shortKeys())
        EXPECT_FALSE(Preferences().contains("tavrel_" + key)) << key.toStdString();

    UserInfo user;
    user.email = "demo@tavrel.test";
    user.displayName = "Demo User";
    user.organization = "Tavrel Demo";
    testsupport::run(CredentialStore::storeSession(preferences, "http://127.0.0.1:1", user, "the-token"));
    Preferences reread;
    EXPECT_EQ(reread.string("tavrel_api_token"), QStringLiteral("the-token"));
    EXPECT_EQ(reread.string("tavrel_user_email"), QStringLiteral("demo@tavrel.test"));
    EXPECT_EQ(CredentialStore::loadToken(reread), QStringLiteral("the-token"));
    EXPECT_EQ(Preferences().string("tavrel_api_token"), QStringLiteral("the-token")) << "loading leaves it there";
    // Another account's sign-in replaces the session whole.
    user.email = "other@tavrel.test";
    testsupport::run(CredentialStore::storeSession(reread, "http://127.0.0.1:2", user, "other-token"));
    EXPECT_EQ(CredentialStore::loadToken(reread), QStringLiteral("other-token"));

    testsupport::run(CredentialStore::forgetSession(reread));
    for (const QString &key : CredentialStore::shortKeys())
        EXPECT_FALSE(Preferences().contains("tavrel_" + key)) << key.toStdString();
    EXPECT_EQ(CredentialStore::loadToken(reread), std::nullopt);
    EXPECT_EQ(Preferences().doubleValue("syncInterval"), 60);
    EXPECT_EQ(Preferences().dataArray("watchedFolderBookmarks"), QList<QByteArray>{"bookmark"});
}
