// Deletions in both directions, and what must survive them.
#include "EngineFixture.h"

using testsupport::readFile;
using testsupport::writeFile;

class DeletionTest : public EngineFixture {};

TEST_F(DeletionTest, DocumentsDeletedOnTheServerTakeOnlyTheirUnchangedFilesWithThem)
{
    const QString docs = watch("Docs");
    writeFiles(docs, {"gone.txt", "Sub/also-gone.txt", "removed-by-hand.txt", "draft.txt", "stays.txt"}, "agreed");
    syncOk();
    for (const auto &[name, document] : documentsOf(docs))
        if (name != "stays.txt")
            running.server.deleteDocument(document.id);
    QFile::remove(docs + "/removed-by-hand.txt");
    writeFile(docs + "/draft.txt", "unsaved work"); // changed since the agreement
    log.clear();
    syncOk();
    // The pass tells its deletions once, not once per file.
    EXPECT_EQ(notices, (QList<QStringList>{
                           {"Moved to the Trash", "2 files deleted on the server were moved to the Trash", docs}}));

    EXPECT_FALSE(QFileInfo::exists(docs + "/gone.txt"));
    EXPECT_FALSE(QFileInfo::exists(docs + "/Sub/also-gone.txt"));
    EXPECT_EQ(readFile(docs + "/stays.txt"), "agreed");
    EXPECT_EQ(log.count("info: Deleted local file: gone.txt"), 1);
    EXPECT_EQ(log.count("info: Deleted local file: also-gone.txt"), 1);
    EXPECT_EQ(log.linesWith("removed-by-hand").size(), 0);
    EXPECT_EQ(deletions(), 0);
    // The changed file stays and goes up as a new document.
    EXPECT_EQ(readFile(docs + "/draft.txt"), "unsaved work");
    EXPECT_TRUE(log.has("info: Kept local file changed since its document was deleted: draft.txt"));
    EXPECT_EQ(serverContent(docs, "draft.txt"), "unsaved work");
    EXPECT_EQ(engine->syncState().trackedFiles.keys(), (QStringList{docs + "/draft.txt", docs + "/stays.txt"}));
}

// Removed files (a subfolder's too) delete their documents before any
// transfer, and only theirs: a folder whose path starts with the same
// letters keeps its own.
TEST_F(DeletionTest, RemovedLocalFilesDeleteTheirDocumentsBeforeAnyTransfer)
{
    const QString docs = watch("home/Docs");
    const QString docs2 = watch("home/Docs2");
    writeFile(docs + "/old.txt", "x");
    writeFile(docs + "/Sub/old2.txt", "y");
    writeFile(docs2 + "/b.txt", "b");
    syncOk();
    ASSERT_NE(serverFolderOf(docs), serverFolderOf(docs2));
    QFile::remove(docs + "/old.txt");
    QDir(docs + "/Sub").removeRecursively();
    writeFile(docs + "/new.txt", "z");
    running.server.clearRequests();
    log.clear();
    syncOk();

    EXPECT_EQ(deletions(), 2);
    EXPECT_EQ(documentsOf(docs).size(), 1u);
    EXPECT_TRUE(documentsOf(docs).count("new.txt"));
    EXPECT_TRUE(log.has("info: Deleted remote document for removed local file old.txt"));
    EXPECT_TRUE(log.has("info: Deleted remote document for removed local file Sub/old2.txt"));
    EXPECT_LT(requestIndex("DELETE", "/api/v1/documents/", true), requestIndex("POST", "/api/v1/documents", false));
    EXPECT_EQ(serverContent(docs2, "b.txt"), "b");
    EXPECT_EQ(engine->syncState().trackedFiles.keys(), (QStringList{docs + "/new.txt", docs2 + "/b.txt"}));
}

TEST_F(DeletionTest, AMissingFolderChangesNothingWhileTheOthersStillSync)
{
    const QString lost = watch("Lost");
    const QString docs = watch("Docs");
    writeFile(lost + "/keep.txt", "server copy must stay");
    writeFile(docs + "/a.txt", "a");
    syncOk();
    ASSERT_EQ(documentsOf(lost).size(), 1u);

    // The folder goes away (an unmounted disk, a rename); the server meanwhile
    // changes; a folder that never existed is added.
    ASSERT_TRUE(QDir().rename(lost, area.filePath("Lost-elsewhere")));
    putDocument(lost, "fresh.txt", "new on the server");
    writeFile(docs + "/b.txt", "b");
    appState->setWatchedFolders(appState->watchedFolders() << area.filePath("Never"));
    const auto serverFolders = running.server.folders(email).size();
    running.server.clearRequests();
    sync();
    EXPECT_EQ(running.server.folders(email).size(), serverFolders);
    EXPECT_EQ(appState->syncStatus(), SyncStatus::error("Cannot read folder " + lost));
    EXPECT_TRUE(log.has("critical: Sync failed: Cannot read folder " + lost));
    EXPECT_EQ(deletions(), 0);
    EXPECT_EQ(documentsOf(lost).size(), 2u);
    EXPECT_TRUE(engine->syncState().trackedFiles.contains(lost + "/keep.txt"));
    EXPECT_FALSE(QFileInfo::exists(lost));
    EXPECT_EQ(serverContent(docs, "b.txt"), "b");

    // Once it is back, it syncs as if nothing had happened, the missed change included.
    ASSERT_TRUE(QDir().rename(area.filePath("Lost-elsewhere"), lost));
    appState->setWatchedFolders({lost, docs});
    syncOk();
    EXPECT_EQ(readFile(lost + "/fresh.txt"), "new on the server");
    EXPECT_EQ(readFile(lost + "/keep.txt"), "server copy must stay");
}
