#include "keyring/PrivateSecretService.h"

#include "platform/SecretStore.h"
#include "support/TestSupport.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QStandardPaths>

namespace {
constexpr int startMs = 10'000;
} // namespace

PrivateSecretService &PrivateSecretService::instance()
{
    static PrivateSecretService service;
    return service;
}

PrivateSecretService::PrivateSecretService()
{
    m_whyMissing = start();
}

PrivateSecretService::~PrivateSecretService()
{
    for (QProcess *process : {m_keyring.get(), m_bus.get()}) {
        if (process && process->state() != QProcess::NotRunning) {
            process->terminate();
            if (!process->waitForFinished(3000))
                process->kill();
            process->waitForFinished(3000);
        }
    }
}

QString PrivateSecretService::start()
{
    for (const char *program : {"dbus-daemon", "gnome-keyring-daemon", "secret-tool"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty())
            return QStringLiteral("%1 is not installed (packages dbus, gnome-keyring, libsecret-tools)").arg(program);
    if (!m_dir.isValid())
        return QStringLiteral("no temporary folder");

    // The daemons keep their files (sockets, the keyring file) in here.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString runtime = m_dir.filePath(QStringLiteral("run"));
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    environment.insert(QStringLiteral("HOME"), m_dir.path());
    environment.insert(QStringLiteral("XDG_DATA_HOME"), m_dir.filePath(QStringLiteral("data")));
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));

    m_bus = std::make_unique<QProcess>();
    m_bus->setProcessEnvironment(environment);
    m_bus->setProcessChannelMode(QProcess::SeparateChannels);
    m_bus->start(QStringLiteral("dbus-daemon"),
                 {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                  QStringLiteral("--print-address=1")});
    if (!m_bus->waitForStarted(startMs))
        return QStringLiteral("dbus-daemon does not start");
    while (!m_bus->canReadLine())
        if (!m_bus->waitForReadyRead(startMs))
            return QStringLiteral("dbus-daemon printed no address");
    m_address = QString::fromUtf8(m_bus->readLine()).trimmed();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);

    // An empty line on stdin: the login keyring is made, unlocked, with an
    // empty password.
    m_keyring = std::make_unique<QProcess>();
    m_keyring->setProcessEnvironment(environment);
    m_keyring->start(QStringLiteral("gnome-keyring-daemon"),
                     {QStringLiteral("--foreground"), QStringLiteral("--unlock"),
                      QStringLiteral("--components=secrets")});
    if (!m_keyring->waitForStarted(startMs))
        return QStringLiteral("gnome-keyring-daemon does not start");
    m_keyring->write("\n");
    m_keyring->closeWriteChannel();

    // The process's own bus from now on (nothing used D-Bus before).
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());
    // Ready once the service has its name and the login keyring is made.
    const QString loginKeyring = m_dir.filePath(QStringLiteral("data/keyrings/login.keyring"));
    const bool ready = bool(testsupport::waitUntil(
        [&] {
            return QDBusConnection::sessionBus().interface()->isServiceRegistered(QStringLiteral("org.freedesktop.secrets"))
                && QFileInfo::exists(loginKeyring);
        },
        "the private keyring to answer"));
    if (!ready)
        return QStringLiteral("the private GNOME Keyring does not answer");
    if (!SecretStore::isAvailable())
        return QStringLiteral("the Secret Service is not seen on the private bus");
    return QString();
}

QString PrivateSecretService::lookUp(const QString &key) const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
    QProcess tool;
    tool.setProcessEnvironment(environment);
    // QtKeychain's attributes: the service as "server", the key as "user".
    tool.start(QStringLiteral("secret-tool"),
               {QStringLiteral("lookup"), QStringLiteral("server"), QStringLiteral("TavrelSync"), QStringLiteral("user"),
                key});
    tool.waitForFinished(startMs);
    return QString::fromUtf8(tool.readAllStandardOutput());
}
