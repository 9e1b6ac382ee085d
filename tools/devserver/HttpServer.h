#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace devserver {

// One parsed request head. Header names are lower-cased, values keep what
// followed the colon's blanks; the path is the target without its query,
// exactly as sent.
struct HttpRequest {
    std::string method;
    std::string target;
    std::string path;
    std::string query;
    std::multimap<std::string, std::string> headers;

    // The first value of that header, without surrounding blanks.
    std::string header(const std::string &lowerName) const;
    // Query parameters, percent-decoded. A '+' stays a '+': clients send
    // time stamps with offsets unescaped.
    std::map<std::string, std::string> queryParameters() const;
};

// The request body, read as it arrives (Content-Length or chunked framing).
class BodyReader {
public:
    virtual ~BodyReader() = default;
    // Up to `size` bytes into `buffer`; 0 at the end of the body, -1 when the
    // connection failed or the framing is broken.
    virtual long read(char *buffer, std::size_t size) = 0;
    // Reads and discards the rest; false if the body could not be read to its end.
    bool drain();
};

// A file descriptor closed with its last owner.
struct OpenFile {
    explicit OpenFile(int descriptor) : fd(descriptor) {}
    ~OpenFile();
    OpenFile(const OpenFile &) = delete;
    OpenFile &operator=(const OpenFile &) = delete;
    const int fd;
};

struct HttpResponse {
    int status = 200;
    std::string contentType = "application/json";
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // When set, the body is streamed from this open file instead of `body`.
    std::shared_ptr<OpenFile> file;
    int64_t fileSize = 0;
    // Announce the full length, send about half of the body, then close.
    bool dropMidBody = false;
    // Sends the body no faster than this (0: as fast as the socket takes it).
    int64_t bytesPerSecond = 0;
};

using HttpHandler = std::function<HttpResponse(const HttpRequest &, BodyReader &)>;

class TlsContext;
class Transport;

// A small HTTP/1.1 server: one thread per connection, so that concurrent
// clients (and delayed answers) really run side by side. Keep-alive, chunked
// request bodies and "Expect: 100-continue" are understood; with a
// certificate and key it speaks HTTPS instead of HTTP.
class HttpServer {
public:
    explicit HttpServer(HttpHandler handler);
    ~HttpServer();

    // Before listen(): serve TLS with this certificate chain and key (PEM).
    // Throws std::runtime_error when they cannot be loaded.
    void useTls(const std::string &certificateFile, const std::string &keyFile);
    bool usesTls() const { return m_tls != nullptr; }
    // Before listen(): how long a kept-alive connection may wait for its
    // next request before the server closes it.
    void setIdleTimeoutMs(int ms) { m_idleTimeoutMs = ms; }

    // Binds and listens before returning; returns the port. Throws
    // std::runtime_error when the address cannot be bound.
    int listen(const std::string &host, int port);
    void stop();
    bool stopping() const { return m_stopping.load(); }
    // Sleeps up to `ms`, returning early (false) once the server stops.
    bool sleepUnlessStopping(int ms) const;

private:
    struct Connection {
        int fd = -1;
        std::thread thread;
        std::atomic<bool> done{false};
    };

    void acceptLoop();
    void serve(Connection &connection);
    void serveRequests(Transport &transport);
    void reapFinished();

    HttpHandler m_handler;
    std::shared_ptr<const TlsContext> m_tls;
    int m_idleTimeoutMs;
    int m_listenFd = -1;
    // Becomes readable on stop(), waking every poll at once.
    int m_wakeRead = -1, m_wakeWrite = -1;
    std::atomic<bool> m_stopping{false};
    std::thread m_acceptThread;
    std::mutex m_connectionsMutex;
    std::list<std::unique_ptr<Connection>> m_connections;
};

std::string statusText(int status);

} // namespace devserver
