// The development server's facilities for tests: faults on the requests
// they match, and the requests as they were received.
#include "RawHttp.h"
#include "support/TestSupport.h"

#include <QCoroTimer>
#include <QTimer>
#include <chrono>
#include <future>
#include <stdexcept>

using nlohmann::json;
using testsupport::fault;

namespace {

class TestFacilitiesTest : public RawServerFixture {};

// A fault answers the given number of requests of its method and path (a
// prefix when it ends in '*', whatever the query), with the status, body,
// type and headers given; delayed ones run side by side and are counted in
// flight.
TEST_F(TestFacilitiesTest, FaultsAnswerOnlyTheRequestsTheyMatch)
{
    server.injectFault(fault({.method = "GET", .path = "/api/v1/folders", .status = 503, .error = "Maintenance",
                              .headers = {{"Retry-After", "1"}}, .count = 1}));
    EXPECT_EQ(rawhttp::request(server.port(), "POST", "/api/v1/folders", token, R"({"name":"X"})").status, 201);
    const auto faulty = get("/api/v1/folders?x=1");
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

    server.injectFault(fault({.method = "GET", .path = "/api/v1/folders", .delayMs = 400}));
    server.clearRequests(); // and the counts in flight
    std::vector<std::future<int>> answers;
    for (int i = 0; i < 4; ++i)
        answers.push_back(std::async(std::launch::async, [&] { return get("/api/v1/folders").status; }));
    for (auto &answer : answers)
        EXPECT_EQ(answer.get(), 200);
    EXPECT_EQ(server.peakInFlight("GET", "/api/v1/folders"), 4);
    EXPECT_EQ(server.peakInFlight("", "/api/v1/*"), 4);
    EXPECT_EQ(server.peakInFlight("POST", "/api/v1/folders"), 0);
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
    EXPECT_TRUE(rawhttp::request(server.port(), "GET", rawhttp::pathOf(url)).complete);
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

// run() returns only when its task is done: something thrown from an event
// handler meanwhile does not leave the task to finish into a stack that is
// gone, and is thrown from run() afterwards, before what the task itself threw.
TEST(RunTest, ReturnsOnlyWhenItsTaskIsDoneEvenWhenAnEventHandlerThrows)
{
    using namespace std::chrono_literals;
    bool finished = false;
    auto slowTask = [](bool &finished, bool fail) -> QCoro::Task<int> {
        co_await QCoro::sleepFor(50ms);
        finished = true;
        if (fail)
            throw std::runtime_error("from the task");
        co_return 7;
    };
    QTimer::singleShot(0, [] { throw std::runtime_error("from a timer"); });
    try {
        testsupport::run(slowTask(finished, false));
        ADD_FAILURE() << "run() returned as if nothing had been thrown";
    } catch (const std::runtime_error &error) {
        EXPECT_STREQ(error.what(), "from a timer");
    }
    EXPECT_TRUE(finished);

    finished = false;
    EXPECT_EQ(testsupport::run(slowTask(finished, false)), 7);
    EXPECT_THROW(testsupport::run(slowTask(finished, true)), std::runtime_error);
    EXPECT_TRUE(finished);
}

} // namespace
