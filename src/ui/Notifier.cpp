#include "ui/Notifier.h"

#include "platform/Logging.h"
#include "state/AppState.h"
#include "state/NoticeTitles.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>
#include <QSystemTrayIcon>

namespace {
const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString objectPath = QStringLiteral("/org/freedesktop/Notifications");
// Notification servers keep at most this many notifications' buttons
// meaningful; older ones are forgotten.
constexpr int keptNotifications = 32;
} // namespace

Notifier::Notifier(AppState &appState, QSystemTrayIcon *tray, bool sendToDesktop, QObject *parent)
    : QObject(parent)
    , m_appState(appState)
    , m_tray(tray)
    , m_sendToDesktop(sendToDesktop)
{
    connect(&appState, &AppState::notice, this, &Notifier::notice);
    connect(&appState, &AppState::syncStatusChanged, this, &Notifier::syncStatusChanged);
    connect(&appState, &AppState::sessionRejectedChanged, this, &Notifier::sessionRejectedChanged);
    if (m_tray)
        connect(m_tray, &QSystemTrayIcon::messageClicked, this, [this] {
            if (m_lastButtons.isEmpty())
                return;
            const Button &first = m_lastButtons.front();
            // A click is no answer to a question: it shows where to answer.
            if (first.action == Action::removeFiles || first.action == Action::restoreFiles)
                invoke({Action::showPanel, QString(), first.folder});
            else
                invoke(first);
        });
    if (m_sendToDesktop && QDBusConnection::sessionBus().isConnected()) {
        QDBusConnection::sessionBus().connect(service, objectPath, service, QStringLiteral("ActionInvoked"), this,
                                              SLOT(desktopActionInvoked(uint, QString)));
        askCapabilities();
    }
}

void Notifier::askCapabilities()
{
    const QDBusMessage call = QDBusMessage::createMethodCall(service, objectPath, service, QStringLiteral("GetCapabilities"));
    auto *watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        const QDBusPendingReply<QStringList> reply = *watcher;
        if (reply.isError())
            return;
        m_bodyMarkup = reply.value().contains(QStringLiteral("body-markup"));
        m_actions = reply.value().contains(QStringLiteral("actions"));
    });
}

void Notifier::notice(const QString &title, const QString &text, const QString &folder)
{
    QList<Button> buttons;
    if (!folder.isEmpty()) {
        if (title == noticetitles::filesRemoved())
            buttons = {{Action::restoreFiles, tr("Restore"), folder}, {Action::removeFiles, tr("Remove"), folder}};
        else if (title == noticetitles::conflictCopyMade())
            buttons = {{Action::showConflicts, tr("Show Conflicts"), folder}};
        else
            buttons = {{Action::openFolder, tr("Open Folder"), folder}};
    }
    post(title, text, buttons);
}

void Notifier::syncStatusChanged()
{
    const SyncStatus status = m_appState.syncStatus();
    switch (status.kind) {
    case SyncStatus::Kind::syncing:
        // Passes that fail the same way one after another say it once.
        return;
    case SyncStatus::Kind::idle:
        // A pass went well (or the session ended): the next failure is news.
        m_notifiedError.reset();
        return;
    case SyncStatus::Kind::error:
        // A refused session has a notification of its own; without a
        // network a failure to connect is no news.
        if (!m_appState.isLoggedIn() || m_appState.sessionRejected() || m_appState.isOffline()
            || m_notifiedError == status.message)
            return;
        m_notifiedError = status.message;
        post(tr("Sync failed"), status.message);
        return;
    }
}

void Notifier::sessionRejectedChanged()
{
    if (!m_appState.sessionRejected())
        return;
    const auto user = m_appState.userInfo();
    const QString text =
        user && !user->email.isEmpty()
            ? tr("The server no longer accepts the session for %1. Syncing waits until you sign in again.")
                  .arg(user->email)
            : tr("The server no longer accepts the session. Syncing waits until you sign in again.");
    post(tr("Sign in again"), text, {{Action::signIn, tr("Sign In..."), QString()}});
}

void Notifier::invoke(const Button &button)
{
    qCInfo(lcApp).noquote() << "Notification action:" << button.label;
    emit actionInvoked(button.action, button.folder);
}

void Notifier::desktopActionInvoked(uint id, const QString &key)
{
    const auto shown = m_shownButtons.constFind(id);
    if (shown == m_shownButtons.cend())
        return;
    bool ok = false;
    const int index = key.toInt(&ok);
    if (ok && index >= 0 && index < shown->size())
        invoke(shown->at(index));
}

void Notifier::post(const QString &title, const QString &text, const QList<Button> &buttons)
{
    qCInfo(lcApp).noquote() << "Notification:" << title << "-" << text;
    m_lastButtons = buttons;
    emit posted(title, text);
    if (!m_sendToDesktop)
        return;
    if (QDBusConnection::sessionBus().isConnected())
        sendOverDBus(title, text, buttons);
    else
        showOnTray(title, text);
}

void Notifier::sendOverDBus(const QString &title, const QString &text, const QList<Button> &buttons)
{
    QDBusMessage call = QDBusMessage::createMethodCall(service, objectPath, service, QStringLiteral("Notify"));
    // The icon and the desktop entry share the application's desktop id.
    const QString desktopId = QGuiApplication::desktopFileName();
    const QVariantMap hints{{QStringLiteral("desktop-entry"), desktopId}};
    // A file name is text, not markup: "Tom & Jerry <i>draft" is shown as
    // typed where the service reads markup.
    const QString body = m_bodyMarkup ? text.toHtmlEscaped() : text;
    // Buttons are named by their index; a server without them gets none
    // (the panel and the settings offer the same).
    QStringList actions;
    if (m_actions)
        for (qsizetype i = 0; i < buttons.size(); ++i)
            actions << QString::number(i) << buttons.at(i).label;
    call << QGuiApplication::applicationDisplayName() << uint(0) << desktopId << title << body << actions << hints
         << int(-1);
    auto *watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, title, text, buttons] {
        watcher->deleteLater();
        const QDBusPendingReply<uint> reply = *watcher;
        if (!reply.isError()) {
            if (!buttons.isEmpty()) {
                if (m_shownButtons.size() >= keptNotifications)
                    m_shownButtons.clear();
                m_shownButtons.insert(reply.value(), buttons);
            }
            return;
        }
        qCInfo(lcApp).noquote() << "No desktop notification service:" << watcher->error().message();
        showOnTray(title, text);
    });
}

void Notifier::showOnTray(const QString &title, const QString &text)
{
    if (m_tray && m_tray->isVisible())
        m_tray->showMessage(title, text, QSystemTrayIcon::Information);
}
