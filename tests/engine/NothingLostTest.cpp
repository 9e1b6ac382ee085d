// What users do with real folders, two computers on one account and
// restarts: no file they made is ever destroyed.
#include "EngineFixture.h"

using testsupport::fault;
using testsupport::readFile;
using testsupport::writeFile;

class NothingLostTest : public EngineFixture {};

// The server folder is flat: one name, one document. Files of one name in
// two subfolders, or in two watched folders of one name (which share one
// server folder), never share a document; the others wait for the name.
TEST_F(NothingLostTest, SameNamedFilesNeverShareADocument)
{
    const QString work = watch("work/Docs");
    const QString second = watch("home/Docs");
    writeFile(work + "/a/x.txt", "first");
    writeFile(work + "/b/x.txt", "second");
    writeFile(second + "/x.txt", "from B");
    writeFile(work + "/report.txt", "shared");
    syncOk();
    ASSERT_EQ(serverFolderOf(work), serverFolderOf(second));
    EXPECT_EQ(running.server.folders(email).size(), 2u);
    EXPECT_EQ(serverContent(work, "x.txt"), "first");
    QStringList waiting = notSyncedPaths();
    waiting.sort();
    EXPECT_EQ(waiting, (QStringList{second + "/x.txt", work + "/b/x.txt"}));
    EXPECT_EQ(log.linesWith("warning: Not synced: " + work + "/b/x.txt").size(), 1);
    // The second folder's pass took the first one's new document for a new
    // server document.
    EXPECT_EQ(readFile(second + "/report.txt"), "shared");
    EXPECT_TRUE(engine->syncState().trackedFiles.contains(second + "/report.txt"));
    EXPECT_EQ(transfersOfPass(), 0);

    // Removing the synced one deletes its document, never another file; one
    // of the others syncs once the name is free.
    QFile::remove(work + "/a/x.txt");
    syncOk();
    syncOk();
    EXPECT_EQ(readFile(work + "/b/x.txt"), "second");
    EXPECT_EQ(readFile(second + "/x.txt"), "from B");
    EXPECT_TRUE(QStringList({"second", "from B"}).contains(QString::fromStdString(serverContent(work, "x.txt"))));
    EXPECT_EQ(appState->notSyncedFiles().size(), 1);

    // A server deletion leaves the files of a folder no longer watched alone.
    appState->setWatchedFolders({work});
    running.server.deleteDocument(documentsOf(work).at("report.txt").id);
    syncOk();
    EXPECT_FALSE(QFileInfo::exists(work + "/report.txt"));
    EXPECT_EQ(readFile(second + "/report.txt"), "shared");
}

TEST_F(NothingLostTest, AMoveIntoASubfolderOnOneComputerKeepsTheFileOnTheOther)
{
    const QString docs = watch("Docs");
    writeFile(docs + "/x.txt", "content");
    syncOk();
    auto other = otherComputer();
    other->syncOk();
    const QString otherDocs = area.filePath("Other/Docs");
    ASSERT_EQ(readFile(otherDocs + "/x.txt"), "content");

    ASSERT_TRUE(QDir().mkpath(docs + "/Sub"));
    ASSERT_TRUE(QFile::rename(docs + "/x.txt", docs + "/Sub/x.txt"));
    // The file keeps its document: nothing is deleted or sent.
    running.server.clearRequests();
    syncOk();
    syncOk();
    EXPECT_EQ(transferRequests() + deletions(), 0);
    other->syncOk();
    other->syncOk();
    EXPECT_EQ(readFile(otherDocs + "/x.txt"), "content");
    EXPECT_EQ(documentsOf(docs).size(), 1u);
    EXPECT_EQ(other->state().trackedFiles.value(otherDocs + "/x.txt").remoteId, documentsOf(docs).at("x.txt").id);
}

// A file removed here while another computer saved a newer version comes
// back, into its subfolder, made again; nothing is deleted.
TEST_F(NothingLostTest, AnEditOnOneComputerBeatsADeletionOnTheOther)
{
    const QString docs = watch("Docs");
    writeFile(docs + "/Sub/Deeper/notes.txt", "v1");
    syncOk();
    auto other = otherComputer();
    other->syncOk();
    const QString otherDocs = area.filePath("Other/Docs");
    writeFile(otherDocs + "/notes.txt", "v2 from the other computer");
    other->syncOk();

    QDir(docs + "/Sub").removeRecursively();
    syncOk();
    EXPECT_EQ(deletions(), 0);
    EXPECT_EQ(readFile(docs + "/Sub/Deeper/notes.txt"), "v2 from the other computer");
    EXPECT_TRUE(appState->notSyncedFiles().isEmpty());
    other->syncOk();
    EXPECT_EQ(readFile(otherDocs + "/notes.txt"), "v2 from the other computer");
}

// Records lost in a crash, or the whole state file, are learned again by
// content: nothing is sent again and no copy is made.
TEST_F(NothingLostTest, LostRecordsAreLearnedAgainWithoutSendingAnything)
{
    const QString docs = watch("Docs");
    writeFiles(docs, numbered(4), "first");
    syncOk();
    engine.reset();
    const QByteArray before = readFile(home.stateFilePath());
    engine = makeEngine();
    writeFiles(docs, numbered(4), "second");
    syncOk();
    // The uploads happened, but their records never reached the disk.
    engine.reset();
    writeFile(home.stateFilePath(), before);
    engine = makeEngine();
    EXPECT_EQ(transfersOfPass() + transfersOfPass(), 0);
    EXPECT_TRUE(conflictCopies(docs).isEmpty());
    EXPECT_EQ(documentsOf(docs).size(), 4u);
    const TrackedFile entry = engine->syncState().trackedFiles.value(docs + "/f0.txt");
    EXPECT_EQ(entry.remoteHash, entry.localHash);

    // No state at all; a file of a document's name with other content is
    // neither sent nor replaced.
    putDocument(docs, "theirs.txt", "server copy");
    writeFile(docs + "/theirs.txt", "my own different file");
    engine.reset();
    QFile::remove(home.stateFilePath());
    engine = makeEngine();
    EXPECT_EQ(transfersOfPass() + transfersOfPass() + transfersOfPass(), 0);
    EXPECT_EQ(engine->syncState().trackedFiles.size(), 4);
    EXPECT_EQ(serverContent(docs, "theirs.txt"), "server copy");
    EXPECT_EQ(readFile(docs + "/theirs.txt"), "my own different file");
}

TEST_F(NothingLostTest, OnePassAtATimeOverOneStateFileAcrossSignOutAndSignIn)
{
    const QString docs = watch("Docs");
    writeFiles(docs, numbered(4), "x");
    running.server.injectFault(fault({.method = "POST", .path = "/api/v1/documents", .delayMs = 300}));
    QCoro::Task<void> first = passUntil("POST", "/api/v1/documents");
    // Sign-out stops the old engine; sign-in makes a new one over the same file.
    engine->stop();
    auto second = makeEngine();
    second->start();
    ASSERT_TRUE(testsupport::waitUntil([&] { return !engine->isSyncing(); }, "the old pass to end"));
    EXPECT_LT(uploads(), 4);
    testsupport::run(std::move(first));
    // The old pass started nothing after the stop; the new engine's pass ran
    // once the old one ended, with what the old one recorded.
    ASSERT_TRUE(testsupport::waitUntil([&] { return second->syncState().trackedFiles.size() == 4; },
                                       "the new engine to track all four files", 15000));
    EXPECT_EQ(documentsOf(docs).size(), 4u);
}

TEST_F(NothingLostTest, RemovingMostFilesAsksBeforeDeletingThemOnTheServer)
{
    const QString docs = watch("Docs");
    const QStringList removed = numbered(10);
    writeFiles(docs, numbered(12), "x");
    syncOk();
    for (const QString &name : removed)
        QFile::remove(docs + "/" + name);
    writeFile(docs + "/new.txt", "still syncs");
    syncOk();
    EXPECT_EQ(documentsOf(docs).size(), 13u);
    ASSERT_EQ(appState->removalQuestions().size(), 1);
    ASSERT_EQ(notices.size(), 1);
    EXPECT_EQ(notices[0][1], QString("10 files were removed from %1. Remove them from the server too?").arg(docs));

    engine->answerRemovalQuestion(docs, /*remove=*/false);
    ASSERT_TRUE(testsupport::waitUntil([&] { return QFileInfo::exists(docs + "/f0.txt") && !engine->isSyncing(); },
                                       "the removed files to come back"));
    EXPECT_TRUE(appState->removalQuestions().isEmpty());
    EXPECT_EQ(QDir(docs).entryList(QDir::Files).size(), 13);

    for (const QString &name : removed)
        QFile::remove(docs + "/" + name);
    syncOk();
    engine->answerRemovalQuestion(docs, /*remove=*/true);
    ASSERT_TRUE(testsupport::waitUntil([&] { return documentsOf(docs).size() == 3u && !engine->isSyncing(); },
                                       "the removals to reach the server"));
}
