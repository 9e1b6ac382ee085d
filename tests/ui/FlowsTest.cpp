// The flows a person meets in a running program: nothing here waits for the
// timer, which is set far beyond the tests' patience unless a test says so.
#include "UiFixture.h"

#include "state/FileWatcher.h"
#include "ui/OpenLocation.h"
#include "ui/StatusSummary.h"

#include <QMenu>

using testsupport::fault;
using testsupport::RunningServer;
using testsupport::waitUntil;

class FlowsTest : public UiFixture {};

// A folder added while the program runs is synced and watched at once;
// chosen again, it syncs at once; removed, it is no longer watched.
TEST_F(FlowsTest, AddedFolderIsWatchedAtOnceAndRemovedOneIsNot)
{
    TavrelSyncApp &app = launchSignedIn();
    SyncEngine *engine = app.syncEngine();
    const QString folder = makeFolder("Added");
    testsupport::writeFile(folder + "/first.txt", "first");
    ASSERT_TRUE(app.appState().addWatchedFolder(folder));
    EXPECT_TRUE(engine->fileWatcher()->watchedFolders().contains(folder));
    ASSERT_TRUE(waitUntil([&] { return onServer("Added", "first.txt"); }, "the first pass at once"));

    // An edit is seen by the watcher, not the timer.
    ASSERT_TRUE(passEnds(1, "the first pass to end"));
    testsupport::writeFile(folder + "/second.txt", "second");
    ASSERT_TRUE(waitUntil([&] { return onServer("Added", "second.txt"); }, "the watched edit synced"));

    // Chosen again: a pass at once.
    ASSERT_TRUE(passEnds(2, "the pass to end"));
    const int before = int(passes->count());
    ASSERT_TRUE(app.appState().replaceWatchedFolder(0, folder));
    EXPECT_TRUE(engine->fileWatcher()->watchedFolders().contains(folder));
    ASSERT_TRUE(passEnds(before + 1, "a pass after choosing it again"));

    // Removed: no longer watched, and what was said of it goes too.
    app.appState().setNotSyncedFiles(folder, {{folder + "/x.txt", folder, "Upload failed: Broken"}});
    app.appState().removeWatchedFolder(0);
    EXPECT_TRUE(app.appState().notSyncedFiles().isEmpty());
    EXPECT_EQ(engine->fileWatcher()->streamCount(), 0);
    EXPECT_FALSE(engine->fileWatcher()->hasPendingCallback());
}

// A session the server no longer accepts stops the retries and asks for a
// sign-in, once; after it, the folders sync again. Signing out and in again
// in one run brings the folders back.
TEST_F(FlowsTest, RejectedSessionAsksToSignInAgain)
{
    const QString folder = storedFolder("Kept");
    testsupport::writeFile(folder + "/a.txt", "a");
    TavrelSyncApp &app = launchSignedIn();
    SyncEngine *engine = app.syncEngine();
    ASSERT_TRUE(onServer("Kept", "a.txt"));

    QSignalSpy posted(app.notifier(), &Notifier::posted);
    server.server.injectFault(fault({.path = "/api/v1/*", .status = 401, .body = R"({"error":"Authentication required"})"}));
    app.syncNow();
    ASSERT_TRUE(passEnds(2, "the refused pass"));
    AppState &state = app.appState();
    EXPECT_TRUE(state.sessionRejected());
    EXPECT_EQ(summarizeStatus(state).face, StatusSummary::Face::signInAgain);
    EXPECT_FALSE(state.nextSyncTime().has_value()); // no "Next try in ..."
    EXPECT_EQ(engine->syncTimer(), nullptr);
    EXPECT_EQ(engine->fileWatcher(), nullptr);
    ASSERT_EQ(posted.count(), 1);
    EXPECT_EQ(posted[0][0].toString(), "Sign in again");
    ASSERT_EQ(app.notifier()->lastButtons().size(), 1);
    EXPECT_EQ(app.notifier()->lastButtons()[0].label, "Sign In...");

    // Nothing more is tried while it waits: edits wait too.
    const std::size_t requests = server.server.requests().size();
    testsupport::writeFile(folder + "/b.txt", "b");
    testsupport::settle(2500);
    EXPECT_EQ(server.server.requests().size(), requests);

    // The panel and the tray offer "Sign In..."; the notification's button
    // opens the sign-in window with the server and e-mail filled in.
    auto *panelSignIn = app.menuBarView()->statusView()->findChild<QPushButton *>("signInAgainButton");
    ASSERT_NE(panelSignIn, nullptr);
    EXPECT_FALSE(panelSignIn->isHidden());
    bool trayOffers = false;
    for (QAction *action : app.trayMenu()->actions())
        trayOffers = trayOffers || (action->text() == "Sign In..." && action->isVisible());
    EXPECT_TRUE(trayOffers);
    app.notifier()->invoke(app.notifier()->lastButtons()[0]);
    ASSERT_NE(app.loginWindow(), nullptr);
    QPointer<LoginView> window(app.loginWindow());
    EXPECT_EQ(window->emailField()->text(), RunningServer::email);

    server.server.clearFaults();
    window->passwordField()->setText(RunningServer::password);
    window->signInButton()->click();
    ASSERT_TRUE(waitUntil([&] { return window.isNull(); }, "the sign-in"));
    EXPECT_FALSE(state.sessionRejected());
    EXPECT_EQ(app.syncEngine(), engine);
    ASSERT_TRUE(waitUntil([&] { return onServer("Kept", "b.txt"); }, "the edit made meanwhile synced"));
    ASSERT_TRUE(waitUntil([&] { return !engine->isSyncing(); }, "the pass to end"));
    EXPECT_EQ(state.syncStatus(), SyncStatus::idle());
    EXPECT_NE(engine->fileWatcher(), nullptr);

    // Signed out and in again: the folder is back at once.
    app.openSettings();
    app.settingsWindow()->logout();
    ASSERT_TRUE(waitUntil([&] { return !state.isLoggedIn(); }, "the sign-out"));
    EXPECT_TRUE(state.watchedFolders().isEmpty());
    app.openLogin();
    window = app.loginWindow();
    window->passwordField()->setText(RunningServer::password);
    window->signInButton()->click();
    ASSERT_TRUE(waitUntil([&] { return window.isNull(); }, "the second sign-in"));
    EXPECT_EQ(state.watchedFolders(), QStringList{folder});
    ASSERT_NE(app.syncEngine(), nullptr);
    EXPECT_TRUE(app.syncEngine()->fileWatcher()->watchedFolders().contains(folder));
}

// Paused, edits wait. "Resume Syncing" runs a pass at once, and an error's
// "Next try in ..." does not stand while the pass the user asked for runs.
TEST_F(FlowsTest, ResumeRunsAPassAtOnce)
{
    const QString folder = storedFolder("Paused");
    TavrelSyncApp &app = launchSignedIn();
    SyncEngine *engine = app.syncEngine();
    AppState &state = app.appState();
    state.setPaused(true);
    testsupport::writeFile(folder + "/waiting.txt", "edited while paused");
    testsupport::settle(2500); // the watcher's quiet period passes: nothing runs
    EXPECT_FALSE(onServer("Paused", "waiting.txt"));

    // A failing server: the pass ends in an error with its next try.
    server.server.injectFault(fault({.method = "GET", .path = "/api/v1/sync/status", .status = 500, .count = 1}));
    state.setPaused(false);
    ASSERT_TRUE(passEnds(2, "the pass at resume"));
    ASSERT_EQ(state.syncStatus().kind, SyncStatus::Kind::error);
    EXPECT_TRUE(state.nextSyncTime().has_value());

    // Asked again (pause and resume): the pass starts at once and the old
    // "Next try" goes with it.
    state.setPaused(true);
    state.setPaused(false);
    ASSERT_TRUE(waitUntil([&] { return engine->isSyncing() || passes->count() >= 3; }, "the pass at the second resume"));
    if (engine->isSyncing())
        EXPECT_FALSE(state.nextSyncTime().has_value());
    ASSERT_TRUE(passEnds(3, "that pass to end"));
    EXPECT_EQ(state.syncStatus(), SyncStatus::idle());
    EXPECT_TRUE(onServer("Paused", "waiting.txt"));
}

// Without a network nothing is tried: the panel and the tray say "Offline",
// and neither the timer's ticks nor an edit reach the server. When the
// network is back a pass runs at once and carries the edit. A server that
// cannot be reached is said in plain words, once.
TEST_F(FlowsTest, OfflineWaitsForTheNetwork)
{
    const QString folder = storedFolder("Travel");
    TavrelSyncApp &app = launchSignedIn(0.2); // ticks while offline
    SyncEngine *engine = app.syncEngine();
    AppState &state = app.appState();
    network.setOnline(false);
    ASSERT_TRUE(waitUntil([&] { return !engine->isSyncing(); }, "the pass under way to end"));
    EXPECT_TRUE(state.isOffline());
    EXPECT_EQ(app.menuBarView()->statusView()->findChild<QLabel *>("statusText")->text(), "Offline");
    EXPECT_TRUE(app.trayIcon()->toolTip().contains("Offline")) << app.trayIcon()->toolTip().toStdString();
    EXPECT_EQ(app.trayIconName(), "wifi.slash");
    EXPECT_FALSE(state.nextSyncTime().has_value()); // no "Next try in ..."

    const qsizetype passesOffline = passes->count();
    const std::size_t requests = server.server.requests().size();
    QSignalSpy ticks(engine->syncTimer(), &QTimer::timeout);
    testsupport::writeFile(folder + "/offline.txt", "written on the train");
    testsupport::settle(2500); // the watcher's quiet period and many ticks pass
    EXPECT_GT(ticks.count(), 0);
    EXPECT_EQ(passes->count(), passesOffline);
    EXPECT_EQ(server.server.requests().size(), requests);

    // Back: the pass runs at once, not at the next tick (the timer now waits
    // an hour) nor at another edit.
    app.preferences().setDouble("syncInterval", 3600);
    network.setOnline(true);
    ASSERT_TRUE(waitUntil([&] { return onServer("Travel", "offline.txt"); },
                          "the edit synced when the network is back"));
    ASSERT_TRUE(passEnds(int(passesOffline) + 1, "that pass to end"));
    EXPECT_EQ(summarizeStatus(state).face, StatusSummary::Face::upToDate);

    // The server gone: its address and what to do, not the socket's words;
    // one notification says it.
    QSignalSpy posted(app.notifier(), &Notifier::posted);
    const QString expected = QString("Could not reach 127.0.0.1:%1. Is the server running?").arg(server.server.port());
    server.server.stop();
    const qsizetype before = passes->count();
    app.syncNow();
    ASSERT_TRUE(passEnds(int(before) + 1, "the pass that cannot reach the server"));
    EXPECT_EQ(state.syncStatus(), SyncStatus::error(expected));
    EXPECT_EQ(summarizeStatus(state).title, "Error: " + expected);
    ASSERT_EQ(posted.count(), 1);
    EXPECT_EQ(posted[0][1].toString(), expected);

    // Offline again, that failure is no longer what the status says.
    network.setOnline(false);
    EXPECT_EQ(summarizeStatus(state).title, "Offline");
}

// What cannot be opened is said, with its path, not dropped in silence.
TEST_F(FlowsTest, WhatCannotBeOpenedIsSaid)
{
    TavrelSyncApp &app = makeApp();
    QSignalSpy posted(app.notifier(), &Notifier::posted);
    const QString gone = folders.filePath("gone/away.txt");
    EXPECT_FALSE(openLocation(gone));
    ASSERT_EQ(posted.count(), 1);
    EXPECT_EQ(posted[0], (QVariantList{"Could not open", QString("Could not open %1: it no longer exists.").arg(gone)}));
}
