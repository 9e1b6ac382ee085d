#pragma once

// The development server program (tavrel-devserver, next to the benchmark)
// as a child process on an ephemeral loopback port, so that what the
// benchmark measures of its own process (resident memory, main-thread
// stalls) is the client's alone.
//
// Its files go into the private folder it makes under the TMPDIR it is
// given (the benchmark's temporary folder): with --data-dir it would also
// rewrite the metadata of every document twice a second under its store's
// lock, a cost that grows with the file count and is no client's doing.
// Its one log line per answered request goes to a file there, so requests
// can be counted without the benchmark reading a pipe as it runs.
#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <memory>
#include <stdexcept>
#include <sys/resource.h>

namespace enginebench {

class ServerProcess {
public:
    // The demo account the program makes with --demo.
    static constexpr const char *email = "demo@tavrel.test";
    static constexpr const char *password = "demo-password";

    // Nice steps the server runs below the benchmark (sync_bench
    // --server-below). On this machine it shares the client's cores: lowered,
    // it stands for a server on another machine, whose work never keeps the
    // client's main thread waiting for a core.
    static inline int niceSteps = 0;

    static QString defaultProgram()
    {
        return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("tavrel-devserver"));
    }

    // `workDir` exists and outlives this object; throttle 0: no limit.
    ServerProcess(const QString &workDir, qint64 throttleBytesPerSecond = 0, QString program = defaultProgram())
        : m_logPath(QDir(workDir).filePath(QStringLiteral("server-requests.log")))
    {
        if (!QFileInfo(program).isExecutable())
            throw std::runtime_error("no development server program at " + program.toStdString()
                                     + " (build the tavrel-devserver target)");
        QStringList arguments{QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--demo")};
        if (throttleBytesPerSecond > 0)
            arguments << QStringLiteral("--throttle") << QString::number(throttleBytesPerSecond);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TMPDIR"), workDir);
        m_process.setProcessEnvironment(environment);
        m_process.setStandardErrorFile(m_logPath);
        if (niceSteps > 0)
            m_process.setChildProcessModifier([steps = niceSteps] { ::setpriority(PRIO_PROCESS, 0, steps); });
        m_process.start(program, arguments);
        if (!m_process.waitForStarted(10000))
            throw std::runtime_error("cannot start " + program.toStdString());
        while (!m_process.canReadLine() && m_process.waitForReadyRead(10000)) {
        }
        const QByteArray line = m_process.readLine().trimmed();
        const int at = line.indexOf("http://");
        if (at < 0)
            throw std::runtime_error("unexpected server output: " + line.toStdString());
        m_baseURL = QString::fromUtf8(line.mid(at));
    }

    ~ServerProcess()
    {
        // SIGTERM: it stops and removes its private folder, which with a
        // hundred thousand documents takes minutes on a busy disk.
        m_process.terminate();
        if (!m_process.waitForFinished(15 * 60 * 1000)) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

    ServerProcess(const ServerProcess &) = delete;
    ServerProcess &operator=(const ServerProcess &) = delete;

    QString baseURL() const { return m_baseURL; }
    qint64 processId() const { return m_process.processId(); }

    // Requests answered since the last clearRequests() (each is logged
    // before its answer is sent, so all those the client has seen answered).
    qint64 requestCount() const
    {
        QFile log(m_logPath);
        if (!log.open(QIODevice::ReadOnly) || !log.seek(m_mark))
            return -1;
        qint64 count = 0;
        while (!log.atEnd()) {
            const QByteArray line = log.readLine();
            if (line.contains(" -> "))
                ++count;
        }
        return count;
    }

    void clearRequests() { m_mark = QFileInfo(m_logPath).size(); }

private:
    QProcess m_process;
    QString m_logPath;
    QString m_baseURL;
    qint64 m_mark = 0;
};

} // namespace enginebench
