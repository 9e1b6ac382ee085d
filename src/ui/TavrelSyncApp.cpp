#include "ui/TavrelSyncApp.h"

#include "platform/Logging.h"
#include "sync/SyncEngine.h"
#include "ui/LoginView.h"
#include "ui/MenuBarView.h"
#include "ui/PanelWindow.h"
#include "ui/SettingsView.h"
#include "ui/Symbols.h"

#include <QApplication>
#include <QMenu>

TavrelSyncApp::TavrelSyncApp(Options options, QObject *parent)
    : QObject(parent)
    , m_options(std::move(options))
    , m_appState(m_preferences)
    , m_apiClient(m_preferences)
{
    m_usesTray = m_options.useTray.value_or(QSystemTrayIcon::isSystemTrayAvailable());

    m_tray = std::make_unique<QSystemTrayIcon>();
    m_trayMenu = std::make_unique<QMenu>();
    m_trayMenu->addAction(QStringLiteral("Open TavrelSync"), this, &TavrelSyncApp::showPanel);
    m_trayMenu->addAction(QStringLiteral("Quit TavrelSync"), qApp, &QCoreApplication::quit);
    m_tray->setContextMenu(m_trayMenu.get());
    connect(m_tray.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            togglePanel();
    });
    connect(&m_appState, &AppState::syncStatusChanged, this, &TavrelSyncApp::updateTrayIcon);
    updateTrayIcon();

    m_menuBarView = new MenuBarView(m_appState);
    m_panel = new PanelWindow(m_menuBarView, m_usesTray ? PanelWindow::Mode::popup : PanelWindow::Mode::window);
    connect(m_panel, &PanelWindow::appeared, this, &TavrelSyncApp::panelAppeared);
    connect(m_menuBarView, &MenuBarView::signInRequested, this, &TavrelSyncApp::openLogin);
    connect(m_menuBarView, &MenuBarView::settingsRequested, this, &TavrelSyncApp::openSettings);
    connect(m_menuBarView, &MenuBarView::quitRequested, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

TavrelSyncApp::~TavrelSyncApp()
{
    delete m_login;
    delete m_settings;
    delete m_panel;
    if (SyncEngine *engine = std::exchange(m_syncEngine, nullptr)) {
        engine->stop();
        // A pass still suspended inside the engine would resume into freed
        // memory; at exit it is simply not resumed, so the engine is left.
        if (!engine->isSyncing())
            delete engine;
    }
}

void TavrelSyncApp::launch()
{
    // The application lives in the tray (or in a panel that closing only
    // hides): closing the last window never ends it, only "Quit" does.
    QApplication::setQuitOnLastWindowClosed(false);
    if (m_usesTray) {
        m_tray->show();
        return;
    }
    // No tray to click: the panel opens at once, so its appear action runs.
    showPanel();
}

void TavrelSyncApp::updateTrayIcon()
{
    const SyncStatus status = m_appState.syncStatus();
    m_trayIconName = symbols::trayName(status);
    m_tray->setIcon(symbols::icon(m_trayIconName, symbols::trayColor(status)));
    m_tray->setToolTip(QStringLiteral("TavrelSync – ") + m_appState.statusText());
}

void TavrelSyncApp::panelAppeared()
{
    m_appState.loadSavedState();
    if (!m_appState.isLoggedIn())
        return;
    ensureSyncEngine();
    m_syncEngine->start();
}

void TavrelSyncApp::ensureSyncEngine()
{
    if (m_syncEngine)
        return;
    m_syncEngine = new SyncEngine(m_apiClient, m_appState, m_options.stateFilePath);
    m_menuBarView->setSyncEngine(m_syncEngine);
    qCInfo(lcApp) << "Sync engine created";
    emit syncEngineChanged();
}

void TavrelSyncApp::onLogin()
{
    ensureSyncEngine();
    m_syncEngine->start();
}

void TavrelSyncApp::onLogout()
{
    SyncEngine *engine = std::exchange(m_syncEngine, nullptr);
    if (!engine)
        return;
    engine->stop();
    m_menuBarView->setSyncEngine(nullptr);
    releaseEngine(engine);
    qCInfo(lcApp) << "Sync engine stopped and released";
    emit syncEngineChanged();
}

void TavrelSyncApp::releaseEngine(SyncEngine *engine)
{
    if (!engine->isSyncing()) {
        engine->deleteLater();
        return;
    }
    // A pass that is running finishes on its own before the engine goes. Its
    // outcome belongs to the session that ended: a signed-out user is shown
    // the idle status, not the failure of a request the sign-out cut off.
    connect(engine, &SyncEngine::passFinished, this, [this, engine] {
        if (!m_appState.isLoggedIn())
            m_appState.setSyncStatus(SyncStatus::idle());
        engine->deleteLater();
    });
}

void TavrelSyncApp::showPanel()
{
    if (m_panel->mode() == PanelWindow::Mode::popup) {
        m_panel->showBeside(m_tray->geometry());
        return;
    }
    if (m_panel->isMinimized())
        m_panel->showNormal();
    m_panel->show();
    m_panel->raise();
    m_panel->activateWindow();
}

void TavrelSyncApp::togglePanel()
{
    if (m_panel->isVisible()) {
        m_panel->close();
        return;
    }
    if (m_panel->justClosed())
        return;
    showPanel();
}

void TavrelSyncApp::openLogin()
{
    if (m_panel->mode() == PanelWindow::Mode::popup)
        m_panel->close();
    if (!m_login) {
        m_login = new LoginView(m_appState, m_apiClient, [this] { onLogin(); });
        m_login->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_login->show();
    m_login->raise();
    m_login->activateWindow();
}

void TavrelSyncApp::openSettings()
{
    if (m_panel->mode() == PanelWindow::Mode::popup)
        m_panel->close();
    if (!m_settings) {
        m_settings = new SettingsView(m_appState, m_apiClient, [this] { onLogout(); },
                                      SettingsView::initialSyncInterval(m_appState));
        m_settings->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_settings->show();
    m_settings->raise();
    m_settings->activateWindow();
}
