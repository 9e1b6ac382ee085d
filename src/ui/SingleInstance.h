#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

// Keeps one running copy of the application per user. The first copy
// listens on a per-user local socket; a later copy connects, sends "show"
// and exits, and the first brings its panel forward. A socket file left by
// a copy that crashed is removed and taken over.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // name: the socket's name or full path; empty gives the per-user default.
    explicit SingleInstance(QString name = QString(), QObject *parent = nullptr);

    static QString defaultName();
    const QString &name() const { return m_name; }

    // True when another copy answered and was told to show itself.
    bool handOverToRunning(int timeoutMs = 1000);
    // Starts listening; false (with the reason logged) when that fails.
    bool listen();
    bool isListening() const { return m_server.isListening(); }

signals:
    void showRequested();

private:
    void readFrom(class QLocalSocket *socket);

    QString m_name;
    QLocalServer m_server;
};
