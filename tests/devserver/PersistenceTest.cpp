#include "RawHttp.h"
#include "devserver/DevServer.h"

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace {

DevServer::Options persistentIn(const QTemporaryDir &dir)
{
    DevServer::Options options;
    options.dataDir = dir.path().toStdString();
    options.persistMetadata = true;
    return options;
}

const std::string email = "ann@example.test";

TEST(PersistenceTest, RestartedServerKeepsDocumentsSessionsAndChangeTimes)
{
    QTemporaryDir dir;
    std::string token, since;
    int64_t folder = 0, kept = 0, removed = 0;
    {
        DevServer server(persistentIn(dir));
        server.start();
        server.addUser(email, "pw", "Ann", "Org");
        token = server.issueToken(email);
        folder = server.createFolder(email, "Work", std::nullopt);
        kept = server.putDocument(email, folder, "kept.txt", "v1");
        kept = server.putDocument(email, folder, "kept.txt", "v2");
        removed = server.putDocument(email, folder, "removed.txt", "x");
        since = rawhttp::request(server.port(), "GET", "/api/v1/sync/status?folder_id=" + std::to_string(folder), token)
                    .json()
                    .at("server_time");
        server.deleteDocument(removed);
    }

    DevServer server(persistentIn(dir));
    server.start();
    server.addUser(email, "pw", "Ann", "Org");
    const auto status =
        rawhttp::request(server.port(), "GET", "/api/v1/sync/status?folder_id=" + std::to_string(folder) + "&since=" + since,
                         token);
    ASSERT_EQ(status.status, 200) << status.body; // the session survived
    EXPECT_TRUE(status.json().at("documents").empty());
    EXPECT_EQ(status.json().at("deleted_ids"), nlohmann::json::array({removed}));
    EXPECT_EQ(server.content(kept), "v2");
    EXPECT_EQ(server.documents(folder).at(0).version, 2);
    // New ids do not reuse old ones.
    EXPECT_GT(server.putDocument(email, folder, "new.txt", "n"), removed);
}

TEST(PersistenceTest, UnreadableMetadataStopsTheServerAndIsLeftAlone)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("metadata.json").toStdString();
    std::ofstream(path) << R"({"format": 1, "folders": "oops"})";
    EXPECT_THROW(DevServer{persistentIn(dir)}, std::runtime_error);

    std::ifstream file(path);
    const std::string left((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(left, R"({"format": 1, "folders": "oops"})");
}

} // namespace
