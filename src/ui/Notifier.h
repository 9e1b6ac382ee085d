#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <optional>

class AppState;
class QSystemTrayIcon;

// Desktop notifications for what the user should hear about with the panel
// closed: every AppState notice (conflict copies made, files moved to the
// Trash, a question waiting; the engine sends one per kind per pass), a
// sync error, once per distinct error until a pass succeeds again, and a
// session the server refused. Nothing else, so a sync never floods the
// desktop.
//
// They go to the desktop's notification service (freedesktop
// notifications over the session D-Bus), with buttons where it shows them
// ("Remove" / "Restore", "Show Conflicts", "Open Folder", "Sign In...") and
// the body escaped where it reads markup; where there is none, to the tray
// icon's own message, a click on which takes the notice's first action (or,
// for a question, opens the panel where it is answered).
class Notifier : public QObject {
    Q_OBJECT
public:
    // What a button of a notification does; `folder` is the watched folder
    // it is about, when any.
    enum class Action { signIn, openFolder, showConflicts, removeFiles, restoreFiles, showPanel };
    struct Button {
        Action action;
        QString label;
        QString folder;
        bool operator==(const Button &) const = default;
    };

    // With sendToDesktop false, notifications are only emitted as posted()
    // (for a run that must not reach the user's desktop).
    Notifier(AppState &appState, QSystemTrayIcon *tray, bool sendToDesktop, QObject *parent = nullptr);

    // The buttons the last notification offered.
    QList<Button> lastButtons() const { return m_lastButtons; }
    // Takes one of them, as a click on it does.
    void invoke(const Button &button);

signals:
    void posted(const QString &title, const QString &text);
    void actionInvoked(Notifier::Action action, const QString &folder);

private slots:
    void desktopActionInvoked(uint id, const QString &key);

private:
    void notice(const QString &title, const QString &text, const QString &folder);
    void post(const QString &title, const QString &text, const QList<Button> &buttons = {});
    void syncStatusChanged();
    void sessionRejectedChanged();
    void askCapabilities();
    void sendOverDBus(const QString &title, const QString &text, const QList<Button> &buttons);
    void showOnTray(const QString &title, const QString &text);

    AppState &m_appState;
    QPointer<QSystemTrayIcon> m_tray;
    bool m_sendToDesktop;
    std::optional<QString> m_notifiedError;
    // What the desktop's notification service understands, once it said.
    bool m_bodyMarkup = false;
    bool m_actions = false;
    QList<Button> m_lastButtons;
    QHash<uint, QList<Button>> m_shownButtons; // by notification id
};
