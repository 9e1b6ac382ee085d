#pragma once

#include <QCoroTask>
#include <QString>
#include <optional>

// The desktop's keyring (the Secret Service of GNOME Keyring or KeePassXC,
// or KWallet) through QtKeychain: secrets of the service "TavrelSync", each
// under a key of the caller's making. The only code that talks to
// QtKeychain.
//
// Every operation is asynchronous; callers that need a secret before the
// event loop runs (the stored session at start) use readNow().
class SecretStore {
public:
    // Whether a keyring answers on the D-Bus session bus: a Secret Service
    // or KWallet registered there or startable on demand. Asked once per
    // process and remembered, so that a desktop without one (a bare window
    // manager, a headless test) falls back at once instead of waiting for
    // D-Bus time-outs; the log says so once.
    static bool isAvailable();

    struct Reading {
        enum class Outcome { found, notFound, failed };
        Outcome outcome = Outcome::failed;
        QString secret;
    };
    static QCoro::Task<Reading> read(QString key);
    // Runs a local event loop until the keyring answers: for the start only.
    static Reading readNow(const QString &key);
    // False when the keyring refused or failed (it logs why).
    static QCoro::Task<bool> write(QString key, QString secret);
    // True also when there was nothing under the key.
    static QCoro::Task<bool> remove(QString key);

    // How long an operation may take before it counts as failed: long
    // enough for the user to answer the keyring's unlock prompt.
    static constexpr int answerTimeoutMs = 120'000;
};
