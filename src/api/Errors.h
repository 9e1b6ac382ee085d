#pragma once

#include <QString>
#include <exception>

// Every failure in TavrelSync is an exception carrying a sentence a user can
// read; that sentence is what the log and the status line show.
class Error : public std::exception {
public:
    explicit Error(QString description);
    const QString &description() const { return m_description; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_description;
    QByteArray m_utf8;
};

// Failures the service reported (or that the client read from its answer).
class APIError : public Error {
public:
    enum class Kind { serverError, networkError, unauthorized, invalidResponse };

    static APIError serverError(const QString &message);
    static APIError networkError(const QString &underlyingDescription);
    static APIError unauthorized();
    static APIError invalidResponse();

    Kind kind() const { return m_kind; }

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

// A local file or folder could not be read, written, moved or removed.
class FileError : public Error {
public:
    using Error::Error;
};
