// The real application as a user meets it, with its panel open (a window,
// as on a desktop without a tray), against the development server as a
// child process:
//
//  - launch to the panel shown;
//  - the first sync of COUNT files of 1-64 KiB, beside a minimal client
//    that hashes and sends the same files (see MinimalClient.h), run before
//    the application or, with --app-first, after it;
//  - an idle pass, and quitting (the application deleted);
//  - a second launch over the state the first left: to the panel shown and
//    to the end of its first pass, beside reading and decoding the state
//    file alone;
//  - the main thread's stalls in each phase (a 5 ms timer's lateness), the
//    five longest with their phase; resident memory after each phase.
//
// usage: app_bench [COUNT ...] [--app-first]     (default: 10000)
#include "EngineBenchSupport.h"
#include "platform/MemoryRelease.h"
#include "MinimalClient.h"
#include "ui/PanelWindow.h"
#include "ui/TavrelSyncApp.h"

#include <QApplication>

namespace {

using namespace enginebench;

// Signs the application's preferences in as the bench account, with the
// bench's folder watched and the timer far away.
void storeSession(Setting &setting)
{
    Preferences &preferences = *setting.preferences;
    preferences.setString("tavrel_api_token", setting.client->token().value_or(QString()));
    preferences.setString("tavrel_server_url", setting.baseURL);
    preferences.setString("tavrel_user_email", setting.accountEmail);
    preferences.setString("tavrel_user_name", QStringLiteral("Bench User"));
    preferences.setString("tavrel_user_org", QStringLiteral("Bench"));
    preferences.setDouble("syncInterval", 24 * 3600);
    setting.appState->saveBookmarks();
}

qint64 minimalFirstSync(Setting &setting)
{
    QElapsedTimer clock;
    clock.start();
    MinimalClient minimal(setting.baseURL, setting.home.filePath("minimal_state.json"));
    auto syncing = minimal.firstSync(setting.accountEmail, setting.accountPassword, QStringLiteral("Minimal Sync"),
                                     setting.folder);
    QCoro::waitFor(syncing);
    const qint64 ms = clock.elapsed();
    std::printf("minimal client  first sync %7lld ms (%lld files hashed and sent)\n", ms, minimal.uploaded());
    std::fflush(stdout);
    return ms;
}

std::unique_ptr<TavrelSyncApp> makeApp(Setting &setting)
{
    TavrelSyncApp::Options options;
    options.stateFilePath = setting.stateFilePath();
    options.useTray = false;
    options.desktopNotifications = false;
    return std::make_unique<TavrelSyncApp>(options);
}

// Launches the application and waits until its panel is shown.
void launch(TavrelSyncApp &app)
{
    app.launch();
    waitUntil([&app] { return app.panel()->isVisible(); }, 60000);
    QCoreApplication::processEvents();
}


void run(int fileCount, bool appFirst)
{
    Setting setting(ServerIn::ChildProcess);
    const qint64 totalBytes = setting.writeFiles(fileCount);
    storeSession(setting);
    std::printf("== %d files, %.1f MiB, the application with its panel open; server: child process\n", fileCount,
                totalBytes / 1048576.0);
    std::fflush(stdout);

    const qint64 minimalBefore = appFirst ? 0 : minimalFirstSync(setting);
    returnFreedMemoryNow();
    StallProbe probe;

    probe.start(QStringLiteral("launch"));
    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<TavrelSyncApp> app = makeApp(setting);
    launch(*app);
    const qint64 shownMs = clock.elapsed();
    SyncEngine *engine = app->syncEngine();
    const double launchStall = probe.stop();
    probe.start(QStringLiteral("first sync"));
    waitForPassEnd(*app->syncEngine());
    const qint64 firstMs = clock.elapsed();
    const double firstStall = probe.stop();
    idle(2000); // the compaction that follows a pass of many changes settles
    const qint64 tracked = engine->syncState().trackedFiles.size();
    std::printf("application     panel shown %lld ms after launch (longest stall %.1f ms)\n", shownMs, launchStall);
    std::printf("application     first sync %7lld ms from launch, %lld tracked, status \"%s\"; longest stall %.1f ms; "
                "resident memory %.1f MiB, peak %.1f MiB\n",
                firstMs, tracked, qPrintable(app->appState().statusText()), firstStall, memoryKiB() / 1024.0,
                memoryKiB("VmHWM:") / 1024.0);
    std::fflush(stdout);
    const qint64 minimalMs = appFirst ? minimalFirstSync(setting) : minimalBefore;
    std::printf("  first sync = %.2fx the minimal client (%s first)\n", double(firstMs) / qMax<qint64>(minimalMs, 1),
                appFirst ? "application" : "minimal client");

    // Its first pass still hears of every upload; the idle pass is the one
    // after that.
    for (const char *label : {"pass after the first sync", "idle pass"}) {
        probe.start(QString::fromLatin1(label));
        const qint64 walksBefore = engine->walkCount();
        clock.restart();
        QCoro::waitFor(engine->performSync());
        const qint64 passMs = clock.elapsed();
        std::printf("application     %s %lld ms, %lld walks, longest stall %.1f ms\n", label, passMs,
                    engine->walkCount() - walksBefore, probe.stop());
    }
    std::printf("  resident memory %.1f MiB with %lld files tracked\n", memoryKiB() / 1024.0, tracked);

    clock.restart();
    app.reset();
    std::printf("application     quit (deleted, its state written) %lld ms: the main thread is held that long\n",
                clock.elapsed());

    clock.restart();
    const qint64 entries = SyncState::load(setting.stateFilePath()).trackedFiles.size();
    const qint64 decodeMs = clock.elapsed();
    returnFreedMemoryNow();
    probe.start(QStringLiteral("start-up"));
    clock.restart();
    app = makeApp(setting);
    launch(*app);
    const qint64 againShownMs = clock.elapsed();
    waitForPassEnd(*app->syncEngine());
    const qint64 startMs = clock.elapsed();
    std::printf("application     start-up over %lld entries: panel shown %lld ms, first pass done %lld ms = %.2fx "
                "reading and decoding the state file alone (%lld ms); longest stall %.1f ms; resident memory %.1f MiB\n",
                entries, againShownMs, startMs, double(startMs) / qMax<qint64>(decodeMs, 1), decodeMs, probe.stop(),
                memoryKiB() / 1024.0);
    app.reset();
    probe.printWorst();
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    // A desktop's look without a display where there is none, and the
    // session in the preferences, never in a keyring of the machine.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    setUpHeap(); // as the application does
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/tavrel-bench");
    // The offscreen platform says so at every window it cannot resize.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context, const QString &message) {
        if (!message.startsWith(QLatin1String("This plugin does not support")))
            std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
    });
    QApplication application(argc, argv);
    std::vector<int> counts;
    bool appFirst = false;
    for (const QString &argument : application.arguments().mid(1)) {
        if (argument == QLatin1String("--app-first")) {
            appFirst = true;
        } else if (const int count = argument.toInt(); count > 0) {
            counts.push_back(count);
        } else {
            std::fprintf(stderr, "usage: app_bench [COUNT ...] [--app-first]\n");
            return 2;
        }
    }
    if (counts.empty())
        counts = {10000};
    try {
        for (const int count : counts)
            run(count, appFirst);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "app_bench: %s\n", error.what());
        return 1;
    }
    return 0;
}
