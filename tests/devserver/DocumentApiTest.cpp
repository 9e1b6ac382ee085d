#include "RawHttp.h"
#include "devserver/DevServer.h"
#include "support/TestSupport.h"

#include <future>
#include <gtest/gtest.h>
#include <thread>

using nlohmann::json;

namespace {

class DocumentApiTest : public testing::Test {
protected:
    explicit DocumentApiTest(int linkSeconds = 300) : server(optionsWith(linkSeconds))
    {
        server.start();
        server.addUser(email, "secret", "Ann Example", "Example Org");
        token = server.issueToken(email);
        folderId = server.createFolder(email, "Work", std::nullopt);
    }

    static DevServer::Options optionsWith(int linkSeconds)
    {
        DevServer::Options options;
        options.downloadLinkSeconds = linkSeconds;
        return options;
    }

    rawhttp::Response get(const std::string &target) { return rawhttp::request(server.port(), "GET", target, token); }

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

    const std::string email = "ann@example.test";
    DevServer server;
    std::string token;
    int64_t folderId = 0;
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
    EXPECT_EQ(get("/api/v1/sync/status?folder_id=" + std::to_string(folderId) + "&since=yesterday").status, 400);
    EXPECT_EQ(get("/api/v1/sync/status?folder_id=" + std::to_string(folderId) + "&since=2026-13-01T00:00:00Z").status,
              400);
    EXPECT_EQ(get("/api/v1/sync/status?folder_id=999").status, 404);
    EXPECT_EQ(get("/api/v1/sync/status").status, 400);
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

TEST_F(DocumentApiTest, UploadProblemsAreRejectedWithAnErrorAndStoreNothing)
{
    const std::string boundary = "B0UNDARY";
    const auto post = [&](const std::string &body, const std::string &contentType) {
        return rawhttp::request(server.port(), "POST", "/api/v1/documents", token, body, contentType);
    };
    const std::string multipart = "multipart/form-data; boundary=" + boundary;

    EXPECT_EQ(post(rawhttp::uploadForm(boundary, "a.txt", "x", "a.txt", "999"), multipart).status, 404);
    EXPECT_EQ(post(rawhttp::uploadForm(boundary, "a.txt", "x", "a.txt", "seven"), multipart).status, 400);
    EXPECT_EQ(post(rawhttp::uploadForm(boundary, "a.txt", "x", "", std::to_string(folderId)), multipart).status, 400);
    EXPECT_EQ(post(rawhttp::uploadForm(boundary, "a.txt", "x", "a.txt", "1"), "application/json").status, 400);
    const std::string cutShort = rawhttp::uploadForm(boundary, "a.txt", "x", "a.txt", std::to_string(folderId));
    const auto truncated = post(cutShort.substr(0, cutShort.size() - 12), multipart);
    EXPECT_EQ(truncated.status, 400);
    EXPECT_TRUE(truncated.json().contains("error"));
    EXPECT_TRUE(server.documents(folderId, true).empty());
}

TEST_F(DocumentApiTest, EveryApiCallButSignInNeedsAValidBearerAndSignOutRevokesIt)
{
    EXPECT_EQ(rawhttp::request(server.port(), "GET", "/api/v1/folders").status, 401);
    EXPECT_EQ(rawhttp::request(server.port(), "GET", "/api/v1/folders", "forged").status, 401);

    const auto wrong = rawhttp::request(server.port(), "POST", "/api/v1/auth/login", {},
                                        R"({"email":"ann@example.test","password":"nope"})");
    EXPECT_EQ(wrong.status, 401);
    EXPECT_EQ(rawhttp::request(server.port(), "POST", "/api/v1/auth/login", {}, "{not json").status, 400);

    const auto login = rawhttp::request(server.port(), "POST", "/api/v1/auth/login", {},
                                        R"({"email":"ann@example.test","password":"secret"})");
    ASSERT_EQ(login.status, 200) << login.body;
    const json user = login.json().at("user");
    EXPECT_EQ(user.at("display_name"), "Ann Example");
    EXPECT_EQ(user.at("organization"), "Example Org");
    const std::string fresh = login.json().at("token");

    EXPECT_EQ(rawhttp::request(server.port(), "GET", "/api/v1/folders", fresh).status, 200);
    const auto logout = rawhttp::request(server.port(), "DELETE", "/api/v1/auth/logout", fresh);
    EXPECT_EQ(logout.json().at("message"), "Logged out");
    EXPECT_EQ(rawhttp::request(server.port(), "GET", "/api/v1/folders", fresh).status, 401);
    EXPECT_EQ(get("/api/v1/folders").status, 200); // other sessions stay

    EXPECT_EQ(rawhttp::request(server.port(), "GET", "/api/v1/nothing-here").status, 404);
    const auto unknown = get("/api/v1/documents/12/nothing");
    EXPECT_EQ(unknown.status, 404);
    EXPECT_EQ(unknown.json().at("error"), "Not found");
}

TEST_F(DocumentApiTest, FoldersNestAndAreKeptPerUser)
{
    const auto child = rawhttp::request(server.port(), "POST", "/api/v1/folders", token,
                                        json{{"name", "Child"}, {"parent_id", folderId}}.dump());
    ASSERT_EQ(child.status, 201) << child.body;
    EXPECT_EQ(child.json().at("path"), "/Work/Child");
    EXPECT_EQ(rawhttp::request(server.port(), "POST", "/api/v1/folders", token,
                               json{{"name", "Orphan"}, {"parent_id", 4242}}.dump())
                  .status,
              404);

    server.addUser("bob@example.test", "pw", "Bob", "Elsewhere");
    const std::string bob = server.issueToken("bob@example.test");
    EXPECT_TRUE(rawhttp::request(server.port(), "GET", "/api/v1/folders", bob).json().empty());
    EXPECT_EQ(rawhttp::request(server.port(), "GET", "/api/v1/sync/status?folder_id=" + std::to_string(folderId), bob)
                  .status,
              404);
    const json listing = get("/api/v1/folders").json();
    ASSERT_EQ(listing.size(), 2u);
    EXPECT_TRUE(listing[0].at("parent_id").is_null());
    EXPECT_EQ(listing[1].at("parent_id"), folderId);
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

    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    EXPECT_EQ(rawhttp::request(server.port(), "GET", rawhttp::pathOf(url)).status, 404);
    EXPECT_EQ(rawhttp::request(server.port(), "GET", "/files/not-a-token").status, 404);
    EXPECT_EQ(get("/api/v1/documents/4242/download").status, 404);
}

TEST_F(DocumentApiTest, DeletedDocumentIsNoLongerListedNorDownloadable)
{
    const int64_t id = server.putDocument(email, folderId, "gone.txt", "x");
    const std::string url = get("/api/v1/documents/" + std::to_string(id) + "/download").json().at("download_url");

    const auto deleted = rawhttp::request(server.port(), "DELETE", "/api/v1/documents/" + std::to_string(id), token);
    ASSERT_EQ(deleted.status, 200);
    EXPECT_EQ(deleted.json(), (json{{"deleted", true}, {"archived", false}}));
    EXPECT_TRUE(status().at("documents").empty());
    EXPECT_EQ(rawhttp::request(server.port(), "GET", rawhttp::pathOf(url)).status, 404);
    EXPECT_EQ(rawhttp::request(server.port(), "DELETE", "/api/v1/documents/" + std::to_string(id), token).status, 404);
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
