#pragma once

// The shell and the widgets the UI tests drive.
#include "api/APIClient.h"
#include "platform/NetworkReachability.h"
#include "platform/Preferences.h"
#include "state/AppState.h"
#include "support/TestSupport.h"
#include "sync/SyncEngine.h"
#include "ui/LoginView.h"
#include "ui/MenuBarView.h"
#include "ui/Notifier.h"
#include "ui/SessionFlows.h"
#include "ui/SettingsView.h"
#include "ui/SyncStatusView.h"
#include "ui/TavrelSyncApp.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <memory>

// A private home, a development server with the demo user, and an
// application shell built on them (without a tray: the offscreen platform
// has none).
class UiFixture : public ::testing::Test {
protected:
    void TearDown() override { destroyApp(); }

    // Without a tray unless told otherwise; notifications never reach the
    // desktop of the person running the tests.
    TavrelSyncApp &makeApp(TavrelSyncApp::Options options = {})
    {
        destroyApp();
        QDir().mkpath(QFileInfo(home.stateFilePath()).absolutePath());
        options.stateFilePath = home.stateFilePath();
        if (!options.trayAvailable && !options.useTray)
            options.useTray = false;
        options.desktopNotifications = false;
        // The network is the test's to take away, never the machine's.
        if (!options.network)
            options.network = &network;
        // No modal dialog in a test: the folder chooser answers what the
        // test chose (by default, as if cancelled), and counts its runs.
        // Questions are answered with confirmAnswer and recorded.
        if (!options.confirmation)
            options.confirmation = [this](QWidget *, const QString &question, const QString &, const QString &) {
                questions << question;
                return confirmAnswer;
            };
        if (!options.folderChooser)
            options.folderChooser = [this](QWidget *) -> std::optional<QString> {
                ++folderChooserRuns;
                return chosenFolder;
            };
        m_app = std::make_unique<TavrelSyncApp>(options);
        return *m_app;
    }

    // A pass suspended in the engine must end before the shell goes.
    void destroyApp()
    {
        if (m_app && m_app->syncEngine())
            EXPECT_TRUE(testsupport::waitUntil([this] { return !m_app->syncEngine()->isSyncing(); },
                                               "the pass to end before the shell goes"));
        m_app.reset();
    }

    // Writes a signed-in session into the preferences, as a former run left it.
    void storeSession(const QString &serverURL, bool withUser = true)
    {
        Preferences preferences;
        preferences.setString("tavrel_api_token",
                              QString::fromStdString(server.server.issueToken(testsupport::RunningServer::email)));
        preferences.setString("tavrel_server_url", serverURL);
        if (withUser) {
            preferences.setString("tavrel_user_email", testsupport::RunningServer::email);
            preferences.setString("tavrel_user_name", "Demo User");
            preferences.setString("tavrel_user_org", "Tavrel Demo");
        }
    }

    QString makeFolder(const QString &relative)
    {
        const QString path = folders.filePath(relative);
        QDir().mkpath(path);
        return QDir::cleanPath(path);
    }
    // The names of the documents in the server folder of that name.
    std::vector<std::string> serverNames(const std::string &folderName) const
    {
        std::vector<std::string> names;
        for (const auto &folder : server.server.folders(testsupport::RunningServer::email))
            if (folder.name == folderName)
                for (const auto &document : server.server.documents(folder.id))
                    names.push_back(document.name);
        std::sort(names.begin(), names.end());
        return names;
    }
    bool onServer(const std::string &folderName, const std::string &name) const
    {
        const auto names = serverNames(folderName);
        return std::find(names.begin(), names.end(), name) != names.end();
    }

    // A folder chosen in an earlier run: its bookmark is stored.
    QString storedFolder(const QString &relative)
    {
        const QString folder = makeFolder(relative);
        Preferences preferences;
        EXPECT_TRUE(AppState(preferences).addWatchedFolder(folder));
        return folder;
    }

    // The program started with a saved session (and the folders stored
    // before), its timer every `interval` seconds: by default far beyond the
    // tests' patience, so that only the flows under test start a pass.
    // Returns once the first pass (with a folder to sync) has ended.
    TavrelSyncApp &launchSignedIn(double interval = 3600)
    {
        storeSession(server.baseURL);
        Preferences().setDouble("syncInterval", interval);
        TavrelSyncApp &app = makeApp();
        app.launch();
        EXPECT_NE(app.syncEngine(), nullptr);
        passes = std::make_unique<QSignalSpy>(app.syncEngine(), &SyncEngine::passFinished);
        if (!app.appState().watchedFolders().isEmpty())
            EXPECT_TRUE(passEnds(1, "the first pass"));
        return app;
    }
    // The engine's `count`th pass since the launch has ended, and no other runs.
    testing::AssertionResult passEnds(int count, const char *what)
    {
        SyncEngine *engine = m_app->syncEngine();
        return testsupport::waitUntil([&] { return passes->count() >= count && !engine->isSyncing(); }, what);
    }

    NetworkReachability network{NetworkReachability::Source::manual};
    QStringList questions;
    bool confirmAnswer = true;
    int folderChooserRuns = 0;
    std::optional<QString> chosenFolder;
    std::unique_ptr<QSignalSpy> passes; // of the engine launchSignedIn() started
    testsupport::TempHome home;
    testsupport::RunningServer server;
    QTemporaryDir folders;
    std::unique_ptr<TavrelSyncApp> m_app;
};
