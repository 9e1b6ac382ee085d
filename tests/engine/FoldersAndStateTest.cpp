// Several watched folders, the since time of each, and what the state file
// carries across a restart.
#include "EngineFixture.h"

using testsupport::fault;
using testsupport::readFile;
using testsupport::waitUntil;
using testsupport::writeFile;

class FoldersAndStateTest : public EngineFixture {};

TEST_F(FoldersAndStateTest, AStateThatSurvivesARestartAgreesAndTheNextPassTransfersNothing)
{
    const QString docs = watch("Docs");
    for (int i = 0; i < 20; ++i)
        writeFile(docs + QString("/Level%1/file%2.txt").arg(i % 4).arg(i), QByteArray::number(i));
    syncOk();
    const SyncState first = engine->syncState();
    ASSERT_EQ(first.trackedFiles.size(), 20);
    ASSERT_TRUE(first.lastSyncTime.has_value());
    EXPECT_EQ(first.folderSyncTimes.value(docs), *first.lastSyncTime);

    engine = makeEngine(); // a new run of the application
    EXPECT_EQ(engine->syncState(), first);
    EXPECT_EQ(transfersOfPass(), 0);
    EXPECT_EQ(deletions(), 0);
    // The remembered server folders are checked once per start.
    EXPECT_EQ(requestCount("GET", "/api/v1/folders"), 1);
    EXPECT_EQ(agreements(engine->syncState()), agreements(first));
    running.server.clearRequests();
    syncOk();
    EXPECT_EQ(requestCount("GET", "/api/v1/folders"), 0);
}

TEST_F(FoldersAndStateTest, EachFolderAsksForChangesSinceItsOwnLastPass)
{
    const QString first = watch("First");
    const QString second = watch("Second");
    syncOk();

    // A change lands in the first folder's server folder after its status
    // answer, while the pass is still busy with that folder's upload.
    writeFile(first + "/slow.txt", "slow");
    running.server.injectFault(fault({.method = "POST", .path = "/api/v1/documents", .delayMs = 300}));
    auto pass = engine->performSync();
    ASSERT_TRUE(waitUntil([&] { return running.server.peakInFlight("POST", "/api/v1/documents") == 1; },
                          "the upload in flight"));
    putDocument(first, "late.txt", "arrived mid-pass");
    ASSERT_TRUE(waitUntil([&] { return !engine->isSyncing(); }, "the pass to end"));
    const SyncState state = engine->syncState();
    EXPECT_NE(state.folderSyncTimes.value(first), state.folderSyncTimes.value(second));
    EXPECT_EQ(state.lastSyncTime,
              std::max(state.folderSyncTimes.value(first), state.folderSyncTimes.value(second)));

    syncOk();
    EXPECT_EQ(readFile(first + "/late.txt"), "arrived mid-pass");

    // A folder added later gets everything its server folder already held.
    const int64_t existing = running.server.createFolder(email, "Third", *engine->syncState().serverFolderId);
    running.server.putDocument(email, existing, "old.txt", "held before");
    syncOk();
    const QString third = watch("Third");
    syncOk();
    EXPECT_EQ(readFile(third + "/old.txt"), "held before");

    // A folder watched again at a new path (the same server folder, known
    // already) asks with no other folder's since time: what arrived while
    // it was not watched comes down.
    putDocument(first, "meanwhile.txt", "added meanwhile");
    appState->setWatchedFolders({second});
    syncOk(); // the latest since time moves past that document
    const QString moved = watch("moved/First");
    syncOk();
    EXPECT_EQ(readFile(moved + "/meanwhile.txt"), "added meanwhile");
}

TEST_F(FoldersAndStateTest, NotSignedInOrNothingWatchedIsNoPassAtAll)
{
    int statusChanges = 0;
    QObject::connect(appState.get(), &AppState::syncStatusChanged, [&] { ++statusChanges; });
    sync(); // nothing watched
    writeFile(watch("Docs") + "/a.txt", "a");
    appState->setIsLoggedIn(false);
    sync();
    EXPECT_EQ(statusChanges, 0);
    EXPECT_TRUE(running.server.requests().empty());
    EXPECT_TRUE(log.lines().isEmpty());
}

TEST_F(FoldersAndStateTest, AFailedStatusRequestFailsThePassAndLaterFoldersWait)
{
    const QString first = watch("First");
    const QString second = watch("Second");
    syncOk();
    const auto before = engine->syncState();
    writeFile(second + "/waits.txt", "w");
    running.server.injectFault(fault({.method = "GET", .path = "/api/v1/sync/status",
                                      .error = "Storage unavailable", .count = 1}));
    log.clear();
    sync();

    EXPECT_EQ(appState->syncStatus(), SyncStatus::error("Storage unavailable"));
    EXPECT_TRUE(log.has("critical: Sync failed: Storage unavailable"));
    EXPECT_FALSE(log.has("info: Sync completed"));
    EXPECT_TRUE(documentsOf(second).empty());
    EXPECT_EQ(engine->syncState().lastSyncTime, before.lastSyncTime);
    EXPECT_FALSE(engine->isSyncing());

    syncOk(); // the next pass replaces the error
    EXPECT_EQ(serverContent(second, "waits.txt"), "w");
}

TEST_F(FoldersAndStateTest, AStateFromBeforeTheFactsWereKeptIsUpgradedWithoutTransfers)
{
    const QString docs = watch("Docs");
    for (const QString &name : numbered(3))
        writeFile(docs + "/" + name, name.toUtf8());
    syncOk();

    // The file as an earlier version wrote it: no facts, no server folder.
    SyncState old = engine->syncState();
    old.serverDocuments.clear();
    for (TrackedFile &entry : old.trackedFiles)
        entry.size = entry.inode = entry.modifiedNs = entry.changedNs = std::nullopt;
    engine.reset();
    old.save(home.stateFilePath());
    ASSERT_FALSE(testsupport::readFile(home.stateFilePath()).contains("serverDocuments"));
    engine = makeEngine();

    EXPECT_EQ(transfersOfPass(), 0);
    // The whole server folder was asked for once, and both additions are kept.
    EXPECT_EQ(running.server.requests().front().target.find("since="), std::string::npos);
    EXPECT_EQ(engine->syncState().serverDocuments.value(serverFolderOf(docs)).size(), 3);
    for (const TrackedFile &entry : engine->syncState().trackedFiles)
        EXPECT_TRUE(entry.size && entry.inode && entry.modifiedNs && entry.changedNs);
    EXPECT_EQ(SyncState::load(home.stateFilePath()), engine->syncState());
}
