#include "api/ConnectionFailure.h"

#include "api/Errors.h"

#include <QCoreApplication>
#include <QNetworkReply>
#include <QUrl>

std::optional<QString> connectionFailureText(const std::exception &failure, const QString &serverURL,
                                             ConnectionMoment moment)
{
    const auto *network = dynamic_cast<const NetworkError *>(&failure);
    if (!network)
        return std::nullopt;
    const QUrl url(serverURL);
    const QString place = url.port() > 0 ? QStringLiteral("%1:%2").arg(url.host()).arg(url.port()) : url.host();
    const int code = network->code();

    // A plain HTTP server answers a TLS greeting by closing (or with bytes
    // that are no TLS). Only an address just typed can be such a server: a
    // pass uses one that answered in HTTPS at the sign-in.
    const bool greetingRefused = code == QNetworkReply::RemoteHostClosedError
        || code == QNetworkReply::SslHandshakeFailedError || code == QNetworkReply::UnknownNetworkError;
    if (moment == ConnectionMoment::signIn && greetingRefused && url.scheme() == QLatin1String("https")
        && !network->description().contains(QLatin1String("certificate"))) {
        QUrl plain = url;
        plain.setScheme(QStringLiteral("http"));
        return QCoreApplication::translate("ConnectionFailure", "This server does not speak HTTPS; try %1").arg(plain.toString());
    }

    switch (code) {
    case QNetworkReply::ConnectionRefusedError:
        return QCoreApplication::translate("ConnectionFailure", "Could not reach %1. Is the server running?").arg(place);
    case QNetworkReply::HostNotFoundError:
        // An address just typed may be mistyped; one that worked before and
        // now finds nothing means names cannot be looked up (no network).
        if (moment == ConnectionMoment::signIn)
            return QCoreApplication::translate("ConnectionFailure", "Could not find the server %1. Check the address.").arg(url.host());
        return QCoreApplication::translate("ConnectionFailure", "Could not reach %1. Check your connection.").arg(place);
    case QNetworkReply::UnknownNetworkError: // "Network unreachable", "No route to host"
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
        return QCoreApplication::translate("ConnectionFailure", "Could not reach %1. Check your connection.").arg(place);
    case QNetworkReply::RemoteHostClosedError:
        return QCoreApplication::translate("ConnectionFailure", "The connection to %1 was lost. Check your connection.").arg(place);
    default:
        // Time-outs, TLS and certificate failures, proxies and cancellations
        // carry sentences of their own.
        return std::nullopt;
    }
}
