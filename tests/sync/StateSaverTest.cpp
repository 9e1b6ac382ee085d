// Coalesced background writes of the sync state: few writes for many
// changes, the file always one whole state, and flush() as the point after
// which the file is up to date.
#include "sync/StateSaver.h"
#include "sync/SyncState.h"

#include "support/TestSupport.h"

#include <QThreadPool>

#include <csignal>
#include <memory>
#include <sys/resource.h>

using testsupport::run;
using testsupport::waitUntil;

namespace {

void track(SyncState &state, int i)
{
    state.trackedFiles.insert(QStringLiteral("/home/u/Docs/file%1.txt").arg(i),
                              TrackedFile{QStringLiteral("%1").arg(i, 64, 16, QLatin1Char('0')), i, std::nullopt,
                                          QStringLiteral("2026-01-01T00:00:00Z"),
                                          QDateTime::fromMSecsSinceEpoch(1767225600000LL + i, Qt::UTC)});
}

// Writes to files beyond `bytes` fail (EFBIG) while it lives, for root too.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
};

} // namespace

class StateSaverTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path() const { return dir.filePath("sync_state.json"); }
    SyncState state;
    std::unique_ptr<StateSaver> saver = std::make_unique<StateSaver>(&state, path());

    SyncState onDisk() const
    {
        const auto decoded = SyncState::decode(testsupport::readFile(path()));
        EXPECT_TRUE(decoded) << "the file holds one whole state";
        return decoded.value_or(SyncState{});
    }
};

TEST_F(StateSaverTest, ManyRequestsGiveFewWritesAndTheFileEndsWithTheLastState)
{
    saver->intervalMs = 20;
    // A burst of changes between two turns of the event loop: one write.
    for (int i = 0; i < 500; ++i) {
        track(state, i);
        saver->scheduleSave();
    }
    ASSERT_TRUE(waitUntil([&] { return saver->saveCount() == 1 && !saver->isWriting(); }, "the one write"));
    EXPECT_EQ(onDisk(), state);
    EXPECT_EQ(saver->bytesWritten(), QFileInfo(path()).size());

    // Requests while a write is in flight: exactly one more write, after it,
    // with everything they asked for.
    track(state, 500);
    saver->scheduleSave();
    QCoro::Task<void> first = saver->flush(); // runs up to the worker
    ASSERT_TRUE(saver->isWriting());
    for (int i = 501; i < 600; ++i) {
        track(state, i);
        saver->scheduleSave();
    }
    run(std::move(first));
    EXPECT_EQ(saver->saveCount(), 2);
    EXPECT_TRUE(saver->isDirty());
    ASSERT_TRUE(waitUntil([&] { return saver->saveCount() == 3 && !saver->isWriting(); }, "the third write"));
    EXPECT_EQ(onDisk(), state);
    EXPECT_FALSE(saver->isDirty());

    // Nothing changed: no write at all.
    run(saver->flush());
    EXPECT_EQ(saver->saveCount(), 3);
}

TEST_F(StateSaverTest, FlushWaitsForTheWriteAndSurvivesTheSaversEnd)
{
    saver->intervalMs = 60 * 60 * 1000; // never by the timer in this test
    track(state, 1);
    saver->scheduleSave();
    run(saver->flush());
    EXPECT_EQ(onDisk(), state);
    EXPECT_EQ(saver->saveCount(), 1);

    // A flush during a write waits for it, then writes what came after.
    track(state, 2);
    saver->scheduleSave();
    QCoro::Task<void> inFlight = saver->flush();
    track(state, 3);
    saver->scheduleSave();
    run(saver->flush());
    EXPECT_EQ(onDisk(), state);
    run(std::move(inFlight));

    // The saver goes while its write runs: the write ends on its own and the
    // file is whole.
    track(state, 4);
    saver->scheduleSave();
    QCoro::Task<void> orphan = saver->flush();
    saver.reset();
    QThreadPool::globalInstance()->waitForDone();
    run(std::move(orphan));
    EXPECT_EQ(onDisk(), state);
}

TEST_F(StateSaverTest, AFailedWriteLeavesTheOldFileAndTheNextChangeWritesAgain)
{
    saver->intervalMs = 60 * 60 * 1000;
    track(state, 1);
    saver->scheduleSave();
    run(saver->flush());
    const SyncState old = state;
    const qint64 oldSize = QFileInfo(path()).size();

    for (int i = 2; i < 200; ++i)
        track(state, i);
    saver->scheduleSave();
    {
        // The disk refuses the bigger file half-way through.
        FileSizeLimit limit(rlim_t(oldSize + 100));
        run(saver->flush());
    }
    EXPECT_EQ(onDisk(), old);
    EXPECT_EQ(saver->saveCount(), 1);
    const QStringList leftovers = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    EXPECT_EQ(leftovers, QStringList{"sync_state.json"}) << "no temporary file stays behind";

    track(state, 200);
    saver->scheduleSave();
    run(saver->flush());
    EXPECT_EQ(onDisk(), state);
    EXPECT_EQ(saver->saveCount(), 2);
}
