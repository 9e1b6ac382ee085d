#include "RawHttp.h"
#include "devserver/MultipartParser.h"

#include <gtest/gtest.h>

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
    const Collected whole = parse(boundary, body, {});
    ASSERT_EQ(whole.parts.size(), 3u);
    EXPECT_EQ(whole.parts[0].name, "file");
    EXPECT_EQ(whole.parts[0].filename, "a.txt");
    EXPECT_EQ(whole.parts[0].contentType, "text/plain");
    EXPECT_EQ(whole.parts[1].name, "name");
    EXPECT_FALSE(whole.parts[1].filename);
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

} // namespace

TEST(MultipartParserTest, BlanksAfterADelimiterAreReadOnceAndBounded)
{
    // A few blanks of transport padding are allowed, however they are split.
    const std::string body = rawhttp::uploadForm(boundary, "a.txt", "abc", "a.txt", "1");
    const std::string padded = "--" + boundary + " \t \r\n" + body.substr(body.find("\r\n") + 2);
    bool finished = false;
    EXPECT_EQ(parse(boundary, padded, {boundary.size() + 3, boundary.size() + 4}, &finished).contents[0], "abc");
    EXPECT_TRUE(finished);

    // An endless run of blanks ends the body as malformed, within a bounded
    // buffer: each megabyte fed leaves nothing held.
    MultipartParser parser("B", {[](const MultipartPart &) { return true; },
                                 [](const char *, std::size_t) { return true; }, [] { return true; }});
    ASSERT_TRUE(parser.feed("--B", 3));
    const std::string blanks(512, ' ');
    ASSERT_TRUE(parser.feed(blanks.data(), blanks.size()));
    const std::string megabyte(1 << 20, ' ');
    EXPECT_FALSE(parser.feed(megabyte.data(), megabyte.size()));
    EXPECT_FALSE(parser.error().empty());
    EXPECT_FALSE(parser.feed(megabyte.data(), megabyte.size()));
}
