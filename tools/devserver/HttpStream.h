#pragma once

#include "HttpServer.h"
#include "Transport.h"

#include <cstdint>
#include <string>

namespace devserver {

constexpr std::size_t maxHeadBytes = 64 * 1024;
constexpr int defaultIdleTimeoutMs = 60 * 1000; // keep-alive connection without a request
constexpr int readTimeoutMs = 30 * 1000; // a request that stops sending mid-way

// Buffered reading from one connection. Every wait also watches `wakeFd`,
// which becomes readable when the server stops.
class SocketStream {
public:
    SocketStream(Transport &transport, int wakeFd, int idleTimeoutMs)
        : m_transport(transport), m_wakeFd(wakeFd), m_idleTimeoutMs(idleTimeoutMs) {}

    // The request head up to and including the blank line. False on close,
    // time-out (idleTimeoutMs before a request starts), stop or an oversized
    // head.
    bool readHead(std::string &head);
    // Up to `size` bytes: buffered ones first, then straight from the socket.
    long readSome(char *out, std::size_t size);
    // One CRLF-terminated line (chunk sizes), without the CRLF.
    bool readLine(std::string &line);

private:
    bool waitReadable(int timeoutMs);
    bool fill(int timeoutMs);
    void compact();

    Transport &m_transport;
    int m_wakeFd;
    int m_idleTimeoutMs;
    std::string m_buffer;
    std::size_t m_position = 0;
};

// The body of one request, framed by Content-Length or chunked coding.
class FramedBodyReader : public BodyReader {
public:
    FramedBodyReader(SocketStream &stream, bool chunked, uint64_t length)
        : m_stream(stream), m_chunked(chunked), m_remaining(length), m_finished(!chunked && length == 0) {}

    long read(char *buffer, std::size_t size) override;
    bool complete() const { return m_finished && !m_failed; }
    bool failed() const { return m_failed; }

private:
    bool startChunk();

    SocketStream &m_stream;
    bool m_chunked;
    uint64_t m_remaining;
    bool m_finished;
    bool m_failed = false;
};

// Request line and headers; false when they are malformed.
bool parseRequestHead(const std::string &head, HttpRequest &request, std::string &version);

} // namespace devserver
