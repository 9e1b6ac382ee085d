#pragma once

#include <QCoroTask>
#include <QNetworkProxy>
#include <QString>
#include <optional>

class Preferences;

// How requests reach the service: directly, through the desktop's proxy
// configuration (the default: its settings, or http_proxy, https_proxy and
// no_proxy), or through an HTTP proxy given by hand. Stored as "proxyMode"
// ("none", "system", "manual"), "proxyHost", "proxyPort" and "proxyUser";
// the password is a secret (see CredentialStore: the keyring, else
// "proxyPassword").
struct ProxySettings {
    enum class Mode { none, system, manual };
    Mode mode = Mode::system;
    QString host;
    int port = 8080;
    QString user;
    QString password;
    bool operator==(const ProxySettings &) const = default;

    // Waits for the keyring in a local event loop: for the start only.
    static ProxySettings load(Preferences &preferences);
    static QCoro::Task<> save(Preferences &preferences, ProxySettings settings);

    // What the client is given: none for the desktop's configuration.
    std::optional<QNetworkProxy> networkProxy() const;
};
