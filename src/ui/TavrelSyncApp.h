#pragma once

#include "state/ProxySettings.h"
#include "api/APIClient.h"
#include "platform/Preferences.h"
#include "state/AppState.h"
#include "ui/LoginView.h"
#include "ui/SettingsView.h"

#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <functional>
#include <memory>

class MenuBarView;
class NetworkReachability;
class Notifier;
class PanelWindow;
class QAction;
class QMenu;
class SyncEngine;

// The application: owns the preferences, the one AppState, the one
// APIClient and at most one SyncEngine, shows the tray icon (its symbol and
// tooltip telling the sync status) with its menu and panel, posts desktop
// notifications, and opens the sign-in and settings windows. At launch the
// saved session is restored and, when signed in, the engine starts: syncing
// never waits for the panel, which only shows what happens.
class TavrelSyncApp : public QObject {
    Q_OBJECT
public:
    struct Options {
        QString stateFilePath; // empty: the engine's default state file
        // Absent: use the tray when the desktop has one, and watch for a tray
        // host that starts after the application.
        std::optional<bool> useTray;
        // False keeps notifications inside the process (Notifier::posted).
        bool desktopNotifications = true;
        int trayPollMs = 2000;
        // Whether a tray host is there; by default the platform's answer.
        std::function<bool()> trayAvailable;
        // Replaces the settings' folder dialog (see SettingsView::FolderChooser).
        SettingsView::FolderChooser folderChooser;
        // Replaces the settings' questions (see SettingsView::Confirmation).
        SettingsView::Confirmation confirmation;
        // Whether the computer has a network, followed in place of the
        // system's answer; it must outlive the application. Null: the
        // system's (NetworkReachability::Source::system).
        NetworkReachability *network = nullptr;
    };

    explicit TavrelSyncApp(Options options, QObject *parent = nullptr);
    TavrelSyncApp() : TavrelSyncApp(Options{}) {}
    ~TavrelSyncApp() override;

    // Restores the saved session and starts the engine when signed in; shows
    // the tray icon, or without a tray the panel as a window.
    void launch();

    AppState &appState() { return m_appState; }
    APIClient &apiClient() { return m_apiClient; }
    Preferences &preferences() { return m_preferences; }
    SyncEngine *syncEngine() const { return m_syncEngine; }

    PanelWindow *panel() const { return m_panel; }
    MenuBarView *menuBarView() const { return m_menuBarView; }
    LoginView *loginWindow() const { return m_login; }
    SettingsView *settingsWindow() const { return m_settings; }
    // The proxy choice in use (loaded at launch), and a new one: stored, and
    // taken by the client's next request.
    const ProxySettings &proxySettings() const { return m_proxy; }
    void setProxySettings(const ProxySettings &settings);
    QSystemTrayIcon *trayIcon() const { return m_tray.get(); }
    QMenu *trayMenu() const { return m_trayMenu.get(); }
    Notifier *notifier() const { return m_notifier; }
    NetworkReachability *network() const { return m_network; }
    bool usesTray() const { return m_usesTray; }
    // The symbol now shown by the tray icon.
    QString trayIconName() const { return m_trayIconName; }

    void ensureSyncEngine();
    void onLogin();
    void onLogout();

    // Brings the panel forward (beside the tray, or as a window).
    void showPanel();
    void togglePanel();
    void openLogin();
    void openSettings();
    // The settings with the folder chooser open on them.
    void addFolder();
    // The settings, at the list of files not synced when it has one.
    void openNotSyncedList();
    void syncNow();

signals:
    void syncEngineChanged();

private:
    void updateTray();
    void buildTrayMenu();
    void rebuildFolderEntries();
    void updateTrayMenu();
    void watchForTrayHost();
    void releaseEngine(SyncEngine *engine);

    Options m_options;
    Preferences m_preferences;
    AppState m_appState;
    APIClient m_apiClient;
    ProxySettings m_proxy;
    SyncEngine *m_syncEngine = nullptr;

    bool m_usesTray = false;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    std::unique_ptr<QMenu> m_trayMenu;
    QAction *m_signInAction = nullptr;
    QAction *m_folderSeparator = nullptr;
    QList<QAction *> m_folderActions;
    QAction *m_syncAction = nullptr;
    QAction *m_pauseAction = nullptr;
    QAction *m_settingsAction = nullptr;
    QString m_trayIconName;
    QTimer m_trayProgressUpdate; // progress reaches the tray at most twice a second
    QTimer m_trayHostPoll;
    Notifier *m_notifier = nullptr;
    NetworkReachability *m_network = nullptr;
    MenuBarView *m_menuBarView = nullptr;
    PanelWindow *m_panel = nullptr;
    QPointer<LoginView> m_login;
    QPointer<SettingsView> m_settings;
};
