#include "support/LoopbackProxy.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QUrl>

namespace testsupport {

LoopbackProxy::LoopbackProxy()
{
    m_server.listen(QHostAddress::LocalHost);
    connect(&m_server, &QTcpServer::newConnection, this, &LoopbackProxy::accept);
}

void LoopbackProxy::requireCredentials(const QByteArray &user, const QByteArray &password)
{
    m_expectedAuthorization = "Basic " + (user + ':' + password).toBase64();
}

void LoopbackProxy::accept()
{
    while (QTcpSocket *client = m_server.nextPendingConnection()) {
        auto *head = new QByteArray;
        connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
        connect(client, &QObject::destroyed, this, [head] { delete head; });
        connect(client, &QTcpSocket::readyRead, this, [this, client, head] {
            head->append(client->readAll());
            const qsizetype end = head->indexOf("\r\n\r\n");
            if (end < 0)
                return;
            // The head is read: from now on the client's bytes are the
            // server's, and this handler reads no more.
            disconnect(client, &QTcpSocket::readyRead, this, nullptr);
            QList<QByteArray> lines = head->left(end).split('\n');
            const QByteArray rest = head->mid(end + 4);
            const QList<QByteArray> requestLine = lines.takeFirst().trimmed().split(' ');
            Seen seen;
            seen.method = requestLine.value(0);
            seen.target = requestLine.value(1);
            QByteArray forwardedHead;
            for (const QByteArray &raw : std::as_const(lines)) {
                const QByteArray line = raw.trimmed();
                const QByteArray name = line.left(line.indexOf(':')).trimmed().toLower();
                if (name == "proxy-authorization")
                    seen.proxyAuthorization = line.mid(line.indexOf(':') + 1).trimmed();
                if (name.startsWith("proxy-") || name == "connection")
                    continue;
                forwardedHead += line + "\r\n";
            }
            m_seen.append(seen);

            if (!m_expectedAuthorization.isEmpty() && seen.proxyAuthorization != m_expectedAuthorization) {
                client->write("HTTP/1.1 407 Proxy Authentication Required\r\n"
                              "Proxy-Authenticate: Basic realm=\"loopback\"\r\n"
                              "Content-Length: 0\r\nConnection: close\r\n\r\n");
                // The client closes, once it has read the answer (closing
                // first would cut off a body it is still sending).
                return;
            }
            const QUrl url(QString::fromLatin1(seen.target));
            auto *server = new QTcpSocket(client);
            connect(server, &QTcpSocket::readyRead, client, [client, server] { client->write(server->readAll()); });
            connect(client, &QTcpSocket::readyRead, server, [client, server] { server->write(client->readAll()); });
            connect(server, &QTcpSocket::disconnected, client, [client] { client->disconnectFromHost(); });
            connect(client, &QTcpSocket::disconnected, server, [server] { server->disconnectFromHost(); });
            server->connectToHost(url.host(), quint16(url.port(80)));
            QByteArray path = url.path(QUrl::FullyEncoded).toLatin1();
            if (url.hasQuery())
                path += '?' + url.query(QUrl::FullyEncoded).toLatin1();
            server->write(seen.method + ' ' + (path.isEmpty() ? "/" : path) + " HTTP/1.1\r\n" + forwardedHead
                          + "Connection: close\r\n\r\n" + rest + client->readAll());
        });
    }
}

} // namespace testsupport
