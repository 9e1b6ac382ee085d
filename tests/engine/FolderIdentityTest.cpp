// Whose folder and whose account a state belongs to: a folder chosen again,
// a nested pair, a remounted drive, another account or server.
#include "EngineFixture.h"

#include "platform/Bookmarks.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <sys/xattr.h>

using testsupport::readFile;
using testsupport::writeFile;

class FolderIdentityTest : public EngineFixture {
protected:
    // A folder chosen in the settings: with its bookmark.
    QString choose(const QString &relative)
    {
        const QString path = QDir::cleanPath(area.filePath(relative));
        QDir().mkpath(path);
        EXPECT_TRUE(appState->addWatchedFolder(path));
        return path;
    }
    bool inTrash(const QString &name) const
    {
        return QFileInfo::exists(home.filePath("data/Trash/files/" + name));
    }
};

TEST_F(FolderIdentityTest, AFolderChosenAgainStartsAfreshWithNoDeletionOnEitherSide)
{
    const QString small = choose("Small");
    for (const QString &name : numbered(4))
        writeFile(small + "/" + name, name.toUtf8());
    syncOk();

    ASSERT_TRUE(QDir().rename(small, small + "-old"));
    ASSERT_TRUE(QDir().mkpath(small));
    writeFile(small + "/fresh.txt", "fresh");
    sync();
    ASSERT_EQ(appState->syncStatus().kind, SyncStatus::Kind::error);
    EXPECT_TRUE(appState->foldersNeedingChoice().contains(small));

    ASSERT_TRUE(appState->replaceWatchedFolder(0, small));
    running.server.clearRequests();
    syncOk();
    EXPECT_EQ(deletions(), 0);
    EXPECT_TRUE(engine->rebasedFolders().contains(small));
    for (const QString &name : numbered(4))
        EXPECT_EQ(readFile(small + "/" + name), name.toUtf8());
    EXPECT_EQ(serverContent(small, "fresh.txt"), "fresh");
    EXPECT_EQ(documentsOf(small).size(), 5u);
    EXPECT_EQ(QDir(small + "-old").entryList(QDir::Files).size(), 4);

    // From then on the new folder is the one agreed on.
    EXPECT_EQ(transfersOfPass(), 0);
}

TEST_F(FolderIdentityTest, ANestedPairIsRefusedAndAStoredOneLeavesTheInnerFolderAlone)
{
    const QString docs = choose("Docs");
    const QString inner = docs + "/Inner";
    QDir().mkpath(inner);
    EXPECT_FALSE(appState->addWatchedFolder(inner));
    // A link into the watched folder is the same folder by another path.
    testsupport::makeLink(inner, area.filePath("Shortcut"));
    EXPECT_TRUE(appState->folderRefusal(area.filePath("Shortcut")).has_value());
    EXPECT_FALSE(appState->folderRefusal(area.filePath("Elsewhere")).has_value());

    // A pair stored by an earlier version: the inner folder is marked and
    // never synced; the outer folder syncs its files, the inner ones with them.
    writeFile(inner + "/inner.txt", "inner");
    appState->setWatchedFolders({docs, inner});
    appState->saveBookmarks();
    appState->loadBookmarks();
    EXPECT_EQ(appState->foldersNeedingChoice(), QStringList{inner});
    for (int pass = 0; pass < 2; ++pass) {
        sync();
        EXPECT_EQ(appState->syncStatus().kind, SyncStatus::Kind::error);
        EXPECT_TRUE(appState->syncStatus().message.contains("overlaps the watched folder " + docs));
    }
    EXPECT_EQ(readFile(inner + "/inner.txt"), "inner");
    EXPECT_FALSE(inTrash("inner.txt"));
    EXPECT_FALSE(engine->syncState().folderMappings.contains(inner));
    EXPECT_EQ(serverContent(docs, "inner.txt"), "inner");
    EXPECT_EQ(deletions(), 0);
}

TEST_F(FolderIdentityTest, ADriveMountedAgainUnderAnotherDeviceIsStillTheChosenFolder)
{
    const QString docs = choose("Docs");
    writeFile(docs + "/a.txt", "a");
    syncOk();

    // The bookmark as a drive that came back under another device number
    // leaves it: another device and inode, the same mark on the folder.
    auto bookmarks = preferences->dataArray("watchedFolderBookmarks").value();
    QJsonObject recorded = QJsonDocument::fromJson(bookmarks[0]).object();
    ASSERT_FALSE(recorded.value("mark").toString().isEmpty());
    const qint64 device = recorded.value("device").toInteger();
    recorded.insert("device", device + 1000);
    recorded.insert("inode", recorded.value("inode").toInteger() + 1);
    bookmarks[0] = QJsonDocument(recorded).toJson(QJsonDocument::Compact);
    preferences->setDataArray("watchedFolderBookmarks", bookmarks);
    appState->loadBookmarks();
    EXPECT_TRUE(appState->foldersNeedingChoice().isEmpty());

    writeFile(docs + "/b.txt", "b");
    EXPECT_EQ(transfersOfPass(), 1);
    EXPECT_EQ(serverContent(docs, "b.txt"), "b");
    EXPECT_TRUE(engine->rebasedFolders().isEmpty());
    // The folder's identity now is recorded, with the same mark.
    const auto renewed = Bookmarks::read(preferences->dataArray("watchedFolderBookmarks")->at(0));
    EXPECT_EQ(renewed->identity.device, device);
    EXPECT_EQ(renewed->mark, recorded.value("mark").toString());
}

// A new file system mounted at the chosen folder can reuse its device and
// inode numbers (a fresh tmpfs, a drive formatted again): it holds no files
// and carries no mark. It is not the chosen folder, so the files missing
// from it are not deleted from the server; chosen again, it starts afresh.
TEST_F(FolderIdentityTest, AFolderThatLostItsMarkUnderTheSameNumbersIsNotTheChosenFolder)
{
    const QString docs = choose("Docs");
    writeFile(docs + "/a.txt", "a");
    writeFile(docs + "/b.txt", "b");
    syncOk();

    // What the new file system looks like at the same numbers: empty, no mark.
    QFile::remove(docs + "/a.txt");
    QFile::remove(docs + "/b.txt");
    ASSERT_EQ(::removexattr(QFile::encodeName(docs).constData(), Bookmarks::markAttribute), 0);
    sync();
    EXPECT_EQ(appState->syncStatus().kind, SyncStatus::Kind::error);
    EXPECT_EQ(appState->foldersNeedingChoice(), QStringList{docs});
    EXPECT_EQ(deletions(), 0);
    EXPECT_EQ(serverContent(docs, "a.txt"), "a");

    // Chosen again: the documents come down to the new folder.
    ASSERT_TRUE(appState->replaceWatchedFolder(0, docs));
    syncOk();
    EXPECT_EQ(readFile(docs + "/a.txt"), "a");
    EXPECT_EQ(readFile(docs + "/b.txt"), "b");
    EXPECT_EQ(deletions(), 0);
}

TEST_F(FolderIdentityTest, AnotherAccountStartsAfreshAndTheFirstOneFindsItsStateAgain)
{
    const QString docs = watch("Docs");
    writeFile(docs + "/mine.txt", "mine");
    appState->setUserInfo(UserInfo{.email = email});
    syncOk();
    const SyncState first = engine->syncState();
    ASSERT_EQ(first.account->email, QString(email));

    // Another user signs in on this computer.
    running.server.addUser("other@tavrel.test", "other-password", "Other", "Tavrel");
    client->setToken(QString::fromStdString(running.server.issueToken("other@tavrel.test")));
    appState->setUserInfo(UserInfo{.email = "other@tavrel.test"});
    syncOk();
    const SyncState other = engine->syncState();
    EXPECT_EQ(other.account->email, "other@tavrel.test");
    EXPECT_NE(other.serverFolderId, first.serverFolderId);
    EXPECT_EQ(running.server.folders("other@tavrel.test").size(), 2u);
    EXPECT_EQ(readFile(docs + "/mine.txt"), "mine");

    // Back to the first account: its own state again, nothing transferred.
    client->setToken(QString::fromStdString(running.server.issueToken(email)));
    appState->setUserInfo(UserInfo{.email = email});
    EXPECT_EQ(transfersOfPass(), 0);
    EXPECT_EQ(engine->syncState().serverFolderId, first.serverFolderId);
    EXPECT_EQ(agreements(engine->syncState()), agreements(first));
}

TEST_F(FolderIdentityTest, AnotherServerNeverUsesThisServersIds)
{
    const QString docs = watch("Docs");
    writeFile(docs + "/a.txt", "a");
    syncOk();
    const int64_t folder = serverFolderOf(docs);

    // A second server whose unrelated folders and documents have the same
    // ids, one of them deleted.
    testsupport::RunningServer second;
    const int64_t unrelatedRoot = second.server.createFolder(email, "Unrelated", std::nullopt);
    const int64_t unrelated = second.server.createFolder(email, "Projects", unrelatedRoot);
    ASSERT_EQ(unrelated, folder);
    const int64_t document = second.server.putDocument(email, unrelated, "plan.txt", "plan");
    ASSERT_EQ(document, engine->syncState().trackedFiles.value(docs + "/a.txt").remoteId);
    second.server.deleteDocument(document);

    client->setBaseURL(second.baseURL);
    client->setToken(QString::fromStdString(second.server.issueToken(email)));
    syncOk();
    EXPECT_EQ(readFile(docs + "/a.txt"), "a");
    EXPECT_FALSE(inTrash("a.txt"));
    EXPECT_TRUE(second.server.documents(unrelated).empty());
    EXPECT_EQ(engine->syncState().account->server, second.baseURL);
    const int64_t mapped = serverFolderOf(docs);
    EXPECT_NE(mapped, unrelated);
    ASSERT_EQ(second.server.documents(mapped).size(), 1u);
    EXPECT_EQ(second.server.documents(mapped).front().name, "a.txt");
}
