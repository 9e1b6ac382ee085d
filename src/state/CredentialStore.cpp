#include "state/CredentialStore.h"

#include "api/Records.h"
#include "platform/Logging.h"
#include "platform/Preferences.h"
#include "platform/SecretStore.h"

namespace {

QString fullKey(const QString &shortKey)
{
    return QStringLiteral("tavrel_") + shortKey;
}

} // namespace

const QStringList &CredentialStore::shortKeys()
{
    static const QStringList keys{
        QStringLiteral("api_token"), QStringLiteral("server_url"), QStringLiteral("user_email"),
        QStringLiteral("user_name"), QStringLiteral("user_org"),
    };
    return keys;
}

std::optional<QString> CredentialStore::read(const QString &shortKey) const
{
    return m_preferences.string(fullKey(shortKey));
}

void CredentialStore::write(const QString &shortKey, const QString &value)
{
    m_preferences.setString(fullKey(shortKey), value);
}

void CredentialStore::clearAll()
{
    for (const QString &shortKey : shortKeys())
        m_preferences.remove(fullKey(shortKey));
}

CredentialStore::SecretPlace CredentialStore::tokenPlace(const Preferences &preferences)
{
    // One token per account and server, so that another account's session
    // in the same keyring is never taken for this one.
    const QString email = preferences.string(fullKey(QStringLiteral("user_email"))).value_or(QString());
    const QString server = preferences.string(fullKey(QStringLiteral("server_url"))).value_or(QString());
    return {fullKey(QStringLiteral("api_token")), QStringLiteral("%1 on %2").arg(email, server)};
}

std::optional<QString> CredentialStore::loadSecret(Preferences &preferences, const SecretPlace &place)
{
    const std::optional<QString> inFile = preferences.string(place.preferenceKey);
    if (!SecretStore::isAvailable())
        return inFile;
    if (inFile) {
        // Written by an earlier version, or on a desktop without a keyring:
        // it is the newest, and moves over. Should the keyring refuse it, it
        // stays where it is, still in use.
        QCoro::Task<bool> writing = SecretStore::write(place.keyringKey, *inFile);
        if (QCoro::waitFor(writing)) {
            preferences.remove(place.preferenceKey);
            qCInfo(lcApp).noquote() << "Moved" << place.preferenceKey << "from the preferences file to the keyring";
        }
        return inFile;
    }
    const SecretStore::Reading reading = SecretStore::readNow(place.keyringKey);
    if (reading.outcome == SecretStore::Reading::Outcome::found)
        return reading.secret;
    return std::nullopt;
}

QCoro::Task<> CredentialStore::storeSecret(Preferences &preferences, SecretPlace place, QString secret)
{
    if (SecretStore::isAvailable()) {
        QCoro::Task<bool> writing = SecretStore::write(place.keyringKey, secret);
        if (co_await std::move(writing)) {
            preferences.remove(place.preferenceKey);
            co_return;
        }
        qCWarning(lcApp).noquote() << "The keyring refused" << place.preferenceKey
                                   << "so it is kept in the preferences file";
    }
    preferences.setString(place.preferenceKey, secret);
}

QCoro::Task<> CredentialStore::forgetSecret(Preferences &preferences, SecretPlace place)
{
    preferences.remove(place.preferenceKey);
    if (SecretStore::isAvailable()) {
        QCoro::Task<bool> removing = SecretStore::remove(place.keyringKey);
        co_await std::move(removing);
    }
}

std::optional<QString> CredentialStore::loadToken(Preferences &preferences)
{
    return loadSecret(preferences, tokenPlace(preferences));
}

QCoro::Task<> CredentialStore::storeSession(Preferences &preferences, QString serverURL, UserInfo user, QString token)
{
    const SecretPlace previous = tokenPlace(preferences);
    CredentialStore credentials(preferences);
    credentials.write(QStringLiteral("server_url"), serverURL);
    credentials.write(QStringLiteral("user_email"), user.email);
    credentials.write(QStringLiteral("user_name"), user.displayName);
    credentials.write(QStringLiteral("user_org"), user.organization);
    const SecretPlace place = tokenPlace(preferences);
    if (previous != place && SecretStore::isAvailable()) {
        QCoro::Task<bool> removing = SecretStore::remove(previous.keyringKey);
        co_await std::move(removing);
    }
    QCoro::Task<> storing = storeSecret(preferences, place, token);
    co_await std::move(storing);
}

QCoro::Task<> CredentialStore::forgetSession(Preferences &preferences)
{
    const SecretPlace place = tokenPlace(preferences);
    CredentialStore(preferences).clearAll();
    QCoro::Task<> forgetting = forgetSecret(preferences, place);
    co_await std::move(forgetting);
}
