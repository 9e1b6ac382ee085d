#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <memory>

// A D-Bus session of its own with GNOME Keyring's Secret Service in it,
// unlocked with an empty password, for the tests of this program: it is
// started before anything in the process touches D-Bus and becomes the
// process's session bus. Nothing of the real desktop's keyring is reached.
class PrivateSecretService {
public:
    // The one of this process, started at the first call; the reason it
    // could not start is in whyMissing().
    static PrivateSecretService &instance();
    ~PrivateSecretService();

    bool isRunning() const { return m_whyMissing.isEmpty(); }
    const QString &whyMissing() const { return m_whyMissing; }
    // The secret under the key, as another program sees it (secret-tool);
    // empty when there is none.
    QString lookUp(const QString &key) const;

private:
    PrivateSecretService();
    QString start();

    QTemporaryDir m_dir;
    QString m_address;
    std::unique_ptr<QProcess> m_bus;
    std::unique_ptr<QProcess> m_keyring;
    QString m_whyMissing;
};
