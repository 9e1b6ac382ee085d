// A pass acts on what it checked: the folder opened at its start, the file
// opened for sending, the facts of the bytes it wrote; and what it cannot
// see (an unmounted drive, a folder turned into a file, an unusable name) is
// told, never taken as removed.
#include "EngineFixture.h"

#include "platform/FolderAccess.h"
#include "support/TmpfsMount.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using testsupport::fault;
using testsupport::readFile;
using testsupport::writeFile;

class ActsOnWhatItCheckedTest : public EngineFixture {
protected:
    QStringList notSyncedPaths() const
    {
        QStringList paths;
        for (const NotSyncedFile &file : appState->notSyncedFiles())
            paths.append(file.path);
        return paths;
    }
    QString notSyncedReason(const QString &path) const
    {
        for (const NotSyncedFile &file : appState->notSyncedFiles())
            if (file.path == path)
                return file.reason;
        return {};
    }
};

TEST_F(ActsOnWhatItCheckedTest, AFolderSwappedWhileTheServerIsAskedIsSeenByTheNextPassNeverActedOn)
{
    const QString docs = watch("Docs");
    for (int i = 0; i < 6; ++i)
        writeFile(docs + QString("/f%1.txt").arg(i), "precious");
    appState->saveBookmarks(); // records the folder's identity, as choosing it does
    appState->loadBookmarks();
    syncOk();
    ASSERT_EQ(documentsOf(docs).size(), 6u);

    // The status request is held; meanwhile: mv Docs Docs.old; mkdir Docs.
    running.server.injectFault(fault({.method = "GET", .path = "/api/v1/sync/status*", .delayMs = 500, .count = 1}));
    running.server.clearRequests();
    QCoro::Task<void> pass = engine->performSync();
    ASSERT_TRUE(testsupport::waitUntil([&] { return requestCount("GET", "/api/v1/sync/status") > 0; },
                                       "the status request"));
    ASSERT_TRUE(QDir().rename(docs, area.filePath("Docs.old")));
    ASSERT_TRUE(QDir().mkpath(docs));
    testsupport::run(std::move(pass));

    EXPECT_EQ(requestCount("DELETE", "/api/v1/documents/"), 0);
    EXPECT_EQ(documentsOf(docs).size(), 6u);
    // The next pass finds the folder replaced and changes nothing.
    sync();
    EXPECT_EQ(appState->syncStatus().kind, SyncStatus::Kind::error);
    EXPECT_EQ(appState->foldersNeedingChoice(), QStringList{docs});
    EXPECT_EQ(requestCount("DELETE", "/api/v1/documents/"), 0);
    EXPECT_EQ(documentsOf(docs).size(), 6u);
    EXPECT_EQ(readFile(area.filePath("Docs.old/f0.txt")), "precious");
}

TEST_F(ActsOnWhatItCheckedTest, AnUploadSendsOnlyTheRegularFileThePassLookedAt)
{
    const QString docs = watch("Docs");
    writeFile(docs + "/removed.txt", "agreed");
    writeFile(area.filePath("secret.txt"), "a secret from outside the folder");
    syncOk();

    // Planned: a server deletion (held), then two uploads. While the
    // deletion is held, one file becomes a link out of the folder and the
    // other a named pipe.
    QFile::remove(docs + "/removed.txt");
    writeFile(docs + "/linked.txt", "planned content");
    writeFile(docs + "/piped.txt", "planned content");
    running.server.injectFault(fault({.method = "DELETE", .path = "/api/v1/documents/*", .delayMs = 400, .count = 1}));
    running.server.clearRequests();
    QCoro::Task<void> pass = engine->performSync();
    ASSERT_TRUE(testsupport::waitUntil([&] { return requestCount("DELETE", "/api/v1/documents/") > 0; },
                                       "the deletion to be asked"));
    QFile::remove(docs + "/linked.txt");
    testsupport::makeLink(area.filePath("secret.txt"), docs + "/linked.txt");
    QFile::remove(docs + "/piped.txt");
    ASSERT_EQ(::mkfifo(QFile::encodeName(docs + "/piped.txt").constData(), 0600), 0);
    testsupport::run(std::move(pass)); // returns: nothing waits on the pipe

    for (const auto &[name, document] : documentsOf(docs))
        EXPECT_NE(running.server.content(document.id), "a secret from outside the folder") << name;
    EXPECT_EQ(serverContent(docs, "linked.txt"), "<absent>");
    EXPECT_EQ(serverContent(docs, "piped.txt"), "<absent>");
    EXPECT_EQ(log.linesWith("Upload failed for linked.txt").size(), 1);
    EXPECT_EQ(log.linesWith("Upload failed for piped.txt").size(), 1);
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
    // written, and when they were taken.
    const FolderAccess folder(docs);
    for (const char *name : {"up.txt", "down.txt"}) {
        const TrackedFile entry = engine->syncState().trackedFiles.value(docs + "/" + name);
        const FileFacts now = folder.facts(name);
        EXPECT_EQ(entry.inode, qint64(now.inode)) << name;
        EXPECT_EQ(entry.size, now.size) << name;
        EXPECT_EQ(entry.modifiedNs, now.modifiedNs) << name;
        ASSERT_TRUE(entry.recordedNs) << name;
        EXPECT_GE(*entry.recordedNs, *entry.modifiedNs - 1000000000) << name;
    }

    // An edit in place that keeps size and modification time (as a write
    // within one tick of a coarse clock would) is still sent.
    writeFile(docs + "/down.txt", "DOWNLOADED");
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(docs + "/down.txt").constData(), &st), 0);
    const TrackedFile entry = engine->syncState().trackedFiles.value(docs + "/down.txt");
    const timespec times[2] = {st.st_atim, {time_t(*entry.modifiedNs / 1000000000), long(*entry.modifiedNs % 1000000000)}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(docs + "/down.txt").constData(), times, 0), 0);
    syncOk();
    EXPECT_EQ(serverContent(docs, "down.txt"), "DOWNLOADED");
}

TEST_F(ActsOnWhatItCheckedTest, AReplacingDownloadKeepsTheFilesPermissions)
{
    const QString docs = watch("Docs");
    writeFile(docs + "/private.txt", "agreed");
    ASSERT_TRUE(QFile::setPermissions(docs + "/private.txt", QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    syncOk();
    // Changed on both sides, the server later: its version replaces the file.
    writeFile(docs + "/private.txt", "local edit");
    setModified(docs + "/private.txt", utc("2020-01-01T00:00:00Z"));
    putDocument(docs, "private.txt", "server edit", "2026-01-01T00:00:00Z");
    syncOk();

    EXPECT_EQ(readFile(docs + "/private.txt"), "server edit");
    EXPECT_EQ(testsupport::modeOf(docs + "/private.txt"), 0600u);
}

TEST_F(ActsOnWhatItCheckedTest, AnUnmountedDriveInsideAFolderLosesNothingAndIsToldNotMounted)
{
    const QString docs = watch("Docs");
    ASSERT_TRUE(QDir().mkpath(docs + "/usb"));
    auto drive = std::make_unique<testsupport::TmpfsMount>(1 << 20, docs + "/usb");
    if (!drive->isMounted())
        GTEST_SKIP() << "mounting a file system is not permitted here";
    for (int i = 0; i < 5; ++i)
        writeFile(docs + QString("/usb/d%1.txt").arg(i), "on the drive");
    writeFile(docs + "/top.txt", "on the disk");
    syncOk();
    ASSERT_EQ(documentsOf(docs).size(), 6u);

    drive->unmount();
    running.server.clearRequests();
    syncOk();
    EXPECT_EQ(requestCount("DELETE", "/api/v1/documents/"), 0);
    EXPECT_EQ(documentsOf(docs).size(), 6u);
    EXPECT_EQ(transferRequests(), 0);
    EXPECT_TRUE(notSyncedReason(docs + "/usb").startsWith("Not mounted")) << notSyncedPaths().join(", ").toStdString();
    EXPECT_EQ(log.linesWith("Not mounted").size(), 1);
    EXPECT_TRUE(engine->syncState().trackedFiles.contains(docs + "/usb/d0.txt"));

    // Also after a restart, from the state file; and when the folder is gone.
    ASSERT_TRUE(QDir(docs + "/usb").removeRecursively());
    engine = makeEngine();
    syncOk();
    EXPECT_EQ(requestCount("DELETE", "/api/v1/documents/"), 0);
    EXPECT_EQ(documentsOf(docs).size(), 6u);
    EXPECT_TRUE(notSyncedPaths().contains(docs + "/usb"));
}

TEST_F(ActsOnWhatItCheckedTest, DocumentsOfASubfolderReplacedByAFileBelongNowhere)
{
    const QString docs = watch("Docs");
    writeFile(docs + "/Sub/a.txt", "in the subfolder");
    syncOk();
    ASSERT_TRUE(QDir(docs + "/Sub").removeRecursively());
    writeFile(docs + "/Sub", "a file of the folder's name");

    for (int pass = 0; pass < 2; ++pass) {
        syncOk();
        EXPECT_FALSE(QFileInfo::exists(docs + "/a.txt")) << "never brought down elsewhere";
        EXPECT_EQ(serverContent(docs, "a.txt"), "in the subfolder");
        EXPECT_TRUE(notSyncedPaths().contains(docs + "/Sub/a.txt"));
    }
    // The folder back: the file syncs as before.
    QFile::remove(docs + "/Sub");
    writeFile(docs + "/Sub/a.txt", "in the subfolder");
    running.server.clearRequests();
    syncOk();
    EXPECT_EQ(transferRequests(), 0);
    EXPECT_FALSE(notSyncedPaths().contains(docs + "/Sub/a.txt"));
}

TEST_F(ActsOnWhatItCheckedTest, LeftoversOfAKilledDownloadGoAndUnusableNamesAreListed)
{
    const QString docs = watch("Docs");
    writeFile(docs + "/Sub/.tavrel-download-Xy12Zw", "half a download");
    setModified(docs + "/Sub/.tavrel-download-Xy12Zw", utc("2025-01-01T00:00:00Z"));
    writeFile(docs + "/.tavrel-download-keep", "not one of ours");
    setModified(docs + "/.tavrel-download-keep", utc("2025-01-01T00:00:00Z"));
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
