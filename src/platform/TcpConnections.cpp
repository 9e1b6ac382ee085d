#include "platform/TcpConnections.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <dirent.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The remote port of a connected TCP socket, or 0 for anything else (a
// file, a listening socket, a UNIX socket, a closed descriptor).
quint16 remotePortOf(int fd)
{
    int type = 0;
    socklen_t length = sizeof type;
    if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_STREAM)
        return 0;
    sockaddr_storage peer{};
    socklen_t peerLength = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &peerLength) != 0)
        return 0;
    if (peer.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in &>(peer).sin_port);
    if (peer.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6 &>(peer).sin6_port);
    return 0;
}

template <typename Visit>
void forEachConnectionTo(quint16 remotePort, Visit visit)
{
    DIR *descriptors = ::opendir("/proc/self/fd");
    if (!descriptors)
        return;
    const int own = ::dirfd(descriptors);
    while (const dirent *entry = ::readdir(descriptors)) {
        char *end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end != entry->d_name && *end == '\0' && fd != own && remotePortOf(int(fd)) == remotePort)
            visit(int(fd));
    }
    ::closedir(descriptors);
}

} // namespace

int setLowDelayOnConnectionsTo(quint16 remotePort)
{
    int changed = 0;
    forEachConnectionTo(remotePort, [&changed](int fd) {
        int on = 0;
        socklen_t length = sizeof on;
        if (::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, &length) == 0 && !on) {
            on = 1;
            if (::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0)
                ++changed;
        }
    });
    return changed;
}

qint64 unsentBytesOnConnectionsTo(quint16 remotePort)
{
    qint64 total = 0;
    forEachConnectionTo(remotePort, [&total](int fd) {
        int queued = 0;
        if (::ioctl(fd, SIOCOUTQ, &queued) == 0 && queued > 0)
            total += queued;
    });
    return total;
}
