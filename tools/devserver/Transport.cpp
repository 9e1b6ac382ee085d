#include "Transport.h"

#include <cerrno>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/time.h>

namespace devserver {

namespace {

class PlainTransport : public Transport {
public:
    using Transport::Transport;

    long receive(char *out, std::size_t size) override
    {
        for (;;) {
            const ssize_t got = ::recv(fd(), out, size, 0);
            if (got < 0 && errno == EINTR)
                continue;
            return static_cast<long>(got);
        }
    }

    bool sendAll(const char *data, std::size_t size) override
    {
        while (size > 0) {
            const ssize_t sent = ::send(fd(), data, size, MSG_NOSIGNAL);
            if (sent < 0 && errno == EINTR)
                continue;
            if (sent <= 0)
                return false;
            data += sent;
            size -= static_cast<std::size_t>(sent);
        }
        return true;
    }
};

class TlsTransport : public Transport {
public:
    TlsTransport(int fd, SSL *ssl) : Transport(fd), m_ssl(ssl) {}
    ~TlsTransport() override { SSL_free(m_ssl); }

    long receive(char *out, std::size_t size) override
    {
        const int got = SSL_read(m_ssl, out, static_cast<int>(std::min<std::size_t>(size, 1 << 30)));
        if (got <= 0)
            ERR_clear_error();
        return got;
    }

    bool sendAll(const char *data, std::size_t size) override
    {
        while (size > 0) {
            const int sent = SSL_write(m_ssl, data, static_cast<int>(std::min<std::size_t>(size, 1 << 30)));
            if (sent <= 0) {
                ERR_clear_error();
                return false;
            }
            data += sent;
            size -= static_cast<std::size_t>(sent);
        }
        return true;
    }

    bool hasBuffered() const override { return SSL_pending(m_ssl) > 0; }

    void finish() override
    {
        // close_notify first, so the client reads an orderly end rather than
        // a truncated stream.
        if (SSL_shutdown(m_ssl) < 0)
            ERR_clear_error();
        Transport::finish();
    }

private:
    SSL *m_ssl;
};

std::string openSslReason()
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return "unknown error";
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

void setSocketTimeouts(int fd, int timeoutMs)
{
    timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
}

} // namespace

void Transport::finish()
{
    ::shutdown(m_fd, SHUT_RDWR);
}

std::unique_ptr<Transport> plainTransport(int fd)
{
    return std::make_unique<PlainTransport>(fd);
}

TlsContext::TlsContext(const std::string &certificateFile, const std::string &keyFile)
{
    m_context = SSL_CTX_new(TLS_server_method());
    if (!m_context)
        throw std::runtime_error("cannot create a TLS context: " + openSslReason());
    SSL_CTX_set_min_proto_version(m_context, TLS1_2_VERSION);
    // Large downloads are written in one call; let OpenSSL finish it.
    SSL_CTX_clear_mode(m_context, SSL_MODE_ENABLE_PARTIAL_WRITE);
    if (SSL_CTX_use_certificate_chain_file(m_context, certificateFile.c_str()) != 1) {
        const std::string reason = openSslReason();
        SSL_CTX_free(m_context);
        throw std::runtime_error("cannot load the certificate " + certificateFile + ": " + reason);
    }
    if (SSL_CTX_use_PrivateKey_file(m_context, keyFile.c_str(), SSL_FILETYPE_PEM) != 1
        || SSL_CTX_check_private_key(m_context) != 1) {
        const std::string reason = openSslReason();
        SSL_CTX_free(m_context);
        throw std::runtime_error("cannot use the private key " + keyFile + ": " + reason);
    }
}

TlsContext::~TlsContext()
{
    SSL_CTX_free(m_context);
}

std::unique_ptr<Transport> TlsContext::accept(int fd, int timeoutMs) const
{
    SSL *ssl = SSL_new(m_context);
    if (!ssl || SSL_set_fd(ssl, fd) != 1) {
        SSL_free(ssl);
        ERR_clear_error();
        return nullptr;
    }
    // A client that connects and never speaks must not hold the thread.
    setSocketTimeouts(fd, timeoutMs);
    const int accepted = SSL_accept(ssl);
    setSocketTimeouts(fd, 0);
    if (accepted != 1) {
        ERR_clear_error();
        SSL_free(ssl);
        return nullptr;
    }
    return std::make_unique<TlsTransport>(fd, ssl);
}

} // namespace devserver
