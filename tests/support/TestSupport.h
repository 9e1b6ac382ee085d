#pragma once

#include "devserver/DevServer.h"

#include <QByteArray>
#include <QCoroTask>
#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <exception>
#include <memory>
#include <optional>
#include <type_traits>

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

namespace detail {
// QCoro::waitFor drops an exception thrown by the task and never returns;
// this wrapper catches it so that run() can throw it again.
template <typename T>
QCoro::Task<std::optional<T>> catching(QCoro::Task<T> task, std::exception_ptr &failure)
{
    try {
        co_return co_await std::move(task);
    } catch (...) {
        failure = std::current_exception();
    }
    co_return std::nullopt;
}
inline QCoro::Task<bool> catching(QCoro::Task<void> task, std::exception_ptr &failure)
{
    try {
        co_await std::move(task);
    } catch (...) {
        failure = std::current_exception();
    }
    co_return true;
}
} // namespace detail

// Runs a coroutine to completion on the real event loop; what it throws is
// thrown from here.
template <typename T>
T run(QCoro::Task<T> &&task)
{
    std::exception_ptr failure;
    auto result = QCoro::waitFor(detail::catching(std::move(task), failure));
    if (failure)
        std::rethrow_exception(failure);
    if constexpr (!std::is_void_v<T>)
        return std::move(*result);
}

// Spins the event loop until the predicate holds or the time runs out.
bool waitUntil(const std::function<bool()> &predicate, int timeoutMs = 10000);

void writeFile(const QString &path, const QByteArray &content);
QByteArray readFile(const QString &path);

} // namespace testsupport
