#include "OpenedUrls.h"
#include "UiFixture.h"

#include "state/AppState.h"
#include "ui/MenuBarView.h"
#include "ui/Notifier.h"
#include "ui/PanelWindow.h"
#include "ui/SettingsView.h"

#include <QImage>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using testsupport::waitUntil;

namespace {

QStringList menuTexts(QMenu *menu)
{
    QStringList texts;
    for (QAction *action : menu->actions())
        if (!action->isSeparator() && action->isVisible())
            texts << action->text();
    return texts;
}

QAction *menuAction(QMenu *menu, const QString &text)
{
    for (QAction *action : menu->actions())
        if (action->text() == text && action->isVisible())
            return action;
    return nullptr;
}

std::vector<std::string> serverNames(const DevServer &server, const std::string &folderName)
{
    std::vector<std::string> names;
    for (const auto &folder : server.folders(testsupport::RunningServer::email))
        if (folder.name == folderName)
            for (const auto &document : server.documents(folder.id))
                names.push_back(document.name);
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

// A restart with a saved session syncs by itself: nobody opens the panel,
// and the folder's files reach the server.
TEST_F(UiFixture, SavedSessionSyncsFromLaunchWithoutAClick)
{
    storeSession(server.baseURL);
    const QString folder = makeFolder("Notes");
    testsupport::writeFile(folder + "/a.txt", "alpha");
    testsupport::writeFile(folder + "/b.txt", "beta");
    {
        TavrelSyncApp first(TavrelSyncApp::Options{home.stateFilePath(), false});
        first.appState().addWatchedFolder(folder); // stores the bookmark
    }

    TavrelSyncApp &app = makeApp({.useTray = true});
    EXPECT_EQ(app.syncEngine(), nullptr);
    app.launch();
    EXPECT_TRUE(app.appState().isLoggedIn());
    ASSERT_NE(app.syncEngine(), nullptr);
    EXPECT_EQ(app.menuBarView()->syncEngine(), app.syncEngine());
    EXPECT_TRUE(waitUntil([&] { return serverNames(server.server, "Notes").size() == 2; }, "both files on the server"));
    EXPECT_EQ(serverNames(server.server, "Notes"), (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_FALSE(app.panel()->isVisible());

    // Showing the panel starts nothing new.
    SyncEngine *engine = app.syncEngine();
    app.showPanel();
    EXPECT_EQ(app.syncEngine(), engine);

    // Sign-out releases the engine, and the panel switches faces at once.
    QSignalSpy released(engine, &QObject::destroyed);
    app.openSettings();
    app.settingsWindow()->logout();
    EXPECT_TRUE(waitUntil([&] { return !app.appState().isLoggedIn(); }, "the sign-out"));
    EXPECT_FALSE(app.menuBarView()->showsSignedInFace());
    EXPECT_EQ(app.syncEngine(), nullptr);
    EXPECT_EQ(app.menuBarView()->syncEngine(), nullptr);
    EXPECT_TRUE(waitUntil([&] { return released.count() == 1; }, "the engine to go"));
}

// Signed out at launch: no engine, the panel opens as a window where there
// is no tray, and "Sign In..." opens the one sign-in window.
TEST_F(UiFixture, SignedOutLaunch)
{
    TavrelSyncApp &app = makeApp();
    app.launch();
    EXPECT_EQ(app.syncEngine(), nullptr);
    EXPECT_TRUE(app.panel()->isVisible());
    EXPECT_FALSE(app.menuBarView()->showsSignedInFace());
    app.menuBarView()->findChild<QPushButton *>("signInButton")->click();
    ASSERT_NE(app.loginWindow(), nullptr);
    LoginView *login = app.loginWindow();
    app.openLogin();
    EXPECT_EQ(app.loginWindow(), login);
}

// A pass still running at sign-out ends on its own; then the engine goes
// and the signed-out user sees the idle status, not that pass's failure.
TEST_F(UiFixture, SignOutDuringPass)
{
    storeSession(server.baseURL);
    const QString folder = makeFolder("Busy");
    testsupport::writeFile(folder + "/a.txt", "a");
    server.server.injectFault(testsupport::fault({.method = "GET", .path = "/api/v1/folders", .delayMs = 700, .count = 1}));
    TavrelSyncApp &app = makeApp();
    app.appState().addWatchedFolder(folder);
    app.launch();
    ASSERT_NE(app.syncEngine(), nullptr);
    QPointer<SyncEngine> engine = app.syncEngine();
    QSignalSpy passEnded(engine.data(), &SyncEngine::passFinished);
    ASSERT_TRUE(waitUntil([&] { return engine->isSyncing(); }, "the pass to start"));

    app.openSettings();
    app.settingsWindow()->logout();
    ASSERT_TRUE(waitUntil([&] { return !app.appState().isLoggedIn(); }, "the sign-out"));
    EXPECT_EQ(app.syncEngine(), nullptr);
    ASSERT_TRUE(waitUntil([&] { return engine.isNull(); }, "the engine to go"));
    EXPECT_EQ(passEnded.count(), 1);
    EXPECT_EQ(app.appState().syncStatus(), SyncStatus::idle());
    EXPECT_EQ(app.trayIconName(), "person.circle");
}

// The icon and its tooltip tell the same status as the panel, face by face.
TEST_F(UiFixture, TrayIconAndTooltipTellTheStatus)
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    TavrelSyncApp &app = makeApp();
    AppState &state = app.appState();
    QSystemTrayIcon *tray = app.trayIcon();
    EXPECT_EQ(app.trayIconName(), "person.circle");
    EXPECT_EQ(tray->toolTip(), "TavrelSync – Signed out\nSign in to start syncing");

    state.setIsLoggedIn(true);
    EXPECT_EQ(app.trayIconName(), "folder");
    EXPECT_EQ(tray->toolTip(), "TavrelSync – Add a folder to start syncing");

    state.addWatchedFolder(makeFolder("Reports"));
    state.setSyncStatus(SyncStatus::syncing());
    const qint64 syncingKey = tray->icon().cacheKey();
    EXPECT_EQ(app.trayIconName(), "arrow.triangle.2.circlepath");
    state.setSyncProgress({1234, 3001, 45'000'000, 300'000'000});
    EXPECT_TRUE(waitUntil([&] { return tray->toolTip().contains("Syncing 1,234 of 3,001 files · 45 of 300 MB"); },
                          "the progress in the tooltip"));
    EXPECT_EQ(tray->icon().cacheKey(), syncingKey); // progress does not redraw the icon

    const QDateTime next = QDateTime::currentDateTime().addSecs(30);
    state.setNextSyncTime(next);
    state.setSyncStatus(SyncStatus::error("The server did not answer"));
    EXPECT_EQ(app.trayIconName(), "exclamationmark.triangle.fill");
    EXPECT_TRUE(tray->toolTip().startsWith("TavrelSync – Error: The server did not answer\nNext try "));

    state.setPaused(true);
    EXPECT_EQ(app.trayIconName(), "pause.circle.fill");
    state.setPaused(false);

    state.setLastSyncTime(QDateTime::currentDateTimeUtc());
    state.setSyncStatus(SyncStatus::idle());
    EXPECT_EQ(app.trayIconName(), "checkmark.circle.fill");
    EXPECT_TRUE(tray->toolTip().startsWith("TavrelSync – Up to date\nLast synced at "));

    // The bundled drawing is really there: the icon has painted pixels.
    const QImage image = tray->icon().pixmap(22, 22).toImage();
    ASSERT_FALSE(image.isNull());
    EXPECT_GT(qAlpha(image.pixel(11, 11)), 0);
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
    QLocale::setDefault(QLocale::c());
}

// The tray menu: its entries for each state, and what they do.
TEST_F(UiFixture, TrayMenuEntriesAndStates)
{
    TavrelSyncApp &app = makeApp();
    AppState &state = app.appState();
    QMenu *menu = app.trayMenu();
    EXPECT_EQ(menuTexts(menu), (QStringList{"Open TavrelSync", "Sign In...", "Quit TavrelSync"}));

    state.setIsLoggedIn(true);
    EXPECT_EQ(menuTexts(menu), (QStringList{"Open TavrelSync", "Sync Now", "Pause Syncing", "Settings...",
                                            "Quit TavrelSync"}));
    EXPECT_FALSE(menuAction(menu, "Sync Now")->isEnabled()); // nothing to sync yet

    const QString reports = makeFolder("Reports");
    const QString drawings = makeFolder("R&D");
    state.addWatchedFolder(reports);
    state.addWatchedFolder(drawings);
    EXPECT_EQ(menuTexts(menu), (QStringList{"Open TavrelSync", "Open Reports", "Open R&&D", "Sync Now",
                                            "Pause Syncing", "Settings...", "Quit TavrelSync"}));
    EXPECT_TRUE(menuAction(menu, "Sync Now")->isEnabled());
    state.setSyncStatus(SyncStatus::syncing());
    EXPECT_FALSE(menuAction(menu, "Sync Now")->isEnabled());
    state.setSyncStatus(SyncStatus::idle());

    OpenedUrls opened;
    menuAction(menu, "Open R&&D")->trigger();
    EXPECT_EQ(opened.paths(), QStringList{drawings});

    // Pausing is kept across a restart.
    menuAction(menu, "Pause Syncing")->trigger();
    EXPECT_TRUE(state.isPaused());
    ASSERT_NE(menuAction(menu, "Resume Syncing"), nullptr);
    Preferences storedPreferences;
    EXPECT_TRUE(AppState(storedPreferences).isPaused());
    menuAction(menu, "Resume Syncing")->trigger();
    EXPECT_FALSE(state.isPaused());

    menuAction(menu, "Settings...")->trigger();
    ASSERT_NE(app.settingsWindow(), nullptr);
    EXPECT_TRUE(app.settingsWindow()->isVisible());
}

// Where the tray host starts after the application, the panel opens as a
// window at first and the icon moves into the tray when it shows up.
TEST_F(UiFixture, TrayHostStartingLater)
{
    bool trayThere = false;
    TavrelSyncApp &app = makeApp({.trayPollMs = 20, .trayAvailable = [&trayThere] { return trayThere; }});
    app.launch();
    EXPECT_FALSE(app.usesTray());
    EXPECT_TRUE(app.panel()->isVisible());
    EXPECT_EQ(app.panel()->mode(), PanelWindow::Mode::window);

    trayThere = true;
    EXPECT_TRUE(waitUntil([&] { return app.usesTray(); }, "the icon to move into the tray"));
    EXPECT_TRUE(app.trayIcon()->isVisible());
    EXPECT_EQ(app.panel()->mode(), PanelWindow::Mode::popup);
    EXPECT_FALSE(app.panel()->isVisible());
    EXPECT_TRUE(app.panel()->windowFlags().testFlag(Qt::Popup));
}

// Notifications: every notice; a sync error once until a pass goes well.
TEST_F(UiFixture, NotificationsForNoticesAndDistinctErrors)
{
    TavrelSyncApp &app = makeApp();
    AppState &state = app.appState();
    state.setIsLoggedIn(true);
    QSignalSpy posted(app.notifier(), &Notifier::posted);

    state.postNotice("Conflict", "Kept both versions of Budget.xlsx");
    ASSERT_EQ(posted.count(), 1);
    EXPECT_EQ(posted[0], (QVariantList{"Conflict", "Kept both versions of Budget.xlsx"}));

    for (int pass = 0; pass < 3; ++pass) {
        state.setSyncStatus(SyncStatus::syncing());
        state.setSyncProgress({pass, 3, 0, 0});
        state.setSyncStatus(SyncStatus::error("The server did not answer"));
    }
    ASSERT_EQ(posted.count(), 2);
    EXPECT_EQ(posted[1], (QVariantList{"Sync failed", "The server did not answer"}));

    state.setSyncStatus(SyncStatus::error("Invalid credentials"));
    EXPECT_EQ(posted.count(), 3);
    state.setSyncStatus(SyncStatus::idle());
    state.recordTransfer("a.txt", "uploaded");
    state.setSyncStatus(SyncStatus::error("Invalid credentials"));
    EXPECT_EQ(posted.count(), 4);
}

// The popup sits beside the tray icon and never leaves the screen.
TEST(PanelPlacement, BesideTrayAndInsideScreen)
{
    const QRect screen(0, 0, 1920, 1080);
    const QSize size(280, 300);
    // A tray at the top right: under the icon, pushed left to fit.
    EXPECT_EQ(PanelWindow::placement(size, QRect(1890, 0, 24, 24), screen), QPoint(1640, 28));
    // A tray at the bottom: above the icon.
    EXPECT_EQ(PanelWindow::placement(size, QRect(800, 1056, 24, 24), screen), QPoint(671, 752));
    // Near the left edge: clamped to it.
    EXPECT_EQ(PanelWindow::placement(size, QRect(4, 0, 24, 24), screen).x(), 0);
    // A second screen to the right keeps its own origin.
    EXPECT_EQ(PanelWindow::placement(size, QRect(1930, 0, 24, 24), QRect(1920, 0, 1280, 1024)), QPoint(1920, 28));
}
