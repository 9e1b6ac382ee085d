#include "HttpServer.h"

#include "HttpStream.h"
#include "Text.h"
#include "Throttle.h"
#include "Transport.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <csignal>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace devserver {

namespace {

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
bool sendFile(Transport &transport, int file, uint64_t limit, Pacer &pacer)
{
    std::vector<char> buffer(256 * 1024);
    bool ok = true;
    off_t offset = 0;
    while (limit > 0 && ok) {
        const std::size_t piece = pacer.pieceSize(static_cast<std::size_t>(std::min<uint64_t>(buffer.size(), limit)));
        const ssize_t got = ::pread(file, buffer.data(), piece, offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            ok = false; // the file shrank under us; the client sees a short body
            break;
        }
        ok = transport.sendAll(buffer.data(), static_cast<std::size_t>(got)) && pacer.moved(static_cast<std::size_t>(got));
        limit -= static_cast<uint64_t>(got);
        offset += got;
    }
    return ok;
}

bool sendPaced(Transport &transport, const char *data, std::size_t size, Pacer &pacer)
{
    while (size > 0) {
        const std::size_t piece = pacer.pieceSize(size);
        if (!transport.sendAll(data, piece) || !pacer.moved(piece))
            return false;
        data += piece;
        size -= piece;
    }
    return true;
}

} // namespace

OpenFile::~OpenFile()
{
    if (fd >= 0)
        ::close(fd);
}

std::string HttpRequest::header(const std::string &lowerName) const
{
    const auto it = headers.find(lowerName);
    return it == headers.end() ? std::string() : trimmed(it->second);
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

HttpServer::HttpServer(HttpHandler handler) : m_handler(std::move(handler)), m_idleTimeoutMs(defaultIdleTimeoutMs) {}

void HttpServer::useTls(const std::string &certificateFile, const std::string &keyFile)
{
    m_tls = std::make_shared<const TlsContext>(certificateFile, keyFile);
}

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
            // OpenSSL writes to the socket without MSG_NOSIGNAL; a client that
            // hung up must cost this connection an error, not the process.
            sigset_t pipe;
            sigemptyset(&pipe);
            sigaddset(&pipe, SIGPIPE);
            pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
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
    std::unique_ptr<Transport> transport =
        m_tls ? m_tls->accept(connection.fd, readTimeoutMs) : plainTransport(connection.fd);
    if (!transport) {
        ::shutdown(connection.fd, SHUT_RDWR);
        return;
    }
    serveRequests(*transport);
    // Closed here, at once, whatever ended the exchange (idle time-out,
    // "Connection: close", a failure): the descriptor itself is released
    // with the thread, at the next accept.
    transport->finish();
}

namespace {

// What a new plain-HTTP connection opens with, looked at without taking it.
enum class Opening { http, tls, none };

Opening peekOpening(int fd, int wakeFd, int timeoutMs)
{
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        const int ready = ::poll(fds, 2, timeoutMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0 || (fds[1].revents & POLLIN))
            return Opening::none;
        unsigned char first = 0;
        const long got = ::recv(fd, &first, 1, MSG_PEEK);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return Opening::none;
        // 0x16: the record type of a TLS handshake, never the first byte of
        // an HTTP method.
        return first == 0x16 ? Opening::tls : Opening::http;
    }
}

} // namespace

void HttpServer::serveRequests(Transport &transport)
{
    // A client that meant https:// learns at once that this port speaks
    // plain HTTP (the connection closes at its greeting), rather than after
    // the read time-out.
    if (!m_tls && peekOpening(transport.fd(), m_wakeRead, m_idleTimeoutMs) != Opening::http)
        return;
    SocketStream stream(transport, m_wakeRead, m_idleTimeoutMs);
    while (!m_stopping.load()) {
        std::string head;
        if (!stream.readHead(head))
            return;
        HttpRequest request;
        std::string version;
        if (!parseRequestHead(head, request, version)) {
            HttpResponse bad;
            bad.status = 400;
            bad.body = R"({"error":"Malformed request"})";
            const std::string out = responseHead(bad, bad.body.size(), false) + bad.body;
            transport.sendAll(out.data(), out.size());
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
                transport.sendAll(out.data(), out.size());
                return;
            }
        }
        if (lowered(request.header("expect")) == "100-continue") {
            static const std::string goOn = "HTTP/1.1 100 Continue\r\n\r\n";
            if (!transport.sendAll(goOn.data(), goOn.size()))
                return;
        }

        FramedBodyReader body(stream, chunked, length);
        HttpResponse response = m_handler(request, body);
        // A body the handler left unread would be taken for the next request.
        const bool bodyConsumed = body.complete() || (!body.failed() && body.drain());

        const std::string connectionHeader = lowered(request.header("connection"));
        const bool keepAlive = bodyConsumed && !response.dropMidBody && connectionHeader != "close"
            && (version != "HTTP/1.0" || connectionHeader == "keep-alive");

        const uint64_t fullLength = response.file ? static_cast<uint64_t>(response.fileSize) : response.body.size();
        const uint64_t sendLength = response.dropMidBody ? fullLength / 2 : fullLength;
        std::string out = responseHead(response, fullLength, keepAlive);
        Pacer pacer(response.bytesPerSecond, [this](int ms) { return sleepUnlessStopping(ms); });
        const bool withBody = request.method != "HEAD";
        // A small answer goes out in one write: head and body in separate
        // segments cost a round trip more on the client's side.
        const bool oneWrite = withBody && !response.file && !pacer.limited() && sendLength <= 64 * 1024;
        if (oneWrite)
            out.append(response.body, 0, static_cast<std::size_t>(sendLength));
        bool sent = transport.sendAll(out.data(), out.size());
        if (sent && withBody && !oneWrite) {
            if (response.file)
                sent = sendFile(transport, response.file->fd, sendLength, pacer);
            else
                sent = sendPaced(transport, response.body.data(), static_cast<std::size_t>(sendLength), pacer);
        }
        if (!sent || !keepAlive)
            return;
    }
}

} // namespace devserver