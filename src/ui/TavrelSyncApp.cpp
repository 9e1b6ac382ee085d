#include "ui/TavrelSyncApp.h"

#include "platform/Logging.h"
#include "platform/NetworkReachability.h"
#include "sync/SyncEngine.h"
#include "ui/LoginView.h"
#include "ui/MenuBarView.h"
#include "ui/Notifier.h"
#include "ui/OpenLocation.h"
#include "ui/PanelWindow.h"
#include "ui/ProxySettingsView.h"
#include "ui/SettingsView.h"
#include "ui/StatusSummary.h"
#include "ui/Symbols.h"

#include <QApplication>
#include <QFileInfo>
#include <QMenu>
#include <QTabWidget>

namespace {
constexpr int trayProgressIntervalMs = 500;
} // namespace

TavrelSyncApp::TavrelSyncApp(Options options, QObject *parent)
    : QObject(parent)
    , m_options(std::move(options))
    , m_appState(m_preferences)
    , m_apiClient(m_preferences)
{
    if (!m_options.trayAvailable)
        m_options.trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    m_usesTray = m_options.useTray.value_or(m_options.trayAvailable());

    m_tray = std::make_unique<QSystemTrayIcon>();
    m_trayMenu = std::make_unique<QMenu>();
    m_tray->setContextMenu(m_trayMenu.get());
    connect(m_tray.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            togglePanel();
    });

    // The icon and the menu follow every change that alters what they say;
    // progress, which changes with every finished file, is sent to the tray
    // host at a calmer pace.
    for (auto signal : {&AppState::isLoggedInChanged, &AppState::watchedFoldersChanged, &AppState::syncStatusChanged,
                        &AppState::isPausedChanged, &AppState::lastSyncTimeChanged, &AppState::nextSyncTimeChanged,
                        &AppState::notSyncedFilesChanged, &AppState::removalQuestionsChanged,
                        &AppState::sessionRejectedChanged, &AppState::isOfflineChanged})
        connect(&m_appState, signal, this, &TavrelSyncApp::updateTray);
    m_trayProgressUpdate.setSingleShot(true);
    m_trayProgressUpdate.setInterval(trayProgressIntervalMs);
    connect(&m_trayProgressUpdate, &QTimer::timeout, this, &TavrelSyncApp::updateTray);
    connect(&m_appState, &AppState::syncProgressChanged, this, [this] {
        if (!m_trayProgressUpdate.isActive())
            m_trayProgressUpdate.start();
    });
    buildTrayMenu();
    for (auto signal : {&AppState::isLoggedInChanged, &AppState::syncStatusChanged, &AppState::isPausedChanged,
                        &AppState::sessionRejectedChanged})
        connect(&m_appState, signal, this, &TavrelSyncApp::updateTrayMenu);
    connect(&m_appState, &AppState::watchedFoldersChanged, this, &TavrelSyncApp::rebuildFolderEntries);
    updateTray();
    rebuildFolderEntries();

    // Offline, the status says so and timed and watched passes wait (see
    // SyncEngine); where the system cannot tell, it never says offline.
    m_network = m_options.network ? m_options.network : new NetworkReachability(NetworkReachability::Source::system, this);
    m_appState.setOffline(!m_network->online());
    connect(m_network, &NetworkReachability::onlineChanged, this, [this](bool online) { m_appState.setOffline(!online); });

    m_notifier = new Notifier(m_appState, m_tray.get(), m_options.desktopNotifications, this);
    connect(m_notifier, &Notifier::actionInvoked, this, [this](Notifier::Action action, const QString &folder) {
        switch (action) {
        case Notifier::Action::signIn:
            openLogin();
            return;
        case Notifier::Action::showPanel:
            showPanel();
            return;
        case Notifier::Action::openFolder:
        case Notifier::Action::showConflicts:
            // Conflict copies sit beside their files, in the folder.
            openLocation(folder);
            return;
        case Notifier::Action::removeFiles:
        case Notifier::Action::restoreFiles:
            // Once: the panel may have answered it already.
            for (const RemovalQuestion &question : m_appState.removalQuestions())
                if (question.folder == folder && m_syncEngine) {
                    m_syncEngine->answerRemovalQuestion(folder, action == Notifier::Action::removeFiles);
                    break;
                }
            return;
        }
    });
    // A folder or file that cannot be opened is said, with its path.
    setOpenFailureHandler([this](const QString &text) { m_appState.postNotice(tr("Could not open"), text); });

    m_menuBarView = new MenuBarView(m_appState);
    m_panel = new PanelWindow(m_menuBarView, m_usesTray ? PanelWindow::Mode::popup : PanelWindow::Mode::window);
    connect(m_menuBarView, &MenuBarView::signInRequested, this, &TavrelSyncApp::openLogin);
    connect(m_menuBarView, &MenuBarView::settingsRequested, this, &TavrelSyncApp::openSettings);
    connect(m_menuBarView, &MenuBarView::addFolderRequested, this, &TavrelSyncApp::addFolder);
    connect(m_menuBarView, &MenuBarView::notSyncedListRequested, this, &TavrelSyncApp::openNotSyncedList);
    connect(m_menuBarView, &MenuBarView::quitRequested, qApp, &QCoreApplication::quit, Qt::QueuedConnection);

    m_trayHostPoll.setInterval(m_options.trayPollMs);
    connect(&m_trayHostPoll, &QTimer::timeout, this, &TavrelSyncApp::watchForTrayHost);
}

TavrelSyncApp::~TavrelSyncApp()
{
    setOpenFailureHandler(nullptr);
    delete m_login;
    delete m_settings;
    delete m_panel;
    if (SyncEngine *engine = std::exchange(m_syncEngine, nullptr)) {
        engine->stop();
        // A pass still suspended inside the engine would resume into freed
        // memory; at exit it is simply not resumed, so the engine is left,
        // its state written first (what it agreed so far is kept).
        if (!engine->isSyncing())
            delete engine;
        else
            engine->writeStateNow();
    }
}

void TavrelSyncApp::launch()
{
    // The application lives in the tray (or in a panel that closing only
    // hides): closing the last window never ends it, only "Quit" does.
    QApplication::setQuitOnLastWindowClosed(false);

    // A saved session syncs from the start, whether or not the panel is
    // ever opened.
    m_proxy = ProxySettings::load(m_preferences);
    m_apiClient.setProxy(m_proxy.networkProxy());
    m_apiClient.setToken(m_appState.loadSavedState());
    if (m_appState.isLoggedIn())
        onLogin();

    if (m_usesTray) {
        m_tray->show();
        return;
    }
    // No tray to click: the panel opens at once. A tray host that starts
    // later (common at login) gets the icon then.
    showPanel();
    if (!m_options.useTray.has_value())
        m_trayHostPoll.start();
}

void TavrelSyncApp::watchForTrayHost()
{
    if (!m_options.trayAvailable())
        return;
    m_trayHostPoll.stop();
    qCInfo(lcApp) << "A system tray appeared; TavrelSync moves into it";
    m_usesTray = true;
    m_panel->setMode(PanelWindow::Mode::popup);
    m_tray->show();
}

void TavrelSyncApp::updateTray()
{
    m_trayProgressUpdate.stop();
    // Clock times, not ages: a tooltip is not redrawn while it is read.
    const StatusSummary summary = summarizeStatus(m_appState, QDateTime::currentDateTimeUtc(), TimeWords::clock);
    if (summary.symbol != m_trayIconName) {
        m_trayIconName = summary.symbol;
        m_tray->setIcon(symbols::icon(summary.symbol, summary.color));
    }
    QString toolTip = tr("TavrelSync – %1").arg(summary.title);
    if (!summary.detail.isEmpty())
        toolTip += QLatin1Char('\n') + summary.detail;
    if (toolTip != m_tray->toolTip())
        m_tray->setToolTip(toolTip);
}

void TavrelSyncApp::buildTrayMenu()
{
    // Made once and updated in place: an entry's own action (pausing, for
    // one) changes what the menu shows, and must not delete that entry while
    // it runs.
    QMenu *menu = m_trayMenu.get();
    menu->addAction(tr("Open TavrelSync"), this, &TavrelSyncApp::showPanel);
    menu->addSeparator();
    m_signInAction = menu->addAction(tr("Sign In..."), this, &TavrelSyncApp::openLogin);
    m_folderSeparator = menu->addSeparator();
    m_syncAction = menu->addAction(tr("Sync Now"), this, &TavrelSyncApp::syncNow);
    m_pauseAction = menu->addAction(tr("Pause Syncing"), this,
                                    [this] { m_appState.setPaused(!m_appState.isPaused()); });
    m_settingsAction = menu->addAction(tr("Settings..."), this, &TavrelSyncApp::openSettings);
    menu->addSeparator();
    menu->addAction(tr("Quit TavrelSync"), qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

void TavrelSyncApp::rebuildFolderEntries()
{
    qDeleteAll(m_folderActions);
    m_folderActions.clear();
    for (const QString &folder : m_appState.watchedFolders()) {
        QString name = QFileInfo(folder).fileName();
        auto *open = new QAction(tr("Open %1").arg(name.replace(QLatin1Char('&'), QStringLiteral("&&"))),
                                 m_trayMenu.get());
        open->setToolTip(folder);
        connect(open, &QAction::triggered, this, [folder] { openLocation(folder); });
        m_trayMenu->insertAction(m_folderSeparator, open);
        m_folderActions.append(open);
    }
    updateTrayMenu();
}

void TavrelSyncApp::updateTrayMenu()
{
    // Separators that end up side by side are collapsed by the menu.
    const bool signedIn = m_appState.isLoggedIn();
    // Also offered when the server refused the session.
    m_signInAction->setVisible(!signedIn || m_appState.sessionRejected());
    for (QAction *action : std::as_const(m_folderActions))
        action->setVisible(signedIn);
    for (QAction *action : {m_syncAction, m_pauseAction, m_settingsAction})
        action->setVisible(signedIn);
    m_syncAction->setEnabled(m_appState.syncStatus().kind != SyncStatus::Kind::syncing
                             && !m_appState.watchedFolders().isEmpty() && !m_appState.sessionRejected());
    m_pauseAction->setText(m_appState.isPaused() ? tr("Resume Syncing") : tr("Pause Syncing"));
}

void TavrelSyncApp::syncNow()
{
    // Not awaited: the pass reports through the status.
    if (m_syncEngine)
        m_syncEngine->syncNow();
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
        m_login = new LoginView(m_appState, m_apiClient, [this] {
            onLogin();
            // Signed in with nothing to sync yet: choosing a folder is next.
            if (m_appState.watchedFolders().isEmpty())
                addFolder();
        });
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
        if (m_options.folderChooser)
            m_settings->setFolderChooser(m_options.folderChooser);
        if (m_options.confirmation)
            m_settings->setConfirmation(m_options.confirmation);
        connect(m_settings, &SettingsView::signInRequested, this, &TavrelSyncApp::openLogin);
        m_settings->tabs()->insertTab(
            m_settings->tabs()->count() - 1,
            new ProxySettingsView(m_proxy, [this](const ProxySettings &settings) { setProxySettings(settings); }),
            tr("Network"));
    }
    m_settings->show();
    m_settings->raise();
    m_settings->activateWindow();
}

void TavrelSyncApp::setProxySettings(const ProxySettings &settings)
{
    m_proxy = settings;
    m_apiClient.setProxy(settings.networkProxy());
    qCInfo(lcApp) << "Proxy choice changed to" << int(settings.mode);
    // Stored in the background (the password may wait for the keyring);
    // the choice is in use at once.
    QCoro::Task<> saving = ProxySettings::save(m_preferences, settings);
    QCoro::connect(std::move(saving), this, [] {});
}

void TavrelSyncApp::openNotSyncedList()
{
    openSettings();
    m_settings->showNotSynced();
}

void TavrelSyncApp::addFolder()
{
    openSettings();
    m_settings->setCurrentIndex(0);
    // From the event loop: the dialog runs its own loop, and the click (or
    // sign-in) that asked for it has returned by then.
    QTimer::singleShot(0, m_settings, [settings = m_settings] {
        if (settings)
            settings->selectFolder();
    });
}
