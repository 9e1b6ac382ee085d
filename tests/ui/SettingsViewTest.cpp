#include "UiFixture.h"

#include "api/APIClient.h"
#include "state/AppState.h"
#include "ui/ElidedLabel.h"
#include "ui/SettingsView.h"

#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QToolButton>

using testsupport::waitUntil;

class SettingsTest : public UiFixture {
protected:
    SettingsView &openSettings()
    {
        if (!m_app)
            makeApp();
        m_app->openSettings();
        SettingsView &view = *m_app->settingsWindow();
        view.setFolderChooser([this](QWidget *) { return nextChoice; });
        return view;
    }

    void choose(SettingsView &view, const QString &folder)
    {
        nextChoice = folder;
        view.addFolderButton()->click();
    }

    static QStringList rowNames(SettingsView &view)
    {
        QStringList names;
        for (int row = 0; row < view.folderList()->count(); ++row)
            names << view.folderList()->itemWidget(view.folderList()->item(row))->findChild<ElidedLabel *>("folderName")->text();
        return names;
    }

    std::optional<QString> nextChoice;
};

TEST_F(SettingsTest, FolderListCountAddDuplicateRemove)
{
    SettingsView &view = openSettings();
    EXPECT_EQ(view.size(), QSize(450, 350));
    EXPECT_EQ(view.tabText(0), "Folders");
    EXPECT_EQ(view.tabText(1), "Account");
    EXPECT_EQ(view.folderList()->count(), 0);
    EXPECT_EQ(view.folderCountLabel()->text(), "0/5 folders");

    nextChoice.reset(); // cancelled chooser
    view.addFolderButton()->click();
    EXPECT_EQ(view.folderList()->count(), 0);

    const QString alpha = makeFolder("one/Alpha"), beta = makeFolder("two/Beta"), gamma = makeFolder("Gamma");
    choose(view, alpha);
    choose(view, beta);
    choose(view, gamma);
    choose(view, beta + "/"); // the same folder again
    EXPECT_EQ(rowNames(view), (QStringList{"Alpha", "Beta", "Gamma"}));
    EXPECT_EQ(view.folderCountLabel()->text(), "3/5 folders");
    auto *firstRow = view.folderList()->itemWidget(view.folderList()->item(0));
    EXPECT_EQ(firstRow->findChild<ElidedLabel *>("folderPath")->text(), alpha);

    // Removing the second leaves the first and the third, stored too.
    view.folderList()->itemWidget(view.folderList()->item(1))->findChild<QToolButton *>("removeFolderButton")->click();
    ASSERT_TRUE(waitUntil([&] { return view.folderList()->count() == 2; }));
    EXPECT_EQ(rowNames(view), (QStringList{"Alpha", "Gamma"}));
    EXPECT_EQ(view.folderCountLabel()->text(), "2/5 folders");
    EXPECT_EQ(Preferences().dataArray("watchedFolderBookmarks")->size(), 2);

    for (const char *name : {"d", "e", "f"})
        choose(view, makeFolder(name));
    EXPECT_EQ(view.folderCountLabel()->text(), "5/5 folders");
    EXPECT_FALSE(view.addFolderButton()->isEnabled());
    view.selectFolder(); // even when called directly, a sixth is refused
    EXPECT_EQ(m_app->appState().watchedFolders().size(), 5);
}

TEST_F(SettingsTest, IntervalPickerStoresChosenSeconds)
{
    Preferences().setDouble("syncInterval", 45);
    {
        SettingsView &view = openSettings();
        QComboBox *picker = view.intervalPicker();
        QStringList labels;
        for (int i = 0; i < picker->count(); ++i)
            labels << picker->itemText(i);
        EXPECT_EQ(labels, (QStringList{"15 seconds", "30 seconds", "1 minute", "5 minutes"}));
        EXPECT_EQ(picker->width(), 140);
        EXPECT_EQ(picker->currentIndex(), -1); // 45 is none of the choices
        EXPECT_EQ(Preferences().doubleValue("syncInterval"), 45.0);

        picker->setCurrentIndex(3);
        EXPECT_EQ(Preferences().doubleValue("syncInterval"), 300.0);
        view.close();
    }
    ASSERT_TRUE(waitUntil([&] { return m_app->settingsWindow() == nullptr; }));
    EXPECT_EQ(openSettings().intervalPicker()->currentText(), "5 minutes");
    m_app->settingsWindow()->close();
    waitUntil([&] { return m_app->settingsWindow() == nullptr; });

    for (double stored : {0.0, -5.0}) {
        m_app->preferences().setDouble("syncInterval", stored);
        EXPECT_EQ(SettingsView::initialSyncInterval(m_app->appState()), 30.0);
    }
    m_app->preferences().remove("syncInterval");
    EXPECT_EQ(openSettings().intervalPicker()->currentText(), "30 seconds");
    EXPECT_FALSE(m_app->preferences().contains("syncInterval")); // showing stores nothing
}

// Sign-out completes locally without a server: the session is gone, the
// engine released, the folders and the interval stay stored.
TEST_F(SettingsTest, SignOutWithServerUnreachable)
{
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const QString unreachable = QString("http://127.0.0.1:%1").arg(closed.serverPort());
    closed.close();

    storeSession(unreachable);
    Preferences().setDouble("syncInterval", 60);
    TavrelSyncApp &app = makeApp();
    app.appState().addWatchedFolder(makeFolder("Kept"));
    app.launch(); // loads the session and starts the engine
    ASSERT_TRUE(app.appState().isLoggedIn());
    ASSERT_NE(app.syncEngine(), nullptr);
    QSignalSpy firstPass(app.syncEngine(), &SyncEngine::passFinished);
    ASSERT_TRUE(waitUntil([&] { return firstPass.count() == 1; }));

    SettingsView &view = openSettings();
    view.setCurrentIndex(1);
    auto values = view.accountValues();
    ASSERT_EQ(values.size(), 4);
    EXPECT_EQ(values[0], qMakePair(QString("Name"), QString("Demo User")));
    EXPECT_EQ(values[2], qMakePair(QString("Organization"), QString("Tavrel Demo")));
    EXPECT_EQ(values[3], qMakePair(QString("Server"), unreachable));

    view.signOutButton()->click();
    ASSERT_TRUE(waitUntil([&] { return !app.appState().isLoggedIn(); }));
    EXPECT_FALSE(app.appState().userInfo().has_value());
    EXPECT_TRUE(app.appState().watchedFolders().isEmpty());
    EXPECT_EQ(app.appState().syncStatus(), SyncStatus::idle());
    EXPECT_FALSE(app.apiClient().token().has_value());
    EXPECT_EQ(app.syncEngine(), nullptr);
    Preferences stored;
    for (const char *key : {"tavrel_api_token", "tavrel_server_url", "tavrel_user_email", "tavrel_user_name", "tavrel_user_org"})
        EXPECT_FALSE(stored.contains(key)) << key;
    EXPECT_EQ(stored.dataArray("watchedFolderBookmarks")->size(), 1);
    EXPECT_EQ(stored.doubleValue("syncInterval"), 60.0);

    values = view.accountValues();
    ASSERT_EQ(values.size(), 1);
    EXPECT_EQ(values[0], qMakePair(QString("Server"), QString("Unknown")));
}

TEST_F(SettingsTest, SignOutTellsTheServer)
{
    storeSession(server.baseURL);
    TavrelSyncApp &app = makeApp();
    app.appState().loadSavedState();
    server.server.clearRequests();
    openSettings().logout();
    ASSERT_TRUE(waitUntil([&] { return !app.appState().isLoggedIn(); }));
    const auto requests = server.server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "DELETE");
    EXPECT_EQ(requests[0].path, "/api/v1/auth/logout");
    EXPECT_EQ(requests[0].headers.find("authorization")->second.rfind("Bearer ", 0), 0u);
    EXPECT_FALSE(app.apiClient().token().has_value());
}
