#include "UiFixture.h"

#include "state/AppState.h"
#include "ui/MenuBarView.h"
#include "ui/PanelWindow.h"
#include "ui/SettingsView.h"

#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using testsupport::waitUntil;

namespace {

// Requests the client sent with the stored session's token.
int authorizedRequests(const DevServer &server)
{
    int count = 0;
    for (const auto &request : server.requests())
        count += request.headers.count("authorization") > 0 ? 1 : 0;
    return count;
}

} // namespace

// Nothing is read or synced before the panel is shown; each showing restores
// the session and (re)starts the one engine; sign-out releases it and the
// panel switches faces at once.
TEST_F(UiFixture, PanelShowingDrivesSessionAndEngine)
{
    storeSession(server.baseURL);
    const QString folder = makeFolder("Notes");
    {
        TavrelSyncApp first(TavrelSyncApp::Options{home.stateFilePath(), false});
        first.appState().addWatchedFolder(folder); // stores the bookmark
    }

    TavrelSyncApp &app = makeApp();
    EXPECT_FALSE(app.appState().isLoggedIn());
    EXPECT_TRUE(app.appState().watchedFolders().isEmpty());
    EXPECT_EQ(app.syncEngine(), nullptr);
    EXPECT_EQ(app.trayIconName(), "checkmark.circle.fill");
    EXPECT_FALSE(app.menuBarView()->showsSignedInFace());

    app.showPanel();
    EXPECT_TRUE(app.appState().isLoggedIn());
    EXPECT_EQ(app.appState().watchedFolders(), QStringList{folder});
    ASSERT_NE(app.syncEngine(), nullptr);
    SyncEngine *engine = app.syncEngine();
    ASSERT_NE(engine->syncTimer(), nullptr);
    EXPECT_TRUE(engine->syncTimer()->isActive());
    EXPECT_EQ(app.menuBarView()->syncEngine(), engine);
    EXPECT_TRUE(app.menuBarView()->showsSignedInFace());
    EXPECT_EQ(app.menuBarView()->findChild<QLabel *>("organization")->text(), "Tavrel Demo");

    // The start runs a pass at once against the stored server.
    EXPECT_TRUE(waitUntil([&] { return authorizedRequests(server.server) >= 1 && !engine->isSyncing(); }));

    QTest::keyClick(app.panel(), Qt::Key_Escape);
    EXPECT_FALSE(app.panel()->isVisible());
    app.showPanel();
    EXPECT_EQ(app.syncEngine(), engine);

    QSignalSpy released(engine, &QObject::destroyed);
    app.openSettings();
    app.settingsWindow()->logout();
    EXPECT_TRUE(waitUntil([&] { return !app.appState().isLoggedIn(); }));
    EXPECT_FALSE(app.menuBarView()->showsSignedInFace());
    EXPECT_EQ(app.syncEngine(), nullptr);
    EXPECT_EQ(app.menuBarView()->syncEngine(), nullptr);
    EXPECT_TRUE(waitUntil([&] { return released.count() == 1; }));

    // Signed out, showing the panel creates no engine; "Sign In..." opens
    // the one sign-in window.
    app.panel()->close();
    app.showPanel();
    EXPECT_EQ(app.syncEngine(), nullptr);
    EXPECT_FALSE(app.menuBarView()->showsSignedInFace());
    app.menuBarView()->findChild<QPushButton *>("signInButton")->click();
    ASSERT_NE(app.loginWindow(), nullptr);
    EXPECT_TRUE(app.loginWindow()->isVisible());
}

// The panel's signed-in face: the header without an organization when the
// user details are incomplete, and "Sync Now" disabled only while syncing
// and harmless without an engine.
TEST_F(UiFixture, SignedInFaceFollowsState)
{
    storeSession(server.baseURL, false);
    TavrelSyncApp &app = makeApp();
    app.appState().loadSavedState();
    MenuBarView *panel = app.menuBarView();
    ASSERT_TRUE(panel->showsSignedInFace());
    EXPECT_TRUE(panel->findChild<QLabel *>("organization")->isHidden());
    EXPECT_EQ(panel->width(), MenuBarView::panelWidth);

    auto *syncNow = panel->findChild<QPushButton *>("syncNowButton");
    EXPECT_EQ(syncNow->text(), "Sync Now");
    EXPECT_TRUE(syncNow->isEnabled());
    app.appState().setSyncStatus(SyncStatus::syncing());
    EXPECT_FALSE(syncNow->isEnabled());
    app.appState().setSyncStatus(SyncStatus::error("Invalid credentials"));
    EXPECT_TRUE(syncNow->isEnabled());

    server.server.clearRequests();
    panel->syncNow(); // no engine yet
    waitUntil([] { return false; }, 200);
    EXPECT_TRUE(server.server.requests().empty());

    QStringList titles;
    for (auto *button : panel->signedInFace()->findChildren<QPushButton *>())
        titles << button->text();
    EXPECT_EQ(titles, (QStringList{"Sync Now", "Settings...", "Quit TavrelSync"}));
    titles.clear();
    for (auto *button : panel->signedOutFace()->findChildren<QPushButton *>())
        titles << button->text();
    EXPECT_EQ(titles, (QStringList{"Sign In...", "Quit"}));
}

// A pass still running at sign-out ends on its own; then the engine goes
// and the signed-out user sees the idle status, not that pass's failure.
TEST_F(UiFixture, SignOutDuringPass)
{
    storeSession(server.baseURL);
    const QString folder = makeFolder("Busy");
    testsupport::writeFile(folder + "/a.txt", "a");
    server.server.injectFault({.method = "GET", .path = "/api/v1/folders", .delayMs = 700, .count = 1});
    TavrelSyncApp &app = makeApp();
    app.appState().addWatchedFolder(folder);
    app.showPanel();
    ASSERT_NE(app.syncEngine(), nullptr);
    QPointer<SyncEngine> engine = app.syncEngine();
    QSignalSpy passEnded(engine.data(), &SyncEngine::passFinished);
    ASSERT_TRUE(waitUntil([&] { return engine->isSyncing(); }));

    app.openSettings();
    app.settingsWindow()->logout();
    ASSERT_TRUE(waitUntil([&] { return !app.appState().isLoggedIn(); }));
    EXPECT_EQ(app.syncEngine(), nullptr);
    ASSERT_TRUE(waitUntil([&] { return engine.isNull(); }));
    EXPECT_EQ(passEnded.count(), 1);
    EXPECT_EQ(app.appState().syncStatus(), SyncStatus::idle());
    EXPECT_EQ(app.trayIconName(), "checkmark.circle.fill");
}

TEST_F(UiFixture, TrayIconFollowsSyncStatus)
{
    TavrelSyncApp &app = makeApp();
    const qint64 idleKey = app.trayIcon()->icon().cacheKey();
    app.appState().setSyncStatus(SyncStatus::syncing());
    EXPECT_EQ(app.trayIconName(), "arrow.triangle.2.circlepath");
    EXPECT_NE(app.trayIcon()->icon().cacheKey(), idleKey);
    app.appState().setSyncStatus(SyncStatus::error("Invalid server response"));
    EXPECT_EQ(app.trayIconName(), "exclamationmark.triangle.fill");
    EXPECT_TRUE(app.trayIcon()->toolTip().contains("Error: Invalid server response"));
    app.appState().setSyncStatus(SyncStatus::error(""));
    EXPECT_EQ(app.trayIconName(), "exclamationmark.triangle.fill");
    app.appState().setSyncStatus(SyncStatus::idle());
    EXPECT_EQ(app.trayIconName(), "checkmark.circle.fill");

    // The bundled drawing is really there: the icon has painted pixels.
    const QImage image = app.trayIcon()->icon().pixmap(22, 22).toImage();
    ASSERT_FALSE(image.isNull());
    EXPECT_GT(qAlpha(image.pixel(11, 11)), 0);
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
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
