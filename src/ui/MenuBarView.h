#pragma once

#include "sync/SyncEngine.h"

#include <QPointer>
#include <QWidget>

class AppState;
class QLabel;
class QPushButton;
class SyncStatusView;

// The content of the tray panel, 280 px wide, with two faces chosen from
// AppState::isLoggedIn: signed out (name, prompt, "Sign In...", "Quit") and
// signed in (header with the organization, the status view, "Sync Now",
// "Pause Syncing"/"Resume Syncing", "Settings...", "Quit TavrelSync"). It
// keeps no state of its own; what it opens is asked of the shell through its
// signals, and answers to removal questions go to the engine.
class MenuBarView : public QWidget {
    Q_OBJECT
public:
    static constexpr int panelWidth = 280;

    explicit MenuBarView(AppState &appState, QWidget *parent = nullptr);

    // The shell's current engine; absent while none exists.
    void setSyncEngine(SyncEngine *engine) { m_syncEngine = engine; }
    SyncEngine *syncEngine() const { return m_syncEngine; }

    bool showsSignedInFace() const;
    QWidget *signedOutFace() const { return m_signedOutFace; }
    QWidget *signedInFace() const { return m_signedInFace; }
    SyncStatusView *statusView() const { return m_statusView; }

    // Runs one pass on the current engine; nothing without one.
    void syncNow();

signals:
    void signInRequested();
    void settingsRequested();
    void addFolderRequested();
    void notSyncedListRequested();
    void quitRequested();

private:
    QWidget *buildSignedOutFace();
    QWidget *buildSignedInFace();
    void refresh();

    AppState &m_appState;
    QPointer<SyncEngine> m_syncEngine;
    QWidget *m_signedOutFace = nullptr;
    QWidget *m_signedInFace = nullptr;
    SyncStatusView *m_statusView = nullptr;
    QLabel *m_organization = nullptr;
    QPushButton *m_syncNowButton = nullptr;
    QPushButton *m_pauseButton = nullptr;
};
