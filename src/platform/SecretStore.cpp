#include "platform/SecretStore.h"

#include "platform/Logging.h"

#include <QCoroSignal>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <chrono>
#include <memory>
#include <qt6keychain/keychain.h>

namespace {

const QString serviceName = QStringLiteral("TavrelSync");

// The names under which a keyring QtKeychain can use answers: the Secret
// Service (GNOME Keyring, KeePassXC, recent KWallet) and KWallet's own.
const QStringList keyringServices{QStringLiteral("org.freedesktop.secrets"), QStringLiteral("org.kde.kwalletd6"),
                                  QStringLiteral("org.kde.kwalletd5")};

bool findKeyring()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        qCInfo(lcApp) << "No D-Bus session bus, so no keyring: secrets are kept in the preferences file";
        return false;
    }
    QDBusConnectionInterface *names = bus.interface();
    const QStringList activatable = names->activatableServiceNames();
    for (const QString &service : keyringServices) {
        if (names->isServiceRegistered(service) || activatable.contains(service)) {
            qCInfo(lcApp).noquote() << "Secrets are kept in the keyring" << service;
            return true;
        }
    }
    qCInfo(lcApp) << "No keyring answers on the D-Bus session bus: secrets are kept in the preferences file";
    return false;
}

// A finished job, read by its caller and then deleted.
struct LaterDeleter {
    void operator()(QKeychain::Job *job) const { job->deleteLater(); }
};
using FinishedJob = std::unique_ptr<QKeychain::Job, LaterDeleter>;

// Starts the job and waits for its end; none when it took too long. A job
// that has not ended cannot be deleted (the keyring's answer would reach
// it), so it is left to delete itself when it does.
QCoro::Task<FinishedJob> finished(QKeychain::Job *job)
{
    job->setAutoDelete(false);
    QCoro::Task<std::optional<QKeychain::Job *>> ending =
        qCoro(job, &QKeychain::Job::finished, std::chrono::milliseconds(SecretStore::answerTimeoutMs));
    job->start();
    const std::optional<QKeychain::Job *> ended = co_await std::move(ending);
    if (!ended) {
        job->setAutoDelete(true);
        co_return FinishedJob();
    }
    co_return FinishedJob(job);
}

} // namespace

bool SecretStore::isAvailable()
{
    static const bool available = findKeyring();
    return available;
}

QCoro::Task<SecretStore::Reading> SecretStore::read(QString key)
{
    auto *reader = new QKeychain::ReadPasswordJob(serviceName);
    reader->setKey(key);
    QCoro::Task<FinishedJob> ending = finished(reader);
    const FinishedJob job = co_await std::move(ending);
    if (!job) {
        qCWarning(lcApp) << "The keyring did not answer a read in time";
        co_return Reading{};
    }
    switch (job->error()) {
    case QKeychain::NoError:
        co_return Reading{Reading::Outcome::found, reader->textData()};
    case QKeychain::EntryNotFound:
        co_return Reading{Reading::Outcome::notFound, QString()};
    default:
        qCWarning(lcApp).noquote() << "Cannot read from the keyring:" << job->errorString();
        co_return Reading{};
    }
}

SecretStore::Reading SecretStore::readNow(const QString &key)
{
    QCoro::Task<Reading> reading = read(key);
    return QCoro::waitFor(reading);
}

QCoro::Task<bool> SecretStore::write(QString key, QString secret)
{
    auto *writer = new QKeychain::WritePasswordJob(serviceName);
    writer->setKey(key);
    writer->setTextData(secret);
    QCoro::Task<FinishedJob> ending = finished(writer);
    const FinishedJob job = co_await std::move(ending);
    if (!job) {
        qCWarning(lcApp) << "The keyring did not answer a write in time";
        co_return false;
    }
    if (job->error() != QKeychain::NoError) {
        qCWarning(lcApp).noquote() << "Cannot write to the keyring:" << job->errorString();
        co_return false;
    }
    co_return true;
}

QCoro::Task<bool> SecretStore::remove(QString key)
{
    auto *remover = new QKeychain::DeletePasswordJob(serviceName);
    remover->setKey(key);
    QCoro::Task<FinishedJob> ending = finished(remover);
    const FinishedJob job = co_await std::move(ending);
    if (!job) {
        qCWarning(lcApp) << "The keyring did not answer a removal in time";
        co_return false;
    }
    if (job->error() != QKeychain::NoError && job->error() != QKeychain::EntryNotFound) {
        qCWarning(lcApp).noquote() << "Cannot remove from the keyring:" << job->errorString();
        co_return false;
    }
    co_return true;
}
