// The state file on disk: private, replaced whole, and a file that cannot be
// read or written costs nothing but itself.
#include "sync/SyncState.h"

#include "support/TestSupport.h"

using testsupport::modeOf;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

SyncState stateWithFile(const QString &path, qint64 remoteId)
{
    SyncState state;
    state.serverFolderId = 1;
    state.trackedFiles.insert(path, TrackedFile{"hash", remoteId, std::nullopt, "2026-01-01T00:00:00Z",
                                                QDateTime::fromMSecsSinceEpoch(1767225600000LL, Qt::UTC)});
    return state;
}

} // namespace

class StateFileStorage : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString file() const { return dir.filePath("sync_state.json"); }
};

TEST_F(StateFileStorage, SavesPrivatelyAndReplacesTheFileWhole)
{
    const SyncState first = stateWithFile(QDir::homePath() + "/Documents/Report 2026.docx", 1);
    first.save(file());
    EXPECT_EQ(modeOf(file()), 0600u);
    EXPECT_EQ(readFile(file()), first.encode());
    EXPECT_EQ(SyncState::load(file()), first);
    // An older file readable by others becomes private again.
    ASSERT_TRUE(QFile::setPermissions(file(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther));

    // A reader that opened the old file keeps reading the old bytes whole:
    // the new state went to a new file that was renamed over the old one.
    QFile reader(file());
    ASSERT_TRUE(reader.open(QIODevice::ReadOnly));
    // A state of several megabytes goes to the file in pieces as it is
    // encoded: the file still holds exactly its encoding.
    SyncState second = stateWithFile("/second", 2);
    for (int i = 0; i < 20000; ++i)
        second.trackedFiles.insert(QStringLiteral("/folder/%1").arg(i), second.trackedFiles.first());
    second.save(file());
    EXPECT_EQ(reader.readAll(), first.encode());
    EXPECT_GT(QFileInfo(file()).size(), 2 << 20);
    EXPECT_EQ(readFile(file()), second.encode());
    EXPECT_EQ(SyncState::load(file()), second);
    EXPECT_EQ(modeOf(file()), 0600u);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{"sync_state.json"}); // no temporary file left
}

TEST_F(StateFileStorage, MissingCorruptOrUnwritableFilesGiveTheEmptyStateAndNoError)
{
    EXPECT_EQ(SyncState::load(file()), SyncState{});
    // A directory where the file should be reads as no file.
    EXPECT_EQ(SyncState::load(dir.path()), SyncState{});

    writeFile(file(), R"({"watchedFolders":[],"folderMappings":{},"trackedFiles":{"/a":{"remoteId":1}}})");
    EXPECT_EQ(SyncState::load(file()), SyncState{});
    EXPECT_TRUE(QFileInfo::exists(file()));
    // The next save replaces the bad file.
    const SyncState state = stateWithFile("/a", 1);
    state.save(file());
    EXPECT_EQ(SyncState::load(file()), state);

    // Into a directory that does not exist: nothing is written, nothing thrown.
    state.save(dir.filePath("missing/sync_state.json"));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("missing")));
}

// The only test in this program that computes the file's location, which is
// fixed for the rest of the run once computed.
TEST(StateFileLocation, IsInTheDataHomeAndItsDirectoryIsCreated)
{
    testsupport::TempHome home;
    ASSERT_FALSE(QFileInfo::exists(QFileInfo(home.stateFilePath()).absolutePath()));
    EXPECT_EQ(SyncState::fileURL(), home.stateFilePath());
    EXPECT_TRUE(QFileInfo(QFileInfo(home.stateFilePath()).absolutePath()).isDir());
    EXPECT_FALSE(QFileInfo::exists(home.stateFilePath()));

    // Load and save default to that location.
    EXPECT_EQ(SyncState::load(), SyncState{});
    const SyncState state = stateWithFile("/a", 5);
    state.save();
    EXPECT_EQ(readFile(home.stateFilePath()), state.encode());
}
