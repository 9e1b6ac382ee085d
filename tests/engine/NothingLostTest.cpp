// What users do with real folders, two computers on one account and
// restarts: no file they made is ever destroyed.
#include "EngineFixture.h"

#include <QDirIterator>

using testsupport::fault;
using testsupport::readFile;
using testsupport::writeFile;

class NothingLostTest : public EngineFixture {
protected:
    // Its folder has the same name, so it syncs with the same server folder.
    std::unique_ptr<OtherComputer> otherComputer(const QString &relative = "Other/Docs")
    {
        return std::make_unique<OtherComputer>(home, running.baseURL, *client->token(), area.filePath(relative), "other");
    }
};

TEST_F(NothingLostTest, SameNamedFilesInSubfoldersNeverShareADocument)
{
    const QString docs = watch("Docs");
    writeFile(docs + "/a/x.txt", "first");
    writeFile(docs + "/b/x.txt", "second");
    syncOk();
    ASSERT_EQ(documentsOf(docs).size(), 1u);
    EXPECT_EQ(serverContent(docs, "x.txt"), "first");
    ASSERT_EQ(appState->notSyncedFiles().size(), 1);
    EXPECT_EQ(appState->notSyncedFiles().front().path, docs + "/b/x.txt");
    EXPECT_TRUE(log.linesWith("warning: Not synced: " + docs + "/b/x.txt").size() == 1);

    // Removing the synced one deletes its document, never the other file;
    // the other one syncs once the name is free.
    QFile::remove(docs + "/a/x.txt");
    syncOk();
    syncOk();
    EXPECT_EQ(readFile(docs + "/b/x.txt"), "second");
    EXPECT_EQ(serverContent(docs, "x.txt"), "second");
    EXPECT_TRUE(appState->notSyncedFiles().isEmpty());
}

TEST_F(NothingLostTest, AReplacedOrUnmountedFolderChangesNothingAnywhere)
{
    const QString docs = watch("Docs");
    writeFile(docs + "/keep.txt", "precious");
    appState->saveBookmarks(); // records the folder's identity, as choosing it does
    appState->loadBookmarks();
    syncOk();
    ASSERT_TRUE(QDir().rename(docs, area.filePath("Docs-old")));
    QDir().mkpath(docs); // an empty mount point at the same path

    running.server.clearRequests();
    sync();
    EXPECT_EQ(appState->syncStatus().kind, SyncStatus::Kind::error);
    EXPECT_TRUE(appState->syncStatus().message.contains(docs));
    EXPECT_EQ(appState->foldersNeedingChoice(), QStringList{docs});
    EXPECT_EQ(serverContent(docs, "keep.txt"), "precious");
    EXPECT_EQ(requestCount("DELETE", "/api/v1/documents/"), 0);
    EXPECT_EQ(requestCount("POST", "/api/v1/documents"), 0);
}

TEST_F(NothingLostTest, ASaveDuringADownloadKeepsTheUsersFile)
{
    const QString docs = watch("Docs");
    syncOk();
    putDocument(docs, "report.txt", "server version");
    running.server.injectFault(fault({.method = "GET", .path = "/files/*", .delayMs = 600}));
    QCoro::Task<void> pass = engine->performSync();
    ASSERT_TRUE(testsupport::waitUntil([&] { return requestCount("GET", "/files/") > 0; }, "the download to start"));
    writeFile(docs + "/report.txt", "saved by the user");
    testsupport::run(std::move(pass));

    EXPECT_EQ(readFile(docs + "/report.txt"), "saved by the user");
    const QStringList copies = conflictCopies(docs);
    ASSERT_EQ(copies.size(), 1);
    EXPECT_EQ(readFile(docs + "/" + copies.front()), "server version");
}

TEST_F(NothingLostTest, AConflictWonByTheServerKeepsTheLocalVersionBesideIt)
{
    const QString docs = watch("Docs");
    writeFile(docs + "/plan.txt", "agreed");
    syncOk();
    writeFile(docs + "/plan.txt", "local edit");
    setModified(docs + "/plan.txt", utc("2026-01-01T10:00:00Z"));
    putDocument(docs, "plan.txt", "server edit", "2026-01-01T10:00:00Z");
    syncOk();

    EXPECT_EQ(readFile(docs + "/plan.txt"), "server edit");
    const QStringList copies = conflictCopies(docs);
    ASSERT_EQ(copies.size(), 1);
    EXPECT_TRUE(copies.front().startsWith("plan (conflicted copy ")) << copies.front().toStdString();
    EXPECT_EQ(readFile(docs + "/" + copies.front()), "local edit");
    EXPECT_EQ(log.linesWith("warning: Conflict on plan.txt").size(), 1);
    // The kept version then syncs up like any new file.
    syncOk();
    EXPECT_EQ(serverContent(docs, copies.front().toStdString()), "local edit");
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
    running.server.clearRequests();
    syncOk();
    syncOk();
    // The file keeps its document: nothing is deleted or sent.
    EXPECT_EQ(requestCount("DELETE", "/api/v1/documents/"), 0);
    EXPECT_EQ(transferRequests(), 0);
    other->syncOk();
    other->syncOk();
    EXPECT_EQ(readFile(otherDocs + "/x.txt"), "content");
    EXPECT_EQ(documentsOf(docs).size(), 1u);
    EXPECT_EQ(other->engine->syncState().trackedFiles.value(otherDocs + "/x.txt").remoteId,
              documentsOf(docs).at("x.txt").id);
}

TEST_F(NothingLostTest, AServerDeletionNeverReachesThroughALinkOrLosesTheFile)
{
    const QString docs = watch("Docs");
    writeFile(docs + "/Sub/x.txt", "inside");
    writeFile(docs + "/y.txt", "agreed");
    syncOk();
    // The subfolder is replaced by a link to a folder elsewhere holding a
    // file of the same name.
    writeFile(area.filePath("Elsewhere/x.txt"), "outside");
    QDir(docs + "/Sub").removeRecursively();
    testsupport::makeLink(area.filePath("Elsewhere"), docs + "/Sub");
    for (const auto &[name, document] : documentsOf(docs))
        running.server.deleteDocument(document.id);
    syncOk();

    EXPECT_EQ(readFile(area.filePath("Elsewhere/x.txt")), "outside");
    EXPECT_FALSE(engine->syncState().trackedFiles.contains(docs + "/Sub/x.txt"));
    // A file removed because of the server can be restored from the Trash.
    EXPECT_FALSE(QFileInfo::exists(docs + "/y.txt"));
    EXPECT_EQ(trashedNames(home), QStringList{"y.txt"});
}

TEST_F(NothingLostTest, ALostStateIsLearnedAgainWithoutSendingAnything)
{
    const QString docs = watch("Docs");
    for (int i = 0; i < 5; ++i)
        writeFile(docs + QString("/f%1.txt").arg(i), QByteArray::number(i));
    syncOk();
    putDocument(docs, "theirs.txt", "server copy");
    writeFile(docs + "/theirs.txt", "my own different file");

    engine.reset();
    QFile::remove(home.stateFilePath());
    engine = makeEngine();
    running.server.clearRequests();
    for (int pass = 0; pass < 3; ++pass)
        syncOk();
    EXPECT_EQ(transferRequests(), 0);
    EXPECT_EQ(engine->syncState().trackedFiles.size(), 5);
    EXPECT_EQ(serverContent(docs, "theirs.txt"), "server copy");
    EXPECT_EQ(readFile(docs + "/theirs.txt"), "my own different file");
}

TEST_F(NothingLostTest, OnePassAtATimeOverOneStateFileAcrossSignOutAndSignIn)
{
    const QString docs = watch("Docs");
    for (int i = 0; i < 4; ++i)
        writeFile(docs + QString("/f%1.txt").arg(i), "x");
    running.server.injectFault(fault({.method = "POST", .path = "/api/v1/documents", .delayMs = 300}));
    QCoro::Task<void> first = engine->performSync();
    ASSERT_TRUE(testsupport::waitUntil([&] { return requestCount("POST", "/api/v1/documents") > 0; },
                                       "the first upload"));
    // Sign-out stops the old engine; sign-in makes a new one over the same file.
    engine->stop();
    auto second = makeEngine();
    second->start();
    ASSERT_TRUE(testsupport::waitUntil([&] { return !engine->isSyncing(); }, "the old pass to end"));
    EXPECT_LT(requestCount("POST", "/api/v1/documents"), 4);
    testsupport::run(std::move(first));
    // The old pass started nothing after the stop; the new engine's pass ran
    // once the old one ended, with what the old one recorded.
    ASSERT_TRUE(testsupport::waitUntil([&] { return second->syncState().trackedFiles.size() == 4; },
                                       "the new engine to track all four files", 15000));
    EXPECT_EQ(documentsOf(docs).size(), 4u);
}

TEST_F(NothingLostTest, AnEditOnOneComputerBeatsADeletionOnTheOther)
{
    const QString docs = watch("Docs");
    writeFile(docs + "/notes.txt", "v1");
    syncOk();
    auto other = otherComputer();
    other->syncOk();
    const QString otherDocs = area.filePath("Other/Docs");
    writeFile(otherDocs + "/notes.txt", "v2 from the other computer");
    other->syncOk();

    QFile::remove(docs + "/notes.txt");
    syncOk();
    EXPECT_EQ(requestCount("DELETE", "/api/v1/documents/"), 0);
    EXPECT_EQ(readFile(docs + "/notes.txt"), "v2 from the other computer");
    other->syncOk();
    EXPECT_EQ(readFile(otherDocs + "/notes.txt"), "v2 from the other computer");
}

TEST_F(NothingLostTest, FoldersSharingAServerFolderNeverOverwriteEachOther)
{
    const QString first = watch("A/Docs");
    const QString second = watch("B/Docs");
    writeFile(first + "/x.txt", "from A");
    writeFile(second + "/x.txt", "from B");
    syncOk();
    syncOk();
    ASSERT_EQ(serverFolderOf(first), serverFolderOf(second));
    EXPECT_EQ(serverContent(first, "x.txt"), "from A");
    EXPECT_EQ(appState->notSyncedFiles().size(), 1);

    QFile::remove(first + "/x.txt");
    syncOk();
    syncOk();
    EXPECT_EQ(readFile(second + "/x.txt"), "from B");
}

TEST_F(NothingLostTest, RemovingMostFilesAsksBeforeDeletingThemOnTheServer)
{
    const QString docs = watch("Docs");
    for (int i = 0; i < 12; ++i)
        writeFile(docs + QString("/f%1.txt").arg(i), "x");
    syncOk();
    for (int i = 0; i < 10; ++i)
        QFile::remove(docs + QString("/f%1.txt").arg(i));
    writeFile(docs + "/new.txt", "still syncs");
    QStringList notices;
    QObject::connect(appState.get(), &AppState::notice, [&](const QString &, const QString &text) { notices << text; });
    syncOk();
    EXPECT_EQ(documentsOf(docs).size(), 13u);
    ASSERT_EQ(appState->removalQuestions().size(), 1);
    EXPECT_EQ(notices, QStringList{QString("10 files were removed from %1. Remove them from the server too?").arg(docs)});

    engine->answerRemovalQuestion(docs, /*remove=*/false);
    ASSERT_TRUE(testsupport::waitUntil([&] { return QFileInfo::exists(docs + "/f0.txt") && !engine->isSyncing(); },
                                       "the removed files to come back"));
    EXPECT_TRUE(appState->removalQuestions().isEmpty());
    EXPECT_EQ(QDir(docs).entryList(QDir::Files).size(), 13);

    for (int i = 0; i < 10; ++i)
        QFile::remove(docs + QString("/f%1.txt").arg(i));
    syncOk();
    engine->answerRemovalQuestion(docs, /*remove=*/true);
    ASSERT_TRUE(testsupport::waitUntil([&] { return documentsOf(docs).size() == 3u && !engine->isSyncing(); },
                                       "the removals to reach the server"));
}
