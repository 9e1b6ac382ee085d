#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class Preferences;

// The five session keys, stored as "tavrel_" + short key.
class CredentialStore {
public:
    explicit CredentialStore(Preferences &preferences) : m_preferences(preferences) {}

    static const QStringList &shortKeys(); // api_token, server_url, user_email, user_name, user_org

    std::optional<QString> read(const QString &shortKey) const;
    void write(const QString &shortKey, const QString &value);
    void clearAll();

private:
    Preferences &m_preferences;
};
