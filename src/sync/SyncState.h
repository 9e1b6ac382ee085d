#pragma once

#include "api/ContentHash.h"
#include "sync/ChunkedMap.h"
#include "sync/OptionalNumber.h"

#include <QDateTime>
#include <QMap>
#include <QString>
#include <QStringList>
#include <iosfwd>
#include <optional>

// What the engine knows of one local file that is in step with a document.
struct TrackedFile {
    ContentHash localHash;
    qint64 remoteId = 0;
    std::optional<ContentHash> remoteHash;
    QString lastSynced;      // ISO 8601 UTC, whole seconds, "Z"
    QDateTime localModified; // stored as seconds since 2001-01-01T00:00:00Z
    // The file as the file system described it at the agreement: while all
    // four are unchanged the content is taken as unchanged and not read.
    // Absent in entries written before they were kept.
    OptionalNumber size;
    OptionalNumber inode;
    OptionalNumber modifiedNs; // modification time, ns since 1970
    OptionalNumber changedNs;  // status change time, ns since 1970
    // When those facts were taken (by the file clock, ns since 1970): a file
    // modified at or after that moment may have changed within the file
    // system's time resolution, so its content is read again.
    OptionalNumber recordedNs;
    // The agreement came from this computer's upload (member "sentFromHere":
    // 1). Another computer may have sent its own version in the same moment
    // without seeing it, so a version replaced from the server goes to the
    // Trash rather than away.
    bool sentFromHere = false;
    bool operator==(const TrackedFile &) const = default;
};

// A document of a server folder as the server last described it.
struct KnownDocument {
    QString name;
    std::optional<ContentHash> fileHash;
    OptionalNumber fileSize;
    QString updatedAt;
    bool operator==(const KnownDocument &) const = default;
};
using KnownDocuments = ChunkedMap<qint64, KnownDocument>; // document id -> document
using TrackedFiles = ChunkedMap<QString, TrackedFile>;     // local file path -> entry

// The server and account whose ids a state holds.
struct SyncAccount {
    QString server; // the service's address
    QString email;  // empty when it was not known
    bool operator==(const SyncAccount &) const = default;
};

// The engine's memory between passes, kept in
// $XDG_DATA_HOME/TavrelSync/sync_state.json.
struct SyncState {
    std::optional<qint64> serverFolderId;
    std::optional<QString> lastSyncTime;
    QStringList watchedFolders;            // kept as loaded, never used
    QMap<QString, qint64> folderMappings;  // local folder path -> server folder id
    TrackedFiles trackedFiles;
    // Since time of each watched folder's last completed pass, keyed by the
    // folder's path (file member "folderSyncTimes"); a folder without one is
    // asked for everything. A file written before the member was kept gives
    // each mapped folder lastSyncTime, which was then the since time of all.
    QMap<QString, QString> folderSyncTimes;
    // The choice of each watched folder that the entries below it belong to
    // (file member "folderChoices": path -> the bookmark's mark): a folder
    // chosen again starts afresh.
    QMap<QString, QString> folderChoices;
    // Whose ids these are (file member "account"); absent in files written
    // before it was kept.
    std::optional<SyncAccount> account;
    // What the client knows of each server folder it syncs with, keyed by
    // the server folder's id (file member "serverDocuments"). A folder with
    // no entry here is asked for everything, without a since time.
    QMap<qint64, KnownDocuments> serverDocuments;
    // Subfolders of each watched folder that are mount points, relative to
    // it (file member "mountPoints", keyed by the folder's path): while one
    // has nothing mounted, nothing below it is taken as removed.
    QMap<QString, QStringList> mountPoints;

    bool operator==(const SyncState &) const = default;

    // The state file's path, computed once per run (creating its directory).
    static QString fileURL();

    // Never fails: a missing or corrupt file gives the empty state.
    static SyncState load(const QString &path = fileURL());
    // Never fails loudly: written atomically (temporary file, fsync, rename),
    // mode 0600; a failed write leaves the old file and is ignored.
    void save(const QString &path = fileURL()) const;
    // The atomic write behind save(), for any thread, encoding straight into
    // the file: the bytes written, or -1 (and logged) when the old file had
    // to stay.
    qint64 writeTo(const QString &path) const;

    QByteArray encode() const;
    // Writes the state's JSON into `out`; false for a state that has no
    // JSON form (a time JSON cannot hold).
    bool encodeInto(class PrettyJsonWriter &out) const;
    // Nullopt for anything that is not a state file this client wrote,
    // including one over maxFileBytes or nested deeper than it ever nests.
    static std::optional<SyncState> decode(const QByteArray &bytes);
    // The same, read from `in` as it is parsed: a file of 100,000 entries
    // (some 70 MiB) is never held whole beside what it decodes to.
    static std::optional<SyncState> decode(std::istream &in);
    static constexpr qint64 maxFileBytes = qint64(1) << 30;
};
