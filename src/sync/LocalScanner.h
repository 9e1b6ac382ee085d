#pragma once

#include <QDateTime>
#include <QSet>
#include <QString>
#include <QStringList>
#include <vector>

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
    bool operator==(const FileFacts &) const = default;
};

struct LocalFile {
    QString path; // absolute
    QString name; // last path component
    FileFacts facts;
};

struct Listing {
    // False when the folder does not exist or cannot be read; an empty but
    // readable folder is readable with no files.
    bool readable = false;
    // Every regular file that syncs, depth first in byte order of names.
    std::vector<LocalFile> files;
    // Names at the folder's top level that are not regular files
    // (directories, links, ...): a download never goes there.
    QSet<QString> topLevelOthers;
    // Directories below the folder that could not be read. Tracked files
    // below them are not known to be gone.
    QStringList unreadableDirectories;
};

Listing scanLocalFiles(const QString &folderPath);

// What is at a path below a folder that the scan did not list.
enum class Absence {
    gone,        // nothing there
    crossesLink, // a directory on the way is now a symbolic link (or a file)
    present,     // something is there (not a regular file, or not readable)
};
Absence classifyUnlisted(const QString &folderPath, const QString &path);

// SHA-256 of the file's bytes as 64 lower-case hex digits, read in 1 MiB
// chunks. Throws FileError when the file cannot be opened or read.
QString computeFileHash(const QString &filePath);

// The file's modification time, or now when it cannot be read.
QDateTime fileModificationDate(const QString &filePath);

bool isIgnoredName(const QString &name);

} // namespace LocalScanner
