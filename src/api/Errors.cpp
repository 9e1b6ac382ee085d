#include "api/Errors.h"

#include <QNetworkReply>
#include <QSslError>

namespace {

// Qt words a failed handshake as "SSL handshake failed: <reason>", the
// reason being one of QSslError's sentences when the certificate was
// refused, or OpenSSL's own text when the handshake broke for another
// cause (a server that speaks no TLS, no common protocol).
QString describeHandshakeFailure(const QString &description)
{
    const QString prefix = QStringLiteral("SSL handshake failed: ");
    const QString reason = description.startsWith(prefix) ? description.mid(prefix.size()) : description;
    for (int code = QSslError::UnableToGetIssuerCertificate; code <= QSslError::OcspStatusUnknown; ++code) {
        const QString certificateReason = QSslError(QSslError::SslError(code)).errorString();
        if (reason == certificateReason && !reason.isEmpty()) {
            QString why = reason;
            why[0] = why[0].toLower();
            return QStringLiteral("The server's certificate is not trusted: %1.").arg(why);
        }
    }
    return QStringLiteral("No secure connection to the server could be made: %1").arg(reason);
}

QString describeNetworkError(int code, const QString &description)
{
    if (code == QNetworkReply::SslHandshakeFailedError)
        return describeHandshakeFailure(description);
    return description;
}

} // namespace

APIError::APIError(Kind kind, const QString &description) : Error(description), m_kind(kind) {}

namespace {
const QString notFoundText = QStringLiteral("Not found");
const QString changedMeanwhileText = QStringLiteral("The document changed on the server");
} // namespace

APIError APIError::notFound()
{
    return serverError(notFoundText);
}

bool APIError::isNotFound() const
{
    return m_kind == Kind::serverError && description() == notFoundText;
}

APIError APIError::changedMeanwhile()
{
    return serverError(changedMeanwhileText);
}

bool APIError::isChangedMeanwhile() const
{
    return m_kind == Kind::serverError && description() == changedMeanwhileText;
}

APIError APIError::serverError(const QString &message)
{
    return APIError(Kind::serverError, message);
}

APIError APIError::networkError(const QString &underlyingDescription)
{
    return APIError(Kind::networkError, underlyingDescription);
}

APIError APIError::unauthorized()
{
    return APIError(Kind::unauthorized, QStringLiteral("Invalid credentials"));
}

APIError APIError::invalidResponse()
{
    return APIError(Kind::invalidResponse, QStringLiteral("Invalid server response"));
}

NetworkError::NetworkError(int code, const QString &description)
    : Error(describeNetworkError(code, description)), m_code(code)
{
}
