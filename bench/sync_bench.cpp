// The engine's first sync and idle pass, each printed beside the reference
// that bounds it, measured in the same run against the same development
// server (a child process on loopback, so that the memory and stalls
// measured here are the client's alone):
//
//  - first sync of COUNT files of 1-64 KiB, beside a minimal client that
//    sends only the unavoidable requests (sign in, folders, one multipart
//    upload per file with three in flight, one state save at the end);
//  - bytes the state file saves wrote over that sync, beside the final size;
//  - idle pass over the unchanged files, with the engine's watcher (no
//    walk) and with the walk it makes hourly, each beside one stat walk of
//    the tree plus one status request, with the bytes read (/proc/self/io
//    rchar);
//  - the main thread's longest stall during each (a 5 ms timer's lateness);
//  - what one serialisation of the state costs (done off the main thread);
//  - resident memory (VmRSS) with the files tracked, and its peak (VmHWM)
//    during the first sync and up to the end of the idle pass ("before" is
//    with the minimal client gone and its heap handed back);
//  - a second computer's first sync, into an empty folder of its own: it
//    downloads every file (its time and longest stall), and its next pass,
//    which walks that folder (its time and the bytes it read);
//  - with --big-file, a pass that uploads one file of that size;
//  - with --engine-only, the engine's own phases alone, without the
//    minimal client and the second computer (to look into them with a
//    profiler);
//  - with --server-below N, the server N nice steps below the benchmark,
//    standing for a server on another machine that never takes a core from
//    the client (its main thread's stalls are then the client's own).
//
// usage: sync_bench [COUNT ...] [--big-file MiB] [--engine-only] [--server-below N]
//        sync_bench --throttled-upload MiB [--rate BYTES_PER_SEC]
// Without counts: 2000 and 10000. The 100,000-file figures: sync_bench 100000.
#include "LargeFile.h"
#include "EngineBenchSupport.h"
#include "platform/MemoryRelease.h"
#include "MinimalClient.h"

#include <QCoroTask>
#include <QElapsedTimer>
#include <QFile>
#include <stdexcept>
#include <sys/stat.h>

namespace {

using namespace enginebench;

// The floor of an idle pass: every file's metadata read once, and the one
// question to the server that no pass can skip.
qint64 statWalkAndStatusMs(Setting &setting, const SyncState &state)
{
    QElapsedTimer clock;
    clock.start();
    qint64 files = 0;
    QDirIterator walk(setting.folder, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden,
                      QDirIterator::Subdirectories);
    while (walk.hasNext()) {
        struct stat st {};
        if (::lstat(QFile::encodeName(walk.next()).constData(), &st) == 0 && S_ISREG(st.st_mode))
            ++files;
    }
    const qint64 folderId = state.folderMappings.value(setting.folder);
    std::optional<QString> since = state.folderSyncTimes.contains(setting.folder)
        ? std::optional(state.folderSyncTimes.value(setting.folder))
        : state.lastSyncTime;
    auto status = setting.client->getSyncStatus(folderId, since);
    QCoro::waitFor(status);
    return clock.elapsed();
}

void runCount(int fileCount, qint64 bigFileMiB, bool engineOnly)
{
    Setting setting(ServerIn::ChildProcess);
    const qint64 totalBytes = setting.writeFiles(fileCount);
    std::printf("== %d files, %.1f MiB; server: %s (child process, pid %lld, %d nice steps below)\n", fileCount,
                totalBytes / 1048576.0, qPrintable(setting.baseURL), setting.child->processId(),
                ServerProcess::niceSteps);
    std::fflush(stdout);

    // The reference first, into its own root folder and state file; it is
    // gone, and its freed heap handed back, before the engine is measured.
    QElapsedTimer clock;
    clock.start();
    qint64 minimalMs = 0;
    // Where the time goes: the client's CPU and the server's beside it.
    const qint64 serverPid = setting.child->processId();
    double clientCpu = processCpuMs(), serverCpu = otherProcessCpuMs(serverPid);
    const auto cpuSince = [&] {
        const double client = processCpuMs(), server = otherProcessCpuMs(serverPid);
        const QString spent = QStringLiteral("client CPU %1 s, server CPU %2 s")
                                  .arg((client - clientCpu) / 1000.0, 0, 'f', 1)
                                  .arg((server - serverCpu) / 1000.0, 0, 'f', 1);
        clientCpu = client;
        serverCpu = server;
        return spent;
    };
    if (!engineOnly) {
        MinimalClient minimal(setting.baseURL, setting.home.filePath("minimal_state.json"));
        auto minimalSync = minimal.firstSync(setting.accountEmail, setting.accountPassword,
                                             QStringLiteral("Minimal Sync"), setting.folder);
        QCoro::waitFor(minimalSync);
        minimalMs = clock.elapsed();
        std::printf("minimal client  first sync %7lld ms (%lld uploads, one state save of %.1f KiB); %s\n", minimalMs,
                    minimal.uploaded(), QFileInfo(setting.home.filePath("minimal_state.json")).size() / 1024.0,
                    qPrintable(cpuSince()));
    }
    returnFreedMemoryNow();

    setting.clearRequests();
    cpuSince();
    const long memoryBefore = memoryKiB();
    resetPeakMemory();
    StallProbe probe;
    auto engine = setting.makeEngine();
    const StepNames firstSteps(probe, *setting.appState);
    probe.start(QStringLiteral("first sync"));
    clock.restart();
    QCoro::waitFor(engine->performSync());
    const qint64 firstMs = clock.elapsed();
    const QString firstCpu = cpuSince();
    probe.setStep(QStringLiteral("the pass has returned"));
    // The compaction that follows a pass of many changes settles, counted
    // in the first sync's phase.
    QTimer::singleShot(100, [&] { probe.setStep(QStringLiteral("the compaction after the pass")); });
    idle(2000);
    const double firstStall = probe.stop();
    const qint64 finalStateSize = QFileInfo(setting.stateFilePath()).size();
    const long memoryAfter = memoryKiB();
    const long firstPeak = memoryKiB("VmHWM:");
    const QString ratio = engineOnly ? QString()
                                     : QStringLiteral(" = %1x the minimal client").arg(double(firstMs) / minimalMs, 0, 'f', 2);
    std::printf("engine          first sync %7lld ms%s; %lld requests, status %s, %lld tracked; %s\n", firstMs,
                qPrintable(ratio), setting.requestCount(), qPrintable(setting.appState->statusText()),
                qint64(engine->syncState().trackedFiles.size()), qPrintable(firstCpu));
    std::printf("  longest main-thread stall %.1f ms\n", firstStall);
    std::printf("  state file: %lld saves, %.2f MiB written = %.1fx the final file of %.2f MiB\n",
                engine->stateSaveCount(), engine->stateBytesWritten() / 1048576.0,
                double(engine->stateBytesWritten()) / qMax<qint64>(finalStateSize, 1), finalStateSize / 1048576.0);
    std::printf("  resident memory %.1f MiB with the files tracked (heap in use %.1f MiB), peak %.1f MiB during "
                "the first sync (%.1f MiB before the engine was made)\n",
                memoryAfter / 1024.0, heapInUseKiB() / 1024.0, firstPeak / 1024.0, memoryBefore / 1024.0);
    std::fflush(stdout);

    // From here the engine runs as in the application, with its watcher (and
    // no timer or event pass of its own during the measures). Its start
    // pass still hears of every upload (they came after the time its answer
    // was asked from): it is shown apart. The idle passes are the ones after
    // it, when nothing changed anywhere: the usual one, which the watcher
    // spares the walk, and one that walks (as hourly, or where the watcher
    // cannot vouch for a folder).
    probe.start(QStringLiteral("pass after the first sync"));
    clock.restart();
    startAndWaitForFirstPass(*engine);
    const qint64 afterMs = clock.elapsed();
    std::printf("engine          pass after the first sync %lld ms (its answer lists the %lld uploads), "
                "longest main-thread stall %.1f ms\n",
                afterMs, qint64(engine->syncState().trackedFiles.size()), probe.stop());
    const qint64 floorMs = statWalkAndStatusMs(setting, engine->syncState());
    const auto idlePass = [&](const char *label) {
        setting.clearRequests();
        const qint64 readBefore = procIo("rchar");
        const qint64 walksBefore = engine->walkCount();
        probe.start(QStringLiteral("idle pass ") + QString::fromLatin1(label).trimmed());
        clock.restart();
        const double cpuBefore = processCpuMs();
        QCoro::waitFor(engine->performSync());
        const qint64 idleMs = clock.elapsed();
        const double idleCpuMs = processCpuMs() - cpuBefore;
        const double idleStall = probe.stop();
        std::printf("engine          idle pass, %s %7lld ms = %.2fx one stat walk + one status request (%lld ms); "
                    "client CPU %.1f ms; %lld walks, %lld requests, %.2f MiB read; longest main-thread stall %.1f ms\n",
                    label, idleMs, double(idleMs) / qMax<qint64>(floorMs, 1), floorMs, idleCpuMs,
                    engine->walkCount() - walksBefore, setting.requestCount(),
                    (procIo("rchar") - readBefore) / 1048576.0, idleStall);
    };
    idlePass("watched      ");
    engine->fullWalkIntervalMs = 0;
    idlePass("with its walk");
    std::printf("  resident memory %.1f MiB (heap in use %.1f MiB), peak %.1f MiB since the first sync began\n",
                memoryKiB() / 1024.0, heapInUseKiB() / 1024.0, memoryKiB("VmHWM:") / 1024.0);
    // Last, so that its own copy of the file in memory is in no figure above.
    QElapsedTimer encodeClock;
    encodeClock.start();
    const qint64 encodedSize = engine->syncState().encode().size();
    std::printf("  one serialisation of the state (done off the main thread by the engine): %lld ms for %.2f MiB\n",
                encodeClock.elapsed(), encodedSize / 1048576.0);
    std::fflush(stdout);

    // Signing out: the engine stops and goes with everything it holds.
    probe.start(QStringLiteral("sign-out"));
    engine->stop();
    engine.reset();
    std::printf("engine          sign-out (engine stopped and deleted), longest main-thread stall %.1f ms\n",
                probe.stop());

    // Start-up: a new engine over the state file just written, from its
    // making to the end of its first pass (which walks, as every first pass
    // does), beside reading and decoding the state file alone.
    clock.restart();
    const qint64 stateEntries = SyncState::load(setting.stateFilePath()).trackedFiles.size();
    const qint64 decodeMs = clock.elapsed();
    returnFreedMemoryNow();
    probe.start(QStringLiteral("start-up"));
    clock.restart();
    engine = setting.makeEngine();
    const qint64 madeMs = clock.elapsed();
    startAndWaitForFirstPass(*engine);
    const qint64 startMs = clock.elapsed();
    std::printf("engine          start-up to the end of the first pass %lld ms = %.2fx reading and decoding the "
                "state file alone (%lld ms, %lld entries); engine made in %lld ms; longest main-thread stall %.1f ms\n",
                startMs, double(startMs) / qMax<qint64>(decodeMs, 1), decodeMs, stateEntries, madeMs, probe.stop());
    std::printf("  resident memory %.1f MiB after the start-up pass (heap in use %.1f MiB)\n", memoryKiB() / 1024.0,
                heapInUseKiB() / 1024.0);
    std::fflush(stdout);

    // A second computer on the same account: a folder of the same name and
    // a state of its own, empty, so that its first sync downloads every file.
    // The first computer's engine goes first, so that the memory figures
    // are the second's alone.
    engine->stop();
    engine.reset();
    returnFreedMemoryNow();
    if (!engineOnly) {
        const QString secondHome = setting.home.filePath(QStringLiteral("second"));
        const QString secondFolder = secondHome + QStringLiteral("/Documents");
        QDir().mkpath(secondFolder);
        Preferences secondPreferences(secondHome + QStringLiteral("/preferences.json"));
        AppState secondAppState(secondPreferences);
        secondAppState.setIsLoggedIn(true);
        secondAppState.setWatchedFolders({secondFolder});
        SyncEngine second(*setting.client, secondAppState, secondHome + QStringLiteral("/sync_state.json"));
        const StepNames secondSteps(probe, secondAppState);
        probe.start(QStringLiteral("second computer's first sync"));
        clock.restart();
        QCoro::waitFor(second.performSync());
        const qint64 secondMs = clock.elapsed();
        std::printf("second computer first sync (downloads every file) %lld ms, %lld tracked, status %s; "
                    "longest main-thread stall %.1f ms\n",
                    secondMs, qint64(second.syncState().trackedFiles.size()),
                    qPrintable(secondAppState.statusText()), probe.stop());
        std::fflush(stdout);

        // Its next pass walks the folder it just filled: what it downloaded
        // is recorded as placed, so nothing is read again.
        const qint64 readBefore = procIo("rchar");
        probe.start(QStringLiteral("second computer's next pass"));
        clock.restart();
        QCoro::waitFor(second.performSync());
        std::printf("second computer next pass (walks) %lld ms, %.1f MiB read; longest main-thread stall %.1f ms\n",
                    qint64(clock.elapsed()), (procIo("rchar") - readBefore) / 1048576.0, probe.stop());
        std::fflush(stdout);
    }

    if (bigFileMiB > 0) {
        engine = setting.makeEngine();
        startAndWaitForFirstPass(*engine);
        const QString path = setting.folder + QStringLiteral("/big.bin");
        if (!writeLargeFile(path, bigFileMiB * 1024 * 1024)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return;
        }
        probe.start(QStringLiteral("big upload"));
        clock.restart();
        QCoro::waitFor(engine->performSync());
        const qint64 bigMs = clock.elapsed();
        std::printf("engine          pass with one %lld MiB upload %lld ms (%s), longest main-thread stall %.1f ms\n",
                    bigFileMiB, bigMs,
                    engine->syncState().trackedFiles.contains(path) ? "tracked" : "NOT tracked", probe.stop());
        QFile::remove(path);
    }
    probe.printWorst();
    std::fflush(stdout);
}

// A large upload through a server that reads at most `rate` bytes a second:
// a slow link that keeps moving must not be abandoned.
int throttledUpload(qint64 mib, qint64 rate)
{
    Setting setting(ServerIn::ChildProcess, rate);
    const qint64 bytes = mib * 1024 * 1024;
    const QString path = setting.home.filePath("throttled.bin");
    if (!writeLargeFile(path, bytes)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }
    auto makeFolder = setting.client->createFolder(QStringLiteral("Throttled"), std::nullopt);
    const qint64 folderId = QCoro::waitFor(makeFolder).id;
    std::printf("upload of %lld MiB through a server throttled to %.1f MB/s (stall time-out %d s)\n", mib, rate / 1e6,
                setting.client->stallTimeoutMs() / 1000);
    std::fflush(stdout);
    StallProbe probe;
    probe.start(QStringLiteral("throttled upload"));
    QElapsedTimer clock;
    clock.start();
    try {
        auto file = std::make_shared<QFile>(path);
        if (!file->open(QIODevice::ReadOnly))
            throw std::runtime_error("cannot open the test file");
        auto upload = setting.client->uploadDocument(std::move(file), QStringLiteral("throttled.bin"),
                                                     QStringLiteral("throttled.bin"), folderId);
        const UploadReceipt receipt = QCoro::waitFor(upload);
        const double seconds = clock.elapsed() / 1000.0;
        std::printf("completed in %.1f s (%.2f MB/s), server holds %lld bytes, hash %s; longest main-thread stall %.1f ms\n",
                    seconds, bytes / 1e6 / seconds, qint64(receipt.document.fileSize.value_or(-1)),
                    receipt.sentHash == receipt.document.fileHash ? "agrees" : "DIFFERS", probe.stop());
        return 0;
    } catch (const std::exception &error) {
        std::printf("FAILED after %.1f s: %s\n", clock.elapsed() / 1000.0, error.what());
        return 1;
    }
}

} // namespace

int main(int argc, char **argv)
{
    setUpHeap(); // as the application does
    QCoreApplication app(argc, argv);
    QList<int> counts;
    qint64 bigFileMiB = 0;
    qint64 throttledMiB = 0;
    qint64 rate = 4000000;
    bool engineOnly = false;
    const QStringList arguments = app.arguments();
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (argument == QLatin1String("--big-file") && hasValue)
            bigFileMiB = arguments[++i].toLongLong();
        else if (argument == QLatin1String("--throttled-upload") && hasValue)
            throttledMiB = arguments[++i].toLongLong();
        else if (argument == QLatin1String("--rate") && hasValue)
            rate = arguments[++i].toLongLong();
        else if (argument == QLatin1String("--engine-only"))
            engineOnly = true;
        else if (argument == QLatin1String("--server-below") && hasValue)
            enginebench::ServerProcess::niceSteps = arguments[++i].toInt();
        else if (argument.toInt() > 0)
            counts.append(argument.toInt());
        else {
            std::fprintf(stderr, "usage: sync_bench [COUNT ...] [--big-file MiB] [--engine-only] [--server-below N]\n"
                                 "       sync_bench --throttled-upload MiB [--rate BYTES_PER_SEC]\n");
            return 2;
        }
    }
    try {
        if (throttledMiB > 0)
            return throttledUpload(throttledMiB, rate);
        if (counts.isEmpty())
            counts = {2000, 10000};
        for (const int count : counts)
            runCount(count, bigFileMiB, engineOnly);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "sync_bench: %s\n", error.what());
        return 1;
    }
    return 0;
}
