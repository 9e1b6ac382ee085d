#include "api/HttpExchange.h"

#include "api/Errors.h"

#include <QBuffer>
#include <QCoroNetworkReply>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QTimer>

namespace {

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

// Everything one request's handlers share; lives in the coroutine frame
// and outlives the reply's connections.
struct Exchange {
    bool timedOut = false;
    int refusedRedirectStatus = 0;
    QString sinkError;
};

// Deletes the reply when the exchange ends, unless the session already
// took it down with itself.
struct ReplyOwner {
    QPointer<QNetworkReply> reply;
    ~ReplyOwner() { delete reply.data(); }
};

bool allBodyWritten(QIODevice &sink, QNetworkReply &reply)
{
    const QByteArray chunk = reply.readAll();
    return sink.write(chunk) == chunk.size();
}

QCoro::Task<HttpAnswer> finish(QNetworkReply *sent, HttpExchangeOptions options)
{
    Exchange state;
    ReplyOwner owner{sent};
    QNetworkReply *reply = sent;
    const QUrl origin = reply->request().url();

    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, reply, [&state, reply] {
        state.timedOut = true;
        reply->abort();
    });
    deadline.start(kResourceTimeoutMs);

    if (options.sameOriginRedirectsOnly) {
        QObject::connect(reply, &QNetworkReply::redirected, reply, [&state, reply, origin](const QUrl &target) {
            if (isSameOrigin(origin, target)) {
                emit reply->redirectAllowed();
                return;
            }
            const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
            state.refusedRedirectStatus = status.isValid() ? status.toInt() : 302;
            reply->abort();
        });
    }
    if (options.sink) {
        // Keep Qt from queueing more than a few MiB ahead of the disk.
        reply->setReadBufferSize(4 * 1024 * 1024);
        QIODevice *sink = options.sink;
        QObject::connect(reply, &QNetworkReply::readyRead, reply, [&state, reply, sink] {
            if (!state.sinkError.isEmpty())
                return;
            if (!allBodyWritten(*sink, *reply)) {
                state.sinkError = sink->errorString();
                reply->abort();
            }
        });
    }

    if (!reply->isFinished())
        co_await qCoro(reply).waitForFinished();
    deadline.stop();

    if (state.refusedRedirectStatus)
        co_return HttpAnswer{state.refusedRedirectStatus, {}};
    if (!state.sinkError.isEmpty())
        throw FileError(state.sinkError);
    if (state.timedOut)
        throw NetworkError(QNetworkReply::TimeoutError, QStringLiteral("The request timed out."));

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QNetworkReply::NetworkError error = reply->error();
    if (!status.isValid() || (error != QNetworkReply::NoError && !isStatusError(error)))
        throw NetworkError(error == QNetworkReply::NoError ? QNetworkReply::ProtocolFailure : error,
                           reply->errorString());

    HttpAnswer answer;
    answer.status = status.toInt();
    if (options.sink) {
        if (!allBodyWritten(*options.sink, *reply))
            throw FileError(options.sink->errorString());
    } else {
        answer.body = reply->readAll();
    }
    co_return answer;
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
    QNetworkRequest request(url);
    request.setTransferTimeout(kTransferTimeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         options.sameOriginRedirectsOnly ? QNetworkRequest::UserVerifiedRedirectPolicy
                                                         : QNetworkRequest::NoLessSafeRedirectPolicy);
    return request;
}

QCoro::Task<HttpAnswer> exchange(QNetworkAccessManager &session, QNetworkRequest request, QByteArray verb,
                                 QIODevice *body, HttpExchangeOptions options)
{
    if (body)
        request.setAttribute(QNetworkRequest::DoNotBufferUploadDataAttribute, true);
    QNetworkReply *reply = session.sendCustomRequest(request, verb, body);
    co_return co_await finish(reply, options);
}

QCoro::Task<HttpAnswer> exchange(QNetworkAccessManager &session, QNetworkRequest request, QByteArray verb,
                                 QByteArray body, HttpExchangeOptions options)
{
    QNetworkReply *reply = body.isNull() ? session.sendCustomRequest(request, verb)
                                         : session.sendCustomRequest(request, verb, body);
    co_return co_await finish(reply, options);
}
