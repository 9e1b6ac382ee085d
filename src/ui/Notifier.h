#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <optional>

class AppState;
class QSystemTrayIcon;

// Desktop notifications for what the user should hear about with the panel
// closed: every AppState notice (a conflict copy made, files moved to the
// Trash, a question waiting) and a sync error, once per distinct error until
// a pass succeeds again. Nothing else, so a sync never floods the desktop.
//
// They go to the desktop's notification service (freedesktop
// notifications over the session D-Bus); where there is none, to the tray
// icon's own message, when the icon is shown.
class Notifier : public QObject {
    Q_OBJECT
public:
    // With sendToDesktop false, notifications are only emitted as posted()
    // (for a run that must not reach the user's desktop).
    Notifier(AppState &appState, QSystemTrayIcon *tray, bool sendToDesktop, QObject *parent = nullptr);

signals:
    void posted(const QString &title, const QString &text);

private:
    void post(const QString &title, const QString &text);
    void syncStatusChanged();
    void sendOverDBus(const QString &title, const QString &text);
    void showOnTray(const QString &title, const QString &text);

    AppState &m_appState;
    QPointer<QSystemTrayIcon> m_tray;
    bool m_sendToDesktop;
    std::optional<QString> m_notifiedError;
};
