#pragma once

// Shared setting for the engine benchmarks: a private home, a development
// server on loopback (a child process, or in this process where the
// benchmark puts documents on it directly), a signed-in client and a
// watched folder of many small files.
#include "ServerProcess.h"
#include "api/APIClient.h"
#include "devserver/DevServer.h"
#include "platform/MemoryRelease.h"
#include "platform/Preferences.h"
#include "state/AppState.h"
#include "sync/LocalScanner.h"
#include "sync/SyncEngine.h"
#include "sync/SyncState.h"

#include <QCoreApplication>
#include <QCoroTask>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <random>
#include <ctime>
#include <mutex>
#include <thread>
#include <fcntl.h>
#include <unistd.h>

namespace enginebench {

// The account of the in-process server.
constexpr const char *email = "bench@tavrel.test";
constexpr const char *password = "bench-password";

enum class ServerIn { ChildProcess, ThisProcess };

struct Setting {
    QTemporaryDir home;
    std::unique_ptr<ServerProcess> child;  // ServerIn::ChildProcess
    std::unique_ptr<DevServer> server;     // ServerIn::ThisProcess
    std::unique_ptr<Preferences> preferences;
    std::unique_ptr<AppState> appState;
    std::unique_ptr<APIClient> client;
    QString baseURL;
    QString accountEmail;
    QString accountPassword;
    QString folder;

    explicit Setting(ServerIn where, qint64 throttleBytesPerSecond = 0)
    {
        qputenv("XDG_CONFIG_HOME", home.filePath("config").toLocal8Bit());
        qputenv("XDG_DATA_HOME", home.filePath("data").toLocal8Bit());
        // One info line per transfer would measure the terminal.
        QLoggingCategory::setFilterRules(QStringLiteral("com.tavrel.TavrelSync.*.info=false"));

        preferences = std::make_unique<Preferences>(home.filePath("config/TavrelSync/preferences.json"));
        appState = std::make_unique<AppState>(*preferences);
        client = std::make_unique<APIClient>(*preferences);
        if (where == ServerIn::ChildProcess) {
            child = std::make_unique<ServerProcess>(home.path(), throttleBytesPerSecond);
            baseURL = child->baseURL();
            accountEmail = QString::fromLatin1(ServerProcess::email);
            accountPassword = QString::fromLatin1(ServerProcess::password);
            auto signIn = client->login(accountEmail, accountPassword, baseURL);
            QCoro::waitFor(signIn);
        } else {
            DevServer::Options options;
            options.dataDir = home.filePath("server").toStdString();
            options.recordedBodyLimit = 0; // count requests, keep no bodies
            options.throttleBytesPerSecond = throttleBytesPerSecond;
            QDir().mkpath(home.filePath("server"));
            server = std::make_unique<DevServer>(options);
            server->start();
            server->addUser(email, password, "Bench User", "Bench");
            baseURL = QString::fromStdString(server->baseURL());
            accountEmail = QString::fromLatin1(email);
            accountPassword = QString::fromLatin1(password);
            client->setBaseURL(baseURL);
            client->setToken(QString::fromStdString(server->issueToken(email)));
        }
        appState->setIsLoggedIn(true);
        folder = home.filePath("Documents");
        QDir().mkpath(folder);
        appState->setWatchedFolders({folder});
    }

    ~Setting()
    {
        // The server before the home it keeps its files in.
        child.reset();
        server.reset();
    }

    qint64 requestCount() const { return child ? child->requestCount() : qint64(server->requests().size()); }
    void clearRequests()
    {
        if (child)
            child->clearRequests();
        else
            server->clearRequests();
    }

    QString stateFilePath() const { return home.filePath("data/TavrelSync/sync_state.json"); }

    std::unique_ptr<SyncEngine> makeEngine()
    {
        return std::make_unique<SyncEngine>(*client, *appState, stateFilePath());
    }

    // Puts every file of the folder on the server and writes the state file
    // that a first sync would have left: all files tracked and in step
    // (the in-process server only: it takes the documents directly).
    void seedAgreement()
    {
        const int64_t root = server->createFolder(email, "Desktop Sync", std::nullopt);
        const int64_t sub = server->createFolder(email, QFileInfo(folder).fileName().toStdString(), root);
        SyncState state;
        state.serverFolderId = root;
        state.folderMappings.insert(folder, sub);
        QDirIterator files(folder, QDir::Files, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QString path = files.next();
            QFile file(path);
            file.open(QIODevice::ReadOnly);
            const QByteArray content = file.readAll();
            const int64_t id = server->putDocument(email, sub, QFileInfo(path).fileName().toStdString(),
                                                   content.toStdString());
            TrackedFile entry;
            entry.localHash = LocalScanner::computeFileHash(path);
            entry.remoteId = id;
            entry.remoteHash = entry.localHash; // the server hashes the same way
            entry.lastSynced = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
            entry.localModified = LocalScanner::fileModificationDate(path);
            state.trackedFiles.insert(path, entry);
        }
        QDir().mkpath(QFileInfo(stateFilePath()).absolutePath());
        state.save(stateFilePath());
    }

    // `count` files of 1 to 64 KiB, a hundred per subdirectory; returns their total size.
    qint64 writeFiles(int count)
    {
        std::mt19937 random(20261207);
        std::uniform_int_distribution<int> size(1024, 64 * 1024);
        qint64 total = 0;
        for (int i = 0; i < count; ++i) {
            const QString dir = QString("%1/dir%2").arg(folder).arg(i / 100, 3, 10, QChar('0'));
            if (i % 100 == 0)
                QDir().mkpath(dir);
            QByteArray content(size(random), Qt::Uninitialized);
            for (int j = 0; j < content.size(); j += 8)
                content[j] = char(random());
            content.prepend(QByteArray::number(i));
            QFile file(QString("%1/file%2.dat").arg(dir).arg(i, 5, 10, QChar('0')));
            if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
                std::exit(1);
            }
            total += content.size();
        }
        return total;
    }
};

// CPU time of this process so far, every thread counted, in milliseconds:
// what the client spends, apart from the server (a child process).
inline double processCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1000.0 + now.tv_nsec / 1e6;
}

// CPU time of another process so far (the server), in milliseconds; 0 when
// it cannot be read.
inline double otherProcessCpuMs(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    // The fields after the command's closing parenthesis; user and system
    // time are the 12th and 13th of them.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    return (fields[11].toLongLong() + fields[12].toLongLong()) * 1000.0 / sysconf(_SC_CLK_TCK);
}

// Spins the event loop until the predicate holds or the time runs out.
inline bool waitUntil(const std::function<bool()> &predicate, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!predicate()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return true;
}

// Runs the event loop until the engine's next pass has ended.
inline void waitForPassEnd(SyncEngine &engine)
{
    bool ended = false;
    const QMetaObject::Connection watching =
        QObject::connect(&engine, &SyncEngine::passFinished, [&ended] { ended = true; });
    while (!ended)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QObject::disconnect(watching);
}

// Starts the engine as the application does, with no timer or watcher pass
// of its own during the measures, and waits for the end of its first pass.
inline void startAndWaitForFirstPass(SyncEngine &engine)
{
    engine.syncIntervalOverrideMs = 24 * 3600 * 1000;
    engine.debounceInterval = 24 * 3600 * 1000;
    engine.start();
    waitForPassEnd(engine);
}

// Runs the event loop for the time given, without spinning.
inline void idle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// A counter of /proc/self/io ("rchar", "wchar"): bytes passed through
// read() and write() calls of this process, page cache or not.
inline qint64 procIo(const char *key)
{
    QFile file(QStringLiteral("/proc/self/io"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : file.readAll().split('\n'))
        if (line.startsWith(QByteArray(key) + ':'))
            return line.mid(qstrlen(key) + 1).trimmed().toLongLong();
    return -1;
}

// Where in a phase its peak of resident memory falls: a thread reads the
// resident size every few milliseconds and keeps the largest with the step
// the main thread last named (VmHWM gives the size alone).
class PeakWatch {
public:
    PeakWatch()
        : m_sampler([this](std::stop_token stop) { sample(stop); })
    {
    }
    void setStep(QString step)
    {
        const std::lock_guard lock(m_mutex);
        m_step = std::move(step);
    }
    // Starts a new peak (from the size now).
    void restart(QString step)
    {
        const std::lock_guard lock(m_mutex);
        m_step = std::move(step);
        m_peakKiB = 0;
        m_clock.start();
    }
    // "N MiB, S s in, at: step"
    QString peak()
    {
        const std::lock_guard lock(m_mutex);
        return QStringLiteral("%1 MiB, %2 s in, at: %3")
            .arg(m_peakKiB / 1024.0, 0, 'f', 1)
            .arg(m_peakMs / 1000.0, 0, 'f', 1)
            .arg(m_peakStep);
    }

private:
    void sample(std::stop_token stop)
    {
        const long pageKiB = ::sysconf(_SC_PAGESIZE) / 1024;
        while (!stop.stop_requested()) {
            long size = 0, resident = 0;
            if (FILE *statm = std::fopen("/proc/self/statm", "r")) {
                if (std::fscanf(statm, "%ld %ld", &size, &resident) != 2)
                    resident = 0;
                std::fclose(statm);
            }
            {
                const std::lock_guard lock(m_mutex);
                if (resident * pageKiB > m_peakKiB) {
                    m_peakKiB = resident * pageKiB;
                    m_peakStep = m_step;
                    m_peakMs = m_clock.isValid() ? m_clock.elapsed() : 0;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
    }

    std::mutex m_mutex;
    QString m_step;
    QString m_peakStep;
    long m_peakKiB = 0;
    qint64 m_peakMs = 0;
    QElapsedTimer m_clock;
    std::jthread m_sampler; // last: it stops before the rest goes
};

// The main thread's stalls: a timer that asks to run every 5 ms measures
// how late each tick comes. A tick later than 5 ms means the event loop was
// busy (or blocked) for that long: what a user of the interface would feel
// as a freeze. Each measure is a phase; the five longest stalls of all
// phases are kept with the phase they fell in, and each phase's peak of
// resident memory with where in it that fell.
inline qint64 monotonicNs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// How late a thread with no work at all wakes from sleeps of 5 ms, at the
// main thread's priority: what this machine itself adds (a virtual
// processor its host does not run, a timer interrupt come late, other
// processes), measured in the same phases as the reference for the main
// thread's stalls (StallProbe below).
class IdleThreadLateness {
public:
    IdleThreadLateness()
        : m_sleeper([this](std::stop_token stop) {
              while (!stop.stop_requested()) {
                  const qint64 before = monotonicNs();
                  std::this_thread::sleep_for(std::chrono::milliseconds(5));
                  const qint64 lateNs = monotonicNs() - before - qint64(5) * 1000000;
                  qint64 worst = m_longestNs.load();
                  while (lateNs > worst && !m_longestNs.compare_exchange_weak(worst, lateNs)) {
                  }
              }
          })
    {
    }
    void restart() { m_longestNs = 0; }
    double longestMs() const { return m_longestNs.load() / 1e6; }

private:
    std::atomic<qint64> m_longestNs{0};
    std::jthread m_sleeper; // last: it stops before the rest goes
};

class StallProbe {
public:
    StallProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { tick(); });
    }
    void start(QString phase)
    {
        m_peaks.restart(phase);
        m_phase = std::move(phase);
        m_step.clear();
        m_longestNs = 0;
        m_clock.start();
        m_lastNs = 0;
        m_lastCpuNs = threadCpuNs();
        m_lastRunQueueNs = m_runQueue.waitedNs();
        m_idleThread.restart();
        m_timer.start();
    }
    // The longest lateness of a tick since start(), in milliseconds. The
    // loop runs a moment longer first, so that what the phase left to do
    // afterwards (freeing its data, deferred deletions) is counted in it.
    double stop()
    {
        idle(100);
        m_timer.stop();
        m_phasePeaks.append(m_phase + QStringLiteral(": ") + m_peaks.peak());
        m_idleThreadLateness.append(QStringLiteral("%1: %2 ms (the main thread: %3 ms)")
                                        .arg(m_phase)
                                        .arg(m_idleThread.longestMs(), 0, 'f', 1)
                                        .arg(m_longestNs / 1e6, 0, 'f', 1));
        return m_longestNs / 1e6;
    }
    void printWorst() const
    {
        std::printf("five longest main-thread stalls (and in each the main thread's own CPU time, and its wait "
                    "for a core):");
        for (const Stall &stall : m_worst)
            std::printf(" %.1f ms (%s; %.1f ms on CPU, %.1f ms waiting for a core; ended at %.3f s of the "
                        "monotonic clock);",
                        stall.lateNs / 1e6, qPrintable(stall.phase), stall.cpuNs / 1e6, stall.runQueueNs / 1e6,
                        stall.endedNs / 1e9);
        std::printf("\npeak resident memory of each phase:\n");
        for (const QString &peak : m_phasePeaks)
            std::printf("  %s\n", qPrintable(peak));
        std::printf("longest lateness of an idle thread's 5 ms sleeps, each phase (what the machine adds):\n");
        for (const QString &lateness : m_idleThreadLateness)
            std::printf("  %s\n", qPrintable(lateness));
    }
    // Names the step the phase is at, for where its peak falls.
    void setStep(QString step)
    {
        m_step = step;
        m_peaks.setStep(std::move(step));
    }

private:
    void tick()
    {
        const qint64 now = m_clock.nsecsElapsed();
        const qint64 lateNs = now - m_lastNs - qint64(5) * 1000000;
        m_lastNs = now;
        // A stall spent on the CPU is the main thread's own work; one spent
        // off it is waiting: for a lock, the disk, or a core that other
        // threads and processes hold.
        // Of the time off it, what it spent runnable, waiting for a core.
        const qint64 cpuNow = threadCpuNs();
        const qint64 cpuNs = cpuNow - m_lastCpuNs;
        m_lastCpuNs = cpuNow;
        const qint64 runQueueNow = m_runQueue.waitedNs();
        const qint64 runQueueNs = runQueueNow - m_lastRunQueueNs;
        m_lastRunQueueNs = runQueueNow;
        m_longestNs = qMax(m_longestNs, lateNs);
        if (m_worst.size() == 5 && lateNs <= m_worst.back().lateNs)
            return;
        m_worst.push_back({lateNs, m_step.isEmpty() ? m_phase : m_phase + QStringLiteral(", at: ") + m_step, cpuNs,
                           runQueueNs, monotonicNs()});
        std::sort(m_worst.begin(), m_worst.end(), [](const Stall &a, const Stall &b) { return a.lateNs > b.lateNs; });
        if (m_worst.size() > 5)
            m_worst.pop_back();
    }

    static qint64 threadCpuNs()
    {
        timespec now{};
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
    }
    struct Stall {
        qint64 lateNs;
        QString phase;
        qint64 cpuNs;      // of the main thread, over the whole interval
        qint64 runQueueNs; // the main thread runnable but not running, over it
        qint64 endedNs;    // by the monotonic clock, to find it in a trace (perf -k CLOCK_MONOTONIC)
    };
    // The calling thread's time spent runnable but waiting for a core, from
    // the scheduler's statistics (0 where the kernel keeps none).
    class RunQueueWait {
    public:
        RunQueueWait() : m_fd(::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC)) {}
        ~RunQueueWait()
        {
            if (m_fd >= 0)
                ::close(m_fd);
        }
        RunQueueWait(const RunQueueWait &) = delete;
        RunQueueWait &operator=(const RunQueueWait &) = delete;
        qint64 waitedNs() const
        {
            char text[96] = {};
            if (m_fd < 0 || ::pread(m_fd, text, sizeof text - 1, 0) <= 0)
                return 0;
            // "<on CPU ns> <waiting ns> <slices>"
            unsigned long long onCpu = 0, waiting = 0;
            return std::sscanf(text, "%llu %llu", &onCpu, &waiting) == 2 ? qint64(waiting) : 0;
        }

    private:
        int m_fd;
    };

    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_lastNs = 0;
    qint64 m_lastCpuNs = 0;
    RunQueueWait m_runQueue; // made on the main thread, which it reads
    qint64 m_lastRunQueueNs = 0;
    qint64 m_longestNs = 0;
    QString m_phase;
    QString m_step;
    std::vector<Stall> m_worst;
    PeakWatch m_peaks;
    QStringList m_phasePeaks;
    IdleThreadLateness m_idleThread;
    QStringList m_idleThreadLateness;
};

// Names the probe's step after the status and progress an engine shows, for
// as long as it lives.
class StepNames {
public:
    StepNames(StallProbe &probe, AppState &appState)
    {
        const auto name = [&probe, &appState] {
            const SyncProgress progress = appState.syncProgress();
            probe.setStep(QStringLiteral("%1 (%2 of %3 transfers done)")
                              .arg(appState.statusText())
                              .arg(progress.filesDone)
                              .arg(progress.filesTotal));
        };
        m_connections = {QObject::connect(&appState, &AppState::syncProgressChanged, name),
                         QObject::connect(&appState, &AppState::syncStatusChanged, name)};
    }
    ~StepNames()
    {
        for (const QMetaObject::Connection &connection : m_connections)
            QObject::disconnect(connection);
    }
    StepNames(const StepNames &) = delete;
    StepNames &operator=(const StepNames &) = delete;

private:
    std::vector<QMetaObject::Connection> m_connections;
};

// Starts a new peak of resident memory (Linux: writing 5 to clear_refs
// resets VmHWM to the current resident size).
inline void resetPeakMemory()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    if (refs.open(QIODevice::WriteOnly))
        refs.write("5");
}

// Resident memory of this process now ("VmRSS") or at its peak ("VmHWM"), KiB.
// What the C library's heap holds for live allocations, in KiB: the part
// of the resident memory the client itself still uses (the rest is the
// libraries, and freed pages the heap could not hand back).
inline long heapInUseKiB()
{
    return long(heapBytesInUse() / 1024);
}

inline long memoryKiB(const char *key = "VmRSS:")
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(qstrlen(key)).trimmed().split(' ').value(0).toLong();
    return -1;
}

} // namespace enginebench
