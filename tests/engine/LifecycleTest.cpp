// Start, stop, the end of the engine, and what wakes it: timer, file events,
// the button.
#include "EngineFixture.h"

#include <QThread>

using testsupport::fault;
using testsupport::waitUntil;
using testsupport::writeFile;

class LifecycleTest : public EngineFixture {
protected:
    static constexpr int kDebounce = 200;

    void SetUp() override
    {
        EngineFixture::SetUp();
        docs = watch("Docs");
        prepare();
    }
    void prepare()
    {
        engine->debounceInterval = kDebounce;
        QObject::connect(engine.get(), &SyncEngine::passFinished, [this] { ++passes; });
    }
    testing::AssertionResult waitForPasses(int expected)
    {
        return waitUntil([&] { return passes >= expected; }, std::to_string(expected) + " passes");
    }
    // Long enough for any pending event, quiet period and queued pass to have run.
    static void settle(int ms = 6 * kDebounce + 1200) { testsupport::settle(ms); }

    QString docs;
    int passes = 0;
};

TEST_F(LifecycleTest, StartRunsOnePassAtOnceAndARepeatedStartReplacesWatcherAndTimer)
{
    engine->start();
    ASSERT_TRUE(waitForPasses(1));
    engine->start();
    ASSERT_TRUE(waitForPasses(2));
    EXPECT_EQ(engine->findChildren<FileWatcher *>(Qt::FindDirectChildrenOnly).size(), 1);
    EXPECT_EQ(engine->findChildren<QTimer *>(Qt::FindDirectChildrenOnly).size(), 1);
    EXPECT_EQ(engine->fileWatcher()->streamCount(), 1);
    settle();
    EXPECT_EQ(passes, 2);
}

TEST_F(LifecycleTest, TheTimerIntervalFollowsThePreferenceAndDefaultsToThirtySeconds)
{
    const auto intervalFor = [&](std::optional<double> seconds) {
        seconds ? preferences->setDouble("syncInterval", *seconds) : preferences->remove("syncInterval");
        engine->startTimer();
        return engine->syncTimer()->interval();
    };
    EXPECT_EQ(intervalFor(std::nullopt), 30000);
    EXPECT_EQ(intervalFor(0), 30000);
    EXPECT_EQ(intervalFor(-60), 30000);
    EXPECT_EQ(intervalFor(300), 300000);
    EXPECT_EQ(intervalFor(0.25), 250);
    EXPECT_EQ(engine->findChildren<QTimer *>(Qt::FindDirectChildrenOnly).size(), 1);

    engine->syncIntervalOverrideMs = 150; // the timer runs passes of its own
    engine->start();
    ASSERT_TRUE(waitForPasses(3));
}

// The watcher's bursts (tested with it) wake the engine once, whichever
// folders and subfolders, new ones included, they touch.
TEST_F(LifecycleTest, FileEventsWakeTheEngineOncePerBurstAcrossFolders)
{
    const QString other = watch("Other");
    engine->start();
    ASSERT_TRUE(waitForPasses(1));
    settle(2 * kDebounce);
    for (int i = 0; i < 4; ++i, QThread::msleep(30)) // a save every 30 ms
        writeFile(docs + QString("/burst%1.txt").arg(i), "b");
    writeFile(other + "/b.txt", "b");
    writeFile(docs + "/Fresh/Deeper/new.txt", "in a new subdirectory");
    ASSERT_TRUE(waitForPasses(2));
    settle();
    EXPECT_EQ(passes, 2);
    EXPECT_EQ(documentsOf(docs).size(), 5u);
    EXPECT_EQ(serverContent(other, "b.txt"), "b");
}

TEST_F(LifecycleTest, AfterStopNeitherTimerNorEventsNorAPendingCallStartAPass)
{
    engine->syncIntervalOverrideMs = 100;
    engine->start();
    engine->stop(); // the first pass was still only queued
    writeFile(docs + "/ignored.txt", "x");
    settle();
    EXPECT_EQ(passes, 0);
    EXPECT_EQ(engine->fileWatcher(), nullptr);
    EXPECT_EQ(engine->syncTimer(), nullptr);

    engine->syncIntervalOverrideMs = 0;
    engine->start();
    ASSERT_TRUE(waitForPasses(1));
    writeFile(docs + "/pending.txt", "x"); // its quiet period has not passed yet
    engine->stop();
    settle();
    EXPECT_EQ(passes, 1);
    EXPECT_EQ(documentsOf(docs).count("pending.txt"), 0u);

    testsupport::run(engine->syncNow()); // the button still works
    EXPECT_EQ(documentsOf(docs).count("pending.txt"), 1u);

    // A pass that runs at stop() ends on its own, and starts no change
    // after it (a sign-out may be followed by another account's sign-in).
    writeFile(docs + "/slow.txt", "slow");
    running.server.injectFault(fault({.method = "GET", .path = "/api/v1/sync/status", .delayMs = 300}));
    auto pass = engine->performSync();
    engine->stop();
    ASSERT_TRUE(waitForPasses(3));
    EXPECT_EQ(appState->syncStatus(), SyncStatus::idle());
    EXPECT_EQ(serverContent(docs, "slow.txt"), "<absent>");
}

TEST_F(LifecycleTest, ADroppedEngineIsNeverCalledAgain)
{
    engine->start();
    ASSERT_TRUE(waitForPasses(1));
    writeFile(docs + "/a.txt", "a"); // dropped with an event in its quiet period
    engine.reset();
    running.server.clearRequests();
    settle();
    engine = makeEngine();
    engine->start(); // dropped with its first pass queued
    engine.reset();
    settle(300);
    EXPECT_TRUE(running.server.requests().empty());

    // Dropped in the middle of a pass, with transfers in flight and more to come.
    engine = makeEngine();
    for (int i = 0; i < 6; ++i)
        writeFile(docs + QString("/f%1.txt").arg(i), "f");
    running.server.injectFault(fault({.method = "POST", .path = "/api/v1/documents", .delayMs = 300}));
    auto pass = engine->performSync();
    ASSERT_TRUE(waitUntil([&] { return running.server.peakInFlight("POST", "/api/v1/documents") == 3; },
                          "three uploads in flight"));
    engine.reset();
    settle(1000);
    EXPECT_EQ(uploads(), 3);
}

TEST_F(LifecycleTest, TicksEventsAndTheButtonDuringALongPassAreDropped)
{
    engine->syncIntervalOverrideMs = 100;
    writeFile(docs + "/long.txt", "takes a while");
    running.server.injectFault(fault({.method = "POST", .path = "/api/v1/documents", .delayMs = 1500}));
    engine->start();
    ASSERT_TRUE(waitUntil([&] { return running.server.peakInFlight("POST", "/api/v1/documents") == 1; },
                          "the upload in flight"));
    writeFile(docs + "/during.txt", "saved during the pass");
    EXPECT_TRUE(engine->syncNow().isReady());
    settle(800); // ticks every 100 ms, the event's quiet period ends
    EXPECT_TRUE(engine->isSyncing());
    EXPECT_EQ(requestCount("GET", "/api/v1/sync/status"), 1);
    ASSERT_TRUE(waitForPasses(1));

    running.server.clearFaults();
    ASSERT_TRUE(waitUntil([&] { return serverContent(docs, "during.txt") == "saved during the pass"; },
                          "the file saved during the pass to go up"));
    // The timer starts a pass every 100 ms: let the one running end, so that
    // the engine is not torn down with its pass suspended in a request.
    engine->stop();
    ASSERT_TRUE(waitUntil([&] { return !engine->isSyncing(); }, "the last pass to end"));
}

// A folder its watcher sees whole is walked only when something changed:
// on either side, or anything the watcher cannot vouch for.
TEST_F(LifecycleTest, AnIdlePassAsksTheServerButWalksNothing)
{
    const auto passWalks = [&] {
        const qint64 before = engine->walkCount();
        syncOk();
        return engine->walkCount() - before;
    };
    // The first pass waits for the watcher to set up its watches (below
    // two hundred directories here): the one after it walks nothing.
    for (int i = 0; i < 200; ++i)
        ASSERT_TRUE(QDir().mkpath(docs + QString("/tree/d%1/e").arg(i)));
    engine->start();
    ASSERT_TRUE(waitForPasses(1));
    settle();
    EXPECT_EQ(passWalks(), 0) << "the first pass found the folder in step";
    running.server.clearRequests();
    EXPECT_EQ(passWalks(), 0);
    EXPECT_EQ(requestCount("GET", "/api/v1/sync/status"), 1);

    // The server changed: the folder is walked and the document comes down.
    putDocument(docs, "from-server.txt", "new on the server");
    EXPECT_EQ(passWalks(), 1);
    EXPECT_EQ(testsupport::readFile(docs + "/from-server.txt"), "new on the server");

    // What a pass could not do is looked for again by the next, which
    // walks though nothing changed since.
    settle();
    putDocument(docs, "failing.txt", "its download fails once");
    running.server.injectFault(fault({.method = "GET", .path = "/api/v1/documents/*", .error = "Broken"}));
    EXPECT_EQ(passWalks(), 1);
    running.server.clearFaults();
    EXPECT_EQ(passWalks(), 1);
    EXPECT_EQ(testsupport::readFile(docs + "/failing.txt"), "its download fails once");

    // A local edit: its events start a pass that walks and sends it.
    settle();
    const int before = passes;
    writeFile(docs + "/edited.txt", "edited here");
    ASSERT_TRUE(waitForPasses(before + 1));
    EXPECT_EQ(serverContent(docs, "edited.txt"), "edited here");
    settle();
    passWalks(); // after transfers, one more walk finds the folder in step
    EXPECT_EQ(passWalks(), 0);

    // A folder without its watcher is walked every pass, and an edit no
    // event told of is found.
    engine->fileWatcher()->unwatch(docs);
    writeFile(docs + "/unseen.txt", "no event told of it");
    // A file's time may be finer than the clock its facts are recorded
    // by: a pass within that clock's tick of the save reads it once more.
    testsupport::settle(20);
    EXPECT_EQ(passWalks(), 1);
    EXPECT_EQ(serverContent(docs, "unseen.txt"), "no event told of it");
    EXPECT_EQ(passWalks(), 1);

    // Watched again, and the safety-net walk due at every pass.
    engine->fileWatcher()->watch(docs);
    passWalks();
    EXPECT_EQ(passWalks(), 0);
    engine->fullWalkIntervalMs = 0;
    EXPECT_EQ(passWalks(), 1);
}

TEST_F(LifecycleTest, AChangeAfterTheStartUpWalkIsNotMissedByThePassThatUsesIt)
{
    for (const char *name : {"edited.txt", "removed.txt", "kept.txt"})
        writeFile(docs + "/" + name, name);
    syncOk();
    engine = makeEngine();
    passes = 0;
    prepare();
    // The folders' answer held back, so the folder is walked while the pass
    // waits; the status answer held back longer, so the edits land after
    // that walk and before the plan.
    running.server.injectFault(fault({.method = "GET", .path = "/api/v1/folders", .delayMs = 400, .count = 1}));
    running.server.injectFault(fault({.method = "GET", .path = "/api/v1/sync/status", .delayMs = 1500, .count = 1}));
    std::map<std::string, std::string> afterFirstPass;
    QObject::connect(engine.get(), &SyncEngine::passFinished, [&] {
        if (passes == 1)
            for (const auto &[name, document] : documentsOf(docs))
                afterFirstPass[name] = running.server.content(document.id).value_or("");
    });
    engine->start();
    testsupport::settle(900);
    writeFile(docs + "/edited.txt", "edited during start-up");
    ASSERT_TRUE(QFile::remove(docs + "/removed.txt"));
    writeFile(docs + "/added.txt", "added during start-up");
    ASSERT_TRUE(waitForPasses(1));
    EXPECT_EQ(afterFirstPass, (std::map<std::string, std::string>{{"added.txt", "added during start-up"},
                                                                   {"edited.txt", "edited during start-up"},
                                                                   {"kept.txt", "kept.txt"}}));
}
