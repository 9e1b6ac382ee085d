#include "ui/SessionFlows.h"

#include "api/APIClient.h"
#include "api/ConnectionFailure.h"
#include "platform/Autostart.h"
#include "platform/Logging.h"
#include "platform/Preferences.h"
#include "state/AppState.h"
#include "state/CredentialStore.h"
#include "sync/FailureText.h"

#include <QCoreApplication>

QString signInFailureText(const std::exception &failure, const QString &serverURL)
{
    if (const auto connection = connectionFailureText(failure, serverURL, ConnectionMoment::signIn))
        return *connection;
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
    Preferences &preferences = appState.preferences();
    QCoro::Task<> storing = CredentialStore::storeSession(preferences, serverURL, response.user, response.token);
    co_await std::move(storing);
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
    QCoro::Task<> forgetting = CredentialStore::forgetSession(appState.preferences());
    co_await std::move(forgetting);

    appState.setIsLoggedIn(false);
    appState.setUserInfo(std::nullopt);
    appState.setWatchedFolders({});
    appState.setSessionRejected(false);
    appState.setSyncStatus(SyncStatus::idle());
    qCInfo(lcApp) << "Signed out";
    if (onLogout)
        onLogout();
}
