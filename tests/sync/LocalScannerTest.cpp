#include "support/FilePermissions.h"
#include "sync/LocalScanner.h"

#include "api/Errors.h"
#include "platform/FolderAccess.h"
#include "support/TestSupport.h"
#include "support/TmpfsMount.h"

#include <QCryptographicHash>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using testsupport::writeFile;

class LocalScannerTest : public ::testing::Test {
protected:
    void SetUp() override { root = dir.filePath("root"); }
    void TearDown() override
    {
        // Give back permission so that the temporary directory can go.
        for (const QString &path : std::as_const(restricted))
            QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    QString path(const QString &relative) const { return root + "/" + relative; }
    void file(const QString &relative) { writeFile(path(relative), relative.toUtf8()); }
    void makeDir(const QString &relative) { ASSERT_TRUE(QDir().mkpath(path(relative))); }
    void link(const QString &target, const QString &relative)
    {
        testsupport::makeLink(target, path(relative));
    }
    void restrict(const QString &fullPath, QFileDevice::Permissions permissions)
    {
        restricted.append(fullPath);
        ASSERT_TRUE(QFile::setPermissions(fullPath, permissions));
    }

    // Paths relative to the folder, in listing order.
    QStringList relativePaths(const LocalScanner::Listing &listing) const
    {
        QStringList result;
        for (const auto &file : listing.files)
            result.append(file.path.mid(root.size() + 1));
        return result;
    }

    QTemporaryDir dir;
    QString root;
    QStringList restricted;
};

TEST_F(LocalScannerTest, LeavesOutTheIgnoredHiddenAndPartialFiles)
{
    for (const char *name : {"a.txt", "desktop.ini", "Report.TMP", "thumbs.db", "x.tmp.txt", ".hidden", "._a.txt",
                             "~lock.docx", "b.tmp", "c.crdownload", "d.part", ".DS_Store", "Thumbs.db",
                             ".localized"})
        file(name);
    // Hidden directories are skipped with everything inside them; the tables
    // themselves apply to files only.
    file(".git/config");
    file(".cache/deep/x.pdf");
    file("~backup/kept.txt");
    file("build.tmp/inner.txt");

    const auto listing = LocalScanner::scanLocalFiles(root);
    EXPECT_TRUE(listing.readable);
    EXPECT_EQ(relativePaths(listing), (QStringList{"Report.TMP", "a.txt", "build.tmp/inner.txt", "desktop.ini",
                                                   "thumbs.db", "x.tmp.txt", "~backup/kept.txt"}));
    EXPECT_EQ(listing.files.front().name, "Report.TMP");
    EXPECT_TRUE(listing.unreadableDirectories.isEmpty());

    // A path already held elsewhere is shared, not copied; the listing is
    // the same.
    const QString known = root + "/a.txt";
    const auto sharing = LocalScanner::scanLocalFiles(FolderAccess(root), {}, [&](const QString &path) {
        return path == known ? known : QString();
    });
    EXPECT_EQ(relativePaths(sharing), relativePaths(listing));
    EXPECT_EQ(sharing.files[1].path.constData(), known.constData());

    EXPECT_TRUE(LocalScanner::isIgnoredName(".DS_Store"));
    EXPECT_TRUE(LocalScanner::isIgnoredName("~$budget.xlsx"));
    EXPECT_TRUE(LocalScanner::isIgnoredName("movie.mkv.part"));
    EXPECT_FALSE(LocalScanner::isIgnoredName("caf\u00e9~.txt"));
    EXPECT_FALSE(LocalScanner::isIgnoredName("a.PART"));
}

TEST_F(LocalScannerTest, DescendsIntoSubdirectoriesAndKeepsEveryPathOfSharedNames)
{
    file("x.pdf");
    file("Sub/x.pdf");
    file("Sub/Deeper/x.pdf");
    file("Sub/Deeper/only.txt");
    makeDir("Empty/Nested");

    const auto listing = LocalScanner::scanLocalFiles(root + "/");
    EXPECT_TRUE(listing.readable);
    EXPECT_EQ(relativePaths(listing), (QStringList{"Sub/Deeper/only.txt", "Sub/Deeper/x.pdf", "Sub/x.pdf", "x.pdf"}));
    EXPECT_EQ(listing.topLevelOthers, (QSet<QString>{"Sub", "Empty"}));
    // The facts that tell an unchanged file without reading it.
    const auto &only = listing.files.front();
    const QFileInfo info(only.path);
    EXPECT_EQ(only.facts.size, info.size());
    EXPECT_EQ(only.facts.modifiedNs / 1000000, info.lastModified().toMSecsSinceEpoch());
    EXPECT_GT(only.facts.inode, 0);
}

TEST_F(LocalScannerTest, NeverFollowsOrListsSymbolicLinks)
{
    file("real.txt");
    file("inner/inside.txt");
    writeFile(dir.filePath("outside/secret.txt"), "outside");
    link(path("real.txt"), "link-to-file.txt");
    link(path("inner"), "link-to-dir");
    link(dir.filePath("outside"), "link-outside");
    link(dir.filePath("outside/secret.txt"), "inner/secret-link.txt");
    link(path("missing"), "dangling.txt");
    link(root, "inner/loop");
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("pipe")).constData(), 0600), 0);

    const auto listing = LocalScanner::scanLocalFiles(root);
    EXPECT_TRUE(listing.readable);
    EXPECT_EQ(relativePaths(listing), (QStringList{"inner/inside.txt", "real.txt"}));
    EXPECT_TRUE(listing.unreadableDirectories.isEmpty());
    // A tracked path that now runs through a link is not a removed file.
    EXPECT_EQ(LocalScanner::classifyUnlisted(root, path("link-to-dir/inside.txt")), LocalScanner::Absence::crossesLink);
    EXPECT_EQ(LocalScanner::classifyUnlisted(root, path("pipe")), LocalScanner::Absence::present);
    EXPECT_EQ(LocalScanner::classifyUnlisted(root, path("inner/gone.txt")), LocalScanner::Absence::gone);
    EXPECT_EQ(LocalScanner::classifyUnlisted(root, path("nodir/gone.txt")), LocalScanner::Absence::gone);

    // The watched folder itself may be reached through a link.
    link(root, "../root-link");
    const auto viaLink = LocalScanner::scanLocalFiles(dir.filePath("root-link"));
    EXPECT_TRUE(viaLink.readable);
    EXPECT_EQ(viaLink.files.back().path, dir.filePath("root-link/real.txt"));
}

TEST_F(LocalScannerTest, TellsAMissingFolderFromAnEmptyOne)
{
    const auto missing = LocalScanner::scanLocalFiles(root);
    EXPECT_FALSE(missing.readable);
    EXPECT_TRUE(missing.files.empty());
    EXPECT_FALSE(LocalScanner::scanLocalFiles(QString()).readable);

    makeDir("");
    const auto empty = LocalScanner::scanLocalFiles(root);
    EXPECT_TRUE(empty.readable);
    EXPECT_TRUE(empty.files.empty());

    // A file where the folder should be is no folder.
    writeFile(dir.filePath("plain"), "x");
    EXPECT_FALSE(LocalScanner::scanLocalFiles(dir.filePath("plain")).readable);
}

TEST_F(LocalScannerTest, ReportsUnreadableDirectoriesWithoutLosingTheRest)
{
    const testsupport::PermissionsApply permissions;
    ASSERT_TRUE(permissions.active());
    file("top.txt");
    file("locked/hidden-from-us.txt");
    file("listable-only/a.txt");
    file("open/b.txt");
    restrict(path("locked"), {});
    // Names readable but not reachable: its files could not be hashed.
    restrict(path("listable-only"), QFileDevice::ReadOwner);

    const auto listing = LocalScanner::scanLocalFiles(root);
    EXPECT_TRUE(listing.readable);
    EXPECT_EQ(relativePaths(listing), (QStringList{"open/b.txt", "top.txt"}));
    QStringList unreadable = listing.unreadableDirectories;
    unreadable.sort();
    EXPECT_EQ(unreadable, (QStringList{path("listable-only"), path("locked")}));

    // The folder itself unreadable: nothing is listed and it says so.
    restrict(root, QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const auto closed = LocalScanner::scanLocalFiles(root);
    EXPECT_FALSE(closed.readable);
    EXPECT_TRUE(closed.files.empty());
}

TEST_F(LocalScannerTest, NamesThatAreNotValidTextAreLeftOutAndListedWithTheReason)
{
    makeDir("");
    file("good.txt");
    const QByteArray badName = QFile::encodeName(root) + "/bad\xff.txt";
    const int fd = ::open(badName.constData(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ::close(fd);
    const QByteArray badFolder = QFile::encodeName(root) + "/F\xfe";
    ASSERT_EQ(::mkdir(badFolder.constData(), 0700), 0);
    const int inner = ::open((badFolder + "/inner.txt").constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    ASSERT_GE(inner, 0);
    ::close(inner);

    const auto listing = LocalScanner::scanLocalFiles(root);
    EXPECT_EQ(relativePaths(listing), QStringList{"good.txt"});
    ASSERT_EQ(listing.notSynced.size(), 2u);
    EXPECT_EQ(listing.notSynced[0].path, path(QString::fromUtf8("F\uFFFD")));
    EXPECT_TRUE(listing.notSynced[0].reason.contains("not valid UTF-8"));
    EXPECT_EQ(listing.notSynced[1].path, path(QString::fromUtf8("bad\uFFFD.txt")));
    EXPECT_TRUE(listing.notSynced[1].reason.contains("not valid UTF-8"));
}

TEST_F(LocalScannerTest, MountPointsAreFoundAndWhileNothingIsMountedNothingBelowIsGone)
{
    makeDir("usb");
    file("top.txt");
    testsupport::TmpfsMount drive(1 << 20, path("usb"));
    if (!drive.isMounted())
        GTEST_SKIP() << "mounting a file system is not permitted here";
    file("usb/a.txt");

    const auto mounted = LocalScanner::scanLocalFiles(root);
    EXPECT_EQ(relativePaths(mounted), (QStringList{"top.txt", "usb/a.txt"}));
    EXPECT_EQ(mounted.mountPoints, QStringList{"usb"});
    EXPECT_TRUE(mounted.unreadableDirectories.isEmpty());

    // Unmounted: the empty folder left is on its folder's file system again.
    drive.unmount();
    const FolderAccess folder(root);
    const auto unmounted = LocalScanner::scanLocalFiles(folder, {"usb"});
    EXPECT_EQ(relativePaths(unmounted), QStringList{"top.txt"});
    EXPECT_TRUE(unmounted.mountPoints.isEmpty());
    EXPECT_EQ(unmounted.notMounted, QStringList{"usb"});
    EXPECT_EQ(unmounted.unreadableDirectories, QStringList{path("usb")});
    ASSERT_EQ(unmounted.notSynced.size(), 1u);
    EXPECT_TRUE(unmounted.notSynced[0].reason.startsWith("Not mounted")) << unmounted.notSynced[0].reason.toStdString();
    // Gone altogether: the same.
    ASSERT_TRUE(QDir(path("usb")).removeRecursively());
    EXPECT_EQ(LocalScanner::scanLocalFiles(folder, {"usb"}).unreadableDirectories, QStringList{path("usb")});
}

// A walk made before the known paths and mount points were read (while the
// state loads) is completed into what a scan with them lists.
TEST_F(LocalScannerTest, AnEarlyListingCompletedIsTheScanWithWhatWasKnown)
{
    file("a.txt");
    file("sub/b.txt");
    const FolderAccess folder(root);
    const QString knownA = path("a.txt");
    const LocalScanner::KnownPath knownPath = [&](const QString &listed) {
        return listed == knownA ? knownA : QString();
    };
    const auto scanned = LocalScanner::scanLocalFiles(folder, {"usb"}, knownPath);
    auto early = LocalScanner::scanLocalFiles(folder);
    EXPECT_TRUE(early.notMounted.isEmpty());
    LocalScanner::adoptKnown(early, folder, {"usb"}, knownPath);

    EXPECT_EQ(relativePaths(early), relativePaths(scanned));
    EXPECT_TRUE(early.files.front().path.isSharedWith(knownA));
    EXPECT_EQ(early.notMounted, scanned.notMounted);
    EXPECT_EQ(early.unreadableDirectories, QStringList{path("usb")});
    ASSERT_EQ(early.notSynced.size(), 1u);
    EXPECT_EQ(early.notSynced[0].reason, scanned.notSynced[0].reason);
}

// Read in 1 MiB chunks: files across chunk boundaries hash as their whole
// content; one that cannot be read throws, naming it.
TEST_F(LocalScannerTest, HashesWholeFilesOrThrows)
{
    constexpr qsizetype mib = 1024 * 1024;
    for (const qsizetype size : {qsizetype(0), mib - 1, mib, mib + 1, 3 * mib + 1}) {
        QByteArray content(size, Qt::Uninitialized);
        for (qsizetype i = 0; i < size; ++i)
            content[i] = char((i * 2654435761u) >> 13);
        const QString file = dir.filePath(QStringLiteral("f%1").arg(size));
        writeFile(file, content);
        EXPECT_EQ(LocalScanner::computeFileHash(file),
                  QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex()))
            << size;
    }
    try {
        LocalScanner::computeFileHash(dir.filePath("missing"));
        ADD_FAILURE() << "a missing file was hashed";
    } catch (const FileError &error) {
        EXPECT_TRUE(error.description().contains(dir.filePath("missing"))) << error.description().toStdString();
    }
    testsupport::makeLink(dir.filePath("f0"), dir.filePath("link"));
    EXPECT_THROW(LocalScanner::computeFileHash(dir.filePath("link")), FileError);
    if (const testsupport::PermissionsApply permissions; permissions.active()) {
        ASSERT_TRUE(QFile::setPermissions(dir.filePath("f0"), {}));
        EXPECT_THROW(LocalScanner::computeFileHash(dir.filePath("f0")), FileError);
    }
}
