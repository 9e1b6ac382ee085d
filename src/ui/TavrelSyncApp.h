#pragma once

#include "api/APIClient.h"
#include "platform/Preferences.h"
#include "state/AppState.h"
#include "ui/LoginView.h"
#include "ui/SettingsView.h"

#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <memory>

class MenuBarView;
class PanelWindow;
class SyncEngine;

// The application: owns the preferences, the one AppState, the one
// APIClient and at most one SyncEngine, shows the tray icon (following the
// sync status) with its panel, and opens the sign-in and settings windows.
// Nothing is loaded or synced until the panel is first shown; every showing
// restores the saved state and, when signed in, starts the engine.
class TavrelSyncApp : public QObject {
    Q_OBJECT
public:
    struct Options {
        QString stateFilePath; // empty: the engine's default state file
        // Absent: use the tray when the desktop has one.
        std::optional<bool> useTray;
    };

    explicit TavrelSyncApp(Options options, QObject *parent = nullptr);
    TavrelSyncApp() : TavrelSyncApp(Options{}) {}
    ~TavrelSyncApp() override;

    // Shows the tray icon, or without a tray the panel as a window.
    void launch();

    AppState &appState() { return m_appState; }
    APIClient &apiClient() { return m_apiClient; }
    Preferences &preferences() { return m_preferences; }
    SyncEngine *syncEngine() const { return m_syncEngine; }

    PanelWindow *panel() const { return m_panel; }
    MenuBarView *menuBarView() const { return m_menuBarView; }
    LoginView *loginWindow() const { return m_login; }
    SettingsView *settingsWindow() const { return m_settings; }
    QSystemTrayIcon *trayIcon() const { return m_tray.get(); }
    bool usesTray() const { return m_usesTray; }
    // The symbol now shown by the tray icon.
    QString trayIconName() const { return m_trayIconName; }

    // The panel's appear action.
    void panelAppeared();
    void ensureSyncEngine();
    void onLogin();
    void onLogout();

    // Brings the panel forward (beside the tray, or as a window).
    void showPanel();
    void togglePanel();
    void openLogin();
    void openSettings();

signals:
    void syncEngineChanged();

private:
    void updateTrayIcon();
    void releaseEngine(SyncEngine *engine);

    Options m_options;
    Preferences m_preferences;
    AppState m_appState;
    APIClient m_apiClient;
    SyncEngine *m_syncEngine = nullptr;

    bool m_usesTray = false;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    std::unique_ptr<class QMenu> m_trayMenu;
    QString m_trayIconName;
    MenuBarView *m_menuBarView = nullptr;
    PanelWindow *m_panel = nullptr;
    QPointer<LoginView> m_login;
    QPointer<SettingsView> m_settings;
};
