#include "ui/ScreenshotMode.h"

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

QCoro::Task<int> capture(TavrelSyncApp &shell, QString dir, QString serverURL)
{
    int failures = 0;
    auto check = [&failures](bool ok) { failures += ok ? 0 : 1; };

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

    // Two folders with a few files, chosen through the settings window.
    QTemporaryDir samples;
    const QString reports = samples.filePath(QStringLiteral("Reports"));
    const QString notes = samples.filePath(QStringLiteral("Design Notes"));
    QDir().mkpath(reports);
    QDir().mkpath(notes);
    writeSample(reports, QStringLiteral("Quarterly summary 2026-Q4.pdf"), "%PDF-1.4 summary");
    writeSample(reports, QStringLiteral("Budget.xlsx"), "budget");
    writeSample(notes, QStringLiteral("Panel layout.md"), "# Panel layout\n");
    writeSample(notes, QStringLiteral("Icons.svg"), "<svg/>");
    shell.openSettings();
    for (const QString &folder : {reports, notes}) {
        shell.settingsWindow()->setFolderChooser([folder](QWidget *) { return std::optional<QString>(folder); });
        shell.settingsWindow()->selectFolder();
    }

    if (SyncEngine *engine = shell.syncEngine())
        co_await engine->syncNow();
    check(co_await waitFor([&shell] { return shell.appState().recentFiles().size() >= 4; }, 30s));

    // A document that arrives from elsewhere, for a download in the list.
    if (SyncEngine *engine = shell.syncEngine()) {
        const qint64 folderId = engine->syncState().folderMappings.value(reports);
        const QString incoming = samples.filePath(QStringLiteral("Minutes 2026-12-01.docx"));
        writeSample(samples.path(), QStringLiteral("Minutes 2026-12-01.docx"), "minutes");
        try {
            co_await shell.apiClient().uploadDocument(incoming, QStringLiteral("Minutes 2026-12-01.docx"), folderId);
            co_await QCoro::sleepFor(1500ms); // the server's clock moves on
            co_await engine->syncNow();
        } catch (const std::exception &error) {
            qCWarning(lcApp) << "No document from elsewhere:" << error.what();
        }
    }

    SettingsView *settings = shell.settingsWindow();
    settings->setCurrentIndex(0);
    co_await settle();
    check(save(settings, dir, QStringLiteral("settings-folders.png")));
    settings->setCurrentIndex(1);
    co_await settle();
    check(save(settings, dir, QStringLiteral("settings-account.png")));
    settings->close();

    shell.showPanel();
    co_await QCoro::sleepFor(2s); // ages of a few seconds
    shell.menuBarView()->statusView()->refreshAges();
    co_await settle();
    check(save(shell.panel(), dir, QStringLiteral("panel-signed-in.png")));
    saveScreenAround(shell.panel(), dir, QStringLiteral("tray-and-panel.png"));
    shell.panel()->close();
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
    TavrelSyncApp shell;
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
