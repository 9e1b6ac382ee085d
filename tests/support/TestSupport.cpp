#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <stdexcept>

namespace testsupport {

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

bool waitUntil(const std::function<bool()> &predicate, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!predicate()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
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
