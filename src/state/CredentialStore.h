#pragma once

#include <QCoroTask>
#include <QString>
#include <QStringList>
#include <optional>

class Preferences;
struct UserInfo;

// The five session keys, stored as "tavrel_" + short key, and the secrets
// (the bearer token, a proxy's password). A secret lives in the desktop's
// keyring where one answers (see SecretStore), else in the preferences file
// as it always did; one found in the file while a keyring answers moves
// there at the next start and leaves the file.
class CredentialStore {
public:
    explicit CredentialStore(Preferences &preferences) : m_preferences(preferences) {}

    static const QStringList &shortKeys(); // api_token, server_url, user_email, user_name, user_org

    // The preferences alone: for the keys that are no secret.
    std::optional<QString> read(const QString &shortKey) const;
    void write(const QString &shortKey, const QString &value);
    // All five keys from the preferences (the keyring's token stays: see
    // forgetSession).
    void clearAll();

    // Where a secret lives: its key in the preferences file, used without a
    // keyring, and its key in the keyring.
    struct SecretPlace {
        QString preferenceKey;
        QString keyringKey;
        bool operator==(const SecretPlace &) const = default;
    };
    // The token's place for the stored server and e-mail.
    static SecretPlace tokenPlace(const Preferences &preferences);

    // Waits for the keyring in a local event loop: for the start only. A
    // secret still in the preferences moves to the keyring.
    static std::optional<QString> loadSecret(Preferences &preferences, const SecretPlace &place);
    static QCoro::Task<> storeSecret(Preferences &preferences, SecretPlace place, QString secret);
    static QCoro::Task<> forgetSecret(Preferences &preferences, SecretPlace place);

    // The stored session's token, at the start.
    static std::optional<QString> loadToken(Preferences &preferences);
    // A fresh sign-in: its server, user and token, in place of the stored
    // session (whose token, under another account, leaves the keyring).
    static QCoro::Task<> storeSession(Preferences &preferences, QString serverURL, UserInfo user, QString token);
    // Sign-out: the five keys and the token, wherever it is.
    static QCoro::Task<> forgetSession(Preferences &preferences);

private:
    Preferences &m_preferences;
};
