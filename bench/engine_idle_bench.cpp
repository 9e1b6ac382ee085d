// A started engine over 10,000 tracked, unchanged files, left running for
// 60 s with the default 30 s timer: CPU time of the whole process over that
// minute (user + system; the in-process server's threads included). Then the time from a file's save to the end of the pass that
// uploads it, with the default 2 s quiet period of the watcher.
//
// The agreement is seeded directly (documents put on the server, one state
// file written) rather than by a first sync, which is sync_bench's subject.
#include "EngineBenchSupport.h"
#include "platform/MemoryRelease.h"

#include <QCoroTask>
#include <QElapsedTimer>
#include <algorithm>
#include <vector>

int main(int argc, char **argv)
{
    setUpHeap(); // as the application does
    QCoreApplication app(argc, argv);
    const int fileCount = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 60;
    enginebench::Setting setting(enginebench::ServerIn::ThisProcess);
    setting.writeFiles(fileCount);

    setting.seedAgreement();
    auto engine = setting.makeEngine();
    QCoro::waitFor(engine->performSync()); // lists everything once, transfers nothing, leaves a since time
    std::printf("tracked: %lld files, status %s\n", qint64(engine->syncState().trackedFiles.size()),
                qPrintable(setting.appState->statusText()));

    int passes = 0;
    QObject::connect(engine.get(), &SyncEngine::passFinished, [&] { ++passes; });
    engine->start();
    enginebench::waitUntil([&] { return passes >= 1; }, 600000);

    const double cpuBefore = enginebench::processCpuMs();
    enginebench::idle(idleSeconds * 1000);
    const double cpuUsed = (enginebench::processCpuMs() - cpuBefore) / 1000.0;
    std::printf("idle %d s: %.2f s CPU (%.1f%% of one core), %d timer passes\n", idleSeconds, cpuUsed,
                100.0 * cpuUsed / idleSeconds, passes - 1);

    std::vector<qint64> latencies;
    for (int i = 0; i < 3; ++i) {
        const QString path = QString("%1/dir000/saved%2.txt").arg(setting.folder).arg(i);
        QElapsedTimer clock;
        clock.start();
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write("a new save");
        file.close();
        qint64 latency = -1;
        const QMetaObject::Connection connection =
            QObject::connect(engine.get(), &SyncEngine::passFinished, [&] {
                if (latency < 0 && engine->syncState().trackedFiles.contains(path))
                    latency = clock.elapsed();
            });
        QEventLoop loop;
        QObject::connect(engine.get(), &SyncEngine::passFinished, &loop, [&] {
            if (latency >= 0)
                loop.quit();
        });
        QTimer::singleShot(120000, &loop, &QEventLoop::quit);
        loop.exec();
        QObject::disconnect(connection);
        latencies.push_back(latency);
        std::printf("save %d: uploaded by a pass that ended %lld ms after the save\n", i, latency);
        enginebench::idle(3000);
    }
    engine->stop();
    return 0;
}
