#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// A bookmark is opaque bytes naming a folder by its absolute path and its
// identity (device, inode), so that a folder replaced by another one at the
// same path is recognised as stale.
// Which folder a path led to: the same device and inode is the same folder,
// wherever it was reached from.
struct FolderIdentity {
    qint64 device = 0;
    qint64 inode = 0;
    bool operator==(const FolderIdentity &) const = default;
};

namespace Bookmarks {

struct Resolved {
    QString path;
    bool isStale = false;
    // The identity the bookmark recorded when it was made.
    FolderIdentity identity;
};

// Fails (nullopt) when the folder cannot be examined.
std::optional<QByteArray> create(const QString &folderPath);
// Fails when the bytes cannot be read or no folder exists at the path.
std::optional<Resolved> resolve(const QByteArray &bookmark);

// Nothing to grant on this platform; kept so callers read like the design.
inline bool startAccessing(const QString &) { return true; }
inline void stopAccessing(const QString &) {}

} // namespace Bookmarks
