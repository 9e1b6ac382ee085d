// Changes made on the server reach this computer, and changes on both sides
// keep both versions, whichever wins.
#include "EngineFixture.h"

#include <QSysInfo>

using testsupport::fault;
using testsupport::readFile;
using testsupport::writeFile;

class BothSidesTest : public EngineFixture {};

TEST_F(BothSidesTest, AServerEditReplacesAnUnchangedCopyKeepingItsMode)
{
    const QString docs = watch("Docs");
    writeFile(docs + "/sent.txt", "sent from here");
    QFile::setPermissions(docs + "/sent.txt", QFile::ReadOwner | QFile::WriteOwner);
    syncOk();
    putDocument(docs, "received.txt", "received");
    syncOk();
    QFile::setPermissions(docs + "/received.txt", QFile::ReadOwner | QFile::WriteOwner);
    putDocument(docs, "sent.txt", "edited on the web");
    putDocument(docs, "received.txt", "edited on the web too");
    syncOk();

    EXPECT_EQ(readFile(docs + "/sent.txt"), "edited on the web");
    EXPECT_EQ(readFile(docs + "/received.txt"), "edited on the web too");
    for (const char *name : {"/sent.txt", "/received.txt"})
        EXPECT_EQ(testsupport::modeOf(docs + name), 0600u) << name;
    EXPECT_TRUE(conflictCopies(docs).isEmpty());
    // The version that came from the server needs no copy; the one sent from
    // here may never have been seen elsewhere, and the Trash keeps it.
    EXPECT_EQ(trashedNames(home), QStringList{"sent.txt"});
    // And the next local edit goes up over the new version, not a stale one.
    writeFile(docs + "/received.txt", "edited here next");
    syncOk();
    EXPECT_EQ(serverContent(docs, "received.txt"), "edited here next");
}

TEST_F(BothSidesTest, AConflictWonHereKeepsTheServersVersionBesideIt)
{
    const QString docs = watch("Docs");
    writeFile(docs + "/plan.txt", "agreed");
    syncOk();
    putDocument(docs, "plan.txt", "server edit", "2026-01-01T10:00:00Z");
    writeFile(docs + "/plan.txt", "later local edit");
    QStringList notices;
    QObject::connect(appState.get(), &AppState::notice, [&](const QString &, const QString &text) { notices << text; });
    syncOk();

    EXPECT_EQ(serverContent(docs, "plan.txt"), "later local edit");
    const QStringList copies = conflictCopies(docs);
    ASSERT_EQ(copies.size(), 1);
    EXPECT_EQ(readFile(docs + "/" + copies.front()), "server edit");
    EXPECT_EQ(log.linesWith("warning: Conflict on plan.txt: the local version is newer").size(), 1);
    ASSERT_EQ(notices.size(), 1);
    EXPECT_TRUE(notices.front().contains(QSysInfo::machineHostName())) << notices.front().toStdString();
    syncOk();
    EXPECT_EQ(serverContent(docs, copies.front().toStdString()), "server edit");
}

TEST_F(BothSidesTest, RecordsLostInACrashAreLearnedAgainByContent)
{
    const QString docs = watch("Docs");
    for (int i = 0; i < 4; ++i)
        writeFile(docs + QString("/f%1.txt").arg(i), "first");
    syncOk();
    engine.reset();
    const QByteArray before = readFile(home.stateFilePath());
    engine = makeEngine();
    for (int i = 0; i < 4; ++i)
        writeFile(docs + QString("/f%1.txt").arg(i), "second");
    syncOk();
    // The uploads happened, but their records never reached the disk.
    engine.reset();
    writeFile(home.stateFilePath(), before);
    engine = makeEngine();
    running.server.clearRequests();
    syncOk();
    syncOk();

    EXPECT_EQ(transferRequests(), 0);
    EXPECT_TRUE(conflictCopies(docs).isEmpty());
    EXPECT_EQ(documentsOf(docs).size(), 4u);
    EXPECT_EQ(engine->syncState().trackedFiles.value(docs + "/f0.txt").remoteHash,
              engine->syncState().trackedFiles.value(docs + "/f0.txt").localHash);
}

TEST_F(BothSidesTest, AnEditBeatsTheRemovalOfItsSubfolder)
{
    const QString docs = watch("Docs");
    writeFile(docs + "/Sub/Deeper/x.txt", "agreed");
    syncOk();
    QDir(docs + "/Sub").removeRecursively();
    putDocument(docs, "x.txt", "edited elsewhere");
    syncOk();

    EXPECT_EQ(readFile(docs + "/Sub/Deeper/x.txt"), "edited elsewhere");
    EXPECT_TRUE(appState->notSyncedFiles().isEmpty());
}

TEST_F(BothSidesTest, AFailingDownloadIsNotSyncedAndTheStatusSaysSo)
{
    const QString docs = watch("Docs");
    syncOk();
    putDocument(docs, "new.txt", "from the server");
    running.server.injectFault(fault({.method = "GET", .path = "/api/v1/documents/*", .error = "Broken"}));
    syncOk();

    ASSERT_EQ(appState->notSyncedFiles().size(), 1);
    EXPECT_EQ(appState->notSyncedFiles().front().path, docs + "/new.txt");
    EXPECT_TRUE(appState->notSyncedFiles().front().reason.startsWith("Download failed: "));

    running.server.clearFaults();
    syncOk();
    EXPECT_EQ(readFile(docs + "/new.txt"), "from the server");
    EXPECT_TRUE(appState->notSyncedFiles().isEmpty());
}

TEST_F(BothSidesTest, ADocumentChangedJustBeforeItsDeletionIsKept)
{
    const QString docs = watch("Docs");
    writeFile(docs + "/x.txt", "agreed");
    syncOk();
    QFile::remove(docs + "/x.txt");
    // Another computer saves a new version while the pass's answer, made
    // before the save, is on its way.
    running.server.clearRequests();
    running.server.injectFault(fault({.method = "GET", .path = "/api/v1/sync/status", .delayMs = 300, .count = 1}));
    QCoro::Task<void> pass = engine->performSync();
    ASSERT_TRUE(testsupport::waitUntil([&] { return requestCount("GET", "/api/v1/sync/status") > 0; },
                                       "the pass's status request"));
    putDocument(docs, "x.txt", "saved elsewhere");
    testsupport::run(std::move(pass));
    ASSERT_EQ(appState->syncStatus(), SyncStatus::idle());

    EXPECT_EQ(requestCount("DELETE", "/api/v1/documents/"), 0);
    EXPECT_EQ(serverContent(docs, "x.txt"), "saved elsewhere");
    EXPECT_EQ(readFile(docs + "/x.txt"), "saved elsewhere");
}
