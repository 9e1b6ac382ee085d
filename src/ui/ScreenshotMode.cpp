#include "ui/ScreenshotMode.h"

#include "api/Errors.h"
#include "platform/Logging.h"
#include "state/AppState.h"
#include "sync/SyncEngine.h"
#include "ui/LoginView.h"
#include "ui/MenuBarView.h"
#include "ui/PanelWindow.h"
#include "ui/SettingsView.h"
#include "ui/SyncStatusView.h"
#include "ui/TavrelSyncApp.h"

#include <QApplication>
#include <QCoroTimer>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTabWidget>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <functional>

using namespace std::chrono_literals;

namespace {

const QString demoEmail = QStringLiteral("demo@tavrel.test");
const QString demoPassword = QStringLiteral("demo-password");

QCoro::Task<bool> waitFor(std::function<bool()> condition, std::chrono::milliseconds limit = 15s)
{
    QDeadlineTimer deadline(limit);
    while (!condition()) {
        if (deadline.hasExpired())
            co_return false;
        co_await QCoro::sleepFor(50ms);
    }
    co_return true;
}

// Lets layouts settle and the window system paint before a grab.
QCoro::Task<> settle() { co_await QCoro::sleepFor(400ms); }

bool save(QWidget *window, const QString &dir, const QString &name)
{
    const QString path = QDir(dir).filePath(name);
    const bool saved = window->grab().save(path, "PNG");
    qCInfo(lcApp).noquote() << (saved ? "Saved" : "Could not save") << path;
    return saved;
}

// The part of the screen with the open panel and, beside it, the tray.
void saveScreenAround(QWidget *panel, const QString &dir, const QString &name)
{
    QScreen *screen = panel->screen();
    if (!screen)
        return;
    const QRect area = panel->frameGeometry().adjusted(-60, -40, 60, 20).intersected(screen->geometry());
    const QString path = QDir(dir).filePath(name);
    const bool saved = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height()).save(path, "PNG");
    qCInfo(lcApp).noquote() << (saved ? "Saved" : "Could not save") << path;
}

void writeSample(const QString &folder, const QString &name, const QByteArray &content)
{
    QFile file(QDir(folder).filePath(name));
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
}

// A sample file opened for an upload from "another computer".
std::shared_ptr<QIODevice> openedSample(const QString &path)
{
    auto file = std::make_shared<QFile>(path);
    if (!file->open(QIODevice::ReadOnly))
        throw FileError(QStringLiteral("Cannot read %1: %2").arg(path, file->errorString()));
    return file;
}

// The screen around the tray icon, where a tray message shows.
void saveScreenAroundTray(TavrelSyncApp &shell, const QString &dir, const QString &name)
{
    const QRect tray = shell.trayIcon()->geometry();
    QScreen *screen = tray.isValid() ? QGuiApplication::screenAt(tray.center()) : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = QRect(tray.right() - 480, tray.top() - 10, 500, 240).intersected(screen->geometry());
    const QString path = QDir(dir).filePath(name);
    const bool saved = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height()).save(path, "PNG");
    qCInfo(lcApp).noquote() << (saved ? "Saved" : "Could not save") << path;
}

// The settings window's tab with that title, when it has one.
QCoro::Task<int> capture(TavrelSyncApp &shell, QString dir, QString serverURL)
{
    int failures = 0;
    auto check = [&failures](bool ok) { failures += ok ? 0 : 1; };
    AppState &state = shell.appState();

    shell.showPanel();
    co_await settle();
    check(save(shell.panel(), dir, QStringLiteral("panel-signed-out.png")));

    shell.openLogin();
    LoginView *login = shell.loginWindow();
    login->serverField()->setText(serverURL);
    login->emailField()->setText(demoEmail);
    login->passwordField()->setText(QStringLiteral("not-the-password"));
    login->signInButton()->click();
    check(co_await waitFor([login] { return !login->isLoading(); }));
    co_await settle();
    check(save(login, dir, QStringLiteral("sign-in-error.png")));

    login->passwordField()->setText(demoPassword);
    login->signInButton()->click();
    check(co_await waitFor([&shell] { return shell.appState().isLoggedIn() && !shell.loginWindow(); }));

    shell.showPanel();
    co_await settle();
    check(save(shell.panel(), dir, QStringLiteral("panel-no-folders.png")));
    shell.panel()->close();

    // Two folders with a few files, one of them a first sync of a few
    // hundred; a file whose name is taken elsewhere in its folder stays out.
    QTemporaryDir samples;
    const QString reports = samples.filePath(QStringLiteral("Reports"));
    const QString notes = samples.filePath(QStringLiteral("Design Notes"));
    QDir().mkpath(reports + QStringLiteral("/Archive"));
    QDir().mkpath(notes + QStringLiteral("/Photos"));
    writeSample(reports, QStringLiteral("Quarterly summary 2026-Q4.pdf"), "%PDF-1.4 summary");
    writeSample(reports, QStringLiteral("Budget.xlsx"), "budget");
    writeSample(reports, QStringLiteral("Archive/Budget.xlsx"), "last year's budget");
    writeSample(notes, QStringLiteral("Panel layout.md"), "# Panel layout\n");
    writeSample(notes, QStringLiteral("Icons.svg"), "<svg/>");
    for (int i = 1; i <= 300; ++i)
        writeSample(notes, QStringLiteral("Photos/IMG_%1.jpg").arg(4000 + i), QByteArray(100 * 1000, char('a' + i % 26)));

    // Held back while the folders are chosen, so the whole first sync runs
    // with the panel open.
    state.setPaused(true);
    shell.openSettings();
    for (const QString &folder : {reports, notes}) {
        shell.settingsWindow()->setFolderChooser([folder](QWidget *) { return std::optional<QString>(folder); });
        shell.settingsWindow()->selectFolder();
    }
    shell.settingsWindow()->close();
    shell.showPanel();
    co_await settle();

    // Taken from inside the progress signal, halfway through the transfers:
    // the picture cannot miss a pass that runs faster than a timer.
    bool syncingSaved = false;
    QMetaObject::Connection halfway = QObject::connect(&state, &AppState::syncProgressChanged, &shell, [&] {
        const SyncProgress progress = state.syncProgress();
        if (syncingSaved || progress.filesTotal < 100 || progress.filesDone * 2 < progress.filesTotal)
            return;
        syncingSaved = true;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        save(shell.panel(), dir, QStringLiteral("panel-syncing.png"));
    });
    state.setPaused(false);
    if (SyncEngine *engine = shell.syncEngine())
        co_await engine->syncNow();
    QObject::disconnect(halfway);
    check(syncingSaved);
    check(co_await waitFor([&state] { return state.recentFiles().size() >= 4; }, 30s));

    // A file edited here and, before it synced, elsewhere: the conflict
    // keeps both and says so.
    QString noticeTitle;
    QMetaObject::Connection noticed = QObject::connect(&state, &AppState::notice, &shell,
                                                       [&noticeTitle](const QString &title) { noticeTitle = title; });
    if (SyncEngine *engine = shell.syncEngine()) {
        const qint64 folderId = engine->syncState().folderMappings.value(reports);
        const QString elsewhere = samples.filePath(QStringLiteral("Budget elsewhere.xlsx"));
        writeSample(samples.path(), QStringLiteral("Budget elsewhere.xlsx"), "budget, edited on another computer");
        // Edited here first, then (a moment later, so later by the clock)
        // elsewhere: the server's version wins and the local one is kept
        // beside it. Paused meanwhile, so that no pass sends the local edit
        // before the other one arrives.
        state.setPaused(true);
        try {
            writeSample(reports, QStringLiteral("Budget.xlsx"), "budget, edited here");
            co_await QCoro::sleepFor(1500ms); // the server's clock moves on
            co_await shell.apiClient().uploadDocument(openedSample(elsewhere), QStringLiteral("Budget.xlsx"),
                                                      QStringLiteral("Budget.xlsx"), folderId);
            co_await engine->syncNow();
        } catch (const std::exception &error) {
            qCWarning(lcApp) << "No edit from elsewhere:" << error.what();
        }
        state.setPaused(false);
    }
    const bool gotNotice = co_await waitFor([&noticeTitle] { return !noticeTitle.isEmpty(); }, 5s);
    QObject::disconnect(noticed);
    if (gotNotice && shell.usesTray()) {
        co_await settle();
        saveScreenAroundTray(shell, dir, QStringLiteral("notice-conflict.png"));
    } else {
        qCWarning(lcApp) << "No conflict notice to picture";
    }
    check(gotNotice);

    // A document that arrives from elsewhere, for a download in the list.
    if (SyncEngine *engine = shell.syncEngine()) {
        const qint64 folderId = engine->syncState().folderMappings.value(reports);
        const QString incoming = samples.filePath(QStringLiteral("Minutes 2026-12-01.docx"));
        writeSample(samples.path(), QStringLiteral("Minutes 2026-12-01.docx"), "minutes");
        try {
            co_await shell.apiClient().uploadDocument(openedSample(incoming), QStringLiteral("Minutes 2026-12-01.docx"),
                                                      QStringLiteral("Minutes 2026-12-01.docx"), folderId);
            co_await QCoro::sleepFor(1500ms); // the server's clock moves on
            co_await engine->syncNow();
        } catch (const std::exception &error) {
            qCWarning(lcApp) << "No document from elsewhere:" << error.what();
        }
    }

    shell.openSettings();
    SettingsView *settings = shell.settingsWindow();
    settings->setCurrentIndex(0);
    co_await settle();
    check(save(settings, dir, QStringLiteral("settings-folders.png")));
    settings->setCurrentIndex(1);
    co_await settle();
    check(save(settings, dir, QStringLiteral("settings-account.png")));
    settings->showNotSynced();
    co_await settle();
    check(save(settings, dir, QStringLiteral("settings-not-synced.png")));
    settings->close();

    shell.showPanel();
    co_await QCoro::sleepFor(2s); // ages of a few seconds
    shell.menuBarView()->statusView()->refreshAges();
    co_await settle();
    check(save(shell.panel(), dir, QStringLiteral("panel-signed-in.png")));
    saveScreenAround(shell.panel(), dir, QStringLiteral("tray-and-panel.png"));
    shell.panel()->close();

    // Most of a folder removed at once: the question waits, and says so.
    if (SyncEngine *engine = shell.syncEngine()) {
        QDir(notes + QStringLiteral("/Photos")).removeRecursively();
        QCoro::Task<void> asking = engine->syncNow();
        co_await asking;
        shell.showPanel();
        co_await settle();
        check(!state.removalQuestions().isEmpty());
        check(save(shell.panel(), dir, QStringLiteral("panel-waiting.png")));
        shell.panel()->close();
        engine->answerRemovalQuestion(notes, false);
        check(co_await waitFor([engine, &state] {
            return state.removalQuestions().isEmpty() && !engine->isSyncing()
                && state.syncStatus().kind == SyncStatus::Kind::idle;
        }, 30s));

        // A session the server no longer accepts asks for a sign-in.
        shell.apiClient().setToken(QStringLiteral("a-session-that-ended"));
        QCoro::Task<void> refused = engine->syncNow();
        co_await refused;
        shell.showPanel();
        co_await settle();
        check(state.sessionRejected());
        check(save(shell.panel(), dir, QStringLiteral("panel-sign-in-again.png")));
        shell.panel()->close();
    }
    co_return failures == 0 ? 0 : 1;
}

} // namespace

int runScreenshotMode(const QString &outputDir, const QString &serverURL)
{
    if (!QDir().mkpath(outputDir)) {
        qCCritical(lcApp).noquote() << "Cannot create" << outputDir;
        return 2;
    }
    QApplication::setQuitOnLastWindowClosed(false);
    // The folder chooser that follows the first sign-in is answered by the
    // pictures' own choices, never by a dialog waiting for a person.
    TavrelSyncApp::Options options;
    options.folderChooser = [](QWidget *) { return std::optional<QString>(); };
    TavrelSyncApp shell(options);
    shell.launch();
    int result = 1;
    QTimer::singleShot(0, &shell, [&] {
        QCoro::connect(capture(shell, outputDir, serverURL), &shell, [&result](int code) {
            result = code;
            QCoreApplication::quit();
        });
    });
    QApplication::exec();
    return result;
}
