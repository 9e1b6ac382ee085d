#include "ui/SessionFlows.h"

#include "api/APIClient.h"
#include "platform/Autostart.h"
#include "platform/Logging.h"
#include "platform/Preferences.h"
#include "state/AppState.h"
#include "state/CredentialStore.h"
#include "sync/FailureText.h"

#include <QCoreApplication>

QCoro::Task<std::optional<QString>> signInAndStore(APIClient &apiClient, AppState &appState, QString email,
                                                   QString password, QString serverURL)
{
    serverURL = APIClient::normalizedServerURL(serverURL);
    LoginResponse response;
    try {
        QCoro::Task<LoginResponse> login = apiClient.login(email, password, serverURL);
        response = co_await std::move(login);
    } catch (const std::exception &error) {
        qCInfo(lcApp) << "Sign-in failed:" << failureText(error);
        co_return failureText(error);
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
