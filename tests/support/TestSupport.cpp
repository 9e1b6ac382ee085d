#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace testsupport {

std::exception_ptr detail::spinUntilDone(QEventLoop &loop, const bool &done)
{
    std::exception_ptr escaped;
    while (!done) {
        try {
            loop.exec();
        } catch (...) {
            if (!escaped)
                escaped = std::current_exception();
        }
    }
    return escaped;
}

TempHome::TempHome()
    : m_oldConfig(qgetenv("XDG_CONFIG_HOME")), m_oldData(qgetenv("XDG_DATA_HOME"))
{
    QDir(m_dir.path()).mkpath("config");
    QDir(m_dir.path()).mkpath("data");
    qputenv("XDG_CONFIG_HOME", m_dir.filePath("config").toLocal8Bit());
    qputenv("XDG_DATA_HOME", m_dir.filePath("data").toLocal8Bit());
}

TempHome::~TempHome()
{
    m_oldConfig.isEmpty() ? void(qunsetenv("XDG_CONFIG_HOME")) : void(qputenv("XDG_CONFIG_HOME", m_oldConfig));
    m_oldData.isEmpty() ? void(qunsetenv("XDG_DATA_HOME")) : void(qputenv("XDG_DATA_HOME", m_oldData));
}

QString TempHome::preferencesPath() const
{
    return m_dir.filePath("config/TavrelSync/preferences.json");
}

QString TempHome::stateFilePath() const
{
    return m_dir.filePath("data/TavrelSync/sync_state.json");
}

RunningServer::RunningServer()
{
    server.start();
    server.addUser(email, password, "Demo User", "Tavrel Demo", "Demo", "User");
    baseURL = QString::fromStdString(server.baseURL());
}

testing::AssertionResult waitUntil(const std::function<bool()> &predicate, const std::string &what, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!predicate()) {
        if (deadline.hasExpired())
            return testing::AssertionFailure() << "gave up after " << timeoutMs << " ms waiting for " << what;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return testing::AssertionSuccess() << what;
}

void settle(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
}

DevServer::Fault fault(const FaultOptions &options)
{
    DevServer::Fault fault;
    fault.method = options.method;
    fault.path = options.path;
    fault.status = options.status;
    fault.body = options.body;
    if (!options.error.empty()) {
        fault.status = options.status ? options.status : 500;
        fault.body = nlohmann::json{{"error", options.error}}.dump();
    }
    fault.contentType = options.contentType;
    fault.headers = options.headers;
    fault.delayMs = options.delayMs;
    fault.dropMidBody = options.dropMidBody;
    fault.count = options.count;
    return fault;
}

namespace {
// The capture that receives messages now; an inner one hands back to the
// outer one when it goes.
LogCapture *g_capture = nullptr;
} // namespace

LogCapture::LogCapture(std::initializer_list<const QLoggingCategory *> categories)
{
    for (const QLoggingCategory *category : categories)
        m_categories << QString::fromLatin1(category->categoryName());
    m_outer = g_capture;
    g_capture = this;
    m_previous = qInstallMessageHandler(&LogCapture::handle);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
    g_capture = m_outer;
}

QStringList LogCapture::lines() const
{
    QMutexLocker lock(&m_mutex);
    return m_lines;
}

QStringList LogCapture::linesWith(const QString &part) const
{
    return lines().filter(part);
}

void LogCapture::clear()
{
    QMutexLocker lock(&m_mutex);
    m_lines.clear();
}

void LogCapture::handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    LogCapture *capture = g_capture;
    if (!capture->m_categories.contains(QString::fromLatin1(context.category))) {
        if (capture->m_previous)
            capture->m_previous(type, context, message);
        return;
    }
    const char *level = type == QtDebugMsg ? "debug: "
        : type == QtInfoMsg                ? "info: "
        : type == QtWarningMsg             ? "warning: "
                                           : "critical: ";
    QMutexLocker lock(&capture->m_mutex);
    capture->m_lines << QString::fromLatin1(level) + message;
}

unsigned modeOf(const QString &path)
{
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_mode & 07777;
}

void makeLink(const QString &target, const QString &link)
{
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()), 0)
        << link.toStdString();
}

void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        throw std::runtime_error("cannot write test file " + path.toStdString());
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read test file " + path.toStdString());
    return file.readAll();
}

} // namespace testsupport
