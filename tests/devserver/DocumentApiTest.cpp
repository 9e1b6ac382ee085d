// The document service's interface as the development server gives it.
#include "RawHttp.h"
#include "support/TestSupport.h"

#include <future>
#include <thread>

using nlohmann::json;

namespace {

class DocumentApiTest : public RawServerFixture {
protected:
    using RawServerFixture::RawServerFixture;

    json status(const std::optional<std::string> &since = std::nullopt)
    {
        std::string target = "/api/v1/sync/status?folder_id=" + std::to_string(folderId);
        if (since)
            target += "&since=" + *since;
        const auto response = get(target);
        EXPECT_EQ(response.status, 200) << response.body;
        return response.json();
    }

    static std::vector<int64_t> ids(const json &documents)
    {
        std::vector<int64_t> result;
        for (const auto &document : documents)
            result.push_back(document.at("id").get<int64_t>());
        return result;
    }
};

TEST_F(DocumentApiTest, SinceListsOnlyChangesStrictlyAfterItAndReportsDeletions)
{
    const int64_t kept = server.putDocument(email, folderId, "kept.txt", "old");
    const int64_t removed = server.putDocument(email, folderId, "removed.txt", "bye");

    const json first = status();
    EXPECT_EQ(ids(first.at("documents")), (std::vector<int64_t>{kept, removed}));
    EXPECT_TRUE(first.at("deleted_ids").empty());
    const std::string since = first.at("server_time");
    EXPECT_EQ(since.size(), std::string("2026-12-06T19:20:00.123456Z").size()) << since;

    // Changes in the same second as the last query are still seen.
    EXPECT_TRUE(status(since).at("documents").empty());
    const int64_t added = server.putDocument(email, folderId, "added.txt", "new");
    server.deleteDocument(removed);

    const json second = status(since);
    EXPECT_EQ(ids(second.at("documents")), (std::vector<int64_t>{added}));
    EXPECT_EQ(second.at("deleted_ids"), json::array({removed}));

    const json full = status();
    EXPECT_EQ(ids(full.at("documents")), (std::vector<int64_t>{kept, added}));
    EXPECT_TRUE(full.at("deleted_ids").empty());
    EXPECT_TRUE(status(second.at("server_time").get<std::string>()).at("deleted_ids").empty());

    // Other spellings of a time are understood; "+" arrives unescaped.
    EXPECT_EQ(status("2000-01-01T01:00:00+01:00").at("documents").size(), 2u);
    EXPECT_EQ(get("/api/v1/sync/status?folder_id=999").status, 404);
}

TEST_F(DocumentApiTest, ReuploadOfALiveNameMakesANewVersionOfTheSameDocument)
{
    const auto first = rawhttp::upload(server.port(), token, "notes.txt", "one", folderId);
    ASSERT_EQ(first.status, 201) << first.body;
    const auto second = rawhttp::upload(server.port(), token, "notes.txt", "two!", folderId);
    ASSERT_LT(second.status, 300) << second.body;

    const json a = first.json(), b = second.json();
    EXPECT_EQ(a.at("id"), b.at("id"));
    EXPECT_EQ(a.at("version"), 1);
    EXPECT_EQ(b.at("version"), 2);
    EXPECT_EQ(b.at("file_hash"), "a97b629a5b1da759586c3353a9bc284bf673970d8eca56e11e556b715c329614"); // SHA-256 of "two!"
    EXPECT_NE(a.at("file_hash"), b.at("file_hash"));
    EXPECT_EQ(b.at("file_size"), 4);
    EXPECT_EQ(server.content(a.at("id")), "two!");
    EXPECT_EQ(server.documents(folderId).size(), 1u);

    // The same name elsewhere, or after a deletion, is a different document.
    const int64_t other = server.createFolder(email, "Other", std::nullopt);
    const auto elsewhere = rawhttp::upload(server.port(), token, "notes.txt", "one", other).json();
    EXPECT_NE(elsewhere.at("id"), a.at("id"));
    server.deleteDocument(a.at("id"));
    const auto reborn = rawhttp::upload(server.port(), token, "notes.txt", "three", folderId).json();
    EXPECT_NE(reborn.at("id"), a.at("id"));
    EXPECT_EQ(reborn.at("version"), 1);
}

TEST_F(DocumentApiTest, EveryApiCallButSignInNeedsAValidBearerAndSignOutRevokesIt)
{
    EXPECT_EQ(rawhttp::request(server.port(), "GET", "/api/v1/folders").status, 401);
    EXPECT_EQ(rawhttp::request(server.port(), "GET", "/api/v1/folders", "forged").status, 401);

    const auto login = rawhttp::request(server.port(), "POST", "/api/v1/auth/login", {},
                                        R"({"email":"ann@example.test","password":"secret"})");
    ASSERT_EQ(login.status, 200) << login.body;
    const std::string fresh = login.json().at("token");
    EXPECT_EQ(rawhttp::request(server.port(), "GET", "/api/v1/folders", fresh).status, 200);
    const auto logout = rawhttp::request(server.port(), "DELETE", "/api/v1/auth/logout", fresh);
    EXPECT_EQ(logout.json().at("message"), "Logged out");
    EXPECT_EQ(rawhttp::request(server.port(), "GET", "/api/v1/folders", fresh).status, 401);
    EXPECT_EQ(get("/api/v1/folders").status, 200); // other sessions stay
}

class ShortLinkTest : public DocumentApiTest {
protected:
    ShortLinkTest() : DocumentApiTest(1) {}
};

TEST_F(ShortLinkTest, DownloadLinkWorksWithoutBearerUntilItExpires)
{
    std::string content(300000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 7 % 251);
    const int64_t id = server.putDocument(email, folderId, "data.bin", content);

    const auto link = get("/api/v1/documents/" + std::to_string(id) + "/download");
    ASSERT_EQ(link.status, 200) << link.body;
    const std::string url = link.json().at("download_url");
    EXPECT_EQ(url.rfind(server.baseURL() + "/files/", 0), 0u) << url;

    const auto file = rawhttp::request(server.port(), "GET", rawhttp::pathOf(url));
    EXPECT_EQ(file.status, 200);
    EXPECT_EQ(file.headers.at("content-length"), std::to_string(content.size()));
    EXPECT_TRUE(file.body == content);

    // Making another link drops only links that expired.
    const std::string second = get("/api/v1/documents/" + std::to_string(id) + "/download").json().at("download_url");
    EXPECT_EQ(rawhttp::request(server.port(), "GET", rawhttp::pathOf(url)).status, 200);

    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    EXPECT_EQ(rawhttp::request(server.port(), "GET", rawhttp::pathOf(url)).status, 404);
    EXPECT_EQ(rawhttp::request(server.port(), "GET", rawhttp::pathOf(second)).status, 404);
    const std::string third = get("/api/v1/documents/" + std::to_string(id) + "/download").json().at("download_url");
    EXPECT_EQ(rawhttp::request(server.port(), "GET", rawhttp::pathOf(third)).status, 200);
    EXPECT_EQ(rawhttp::request(server.port(), "GET", rawhttp::pathOf(url)).status, 404);
    EXPECT_EQ(rawhttp::request(server.port(), "GET", "/files/not-a-token").status, 404);
    EXPECT_EQ(get("/api/v1/documents/4242/download").status, 404);
}

TEST_F(DocumentApiTest, DownloadInProgressSurvivesANewVersion)
{
    const std::string original(150000, 'o');
    const int64_t id = server.putDocument(email, folderId, "doc.txt", original);
    const std::string url = get("/api/v1/documents/" + std::to_string(id) + "/download").json().at("download_url");

    // The answer waits after the link is resolved; meanwhile another client replaces the document.
    server.injectFault(testsupport::fault({.path = "/files/*", .delayMs = 300, .count = 1}));
    auto download = std::async(std::launch::async, [&] { return rawhttp::request(server.port(), "GET", rawhttp::pathOf(url)); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    server.putDocument(email, folderId, "doc.txt", "new and short");

    const auto file = download.get();
    EXPECT_TRUE(file.complete);
    EXPECT_TRUE(file.body == original);
    EXPECT_EQ(server.content(id), "new and short");
}

} // namespace
