#pragma once

#include "platform/NetworkReachability.h"
#include "platform/Preferences.h"
#include "support/TestSupport.h"
#include "sync/SyncEngine.h"
#include "ui/TavrelSyncApp.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
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

    NetworkReachability network{NetworkReachability::Source::manual};
    QStringList questions;
    bool confirmAnswer = true;
    int folderChooserRuns = 0;
    std::optional<QString> chosenFolder;
    testsupport::TempHome home;
    testsupport::RunningServer server;
    QTemporaryDir folders;
    std::unique_ptr<TavrelSyncApp> m_app;
};
