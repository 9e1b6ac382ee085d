#include "OpenedUrls.h"
#include "UiFixture.h"

#include "ui/PanelWindow.h"
#include "ui/ElidedLabel.h"

#include <QImage>
#include <QLocale>
#include <QMenu>
#include <QProgressBar>

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

} // namespace

// A restart with a saved session syncs by itself: nobody opens the panel,
// and the folder's files reach the server. A pass still running at sign-out
// ends on its own; the engine goes, the server is told, and the signed-out
// user sees the idle status, not that pass's failure.
TEST_F(UiFixture, SavedSessionSyncsFromLaunchUntilTheSignOut)
{
    const QString folder = storedFolder("Notes");
    testsupport::writeFile(folder + "/a.txt", "alpha");
    testsupport::writeFile(folder + "/b.txt", "beta");
    storeSession(server.baseURL);
    TavrelSyncApp &app = makeApp({.useTray = true});
    EXPECT_EQ(app.syncEngine(), nullptr);
    app.launch();
    EXPECT_TRUE(app.appState().isLoggedIn());
    ASSERT_NE(app.syncEngine(), nullptr);
    EXPECT_EQ(app.menuBarView()->syncEngine(), app.syncEngine());
    EXPECT_TRUE(waitUntil([&] { return serverNames("Notes").size() == 2; }, "both files on the server"));
    EXPECT_EQ(serverNames("Notes"), (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_FALSE(app.panel()->isVisible());
    // Showing the panel starts nothing new.
    QPointer<SyncEngine> engine = app.syncEngine();
    app.showPanel();
    EXPECT_EQ(app.syncEngine(), engine);

    ASSERT_TRUE(waitUntil([&] { return !engine->isSyncing(); }, "the first pass to end"));
    server.server.injectFault(testsupport::fault({.method = "GET", .path = "/api/v1/sync/status", .delayMs = 700, .count = 1}));
    QSignalSpy passEnded(engine.data(), &SyncEngine::passFinished);
    app.syncNow();
    ASSERT_TRUE(waitUntil([&] { return engine->isSyncing(); }, "the pass to start"));
    server.server.clearRequests();
    app.openSettings();
    app.settingsWindow()->logout();
    ASSERT_TRUE(waitUntil([&] { return !app.appState().isLoggedIn(); }, "the sign-out"));
    EXPECT_FALSE(app.menuBarView()->showsSignedInFace());
    EXPECT_EQ(app.syncEngine(), nullptr);
    EXPECT_EQ(app.menuBarView()->syncEngine(), nullptr);
    ASSERT_TRUE(waitUntil([&] { return engine.isNull(); }, "the engine to go"));
    EXPECT_EQ(passEnded.count(), 1);
    EXPECT_EQ(app.appState().syncStatus(), SyncStatus::idle());
    EXPECT_EQ(app.trayIconName(), "person.circle");
    EXPECT_FALSE(app.apiClient().token().has_value());
    const auto requests = server.server.requests();
    const auto logout = std::find_if(requests.begin(), requests.end(),
                                     [](const auto &request) { return request.path == "/api/v1/auth/logout"; });
    ASSERT_NE(logout, requests.end()) << "the server is told";
    EXPECT_EQ(logout->method, "DELETE");
    EXPECT_EQ(logout->headers.find("authorization")->second.rfind("Bearer ", 0), 0u);
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

// The icon, its tooltip and the panel tell the same status, face by face,
// and the panel offers what each face asks for.
TEST_F(UiFixture, IconTooltipAndPanelTellTheSameStatus)
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    TavrelSyncApp &app = makeApp();
    AppState &state = app.appState();
    SyncStatusView *panel = app.menuBarView()->statusView();
    const auto shown = [&](const char *name) { return panel->findChild<QWidget *>(name)->isVisibleTo(panel); };
    const auto detail = [&] {
        auto *label = panel->findChild<ElidedLabel *>("statusDetail");
        return label->isVisibleTo(panel) ? label->text() : QString();
    };
    // The panel's title, the icon, and the tooltip's first line.
    const auto face = [&](const QString &title, const char *icon) {
        EXPECT_EQ(panel->findChild<QLabel *>("statusText")->text(), title);
        EXPECT_EQ(app.trayIconName(), icon) << title.toStdString();
        EXPECT_TRUE(waitUntil([&] { return app.trayIcon()->toolTip().section('\n', 0, 0) == "TavrelSync – " + title; },
                              "the tooltip to say " + title.toStdString()));
    };
    face("Signed out", "person.circle");
    EXPECT_EQ(app.trayIcon()->toolTip(), "TavrelSync – Signed out\nSign in to start syncing");

    state.setIsLoggedIn(true);
    face("Add a folder to start syncing", "folder");
    ASSERT_TRUE(shown("addFolderButton"));
    QSignalSpy adding(panel, &SyncStatusView::addFolderRequested);
    panel->findChild<QPushButton *>("addFolderButton")->click();
    EXPECT_EQ(adding.count(), 1);

    const QString docs = makeFolder("Reports");
    state.addWatchedFolder(docs);
    EXPECT_FALSE(shown("addFolderButton"));
    state.setSyncStatus(SyncStatus::syncing());
    face("Syncing...", "arrow.triangle.2.circlepath");
    EXPECT_FALSE(shown("syncProgress"));
    const qint64 syncingIcon = app.trayIcon()->icon().cacheKey();
    state.setSyncProgress({1234, 3001, 45'000'000, 300'000'000});
    face("Syncing 1,234 of 3,001 files · 45 of 300 MB", "arrow.triangle.2.circlepath");
    ASSERT_TRUE(shown("syncProgress"));
    EXPECT_EQ(panel->findChild<QProgressBar *>("syncProgress")->value(), 150);
    EXPECT_EQ(app.trayIcon()->icon().cacheKey(), syncingIcon) << "progress does not redraw the icon";

    // Paused shows, but a pass the user started while paused shows first.
    state.setPaused(true);
    face("Syncing 1,234 of 3,001 files · 45 of 300 MB", "arrow.triangle.2.circlepath");
    state.setSyncStatus(SyncStatus::error("The server did not answer"));
    face("Paused", "pause.circle.fill");
    EXPECT_FALSE(shown("syncProgress"));
    state.setPaused(false);
    // Offline, the failure of the last try is no news.
    state.setOffline(true);
    face("Offline", "wifi.slash");
    EXPECT_EQ(detail(), "Syncing resumes when the network is back");
    state.setOffline(false);

    const QDateTime now = QDateTime::currentDateTimeUtc();
    state.setNextSyncTime(now.addSecs(125));
    face("Error: The server did not answer", "exclamationmark.triangle.fill");
    EXPECT_EQ(detail(), "Next try in 2 minutes");
    EXPECT_TRUE(app.trayIcon()->toolTip().contains("\nNext try ")) << "a clock time, not an age";
    state.setNextSyncTime(now.addSecs(-5)); // overdue: never "ago"
    EXPECT_EQ(detail(), "Next try now");

    state.setLastSyncTime(now.addSecs(-150));
    state.setSyncStatus(SyncStatus::idle());
    face("Up to date", "checkmark.circle.fill");
    EXPECT_EQ(detail(), "Last synced 2 minutes ago");
    EXPECT_TRUE(app.trayIcon()->toolTip().contains("\nLast synced at ")) << app.trayIcon()->toolTip().toStdString();
    // Files left out are not up to date; a question waiting comes before:
    // nothing is up to date until it is answered.
    state.setNotSyncedFiles(docs, {{docs + "/a.txt", docs, "Download failed: Broken"}});
    face("Up to date · 1 file not synced", "exclamationmark.circle");
    state.setRemovalQuestions({{docs, 20}});
    face("Waiting for your answer", "questionmark.circle");
    EXPECT_EQ(detail(), "20 removals held back");
    state.setRemovalQuestions({});
    state.setNotSyncedFiles(docs, {});

    // A session the server refused asks for a sign-in, before anything else.
    state.setSessionRejected(true);
    face("Sign in again to keep syncing", "person.circle");
    ASSERT_TRUE(shown("signInAgainButton"));
    QSignalSpy signIn(panel, &SyncStatusView::signInRequested);
    panel->findChild<QPushButton *>("signInAgainButton")->click();
    EXPECT_EQ(signIn.count(), 1);
    state.setSessionRejected(false);
    EXPECT_FALSE(shown("signInAgainButton"));

    // The bundled drawing is really there: the icon has painted pixels.
    const QImage image = app.trayIcon()->icon().pixmap(22, 22).toImage();
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
