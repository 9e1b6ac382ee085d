#include "HttpStream.h"

#include "Text.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>

namespace devserver {

bool SocketStream::readHead(std::string &head)
{
    bool first = true;
    // Each read is searched once (with the three bytes before it), not the
    // whole head again: a client sending a byte at a time costs no more.
    std::size_t from = m_position;
    for (;;) {
        const auto end = m_buffer.find("\r\n\r\n", from);
        if (end != std::string::npos) {
            head = m_buffer.substr(m_position, end + 4 - m_position);
            m_position = end + 4;
            compact();
            return true;
        }
        if (m_buffer.size() - m_position > maxHeadBytes)
            return false;
        from = std::max(m_position, m_buffer.size() < 3 ? std::size_t(0) : m_buffer.size() - 3);
        if (!fill(first && m_buffer.size() == m_position ? m_idleTimeoutMs : readTimeoutMs))
            return false;
        first = false;
    }
}

long SocketStream::readSome(char *out, std::size_t size)
{
    if (m_position < m_buffer.size()) {
        const std::size_t n = std::min(size, m_buffer.size() - m_position);
        std::memcpy(out, m_buffer.data() + m_position, n);
        m_position += n;
        compact();
        return static_cast<long>(n);
    }
    if (!waitReadable(readTimeoutMs))
        return -1;
    const long got = m_transport.receive(out, size);
    return got > 0 ? got : -1;
}

bool SocketStream::readLine(std::string &line)
{
    std::size_t from = m_position;
    for (;;) {
        const auto end = m_buffer.find("\r\n", from);
        if (end != std::string::npos) {
            line = m_buffer.substr(m_position, end - m_position);
            m_position = end + 2;
            compact();
            return true;
        }
        from = std::max(m_position, m_buffer.size() < 1 ? std::size_t(0) : m_buffer.size() - 1);
        if (m_buffer.size() - m_position > maxHeadBytes || !fill(readTimeoutMs))
            return false;
    }
}

bool SocketStream::waitReadable(int timeoutMs)
{
    if (m_transport.hasBuffered())
        return true;
    for (;;) {
        pollfd fds[2] = {{m_transport.fd(), POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        const int ready = ::poll(fds, 2, timeoutMs);
        if (ready < 0 && errno == EINTR)
            continue;
        return ready > 0 && fds[1].revents == 0 && fds[0].revents != 0;
    }
}

bool SocketStream::fill(int timeoutMs)
{
    if (!waitReadable(timeoutMs))
        return false;
    char chunk[16 * 1024];
    const long got = m_transport.receive(chunk, sizeof chunk);
    if (got <= 0)
        return false;
    m_buffer.append(chunk, static_cast<std::size_t>(got));
    return true;
}

void SocketStream::compact()
{
    if (m_position == m_buffer.size()) {
        m_buffer.clear();
        m_position = 0;
    } else if (m_position > 64 * 1024) {
        m_buffer.erase(0, m_position);
        m_position = 0;
    }
}

long FramedBodyReader::read(char *buffer, std::size_t size)
{
    if (m_failed)
        return -1;
    if (m_finished || size == 0)
        return 0;
    if (m_chunked && m_remaining == 0 && !startChunk())
        return m_failed ? -1 : 0;
    const std::size_t wanted = static_cast<std::size_t>(std::min<uint64_t>(size, m_remaining));
    const long got = m_stream.readSome(buffer, wanted);
    if (got <= 0) {
        m_failed = true;
        return -1;
    }
    m_remaining -= static_cast<uint64_t>(got);
    if (!m_chunked && m_remaining == 0)
        m_finished = true;
    if (m_chunked && m_remaining == 0) {
        std::string crlf;
        if (!m_stream.readLine(crlf) || !crlf.empty())
            m_failed = true;
    }
    return got;
}

// Reads the next chunk-size line; after the last chunk, the trailer too.
bool FramedBodyReader::startChunk()
{
    std::string line;
    if (!m_stream.readLine(line)) {
        m_failed = true;
        return false;
    }
    const std::string digits = trimmed(line.substr(0, line.find(';')));
    if (digits.empty() || digits.size() > 15) {
        m_failed = true;
        return false;
    }
    uint64_t value = 0;
    for (char c : digits) {
        const int v = hexValue(c);
        if (v < 0) {
            m_failed = true;
            return false;
        }
        value = value * 16 + static_cast<uint64_t>(v);
    }
    if (value == 0) {
        do {
            if (!m_stream.readLine(line)) {
                m_failed = true;
                return false;
            }
        } while (!line.empty());
        m_finished = true;
        return false;
    }
    m_remaining = value;
    return true;
}

bool parseRequestHead(const std::string &head, HttpRequest &request, std::string &version)
{
    const auto lineEnd = head.find("\r\n");
    if (lineEnd == std::string::npos)
        return false;
    const std::string requestLine = head.substr(0, lineEnd);
    const auto firstSpace = requestLine.find(' ');
    const auto secondSpace = requestLine.find(' ', firstSpace + 1);
    if (firstSpace == std::string::npos || secondSpace == std::string::npos)
        return false;
    request.method = requestLine.substr(0, firstSpace);
    request.target = requestLine.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    version = requestLine.substr(secondSpace + 1);
    if (request.method.empty() || request.target.empty() || version.rfind("HTTP/1.", 0) != 0)
        return false;
    const auto question = request.target.find('?');
    request.path = request.target.substr(0, question);
    request.query = question == std::string::npos ? std::string() : request.target.substr(question + 1);

    std::size_t position = lineEnd + 2;
    while (position < head.size()) {
        const auto end = head.find("\r\n", position);
        if (end == std::string::npos || end == position)
            break;
        const std::string line = head.substr(position, end - position);
        position = end + 2;
        const auto colon = line.find(':');
        if (colon == std::string::npos || colon == 0)
            return false;
        // Trailing blanks stay in the recorded value: tests check headers as
        // the client wrote them ("Bearer " with an empty token).
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(" \t"));
        request.headers.emplace(lowered(line.substr(0, colon)), std::move(value));
    }
    return true;
}

} // namespace devserver
