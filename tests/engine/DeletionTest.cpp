// Deletions in both directions, and what must survive them.
#include "EngineFixture.h"

using testsupport::readFile;
using testsupport::writeFile;

class DeletionTest : public EngineFixture {};

TEST_F(DeletionTest, DocumentsDeletedOnTheServerTakeOnlyTheirUnchangedFilesWithThem)
{
    const QString docs = watch("Docs");
    for (const char *name : {"gone.txt", "Sub/also-gone.txt", "removed-by-hand.txt", "draft.txt", "stays.txt"})
        writeFile(docs + "/" + name, "agreed");
    syncOk();
    for (const auto &[name, document] : documentsOf(docs))
        if (name != "stays.txt")
            running.server.deleteDocument(document.id);
    QFile::remove(docs + "/removed-by-hand.txt");
    writeFile(docs + "/draft.txt", "unsaved work"); // changed since the agreement
    log.clear();
    // The pass tells its deletions once, not once per file.
    QList<QStringList> notices;
    QObject::connect(appState.get(), &AppState::notice,
                     [&](const QString &title, const QString &text, const QString &folder) {
                         notices.append({title, text, folder});
                     });
    syncOk();
    EXPECT_EQ(notices, (QList<QStringList>{
                           {"Moved to the Trash", "2 files deleted on the server were moved to the Trash", docs}}));

    EXPECT_FALSE(QFileInfo::exists(docs + "/gone.txt"));
    EXPECT_FALSE(QFileInfo::exists(docs + "/Sub/also-gone.txt"));
    EXPECT_EQ(readFile(docs + "/stays.txt"), "agreed");
    EXPECT_EQ(log.count("info: Deleted local file: gone.txt"), 1);
    EXPECT_EQ(log.count("info: Deleted local file: also-gone.txt"), 1);
    EXPECT_EQ(log.linesWith("removed-by-hand").size(), 0);
    EXPECT_EQ(requestCount("DELETE", "/api/v1/documents/"), 0);
    // The changed file stays and goes up as a new document.
    EXPECT_EQ(readFile(docs + "/draft.txt"), "unsaved work");
    EXPECT_TRUE(log.has("info: Kept local file changed since its document was deleted: draft.txt"));
    EXPECT_EQ(serverContent(docs, "draft.txt"), "unsaved work");
    EXPECT_EQ(engine->syncState().trackedFiles.keys(), (QStringList{docs + "/draft.txt", docs + "/stays.txt"}));
}

TEST_F(DeletionTest, RemovedLocalFilesDeleteTheirDocumentsBeforeAnyTransfer)
{
    const QString docs = watch("Docs");
    writeFile(docs + "/old.txt", "x");
    writeFile(docs + "/Sub/old2.txt", "y");
    syncOk();
    QFile::remove(docs + "/old.txt");
    QDir(docs + "/Sub").removeRecursively();
    writeFile(docs + "/new.txt", "z");
    running.server.clearRequests();
    log.clear();
    syncOk();

    const auto documents = documentsOf(docs);
    EXPECT_EQ(documents.size(), 1u);
    EXPECT_TRUE(documents.count("new.txt"));
    EXPECT_EQ(engine->syncState().trackedFiles.size(), 1);
    EXPECT_TRUE(log.has("info: Deleted remote document for removed local file old.txt"));
    EXPECT_TRUE(log.has("info: Deleted remote document for removed local file Sub/old2.txt"));

    EXPECT_LT(requestIndex("DELETE", "/api/v1/documents/", true), requestIndex("POST", "/api/v1/documents", false));
}

TEST_F(DeletionTest, FoldersWithACommonPrefixKeepTheirFilesApart)
{
    const QString docs = watch("home/Docs");
    const QString docs2 = watch("home/Docs2");
    writeFile(docs + "/a.txt", "a");
    writeFile(docs2 + "/b.txt", "b");
    syncOk();
    ASSERT_NE(serverFolderOf(docs), serverFolderOf(docs2));
    QFile::remove(docs + "/a.txt");
    running.server.clearRequests();
    syncOk();

    EXPECT_EQ(requestCount("DELETE", "/api/v1/documents/"), 1);
    EXPECT_TRUE(documentsOf(docs).empty());
    EXPECT_EQ(serverContent(docs2, "b.txt"), "b");
    EXPECT_TRUE(engine->syncState().trackedFiles.contains(docs2 + "/b.txt"));
}

TEST_F(DeletionTest, AMissingFolderChangesNothingWhileTheOthersStillSync)
{
    const QString lost = watch("Lost");
    const QString docs = watch("Docs");
    writeFile(lost + "/keep.txt", "server copy must stay");
    writeFile(docs + "/a.txt", "a");
    syncOk();
    ASSERT_EQ(documentsOf(lost).size(), 1u);

    // The folder goes away (an unmounted disk, a rename); the server meanwhile changes.
    ASSERT_TRUE(QDir().rename(lost, area.filePath("Lost-elsewhere")));
    putDocument(lost, "fresh.txt", "new on the server");
    writeFile(docs + "/b.txt", "b");
    appState->setWatchedFolders(appState->watchedFolders() << area.filePath("Never"));
    const auto serverFolders = running.server.folders(email).size();
    running.server.clearRequests();
    log.clear();
    sync();
    EXPECT_EQ(running.server.folders(email).size(), serverFolders);

    EXPECT_EQ(appState->syncStatus(), SyncStatus::error("Cannot read folder " + lost));
    EXPECT_TRUE(log.has("critical: Sync failed: Cannot read folder " + lost));
    EXPECT_EQ(requestCount("DELETE", "/api/v1/documents/"), 0);
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

TEST_F(DeletionTest, ServerNamesThatAreNotOnePlainComponentAreNeverUsedAsDestinations)
{
    const QString docs = watch("home/Docs");
    syncOk();
    writeFile(area.filePath("home/x"), "neighbour");
    const QStringList before = QDir(area.filePath("home")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    const bool etcHadX = QFileInfo::exists("/etc/x");
    for (const char *name : {"../x", "a/b", "/etc/x", "..", "."})
        putDocument(docs, name, "hostile");
    putDocument(docs, std::string("nul\0name", 8), "hostile");
    putDocument(docs, "fine.txt", "fine");
    log.clear();
    syncOk();

    EXPECT_EQ(readFile(area.filePath("home/x")), "neighbour");
    EXPECT_EQ(QDir(area.filePath("home")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
    EXPECT_EQ(QFileInfo::exists("/etc/x"), etcHadX);
    EXPECT_FALSE(QFileInfo::exists(docs + "/a"));
    EXPECT_EQ(QDir(docs).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList{"fine.txt"});
    for (const char *shown : {"../x", "a/b", "/etc/x", "..", ".", "nul\\0name"})
        EXPECT_TRUE(log.has(QString("critical: Skipped server document with an unusable name: \"%1\"").arg(shown)))
            << shown;
    EXPECT_EQ(engine->syncState().trackedFiles.size(), 1);
}

TEST_F(DeletionTest, AServerDeletionLeavesFilesOfFoldersNoLongerWatchedAlone)
{
    // Both folders map to the server folder "Docs" and both track report.txt.
    const QString work = watch("work/Docs");
    const QString home = watch("home/Docs");
    writeFile(work + "/report.txt", "shared");
    syncOk();
    ASSERT_EQ(readFile(home + "/report.txt"), "shared");
    appState->setWatchedFolders({work});
    running.server.deleteDocument(documentsOf(work).at("report.txt").id);
    syncOk();

    EXPECT_FALSE(QFileInfo::exists(work + "/report.txt"));
    EXPECT_EQ(readFile(home + "/report.txt"), "shared") << "a folder no longer watched is not touched";
}
