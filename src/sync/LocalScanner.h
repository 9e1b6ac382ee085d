#pragma once

#include <QDateTime>
#include <QSet>
#include <QString>
#include <QStringList>
#include <map>

// The local side of a folder pass: which files a watched folder holds, their
// content hashes and modification times. Reads only; never writes.
namespace LocalScanner {

struct Listing {
    // False when the folder does not exist or cannot be read; an empty but
    // readable folder is readable with no files.
    bool readable = false;
    // Bare file name -> absolute path (a name seen twice keeps the last one).
    std::map<QString, QString> files;
    // Every listed file's absolute path, including those whose name is
    // shadowed in `files` by a file of the same name in another directory:
    // a shadowed file still exists and must not be taken for removed.
    QSet<QString> allPaths;
    // Directories below the folder that could not be read. Tracked files
    // below them are not known to be gone.
    QStringList unreadableDirectories;
};

Listing scanLocalFiles(const QString &folderPath);

// SHA-256 of the file's bytes as 64 lower-case hex digits, read in 1 MiB
// chunks. Throws FileError when the file cannot be opened or read.
QString computeFileHash(const QString &filePath);

// Throws the FileError that computeFileHash() would when the file cannot be
// opened for reading (gone, not a regular file, not permitted); reads none
// of its bytes.
void checkReadable(const QString &filePath);

// The file's modification time, or now when it cannot be read.
QDateTime fileModificationDate(const QString &filePath);

bool isIgnoredName(const QString &name);

} // namespace LocalScanner
