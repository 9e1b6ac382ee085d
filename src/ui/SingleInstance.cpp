#include "ui/SingleInstance.h"

#include "platform/Logging.h"

#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>
#include <unistd.h>

namespace {
const QByteArray showCommand = QByteArrayLiteral("show\n");
}

SingleInstance::SingleInstance(QString name, QObject *parent)
    : QObject(parent)
    , m_name(name.isEmpty() ? defaultName() : std::move(name))
{
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server.nextPendingConnection()) {
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFrom(socket); });
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            readFrom(socket);
        }
    });
}

QString SingleInstance::defaultName()
{
    // Named after the application's identifier, as its desktop entry is. The
    // user's runtime directory is private to the user; the shared temporary
    // directory is the fallback, with the uid in the name.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(runtime).exists())
        return QDir(runtime).filePath(QLatin1String(kAppIdentifier) + QStringLiteral(".socket"));
    return QLatin1String(kAppIdentifier) + QStringLiteral("-%1.socket").arg(getuid());
}

bool SingleInstance::handOverToRunning(int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(showCommand);
    const bool sent = socket.waitForBytesWritten(timeoutMs);
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(timeoutMs);
    return sent;
}

bool SingleInstance::listen()
{
    if (m_server.listen(m_name))
        return true;
    if (m_server.serverError() == QAbstractSocket::AddressInUseError) {
        // Nobody answered on it (handOverToRunning failed first), so the
        // file is what a crashed copy left behind.
        QLocalServer::removeServer(m_name);
        if (m_server.listen(m_name))
            return true;
    }
    qCWarning(lcApp) << "Cannot listen for other instances on" << m_name << ":" << m_server.errorString();
    return false;
}

void SingleInstance::readFrom(QLocalSocket *socket)
{
    while (socket->canReadLine()) {
        if (socket->readLine() == showCommand)
            emit showRequested();
    }
}
