// What a pass sends, fetches and leaves alone, file by file.
#include "EngineFixture.h"

using testsupport::readFile;
using testsupport::writeFile;

class PassRowsTest : public EngineFixture {};

TEST_F(PassRowsTest, FirstPassUploadsNewFilesAndLeavesSameNamePairsUntracked)
{
    const QString docs = watch("home/Docs");
    writeFile(docs + "/a.txt", "alpha");
    writeFile(docs + "/Sub/b.pdf", "beta");
    writeFile(docs + "/shared.txt", "local side");
    writeFile(docs + "/draft.tmp", "scratch");
    // The folder exists on the server already, with a document named like a local file.
    const int64_t root = running.server.createFolder(email, "Desktop Sync", std::nullopt);
    const int64_t sub = running.server.createFolder(email, "Docs", root);
    running.server.putDocument(email, sub, "shared.txt", "server side");

    syncOk();

    EXPECT_EQ(engine->syncState().serverFolderId, root);
    EXPECT_EQ(serverFolderOf(docs), sub);
    const auto documents = documentsOf(docs);
    EXPECT_EQ(documents.size(), 3u); // a.txt, b.pdf, shared.txt
    EXPECT_EQ(serverContent(docs, "a.txt"), "alpha");
    EXPECT_EQ(serverContent(docs, "b.pdf"), "beta");
    EXPECT_EQ(serverContent(docs, "shared.txt"), "server side");
    EXPECT_EQ(readFile(docs + "/shared.txt"), "local side");

    const auto &tracked = engine->syncState().trackedFiles;
    EXPECT_EQ(tracked.size(), 2);
    EXPECT_EQ(tracked.value(docs + "/Sub/b.pdf").remoteId, documents.at("b.pdf").id);
    EXPECT_EQ(tracked.value(docs + "/a.txt").remoteHash, QString::fromStdString(documents.at("a.txt").fileHash));
    EXPECT_FALSE(tracked.contains(docs + "/shared.txt"));
    EXPECT_TRUE(EngineLog::has("info: Uploaded: a.txt"));
    EXPECT_TRUE(EngineLog::has("info: Sync completed"));
    EXPECT_EQ(appState->recentFiles().size(), 2);
    EXPECT_EQ(appState->recentFiles().front().action, "uploaded");
    EXPECT_EQ(requestCount("POST", "/api/v1/folders"), 0);
}

TEST_F(PassRowsTest, ServerFoldersAreCreatedOnceAndRemembered)
{
    const QString docs = watch("home/Docs");
    syncOk();
    const auto folders = running.server.folders(email);
    ASSERT_EQ(folders.size(), 2u);
    const int64_t root = *engine->syncState().serverFolderId;
    EXPECT_EQ(serverFolderOf(docs), std::find_if(folders.begin(), folders.end(), [](auto &f) { return f.name == "Docs"; })->id);

    running.server.clearRequests();
    syncOk();
    EXPECT_EQ(requestCount("GET", "/api/v1/folders"), 0);
    EXPECT_EQ(requestCount("POST", "/api/v1/folders"), 0);
    EXPECT_EQ(*engine->syncState().serverFolderId, root);
}

TEST_F(PassRowsTest, LocalChangesGoUpAndUnchangedFilesIgnoreNewServerVersions)
{
    const QString docs = watch("Docs");
    writeFile(docs + "/same.txt", "v1");
    writeFile(docs + "/edited.txt", "v1");
    writeFile(docs + "/touched.txt", "v1");
    syncOk();

    putDocument(docs, "same.txt", "server v2");        // unchanged locally: not fetched
    writeFile(docs + "/edited.txt", "local v2");        // changed locally, not listed by the server
    putDocument(docs, "touched.txt", "v1");             // listed again with the agreed hash
    writeFile(docs + "/touched.txt", "local v2");
    running.server.clearRequests();
    syncOk();

    EXPECT_EQ(readFile(docs + "/same.txt"), "v1");
    EXPECT_EQ(serverContent(docs, "same.txt"), "server v2");
    EXPECT_EQ(serverContent(docs, "edited.txt"), "local v2");
    EXPECT_EQ(serverContent(docs, "touched.txt"), "local v2");
    EXPECT_EQ(requestCount("POST", "/api/v1/documents"), 2);
    EXPECT_EQ(transferRequests(), 2);
}

TEST_F(PassRowsTest, ConflictsGoToTheLaterSideAndTiesToTheServer)
{
    const QString docs = watch("Docs");
    for (const char *name : {"local-later.txt", "tie.txt", "server-later.txt", "unreadable-time.txt", "offset.txt"})
        writeFile(docs + "/" + name, "agreed");
    syncOk();

    const auto change = [&](const char *name, const char *localTime, const std::string &updatedAt) {
        writeFile(docs + "/" + name, "local edit");
        setModified(docs + "/" + name, utc(localTime));
        putDocument(docs, name, "server edit", updatedAt);
    };
    change("local-later.txt", "2026-03-01T10:00:05Z", "2026-03-01T10:00:00Z");
    change("tie.txt", "2026-03-01T10:00:00Z", "2026-03-01T10:00:00Z");
    change("server-later.txt", "2026-03-01T10:00:00Z", "2026-03-01T10:00:01Z");
    change("unreadable-time.txt", "1990-01-01T00:00:00Z", "2026-03-01T10:00:00.500Z"); // fraction: not read
    change("offset.txt", "2026-03-01T10:30:00Z", "2026-03-01T11:30:00+01:00");       // equal instants
    syncOk();

    EXPECT_EQ(serverContent(docs, "local-later.txt"), "local edit");
    EXPECT_EQ(readFile(docs + "/tie.txt"), "server edit");
    EXPECT_EQ(readFile(docs + "/server-later.txt"), "server edit");
    EXPECT_EQ(serverContent(docs, "unreadable-time.txt"), "local edit");
    EXPECT_EQ(readFile(docs + "/offset.txt"), "server edit");
    EXPECT_TRUE(EngineLog::has("info: Downloaded: tie.txt"));

    // The downloads replaced the files where they stand and agree from now on.
    running.server.clearRequests();
    syncOk();
    EXPECT_EQ(transferRequests(), 0);
}

TEST_F(PassRowsTest, ConflictDownloadReplacesTheFileInItsSubdirectory)
{
    const QString docs = watch("Docs");
    writeFile(docs + "/Deep/Er/note.txt", "agreed");
    syncOk();
    writeFile(docs + "/Deep/Er/note.txt", "local edit");
    setModified(docs + "/Deep/Er/note.txt", utc("2020-01-01T00:00:00Z"));
    putDocument(docs, "note.txt", "server edit", "2026-01-01T00:00:00Z");
    syncOk();
    EXPECT_EQ(readFile(docs + "/Deep/Er/note.txt"), "server edit");
    EXPECT_FALSE(QFileInfo::exists(docs + "/note.txt"));
}

TEST_F(PassRowsTest, NewServerDocumentsComeDownUnlessTheScannerWouldIgnoreThem)
{
    const QString docs = watch("Docs");
    syncOk();
    putDocument(docs, "report.pdf", "from elsewhere");
    putDocument(docs, "partial.part", "half");
    putDocument(docs, ".hidden", "secret");
    putDocument(docs, "Thumbs.db", "cache");
    syncOk();

    EXPECT_EQ(readFile(docs + "/report.pdf"), "from elsewhere");
    EXPECT_EQ(QDir(docs).entryList(QDir::Files | QDir::Hidden).size(), 1);
    EXPECT_TRUE(engine->syncState().trackedFiles.contains(docs + "/report.pdf"));
    EXPECT_EQ(appState->recentFiles().front().action, "downloaded");

    running.server.clearRequests();
    syncOk();
    EXPECT_EQ(transferRequests(), 0);
}

TEST_F(PassRowsTest, DownloadSkipsADestinationHeldByADirectoryOrLink)
{
    const QString docs = watch("Docs");
    syncOk();
    QDir().mkpath(docs + "/Plans");
    writeFile(docs + "/Plans/inner.txt", "mine");
    writeFile(area.filePath("outside.txt"), "outside");
    QFile::link(area.filePath("outside.txt"), docs + "/link.txt");
    putDocument(docs, "Plans", "a file named like the directory");
    putDocument(docs, "link.txt", "server");
    syncOk();

    EXPECT_TRUE(QFileInfo(docs + "/Plans").isDir());
    EXPECT_EQ(readFile(docs + "/Plans/inner.txt"), "mine");
    EXPECT_TRUE(QFileInfo(docs + "/link.txt").isSymLink());
    EXPECT_EQ(readFile(area.filePath("outside.txt")), "outside");
    EXPECT_TRUE(EngineLog::lines().filter("critical: Skipped download of Plans").size() == 1);
}
