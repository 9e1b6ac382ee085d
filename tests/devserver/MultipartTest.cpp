#include "RawHttp.h"
#include "devserver/DevServer.h"
#include "devserver/MultipartParser.h"

#include <gtest/gtest.h>
#include <thread>

using devserver::MultipartParser;
using devserver::MultipartPart;

namespace {

struct Collected {
    std::vector<MultipartPart> parts;
    std::vector<std::string> contents;
};

// Feeds `body` in pieces that end at each of `cuts`.
Collected parse(const std::string &boundary, const std::string &body, const std::vector<std::size_t> &cuts,
                bool *finished = nullptr)
{
    Collected out;
    MultipartParser parser(boundary, {[&](const MultipartPart &part) {
                                          out.parts.push_back(part);
                                          out.contents.emplace_back();
                                          return true;
                                      },
                                      [&](const char *data, std::size_t size) {
                                          out.contents.back().append(data, size);
                                          return true;
                                      },
                                      [] { return true; }});
    std::size_t from = 0;
    for (std::size_t cut : cuts) {
        EXPECT_TRUE(parser.feed(body.data() + from, cut - from)) << parser.error();
        from = cut;
    }
    EXPECT_TRUE(parser.feed(body.data() + from, body.size() - from)) << parser.error();
    if (finished)
        *finished = parser.finished();
    return out;
}

const std::string boundary = "3F2504E0-4F89-11D3-9A0C-0305E82C3301";

TEST(MultipartParserTest, FindsEveryDelimiterWhereverTheReadsSplitIt)
{
    // Content that looks almost like a delimiter must survive unchanged.
    const std::string tricky = "line\r\n--3F2504E0-not-it\r\n-\r\r\n--";
    const std::string body = rawhttp::uploadForm(boundary, "a.txt", tricky, "a.txt", "42");
    for (std::size_t cut = 1; cut < body.size(); ++cut) {
        bool finished = false;
        const Collected one = parse(boundary, body, {cut}, &finished);
        ASSERT_TRUE(finished) << "split at " << cut;
        ASSERT_EQ(one.contents.size(), 3u) << "split at " << cut;
        ASSERT_EQ(one.contents[0], tricky) << "split at " << cut;
        ASSERT_EQ(one.contents[2], "42") << "split at " << cut;
    }
    std::vector<std::size_t> everyByte;
    for (std::size_t i = 1; i < body.size(); ++i)
        everyByte.push_back(i);
    const Collected bytewise = parse(boundary, body, everyByte);
    ASSERT_EQ(bytewise.parts.size(), 3u);
    EXPECT_EQ(bytewise.parts[0].name, "file");
    EXPECT_EQ(bytewise.parts[0].filename, "a.txt");
    EXPECT_EQ(bytewise.parts[0].contentType, "text/plain");
    EXPECT_EQ(bytewise.parts[1].name, "name");
    EXPECT_FALSE(bytewise.parts[1].filename);
    EXPECT_EQ(bytewise.contents[0], tricky);
}

TEST(MultipartParserTest, ReadsUnescapedQuotesInFileNamesAndRejectsBrokenBodies)
{
    const std::string quoted = rawhttp::uploadForm(boundary, "say \"hi\".txt", "x", "n", "1");
    EXPECT_EQ(parse(boundary, quoted, {}).parts[0].filename, "say \"hi\".txt");

    const std::string empty = rawhttp::uploadForm(boundary, "empty.txt", "", "n", "1");
    EXPECT_EQ(parse(boundary, empty, {}).contents[0], "");

    bool finished = true;
    const std::string body = rawhttp::uploadForm(boundary, "a.txt", "abc", "a.txt", "1");
    parse(boundary, body.substr(0, body.size() - 4), {}, &finished);
    EXPECT_FALSE(finished);

    MultipartParser garbage(boundary, {[](const MultipartPart &) { return true; },
                                       [](const char *, std::size_t) { return true; }, [] { return true; }});
    EXPECT_FALSE(garbage.feed(("--" + boundary + "XX").data(), boundary.size() + 4));

    EXPECT_EQ(MultipartParser::boundaryFrom("multipart/form-data; boundary=" + boundary), boundary);
    EXPECT_EQ(MultipartParser::boundaryFrom("multipart/form-data; boundary=\"a b\""), "a b");
    EXPECT_FALSE(MultipartParser::boundaryFrom("application/json"));
    EXPECT_FALSE(MultipartParser::boundaryFrom("multipart/form-data"));
}

TEST(MultipartUploadTest, UploadSentInPiecesSplittingTheDelimiterIsStoredWhole)
{
    DevServer server;
    const int port = server.start();
    server.addUser("ann@example.test", "pw", "Ann", "Org");
    const std::string token = server.issueToken("ann@example.test");
    const int64_t folder = server.createFolder("ann@example.test", "Work", std::nullopt);

    const std::string content = std::string(100000, 'a') + "\r\n--" + std::string(50000, 'b');
    const std::string body = rawhttp::uploadForm(boundary, "piece.txt", content, "piece.txt", std::to_string(folder));
    const std::string request =
        rawhttp::requestText(server.port(), "POST", "/api/v1/documents", token, body, "multipart/form-data; boundary=" + boundary);

    // Pause inside the delimiter that ends the file part so the server reads it in two parts.
    const std::size_t delimiterEnd = request.find("\r\n--" + boundary, request.find("\r\n\r\n") + 4 + 200) + 10;
    rawhttp::Connection connection(port);
    connection.send(request.substr(0, delimiterEnd));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    connection.send(request.substr(delimiterEnd));
    const auto response = connection.readResponse();
    ASSERT_EQ(response.status, 201) << response.body;
    EXPECT_EQ(response.json().at("file_size"), content.size());
    EXPECT_EQ(server.content(response.json().at("id").get<int64_t>()), content);
}

TEST(MultipartUploadTest, ChunkedRequestBodyIsDecoded)
{
    DevServer server;
    const int port = server.start();
    server.addUser("ann@example.test", "pw", "Ann", "Org");
    const std::string token = server.issueToken("ann@example.test");
    const int64_t folder = server.createFolder("ann@example.test", "Work", std::nullopt);

    const std::string body = rawhttp::uploadForm(boundary, "c.txt", "chunky", "c.txt", std::to_string(folder));
    std::string request = "POST /api/v1/documents HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " + token
        + "\r\nContent-Type: multipart/form-data; boundary=" + boundary + "\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (std::size_t at = 0; at < body.size(); at += 50) {
        const std::string piece = body.substr(at, 50);
        char size[16];
        std::snprintf(size, sizeof size, "%zx", piece.size());
        request += std::string(size) + "\r\n" + piece + "\r\n";
    }
    request += "0\r\n\r\n";
    rawhttp::Connection connection(port);
    connection.send(request);
    const auto response = connection.readResponse();
    ASSERT_EQ(response.status, 201) << response.body;
    EXPECT_EQ(server.content(response.json().at("id").get<int64_t>()), "chunky");
    EXPECT_EQ(server.requests().back().body, body);
}

} // namespace
