// What the folder handle acts on is what it checked: reads go through the
// folder opened at the start (whatever takes its path later), a file opened
// for sending is the file examined, a download's facts are those of the
// bytes written, and a file moved to the Trash can be checked and put back.
#include "platform/Descriptors.h"
#include "platform/FolderAccess.h"
#include "sync/LocalScanner.h"

#include "support/TestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QIODevice>

#include <gtest/gtest.h>

#include <limits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using testsupport::makeLink;
using testsupport::modeOf;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

QString sha256(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

void setModifiedSeconds(const QString &path, qint64 seconds)
{
    const timespec times[2] = {{time_t(seconds), 0}, {time_t(seconds), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW), 0);
}

} // namespace

class OwnAccessTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(QDir().mkpath(docs("Sub"))); }
    QString docs(const QString &relative = {}) const
    {
        return relative.isEmpty() ? home.filePath("Docs") : home.filePath("Docs/" + relative);
    }

    testsupport::TempHome home; // XDG_DATA_HOME, so the home Trash, lies in here
};

TEST_F(OwnAccessTest, AFolderSwappedAfterItWasOpenedIsNeverReadThroughItsPath)
{
    writeFile(docs("a.txt"), "old a");
    writeFile(docs("Sub/b.txt"), "old b");
    const FolderAccess folder(docs());
    // mv Docs Docs.old; mkdir Docs
    ASSERT_TRUE(QDir().rename(docs(), home.filePath("Docs.old")));
    ASSERT_TRUE(QDir().mkpath(docs()));
    writeFile(docs("new.txt"), "new");

    const LocalScanner::Listing listing = LocalScanner::scanLocalFiles(folder);
    ASSERT_TRUE(listing.readable);
    QStringList listed;
    for (const auto &file : listing.files)
        listed.append(file.path);
    // The paths are the folder's own, the files those of the folder opened.
    EXPECT_EQ(listed, (QStringList{docs("Sub/b.txt"), docs("a.txt")}));
    EXPECT_EQ(LocalScanner::classifyUnlisted(folder, docs("Sub/b.txt")), LocalScanner::Absence::present);
    EXPECT_EQ(LocalScanner::classifyUnlisted(folder, docs("new.txt")), LocalScanner::Absence::gone);
    const FolderAccess::OpenedFile opened = folder.openForReading("a.txt");
    EXPECT_EQ(opened.device->readAll(), "old a");

    // A folder on the way replaced by a file: the path crosses it.
    ASSERT_TRUE(QDir(home.filePath("Docs.old/Sub")).removeRecursively());
    writeFile(home.filePath("Docs.old/Sub"), "a file now");
    EXPECT_EQ(LocalScanner::classifyUnlisted(folder, docs("Sub/b.txt")), LocalScanner::Absence::crossesLink);
}

TEST_F(OwnAccessTest, AFileOpenedForSendingIsARegularFileReachedWithoutLinks)
{
    writeFile(home.filePath("secret.txt"), "secret");
    writeFile(docs("plain.txt"), "plain");
    makeLink(home.filePath("secret.txt"), docs("link.txt"));
    makeLink(home.path(), docs("Sub/out"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(docs("pipe")).constData(), 0600), 0);
    const FolderAccess folder(docs());

    const FolderAccess::OpenedFile opened = folder.openForReading("plain.txt");
    const FileFacts facts = folder.facts("plain.txt");
    EXPECT_TRUE(opened.facts.isSameVersion(facts));
    EXPECT_TRUE(opened.device->isOpen() && !opened.device->isSequential());
    EXPECT_EQ(opened.device->size(), 5);
    EXPECT_EQ(opened.device->readAll(), "plain");

    EXPECT_THROW(folder.openForReading("link.txt"), CrossesLinkError);
    EXPECT_THROW(folder.openForReading("Sub/out/secret.txt"), CrossesLinkError);
    // A pipe is refused at once rather than waited on.
    EXPECT_THROW(folder.openForReading("pipe"), FileError);
    EXPECT_THROW(folder.openForReading("Sub"), FileError);
    EXPECT_THROW(folder.openForReading("missing.txt"), FileError);

    // What was opened is read, whatever takes its name afterwards.
    const FolderAccess::OpenedFile before = folder.openForReading("plain.txt");
    ASSERT_TRUE(QFile::remove(docs("plain.txt")));
    makeLink(home.filePath("secret.txt"), docs("plain.txt"));
    EXPECT_EQ(before.device->readAll(), "plain");
}

TEST_F(OwnAccessTest, ADownloadsFactsAreThoseOfTheBytesWrittenAndItKeepsTheOldPermissions)
{
    const FolderAccess folder(docs());
    IncomingFile incoming = folder.createIncoming("Sub/new.txt");
    ASSERT_EQ(incoming.device().write("downloaded"), 10);
    incoming.setPermissions(0600 | S_ISUID);
    const FileFacts written = incoming.writtenFacts();
    ASSERT_TRUE(incoming.placeNew());

    const FileFacts placed = folder.facts("Sub/new.txt");
    EXPECT_EQ(placed.inode, written.inode);
    EXPECT_EQ(placed.size, 10);
    EXPECT_EQ(placed.modifiedNs, written.modifiedNs);
    EXPECT_EQ(modeOf(docs("Sub/new.txt")), 0600u) << "never a set-id bit";

    // Written to after the placement: the facts of the bytes as written no
    // longer match, so the file is read again.
    QFile file(docs("Sub/new.txt"));
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write("!");
    file.close();
    EXPECT_FALSE(folder.facts("Sub/new.txt").isSameVersion(written));
}

TEST_F(OwnAccessTest, AFileMovedToTheTrashCanBeCheckedAndPutBack)
{
    const FolderAccess folder(docs());
    writeFile(docs("Sub/a.txt"), "saved just now");
    ASSERT_EQ(::chmod(QFile::encodeName(docs("Sub/a.txt")).constData(), 0640), 0);
    TrashedFile trashed = folder.moveToTrash("Sub/a.txt");
    EXPECT_EQ(trashed.facts().permissions, 0640u);
    EXPECT_EQ(trashed.hash(), sha256("saved just now"));
    EXPECT_FALSE(QFileInfo::exists(docs("Sub/a.txt")));
    EXPECT_EQ(trashed.restore("a (conflicted copy).txt"), "Sub/a.txt");
    EXPECT_EQ(readFile(docs("Sub/a.txt")), "saved just now");
    EXPECT_TRUE(QDir(home.filePath("data/Trash/files")).isEmpty());
    EXPECT_TRUE(QDir(home.filePath("data/Trash/info")).isEmpty());

    // Something new took the place meanwhile: it stays, and the file comes
    // back beside it.
    TrashedFile again = folder.moveToTrash("Sub/a.txt");
    writeFile(docs("Sub/a.txt"), "newer");
    EXPECT_EQ(again.restore("a (conflicted copy).txt"), "Sub/a (conflicted copy).txt");
    EXPECT_EQ(readFile(docs("Sub/a.txt")), "newer");
    EXPECT_EQ(readFile(docs("Sub/a (conflicted copy).txt")), "saved just now");
}

TEST_F(OwnAccessTest, OnlyOurOwnDownloadTemporariesOfAnEarlierRunAreRemoved)
{
    const qint64 lastYear = QDateTime::currentSecsSinceEpoch() - 365 * 24 * 3600;
    const QStringList stale{".tavrel-download-AbC123", "Sub/.tavrel-download-xyz789"};
    for (const QString &name : stale) {
        writeFile(docs(name), "partial");
        setModifiedSeconds(docs(name), lastYear);
    }
    writeFile(docs(".tavrel-download-new001"), "being written by this run");
    writeFile(docs(".tavrel-download-toolong1"), "not our name");
    writeFile(docs(".tavrel-download-notes"), "not our name");
    setModifiedSeconds(docs(".tavrel-download-toolong1"), lastYear);
    setModifiedSeconds(docs(".tavrel-download-notes"), lastYear);
    ASSERT_TRUE(QDir().mkpath(docs(".tavrel-download-dir001")));
    makeLink(home.filePath("elsewhere"), docs(".tavrel-download-lnk001"));

    const FolderAccess folder(docs());
    const LocalScanner::Listing listing = LocalScanner::scanLocalFiles(folder);
    for (const QString &name : listing.downloadTemporaries)
        folder.removeStaleDownload(name);

    for (const QString &name : stale)
        EXPECT_FALSE(QFileInfo::exists(docs(name))) << name.toStdString();
    for (const char *kept : {".tavrel-download-new001", ".tavrel-download-toolong1", ".tavrel-download-notes",
                             ".tavrel-download-dir001"})
        EXPECT_TRUE(QFileInfo::exists(docs(kept))) << kept;
    EXPECT_TRUE(QFileInfo(docs(".tavrel-download-lnk001")).isSymLink());
    EXPECT_TRUE(listing.files.empty()) << "temporaries are never synced";
}

TEST_F(OwnAccessTest, TimesBeyondTheNanosecondRangeAreHeldAtItsEnds)
{
    EXPECT_EQ(descriptors::nanoseconds({time_t(10), 5}), 10000000005);
    EXPECT_EQ(descriptors::nanoseconds({time_t(-10), 0}), -10000000000);
    // The year 2300 and the year 1600.
    EXPECT_EQ(descriptors::nanoseconds({time_t(10413792000), 0}), std::numeric_limits<qint64>::max());
    EXPECT_EQ(descriptors::nanoseconds({time_t(-11676096000), 0}), std::numeric_limits<qint64>::min());

    writeFile(docs("future.txt"), "from 2300");
    setModifiedSeconds(docs("future.txt"), 10413792000);
    const FolderAccess folder(docs());
    EXPECT_EQ(folder.facts("future.txt").modifiedNs, std::numeric_limits<qint64>::max());
    const LocalScanner::Listing listing = LocalScanner::scanLocalFiles(folder);
    ASSERT_EQ(listing.files.size(), 1u);
    EXPECT_EQ(listing.files[0].facts.modifiedNs, std::numeric_limits<qint64>::max());
}
