#pragma once

#include <QTabWidget>
#include <functional>
#include <optional>

class APIClient;
class AppState;
class QComboBox;
class QFormLayout;
class QLabel;
class QListWidget;
class QPushButton;

// The settings window, 450 by 350 with two tabs: "Folders" (the watched
// folders, up to five, the count, "Add Folder..." and the sync interval) and
// "Account" (the signed-in user, the server and "Sign Out"). What it shows
// is read afresh from AppState and the preferences.
class SettingsView : public QTabWidget {
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
        {"15 seconds", 15}, {"30 seconds", 30}, {"1 minute", 60}, {"5 minutes", 300}};

    SettingsView(AppState &appState, APIClient &apiClient, std::function<void()> onLogout, double syncInterval,
                 QWidget *parent = nullptr);

    // The stored "syncInterval" when greater than 0, else 30.
    static double initialSyncInterval(const AppState &appState);
    static FolderChooser defaultFolderChooser();

    void setFolderChooser(FolderChooser chooser) { m_chooseFolder = std::move(chooser); }

    void selectFolder();
    void logout();
    double syncInterval() const { return m_syncInterval; }

    QListWidget *folderList() const { return m_folderList; }
    QPushButton *addFolderButton() const { return m_addFolder; }
    QLabel *folderCountLabel() const { return m_folderCount; }
    QComboBox *intervalPicker() const { return m_intervalPicker; }
    QPushButton *signOutButton() const { return m_signOut; }
    // The labelled values of the Account tab, in order: ("Name", value)...
    QList<QPair<QString, QString>> accountValues() const;

protected:
    void showEvent(QShowEvent *event) override;

private:
    QWidget *buildFoldersTab();
    QWidget *buildAccountTab();
    void refreshFolders();
    void refreshAccount();
    void intervalPicked(int index);

    AppState &m_appState;
    APIClient &m_apiClient;
    std::function<void()> m_onLogout;
    double m_syncInterval;
    FolderChooser m_chooseFolder;

    QListWidget *m_folderList = nullptr;
    QPushButton *m_addFolder = nullptr;
    QLabel *m_folderCount = nullptr;
    QComboBox *m_intervalPicker = nullptr;
    QFormLayout *m_accountForm = nullptr;
    QPushButton *m_signOut = nullptr;
};
