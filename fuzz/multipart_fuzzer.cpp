// The development server's multipart/form-data parser: the same parts and
// contents whether a body arrives whole or in pieces of any size, and a
// bounded buffer throughout. The first byte sets the size of the pieces.
#include "FuzzCheck.h"
#include "MultipartParser.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

struct Outcome {
    std::vector<std::string> parts; // name, file name and type of each part
    std::vector<std::string> contents;
    bool accepted = true;
    bool finished = false;
    bool operator==(const Outcome &) const = default;
};

Outcome parse(const char *data, std::size_t size, std::size_t piece)
{
    Outcome out;
    devserver::MultipartParser parser("B0undary", {[&](const devserver::MultipartPart &part) {
                                                        out.parts.push_back(part.name + '\n' + part.filename.value_or("-")
                                                                            + '\n' + part.contentType);
                                                        out.contents.emplace_back();
                                                        return true;
                                                    },
                                                    [&](const char *bytes, std::size_t n) {
                                                        FUZZ_CHECK(!out.contents.empty());
                                                        out.contents.back().append(bytes, n);
                                                        return true;
                                                    },
                                                    [] { return true; }});
    for (std::size_t at = 0; at < size && out.accepted; at += piece)
        out.accepted = parser.feed(data + at, std::min(piece, size - at));
    out.finished = parser.finished();
    if (!out.accepted)
        FUZZ_CHECK(!parser.error().empty());
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const char *body = reinterpret_cast<const char *>(data + 1);
    const std::size_t bodySize = size - 1;
    const Outcome whole = parse(body, bodySize, bodySize + 1);
    const Outcome pieces = parse(body, bodySize, std::size_t(data[0]) % 32 + 1);
    // A body refused whole may be refused at an earlier piece: compare only
    // what both read to the end.
    if (whole.accepted && pieces.accepted)
        FUZZ_CHECK(whole == pieces);
    else
        FUZZ_CHECK(whole.accepted == pieces.accepted);

    // The boundary read from a Content-Type header.
    const std::string contentType(body, std::min<std::size_t>(bodySize, 300));
    if (const auto boundary = devserver::MultipartParser::boundaryFrom(contentType))
        FUZZ_CHECK(!boundary->empty() && boundary->size() <= 200);
    return 0;
}
