#pragma once

#include <QCoroTask>
#include <QString>
#include <exception>
#include <functional>
#include <optional>

class APIClient;
class AppState;

namespace sessionflows {
// The server and e-mail of the last successful sign-in, kept across
// sign-outs to fill in the next one.
inline const QString lastServerKey = QStringLiteral("lastServerURL");
inline const QString lastEmailKey = QStringLiteral("lastEmail");
// Whether the user chose to start at login (1 or 0); absent until the first
// sign-in turns it on.
inline const QString startAtLoginKey = QStringLiteral("startAtLogin");
} // namespace sessionflows

// What a failed sign-in says to the user: what went wrong in plain words,
// and what to do ("Could not reach 127.0.0.1:8765. Is the server
// running?", "This server does not speak HTTPS; try http://...").
QString signInFailureText(const std::exception &failure, const QString &serverURL);

// Signs in with the given values (the server address normalized, see
// APIClient::normalizedServerURL). On success the five session keys are
// stored (the server address being the one the token was issued by), the
// server and e-mail are remembered for the next sign-in, the first sign-in
// ever turns on starting at login, and AppState shows the signed-in user;
// the result is then absent. On failure the result is the text to show and
// nothing is stored or changed.
QCoro::Task<std::optional<QString>> signInAndStore(APIClient &apiClient, AppState &appState, QString email,
                                                   QString password, QString serverURL);

// Tells the server the session ends, then signs out locally whatever the
// answer: the client forgets its token, the session keys are removed and
// AppState is emptied; onLogout runs last. Bookmarks, the sync interval and
// the last server and e-mail stay stored.
QCoro::Task<> signOut(APIClient &apiClient, AppState &appState, std::function<void()> onLogout);
