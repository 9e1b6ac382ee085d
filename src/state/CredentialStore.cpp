#include "state/CredentialStore.h"

#include "platform/Preferences.h"

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
