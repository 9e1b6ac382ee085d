#pragma once

#include "api/Records.h"
#include "api/SharedTexts.h"
#include "platform/FolderAccess.h"
#include "sync/FolderPlan.h"
#include "sync/KnownDocumentsUpdate.h"
#include "sync/SyncState.h"

#include <QCoroTask>
#include <QDateTime>
#include <QFuture>
#include <QHash>
#include <QString>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

class APIClient;

// One watched folder's pass: the server's answer, the local scan and the
// hashes it needs, the plan, then its effects in order (entries, server
// deletions, local removals, uploads, downloads). The engine plans every
// folder of a pass before any acts, so the pass's totals are known at once.
//
// The run never touches the engine: every result goes to its Results, as it
// happens, and the engine applies them in one place. So a run whose engine
// went away mid-pass (sign-out) simply has nowhere to report to.
class FolderRun {
public:
    // The most transfers of one queue in flight at once.
    static constexpr int maxConcurrent = 3;
    // A walk waits at most this many 10 ms pauses for the watcher to set up
    // its watches, beyond which it goes without them.
    static constexpr int maxWaitsForWatches = 300;
    // Pauses 10 ms at a time while `settingUp` holds, that many times at most.
    static QCoro::Task<void> untilWatchesSetUp(std::function<bool()> settingUp);

    // A walk of the folder made before its plan (while the state loads at
    // start-up): it stands in for the plan's own walk when the watcher has
    // seen nothing change since the walk began.
    struct EarlyWalk {
        FolderIdentity identity; // of the folder walked
        quint64 mark = 0;        // the watcher's change mark as the walk began
        LocalScanner::Listing listing; // without known mount points or shared paths
    };

    // A file opened for sending on a worker thread, with its facts as of
    // the opening, or why it could not be opened.
    struct OpenedToSend {
        FolderAccess::OpenedFile file;
        qint64 openedNs = 0; // by the file clock, just before the opening
        QString failure;
    };

    struct Context {
        // The watched folder, opened and found to be the one the user chose.
        std::shared_ptr<FolderAccess> folder;
        QString folderPath;
        qint64 serverFolderId = 0;
        // The folder's since time; unused when documents is none.
        std::optional<QString> since;
        // Every tracked entry (of all folders), by absolute path; the run
        // takes its folder's own.
        TrackedFiles tracked;
        // What is known of the server folder; none: ask for everything.
        std::optional<KnownDocuments> documents;
        FolderPlanning::RemovalAnswer removalAnswer = FolderPlanning::RemovalAnswer::none;
        // The folder was just moved to another server folder.
        bool settleAsConflicts = false;
        // Subfolders seen as mount points before, relative to the folder.
        QStringList mountPoints;
        // The folder was in step after its last walk and its watcher has
        // seen no change since: when the server tells of none either, the
        // folder is not walked at all.
        bool unchangedHere = false;
        // A walk begun before the pass, if any.
        QFuture<std::shared_ptr<EarlyWalk>> earlyWalk; // null when none was made
    };

    // Where the run's results go. Called on the main thread.
    class Results {
    public:
        virtual ~Results() = default;
        // The server folder as known after the answer, the answer's time, and
        // whether the answer told anything that was not known.
        virtual void learned(qint64 serverFolderId, const KnownDocuments &documents, const QString &serverTime,
                             bool changed) = 0;
        virtual void agreed(const QString &path, const TrackedFile &entry) = 0;
        // The agreement this pass recorded for its upload of `path` to
        // document `documentId` no longer holds: another version reached the
        // document as it was sent. The entry is left to say "changed on both
        // sides", so that the next pass keeps both versions.
        virtual void sentButRaced(const QString &path, qint64 documentId) = 0;
        virtual void forgotten(const QString &path) = 0;
        virtual void documentChanged(qint64 serverFolderId, qint64 documentId, const KnownDocument &document) = 0;
        virtual void documentDeleted(qint64 serverFolderId, qint64 documentId) = 0;
        // The server folder's documents as known now (shared, not copied).
        virtual KnownDocuments knownDocuments(qint64 serverFolderId) const = 0;
        virtual void planned(const FolderPlanning::FolderPlan &plan) = 0;
        // A transfer ended: name, "uploaded" or "downloaded", local path,
        // bytes, and the failure's text when it failed.
        virtual void transferred(const QString &name, const QString &action, const QString &path, qint64 bytes,
                                 const std::optional<QString> &failure) = 0;
        virtual void notice(const QString &title, const QString &text) = 0;
        // A transfer under way has moved this many bytes of its file so far
        // ("uploading" or "downloading"); its end is told by transferred().
        virtual void moving(const QString &name, const QString &action, const QString &path, qint64 bytes)
        {
            Q_UNUSED(name) Q_UNUSED(action) Q_UNUSED(path) Q_UNUSED(bytes)
        }
        // The folder's mount points to remember (relative paths), when they
        // differ from the context's.
        virtual void mountPointsSeen(const QStringList &mountPoints) = 0;
        // Still wanted: false once the engine stopped or went away; the run
        // then starts no further effect.
        virtual bool wanted() const = 0;
        // The folder watcher's change mark of this moment; none when the
        // watcher cannot vouch for the folder.
        virtual std::optional<quint64> changeMark() const { return std::nullopt; }
        // The watcher is still setting up its watches below the folder.
        virtual bool watchesSettingUp() const { return false; }
    };

    FolderRun(APIClient &apiClient, Context context, std::shared_ptr<Results> results);
    ~FolderRun();

    // Asks the server, scans the folder and decides; the plan goes to
    // Results. Throws when the status request fails or the folder cannot be
    // read; nothing of the folder has been changed then.
    QCoro::Task<void> plan();
    // Carries out the plan made by plan(); each destructive step checks its
    // facts again as it acts, so a plan may wait while other folders plan.
    QCoro::Task<void> act();

    // The folder was walked and planned (not left alone as unchanged).
    bool walked() const { return m_plan.has_value(); }
    // The watcher's mark taken as the walk began: the same mark later means
    // nothing changed here since what the walk found.
    std::optional<quint64> markBeforeWalk() const { return m_markBeforeWalk; }
    // Nothing was there to do: the folder is in step after this pass.
    bool inStep() const { return !m_planHadWork; }
    // The plan, once acted on, for its owner to free where it suits.
    std::shared_ptr<const void> takePlan();

private:
    // What stands at a destination: its facts, then its content's hash (none
    // when nothing readable is there).
    struct Standing {
        QString path; // relative to the folder
        FileFacts facts;
        std::optional<QString> hash;
        static Standing at(const FolderAccess &folder, const QString &relativePath);
    };

    // What became of a document since this pass's answer.
    struct Since {
        bool deleted = false;
        std::optional<KnownDocument> changed; // another version than the plan saw
    };
    // Asks the server what changed since the last look (or the answer), and
    // moves the next look's start on. With `each`, the listed documents go
    // to it as they are decoded.
    QCoro::Task<SyncStatusResponse> askWhatChanged(SyncDocumentSink each = {});
    void takeIn(const SyncStatusResponse &recent);
    // What was heard of a document, against the version expected.
    Since heardOf(const FolderPlanning::DocumentVersion &expected);
    QCoro::Task<Since> lookAgain(FolderPlanning::DocumentVersion planned);
    // After the uploads: one look, and an upload whose document already
    // holds another version is not taken as agreed.
    QCoro::Task<void> confirmUploads();

    QCoro::Task<void> deleteOnServer(FolderPlanning::ServerDeletion deletion);
    // Deletes the planned version's document, unless the server holds
    // another version of it: true when the server refused for that reason.
    QCoro::Task<bool> refusedDeletion(FolderPlanning::DocumentVersion planned);
    QCoro::Task<void> removeLocally(FolderPlanning::LocalRemoval removal);
    // After a removal's move to the Trash: true when what was moved was not
    // the expected content, and was put back.
    QCoro::Task<bool> keptIfChanged(std::shared_ptr<class TrashedFile> trashed, FolderPlanning::LocalRemoval removal);
    QCoro::Task<void> upload(FolderPlanning::Upload item);
    // Starts opening the files of uploads[from] and of the few after it on
    // worker threads, unless already started.
    void openAhead(const std::vector<FolderPlanning::Upload> &uploads, std::size_t from);
    // Opens the file at `path` (and reads it, when small) on a disk thread,
    // handing it to this thread, which sends it.
    QFuture<OpenedToSend> startOpening(const QString &path) const;
    // Brings the server's version down as a conflicted copy beside the file
    // that is about to replace it; throws when it could not be kept.
    QCoro::Task<void> keepServerCopy(const FolderPlanning::Upload &item);
    QCoro::Task<void> download(FolderPlanning::Download item);
    // A document's content in a temporary file beside the destination,
    // making the destination's folders when they are missing.
    // `name` and `path` name the transfer in the progress told to Results.
    QCoro::Task<IncomingFile> receive(qint64 documentId, QString relativeDestination, QString name, QString path);
    // What became of a download at its destination.
    struct Landing {
        // The bytes as written, and when by the file clock (just before).
        FileFacts written;
        qint64 writtenNs = 0;
        // It went beside the file there, as a conflicted copy of this name.
        std::optional<QString> keptAsideAs;
        // The local version lost a conflict and was moved to this name.
        std::optional<QString> localKeptAs;
        // The file moved to the Trash to make room (put back when the
        // download could not take its place).
        std::shared_ptr<class TrashedFile> replaced;
        // Why it failed; what the fields above tell was done before that.
        QString failure;
    };
    // Looks at what stands at the download's destination and puts the file
    // there or beside it, the new name flushed to disk. Does not throw; run
    // on a worker thread.
    Landing land(IncomingFile &incoming, const FolderPlanning::Download &item, const QString &receivedHash,
                 const QDateTime &now) const;
    // Puts a downloaded file where the plan wants it, given what stands
    // there. False when it must go beside it instead, as a conflict copy.
    // What it moved out of the way (to the Trash, or aside as a conflict's
    // loser) is told in `landed`.
    bool place(IncomingFile &incoming, const FolderPlanning::Download &item, const QString &receivedHash,
               const Standing &standing, const QDateTime &now, Landing &landed) const;
    // The entry for a file whose facts were taken at `recordedNs` (by the
    // file clock) or just after.
    static TrackedFile entryFor(const ContentHash &localHash, qint64 remoteId, const std::optional<ContentHash> &remoteHash,
                                const FileFacts &facts, qint64 recordedNs);
    QString relative(const QString &path) const;
    // The listing of the context's early walk, when it is what a walk now
    // would find (its mark then becomes the walk's); none otherwise.
    QCoro::Task<std::optional<LocalScanner::Listing>> earlyWalkThatStands();

    APIClient &m_apiClient;
    Context m_context;
    std::shared_ptr<Results> m_results;
    std::shared_ptr<FolderAccess> m_folder;
    std::optional<quint64> m_markBeforeWalk;
    // What the server said of its documents since this pass's answer (none:
    // deleted), and up to which of its times it has been asked.
    HeardDocuments m_heardSince;
    // The server's times of the documents heard of, each held once: a
    // burst of uploads shares a handful of them.
    SharedTexts m_times;
    // The uploads of this pass, until they are confirmed: a first sync
    // holds one per file, so only what the confirmation compares is kept.
    struct Sent {
        QString path;
        qint64 documentId = 0;
        std::optional<ContentHash> fileHash;
    };
    std::deque<Sent> m_sent; // grows by thousands without moving what it holds
    // Files of the coming uploads, being opened, by local path.
    QHash<QString, QFuture<OpenedToSend>> m_openingAhead;
    QString m_lookedUntil;
    quint64 m_looksAsked = 0;
    quint64 m_looksHeard = 0;
    // Documents of removed files that changed on the server before they
    // could be deleted: they come down again with the downloads.
    std::vector<FolderPlanning::Download> m_restores;
    std::optional<FolderPlanning::FolderPlan> m_plan;
    bool m_planHadWork = false; // as it was made; acting empties parts of it
};
