#pragma once

#include <cstddef>
#include <memory>
#include <string>

typedef struct ssl_ctx_st SSL_CTX;

namespace devserver {

// The byte stream of one accepted connection: the socket itself, or TLS
// over it. Blocking; every call runs on the connection's own thread.
class Transport {
public:
    explicit Transport(int fd) : m_fd(fd) {}
    virtual ~Transport() = default;
    Transport(const Transport &) = delete;
    Transport &operator=(const Transport &) = delete;

    int fd() const { return m_fd; }
    // Up to `size` bytes; 0 or less when the peer closed or the read failed.
    virtual long receive(char *out, std::size_t size) = 0;
    virtual bool sendAll(const char *data, std::size_t size) = 0;
    // Bytes that can be read without the socket becoming readable first
    // (TLS decrypts whole records, so part of one may wait here).
    virtual bool hasBuffered() const { return false; }
    // Ends the connection so that the client sees it closed now: a kept-alive
    // connection left half-open makes a client that reuses it wait for an
    // answer that never comes. The descriptor itself stays open.
    virtual void finish();

private:
    int m_fd;
};

std::unique_ptr<Transport> plainTransport(int fd);

// The server's certificate chain and private key, loaded once.
class TlsContext {
public:
    // Throws std::runtime_error naming the file and OpenSSL's reason.
    TlsContext(const std::string &certificateFile, const std::string &keyFile);
    ~TlsContext();
    TlsContext(const TlsContext &) = delete;
    TlsContext &operator=(const TlsContext &) = delete;

    // Runs the server side of the handshake on `fd`; nullptr when it fails
    // (the client refused the certificate, spoke plain HTTP, or went quiet
    // for `timeoutMs`).
    std::unique_ptr<Transport> accept(int fd, int timeoutMs) const;

private:
    SSL_CTX *m_context = nullptr;
};

} // namespace devserver
