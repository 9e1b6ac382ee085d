#pragma once

#include <QByteArray>
#include <QCoroTask>
#include <QNetworkRequest>
#include <functional>

class QIODevice;
class QNetworkAccessManager;

// What came back for one request: the final HTTP status and, unless the
// body went to a sink, the whole body.
struct HttpAnswer {
    int status = 0;
    QByteArray body;
    QByteArray location; // the Location header of a redirect that was not followed
};

inline constexpr int kStallTimeoutMs = 60 * 1000;

// Takes the body of a successful answer piece by piece, at its own pace:
// while it is full, the rest of the answer waits in the connection, which
// then stops reading from the network.
class BodyTaker {
public:
    virtual ~BodyTaker() = default;
    // The next piece. False when no more is wanted: the transfer ends, and
    // the exchange throws NetworkError (OperationCanceledError).
    virtual bool take(QByteArray piece) = 0;
    // Whether it holds all it will for now.
    virtual bool full() = 0;
    // The exchange gives here what to call once there is room again (on the
    // exchange's thread), and an empty function when it is over.
    virtual void whenRoom(std::function<void()> resume) = 0;
};

struct HttpExchangeOptions {
    // For requests that carry credentials: follow a redirect only to the
    // same origin (scheme, host, port). A redirect elsewhere is not followed
    // and comes back as its own 3xx answer.
    bool sameOriginRedirectsOnly = true;
    // When set, the body is written here as it arrives and HttpAnswer::body
    // stays empty; a failed write ends the transfer with FileError.
    QIODevice *sink = nullptr;
    // When set (and no sink is), takes the body of a successful (2xx) answer
    // as it arrives, and HttpAnswer::body stays empty; the body of any other
    // answer is kept whole as usual, for its error message.
    BodyTaker *taker = nullptr;
    // A request is abandoned after this long without a byte moving either
    // way (connecting, sending or receiving); there is no limit on the total,
    // so a large file on a slow link completes as long as it keeps moving.
    int stallTimeoutMs = kStallTimeoutMs;
    // Turn Nagle's algorithm off on the connections the request opens, so
    // that a body never waits for the acknowledgement of its head.
    bool lowDelay = true;
    // Told the bytes of the request body sent so far, and of the answer's
    // body received so far, as they move (for the progress of a large file).
    std::function<void(qint64)> onSent;
    std::function<void(qint64)> onReceived;
};

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
