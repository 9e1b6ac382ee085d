#pragma once

#include <QDateTime>
#include <QSet>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <vector>

class FolderAccess;

// The local side of a folder pass: which files a watched folder holds, their
// content hashes and modification times. Reads only; never writes.
namespace LocalScanner {

// What the file system says of a file, enough to tell that its content has
// not changed without reading it.
struct FileFacts {
    qint64 size = 0;
    qint64 inode = 0;
    qint64 modifiedNs = 0; // since 1970
    qint64 changedNs = 0;  // status change, since 1970
    // When these facts were taken, by the file clock (see
    // descriptors::fileClockNs): a file whose modification time is not
    // older than that may still change without its facts showing it.
    qint64 takenNs = 0;
    bool operator==(const FileFacts &) const = default;
};

struct LocalFile {
    QString path; // absolute
    QString name; // last path component
    FileFacts facts;
};

// A path below the folder that the scan leaves out, and why.
struct Unsynced {
    QString path; // absolute
    QString reason;
};

struct Listing {
    // False when the folder does not exist or cannot be read; an empty but
    // readable folder is readable with no files.
    bool readable = false;
    // Every regular file that syncs, depth first in byte order of names.
    // A deque: a folder of 100,000 files grows it without moving it whole.
    std::deque<LocalFile> files;
    // Names at the folder's top level that are not regular files
    // (directories, links, ...): a download never goes there.
    QSet<QString> topLevelOthers;
    // Directories below the folder that could not be read, or mount points
    // with nothing mounted. Tracked files below them are not known to be gone.
    QStringList unreadableDirectories;
    // Entries left out for a reason the user should see (names that are not
    // UTF-8, mount points with nothing mounted); the plan lists them as not
    // synced.
    std::vector<Unsynced> notSynced;
    // Subfolders on another file system than their folder (mount points),
    // relative to the watched folder.
    QStringList mountPoints;
    // Mount points known from before with nothing mounted now; each is also
    // in unreadableDirectories and notSynced.
    QStringList notMounted;
    // Download temporaries ("Sub/.tavrel-download-XXXXXX"), relative to the
    // watched folder: an interrupted download's may be left behind.
    QStringList downloadTemporaries;
};

// For a path a scan found, an equal text already held (the key of the
// file's tracked entry, say), or a null text: the listing then shares that
// text instead of holding a copy of every path.
using KnownPath = std::function<QString(const QString &path)>;

// Lists the folder through its own handle: every read is below the folder
// opened (and checked) at the start of the pass, even if another folder
// takes its path meanwhile. `knownMountPoints` are the relative paths of
// subfolders seen as mount points before: while one holds nothing mounted
// (it is gone, or on its folder's file system again), nothing below it is
// taken as removed.
Listing scanLocalFiles(const FolderAccess &folder, const QStringList &knownMountPoints = {},
                       const KnownPath &knownPath = {});
// Makes a listing scanned without known mount points or paths what the scan
// would have listed with them.
void adoptKnown(Listing &listing, const FolderAccess &folder, const QStringList &knownMountPoints,
                const KnownPath &knownPath);
// The same for the folder at that path, opened here.
Listing scanLocalFiles(const QString &folderPath);

// What is at a path below a folder that the scan did not list.
enum class Absence {
    gone,        // nothing there
    crossesLink, // a directory on the way is now a symbolic link (or a file)
    present,     // something is there (not a regular file, or not readable)
};
// `path` is absolute, below the folder; it is examined through the folder's
// handle.
Absence classifyUnlisted(const FolderAccess &folder, const QString &path);
Absence classifyUnlisted(const QString &folderPath, const QString &path);

// SHA-256 of the file's bytes as 64 lower-case hex digits, read in 1 MiB
// chunks. Throws FileError when the file cannot be opened or read.
QString computeFileHash(const QString &filePath);

// The file's modification time, or now when it cannot be read.
QDateTime fileModificationDate(const QString &filePath);

bool isIgnoredName(const QString &name);

} // namespace LocalScanner
