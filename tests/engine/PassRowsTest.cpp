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
    const int64_t root = running.server.createFolder(email, "Desktop Sync", std::nullopt);
    const int64_t sub = running.server.createFolder(email, "Docs", root);
    running.server.putDocument(email, sub, "shared.txt", "server side");
    syncOk();

    EXPECT_EQ(engine->syncState().serverFolderId, root);
    EXPECT_EQ(serverFolderOf(docs), sub);
    EXPECT_EQ(documentsOf(docs).size(), 3u);
    EXPECT_EQ(serverContent(docs, "b.pdf"), "beta");
    EXPECT_EQ(serverContent(docs, "shared.txt"), "server side");
    EXPECT_EQ(readFile(docs + "/shared.txt"), "local side");
    const auto &tracked = engine->syncState().trackedFiles;
    EXPECT_EQ(tracked.keys(), (QStringList{docs + "/Sub/b.pdf", docs + "/a.txt"}));
    EXPECT_EQ(tracked.value(docs + "/a.txt").remoteId, documentsOf(docs).at("a.txt").id);
    EXPECT_TRUE(log.has("info: Uploaded: a.txt"));
    EXPECT_TRUE(log.has("info: Sync completed"));
    EXPECT_EQ(appState->recentFiles().size(), 2);
    EXPECT_EQ(requestCount("POST", "/api/v1/folders"), 0);
}

TEST_F(PassRowsTest, LocalChangesGoUpAndServerChangesComeDown)
{
    const QString docs = watch("Docs");
    for (const char *name : {"same.txt", "edited.txt", "touched.txt"})
        writeFile(docs + "/" + name, "v1");
    syncOk();
    putDocument(docs, "same.txt", "server v2");  // unchanged locally: comes down
    writeFile(docs + "/edited.txt", "local v2"); // changed locally, not listed by the server
    putDocument(docs, "touched.txt", "v1");      // listed again, with the agreed hash
    writeFile(docs + "/touched.txt", "local v2");
    running.server.clearRequests();
    syncOk();

    EXPECT_EQ(readFile(docs + "/same.txt"), "server v2");
    EXPECT_EQ(serverContent(docs, "edited.txt"), "local v2");
    EXPECT_EQ(serverContent(docs, "touched.txt"), "local v2");
    EXPECT_EQ(transferRequests(), 3);
}

TEST_F(PassRowsTest, ConflictsGoToTheLaterSideAndTiesToTheServer)
{
    const QString docs = watch("Docs");
    const QStringList names{"local-later.txt", "tie.txt", "server-later.txt", "bad-time.txt", "offset.txt", "Sub/deep.txt"};
    for (const QString &name : names)
        writeFile(docs + "/" + name, "agreed");
    syncOk();
    const auto change = [&](const QString &name, const char *localTime, const std::string &updatedAt) {
        writeFile(docs + "/" + name, "local edit");
        setModified(docs + "/" + name, utc(localTime));
        putDocument(docs, QFileInfo(name).fileName().toStdString(), "server edit", updatedAt);
    };
    change("local-later.txt", "2026-03-01T10:00:05Z", "2026-03-01T10:00:00Z");
    change("tie.txt", "2026-03-01T10:00:00Z", "2026-03-01T10:00:00Z");
    change("server-later.txt", "2026-03-01T10:00:00Z", "2026-03-01T10:00:01Z");
    change("bad-time.txt", "1990-01-01T00:00:00Z", "2026-03-01T10:00:00.500Z"); // a fraction does not read
    change("offset.txt", "2026-03-01T10:30:00Z", "2026-03-01T11:30:00+01:00");  // the same instant
    change("Sub/deep.txt", "2020-01-01T00:00:00Z", "2026-01-01T00:00:00Z");
    syncOk();

    EXPECT_EQ(serverContent(docs, "local-later.txt"), "local edit");
    EXPECT_EQ(serverContent(docs, "bad-time.txt"), "local edit");
    for (const char *name : {"tie.txt", "server-later.txt", "offset.txt", "Sub/deep.txt"})
        EXPECT_EQ(readFile(docs + "/" + name), "server edit") << name;
    EXPECT_FALSE(QFileInfo::exists(docs + "/deep.txt"));
    // Each version that lost is kept beside the file, the server's ones too,
    // and goes up as a new file.
    EXPECT_EQ(QDir(docs).entryList({"*(conflicted copy *"}, QDir::Files).size(), 5);
    for (const char *stem : {"local-later", "bad-time"}) {
        const QStringList copies = QDir(docs).entryList({QString(stem) + " (conflicted copy *"}, QDir::Files);
        ASSERT_EQ(copies.size(), 1) << stem;
        EXPECT_EQ(readFile(docs + "/" + copies.front()), "server edit") << stem;
    }
    EXPECT_EQ(QDir(docs + "/Sub").entryList({"deep (conflicted copy *).txt"}, QDir::Files).size(), 1);
    running.server.clearRequests();
    syncOk();
    EXPECT_EQ(requestCount("POST", "/api/v1/documents"), 6);
    running.server.clearRequests();
    syncOk();
    EXPECT_EQ(transferRequests(), 0);
}

TEST_F(PassRowsTest, NewServerDocumentsComeDownUnlessIgnoredOrSomethingElseIsInTheWay)
{
    const QString docs = watch("Docs");
    syncOk();
    writeFile(docs + "/Plans/inner.txt", "mine");
    writeFile(area.filePath("outside.txt"), "outside");
    QFile::link(area.filePath("outside.txt"), docs + "/link.txt");
    for (const char *name : {"report.pdf", "partial.part", ".hidden", "Thumbs.db", "Plans", "link.txt"})
        putDocument(docs, name, "from the server");
    syncOk();

    EXPECT_EQ(readFile(docs + "/report.pdf"), "from the server");
    EXPECT_EQ(QDir(docs).entryList(QDir::Files | QDir::Hidden), (QStringList{"link.txt", "report.pdf"}));
    EXPECT_TRUE(QFileInfo(docs + "/link.txt").isSymLink());
    EXPECT_EQ(readFile(area.filePath("outside.txt")), "outside");
    EXPECT_EQ(readFile(docs + "/Plans/inner.txt"), "mine");
    EXPECT_EQ(log.linesWith("critical: Skipped download of").size(), 2);
    EXPECT_EQ(appState->recentFiles().front().action, "downloaded");
    running.server.clearRequests();
    syncOk();
    EXPECT_EQ(transferRequests(), 0);
}
