// Upload and download throughput of APIClient against the development
// server on loopback, and the client's peak resident memory per transfer;
// then many small uploads one after the other, with Nagle's algorithm left
// on and turned off on the client's connections: the time per upload shows
// what the wait for the server's delayed acknowledgement costs.
//
// usage: transfer_bench [--server PATH] [--sizes MiB,MiB,...] [--small COUNT]
// The server runs as a child process (default: tavrel-devserver next to
// this program) so that the memory figures are the client's alone; without
// the program it runs in-process and the figures include it.
#include "LargeFile.h"
#include "api/APIClient.h"
#include "api/Errors.h"
#include "devserver/DevServer.h"
#include "platform/Preferences.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <memory>

namespace {

// A file opened for an upload: the client reads the open file.
std::shared_ptr<QIODevice> openedFile(const QString &path)
{
    auto file = std::make_shared<QFile>(path);
    if (!file->open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot open " + path.toStdString());
    return file;
}

const char *email = "demo@tavrel.test";
const char *password = "demo-password";

// Peak resident set size of this process in KiB since the last reset.
long peakResidentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

// Starts a new peak measurement (Linux: writing 5 to clear_refs resets VmHWM).
void resetPeak()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    if (refs.open(QIODevice::WriteOnly))
        refs.write("5");
}

int freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

struct Server {
    std::unique_ptr<QProcess> process;
    std::unique_ptr<DevServer> inProcess;
    QString baseURL;
};

Server startServer(const QString &program, const QString &dataDir)
{
    Server server;
    if (QFileInfo(program).isExecutable()) {
        const int port = freePort();
        server.process = std::make_unique<QProcess>();
        server.process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        server.process->start(program, {"--port", QString::number(port), "--data-dir", dataDir, "--demo", "--quiet"});
        if (!server.process->waitForStarted(10000))
            throw std::runtime_error("cannot start " + program.toStdString());
        while (!server.process->canReadLine() && server.process->waitForReadyRead(10000)) {
        }
        const QByteArray line = server.process->readLine().trimmed();
        const int at = line.indexOf("http://");
        if (at < 0)
            throw std::runtime_error("unexpected server output: " + line.toStdString());
        server.baseURL = QString::fromUtf8(line.mid(at));
        std::printf("server: %s (child process, pid %lld)\n", qPrintable(program),
                    static_cast<long long>(server.process->processId()));
    } else {
        DevServer::Options options;
        options.dataDir = dataDir.toStdString();
        server.inProcess = std::make_unique<DevServer>(options);
        server.inProcess->start();
        server.inProcess->addUser(email, password, "Demo User", "Tavrel Demo");
        server.baseURL = QString::fromStdString(server.inProcess->baseURL());
        std::printf("server: in-process (no %s); memory figures include the server\n", qPrintable(program));
    }
    return server;
}

QCoro::Task<int> runBench(QStringList arguments)
{
    QString program = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("tavrel-devserver"));
    QList<qint64> sizesMiB{256, 2048};
    int smallCount = 200;
    for (int i = 1; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--server"))
            program = arguments[++i];
        else if (arguments[i] == QLatin1String("--sizes")) {
            sizesMiB.clear();
            for (const QString &size : arguments[++i].split(QLatin1Char(',')))
                sizesMiB.append(size.toLongLong());
        } else if (arguments[i] == QLatin1String("--small"))
            smallCount = arguments[++i].toInt();
    }

    QTemporaryDir work;
    QDir(work.path()).mkpath(QStringLiteral("server"));
    Server server = startServer(program, work.filePath(QStringLiteral("server")));
    Preferences preferences(work.filePath(QStringLiteral("preferences.json")));
    APIClient client(preferences);
    co_await client.login(QString::fromUtf8(email), QString::fromUtf8(password), server.baseURL);
    const FolderResponse folder = co_await client.createFolder(QStringLiteral("Bench"), std::nullopt);

    for (const qint64 mib : sizesMiB) {
        const qint64 bytes = mib * 1024 * 1024;
        const QString source = work.filePath(QStringLiteral("up-%1.bin").arg(mib));
        if (!writeLargeFile(source, bytes))
            throw std::runtime_error("cannot write the test file");

        resetPeak();
        QElapsedTimer clock;
        clock.start();
        const UploadReceipt receipt =
            co_await client.uploadDocument(openedFile(source), QFileInfo(source).fileName(), QFileInfo(source).fileName(), folder.id);
        const DocumentResponse &document = receipt.document;
        const double upSeconds = clock.elapsed() / 1000.0;
        const long upPeak = peakResidentKiB();
        std::printf("upload   %5lld MiB: %8.1f MB/s (%.2f s), client peak resident %ld MiB\n",
                    static_cast<long long>(mib), bytes / 1e6 / upSeconds, upSeconds, upPeak / 1024);
        if (document.fileSize != bytes)
            std::printf("  warning: server holds %lld bytes\n", static_cast<long long>(document.fileSize.value_or(-1)));

        const QString target = work.filePath(QStringLiteral("down-%1.bin").arg(mib));
        resetPeak();
        clock.restart();
        co_await client.downloadFile(co_await client.getDownloadURL(document.id), target);
        const double downSeconds = clock.elapsed() / 1000.0;
        const long downPeak = peakResidentKiB();
        std::printf("download %5lld MiB: %8.1f MB/s (%.2f s), client peak resident %ld MiB\n",
                    static_cast<long long>(mib), bytes / 1e6 / downSeconds, downSeconds, downPeak / 1024);
        if (QFileInfo(target).size() != bytes)
            std::printf("  warning: downloaded %lld bytes\n", static_cast<long long>(QFileInfo(target).size()));
        std::fflush(stdout);
        QFile::remove(source);
        QFile::remove(target);
    }
    // Nagle's algorithm first: the client with it off would turn it off on
    // every connection to the server, the other client's too.
    const QString small = work.filePath(QStringLiteral("small.txt"));
    QFile smallFile(small);
    if (!smallFile.open(QIODevice::WriteOnly) || smallFile.write(QByteArray(40 * 1024, 's')) != 40 * 1024)
        throw std::runtime_error("cannot write the small file");
    smallFile.close();
    for (const bool lowDelay : {false, true}) {
        APIClient uploader(preferences);
        uploader.setBaseURL(server.baseURL);
        uploader.setToken(client.token());
        uploader.setLowDelay(lowDelay);
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < smallCount; ++i)
            co_await uploader.uploadDocument(openedFile(small), QFileInfo(small).fileName(),
                                             QStringLiteral("small-%1.txt").arg(i), folder.id);
        std::printf("%d uploads of 40 KiB one after the other, Nagle's algorithm %s: %.2f ms each\n", smallCount,
                    lowDelay ? "off" : "on ", double(clock.elapsed()) / qMax(smallCount, 1));
    }

    if (server.process) {
        server.process->terminate();
        server.process->waitForFinished(10000);
    }
    co_return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int code = 1;
    QTimer::singleShot(0, [&] {
        [](int &result, QStringList arguments) -> QCoro::Task<void> {
            try {
                result = co_await runBench(std::move(arguments));
            } catch (const std::exception &error) {
                std::fprintf(stderr, "transfer_bench: %s\n", error.what());
                result = 1;
            }
            QCoreApplication::exit(result);
        }(code, app.arguments());
    });
    app.exec();
    return code;
}
