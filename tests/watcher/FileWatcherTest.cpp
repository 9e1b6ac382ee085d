#include "state/FileWatcher.h"

#include "platform/Logging.h"
#include "support/FilePermissions.h"

#include "WatcherFixture.h"

#include <memory>
#include <unistd.h>

using testsupport::settle;
using testsupport::waitUntil;

namespace {

int openDescriptorCount()
{
    return int(QDir("/proc/self/fd").entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size());
}

} // namespace

class FileWatcherTest : public WatcherFixture {
protected:
    // Short periods so that a quiet period passes in a fraction of a second.
    static constexpr int kDebounce = 300;
    static constexpr int kLatency = 100;

    std::unique_ptr<FileWatcher> makeWatcher()
    {
        auto watcher = std::make_unique<FileWatcher>([this] { ++callbacks; });
        watcher->debounceInterval = kDebounce;
        watcher->latency = kLatency;
        return watcher;
    }

    testing::AssertionResult waitForCallbacks(int expected)
    {
        return waitUntil([&] { return callbacks >= expected; }, std::to_string(expected) + " callbacks", 5000);
    }
    // Long enough for a stray event to have been delivered and debounced.
    void letQuietPeriodPass() { settle(3 * kDebounce + 2 * kLatency); }

    int callbacks = 0;
};

TEST_F(FileWatcherTest, ChangesOfEveryKindWakeTheWatcher)
{
    auto watcher = makeWatcher();
    watcher->watch(makeFolder("docs"));
    save("docs/a.txt");
    ASSERT_TRUE(waitForCallbacks(1));

    const std::vector<std::pair<const char *, std::function<void()>>> changes = {
        {"rewrite", [&] { save("docs/a.txt", "new content"); }},
        {"attribute change", [&] { QFile::setPermissions(path("docs/a.txt"), QFile::ReadOwner | QFile::WriteOwner); }},
        {"rename", [&] { QFile::rename(path("docs/a.txt"), path("docs/b.txt")); }},
        {"delete", [&] { QFile::remove(path("docs/b.txt")); }},
        {"new empty folder", [&] { makeFolder("docs/empty"); }},
    };
    for (const auto &[what, change] : changes) {
        const int before = callbacks;
        change();
        EXPECT_TRUE(waitForCallbacks(before + 1)) << "after a " << what;
    }
}

TEST_F(FileWatcherTest, BurstsGiveOneCallback)
{
    // A burst goes on longer than the quiet period, with events closer
    // together than it; two folders changing together count as one burst.
    // The quiet period is longer here, so that a busy machine does not
    // stretch a gap between events into one.
    auto watcher = makeWatcher();
    watcher->debounceInterval = 2 * kDebounce;
    watcher->watch(makeFolder("one"));
    watcher->watch(makeFolder("two"));
    ASSERT_EQ(watcher->streamCount(), 2);

    for (int i = 0; i < 25; ++i) {
        save(QString("one/file%1.txt").arg(i));
        save(QString("two/file%1.txt").arg(i));
        settle(kDebounce / 5);
    }
    EXPECT_EQ(callbacks, 0) << "called back while events kept coming";

    ASSERT_TRUE(waitForCallbacks(1));
    letQuietPeriodPass();
    letQuietPeriodPass();
    EXPECT_EQ(callbacks, 1);
}

TEST_F(FileWatcherTest, StopKeepsThePendingCallbackAndEndsEvents)
{
    auto watcher = makeWatcher();
    watcher->watch(makeFolder("docs"));
    save("docs/a.txt");
    ASSERT_TRUE(waitUntil([&] { return watcher->hasPendingCallback(); }, "a pending callback", 5000));

    watcher->stop();
    EXPECT_EQ(watcher->streamCount(), 0);
    ASSERT_TRUE(waitForCallbacks(1)) << "the pending callback was lost by stop()";

    save("docs/b.txt");
    letQuietPeriodPass();
    EXPECT_EQ(callbacks, 1) << "events arrived after stop()";

    // A stopped watcher can watch again.
    watcher->watch(path("docs"));
    save("docs/c.txt");
    EXPECT_TRUE(waitForCallbacks(2));
}

// Destroyed with a callback pending, it calls nothing; and its callback may
// destroy it (the engine drops its watcher when it restarts, possibly from a
// pass the callback started).
TEST_F(FileWatcherTest, ADestroyedWatcherCallsNothingAndItsCallbackMayDestroyIt)
{
    auto doomed = makeWatcher();
    doomed->watch(makeFolder("docs"));
    save("docs/a.txt");
    ASSERT_TRUE(waitUntil([&] { return doomed->hasPendingCallback(); }, "a pending callback", 5000));
    doomed.reset();
    letQuietPeriodPass();
    EXPECT_EQ(callbacks, 0);

    std::unique_ptr<FileWatcher> watcher;
    watcher = std::make_unique<FileWatcher>([&] {
        ++callbacks;
        watcher.reset();
    });
    watcher->debounceInterval = kDebounce;
    watcher->latency = kLatency;
    watcher->watch(path("docs"));
    save("docs/b.txt");
    ASSERT_TRUE(waitForCallbacks(1));
    EXPECT_EQ(watcher, nullptr);
}

TEST_F(FileWatcherTest, UnwatchableFoldersAreLoggedAndTheOthersStillWatched)
{
    testsupport::LogCapture log{&lcFileWatcher()};
    save("plain-file.txt");
    const QString missing = path("missing");
    const QString notAFolder = path("plain-file.txt");
    const QString good = makeFolder("good");
    const QString locked = makeFolder("locked");
    QFile::setPermissions(locked, QFileDevice::Permissions());
    const testsupport::PermissionsApply permissions;
    const bool permissionsApply = permissions.active();

    auto watcher = makeWatcher();
    watcher->watch(missing);
    watcher->watch(good);
    watcher->watch(notAFolder);
    if (permissionsApply)
        watcher->watch(locked);

    QStringList expected = {
        "critical: Failed to create FSEventStream for " + missing,
        "info: Watching directory: " + good,
        "critical: Failed to create FSEventStream for " + notAFolder,
    };
    if (permissionsApply)
        expected << "critical: Failed to create FSEventStream for " + locked;
    EXPECT_EQ(log.lines(), expected);
    EXPECT_EQ(watcher->streamCount(), 1);

    save("good/a.txt");
    EXPECT_TRUE(waitForCallbacks(1));
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST_F(FileWatcherTest, NoDescriptorsLeakAcrossStopRestartAndDestruction)
{
    makeFolder("one/sub/deeper");
    makeFolder("two");
    const int before = openDescriptorCount();

    for (int round = 0; round < 3; ++round) {
        auto watcher = makeWatcher();
        watcher->watch(path("one"));
        watcher->watch(path("missing"));
        watcher->watch(path("two"));
        // In the folder itself: the tree below it may still be being watched.
        save(QString("one/file%1.txt").arg(round));
        ASSERT_TRUE(waitForCallbacks(2 * round + 1));
        watcher->stop();
        watcher->watch(path("one"));
        watcher->watch(path("two"));
        save(QString("two/file%1.txt").arg(round));
        ASSERT_TRUE(waitForCallbacks(2 * round + 2));
        // Destroyed here with its streams still open.
    }

    EXPECT_EQ(openDescriptorCount(), before);
}
