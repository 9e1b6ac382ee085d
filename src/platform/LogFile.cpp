#include "platform/LogFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <mutex>
#include <sys/stat.h>

namespace {

// Qt calls the handler from any thread that logs (its own network and
// file-system threads included), so the file is shared under a lock.
struct Sink {
    std::mutex mutex;
    std::FILE *file = nullptr;
    QByteArray path;
    qint64 rotateBytes = 0;
    QtMessageHandler previous = nullptr;
    bool installed = false;
};

Sink &sink()
{
    static Sink instance;
    return instance;
}

std::FILE *openForAppending(const QByteArray &path)
{
    std::FILE *file = std::fopen(path.constData(), "ae");
    if (file)
        ::fchmod(fileno(file), 0600); // messages name the user's files
    return file;
}

// Called with the lock held.
void rotateIfFull(Sink &s)
{
    const long size = std::ftell(s.file);
    if (size < 0 || size < s.rotateBytes)
        return;
    std::fclose(s.file);
    const QByteArray old = s.path + ".1";
    std::rename(s.path.constData(), old.constData());
    s.file = openForAppending(s.path);
}

void handleMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QByteArray line = qFormatLogMessage(type, context, LogFile::escaped(message)).toLocal8Bit() + '\n';
    Sink &s = sink();
    std::lock_guard lock(s.mutex);
    std::fwrite(line.constData(), 1, std::size_t(line.size()), stderr);
    std::fflush(stderr);
    if (s.file) {
        std::fwrite(line.constData(), 1, std::size_t(line.size()), s.file);
        std::fflush(s.file);
        rotateIfFull(s);
    }
}

} // namespace

namespace LogFile {

QString defaultPath()
{
    QString stateHome = qEnvironmentVariable("XDG_STATE_HOME");
    if (stateHome.isEmpty() || !QDir::isAbsolutePath(stateHome))
        stateHome = QDir::homePath() + QStringLiteral("/.local/state");
    return stateHome + QStringLiteral("/TavrelSync/tavrelsync.log");
}

void install(const QString &path, qint64 rotateBytes)
{
    uninstall();
    QDir().mkpath(QFileInfo(path).absolutePath());
    Sink &s = sink();
    {
        std::lock_guard lock(s.mutex);
        s.path = QFile::encodeName(path);
        s.rotateBytes = rotateBytes;
        s.file = openForAppending(s.path);
        s.installed = true;
    }
    s.previous = qInstallMessageHandler(handleMessage);
    if (!s.file)
        qWarning("Cannot write the log file %s", s.path.constData());
}

void uninstall()
{
    Sink &s = sink();
    if (!s.installed)
        return;
    qInstallMessageHandler(s.previous);
    std::lock_guard lock(s.mutex);
    if (s.file)
        std::fclose(s.file);
    s.file = nullptr;
    s.installed = false;
}

QString escaped(const QString &message)
{
    QString result;
    result.reserve(message.size());
    for (const QChar c : message) {
        const char16_t u = c.unicode();
        if (u == '\n')
            result += QLatin1String("\\n");
        else if (u == '\r')
            result += QLatin1String("\\r");
        else if (u == '\t')
            result += QLatin1String("\\t");
        else if (u < 0x20 || (u >= 0x7f && u < 0xa0))
            result += QStringLiteral("\\x%1").arg(uint(u), 2, 16, QLatin1Char('0'));
        else if (u == 0x2028 || u == 0x2029)
            result += QStringLiteral("\\u%1").arg(uint(u), 4, 16, QLatin1Char('0'));
        else
            result += c;
    }
    return result;
}

} // namespace LogFile
