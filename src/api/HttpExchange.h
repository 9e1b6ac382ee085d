#pragma once

#include <QByteArray>
#include <QCoroTask>
#include <QNetworkRequest>

class QIODevice;
class QNetworkAccessManager;

// What came back for one request: the final HTTP status and, unless the
// body went to a sink, the whole body.
struct HttpAnswer {
    int status = 0;
    QByteArray body;
    QByteArray location; // the Location header of a redirect that was not followed
};

struct HttpExchangeOptions {
    // For requests that carry credentials: follow a redirect only to the
    // same origin (scheme, host, port). A redirect elsewhere is not followed
    // and comes back as its own 3xx answer.
    bool sameOriginRedirectsOnly = true;
    // When set, the body is written here as it arrives and HttpAnswer::body
    // stays empty; a failed write ends the transfer with FileError.
    QIODevice *sink = nullptr;
};

// Every request gives up after this long without progress, and after this
// long in all.
inline constexpr int kTransferTimeoutMs = 60 * 1000;
inline constexpr int kResourceTimeoutMs = 300 * 1000;

// Prepares a request on `url` with the client's time-out and redirect rules.
QNetworkRequest makeRequest(const QUrl &url, const HttpExchangeOptions &options);

// Sends one request and waits for the whole answer. A transfer that fails
// (no connection, time-out, TLS, cut short, not HTTP at all) throws
// NetworkError; HTTP statuses of every kind are returned, not thrown.
QCoro::Task<HttpAnswer> exchange(QNetworkAccessManager &session, QNetworkRequest request, QByteArray verb,
                                 QIODevice *body, HttpExchangeOptions options = {});
QCoro::Task<HttpAnswer> exchange(QNetworkAccessManager &session, QNetworkRequest request, QByteArray verb,
                                 QByteArray body, HttpExchangeOptions options = {});

bool isSameOrigin(const QUrl &a, const QUrl &b);
