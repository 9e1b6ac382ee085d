#pragma once

#include "platform/Bookmarks.h"
#include "platform/FileError.h"

#include <QDateTime>
#include <QString>
#include <memory>
#include <optional>

class QIODevice;
class IncomingFile;
class TrashedFile;

// What the file system tells of one entry, its last link not followed.
struct FileFacts {
    bool exists = false;
    bool isRegularFile = false;
    bool isSymbolicLink = false;
    qint64 size = 0;
    quint64 device = 0;
    quint64 inode = 0;
    unsigned permissions = 0; // the mode's permission bits
    qint64 modifiedNs = 0;    // nanoseconds since the epoch
    qint64 changedNs = 0;     // status change: moves with every write and rename, cannot be set back

    QDateTime modified() const { return QDateTime::fromMSecsSinceEpoch(modifiedNs / 1000000, Qt::UTC); }
    // The same file, unchanged since these facts were taken, as far as the
    // file system can tell without reading it.
    bool isSameVersion(const FileFacts &other) const;
};

// An open watched folder. Every read, write, rename and removal below it is
// made relative to its directory handle, one path component at a time and
// without following a symbolic link anywhere below the folder, so that
// nothing outside the folder is ever touched, whatever is swapped in while
// the client works. Relative paths are '/'-separated names inside the
// folder ("Sub/a.txt"); "", ".", ".." and empty components are refused.
//
// All operations are const and safe to call from several threads at once.
// Failures throw FileError; a path whose directories cross a symbolic link
// or something that is not a folder throws CrossesLinkError, a FileError,
// so that the caller can drop it and touch nothing.
class FolderAccess {
public:
    // Opens the folder at `folderPath`, which may itself be reached through
    // a link the user chose. Throws FileError when it is not a readable
    // folder.
    explicit FolderAccess(const QString &folderPath);
    ~FolderAccess();
    FolderAccess(FolderAccess &&other) noexcept;
    FolderAccess &operator=(FolderAccess &&other) noexcept;
    FolderAccess(const FolderAccess &) = delete;
    FolderAccess &operator=(const FolderAccess &) = delete;

    // The absolute, cleaned path the folder was opened at.
    QString path() const { return m_path; }
    // The folder actually opened; compare with the bookmark's to notice a
    // folder replaced at the same path.
    FolderIdentity identity() const { return m_identity; }

    // "Sub/a.txt" for "<path>/Sub/a.txt"; nullopt for paths not below the folder.
    std::optional<QString> relativePathOf(const QString &absolutePath) const;
    QString absolutePathOf(const QString &relativePath) const;

    // The entry's facts; `exists` is false when it or a folder on its way is
    // missing.
    FileFacts facts(const QString &relativePath) const;

    // SHA-256 of a regular file's bytes as 64 lower-case hex digits. A file
    // that is a symbolic link throws CrossesLinkError.
    QString hash(const QString &relativePath) const;

    // Makes the folders of `relativeFolder` that are missing, one at a time
    // below the folder; "" is the folder itself. Throws CrossesLinkError when
    // a link or a file stands in the way.
    void makeFolders(const QString &relativeFolder) const;

    // A regular file opened for reading as hash() opens it (no link
    // followed, never waiting on a pipe), and its facts as of the opening:
    // what is read from it is the file that was checked, whatever takes its
    // path meanwhile.
    struct OpenedFile {
        std::shared_ptr<QIODevice> device; // open, read-only, seekable
        FileFacts facts;
    };
    OpenedFile openForReading(const QString &relativePath) const;

    // A new descriptor of the folder itself, open for listing its entries
    // (fdopendir); the caller closes it. -1 with errno set on failure.
    // The folder is the one opened at construction, even if another one has
    // since taken its path.
    int openForListing() const;

    // A hidden temporary file beside `relativeDestination` (whose folder must
    // exist), open for writing, to be put in place once written.
    IncomingFile createIncoming(const QString &relativeDestination) const;

    // Renames a regular file to `newName` in its own folder, never replacing
    // anything: false, and nothing changed, when `newName` is taken.
    [[nodiscard]] bool moveAside(const QString &relativePath, const QString &newName) const;

    // Moves a regular file to the user's Trash so that it can be restored:
    // the home Trash when it is on the same file system, otherwise the Trash
    // at the top of the file system it lives on. The file is only ever
    // renamed, never copied; when no Trash can take it, it stays where it is
    // and FileError says why. The result tells what was moved and can put
    // it back.
    TrashedFile moveToTrash(const QString &relativePath) const;

    // True for the name of one of this program's download temporaries.
    static bool isDownloadTemporaryName(const QString &name);
    // Removes a download temporary left by an earlier run of the program (a
    // kill, a crash): only a regular file with such a name, last written
    // before this process started, so that no transfer in progress loses
    // its file. False when nothing was removed.
    bool removeStaleDownload(const QString &relativePath) const;

private:
    struct Parent;
    Parent openParent(const QString &relativePath) const;

    int m_fd = -1;
    QString m_path;
    FolderIdentity m_identity;
};

// How the temporary files of downloads begin: hidden, so that the folder
// scan passes them over, and unmistakably this program's.
inline constexpr char incomingFilePrefix[] = ".tavrel-download-";

// A download on its way into a watched folder: a hidden temporary file in the
// destination's folder. Dropping it without placing it removes the temporary
// file, so a failed or abandoned transfer leaves nothing behind.
// One object is used by one thread at a time.
class IncomingFile {
public:
    ~IncomingFile();
    IncomingFile(IncomingFile &&other) noexcept;
    IncomingFile &operator=(IncomingFile &&other) noexcept;

    // Open for writing; unbuffered, so that a write error (a full disk)
    // shows at the write that met it.
    QIODevice &device();
    // The destination, relative to the folder, and the temporary's own name.
    QString destination() const;
    QString temporaryName() const;

    // SHA-256 of the bytes written, as FolderAccess::hash() gives it; read
    // back from the temporary before it is placed, so that it is the hash of
    // what was downloaded whatever happens at the destination afterwards.
    QString hash();

    // Each placement flushes the bytes to disk first, and leaves the new
    // name to syncPlacement(). False (the temporary kept, nothing else
    // changed) when the place is taken; FileError for other failures.
    //
    // Puts the file at the destination only if nothing is there.
    [[nodiscard]] bool placeNew();
    // Puts the file under another name in the destination's folder, only if
    // nothing is there (a conflict copy of the downloaded content).
    [[nodiscard]] bool placeNewAs(const QString &name);
    // Replaces the destination only while it is still the file described by
    // `expected` (as facts() gave it before its content was checked); the new
    // file takes over its permissions.
    [[nodiscard]] bool replace(const FileFacts &expected);
    // Removes the temporary file now.
    void discard();
    // Flushes the new name of a placed file to disk (nothing when none was
    // placed), so that a power cut cannot take it back after it was
    // recorded: call it before anything relies on the placement. A disk
    // write that may take a while, so it is meant for a worker thread.
    void syncPlacement();

    // The facts of the bytes as written, flushed and not yet given a name
    // (a rename keeps device, inode, size and modification time): recorded
    // with the agreement, so that anything written at the destination after
    // the placement differs from them.
    FileFacts writtenFacts();
    // `written` (writtenFacts()) with the status change time the placement
    // gave the file (a rename and a change of permissions move it), when
    // nothing else changed: recorded instead, so that the next look does
    // not take the placement itself for an edit and read the file again.
    FileFacts asPlaced(FileFacts written) const;
    // When those facts stand from, by the file clock, given `writtenNs`: the
    // file clock read after the last write, before writtenFacts(). Where the
    // bytes' time is ahead of that reading, the local file system gives
    // fine-grained times, and a new one to any change after the file's times
    // were read, as they were at the placement: the facts stand from then,
    // so a file is not read again only for having been written within the
    // clock's last tick. Otherwise `writtenNs`.
    qint64 placedAtNs(const FileFacts &written, qint64 writtenNs) const;
    // The permission bits the file gets, before it is placed: those of the
    // file it takes the place of (set-id bits are never given).
    void setPermissions(unsigned permissions);

private:
    friend class FolderAccess;
    struct State;
    explicit IncomingFile(std::unique_ptr<State> state);
    std::unique_ptr<State> d;
};

// A file just moved to the Trash by FolderAccess::moveToTrash, to check what
// was moved and to put it back when it was not what the caller meant to
// remove (a save that landed just before the move).
class TrashedFile {
public:
    TrashedFile(TrashedFile &&) noexcept;
    TrashedFile &operator=(TrashedFile &&) noexcept;
    ~TrashedFile();

    // The file as it was just before the move (its permissions, say).
    const FileFacts &facts() const;
    // SHA-256 of the file now in the Trash, as FolderAccess::hash() gives it.
    QString hash() const;
    // Puts the file back where it was, or, when something new took that
    // place, beside it under `nameIfTaken`; its entry in the Trash goes.
    // The path relative to the folder it is at now, or none when both names
    // were taken (the file stays in the Trash).
    std::optional<QString> restore(const QString &nameIfTaken);

private:
    friend class FolderAccess;
    struct State;
    explicit TrashedFile(std::unique_ptr<State> state);
    std::unique_ptr<State> d;
};

// "<stem> (conflicted copy <YYYY-MM-DD HHMMSS>)<.ext>" for `fileName`, the
// extension being what follows the last dot; a name without a dot, or whose
// only dot is its first character, has none. The time is written in its own
// zone; a name too long for the file system is shortened in its stem. A
// `number` above 1 follows the time ("... 050607 2)"), for a second copy made
// within the same second.
QString conflictCopyName(const QString &fileName, const QDateTime &when, int number = 1);

// Offers `take` the conflicted-copy names of `fileName` for `when` in turn,
// the plain one first, until it takes one (it returns false while a name is
// already in use); returns that name, or an empty string if none was free.
template <typename Take>
QString takeConflictCopyName(const QString &fileName, const QDateTime &when, Take take)
{
    // More copies of one file within one second than this is no user's work.
    constexpr int namesTried = 100;
    for (int number = 1; number <= namesTried; ++number) {
        QString candidate = conflictCopyName(fileName, when, number);
        if (take(candidate))
            return candidate;
    }
    return {};
}
