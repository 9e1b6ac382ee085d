#pragma once

#include <QObject>

// Whether this computer is on a network, as the system tells it (through
// Qt's network information, which on Linux asks NetworkManager over D-Bus).
// Only "no network at all" counts as offline: a local network without the
// internet may still hold the server. Where the system has no such service
// (a bare system, a headless session) the answer is always "online", and
// the program behaves as if it could not tell.
class NetworkReachability : public QObject {
    Q_OBJECT
public:
    enum class Source {
        system, // follows the system's answer
        manual, // follows setOnline() alone: what tests use, a network cable not being theirs to pull
    };

    explicit NetworkReachability(Source source = Source::system, QObject *parent = nullptr);

    bool online() const { return m_online; }
    // Whether the system answers at all (always false for Source::manual).
    bool followsSystem() const { return m_followsSystem; }
    // Emits onlineChanged when the value changes.
    void setOnline(bool online);

signals:
    void onlineChanged(bool online);

private:
    void followSystem();

    bool m_online = true;
    bool m_followsSystem = false;
};
