#include "platform/NetworkReachability.h"

#include "platform/Logging.h"

#include <QNetworkInformation>

namespace {

bool isOnline(QNetworkInformation::Reachability reachability)
{
    // Unknown is taken for online: a system that cannot tell does not stop
    // the syncing.
    return reachability != QNetworkInformation::Reachability::Disconnected;
}

} // namespace

NetworkReachability::NetworkReachability(Source source, QObject *parent) : QObject(parent)
{
    if (source == Source::system)
        followSystem();
}

void NetworkReachability::followSystem()
{
    // The platform's own backend (NetworkManager on Linux). One backend
    // serves the whole process; loading it again returns the one loaded.
    // Without NetworkManager on the bus there is none, and nothing waits.
    QNetworkInformation *information =
        QNetworkInformation::loadDefaultBackend() ? QNetworkInformation::instance() : nullptr;
    if (!information || !information->supports(QNetworkInformation::Feature::Reachability)) {
        qCInfo(lcApp) << "No network information from the system; syncing does not wait for the network";
        return;
    }
    m_followsSystem = true;
    qCInfo(lcApp).noquote() << "Network information from" << information->backendName();
    connect(information, &QNetworkInformation::reachabilityChanged, this,
            [this](QNetworkInformation::Reachability reachability) { setOnline(isOnline(reachability)); });
    setOnline(isOnline(information->reachability()));
}

void NetworkReachability::setOnline(bool online)
{
    if (m_online == online)
        return;
    m_online = online;
    qCInfo(lcApp) << (online ? "The network is back" : "The network is gone");
    emit onlineChanged(online);
}
