// A pass acts on what it checked: the folder opened at its start, the
// document and file as they are at the moment of acting, the file opened for
// sending, the facts of the bytes it wrote; and what it cannot see (an
// unmounted drive, a folder turned into a link or a file, an unusable name)
// is told, never taken as removed.
#include "EngineFixture.h"

#include "platform/FolderAccess.h"
#include "support/TmpfsMount.h"

#include <cstring>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// A disk's renames as the tests want them: each rename first goes through
// this hook, which may act on the disk in that moment (a save racing the
// client) or fail it with an errno. A failing disk cannot be had here
// otherwise.
using RenameHook = std::function<int(int fromDir, const char *from, const char *to)>;
std::mutex renameHookLock;
RenameHook renameHook;

void setRenameHook(RenameHook hook)
{
    const std::lock_guard held(renameHookLock);
    renameHook = std::move(hook);
}

void overwriteAt(int folder, const char *name, const std::string &content)
{
    const int fd = ::openat(folder, name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    ::close(fd);
}

} // namespace

extern "C" int renameat2(int fromDir, const char *from, int toDir, const char *to, unsigned int flags)
{
    const std::lock_guard held(renameHookLock);
    if (renameHook) {
        if (const int error = renameHook(fromDir, from, to)) {
            errno = error;
            return -1;
        }
    }
    return static_cast<int>(::syscall(SYS_renameat2, fromDir, from, toDir, to, flags));
}

using testsupport::fault;
using testsupport::readFile;
using testsupport::writeFile;

class ActsOnWhatItCheckedTest : public EngineFixture {
protected:
    // Starts a pass whose `look`-th status answer (the plan's is the first)
    // is held for a while after it was made; returns once it is on its way,
    // for someone to act in that moment.
    QCoro::Task<void> passHeldAtLook(int look)
    {
        running.server.clearRequests();
        for (int earlier = 1; earlier < look; ++earlier)
            running.server.injectFault(fault({.method = "GET", .path = "/api/v1/sync/status", .count = 1}));
        running.server.injectFault(fault({.method = "GET", .path = "/api/v1/sync/status", .delayMs = 300, .count = 1}));
        QCoro::Task<void> pass = engine->performSync();
        EXPECT_TRUE(testsupport::waitUntil([&] { return requestCount("GET", "/api/v1/sync/status") == look; },
                                           "the held answer"));
        return pass;
    }
};

// mv Docs Docs.old; mkdir Docs, while the pass waits for the server: that
// pass acts on the folder it opened, and the next finds the folder replaced
// and changes nothing on either side.
TEST_F(ActsOnWhatItCheckedTest, AFolderSwappedWhileTheServerIsAskedIsSeenByTheNextPassNeverActedOn)
{
    const QString docs = watch("Docs");
    writeFiles(docs, numbered(6), "precious");
    appState->saveBookmarks(); // records the folder's identity, as choosing it does
    appState->loadBookmarks();
    syncOk();
    ASSERT_EQ(documentsOf(docs).size(), 6u);

    running.server.injectFault(fault({.method = "GET", .path = "/api/v1/sync/status*", .delayMs = 500, .count = 1}));
    running.server.clearRequests();
    QCoro::Task<void> pass = passUntil("GET", "/api/v1/sync/status");
    ASSERT_TRUE(QDir().rename(docs, area.filePath("Docs.old")));
    ASSERT_TRUE(QDir().mkpath(docs));
    testsupport::run(std::move(pass));
    EXPECT_EQ(deletions(), 0);

    sync();
    EXPECT_EQ(appState->syncStatus().kind, SyncStatus::Kind::error);
    EXPECT_TRUE(appState->syncStatus().message.contains(docs));
    EXPECT_EQ(appState->foldersNeedingChoice(), QStringList{docs});
    EXPECT_EQ(deletions() + uploads(), 0);
    EXPECT_EQ(documentsOf(docs).size(), 6u);
    EXPECT_EQ(readFile(area.filePath("Docs.old/f0.txt")), "precious");
}

// Another computer saves a document whose file was removed here, while the
// pass's answer, made before the save, is on its way (the deletion is not
// made), or after the last look just before the deletion (the deletion names
// the version it looked at and the server refuses it): either way the saved
// version is kept and comes down.
TEST_F(ActsOnWhatItCheckedTest, ADocumentChangedBeforeItsDeletionReachesTheServerIsKept)
{
    const QString docs = watch("Docs");
    for (const int look : {1, 2}) {
        SCOPED_TRACE(look);
        writeFile(docs + "/x.txt", "agreed");
        syncOk();
        QFile::remove(docs + "/x.txt");
        QCoro::Task<void> pass = passHeldAtLook(look);
        putDocument(docs, "x.txt", "saved elsewhere");
        testsupport::run(std::move(pass));
        ASSERT_EQ(appState->syncStatus(), SyncStatus::idle());

        EXPECT_EQ(deletions(), look - 1) << "asked, and refused";
        EXPECT_EQ(serverContent(docs, "x.txt"), "saved elsewhere");
        EXPECT_EQ(readFile(docs + "/x.txt"), "saved elsewhere");
        EXPECT_EQ(transfersOfPass(), 0) << "agreed from then on";
    }
}

// The same moment before an upload, of a file the server knew or of a new
// one: the upload names the version it replaces (or none) and is refused,
// and both versions stay (side by side, or the new file listed as not
// synced beside the other document of its name).
TEST_F(ActsOnWhatItCheckedTest, AVersionSavedAfterTheLastLookIsNotReplacedUnseen)
{
    const QString docs = watch("Docs");
    writeFile(docs + "/x.txt", "agreed");
    syncOk();
    for (const char *name : {"x.txt", "new.txt"}) {
        SCOPED_TRACE(name);
        writeFile(docs + "/" + name, "saved here");
        // A replacing upload looks once more just before; a new file's
        // upload goes on the plan's answer.
        QCoro::Task<void> pass = passHeldAtLook(name == std::string("x.txt") ? 2 : 1);
        putDocument(docs, name, "saved elsewhere");
        testsupport::run(std::move(pass));
        EXPECT_EQ(uploads(), 1);
        EXPECT_EQ(serverContent(docs, name), "saved elsewhere");
        EXPECT_EQ(log.linesWith(QString("Upload of %1 waits").arg(name)).size(), 1);

        syncOk();
        syncOk();
        std::set<QByteArray> kept;
        const QString stem = QString(name).section('.', 0, 0);
        for (const QString &file : QDir(docs).entryList({stem + "*"}, QDir::Files))
            kept.insert(readFile(docs + "/" + file));
        for (const auto &[documentName, document] : documentsOf(docs))
            if (documentName.rfind(stem.toStdString(), 0) == 0)
                kept.insert(QByteArray::fromStdString(running.server.content(document.id).value_or("")));
        EXPECT_EQ(kept, (std::set<QByteArray>{"saved elsewhere", "saved here"}));
    }
}

TEST_F(ActsOnWhatItCheckedTest, ASaveDuringADownloadKeepsTheUsersFile)
{
    const QString docs = watch("Docs");
    syncOk();
    putDocument(docs, "report.txt", "server version");
    running.server.injectFault(fault({.method = "GET", .path = "/files/*", .delayMs = 600}));
    QCoro::Task<void> pass = passUntil("GET", "/files/");
    writeFile(docs + "/report.txt", "saved by the user");
    testsupport::run(std::move(pass));

    EXPECT_EQ(readFile(docs + "/report.txt"), "saved by the user");
    const QStringList copies = conflictCopies(docs);
    ASSERT_EQ(copies.size(), 1);
    EXPECT_EQ(readFile(docs + "/" + copies.front()), "server version");
}

// A download replacing the unchanged copy here, when the rename that puts it
// in place fails after the copy went to the Trash, or when saves land around
// that rename: the user's files are where they were or beside it, never left
// in the Trash unseen.
TEST_F(ActsOnWhatItCheckedTest, WhatHappensAroundADownloadsRenameLosesNothing)
{
    const QString docs = watch("Docs");
    const auto downloadOfReportOverUnchangedCopy = [&] {
        QFile::remove(docs + "/report.txt");
        for (const QString &copy : conflictCopies(docs))
            QFile::remove(docs + "/" + copy);
        writeFile(docs + "/report.txt", "sent from here");
        syncOk();
        putDocument(docs, "report.txt", "edited elsewhere");
    };
    const auto isDownload = [](const char *from) { return std::strncmp(from, ".tavrel-download-", 17) == 0; };
    {
        SCOPED_TRACE("the disk fails the rename");
        downloadOfReportOverUnchangedCopy();
        setRenameHook([&](int, const char *from, const char *) { return isDownload(from) ? EIO : 0; });
        sync();
        setRenameHook(nullptr);
        EXPECT_EQ(readFile(docs + "/report.txt"), "sent from here");
        EXPECT_TRUE(trashedNames(home).isEmpty()) << trashedNames(home).join(", ").toStdString();
        syncOk();
        EXPECT_EQ(readFile(docs + "/report.txt"), "edited elsewhere");
        EXPECT_TRUE(conflictCopies(docs).isEmpty());
    }
    {
        SCOPED_TRACE("a save just before the move to the Trash, another just before the placement");
        downloadOfReportOverUnchangedCopy();
        bool toTheTrash = true, placed = true;
        setRenameHook([&](int fromDir, const char *from, const char *to) {
            if (std::strcmp(from, "report.txt") == 0 && std::exchange(toTheTrash, false))
                overwriteAt(fromDir, from, "saved as it went to the Trash");
            else if (isDownload(from) && std::exchange(placed, false))
                overwriteAt(fromDir, to, "saved as the download was placed");
            return 0;
        });
        syncOk();
        setRenameHook(nullptr);
        EXPECT_EQ(readFile(docs + "/report.txt"), "saved as the download was placed");
        std::set<QByteArray> besideIt;
        for (const QString &copy : conflictCopies(docs))
            besideIt.insert(readFile(docs + "/" + copy));
        EXPECT_EQ(besideIt, (std::set<QByteArray>{"edited elsewhere", "saved as it went to the Trash"}));
    }
}

// A save lands in the instant between the check of a file whose document
// was deleted on the server and its move to the Trash: the saved file comes
// back from the Trash and goes up as a new document.
TEST_F(ActsOnWhatItCheckedTest, ASaveAsAFileGoesToTheTrashBringsItBack)
{
    const QString docs = watch("Docs");
    writeFile(docs + "/notes.txt", "agreed");
    syncOk();
    running.server.deleteDocument(documentsOf(docs).at("notes.txt").id);
    bool first = true;
    setRenameHook([&](int fromDir, const char *from, const char *) {
        if (std::strcmp(from, "notes.txt") == 0 && std::exchange(first, false))
            overwriteAt(fromDir, from, "saved as it went to the Trash");
        return 0;
    });
    syncOk();
    setRenameHook(nullptr);
    EXPECT_EQ(readFile(docs + "/notes.txt"), "saved as it went to the Trash");
    EXPECT_TRUE(trashedNames(home).isEmpty()) << trashedNames(home).join(", ").toStdString();
    syncOk();
    EXPECT_EQ(serverContent(docs, "notes.txt"), "saved as it went to the Trash");
}

// Another computer's version reaches the document between this computer's
// upload and the look that confirms it: the upload is not taken as agreed,
// and the next pass keeps both versions.
TEST_F(ActsOnWhatItCheckedTest, AVersionThatRacesAnUploadIsKeptBesideIt)
{
    const QString docs = watch("Docs");
    writeFile(docs + "/x.txt", "agreed");
    syncOk();
    writeFile(docs + "/x.txt", "saved here");
    // The upload is taken in at once; its answer is held while the other
    // computer saves.
    running.server.injectFault(fault({.method = "POST", .path = "/api/v1/documents*", .delayMs = 300, .count = 1}));
    running.server.clearRequests();
    QCoro::Task<void> pass = passUntil("POST", "/api/v1/documents");
    putDocument(docs, "x.txt", "saved elsewhere");
    testsupport::run(std::move(pass));
    EXPECT_EQ(log.linesWith("changed on the server as it was sent").size(), 1);
    EXPECT_TRUE(engine->syncState().trackedFiles.value(docs + "/x.txt").localHash.isEmpty());

    syncOk();
    syncOk();
    QStringList contents;
    for (const QString &name : QDir(docs).entryList(QDir::Files))
        contents.append(QString::fromUtf8(readFile(docs + "/" + name)));
    contents.sort();
    EXPECT_EQ(contents, QStringList({"saved elsewhere", "saved here"}));
    EXPECT_EQ(documentsOf(docs).size(), 2u);
}

// Planned: a server deletion (held), then two uploads. While the deletion
// is held, one file becomes a link out of the folder and the other a named
// pipe: neither is sent, and the pass does not wait on the pipe.
TEST_F(ActsOnWhatItCheckedTest, AnUploadSendsOnlyTheRegularFileThePassLookedAt)
{
    const QString docs = watch("Docs");
    writeFile(docs + "/removed.txt", "agreed");
    writeFile(area.filePath("secret.txt"), "a secret from outside the folder");
    syncOk();

    QFile::remove(docs + "/removed.txt");
    writeFiles(docs, {"linked.txt", "piped.txt"}, "planned content");
    running.server.injectFault(fault({.method = "DELETE", .path = "/api/v1/documents/*", .delayMs = 400, .count = 1}));
    running.server.clearRequests();
    QCoro::Task<void> pass = passUntil("DELETE", "/api/v1/documents/");
    QFile::remove(docs + "/linked.txt");
    testsupport::makeLink(area.filePath("secret.txt"), docs + "/linked.txt");
    QFile::remove(docs + "/piped.txt");
    ASSERT_EQ(::mkfifo(QFile::encodeName(docs + "/piped.txt").constData(), 0600), 0);
    testsupport::run(std::move(pass));

    for (const auto &[name, document] : documentsOf(docs))
        EXPECT_NE(running.server.content(document.id), "a secret from outside the folder") << name;
    for (const char *name : {"linked.txt", "piped.txt"}) {
        EXPECT_EQ(serverContent(docs, name), "<absent>");
        EXPECT_EQ(log.linesWith(QString("Upload failed for ") + name).size(), 1);
    }
    EXPECT_FALSE(engine->syncState().trackedFiles.contains(docs + "/linked.txt"));
}

TEST_F(ActsOnWhatItCheckedTest, WhatIsRecordedIsTheFileAsItWasSentOrWritten)
{
    const QString docs = watch("Docs");
    writeFile(docs + "/up.txt", "sent");
    syncOk();
    putDocument(docs, "down.txt", "downloaded");
    syncOk();

    // Each entry holds the facts of the file as opened for sending or as
    // written and placed, and when they were taken: the next look finds
    // them unchanged and reads neither again.
    const FolderAccess folder(docs);
    for (const char *name : {"up.txt", "down.txt"}) {
        const TrackedFile entry = engine->syncState().trackedFiles.value(docs + "/" + name);
        const FileFacts now = folder.facts(name);
        EXPECT_EQ(entry.inode, qint64(now.inode)) << name;
        EXPECT_EQ(entry.size, now.size) << name;
        EXPECT_EQ(entry.modifiedNs, now.modifiedNs) << name;
        EXPECT_EQ(entry.changedNs, now.changedNs) << name;
        ASSERT_TRUE(entry.recordedNs) << name;
        EXPECT_GE(*entry.recordedNs, *entry.modifiedNs - 1000000000) << name;
    }

    // An edit in place that keeps size and modification time (as a write
    // within one tick of a coarse clock would, or a time set back by hand)
    // is still sent: the change time tells.
    writeFile(docs + "/down.txt", "DOWNLOADED");
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(docs + "/down.txt").constData(), &st), 0);
    const TrackedFile entry = engine->syncState().trackedFiles.value(docs + "/down.txt");
    const timespec times[2] = {st.st_atim, {time_t(*entry.modifiedNs / 1000000000), long(*entry.modifiedNs % 1000000000)}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(docs + "/down.txt").constData(), times, 0), 0);
    EXPECT_EQ(transfersOfPass(), 1);
    EXPECT_EQ(serverContent(docs, "down.txt"), "DOWNLOADED");
}

TEST_F(ActsOnWhatItCheckedTest, AnUnmountedDriveInsideAFolderLosesNothingAndIsToldNotMounted)
{
    const QString docs = watch("Docs");
    ASSERT_TRUE(QDir().mkpath(docs + "/usb"));
    auto drive = std::make_unique<testsupport::TmpfsMount>(1 << 20, docs + "/usb");
    if (!drive->isMounted())
        GTEST_SKIP() << "mounting a file system is not permitted here";
    writeFiles(docs, numbered(5, "usb/d%1.txt"), "on the drive");
    writeFile(docs + "/top.txt", "on the disk");
    syncOk();
    ASSERT_EQ(documentsOf(docs).size(), 6u);

    // Unmounted; then also after a restart, from the state file, with the
    // folder gone.
    drive->unmount();
    running.server.clearRequests();
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        syncOk();
        EXPECT_EQ(transferRequests() + deletions(), 0);
        EXPECT_EQ(documentsOf(docs).size(), 6u);
        EXPECT_TRUE(notSyncedReason(docs + "/usb").startsWith("Not mounted")) << notSyncedPaths().join(", ").toStdString();
        EXPECT_TRUE(engine->syncState().trackedFiles.contains(docs + "/usb/d0.txt"));
        ASSERT_TRUE(QDir(docs + "/usb").removeRecursively());
        engine = makeEngine();
    }
    EXPECT_EQ(log.linesWith("Not mounted").size(), 1);
}

// A subfolder replaced by a link to a folder elsewhere, or by a file: the
// documents of its files are deleted nowhere and come down nowhere else, a
// server deletion never reaches through the link, and the files sync again
// once the subfolder is back.
TEST_F(ActsOnWhatItCheckedTest, ASubfolderReplacedByALinkOrAFileTouchesNothingOnEitherSide)
{
    const QString docs = watch("Docs");
    writeFile(docs + "/Linked/x.txt", "inside");
    writeFile(docs + "/Filed/a.txt", "in the subfolder");
    writeFile(docs + "/y.txt", "agreed");
    syncOk();
    writeFile(area.filePath("Elsewhere/x.txt"), "outside");
    QDir(docs + "/Linked").removeRecursively();
    testsupport::makeLink(area.filePath("Elsewhere"), docs + "/Linked");
    QDir(docs + "/Filed").removeRecursively();
    writeFile(docs + "/Filed", "a file of the folder's name");
    for (const char *name : {"x.txt", "y.txt"})
        running.server.deleteDocument(documentsOf(docs).at(name).id);

    for (int pass = 0; pass < 2; ++pass) {
        syncOk();
        EXPECT_FALSE(QFileInfo::exists(docs + "/a.txt")) << "never brought down elsewhere";
        EXPECT_EQ(serverContent(docs, "a.txt"), "in the subfolder");
        EXPECT_TRUE(notSyncedPaths().contains(docs + "/Filed/a.txt"));
    }
    EXPECT_EQ(readFile(area.filePath("Elsewhere/x.txt")), "outside");
    EXPECT_FALSE(engine->syncState().trackedFiles.contains(docs + "/Linked/x.txt"));
    // A file removed because of the server can be restored from the Trash.
    EXPECT_FALSE(QFileInfo::exists(docs + "/y.txt"));
    EXPECT_EQ(trashedNames(home), QStringList{"y.txt"});

    QFile::remove(docs + "/Filed");
    writeFile(docs + "/Filed/a.txt", "in the subfolder");
    EXPECT_EQ(transfersOfPass(), 0);
    EXPECT_FALSE(notSyncedPaths().contains(docs + "/Filed/a.txt"));
}

TEST_F(ActsOnWhatItCheckedTest, LeftoversOfAKilledDownloadGoAndUnusableNamesAreListed)
{
    const QString docs = watch("Docs");
    writeFile(docs + "/Sub/.tavrel-download-Xy12Zw", "half a download");
    writeFile(docs + "/.tavrel-download-keep", "not one of ours");
    for (const char *name : {"/Sub/.tavrel-download-Xy12Zw", "/.tavrel-download-keep"})
        setModified(docs + name, utc("2025-01-01T00:00:00Z"));
    const QByteArray badName = QFile::encodeName(docs) + "/caf\xe9.txt"; // Latin-1, not UTF-8
    const int fd = ::creat(badName.constData(), 0600);
    ASSERT_GE(fd, 0);
    ::close(fd);
    syncOk();

    EXPECT_FALSE(QFileInfo::exists(docs + "/Sub/.tavrel-download-Xy12Zw"));
    EXPECT_TRUE(QFileInfo::exists(docs + "/.tavrel-download-keep"));
    EXPECT_TRUE(documentsOf(docs).empty());
    const QString shown = docs + QString::fromUtf8("/caf\uFFFD.txt");
    EXPECT_TRUE(notSyncedReason(shown).contains("not valid UTF-8")) << notSyncedPaths().join(", ").toStdString();
}
