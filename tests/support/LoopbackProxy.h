#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>

namespace testsupport {

// A small HTTP proxy on loopback: it takes requests in absolute form
// ("POST http://127.0.0.1:<port>/path HTTP/1.1"), forwards each to its
// server in origin form over a connection of its own, and passes the bytes
// both ways until either side closes. Each forwarded request is one
// connection ("Connection: close"), so that every request is seen. With
// credentials set, a request without them is answered 407, as a proxy
// asking for a password does.
class LoopbackProxy : public QObject {
public:
    struct Seen {
        QByteArray method;
        QByteArray target; // as the client wrote it: the absolute URI
        QByteArray proxyAuthorization;
    };

    LoopbackProxy();
    quint16 port() const { return m_server.serverPort(); }
    void requireCredentials(const QByteArray &user, const QByteArray &password);
    // Every request head received, answered 407 or forwarded.
    QList<Seen> seen() const { return m_seen; }

private:
    void accept();

    QTcpServer m_server;
    QByteArray m_expectedAuthorization;
    QList<Seen> m_seen;
};

} // namespace testsupport
