#include "HttpServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace devserver {

namespace {

constexpr std::size_t maxHeadBytes = 64 * 1024;
constexpr int idleTimeoutMs = 60 * 1000;   // keep-alive connection without a request
constexpr int readTimeoutMs = 30 * 1000;   // a request that stops sending mid-way

std::string lowered(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string trimmed(const std::string &text)
{
    const auto begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos)
        return {};
    const auto end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string percentDecoded(const std::string &text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int high = hexValue(text[i + 1]);
            const int low = hexValue(text[i + 2]);
            if (high >= 0 && low >= 0) {
                out.push_back(static_cast<char>(high * 16 + low));
                i += 2;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

bool sendAll(int fd, const char *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

// Buffered reading from one connection, with time-outs that end early when
// the server stops.
class SocketStream {
public:
    SocketStream(int fd, int wakeFd) : m_fd(fd), m_wakeFd(wakeFd) {}

    // Reads the request head up to the blank line. False on close, time-out or
    // an oversized head.
    bool readHead(std::string &head)
    {
        bool first = true;
        for (;;) {
            const auto end = m_buffer.find("\r\n\r\n", m_position);
            if (end != std::string::npos) {
                head = m_buffer.substr(m_position, end + 4 - m_position);
                m_position = end + 4;
                compact();
                return true;
            }
            if (m_buffer.size() - m_position > maxHeadBytes)
                return false;
            if (!fill(first && m_buffer.size() == m_position ? idleTimeoutMs : readTimeoutMs))
                return false;
            first = false;
        }
    }

    // Up to `size` bytes: buffered ones first, then straight from the socket.
    long readSome(char *out, std::size_t size)
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
        for (;;) {
            const ssize_t got = ::recv(m_fd, out, size, 0);
            if (got < 0 && errno == EINTR)
                continue;
            return got > 0 ? static_cast<long>(got) : -1;
        }
    }

    // One CRLF-terminated line (for chunk sizes), without the CRLF.
    bool readLine(std::string &line)
    {
        for (;;) {
            const auto end = m_buffer.find("\r\n", m_position);
            if (end != std::string::npos) {
                line = m_buffer.substr(m_position, end - m_position);
                m_position = end + 2;
                compact();
                return true;
            }
            if (m_buffer.size() - m_position > maxHeadBytes || !fill(readTimeoutMs))
                return false;
        }
    }

private:
    bool waitReadable(int timeoutMs)
    {
        for (;;) {
            pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
            const int ready = ::poll(fds, 2, timeoutMs);
            if (ready < 0 && errno == EINTR)
                continue;
            return ready > 0 && fds[1].revents == 0 && fds[0].revents != 0;
        }
    }

    bool fill(int timeoutMs)
    {
        if (!waitReadable(timeoutMs))
            return false;
        char chunk[16 * 1024];
        for (;;) {
            const ssize_t got = ::recv(m_fd, chunk, sizeof chunk, 0);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return false;
            m_buffer.append(chunk, static_cast<std::size_t>(got));
            return true;
        }
    }

    void compact()
    {
        if (m_position == m_buffer.size()) {
            m_buffer.clear();
            m_position = 0;
        } else if (m_position > 64 * 1024) {
            m_buffer.erase(0, m_position);
            m_position = 0;
        }
    }

    int m_fd;
    int m_wakeFd;
    std::string m_buffer;
    std::size_t m_position = 0;
};

class FramedBodyReader : public BodyReader {
public:
    FramedBodyReader(SocketStream &stream, bool chunked, uint64_t length)
        : m_stream(stream), m_chunked(chunked), m_remaining(length), m_finished(!chunked && length == 0) {}

    long read(char *buffer, std::size_t size) override
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

    bool complete() const { return m_finished && !m_failed; }
    bool failed() const { return m_failed; }

private:
    // Reads the next chunk-size line; at the last chunk, the trailer too.
    bool startChunk()
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

    SocketStream &m_stream;
    bool m_chunked;
    uint64_t m_remaining;
    bool m_finished;
    bool m_failed = false;
};

bool parseHead(const std::string &head, HttpRequest &request, std::string &version)
{
    const auto lineEnd = head.find("\r\n");
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
        request.headers.emplace(lowered(line.substr(0, colon)), trimmed(line.substr(colon + 1)));
    }
    return true;
}

std::string responseHead(const HttpResponse &response, uint64_t length, bool keepAlive)
{
    std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " + statusText(response.status) + "\r\n";
    head += "Content-Type: " + response.contentType + "\r\n";
    head += "Content-Length: " + std::to_string(length) + "\r\n";
    for (const auto &[name, value] : response.headers)
        head += name + ": " + value + "\r\n";
    head += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
    head += "\r\n";
    return head;
}

// Streams a file (or its first `limit` bytes) to the socket in small pieces,
// so that large downloads never sit in memory.
bool sendFile(int fd, const std::string &path, uint64_t limit)
{
    const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0)
        return false;
    std::vector<char> buffer(256 * 1024);
    bool ok = true;
    while (limit > 0 && ok) {
        const ssize_t got = ::read(file, buffer.data(), static_cast<std::size_t>(std::min<uint64_t>(buffer.size(), limit)));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            ok = false; // the file shrank under us; the client sees a short body
            break;
        }
        ok = sendAll(fd, buffer.data(), static_cast<std::size_t>(got));
        limit -= static_cast<uint64_t>(got);
    }
    ::close(file);
    return ok;
}

} // namespace

std::string HttpRequest::header(const std::string &lowerName) const
{
    const auto it = headers.find(lowerName);
    return it == headers.end() ? std::string() : it->second;
}

std::map<std::string, std::string> HttpRequest::queryParameters() const
{
    std::map<std::string, std::string> parameters;
    std::size_t position = 0;
    while (position <= query.size() && !query.empty()) {
        auto end = query.find('&', position);
        if (end == std::string::npos)
            end = query.size();
        const std::string pair = query.substr(position, end - position);
        const auto equals = pair.find('=');
        if (!pair.empty())
            parameters.emplace(percentDecoded(pair.substr(0, equals)),
                               equals == std::string::npos ? std::string() : percentDecoded(pair.substr(equals + 1)));
        position = end + 1;
    }
    return parameters;
}

bool BodyReader::drain()
{
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        const long got = read(buffer.data(), buffer.size());
        if (got == 0)
            return true;
        if (got < 0)
            return false;
    }
}

std::string statusText(int status)
{
    switch (status) {
    case 100: return "Continue";
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 307: return "Temporary Redirect";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 409: return "Conflict";
    case 413: return "Payload Too Large";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

HttpServer::HttpServer(HttpHandler handler) : m_handler(std::move(handler)) {}

HttpServer::~HttpServer()
{
    stop();
}

int HttpServer::listen(const std::string &host, int port)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo *addresses = nullptr;
    const std::string service = std::to_string(port);
    if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &addresses) != 0 || !addresses)
        throw std::runtime_error("cannot resolve listening address " + host);

    int fd = -1;
    std::string failure = "cannot listen on " + host + ":" + service;
    for (addrinfo *a = addresses; a && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0)
            continue;
        const int yes = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, 128) != 0) {
            failure += std::string(": ") + std::strerror(errno);
            ::close(fd);
            fd = -1;
        }
    }
    ::freeaddrinfo(addresses);
    if (fd < 0)
        throw std::runtime_error(failure);

    sockaddr_storage bound{};
    socklen_t boundLength = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&bound), &boundLength);
    const int boundPort = bound.ss_family == AF_INET6
        ? ntohs(reinterpret_cast<sockaddr_in6 *>(&bound)->sin6_port)
        : ntohs(reinterpret_cast<sockaddr_in *>(&bound)->sin_port);

    int wake[2];
    if (::pipe2(wake, O_CLOEXEC) != 0) {
        ::close(fd);
        throw std::runtime_error("cannot create the stop pipe");
    }
    m_wakeRead = wake[0];
    m_wakeWrite = wake[1];
    m_listenFd = fd;
    m_stopping = false;
    m_acceptThread = std::thread([this] { acceptLoop(); });
    return boundPort;
}

void HttpServer::stop()
{
    m_stopping = true;
    if (m_wakeWrite >= 0) {
        const char byte = 1;
        while (::write(m_wakeWrite, &byte, 1) < 0 && errno == EINTR) {
        }
    }
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    if (m_listenFd >= 0) {
        ::close(m_listenFd);
        m_listenFd = -1;
    }
    std::list<std::unique_ptr<Connection>> connections;
    {
        std::lock_guard lock(m_connectionsMutex);
        connections.swap(m_connections);
    }
    // Wake threads blocked in send(); readers notice the flag within a poll slice.
    for (auto &connection : connections)
        ::shutdown(connection->fd, SHUT_RDWR);
    for (auto &connection : connections) {
        if (connection->thread.joinable())
            connection->thread.join();
        ::close(connection->fd);
    }
    if (m_wakeRead >= 0) {
        ::close(m_wakeRead);
        ::close(m_wakeWrite);
        m_wakeRead = m_wakeWrite = -1;
    }
}

bool HttpServer::sleepUnlessStopping(int ms) const
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (m_stopping.load() || left.count() <= 0)
            break;
        pollfd wake{m_wakeRead, POLLIN, 0};
        ::poll(&wake, 1, static_cast<int>(left.count()));
    }
    return !m_stopping.load();
}

void HttpServer::acceptLoop()
{
    while (!m_stopping.load()) {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_wakeRead, POLLIN, 0}};
        if (::poll(fds, 2, -1) <= 0 || fds[1].revents != 0)
            continue;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        const int yes = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        reapFinished();
        auto connection = std::make_unique<Connection>();
        connection->fd = fd;
        Connection *raw = connection.get();
        std::lock_guard lock(m_connectionsMutex);
        m_connections.push_back(std::move(connection));
        raw->thread = std::thread([this, raw] {
            serve(*raw);
            raw->done = true;
        });
    }
}

void HttpServer::reapFinished()
{
    std::lock_guard lock(m_connectionsMutex);
    for (auto it = m_connections.begin(); it != m_connections.end();) {
        if ((*it)->done.load()) {
            (*it)->thread.join();
            ::close((*it)->fd);
            it = m_connections.erase(it);
        } else {
            ++it;
        }
    }
}

void HttpServer::serve(Connection &connection)
{
    const int fd = connection.fd;
    SocketStream stream(fd, m_wakeRead);
    while (!m_stopping.load()) {
        std::string head;
        if (!stream.readHead(head))
            return;
        HttpRequest request;
        std::string version;
        if (!parseHead(head, request, version)) {
            HttpResponse bad;
            bad.status = 400;
            bad.body = R"({"error":"Malformed request"})";
            const std::string out = responseHead(bad, bad.body.size(), false) + bad.body;
            sendAll(fd, out.data(), out.size());
            return;
        }

        const bool chunked = lowered(request.header("transfer-encoding")).find("chunked") != std::string::npos;
        uint64_t length = 0;
        const std::string lengthText = request.header("content-length");
        if (!chunked && !lengthText.empty()) {
            char *end = nullptr;
            errno = 0;
            length = std::strtoull(lengthText.c_str(), &end, 10);
            if (errno != 0 || *end != '\0' || lengthText[0] == '-') {
                HttpResponse bad;
                bad.status = 400;
                const std::string out = responseHead(bad, 0, false);
                sendAll(fd, out.data(), out.size());
                return;
            }
        }
        if (lowered(request.header("expect")) == "100-continue") {
            static const std::string goOn = "HTTP/1.1 100 Continue\r\n\r\n";
            if (!sendAll(fd, goOn.data(), goOn.size()))
                return;
        }

        FramedBodyReader body(stream, chunked, length);
        HttpResponse response = m_handler(request, body);
        // A body the handler left unread would be taken for the next request.
        const bool bodyConsumed = body.complete() || (!body.failed() && body.drain());

        const std::string connectionHeader = lowered(request.header("connection"));
        const bool keepAlive = bodyConsumed && !response.dropMidBody && connectionHeader != "close"
            && (version != "HTTP/1.0" || connectionHeader == "keep-alive");

        const uint64_t fullLength = response.filePath.empty() ? response.body.size()
                                                              : static_cast<uint64_t>(response.fileSize);
        const uint64_t sendLength = response.dropMidBody ? fullLength / 2 : fullLength;
        const std::string out = responseHead(response, fullLength, keepAlive);
        bool sent = sendAll(fd, out.data(), out.size());
        if (sent && request.method != "HEAD") {
            if (response.filePath.empty())
                sent = sendAll(fd, response.body.data(), static_cast<std::size_t>(sendLength));
            else
                sent = sendFile(fd, response.filePath, sendLength);
        }
        if (!sent || !keepAlive) {
            ::shutdown(fd, SHUT_RDWR);
            return;
        }
    }
}

} // namespace devserver
