#pragma once

#include "devserver/DevServer.h"

#include <QByteArray>
#include <QCoroTask>
#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <memory>

namespace testsupport {

// A temporary home for one test: XDG_CONFIG_HOME and XDG_DATA_HOME point
// into it while it lives, so nothing touches the real user's files.
class TempHome {
public:
    TempHome();
    ~TempHome();
    QString path() const { return m_dir.path(); }
    QString filePath(const QString &relative) const { return m_dir.filePath(relative); }
    QString preferencesPath() const;
    QString stateFilePath() const;

private:
    QTemporaryDir m_dir;
    QByteArray m_oldConfig, m_oldData;
};

// A development server on an ephemeral loopback port with one user,
// "demo@tavrel.test" / "demo-password".
struct RunningServer {
    RunningServer();
    DevServer server;
    QString baseURL;
    static constexpr const char *email = "demo@tavrel.test";
    static constexpr const char *password = "demo-password";
};

// Runs a coroutine to completion on the real event loop.
template <typename T>
T run(QCoro::Task<T> &&task)
{
    return QCoro::waitFor(std::move(task));
}

// Spins the event loop until the predicate holds or the time runs out.
bool waitUntil(const std::function<bool()> &predicate, int timeoutMs = 10000);

void writeFile(const QString &path, const QByteArray &content);
QByteArray readFile(const QString &path);

} // namespace testsupport
