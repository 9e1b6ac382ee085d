// Which server folder each watched folder syncs with: two computers that
// made their own settle on one, and a folder deleted elsewhere is made again.
#include "EngineFixture.h"

using testsupport::fault;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

std::string folderListing(int64_t root, int64_t folder, const char *folderName)
{
    return "[{\"id\":" + std::to_string(root) + ",\"name\":\"Desktop Sync\"},{\"id\":" + std::to_string(folder)
           + ",\"name\":\"" + folderName + "\",\"parent_id\":" + std::to_string(root) + "}]";
}

} // namespace

class ServerFoldersTest : public EngineFixture {};

TEST_F(ServerFoldersTest, TwoComputersThatMadeTheirOwnFoldersSettleOnTheLowestAndExchangeFiles)
{
    const QString docs = watch("A/Docs");
    writeFile(docs + "/a.txt", "from A");
    syncOk();
    const int64_t root = *engine->syncState().serverFolderId;
    const int64_t folder = serverFolderOf(docs);

    // The other computer signed in at the same moment and made its own
    // "Desktop Sync" and "Docs", and synced into them.
    const int64_t otherRoot = running.server.createFolder(email, "Desktop Sync", std::nullopt, true);
    const int64_t otherFolder = running.server.createFolder(email, "Docs", otherRoot);
    running.server.putDocument(email, otherFolder, "b.txt", "from B");
    const QString bDocs = area.filePath("B/Docs");
    OtherComputer b(home, running.baseURL, *client->token(), bDocs, "b");
    writeFile(bDocs + "/b.txt", "from B");
    SyncState split;
    split.serverFolderId = otherRoot;
    split.folderMappings.insert(bDocs, otherFolder);
    split.save(b.statePath);
    b.restart();
    running.server.injectFault(fault({.method = "GET", .path = "/api/v1/folders", .status = 200,
                                      .body = folderListing(otherRoot, otherFolder, "Docs"), .count = 1}));
    b.syncOk();
    ASSERT_EQ(b.state().folderMappings.value(bDocs), otherFolder);
    ASSERT_TRUE(b.state().trackedFiles.contains(bDocs + "/b.txt"));
    ASSERT_TRUE(b.engine->rebasedFolders().isEmpty());

    // Its next start lists the folders once and settles on the lowest ones:
    // its file goes up there, and the first computer's comes down.
    b.restart();
    log.clear();
    running.server.clearRequests();
    b.syncOk();
    EXPECT_EQ(b.state().serverFolderId, root);
    EXPECT_EQ(b.state().folderMappings.value(bDocs), folder);
    EXPECT_TRUE(b.engine->rebasedFolders().contains(bDocs));
    EXPECT_FALSE(b.state().serverDocuments.contains(otherFolder));
    EXPECT_EQ(readFile(bDocs + "/a.txt"), "from A");
    EXPECT_EQ(serverContent(docs, "b.txt"), "from B");
    EXPECT_EQ(deletions(), 0);
    EXPECT_EQ(requestCount("GET", "/api/v1/folders"), 1);
    // The abandoned folders are left alone, and named.
    EXPECT_EQ(running.server.documents(otherFolder).size(), 1u);
    EXPECT_FALSE(log.linesWith(QString("folder %1 and its documents are left alone").arg(otherRoot)).isEmpty());
    EXPECT_FALSE(log.linesWith(QString("folder %1 and its documents are left alone").arg(otherFolder)).isEmpty());

    syncOk();
    EXPECT_EQ(readFile(docs + "/b.txt"), "from B");
    EXPECT_EQ(engine->syncState().serverFolderId, root);

    // Later passes of the same start do not list the folders again.
    running.server.clearRequests();
    b.syncOk();
    EXPECT_EQ(requestCount("GET", "/api/v1/folders"), 0);
    EXPECT_EQ(transferRequests(), 0);
}

TEST_F(ServerFoldersTest, AServerFolderDeletedElsewhereIsMadeAgainAndTheOtherFoldersStillSync)
{
    const QString first = watch("First");
    const QString second = watch("Second");
    writeFile(first + "/kept.txt", "kept");
    writeFile(second + "/other.txt", "other");
    syncOk();

    const int64_t gone = serverFolderOf(first);
    running.server.deleteFolder(gone);
    writeFile(second + "/new.txt", "new");
    log.clear();
    syncOk();
    EXPECT_NE(serverFolderOf(first), gone);
    EXPECT_EQ(serverContent(first, "kept.txt"), "kept");
    EXPECT_EQ(serverContent(second, "new.txt"), "new");
    EXPECT_EQ(readFile(first + "/kept.txt"), "kept");
    EXPECT_FALSE(log.linesWith(QString("The server folder of %1 (%2) is gone").arg(first).arg(gone)).isEmpty());

    // The whole root gone: both are made again under a new one, nothing
    // local is touched.
    const int64_t root = *engine->syncState().serverFolderId;
    running.server.deleteFolder(root);
    syncOk();
    EXPECT_NE(*engine->syncState().serverFolderId, root);
    EXPECT_EQ(serverContent(first, "kept.txt"), "kept");
    EXPECT_EQ(serverContent(second, "other.txt"), "other");
    EXPECT_EQ(serverContent(second, "new.txt"), "new");
    EXPECT_EQ(readFile(second + "/other.txt"), "other");
    EXPECT_EQ(deletions(), 0);
}

TEST_F(ServerFoldersTest, AFolderMadeAtTheSameMomentAsAnotherComputersIsListedAgainAndTheLowestTaken)
{
    // The other computer's "Desktop Sync" appears between this one's look
    // and its own creation, which then makes a second one.
    const int64_t theirs = running.server.createFolder(email, "Desktop Sync", std::nullopt);
    const int64_t mine = running.server.createFolder(email, "Desktop Sync", std::nullopt, true);
    running.server.injectFault(fault({.method = "GET", .path = "/api/v1/folders", .status = 200, .body = "[]",
                                      .count = 1}));
    running.server.injectFault(fault({.method = "POST", .path = "/api/v1/folders", .status = 201,
                                      .body = "{\"id\":" + std::to_string(mine) + ",\"name\":\"Desktop Sync\"}",
                                      .count = 1}));
    const QString docs = watch("Docs");
    writeFile(docs + "/a.txt", "a");
    syncOk();
    EXPECT_EQ(engine->syncState().serverFolderId, theirs);
    EXPECT_EQ(serverContent(docs, "a.txt"), "a");
    EXPECT_FALSE(log.linesWith(QString("folder %1 and its documents are left alone").arg(mine)).isEmpty());
    EXPECT_TRUE(running.server.documents(mine).empty());
}
