#pragma once

#include <QWidget>
#include <functional>
#include <optional>

class APIClient;
class AppState;
class QCheckBox;
class QComboBox;
class QFileDialog;
class QFormLayout;
class QLabel;
class QListWidget;
class QPushButton;
class QTabWidget;
class QTreeWidget;

// The settings window: a normal, resizable window with a Close button and
// four tabs: "Folders" (the watched folders, up to five, the count, "Add
// Folder..." and the sync interval; a folder that must be chosen again is
// marked and can be chosen in place; removing one asks first), "Account"
// (the signed-in user, the server and "Sign Out", which asks first; signed
// out, "Sign In..."), "Not Synced" (files the sync leaves alone, and why,
// whole in a detail line; one sentence when there are none) and "General"
// (start at login, the log file, about). What it shows is
// read afresh from AppState and the preferences. The shell adds a
// "Network" tab (ProxySettingsView) before "General".
class SettingsView : public QWidget {
    Q_OBJECT
public:
    // Asks the user for one folder; absent when cancelled. Replaceable so
    // that the chooser can be driven without a dialog.
    using FolderChooser = std::function<std::optional<QString>(QWidget *parent)>;

    struct Interval {
        const char *label;
        double seconds;
    };
    static constexpr Interval intervals[] = {
        {QT_TRANSLATE_NOOP("SettingsView", "15 seconds"), 15},
        {QT_TRANSLATE_NOOP("SettingsView", "30 seconds"), 30},
        {QT_TRANSLATE_NOOP("SettingsView", "1 minute"), 60},
        {QT_TRANSLATE_NOOP("SettingsView", "5 minutes"), 300}};

    SettingsView(AppState &appState, APIClient &apiClient, std::function<void()> onLogout, double syncInterval,
                 QWidget *parent = nullptr);

    // The stored "syncInterval" when greater than 0, else 30.
    static double initialSyncInterval(const AppState &appState);
    static FolderChooser defaultFolderChooser();
    // The dialog the default chooser runs: folders only, in the home folder.
    static QFileDialog *makeFolderDialog(QWidget *parent);

    void setFolderChooser(FolderChooser chooser) { m_chooseFolder = std::move(chooser); }

    // Asks before something the user may not mean (signing out, removing a
    // folder): true to go ahead. Replaceable so that the question can be
    // answered without a dialog; by default a QMessageBox whose accepting
    // button carries `accept`.
    using Confirmation = std::function<bool(QWidget *parent, const QString &question, const QString &detail,
                                            const QString &accept)>;
    static Confirmation defaultConfirmation();
    void setConfirmation(Confirmation confirmation) { m_confirm = std::move(confirmation); }

    void selectFolder();
    // Runs the chooser for the folder at `index` and puts the choice in its place.
    void chooseFolderAgain(int index);
    void logout();
    // "Sign Out" and a folder's remove button: each asks first.
    void confirmLogout();
    void confirmRemoveFolder(int index);
    double syncInterval() const { return m_syncInterval; }

    QTabWidget *tabs() const { return m_tabs; }
    // Brings the list of files not synced to the front.
    void showNotSynced();
    void setCurrentIndex(int index);
    QPushButton *closeButton() const { return m_close; }
    QListWidget *folderList() const { return m_folderList; }
    QPushButton *addFolderButton() const { return m_addFolder; }
    QLabel *folderCountLabel() const { return m_folderCount; }
    // Why the last folder chosen was refused (hidden when it was not).
    QLabel *folderRefusalLabel() const { return m_folderRefusal; }
    QComboBox *intervalPicker() const { return m_intervalPicker; }
    QPushButton *signOutButton() const { return m_signOut; }
    QTreeWidget *notSyncedList() const { return m_notSynced; }
    // The chosen not-synced file's path and reason, whole.
    QLabel *notSyncedDetail() const { return m_notSyncedDetail; }
    QPushButton *signInButton() const { return m_signIn; }
    QCheckBox *startAtLoginBox() const { return m_startAtLogin; }
    QPushButton *openLogButton() const { return m_openLog; }
    // The labelled values of the Account tab, in order: ("Name", value)...
    QList<QPair<QString, QString>> accountValues() const;

signals:
    // "Sign In..." on the account tab of a signed-out user.
    void signInRequested();

protected:
    void showEvent(QShowEvent *event) override;

private:
    QWidget *buildFoldersTab();
    QWidget *buildAccountTab();
    QWidget *buildNotSyncedTab();
    QWidget *buildGeneralTab();
    QWidget *folderRow(int index, const QString &path, bool needsChoice);
    void refreshFolders();
    void showFolderRefusal(const std::optional<QString> &reason);
    void refreshAccount();
    void refreshNotSynced();
    void intervalPicked(int index);
    void startAtLoginToggled(bool on);

    AppState &m_appState;
    APIClient &m_apiClient;
    std::function<void()> m_onLogout;
    double m_syncInterval;
    FolderChooser m_chooseFolder;
    Confirmation m_confirm;

    QTabWidget *m_tabs = nullptr;
    QWidget *m_notSyncedTab = nullptr;
    QPushButton *m_close = nullptr;
    QListWidget *m_folderList = nullptr;
    QPushButton *m_addFolder = nullptr;
    QLabel *m_folderCount = nullptr;
    QLabel *m_folderRefusal = nullptr;
    QComboBox *m_intervalPicker = nullptr;
    QFormLayout *m_accountForm = nullptr;
    QPushButton *m_signOut = nullptr;
    QPushButton *m_signIn = nullptr;
    QLabel *m_signedOutText = nullptr;
    QLabel *m_notSyncedDetail = nullptr;
    QTreeWidget *m_notSynced = nullptr;
    QLabel *m_notSyncedEmpty = nullptr;
    QCheckBox *m_startAtLogin = nullptr;
    QPushButton *m_openLog = nullptr;
};
