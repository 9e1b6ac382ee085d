#pragma once

#include "platform/FileError.h"

// Failures the service reported (or that the client read from its answer).
class APIError : public Error {
public:
    enum class Kind { serverError, networkError, unauthorized, invalidResponse };

    static APIError serverError(const QString &message);
    static APIError networkError(const QString &underlyingDescription);
    static APIError unauthorized();
    static APIError invalidResponse();
    // What the service answers 404 with: a server error that callers may
    // take for "already gone".
    static APIError notFound();
    // What the service answers 412 with: the request said what it expected
    // the server to hold (ExpectedVersion), and the server holds something
    // else.
    static APIError changedMeanwhile();

    Kind kind() const { return m_kind; }
    bool isNotFound() const;
    bool isChangedMeanwhile() const;

private:
    APIError(Kind kind, const QString &description);
    Kind m_kind;
};

// The HTTP transfer itself failed: no connection, time-out, TLS, cancelled.
// A refused server certificate is described as such, with Qt's reason
// ("The server's certificate is not trusted: the certificate is
// self-signed, and untrusted.").
class NetworkError : public Error {
public:
    NetworkError(int code, const QString &description);
    int code() const { return m_code; } // QNetworkReply::NetworkError
private:
    int m_code;
};

// A body that does not decode as the record asked for.
class DecodingError : public Error {
public:
    using Error::Error;
};
