// The folder handle on real folders, files and symbolic links: nothing
// outside the watched folder is ever read or changed, nothing in it is ever
// replaced unless the caller saw it, what it acts on is what it checked (a
// file opened for sending, the facts of the bytes written), and removals
// land in the Trash, from where a file can be checked and put back.
#include "platform/Descriptors.h"
#include "platform/FolderAccess.h"
#include "sync/LocalScanner.h"

#include "support/TestSupport.h"
#include "support/TmpfsMount.h"

#include <QCryptographicHash>
#include <QIODevice>
#include <QRegularExpression>
#include <QThread>

#include <limits>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

using testsupport::makeLink;
using testsupport::modeOf;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

// Every name below `dir`, hidden ones and those in subfolders included.
QStringList allNames(const QString &dir)
{
    QStringList names;
    const QDir root(dir);
    for (const QFileInfo &info :
         root.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
        names.append(info.fileName());
        if (info.isDir() && !info.isSymLink())
            for (const QString &inner : allNames(info.filePath()))
                names.append(info.fileName() + '/' + inner);
    }
    return names;
}

QString sha256(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

void setModifiedSeconds(const QString &path, qint64 seconds)
{
    const timespec times[2] = {{time_t(seconds), 0}, {time_t(seconds), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW), 0);
}

// Writes `content` into a new incoming file for `destination`.
IncomingFile incoming(const FolderAccess &folder, const QString &destination, const QByteArray &content)
{
    IncomingFile file = folder.createIncoming(destination);
    EXPECT_EQ(file.device().write(content), content.size());
    return file;
}

} // namespace

class FolderAccessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir().mkpath(docs("Sub")));
        ASSERT_TRUE(QDir().mkpath(outside.path()));
        writeFile(outside.filePath("x.txt"), "outside");
    }
    QString docs(const QString &relative = {}) const
    {
        return relative.isEmpty() ? home.filePath("Docs") : home.filePath("Docs/" + relative);
    }
    QString trashed(const QString &relative) const { return home.filePath("data/Trash/" + relative); }

    testsupport::TempHome home; // XDG_DATA_HOME, so the home Trash, lies in here
    QTemporaryDir outside;
};

TEST_F(FolderAccessTest, PathsThroughLinksOrFilesAreRefusedAndNothingOutsideIsTouched)
{
    makeLink(outside.path(), docs("Linked"));
    ASSERT_TRUE(QDir().mkpath(docs("Deep/Er")));
    makeLink(outside.path(), docs("Deep/Er/Linked"));
    writeFile(docs("plain.txt"), "plain");
    const FolderAccess folder(docs());
    const QStringList outsideBefore = allNames(outside.path());

    for (const QString path : {"Linked/x.txt", "Deep/Er/Linked/x.txt", "plain.txt/x.txt"}) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_THROW(folder.facts(path), CrossesLinkError);
        EXPECT_THROW(folder.hash(path), CrossesLinkError);
        EXPECT_THROW(folder.openForReading(path), CrossesLinkError);
        EXPECT_THROW(folder.createIncoming(path), CrossesLinkError);
        EXPECT_THROW((void)folder.moveAside(path, "y.txt"), CrossesLinkError);
        EXPECT_THROW(folder.moveToTrash(path), CrossesLinkError);
    }

    // A link in the last place is itself refused, never its target.
    makeLink(outside.filePath("x.txt"), docs("Sub/link.txt"));
    const FileFacts link = folder.facts("Sub/link.txt");
    EXPECT_TRUE(link.exists && link.isSymbolicLink && !link.isRegularFile);
    EXPECT_THROW(folder.hash("Sub/link.txt"), CrossesLinkError);
    EXPECT_THROW(folder.openForReading("Sub/link.txt"), CrossesLinkError);
    EXPECT_THROW((void)folder.moveAside("Sub/link.txt", "y.txt"), CrossesLinkError);
    EXPECT_THROW(folder.moveToTrash("Sub/link.txt"), CrossesLinkError);

    // Paths that climb out or are not paths at all are no one's.
    for (const QString path : {"../x.txt", "Sub/../../x.txt", "/etc/passwd", "", "Sub//a", "."}) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_THROW(folder.facts(path), FileError);
        EXPECT_THROW(folder.createIncoming(path), FileError);
    }
    EXPECT_THROW((void)folder.moveAside("plain.txt", "../x.txt"), FileError);

    EXPECT_EQ(readFile(outside.filePath("x.txt")), "outside");
    EXPECT_EQ(allNames(outside.path()), outsideBefore);
    EXPECT_FALSE(QFileInfo::exists(trashed("files")) && !QDir(trashed("files")).isEmpty());
    EXPECT_EQ(readFile(docs("plain.txt")), "plain");
}

TEST_F(FolderAccessTest, FactsAndIdentityTellWhatIsThereAndWhichFolderWasOpened)
{
    writeFile(docs("Sub/a.txt"), "12345");
    const timespec times[2] = {{0, UTIME_OMIT}, {1767225600, 123456789}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(docs("Sub/a.txt")).constData(), times, 0), 0);

    // The folder itself may be a link the user chose.
    makeLink(docs(), home.filePath("DocsLink"));
    const FolderAccess folder(home.filePath("DocsLink"));
    const FileFacts facts = folder.facts("Sub/a.txt");
    EXPECT_TRUE(facts.exists && facts.isRegularFile);
    EXPECT_EQ(facts.size, 5);
    EXPECT_EQ(facts.modifiedNs, 1767225600123456789LL);
    EXPECT_EQ(facts.modified(), QDateTime::fromMSecsSinceEpoch(1767225600123LL, Qt::UTC));
    EXPECT_GT(facts.changedNs, 0);
    EXPECT_FALSE(folder.facts("Sub/missing.txt").exists);
    EXPECT_FALSE(folder.facts("Gone/Deeper/a.txt").exists);
    EXPECT_THROW(folder.hash("Gone/a.txt"), FileError);
    EXPECT_EQ(folder.relativePathOf(home.filePath("DocsLink/Sub/a.txt")), "Sub/a.txt");
    EXPECT_EQ(folder.relativePathOf(home.filePath("DocsLinkOther/a.txt")), std::nullopt);
    EXPECT_EQ(folder.relativePathOf(home.filePath("DocsLink")), std::nullopt);

    // A write moves the status-change time, which no one can set back
    // (older kernels keep it at the clock tick: wait one out).
    QThread::msleep(20);
    writeFile(docs("Sub/a.txt"), "54321");
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(docs("Sub/a.txt")).constData(), times, 0), 0);
    EXPECT_FALSE(folder.facts("Sub/a.txt").isSameVersion(facts));
    EXPECT_TRUE(folder.facts("Sub/a.txt").isSameVersion(folder.facts("Sub/a.txt")));

    // The bookmark's identity is the opened folder's; a folder put in its
    // place is another, and the open handle still reaches the first one.
    const auto bookmark = Bookmarks::create(docs());
    ASSERT_TRUE(bookmark);
    EXPECT_EQ(folder.identity(), Bookmarks::resolve(*bookmark)->identity);
    ASSERT_TRUE(QDir().rename(docs(), home.filePath("Docs-old")));
    ASSERT_TRUE(QDir().mkpath(docs()));
    EXPECT_NE(FolderAccess(docs()).identity(), Bookmarks::resolve(*bookmark)->identity);
    EXPECT_TRUE(folder.facts("Sub/a.txt").exists);

    EXPECT_THROW(FolderAccess(home.filePath("missing")), FileError);
    writeFile(home.filePath("file"), "x");
    EXPECT_THROW(FolderAccess(home.filePath("file")), FileError);
}

TEST_F(FolderAccessTest, HashesRegularFilesFromSeveralThreads)
{
    writeFile(docs("Sub/abc"), "abc");
    const FolderAccess folder(docs());
    std::vector<QString> hashes(4);
    std::vector<std::thread> threads;
    for (QString &hash : hashes)
        threads.emplace_back([&folder, &hash] { hash = folder.hash("Sub/abc"); });
    for (std::thread &thread : threads)
        thread.join();
    for (const QString &hash : hashes)
        EXPECT_EQ(hash, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

    EXPECT_THROW(folder.hash("Sub"), FileError);
    EXPECT_THROW(folder.openForReading("Sub"), FileError);
    ASSERT_EQ(::mkfifo(QFile::encodeName(docs("pipe")).constData(), 0600), 0);
    EXPECT_THROW(folder.hash("pipe"), FileError) << "a pipe is refused, not waited on";
    EXPECT_THROW(folder.openForReading("pipe"), FileError);
}

// What was opened for sending is the file examined, and it is read whatever
// takes its name afterwards.
TEST_F(FolderAccessTest, AFileOpenedForSendingIsTheFileExamined)
{
    writeFile(docs("plain.txt"), "plain");
    const FolderAccess folder(docs());
    const FolderAccess::OpenedFile opened = folder.openForReading("plain.txt");
    EXPECT_TRUE(opened.facts.isSameVersion(folder.facts("plain.txt")));
    EXPECT_TRUE(opened.device->isOpen() && !opened.device->isSequential());
    EXPECT_EQ(opened.device->size(), 5);
    ASSERT_TRUE(QFile::remove(docs("plain.txt")));
    makeLink(outside.filePath("x.txt"), docs("plain.txt"));
    EXPECT_EQ(opened.device->readAll(), "plain");
    EXPECT_THROW(folder.openForReading("missing.txt"), FileError);
}

TEST_F(FolderAccessTest, NewFilesNeverReplaceWhatAppearedAtTheirPlace)
{
    const FolderAccess folder(docs());
    const mode_t oldMask = ::umask(022);

    IncomingFile fresh = incoming(folder, "Sub/new.txt", "downloaded");
    EXPECT_TRUE(fresh.temporaryName().startsWith(".tavrel-download-"));
    EXPECT_TRUE(QFileInfo::exists(docs("Sub/" + fresh.temporaryName())));
    EXPECT_EQ(fresh.hash(), QCryptographicHash::hash("downloaded", QCryptographicHash::Sha256).toHex());
    ASSERT_TRUE(fresh.placeNew());
    EXPECT_EQ(readFile(docs("Sub/new.txt")), "downloaded");
    EXPECT_EQ(modeOf(docs("Sub/new.txt")), 0644u)
        << "ordinary permissions, as the umask gives them";

    // The user saves a file of that name while the download runs: it stays,
    // and the download can go beside it.
    IncomingFile late = incoming(folder, "Sub/race.txt", "server");
    writeFile(docs("Sub/race.txt"), "user");
    EXPECT_FALSE(late.placeNew());
    EXPECT_EQ(readFile(docs("Sub/race.txt")), "user");
    const QString copy = conflictCopyName("race.txt", QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)));
    writeFile(docs("Sub/" + copy), "older copy");
    EXPECT_FALSE(late.placeNewAs(copy));
    EXPECT_EQ(readFile(docs("Sub/" + copy)), "older copy");
    // A second copy within the same second takes the next number.
    const QString taken = takeConflictCopyName("race.txt", QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)),
                                               [&late](const QString &name) { return late.placeNewAs(name); });
    EXPECT_EQ(taken, "race (conflicted copy 2026-01-02 030405 2).txt");
    EXPECT_EQ(readFile(docs("Sub/" + taken)), "server");
    EXPECT_EQ(readFile(docs("Sub/" + copy)), "older copy");

    // Even a dangling link holds its place, and its target is not created.
    makeLink(outside.filePath("made.txt"), docs("Sub/dangling.txt"));
    IncomingFile dangling = incoming(folder, "Sub/dangling.txt", "x");
    EXPECT_FALSE(dangling.placeNew());
    EXPECT_FALSE(QFileInfo::exists(outside.filePath("made.txt")));

    // Renaming a user's file aside never replaces either.
    writeFile(docs("Sub/mine.txt"), "mine");
    writeFile(docs("Sub/taken.txt"), "taken");
    EXPECT_FALSE(folder.moveAside("Sub/mine.txt", "taken.txt"));
    EXPECT_TRUE(folder.moveAside("Sub/mine.txt", "mine aside.txt"));
    EXPECT_EQ(readFile(docs("Sub/taken.txt")), "taken");
    EXPECT_EQ(readFile(docs("Sub/mine aside.txt")), "mine");
    EXPECT_THROW((void)folder.moveAside("Sub/mine.txt", "again.txt"), FileError);

    ::umask(oldMask);
    dangling = incoming(folder, "Sub/other.txt", "y"); // the old one's temporary goes
    late.discard();
    fresh.discard();
    dangling.discard();
    EXPECT_EQ(allNames(docs("Sub")).filter(".tavrel-download-"), QStringList());
}

TEST_F(FolderAccessTest, ReplacesOnlyTheVersionTheCallerChecked)
{
    writeFile(docs("Sub/doc.txt"), "old");
    ASSERT_TRUE(QFile::setPermissions(docs("Sub/doc.txt"), QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    const FolderAccess folder(docs());

    const FileFacts seen = folder.facts("Sub/doc.txt");
    IncomingFile update = incoming(folder, "Sub/doc.txt", "new");
    ASSERT_TRUE(update.replace(seen));
    EXPECT_EQ(readFile(docs("Sub/doc.txt")), "new");
    EXPECT_EQ(modeOf(docs("Sub/doc.txt")), 0600u)
        << "the replaced file's permissions";

    // Saved again after the check, or removed: the user's version stays.
    const FileFacts checked = folder.facts("Sub/doc.txt");
    IncomingFile stale = incoming(folder, "Sub/doc.txt", "server");
    writeFile(docs("Sub/doc.txt"), "saved again");
    EXPECT_FALSE(stale.replace(checked));
    EXPECT_EQ(readFile(docs("Sub/doc.txt")), "saved again");
    ASSERT_TRUE(QFile::remove(docs("Sub/doc.txt")));
    EXPECT_FALSE(stale.replace(checked));
    EXPECT_FALSE(QFileInfo::exists(docs("Sub/doc.txt")));
    ASSERT_TRUE(stale.placeNew());
    EXPECT_EQ(readFile(docs("Sub/doc.txt")), "server");
    EXPECT_THROW((void)stale.placeNew(), FileError) << "a placed file cannot be placed again";
}

TEST_F(FolderAccessTest, TrashKeepsTheFileAndWhereItCameFrom)
{
    writeFile(docs("Sub/a b%.txt"), "first");
    const FolderAccess folder(docs());
    folder.moveToTrash("Sub/a b%.txt");
    EXPECT_FALSE(QFileInfo::exists(docs("Sub/a b%.txt")));
    EXPECT_EQ(readFile(trashed("files/a b%.txt")), "first");
    const QString info = QString::fromUtf8(readFile(trashed("info/a b%.txt.trashinfo")));
    const QString encoded = QString::fromLatin1(QFile::encodeName(docs("Sub/a b%.txt")).toPercentEncoding("/"));
    EXPECT_TRUE(QRegularExpression("^\\[Trash Info\\]\nPath=" + QRegularExpression::escape(encoded)
                                   + "\nDeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n$")
                    .match(info)
                    .hasMatch())
        << info.toStdString();
    EXPECT_TRUE(encoded.endsWith("/Docs/Sub/a%20b%25.txt"));

    // A second file of that name takes another name, the first stays.
    writeFile(docs("Sub/a b%.txt"), "second");
    folder.moveToTrash("Sub/a b%.txt");
    EXPECT_EQ(readFile(trashed("files/a b%.txt")), "first");
    EXPECT_EQ(readFile(trashed("files/a b% 2.txt")), "second");
    EXPECT_TRUE(QFileInfo::exists(trashed("info/a b% 2.txt.trashinfo")));

    EXPECT_THROW(folder.moveToTrash("Sub/missing.txt"), FileError);
    EXPECT_THROW(folder.moveToTrash("Sub"), FileError) << "only files are trashed";
}

TEST_F(FolderAccessTest, TrashOnAnotherFileSystemIsAtItsTop)
{
    testsupport::TmpfsMount disk(1 << 20);
    if (!disk.isMounted())
        GTEST_SKIP() << "mounting a file system is not permitted here";
    const QString uid = QString::number(::getuid());
    ASSERT_TRUE(QDir().mkpath(disk.filePath("Docs/Sub")));
    const FolderAccess folder(disk.filePath("Docs"));

    // Without a shared .Trash: the user's own .Trash-<uid>.
    writeFile(disk.filePath("Docs/Sub/one.txt"), "one");
    folder.moveToTrash("Sub/one.txt");
    EXPECT_EQ(readFile(disk.filePath(".Trash-" + uid + "/files/one.txt")), "one");
    EXPECT_TRUE(readFile(disk.filePath(".Trash-" + uid + "/info/one.txt.trashinfo")).contains("/Docs/Sub/one.txt\n"));
    EXPECT_FALSE(QFileInfo::exists(trashed("files/one.txt")));

    // A shared .Trash is used only with the sticky bit.
    ASSERT_TRUE(QDir().mkpath(disk.filePath(".Trash")));
    writeFile(disk.filePath("Docs/two.txt"), "two");
    folder.moveToTrash("two.txt");
    EXPECT_TRUE(QFileInfo::exists(disk.filePath(".Trash-" + uid + "/files/two.txt")));
    ASSERT_EQ(::chmod(QFile::encodeName(disk.filePath(".Trash")).constData(), 01777), 0);
    writeFile(disk.filePath("Docs/three.txt"), "three");
    folder.moveToTrash("three.txt");
    EXPECT_EQ(readFile(disk.filePath(".Trash/" + uid + "/files/three.txt")), "three");

    // No Trash can take it: the file stays.
    testsupport::TmpfsMount bare(1 << 20);
    ASSERT_TRUE(bare.isMounted());
    writeFile(bare.filePath(".Trash-" + uid), "not a folder");
    writeFile(bare.filePath("four.txt"), "four");
    try {
        FolderAccess(bare.path()).moveToTrash("four.txt");
        ADD_FAILURE() << "no Trash was there to take it";
    } catch (const FileError &error) {
        EXPECT_TRUE(error.description().contains("no Trash")) << error.description().toStdString();
    }
    EXPECT_EQ(readFile(bare.filePath("four.txt")), "four");
}

TEST_F(FolderAccessTest, ADownloadsFactsAreThoseOfTheBytesWrittenAsPlacedAndItKeepsTheOldPermissions)
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
    // The rename moved the status change time; as placed, the facts are
    // those on disk, so the next look does not read the file again.
    const FileFacts recorded = incoming.asPlaced(written);
    EXPECT_TRUE(placed.isSameVersion(recorded));

    // Written to after the placement: the facts recorded no longer match,
    // so the file is read again.
    const auto append = [](const QString &path) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::Append));
        file.write("!");
    };
    append(docs("Sub/new.txt"));
    EXPECT_FALSE(folder.facts("Sub/new.txt").isSameVersion(recorded));

    // Written to between the facts and the placement: the facts as written
    // stand, and the difference is left for a read to find.
    IncomingFile another = folder.createIncoming("Sub/other.txt");
    ASSERT_EQ(another.device().write("downloaded"), 10);
    const FileFacts before = another.writtenFacts();
    append(docs("Sub/" + another.temporaryName()));
    ASSERT_TRUE(another.placeNew());
    EXPECT_EQ(another.asPlaced(before).changedNs, before.changedNs);
    EXPECT_FALSE(folder.facts("Sub/other.txt").isSameVersion(another.asPlaced(before)));
}

// The facts of a download stand from its placement only where its time
// shows the file system's times to be fine-grained; otherwise from the
// clock reading taken after the writes, and a file written within that
// tick is read again.
TEST_F(FolderAccessTest, ADownloadsFactsStandFromItsPlacementOnlyWhereTimesAreFine)
{
    struct statfs volume;
    if (::statfs(QFile::encodeName(docs()).constData(), &volume) != 0 || !descriptors::isLocalFileSystem(volume))
        GTEST_SKIP() << "the temporary folder is not on a local file system";
    const FolderAccess folder(docs());
    // The bytes' time is set `aheadNs` from the clock reading after the writes.
    const auto placedWithTime = [&](const QString &name, qint64 aheadNs, qint64 &writtenNs) {
        IncomingFile incoming = folder.createIncoming(name);
        EXPECT_EQ(incoming.device().write("downloaded"), 10);
        writtenNs = descriptors::fileClockNs();
        const qint64 modifiedNs = writtenNs + aheadNs;
        const timespec times[2] = {{0, UTIME_OMIT}, {time_t(modifiedNs / 1000000000), long(modifiedNs % 1000000000)}};
        EXPECT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(docs(incoming.temporaryName())).constData(), times, 0), 0);
        const FileFacts written = incoming.writtenFacts();
        EXPECT_TRUE(incoming.placeNew());
        return incoming.placedAtNs(written, writtenNs);
    };
    qint64 writtenNs = 0;
    const qint64 fine = placedWithTime("fine.txt", 1000000, writtenNs);
    EXPECT_GT(fine, writtenNs);
    EXPECT_LE(fine, descriptors::preciseClockNs());
    const qint64 coarse = placedWithTime("coarse.txt", -1000000, writtenNs);
    EXPECT_EQ(coarse, writtenNs);
}

TEST_F(FolderAccessTest, AFileMovedToTheTrashCanBeCheckedAndPutBack)
{
    const FolderAccess folder(docs());
    writeFile(docs("Sub/a.txt"), "saved just now");
    ASSERT_EQ(::chmod(QFile::encodeName(docs("Sub/a.txt")).constData(), 0640), 0);
    TrashedFile trashed = folder.moveToTrash("Sub/a.txt");
    EXPECT_EQ(trashed.facts().permissions, 0640u);
    EXPECT_EQ(trashed.hash(), sha256("saved just now"));
    EXPECT_FALSE(QFileInfo::exists(docs("Sub/a.txt")));
    EXPECT_EQ(trashed.restore("a (conflicted copy).txt"), QString("Sub/a.txt"));
    EXPECT_EQ(readFile(docs("Sub/a.txt")), "saved just now");
    EXPECT_TRUE(QDir(home.filePath("data/Trash/files")).isEmpty());
    EXPECT_TRUE(QDir(home.filePath("data/Trash/info")).isEmpty());

    // Something new took the place meanwhile: it stays, and the file comes
    // back beside it.
    TrashedFile again = folder.moveToTrash("Sub/a.txt");
    writeFile(docs("Sub/a.txt"), "newer");
    EXPECT_EQ(again.restore("a (conflicted copy).txt"), QString("Sub/a (conflicted copy).txt"));
    EXPECT_EQ(readFile(docs("Sub/a.txt")), "newer");
    EXPECT_EQ(readFile(docs("Sub/a (conflicted copy).txt")), "saved just now");

    // Both names taken: nothing is replaced, and the file waits in the Trash
    // for a name that is free.
    TrashedFile third = folder.moveToTrash("Sub/a (conflicted copy).txt");
    writeFile(docs("Sub/a (conflicted copy).txt"), "newest");
    EXPECT_EQ(third.restore("a.txt"), std::nullopt);
    EXPECT_EQ(readFile(docs("Sub/a.txt")), "newer");
    EXPECT_EQ(readFile(docs("Sub/a (conflicted copy).txt")), "newest");
    EXPECT_EQ(third.hash(), sha256("saved just now"));
    EXPECT_EQ(third.restore("a (2).txt"), QString("Sub/a (2).txt"));
    EXPECT_EQ(readFile(docs("Sub/a (2).txt")), "saved just now");
}

TEST_F(FolderAccessTest, OnlyOurOwnDownloadTemporariesOfAnEarlierRunAreRemoved)
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

TEST_F(FolderAccessTest, TimesBeyondTheNanosecondRangeAreHeldAtItsEnds)
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

TEST(ConflictCopyName, KeepsTheExtensionAndFitsTheFileSystem)
{
    const QDateTime when(QDate(2026, 3, 4), QTime(5, 6, 7));
    EXPECT_EQ(conflictCopyName("a.txt", when), "a (conflicted copy 2026-03-04 050607).txt");
    EXPECT_EQ(conflictCopyName("archive.tar.gz", when), "archive.tar (conflicted copy 2026-03-04 050607).gz");
    EXPECT_EQ(conflictCopyName("README", when), "README (conflicted copy 2026-03-04 050607)");
    EXPECT_EQ(conflictCopyName(".hidden", when), ".hidden (conflicted copy 2026-03-04 050607)");
    EXPECT_EQ(conflictCopyName("a.txt", when, 2), "a (conflicted copy 2026-03-04 050607 2).txt");

    // Names near the limit lose the end of their stem, never a character's half.
    QString longName;
    for (int i = 0; i < 61; ++i)
        longName += QString::fromUcs4(U"\U0001F600"); // 4 bytes each, two QChars
    longName += ".txt";
    const QString copy = conflictCopyName(longName, when);
    EXPECT_LE(QFile::encodeName(copy).size(), 255);
    EXPECT_TRUE(copy.endsWith(" (conflicted copy 2026-03-04 050607).txt"));
    EXPECT_EQ(QFile::decodeName(QFile::encodeName(copy)), copy);
    EXPECT_LE(QFile::encodeName(conflictCopyName("a." + QString(250, 'x'), when)).size(), 255);
}
