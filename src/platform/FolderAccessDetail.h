#pragma once

// Shared by the files that make up FolderAccess and IncomingFile; not for
// other callers.

#include "platform/Descriptors.h"
#include "platform/FolderAccess.h"

#include <QFile>
#include <QIODevice>

#include <optional>

struct stat;

// The folder that holds an entry, opened without following links, and the
// entry's name in it.
struct FolderAccess::Parent {
    descriptors::UniqueFd owned; // a folder below the watched one; empty for the watched folder itself
    int fd = -1;                 // -1 when a folder on the way is missing
    QByteArray name;
    QString shown; // the entry's absolute path, for messages

    // Throws FileError when a folder on the way is missing.
    void requireFolder() const;
};

namespace folderdetail {

// Writes straight to a file descriptor, so that a failed write reports its
// own reason ("No space left on device") and shows at the write that met it.
class FdWriter : public QIODevice {
public:
    void setDescriptor(int fd) { m_fd = fd; }
    int writeError() const { return m_writeError; }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 length) override;

private:
    int m_fd = -1;
    int m_writeError = 0;
};

} // namespace folderdetail

struct IncomingFile::State {
    descriptors::UniqueFd folder; // the destination's folder
    descriptors::UniqueFd file;   // the temporary, until it is placed
    folderdetail::FdWriter device;
    QByteArray temporaryName;
    QString destination;   // relative to the watched folder
    QByteArray targetName; // the destination's name in its folder
    QString shownFolder;   // the destination folder's absolute path, for messages
    bool flushed = false;
    bool gone = false; // placed or discarded: nothing left to remove
    bool placed = false;
    // As the placement left it, and when (by the precise clock).
    std::optional<FileFacts> placedFacts;
    qint64 placedAtNs = 0;
    bool onLocalFileSystem = false;

    // Once placed: the file's facts are noted and its descriptor closed.
    void notePlaced();
    bool placedAsWritten(const FileFacts &written) const;

    // Once: every byte written reaches the disk before the file is given a
    // name that others read, so a crash cannot leave a short file in its
    // place. Throws FileError when a write failed or the flush fails.
    void flushToDisk();
};

namespace folderdetail {

inline constexpr qsizetype maxNameBytes = 255;

// A single name in a folder: not empty, ".", "..", nor holding '/' or NUL.
bool isPlainName(const QString &name);

// The name cut to at most `maxBytes` bytes of the file system's encoding,
// never in the middle of a character.
QString shortened(QString name, qsizetype maxBytes);

FileFacts factsFrom(const struct stat &st);

} // namespace folderdetail
