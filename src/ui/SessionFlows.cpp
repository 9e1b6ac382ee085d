#include "ui/SessionFlows.h"

#include "api/APIClient.h"
#include "platform/Autostart.h"
#include "platform/Logging.h"
#include "platform/Preferences.h"
#include "state/AppState.h"
#include "state/CredentialStore.h"
#include "sync/FailureText.h"

#include <QCoreApplication>
#include <QNetworkReply>
#include <QUrl>

QString signInFailureText(const std::exception &failure, const QString &serverURL)
{
    const QUrl url(serverURL);
    const QString place = url.port() > 0 ? QStringLiteral("%1:%2").arg(url.host()).arg(url.port()) : url.host();
    if (const auto *network = dynamic_cast<const NetworkError *>(&failure)) {
        const bool secure = url.scheme() == QLatin1String("https");
        const bool certificate = network->description().contains(QLatin1String("certificate"));
        switch (network->code()) {
        case QNetworkReply::ConnectionRefusedError:
            return QCoreApplication::translate("SessionFlows", "Could not reach %1. Is the server running?").arg(place);
        case QNetworkReply::HostNotFoundError:
            return QCoreApplication::translate("SessionFlows", "Could not find the server %1. Check the address.").arg(url.host());
        case QNetworkReply::RemoteHostClosedError:
        case QNetworkReply::SslHandshakeFailedError:
        case QNetworkReply::UnknownNetworkError:
            // A plain HTTP server answers a TLS greeting by closing (or with
            // bytes that are no TLS).
            if (secure && !certificate) {
                QUrl plain = url;
                plain.setScheme(QStringLiteral("http"));
                return QCoreApplication::translate("SessionFlows", "This server does not speak HTTPS; try %1").arg(plain.toString());
            }
            break;
        default:
            break;
        }
        return network->description();
    }
    if (const auto *api = dynamic_cast<const APIError *>(&failure); api && api->kind() == APIError::Kind::unauthorized)
        return QCoreApplication::translate("SessionFlows", "The e-mail or password is not right. Check them and try again.");
    return failureText(failure);
}

namespace {
// What the log says of a failed sign-in: its kind, never what was typed (a
// password typed into the server field would be in a host name).
QString failureKind(const std::exception &failure)
{
    if (const auto *network = dynamic_cast<const NetworkError *>(&failure))
        return QStringLiteral("network error %1").arg(network->code());
    if (const auto *api = dynamic_cast<const APIError *>(&failure))
        return QStringLiteral("service error %1").arg(int(api->kind()));
    return QStringLiteral("unreadable answer");
}
} // namespace

QCoro::Task<std::optional<QString>> signInAndStore(APIClient &apiClient, AppState &appState, QString email,
                                                   QString password, QString serverURL)
{
    serverURL = APIClient::normalizedServerURL(serverURL);
    LoginResponse response;
    try {
        QCoro::Task<LoginResponse> login = apiClient.login(email, password, serverURL);
        response = co_await std::move(login);
    } catch (const std::exception &error) {
        qCInfo(lcApp).noquote() << "Sign-in failed:" << failureKind(error);
        co_return signInFailureText(error, serverURL);
    }

    // The address stored beside the token is the one that issued it, even
    // if the field was edited while the request ran: a token must never be
    // sent to another server at the next start.
    CredentialStore credentials(appState.preferences());
    credentials.write(QStringLiteral("api_token"), response.token);
    credentials.write(QStringLiteral("server_url"), serverURL);
    credentials.write(QStringLiteral("user_email"), response.user.email);
    credentials.write(QStringLiteral("user_name"), response.user.displayName);
    credentials.write(QStringLiteral("user_org"), response.user.organization);
    Preferences &preferences = appState.preferences();
    preferences.setString(sessionflows::lastServerKey, serverURL);
    preferences.setString(sessionflows::lastEmailKey, email);
    if (!preferences.contains(sessionflows::startAtLoginKey)) {
        preferences.setDouble(sessionflows::startAtLoginKey, 1);
        Autostart().setEnabled(true, QCoreApplication::applicationFilePath());
    }

    appState.setIsLoggedIn(true);
    appState.setUserInfo(response.user);
    // The folders a sign-out emptied come back with the sign-in.
    appState.loadBookmarks();
    qCInfo(lcApp) << "Signed in as" << response.user.email;
    co_return std::nullopt;
}

QCoro::Task<> signOut(APIClient &apiClient, AppState &appState, std::function<void()> onLogout)
{
    try {
        QCoro::Task<LogoutResponse> logout = apiClient.logout();
        co_await std::move(logout);
    } catch (const std::exception &error) {
        // The local sign-out goes ahead; the server forgets the session on
        // its own time.
        qCInfo(lcApp) << "Sign-out request failed:" << failureText(error);
    }
    // Forgotten in both cases: a signed-out client holds no token, so nothing
    // it sends later (to this or another server) can carry the old session.
    apiClient.setToken(std::nullopt);
    CredentialStore(appState.preferences()).clearAll();

    appState.setIsLoggedIn(false);
    appState.setUserInfo(std::nullopt);
    appState.setWatchedFolders({});
    appState.setSessionRejected(false);
    appState.setSyncStatus(SyncStatus::idle());
    qCInfo(lcApp) << "Signed out";
    if (onLogout)
        onLogout();
}
