// Start, stop, the end of the engine, and what wakes it: timer, file events,
// the button.
#include "EngineFixture.h"

#include <QThread>

using testsupport::waitUntil;
using testsupport::writeFile;

class LifecycleTest : public EngineFixture {
protected:
    static constexpr int kDebounce = 200;

    void SetUp() override
    {
        EngineFixture::SetUp();
        docs = watch("Docs");
        configure(*engine);
    }

    void configure(SyncEngine &target)
    {
        target.debounceInterval = kDebounce;
        QObject::connect(&target, &SyncEngine::passFinished, [this] { ++passes; });
    }

    bool waitForPasses(int expected) { return waitUntil([&] { return passes >= expected; }); }

    // Long enough for any pending event, debounce and queued pass to have run.
    void settle(int ms = 6 * kDebounce + 1200)
    {
        waitUntil([] { return false; }, ms);
    }

    int statusRequests() const { return requestCount("GET", "/api/v1/sync/status"); }

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
    EXPECT_TRUE(engine->syncTimer()->isActive());
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
    EXPECT_EQ(intervalFor(15), 15000);
    EXPECT_EQ(intervalFor(0.25), 250);
    EXPECT_EQ(engine->findChildren<QTimer *>(Qt::FindDirectChildrenOnly).size(), 1);

    // The timer runs passes of its own, one interval apart.
    engine->syncIntervalOverrideMs = 150;
    engine->start();
    ASSERT_TRUE(waitForPasses(3));
}

TEST_F(LifecycleTest, FileEventsWakeTheEngineOncePerBurst)
{
    engine->start();
    ASSERT_TRUE(waitForPasses(1));
    settle(2 * kDebounce);
    const int afterStart = passes;

    writeFile(docs + "/one.txt", "saved once");
    ASSERT_TRUE(waitForPasses(afterStart + 1));
    settle();
    EXPECT_EQ(passes, afterStart + 1);
    EXPECT_EQ(serverContent(docs, "one.txt"), "saved once");

    for (int i = 0; i < 8; ++i) { // a burst: a save every 30 ms
        writeFile(docs + QString("/burst%1.txt").arg(i), "b");
        QThread::msleep(30);
    }
    ASSERT_TRUE(waitForPasses(afterStart + 2));
    settle();
    EXPECT_EQ(passes, afterStart + 2);
    EXPECT_EQ(documentsOf(docs).size(), 9u);

    writeFile(docs + "/Fresh/Deeper/new.txt", "in a new subdirectory");
    ASSERT_TRUE(waitForPasses(afterStart + 3));
    settle();
    EXPECT_EQ(serverContent(docs, "new.txt"), "in a new subdirectory");
}

TEST_F(LifecycleTest, ChangesInTwoFoldersAtOnceMakeOnePass)
{
    const QString other = watch("Other");
    engine->start();
    ASSERT_TRUE(waitForPasses(1));
    settle(2 * kDebounce);
    const int afterStart = passes;
    writeFile(docs + "/a.txt", "a");
    writeFile(other + "/b.txt", "b");
    ASSERT_TRUE(waitForPasses(afterStart + 1));
    settle();
    EXPECT_EQ(passes, afterStart + 1);
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

    engine->syncIntervalOverrideMs = 0; // 30 s: no tick during the rest of the test
    engine->start();
    ASSERT_TRUE(waitForPasses(1));
    writeFile(docs + "/pending.txt", "x"); // its quiet period has not passed yet
    engine->stop();
    settle();
    EXPECT_EQ(passes, 1);
    EXPECT_EQ(documentsOf(docs).count("pending.txt"), 0u);

    // The button still works on a stopped engine.
    testsupport::run(engine->syncNow());
    EXPECT_EQ(passes, 2);
    EXPECT_EQ(documentsOf(docs).size(), 2u);
}

TEST_F(LifecycleTest, APassRunningAtStopEndsOnItsOwn)
{
    writeFile(docs + "/slow.txt", "slow");
    running.server.injectFault(delay("POST", "/api/v1/documents", 300));
    engine->start();
    ASSERT_TRUE(waitUntil([&] { return engine->isSyncing(); }));
    engine->stop();
    ASSERT_TRUE(waitForPasses(1));
    EXPECT_FALSE(engine->isSyncing());
    EXPECT_EQ(appState->syncStatus(), SyncStatus::idle());
    EXPECT_EQ(serverContent(docs, "slow.txt"), "slow");
}

TEST_F(LifecycleTest, ADroppedEngineIsNeverCalledAgain)
{
    // Dropped with a file event waiting for its quiet period.
    engine->start();
    ASSERT_TRUE(waitForPasses(1));
    writeFile(docs + "/a.txt", "a");
    engine.reset();
    running.server.clearRequests();
    settle();
    EXPECT_TRUE(running.server.requests().empty());

    // Dropped with its first pass still queued.
    engine = makeEngine();
    engine->start();
    engine.reset();
    settle(300);
    EXPECT_TRUE(running.server.requests().empty());

    // Dropped in the middle of a pass, with transfers in flight and more to come.
    engine = makeEngine();
    for (int i = 0; i < 6; ++i)
        writeFile(docs + QString("/f%1.txt").arg(i), "f");
    running.server.injectFault(delay("POST", "/api/v1/documents", 300));
    auto pass = engine->performSync();
    ASSERT_TRUE(waitUntil([&] { return running.server.peakInFlight("POST", "/api/v1/documents") == 3; }));
    engine.reset();
    settle(1000);
    EXPECT_EQ(requestCount("POST", "/api/v1/documents"), 3);
    EXPECT_EQ(requestCount("GET", "/api/v1/sync/status"), 1);
}

TEST_F(LifecycleTest, TicksEventsAndTheButtonDuringALongPassAreDropped)
{
    engine->syncIntervalOverrideMs = 100;
    writeFile(docs + "/long.txt", "takes a while");
    running.server.injectFault(delay("POST", "/api/v1/documents", 1500));
    engine->start();
    ASSERT_TRUE(waitUntil([&] { return running.server.peakInFlight("POST", "/api/v1/documents") == 1; }));
    writeFile(docs + "/during.txt", "saved during the pass");
    auto button = engine->syncNow();
    EXPECT_TRUE(button.isReady());
    ASSERT_TRUE(waitForPasses(1));
    EXPECT_EQ(statusRequests(), 1);

    running.server.clearFaults();
    ASSERT_TRUE(waitUntil([&] { return serverContent(docs, "during.txt") == "saved during the pass"; }));
    engine->stop();
}
