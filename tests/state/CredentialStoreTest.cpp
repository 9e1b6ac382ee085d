#include "state/CredentialStore.h"

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
