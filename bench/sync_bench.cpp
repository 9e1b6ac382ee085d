// A first sync of 10,000 small files into an empty server folder, then an
// idle pass over the same unchanged files. The development server runs in
// this process on loopback.
//
// Figures: wall time of each pass; requests the server received; bytes the
// state file saves wrote (the engine counts each save's file size: every
// save writes the whole file); for the idle pass, bytes read through read()
// calls (/proc/self/io rchar delta: file hashing plus the few loopback
// answers, page cache hits included).
#include "EngineBenchSupport.h"

#include <QCoroTask>
#include <QElapsedTimer>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int fileCount = argc > 1 ? std::atoi(argv[1]) : 10000;
    enginebench::Setting setting;
    const qint64 totalBytes = setting.writeFiles(fileCount);
    std::printf("files: %d, %.1f MiB\n", fileCount, totalBytes / 1048576.0);

    auto engine = setting.makeEngine();
    QElapsedTimer clock;
    clock.start();
    QCoro::waitFor(engine->performSync());
    const qint64 firstMs = clock.elapsed();
    const auto firstRequests = setting.server->requests().size();
    const qint64 firstSaves = engine->stateSaveCount();
    const qint64 firstStateBytes = engine->stateBytesWritten();
    const qint64 finalStateSize = QFileInfo(setting.stateFilePath()).size();
    std::printf("first sync: %lld ms, %zu requests, status %s, %lld tracked\n", firstMs, firstRequests,
                qPrintable(setting.appState->statusText()), qint64(engine->syncState().trackedFiles.size()));
    std::printf("  state file: %lld saves, %.1f MiB written (final file %.1f KiB)\n", firstSaves,
                firstStateBytes / 1048576.0, finalStateSize / 1024.0);

    setting.server->clearRequests();
    const qint64 readBefore = enginebench::procIo("rchar");
    clock.restart();
    QCoro::waitFor(engine->performSync());
    const qint64 idleMs = clock.elapsed();
    const qint64 readBytes = enginebench::procIo("rchar") - readBefore;
    std::printf("idle pass: %lld ms, %zu requests, %.1f MiB read (rchar), %lld state saves\n", idleMs,
                setting.server->requests().size(), readBytes / 1048576.0,
                engine->stateSaveCount() - firstSaves);
    return 0;
}
