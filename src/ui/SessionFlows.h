#pragma once

#include <QCoroTask>
#include <QString>
#include <functional>
#include <optional>

class APIClient;
class AppState;

// Signs in with the given values. On success the five session keys are
// stored (the server address being the one the token was issued by) and
// AppState shows the signed-in user; the result is then absent. On failure
// the result is the text to show and nothing is stored or changed.
QCoro::Task<std::optional<QString>> signInAndStore(APIClient &apiClient, AppState &appState, QString email,
                                                   QString password, QString serverURL);

// Tells the server the session ends, then signs out locally whatever the
// answer: the client forgets its token, the session keys are removed and
// AppState is emptied; onLogout runs last. Bookmarks and the sync interval
// stay stored.
QCoro::Task<> signOut(APIClient &apiClient, AppState &appState, std::function<void()> onLogout);
