#include "api/HttpExchange.h"

#include "api/Errors.h"
#include "platform/TcpConnections.h"

#include <QCoroNetworkReply>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QTimer>

namespace {

// Hops of same-origin redirects before the answer counts as it is.
constexpr int kMaxRedirects = 10;

// Qt turns HTTP error statuses into reply errors of these groups; they are
// answers, not failed transfers. Everything else (connection, TLS,
// time-out, cancellation, a body cut short) is a failed transfer.
bool isStatusError(QNetworkReply::NetworkError error)
{
    const int code = error;
    return (code >= QNetworkReply::ContentAccessDenied && code <= QNetworkReply::UnknownContentError
            && error != QNetworkReply::ContentReSendError)
        || error == QNetworkReply::ProtocolInvalidOperationError
        || (code >= QNetworkReply::InternalServerError && code <= QNetworkReply::UnknownServerError);
}

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Everything one request's handlers share; lives in the coroutine frame
// and outlives the reply's connections.
struct Exchange {
    bool timedOut = false;
    qint64 unsent = -1; // the send queue's length when the stall timer last ran out
    bool connecting = false; // the request opens a connection of its own
    QString sinkError;
    qint64 sunk = 0; // body bytes written to the sink, or handed on
    bool handingOn = false; // a successful answer's body goes to the taker
    bool refused = false; // the taker wanted no more
    QByteArray body; // without a sink: the answer so far
};

// Room made at once for an answer's announced length, at most: a larger
// one grows as it comes.
constexpr qint64 kMaxReservedBody = 256 * 1024 * 1024;

// Deletes the reply when the exchange ends, unless the session already
// took it down with itself.
struct ReplyOwner {
    QPointer<QNetworkReply> reply;
    ~ReplyOwner() { delete reply.data(); }
};

bool allBodyWritten(QIODevice &sink, QNetworkReply &reply, qint64 &written)
{
    const QByteArray chunk = reply.readAll();
    const bool whole = sink.write(chunk) == chunk.size();
    written += chunk.size();
    return whole;
}

bool isSuccess(const QNetworkReply &reply)
{
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return status >= 200 && status < 300;
}

// Hands what the reply holds to `taker`; false when it wanted no more.
// Unless `evenIfFull` (the answer is complete), nothing is handed to a full
// taker.
bool handOn(QNetworkReply &reply, BodyTaker &taker, qint64 &handed, bool evenIfFull = false)
{
    if (!evenIfFull && taker.full())
        return true;
    QByteArray piece = reply.readAll();
    handed += piece.size();
    return piece.isEmpty() || taker.take(std::move(piece));
}

NetworkError notWanted()
{
    return NetworkError(QNetworkReply::OperationCanceledError, QStringLiteral("The answer was not wanted further."));
}

// Tells the taker to stop calling back into an exchange that is over.
struct TakerRelease {
    BodyTaker *taker;
    ~TakerRelease()
    {
        if (taker)
            taker->whenRoom({});
    }
};

// Reads what the reply holds straight onto the end of `body`, without a
// copy of its own in between.
void appendAvailable(QNetworkReply &reply, QByteArray &body)
{
    const qint64 available = reply.bytesAvailable();
    if (available <= 0)
        return;
    const qsizetype had = body.size();
    body.resize(had + available);
    const qint64 got = reply.read(body.data() + had, available);
    body.truncate(had + qMax<qint64>(got, 0));
}

// Qt can report a body that the server cut short as complete, and it may
// resend a request by itself on a fresh connection. The announced length
// tells whether exactly one whole body arrived; Qt drops that header itself
// when it decompresses a body.
bool differsFromAnnouncedLength(const QNetworkReply &reply, qint64 received)
{
    const QVariant announced = reply.header(QNetworkRequest::ContentLengthHeader);
    return announced.isValid() && received != announced.toLongLong();
}

// Waits for one reply to finish and reads its answer. The reply is
// abandoned when no byte has moved either way for the stall time-out; each
// sign of progress (bytes sent, headers or bytes received) starts it anew.
QCoro::Task<HttpAnswer> finish(QNetworkReply *sent, const HttpExchangeOptions &options)
{
    Exchange state;
    ReplyOwner owner{sent};
    QNetworkReply *reply = sent;

    const quint16 port = quint16(reply->url().port(reply->url().scheme() == QLatin1String("https") ? 443 : 80));
    QTimer stall;
    stall.setSingleShot(true);
    stall.setInterval(qMax(options.stallTimeoutMs, 0));
    QObject::connect(&stall, &QTimer::timeout, reply, [&state, &stall, reply, port] {
        // A body that Qt has handed over whole still moves while the send
        // queue shrinks (large socket buffers on a slow link take a while);
        // once it is empty, the server gets one more period to answer.
        const qint64 unsent = unsentBytesOnConnectionsTo(port);
        if (unsent != state.unsent && (unsent > 0 || state.unsent > 0)) {
            state.unsent = unsent;
            stall.start();
            return;
        }
        state.timedOut = true;
        reply->abort();
    });
    const auto progressed = [&stall, &state] {
        state.unsent = -1;
        stall.start();
    };
    QObject::connect(reply, &QNetworkReply::uploadProgress, &stall, progressed);
    QObject::connect(reply, &QNetworkReply::downloadProgress, &stall, progressed);
    QObject::connect(reply, &QNetworkReply::metaDataChanged, &stall, progressed);
    QObject::connect(reply, &QIODevice::readyRead, &stall, progressed);
    stall.start();
    if (options.onSent)
        QObject::connect(reply, &QNetworkReply::uploadProgress, &stall,
                         [report = options.onSent](qint64 sent, qint64) { report(sent); });
    if (options.onReceived)
        QObject::connect(reply, &QNetworkReply::downloadProgress, &stall,
                         [report = options.onReceived](qint64 received, qint64) { report(received); });

    // Qt opens connections on its own; their socket options are set once
    // they exist, which the request's being sent shows.
    const auto lowerDelay = [&state, port] {
        if (state.connecting) {
            state.connecting = false;
            setLowDelayOnConnectionsTo(port);
        }
    };
    if (options.lowDelay) {
        QObject::connect(reply, &QNetworkReply::socketStartedConnecting, &stall, [&state] { state.connecting = true; });
        QObject::connect(reply, &QNetworkReply::requestSent, &stall, lowerDelay);
    }

    const auto taker = options.sink ? nullptr : options.taker;
    const TakerRelease takerRelease{taker};
    // Whether the body goes to the taker: decided once the status is known,
    // before any of the body is kept.
    const auto handsOn = [&state, reply, taker] {
        if (state.sunk == 0 && state.body.isEmpty())
            state.handingOn = taker && isSuccess(*reply);
        return state.handingOn;
    };
    if (options.sink) {
        // Keep Qt from queueing more than a few MiB ahead of the disk.
        reply->setReadBufferSize(4 * 1024 * 1024);
        QIODevice *sink = options.sink;
        QObject::connect(reply, &QNetworkReply::readyRead, reply, [&state, reply, sink] {
            if (!state.sinkError.isEmpty())
                return;
            if (!allBodyWritten(*sink, *reply, state.sunk)) {
                state.sinkError = sink->errorString();
                reply->abort();
            }
        });
    } else {
        // The answer is taken as it arrives, straight into room for its
        // announced length, a megabyte at most at a time: read whole at
        // the end, or in whatever burst piled up while the main thread was
        // busy, an answer of tens of megabytes (a folder of 100,000
        // documents) held the main thread while it was copied.
        reply->setReadBufferSize(1024 * 1024);
        const auto handOnArrived = [&state, reply, taker = options.taker] {
            if (!state.refused && !handOn(*reply, *taker, state.sunk)) {
                state.refused = true;
                reply->abort();
            }
        };
        if (options.taker)
            options.taker->whenRoom([&state, handOnArrived] {
                if (state.handingOn)
                    handOnArrived();
            });
        QObject::connect(reply, &QNetworkReply::readyRead, reply, [&state, reply, handsOn, handOnArrived] {
            if (state.refused)
                return;
            if (handsOn()) {
                handOnArrived();
                return;
            }
            if (state.body.isEmpty()) {
                const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
                state.body.reserve(qBound<qint64>(0, announced, kMaxReservedBody));
            }
            appendAvailable(*reply, state.body);
        });
    }

    if (!reply->isFinished())
        co_await qCoro(reply).waitForFinished();
    stall.stop();
    lowerDelay();

    if (!state.sinkError.isEmpty())
        throw FileError(state.sinkError);
    if (state.refused)
        throw notWanted();
    if (state.timedOut)
        throw NetworkError(QNetworkReply::TimeoutError,
                           QStringLiteral("The request timed out: nothing moved for %1 s.")
                               .arg(options.stallTimeoutMs / 1000.0));

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QNetworkReply::NetworkError error = reply->error();
    if (!status.isValid() || (error != QNetworkReply::NoError && !isStatusError(error)))
        throw NetworkError(error == QNetworkReply::NoError ? QNetworkReply::ProtocolFailure : error,
                           reply->errorString());

    HttpAnswer answer;
    answer.status = status.toInt();
    answer.location = reply->rawHeader("Location");
    if (options.sink) {
        if (!allBodyWritten(*options.sink, *reply, state.sunk))
            throw FileError(options.sink->errorString());
    } else if (handsOn()) {
        if (!handOn(*reply, *options.taker, state.sunk, true))
            throw notWanted();
    } else {
        answer.body = std::move(state.body);
        appendAvailable(*reply, answer.body);
    }
    const qint64 received = options.sink || state.handingOn ? state.sunk : answer.body.size();
    if (differsFromAnnouncedLength(*reply, received))
        throw NetworkError(QNetworkReply::RemoteHostClosedError,
                           QStringLiteral("The answer was cut short: %1 of %2 bytes arrived.")
                               .arg(received)
                               .arg(reply->header(QNetworkRequest::ContentLengthHeader).toLongLong()));
    co_return answer;
}

// What one attempt sends: the verb and, unless a redirect turned it into a
// GET, the body.
struct Attempt {
    QNetworkRequest request;
    QByteArray verb;
    QIODevice *device = nullptr;
    QByteArray bytes; // null: no body
};

QNetworkReply *send(QNetworkAccessManager &session, const Attempt &attempt)
{
    if (attempt.device)
        return session.sendCustomRequest(attempt.request, attempt.verb, attempt.device);
    if (attempt.bytes.isNull())
        return session.sendCustomRequest(attempt.request, attempt.verb);
    return session.sendCustomRequest(attempt.request, attempt.verb, attempt.bytes);
}

// Credentialed requests follow redirects here rather than in Qt, so that a
// hop to another origin is never taken (and Qt never has to abandon a reply
// half-way through a redirect, which can leave stale bytes on a kept-alive
// connection). 303, and 301/302 after a POST, continue as a GET without a
// body, as browsers do; 307/308 send the same body again.
QCoro::Task<HttpAnswer> run(QNetworkAccessManager &session, Attempt attempt, HttpExchangeOptions options)
{
    const QUrl origin = attempt.request.url();
    for (int hop = 0;; ++hop) {
        QNetworkReply *reply = send(session, attempt);
        HttpAnswer answer = co_await finish(reply, options);
        if (!options.sameOriginRedirectsOnly || !isRedirect(answer.status) || answer.location.isEmpty()
            || hop == kMaxRedirects)
            co_return answer;
        const QUrl target = attempt.request.url().resolved(QUrl::fromEncoded(answer.location));
        if (!target.isValid() || !isSameOrigin(origin, target))
            co_return answer;

        attempt.request.setUrl(target);
        const bool becomesGet = answer.status == 303
            || ((answer.status == 301 || answer.status == 302) && attempt.verb == "POST");
        if (becomesGet) {
            attempt.verb = "GET";
            attempt.device = nullptr;
            attempt.bytes = QByteArray();
            attempt.request.setHeader(QNetworkRequest::ContentTypeHeader, QVariant());
            attempt.request.setHeader(QNetworkRequest::ContentLengthHeader, QVariant());
            attempt.request.setRawHeader("Content-Type", QByteArray());
        } else if (attempt.device && !attempt.device->seek(0)) {
            co_return answer;
        }
    }
}

} // namespace

bool isSameOrigin(const QUrl &a, const QUrl &b)
{
    const auto defaultPort = [](const QUrl &url) { return url.scheme() == QLatin1String("https") ? 443 : 80; };
    return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0
        && a.host().compare(b.host(), Qt::CaseInsensitive) == 0
        && a.port(defaultPort(a)) == b.port(defaultPort(b));
}

QNetworkRequest makeRequest(const QUrl &url, const HttpExchangeOptions &options)
{
    // No Qt transfer time-out: finish() watches for stalls itself, in both
    // directions, including while the body is being sent.
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         options.sameOriginRedirectsOnly ? QNetworkRequest::ManualRedirectPolicy
                                                         : QNetworkRequest::NoLessSafeRedirectPolicy);
    return request;
}

QCoro::Task<HttpAnswer> exchange(QNetworkAccessManager &session, QNetworkRequest request, QByteArray verb,
                                 QIODevice *body, HttpExchangeOptions options)
{
    if (body)
        request.setAttribute(QNetworkRequest::DoNotBufferUploadDataAttribute, true);
    // Named, not a temporary inside the co_await: GCC 12 can destroy such
    // temporaries twice.
    Attempt attempt{request, verb, body, {}};
    co_return co_await run(session, std::move(attempt), options);
}

QCoro::Task<HttpAnswer> exchange(QNetworkAccessManager &session, QNetworkRequest request, QByteArray verb,
                                 QByteArray body, HttpExchangeOptions options)
{
    Attempt attempt{request, verb, nullptr, body};
    co_return co_await run(session, std::move(attempt), options);
}
