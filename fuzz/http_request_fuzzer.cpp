// The development server's reading of a request from the network: the head,
// then the body framed by Content-Length or chunked coding, as the server
// does it. The first byte sets how many bytes each read of the connection
// gives, so that every split of the stream is tried.
#include "FuzzCheck.h"
#include "HttpStream.h"
#include "Text.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// The connection's bytes come from the input; the peer closes at its end.
class InputTransport : public devserver::Transport {
public:
    InputTransport(const uint8_t *data, std::size_t size, std::size_t piece)
        : Transport(-1), m_data(data), m_size(size), m_piece(piece) {}
    long receive(char *out, std::size_t size) override
    {
        const std::size_t n = std::min({size, m_piece, m_size - m_at});
        std::memcpy(out, m_data + m_at, n);
        m_at += n;
        return long(n);
    }
    bool sendAll(const char *, std::size_t) override { return true; }
    bool hasBuffered() const override { return true; } // never waits on a socket
    void finish() override {}

private:
    const uint8_t *m_data;
    std::size_t m_size;
    std::size_t m_piece;
    std::size_t m_at = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    InputTransport transport(data + 1, size - 1, std::size_t(data[0]) % 64 + 1);
    devserver::SocketStream stream(transport, -1, 0);
    // Requests follow one another on a kept-alive connection.
    for (int request = 0; request < 4; ++request) {
        std::string head;
        if (!stream.readHead(head))
            return 0;
        FUZZ_CHECK(head.size() <= devserver::maxHeadBytes + 16 * 1024 + 4);
        devserver::HttpRequest parsed;
        std::string version;
        if (!devserver::parseRequestHead(head, parsed, version))
            return 0;
        FUZZ_CHECK(!parsed.method.empty() && !parsed.target.empty());
        (void)parsed.queryParameters();
        const bool chunked =
            devserver::lowered(parsed.header("transfer-encoding")).find("chunked") != std::string::npos;
        uint64_t length = 0;
        const std::string lengthText = parsed.header("content-length");
        if (!chunked && !lengthText.empty()) {
            char *end = nullptr;
            errno = 0;
            length = std::strtoull(lengthText.c_str(), &end, 10);
            if (errno != 0 || *end != '\0' || lengthText[0] == '-')
                return 0;
        }
        devserver::FramedBodyReader body(stream, chunked, length);
        char buffer[4096];
        uint64_t total = 0;
        for (;;) {
            const long got = body.read(buffer, sizeof buffer);
            if (got <= 0)
                break;
            total += uint64_t(got);
            FUZZ_CHECK(total <= size);
        }
        if (!body.complete())
            return 0;
        FUZZ_CHECK(chunked || total == length);
    }
    return 0;
}
