#include "state/ProxySettings.h"

#include "platform/Preferences.h"
#include "state/CredentialStore.h"

namespace {

const QString modeKey = QStringLiteral("proxyMode");
const QString hostKey = QStringLiteral("proxyHost");
const QString portKey = QStringLiteral("proxyPort");
const QString userKey = QStringLiteral("proxyUser");
const CredentialStore::SecretPlace passwordPlace{QStringLiteral("proxyPassword"), QStringLiteral("proxy password")};

const QString noneName = QStringLiteral("none");
const QString manualName = QStringLiteral("manual");
const QString systemName = QStringLiteral("system");

} // namespace

ProxySettings ProxySettings::load(Preferences &preferences)
{
    ProxySettings settings;
    const QString mode = preferences.string(modeKey).value_or(systemName);
    // Anything unknown is the default.
    settings.mode = mode == noneName ? Mode::none : mode == manualName ? Mode::manual : Mode::system;
    settings.host = preferences.string(hostKey).value_or(QString());
    const double port = preferences.doubleValue(portKey).value_or(settings.port);
    if (port >= 1 && port <= 65535)
        settings.port = int(port);
    settings.user = preferences.string(userKey).value_or(QString());
    if (!settings.user.isEmpty())
        settings.password = CredentialStore::loadSecret(preferences, passwordPlace).value_or(QString());
    return settings;
}

QCoro::Task<> ProxySettings::save(Preferences &preferences, ProxySettings settings)
{
    preferences.setString(modeKey, settings.mode == Mode::none     ? noneName
                                       : settings.mode == Mode::manual ? manualName
                                                                       : systemName);
    preferences.setString(hostKey, settings.host);
    preferences.setDouble(portKey, settings.port);
    preferences.setString(userKey, settings.user);
    if (settings.user.isEmpty() || settings.password.isEmpty()) {
        QCoro::Task<> forgetting = CredentialStore::forgetSecret(preferences, passwordPlace);
        co_await std::move(forgetting);
    } else {
        QCoro::Task<> storing = CredentialStore::storeSecret(preferences, passwordPlace, settings.password);
        co_await std::move(storing);
    }
}

std::optional<QNetworkProxy> ProxySettings::networkProxy() const
{
    switch (mode) {
    case Mode::none:
        return QNetworkProxy(QNetworkProxy::NoProxy);
    case Mode::manual:
        // Without a host there is nothing to go through: direct.
        if (host.trimmed().isEmpty())
            return QNetworkProxy(QNetworkProxy::NoProxy);
        return QNetworkProxy(QNetworkProxy::HttpProxy, host.trimmed(), quint16(port), user, password);
    case Mode::system:
        break;
    }
    return std::nullopt;
}
