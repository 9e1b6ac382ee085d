#pragma once

#include "sync/LocalScanner.h"
#include "sync/SyncState.h"

#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

// Deciding one watched folder's pass: what is known before anything
// changes (the facts) and what the pass will do (the plan). Deciding reads
// nothing and changes nothing, so every rule can be shown with a table.
namespace FolderPlanning {

// The user's answer to the question asked when most of a folder's files
// disappeared at once.
enum class RemovalAnswer { none, remove, restore };

struct FolderFacts {
    QString folderPath;
    LocalScanner::Listing listing;
    // Tracked entries of this folder, by absolute path.
    TrackedFiles tracked;
    // The server folder as known after this pass's answer was taken in.
    KnownDocuments documents;
    // Content hashes of the files that had to be read (see pathsToHash);
    // a file missing here could not be read, with the reason in unreadable.
    QMap<QString, QString> hashes;
    QMap<QString, QString> unreadable;
    // What is at each tracked path that the listing lacks.
    QMap<QString, LocalScanner::Absence> unlisted;
    RemovalAnswer removalAnswer = RemovalAnswer::none;
    // The folder has just been joined with another server folder: a file
    // meeting a different document of its name is a conflict (both versions
    // kept), not a clash left aside.
    bool settleAsConflicts = false;
};

// A document version as the plan saw it.
struct DocumentVersion {
    qint64 documentId = 0;
    KnownDocument document;
};

struct Upload {
    QString path;
    QString name;
    LocalScanner::FileFacts facts; // as planned; recorded with the agreement
    // The server version the upload replaces: it is sent only while the
    // server still holds that version. Null for a new document; held apart,
    // as a first sync plans one upload per file and most replace nothing.
    std::shared_ptr<const DocumentVersion> replaces;
    // The local file won a conflict: the replaced version comes down beside
    // it, as a conflicted copy, before the upload.
    bool keepReplaced = false;
};

struct Download {
    enum class Placement {
        newFile,          // only where nothing is
        update,           // a newer version of the agreed content: replaced in place
        replaceUnchanged, // the local file is the last agreed content: to the Trash
        replaceConflict,  // the local file lost a conflict: kept as a conflict copy
    };
    qint64 documentId = 0;
    KnownDocument document;
    QString destination;
    Placement placement = Placement::newFile;
    // For a replacement: the content the local file must still have.
    ContentHash expectedLocalHash;
};

// An untracked local file whose content is a document's: agreed with no
// transfer.
struct Adoption {
    QString path;
    qint64 documentId = 0;
    KnownDocument document;
    ContentHash localHash;
    LocalScanner::FileFacts facts;
};

// A file whose document was deleted on the server and whose content is
// still the agreed one: it goes to the Trash.
struct LocalRemoval {
    QString path;
    ContentHash expectedHash;
};

// A document whose local file was removed while it was still the agreed
// version.
struct ServerDeletion {
    QString path;
    qint64 documentId = 0;
    KnownDocument document; // as the plan knew it; any other version is kept
};

// A tracked file found, with the same name and content, at another path of
// the folder: it keeps its document and its entry moves with it.
struct Move {
    QString from;
    QString to;
};

// A tracked file whose content is unchanged though the file system's
// description of it changed: the new description is kept.
struct Refresh {
    QString path;
    LocalScanner::FileFacts facts;
};

struct Skipped {
    QString path;
    QString reason;
};

struct FolderPlan {
    std::vector<Upload> uploads;
    std::vector<Download> downloads;
    std::vector<Adoption> adoptions;
    std::vector<LocalRemoval> localRemovals;
    std::vector<ServerDeletion> serverDeletions;
    std::vector<Refresh> refreshes;
    std::vector<Move> moves;
    // Entries to drop from tracking, touching nothing on disk or server.
    QStringList forgotten;
    // Files whose document was deleted on the server after they changed
    // here: kept, and sent up again as new documents.
    QStringList keptAfterServerDeletion;
    // Local files not synced, with the reason.
    std::vector<Skipped> notSynced;
    // Server documents not brought down (unusable names, something else in
    // the way), for the log.
    std::vector<Skipped> skippedDocuments;
    // More than half of the tracked files (and at least ten) are gone and
    // no answer was given: how many, and nothing is deleted on the server.
    int removalQuestion = 0;

    // Something to do or to ask: false when the folder is in step as it
    // stands (files left out for a reason may still be listed).
    bool hasWork() const;
};

// The listed files whose content must be read before deciding: tracked
// files whose file-system facts changed, and untracked files that meet a
// document of their name or a vanished tracked file of their name (they may
// be that document, or that file moved, already).
QStringList pathsToHash(const FolderFacts &facts);

FolderPlan planFolder(const FolderFacts &facts);

// Fewer than this many removed files never ask first.
constexpr int massRemovalMinimum = 10;

} // namespace FolderPlanning
