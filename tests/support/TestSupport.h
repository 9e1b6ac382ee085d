#pragma once

#include "devserver/DevServer.h"

// With the Qt and test headers every suite uses.
#include <QByteArray>
#include <QCoroTask>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMutex>
#include <QSignalSpy>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <exception>
#include <functional>
#include <gtest/gtest.h>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <type_traits>

// Readable QString values (and lists of them) in failure messages.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

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
// Catches what the task throws, so that run() can throw it again once the
// loop is left.
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

template <typename R>
QCoro::Task<void> finishing(QCoro::Task<R> task, std::optional<R> &result, bool &done, QEventLoop &loop)
{
    result = co_await std::move(task);
    done = true;
    loop.quit();
}

// Spins `loop` until `done`. Something thrown from an event handler (a
// timer's callback, a slot) leaves exec() while the task still runs; leaving
// run() then would let the task finish later into a stack that is gone, so
// the loop is entered again until the task is done. The first such escape is
// returned, to be thrown once nothing is left running.
std::exception_ptr spinUntilDone(QEventLoop &loop, const bool &done);
} // namespace detail

// Runs a coroutine to completion on the real event loop; what it throws is
// thrown from here, and so is anything thrown from an event handler while it
// ran.
template <typename T>
T run(QCoro::Task<T> &&task)
{
    std::exception_ptr failure;
    using Caught = std::conditional_t<std::is_void_v<T>, bool, std::optional<T>>;
    std::optional<Caught> result;
    bool done = false;
    QEventLoop loop;
    auto caught = detail::catching(std::move(task), failure);
    auto running = detail::finishing(std::move(caught), result, done, loop);
    const std::exception_ptr escaped = detail::spinUntilDone(loop, done);
    if (escaped)
        std::rethrow_exception(escaped);
    if (failure)
        std::rethrow_exception(failure);
    if constexpr (!std::is_void_v<T>)
        return std::move(**result);
}

// Spins the event loop until the predicate holds or the time runs out; a
// failure names what was awaited, e.g.
// ASSERT_TRUE(waitUntil([&] { return !engine->isSyncing(); }, "the pass to end")).
[[nodiscard]] testing::AssertionResult waitUntil(const std::function<bool()> &predicate, const std::string &what,
                                                 int timeoutMs = 10000);

// Runs the event loop for `ms`: lets a quiet period pass, so that a test can
// then check that nothing more arrived.
void settle(int ms);

// How the development server misbehaves for matching requests: hold the
// answer back, give a canned one instead, or cut the real one short.
// Setting `error` gives the usual JSON error body, with status 500 unless
// another is named. The fault applies `count` times, or always when -1.
struct FaultOptions {
    std::string method; // empty: any method
    std::string path;   // exact, or a prefix when it ends in '*'
    int status = 0;
    std::string body;
    std::string error;
    std::string contentType = "application/json";
    std::map<std::string, std::string> headers;
    int delayMs = 0;
    bool dropMidBody = false;
    int count = -1;
};
DevServer::Fault fault(const FaultOptions &options);

// The messages of the chosen logging categories while it lives, each as
// "<level>: <message>" (debug, info, warning, critical). Messages of other
// categories go on to the handler that was there before.
class LogCapture {
public:
    LogCapture(std::initializer_list<const QLoggingCategory *> categories);
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines() const;
    // The lines that contain `part`.
    QStringList linesWith(const QString &part) const;
    int count(const QString &line) const { return int(lines().count(line)); }
    bool has(const QString &line) const { return lines().contains(line); }
    void clear();

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message);
    QStringList m_categories;
    QtMessageHandler m_previous = nullptr;
    LogCapture *m_outer = nullptr;
    mutable QMutex m_mutex;
    QStringList m_lines;
};

// The permission bits of a file, as stat gives them.
unsigned modeOf(const QString &path);
// A symbolic link at `link` to `target`.
void makeLink(const QString &target, const QString &link);

void writeFile(const QString &path, const QByteArray &content);
QByteArray readFile(const QString &path);

} // namespace testsupport
