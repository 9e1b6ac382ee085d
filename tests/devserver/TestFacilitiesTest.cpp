#include "RawHttp.h"
#include "devserver/DevServer.h"
#include "support/TestSupport.h"

#include <future>
#include <gtest/gtest.h>

using nlohmann::json;
using testsupport::fault;

namespace {

class TestFacilitiesTest : public testing::Test {
protected:
    TestFacilitiesTest()
    {
        server.start();
        server.addUser(email, "secret", "Ann Example", "Example Org");
        token = server.issueToken(email);
        folderId = server.createFolder(email, "Work", std::nullopt);
    }

    rawhttp::Response get(const std::string &target) { return rawhttp::request(server.port(), "GET", target, token); }

    const std::string email = "ann@example.test";
    DevServer server;
    std::string token;
    int64_t folderId = 0;
};

TEST_F(TestFacilitiesTest, FaultAnswersTheGivenNumberOfMatchingRequestsOnly)
{
    server.injectFault(fault({.method = "GET", .path = "/api/v1/folders", .status = 503, .error = "Maintenance",
                              .headers = {{"Retry-After", "1"}}, .count = 1}));

    EXPECT_EQ(rawhttp::request(server.port(), "POST", "/api/v1/folders", token, R"({"name":"X"})").status, 201);
    const auto faulty = get("/api/v1/folders?x=1"); // the query does not matter
    EXPECT_EQ(faulty.status, 503);
    EXPECT_EQ(faulty.body, R"({"error":"Maintenance"})");
    EXPECT_EQ(faulty.headers.at("retry-after"), "1");
    EXPECT_EQ(get("/api/v1/folders").status, 200);

    testsupport::FaultOptions prefix{.path = "/api/v1/documents/*", .status = 500, .body = "<html>oops</html>",
                                  .contentType = "text/html", .count = 2};
    server.injectFault(fault(prefix));
    EXPECT_EQ(get("/api/v1/documents/1/download").status, 500);
    EXPECT_EQ(rawhttp::request(server.port(), "DELETE", "/api/v1/documents/1", token).headers.at("content-type"),
              "text/html");
    EXPECT_EQ(get("/api/v1/documents/1/download").status, 404);

    prefix.count = -1;
    server.injectFault(fault(prefix));
    server.clearFaults();
    EXPECT_EQ(get("/api/v1/documents/1/download").status, 404);
}

TEST_F(TestFacilitiesTest, DropMidBodyAnnouncesTheFullLengthButSendsLess)
{
    const std::string content(200000, 'z');
    const int64_t id = server.putDocument(email, folderId, "big.bin", content);
    const std::string url = get("/api/v1/documents/" + std::to_string(id) + "/download").json().at("download_url");

    server.injectFault(fault({.path = "/files/*", .dropMidBody = true, .count = 1}));
    const auto cut = rawhttp::request(server.port(), "GET", rawhttp::pathOf(url));
    EXPECT_EQ(cut.status, 200);
    EXPECT_EQ(cut.headers.at("content-length"), std::to_string(content.size()));
    EXPECT_FALSE(cut.complete);
    EXPECT_LT(cut.body.size(), content.size());

    const auto whole = rawhttp::request(server.port(), "GET", rawhttp::pathOf(url));
    EXPECT_TRUE(whole.complete);
    EXPECT_EQ(whole.body.size(), content.size());

    server.injectFault(fault({.path = "/api/v1/sync/status", .dropMidBody = true, .count = 1}));
    const auto json = get("/api/v1/sync/status?folder_id=" + std::to_string(folderId));
    EXPECT_FALSE(json.complete);
    EXPECT_THROW((void)json.json(), nlohmann::json::parse_error);
}

TEST_F(TestFacilitiesTest, RequestsAreRecordedAsReceived)
{
    server.clearRequests();
    const std::string body = R"({"name":"Caf\u00e9 ✓", "parent_id": null})";
    rawhttp::Connection connection(server.port());
    connection.send(rawhttp::requestText(server.port(), "POST", "/api/v1/folders", token, body));
    EXPECT_EQ(connection.readResponse().status, 201);
    // Same connection, kept alive: the second request is read separately.
    connection.send(rawhttp::requestText(server.port(), "GET", "/api/v1/sync/status?folder_id=1&since=2026-01-01T00:00:00+01:00", token));
    EXPECT_EQ(connection.readResponse().status, 200);

    const auto recorded = server.requests();
    ASSERT_EQ(recorded.size(), 2u);
    EXPECT_EQ(recorded[0].method, "POST");
    EXPECT_EQ(recorded[0].body, body);
    EXPECT_EQ(recorded[0].headers.find("authorization")->second, "Bearer " + token);
    EXPECT_EQ(recorded[1].path, "/api/v1/sync/status");
    EXPECT_EQ(recorded[1].target, "/api/v1/sync/status?folder_id=1&since=2026-01-01T00:00:00+01:00");
    EXPECT_TRUE(recorded[1].body.empty());
}

TEST_F(TestFacilitiesTest, DelayedRequestsRunConcurrentlyAndAreCountedInFlight)
{
    server.injectFault(fault({.method = "GET", .path = "/api/v1/folders", .delayMs = 400}));
    server.clearRequests();

    std::vector<std::future<int>> answers;
    for (int i = 0; i < 4; ++i)
        answers.push_back(std::async(std::launch::async, [&] { return get("/api/v1/folders").status; }));
    for (auto &answer : answers)
        EXPECT_EQ(answer.get(), 200);

    EXPECT_EQ(server.peakInFlight("GET", "/api/v1/folders"), 4);
    EXPECT_EQ(server.peakInFlight("", "/api/v1/*"), 4);
    EXPECT_EQ(server.peakInFlight("POST", "/api/v1/folders"), 0);
}

} // namespace
