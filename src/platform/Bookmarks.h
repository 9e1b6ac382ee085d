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

// The extended attribute that carries a chosen folder's mark on the folder
// itself, so that the folder is recognised when its drive comes back under
// another device number.
inline constexpr const char *markAttribute = "user.com.tavrel.TavrelSync.id";

struct Resolved {
    QString path;
    bool isStale = false;
    // The identity the bookmark recorded when it was made.
    FolderIdentity identity;
    // The random mark made when the folder was chosen (empty in bookmarks
    // made before marks were kept). Each choice gets a new one, so it also
    // tells one choice of a folder from the next.
    QString mark;
    // The mark was written on the folder when the bookmark was made (member
    // "marked"). A folder at the recorded identity that carries no mark at
    // all is then another one: a new file system that reuses the device and
    // inode numbers, such as a fresh tmpfs or a drive formatted again.
    bool markedOnFolder = false;
    // resolve() only: the identity of the folder now at the path, which
    // differs from `identity` for a folder whose drive was mounted again.
    FolderIdentity current;
};

// Fails (nullopt) when the folder cannot be examined. Each call makes a new
// mark and writes it on the folder (where the file system takes extended
// attributes; elsewhere the folder is known by its identity alone). With a
// `mark`, that mark is recorded instead and the folder is left as it is.
std::optional<QByteArray> create(const QString &folderPath, const QString &mark = QString());
// Fails when the bytes cannot be read or no folder exists at the path. A
// folder with another identity is stale, unless it carries the bookmark's
// mark: then it is the chosen folder, remounted.
std::optional<Resolved> resolve(const QByteArray &bookmark);
// What the bookmark recorded, whether or not the folder is there now
// (isStale is not set). Fails only when the bytes cannot be read.
std::optional<Resolved> read(const QByteArray &bookmark);

// Whether the folder now at the recorded path, of identity `current`, is
// the chosen one: the recorded identity, unless the folder was marked and
// its mark is gone; or another identity that carries the mark (its drive
// mounted again).
bool isChosenFolder(const Resolved &recorded, const FolderIdentity &current);

// The mark on the folder at `folderPath`, provided it is the folder of that
// identity (so that a folder swapped in meanwhile is not read); empty when
// it has none or cannot be read.
QString markOf(const QString &folderPath, const FolderIdentity &identity);

// Nothing to grant on this platform; kept so callers read like the design.
inline bool startAccessing(const QString &) { return true; }
inline void stopAccessing(const QString &) {}

} // namespace Bookmarks
