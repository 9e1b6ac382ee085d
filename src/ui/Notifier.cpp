#include "ui/Notifier.h"

#include "platform/Logging.h"
#include "state/AppState.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QGuiApplication>
#include <QSystemTrayIcon>

namespace {
const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString objectPath = QStringLiteral("/org/freedesktop/Notifications");
} // namespace

Notifier::Notifier(AppState &appState, QSystemTrayIcon *tray, bool sendToDesktop, QObject *parent)
    : QObject(parent)
    , m_appState(appState)
    , m_tray(tray)
    , m_sendToDesktop(sendToDesktop)
{
    connect(&appState, &AppState::notice, this, &Notifier::post);
    connect(&appState, &AppState::syncStatusChanged, this, &Notifier::syncStatusChanged);
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
        if (!m_appState.isLoggedIn() || m_notifiedError == status.message)
            return;
        m_notifiedError = status.message;
        post(QStringLiteral("Sync failed"), status.message);
        return;
    }
}

void Notifier::post(const QString &title, const QString &text)
{
    qCInfo(lcApp).noquote() << "Notification:" << title << "-" << text;
    emit posted(title, text);
    if (!m_sendToDesktop)
        return;
    if (QDBusConnection::sessionBus().isConnected())
        sendOverDBus(title, text);
    else
        showOnTray(title, text);
}

void Notifier::sendOverDBus(const QString &title, const QString &text)
{
    QDBusMessage call = QDBusMessage::createMethodCall(service, objectPath, service, QStringLiteral("Notify"));
    // The icon and the desktop entry share the application's desktop id.
    const QString desktopId = QGuiApplication::desktopFileName();
    const QVariantMap hints{{QStringLiteral("desktop-entry"), desktopId}};
    call << QGuiApplication::applicationDisplayName() << uint(0) << desktopId << title << text << QStringList() << hints
         << int(-1);
    auto *watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, title, text] {
        watcher->deleteLater();
        if (!watcher->isError())
            return;
        qCInfo(lcApp).noquote() << "No desktop notification service:" << watcher->error().message();
        showOnTray(title, text);
    });
}

void Notifier::showOnTray(const QString &title, const QString &text)
{
    if (m_tray && m_tray->isVisible())
        m_tray->showMessage(title, text, QSystemTrayIcon::Information);
}
