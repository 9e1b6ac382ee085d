#include "UiFixture.h"

#include "platform/Autostart.h"
#include "platform/Bookmarks.h"
#include "ui/ElidedLabel.h"
#include "ui/ViewStyle.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QTreeWidget>
#include <QListWidget>
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

    // Closes the settings window and waits for it to go.
    void closeSettings()
    {
        m_app->settingsWindow()->close();
        ASSERT_TRUE(waitUntil([&] { return m_app->settingsWindow() == nullptr; }, "the settings window to close"));
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
    EXPECT_EQ(view.folderList()->count(), 0);
    EXPECT_EQ(view.folderCountLabel()->text(), "0/5 folders");

    nextChoice.reset(); // cancelled chooser
    view.addFolderButton()->click();
    EXPECT_EQ(view.folderList()->count(), 0);

    const QString alpha = makeFolder("one/Alpha"), beta = makeFolder("two/Beta"), gamma = makeFolder("Gamma");
    choose(view, alpha);
    choose(view, beta);
    choose(view, gamma);
    EXPECT_EQ(rowNames(view), (QStringList{"Alpha", "Beta", "Gamma"}));
    EXPECT_EQ(view.folderCountLabel()->text(), "3/5 folders");
    auto *firstRow = view.folderList()->itemWidget(view.folderList()->item(0));
    EXPECT_EQ(firstRow->findChild<ElidedLabel *>("folderPath")->text(), alpha);

    // Removing one asks first, saying the files are kept; declined, nothing
    // changes.
    confirmAnswer = false;
    view.folderList()->itemWidget(view.folderList()->item(1))->findChild<QToolButton *>("removeFolderButton")->click();
    ASSERT_TRUE(waitUntil([&] { return questions.size() == 1; }, "the question"));
    EXPECT_EQ(questions[0], QString::fromUtf8("Stop syncing \u201cBeta\u201d?"));
    EXPECT_EQ(view.folderList()->count(), 3);

    // Removing the second leaves the first and the third, stored too.
    confirmAnswer = true;
    view.folderList()->itemWidget(view.folderList()->item(1))->findChild<QToolButton *>("removeFolderButton")->click();
    ASSERT_TRUE(waitUntil([&] { return view.folderList()->count() == 2; }, "the row to go"));
    EXPECT_EQ(rowNames(view), (QStringList{"Alpha", "Gamma"}));
    EXPECT_EQ(view.folderCountLabel()->text(), "2/5 folders");

    for (const char *name : {"d", "e", "f"})
        choose(view, makeFolder(name));
    EXPECT_EQ(view.folderCountLabel()->text(), "5/5 folders");
    EXPECT_FALSE(view.addFolderButton()->isEnabled());
}

TEST_F(SettingsTest, AFolderInsideOrAroundAWatchedOneIsRefusedWithTheReason)
{
    SettingsView &view = openSettings();
    const QString docs = makeFolder("Docs"), inner = makeFolder("Docs/Inner"), other = makeFolder("Other");
    choose(view, docs);
    EXPECT_TRUE(view.folderRefusalLabel()->isHidden());

    choose(view, inner);
    EXPECT_EQ(rowNames(view), QStringList{"Docs"});
    EXPECT_FALSE(view.folderRefusalLabel()->isHidden());
    EXPECT_TRUE(view.folderRefusalLabel()->text().contains("lies inside the watched folder " + docs));

    choose(view, QFileInfo(docs).absolutePath());
    EXPECT_EQ(rowNames(view), QStringList{"Docs"});
    EXPECT_TRUE(view.folderRefusalLabel()->text().contains("holds the watched folder " + docs));

    // The next folder that fits is added, and the reason goes.
    choose(view, other);
    EXPECT_EQ(rowNames(view), (QStringList{"Docs", "Other"}));
    EXPECT_TRUE(view.folderRefusalLabel()->isHidden());
    EXPECT_EQ(Preferences().dataArray("watchedFolderBookmarks")->size(), 2);

    // A pair stored by an earlier version: the inner row says why it waits.
    AppState &state = m_app->appState();
    state.setWatchedFolders({docs, inner});
    state.saveBookmarks();
    state.loadBookmarks();
    ASSERT_EQ(view.folderList()->count(), 2);
    const auto *innerRow = view.folderList()->itemWidget(view.folderList()->item(1));
    EXPECT_TRUE(innerRow->findChild<ElidedLabel *>("folderPath")->text().startsWith("Overlaps " + docs));
    EXPECT_NE(innerRow->findChild<QPushButton *>("chooseAgainButton"), nullptr);
}

TEST_F(SettingsTest, IntervalPickerStoresChosenSeconds)
{
    Preferences().setDouble("syncInterval", 45);
    QComboBox *picker = openSettings().intervalPicker();
    EXPECT_EQ(picker->currentIndex(), -1); // 45 is none of the choices
    EXPECT_EQ(Preferences().doubleValue("syncInterval"), 45.0);
    picker->setCurrentIndex(3);
    EXPECT_EQ(Preferences().doubleValue("syncInterval"), 300.0);
    closeSettings();
    EXPECT_EQ(openSettings().intervalPicker()->currentText(), "5 minutes");
    closeSettings();

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
    ASSERT_TRUE(waitUntil([&] { return firstPass.count() == 1; }, "the first pass"));

    SettingsView &view = openSettings();
    EXPECT_EQ(view.accountValues().size(), 4);
    EXPECT_TRUE(view.signInButton()->isHidden());
    // Signing out asks first; declined, nothing happens.
    confirmAnswer = false;
    view.signOutButton()->click();
    ASSERT_EQ(questions.size(), 1);
    EXPECT_TRUE(questions[0].startsWith("Sign out"));
    EXPECT_TRUE(app.appState().isLoggedIn());
    confirmAnswer = true;
    view.signOutButton()->click();
    ASSERT_TRUE(waitUntil([&] { return !app.appState().isLoggedIn(); }, "the sign-out"));
    EXPECT_FALSE(app.appState().userInfo().has_value());
    EXPECT_TRUE(app.appState().watchedFolders().isEmpty());
    EXPECT_EQ(app.syncEngine(), nullptr);
    Preferences stored;
    EXPECT_FALSE(stored.contains("tavrel_api_token"));
    EXPECT_EQ(stored.dataArray("watchedFolderBookmarks")->size(), 1);
    EXPECT_EQ(stored.doubleValue("syncInterval"), 60.0);
    // The account tab shows the signed-out state and the way back in.
    EXPECT_TRUE(view.accountValues().isEmpty());
    EXPECT_TRUE(view.signOutButton()->isHidden());
    EXPECT_FALSE(view.signInButton()->isHidden());
    view.signInButton()->click();
    EXPECT_NE(app.loginWindow(), nullptr);
}

// The window closes with its own button, and the folder dialog opens in the
// home folder rather than wherever the process was started.
TEST_F(SettingsTest, CloseButtonAndFolderDialog)
{
    SettingsView &view = openSettings();
    std::unique_ptr<QFileDialog> dialog(SettingsView::makeFolderDialog(nullptr));
    EXPECT_EQ(QDir(dialog->directory()).absolutePath(), QDir::homePath());
    EXPECT_EQ(dialog->fileMode(), QFileDialog::Directory);

    view.closeButton()->click();
    ASSERT_TRUE(waitUntil([&] { return m_app->settingsWindow() == nullptr; }, "the settings window to close"));
}

TEST_F(SettingsTest, FolderNeedingChoiceIsMarkedAndChosenAgainInPlace)
{
    SettingsView &view = openSettings();
    AppState &state = m_app->appState();
    const QString alpha = makeFolder("Alpha"), beta = makeFolder("Beta"), gamma = makeFolder("Gamma");
    for (const QString &folder : {alpha, beta, gamma})
        choose(view, folder);
    auto rowAt = [&](int row) { return view.folderList()->itemWidget(view.folderList()->item(row)); };
    auto chooseAgainAt = [&](int row) { return rowAt(row)->findChild<QPushButton *>("chooseAgainButton"); };
    EXPECT_EQ(chooseAgainAt(1), nullptr);

    state.setFolderNeedsChoice(beta, true);
    ASSERT_NE(chooseAgainAt(1), nullptr);
    EXPECT_EQ(chooseAgainAt(0), nullptr);
    EXPECT_NE(rowAt(1)->findChild<QLabel *>("exclamationmark.triangle.fill"), nullptr);
    EXPECT_TRUE(rowAt(1)->findChild<ElidedLabel *>("folderPath")->text().contains("chosen again"));

    // Another watched folder is no answer: nothing changes.
    nextChoice = alpha;
    chooseAgainAt(1)->click();
    testsupport::settle(50);
    EXPECT_EQ(rowNames(view), (QStringList{"Alpha", "Beta", "Gamma"}));
    ASSERT_NE(chooseAgainAt(1), nullptr);

    // A new folder takes the old one's place, in the list and in the bookmarks.
    const QString betaNew = makeFolder("Beta New");
    nextChoice = betaNew;
    chooseAgainAt(1)->click();
    ASSERT_TRUE(waitUntil([&] { return rowNames(view) == QStringList{"Alpha", "Beta New", "Gamma"}; },
                          "the new folder in the old one's row"));
    EXPECT_TRUE(state.foldersNeedingChoice().isEmpty());
    EXPECT_EQ(chooseAgainAt(1), nullptr);
    const auto bookmarks = Preferences().dataArray("watchedFolderBookmarks");
    ASSERT_EQ(bookmarks->size(), 3);
    EXPECT_EQ(Bookmarks::resolve(bookmarks->at(1))->path, betaNew);

    // The same path chosen again (a folder put back) clears the mark and
    // stores the folder as it is now.
    ASSERT_TRUE(QDir().rename(gamma, gamma + " old")); // kept, so its inode is not reused
    QDir().mkpath(gamma);
    EXPECT_TRUE(Bookmarks::resolve(bookmarks->at(2))->isStale);
    state.setFolderNeedsChoice(gamma, true);
    nextChoice = gamma;
    chooseAgainAt(2)->click();
    ASSERT_TRUE(waitUntil([&] { return state.foldersNeedingChoice().isEmpty(); }, "the mark to clear"));
    EXPECT_EQ(state.watchedFolders(), (QStringList{alpha, betaNew, gamma}));
    EXPECT_FALSE(Bookmarks::resolve(Preferences().dataArray("watchedFolderBookmarks")->at(2))->isStale);
}

TEST_F(SettingsTest, NotSyncedListShowsPathAndReason)
{
    SettingsView &view = openSettings();
    AppState &state = m_app->appState();
    const QString folder = makeFolder("Reports");
    view.setCurrentIndex(2);

    state.setNotSyncedFiles(folder, {{folder + "/q1/a.txt", folder, "Another file named a.txt in this folder is synced"},
                                     {folder + "/locked.pdf", folder, "The file cannot be read"}});
    EXPECT_EQ(view.tabs()->tabText(2), "Not Synced (2)");
    ASSERT_EQ(view.notSyncedList()->topLevelItemCount(), 2);
    QTreeWidgetItem *first = view.notSyncedList()->topLevelItem(0);
    EXPECT_EQ(first->text(0), "Reports/q1/a.txt");
    EXPECT_EQ(first->text(1), "Another file named a.txt in this folder is synced");

    state.setNotSyncedFiles(folder, {});
    EXPECT_EQ(view.notSyncedList()->topLevelItemCount(), 0);
    EXPECT_EQ(view.tabs()->tabText(2), "Not Synced");
}

// The first sign-in turns starting at login on; the box then writes and
// removes the desktop's autostart entry, and a later sign-in leaves the
// user's choice alone.
TEST_F(SettingsTest, StartAtLoginWritesAndRemovesTheAutostartEntry)
{
    const QString entry = home.filePath("config/autostart/com.tavrel.TavrelSync.desktop");
    ASSERT_EQ(Autostart().entryPath(), entry);
    TavrelSyncApp &app = makeApp();
    EXPECT_FALSE(openSettings().startAtLoginBox()->isChecked());
    closeSettings();
    auto signIn = [&] {
        return testsupport::run(signInAndStore(app.apiClient(), app.appState(), testsupport::RunningServer::email,
                                               testsupport::RunningServer::password, server.baseURL));
    };
    ASSERT_EQ(signIn(), std::nullopt);
    ASSERT_TRUE(QFile::exists(entry));
    const QByteArray text = testsupport::readFile(entry);
    EXPECT_TRUE(text.contains("\nExec=" + QFile::encodeName(QCoreApplication::applicationFilePath()) + "\n"));

    SettingsView &view = openSettings();
    EXPECT_TRUE(view.startAtLoginBox()->isChecked());
    view.startAtLoginBox()->click();
    EXPECT_FALSE(QFile::exists(entry));
    testsupport::run(signOut(app.apiClient(), app.appState(), {}));
    ASSERT_EQ(signIn(), std::nullopt);
    EXPECT_FALSE(QFile::exists(entry));
    EXPECT_FALSE(view.startAtLoginBox()->isChecked());
    view.startAtLoginBox()->click();
    EXPECT_TRUE(QFile::exists(entry));

    // Switched off through the desktop's own settings: shown as off.
    testsupport::writeFile(entry, text + "Hidden=true\n");
    closeSettings();
    EXPECT_FALSE(openSettings().startAtLoginBox()->isChecked());
}

// Text sizes follow the desktop's font, and with a dark palette the
// secondary texts and the dividers still stand out from the background.
TEST_F(SettingsTest, FollowsDesktopFontAndDarkPalette)
{
    const QFont saved = QApplication::font();
    QFont large = saved;
    large.setPointSizeF(20);
    QApplication::setFont(large);
    EXPECT_EQ(viewstyle::font(viewstyle::TextStyle::body).pointSizeF(), 20);
    EXPECT_GT(viewstyle::font(viewstyle::TextStyle::caption).pointSizeF(), 14);
    EXPECT_LT(viewstyle::font(viewstyle::TextStyle::caption).pointSizeF(), 20);
    QApplication::setFont(saved);

    SettingsView &view = openSettings();
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(0x20, 0x20, 0x22));
    dark.setColor(QPalette::WindowText, QColor(0xEE, 0xEE, 0xEE));
    dark.setColor(QPalette::PlaceholderText, QColor(0xA0, 0xA0, 0xA8));
    view.setPalette(dark);
    const int background = dark.color(QPalette::Window).lightness();
    QLabel *count = view.folderCountLabel();
    EXPECT_GT(count->palette().color(count->foregroundRole()).lightness() - background, 80);

    view.tabs()->setCurrentIndex(0);
    QFrame *divider = view.tabs()->currentWidget()->findChild<QFrame *>("divider");
    ASSERT_NE(divider, nullptr);
    const QImage image = view.grab().toImage();
    const QPoint middle = divider->mapTo(&view, QPoint(divider->width() / 2, 0));
    EXPECT_GT(QColor(image.pixel(middle)).lightness() - background, 20);
}
