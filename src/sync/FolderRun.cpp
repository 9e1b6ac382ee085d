#include "sync/FolderRun.h"

#include "api/APIClient.h"
#include "api/SharedTexts.h"
#include "platform/Descriptors.h"
#include "platform/FolderAccess.h"
#include "platform/Logging.h"
#include "platform/MemoryRelease.h"
#include "platform/RunInBackground.h"
#include "platform/WorkerResult.h"
#include "state/NoticeTitles.h"
#include "sync/FailureText.h"
#include "sync/KnownDocumentsUpdate.h"
#include "sync/TransferQueue.h"
#include "sync/UnreadableFolder.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QCoroFuture>
#include <QCoroTimer>
#include <QDateTime>
#include <QSysInfo>
#include <QThread>
#include <QThreadPool>
#include <algorithm>

using namespace FolderPlanning;

namespace {

// What a worker thread made (a content hash, a name it took), or why it
// could not, for the main thread to tell.
struct WorkerText {
    QString text;
    QString failure;
    // The text, or the failure thrown as a FileError.
    const QString &orThrow() const
    {
        if (!failure.isEmpty())
            throw FileError(failure);
        return text;
    }
};

template <typename Make>
WorkerText textOrFailure(Make make)
{
    try {
        return {make(), {}};
    } catch (const std::exception &error) {
        return {{}, failureText(error)};
    }
}

// Puts a file back from the Trash where it was, or beside what took its
// place as a conflicted copy of `name`; where it is now, relative to the
// folder. Throws when it stays in the Trash.
QString putBack(TrashedFile &trashed, const QString &name, const QDateTime &when)
{
    std::optional<QString> back;
    const auto restored = [&](const QString &candidate) {
        back = trashed.restore(candidate);
        return back.has_value();
    };
    if (takeConflictCopyName(name, when, restored).isEmpty())
        throw FileError(QStringLiteral("%1 stays in the Trash: every name for a copy of it is taken").arg(name));
    return *back;
}

WorkerText hashOn(const std::shared_ptr<FolderAccess> &folder, const QString &relativePath)
{
    return textOrFailure([&] { return folder->hash(relativePath); });
}

using Opened = FolderRun::OpenedToSend;

// A small file's bytes are read on the worker too, so that the network's
// reads on the main thread never wait for the disk (they would, behind a
// large state write); a larger file is read as it goes, a buffer at a time.
constexpr qint64 readAheadLimit = 1024 * 1024;

Opened openOn(const std::shared_ptr<FolderAccess> &folder, const QString &relativePath, QThread *sender)
{
    try {
        const qint64 openedNs = descriptors::fileClockNs();
        FolderAccess::OpenedFile file = folder->openForReading(relativePath);
        if (file.facts.size <= readAheadLimit) {
            QByteArray bytes(file.facts.size, Qt::Uninitialized);
            const qint64 got = file.device->read(bytes.data(), bytes.size());
            if (got < 0)
                throw FileError(QStringLiteral("Cannot read %1: %2")
                                    .arg(folder->absolutePathOf(relativePath), file.device->errorString()));
            // A file cut short meanwhile is sent as read: the hash recorded
            // is the one of those bytes, and its facts changed since.
            bytes.truncate(got);
            auto held = std::make_shared<QBuffer>();
            held->setData(bytes);
            held->open(QIODevice::ReadOnly);
            file.device = std::move(held);
        }
        // Read by the network on the sending thread.
        file.device->moveToThread(sender);
        return {std::move(file), openedNs, {}};
    } catch (const std::exception &error) {
        return {{}, 0, failureText(error)};
    }
}

// Opening and reading a file to send, and flushing a placed download's
// folder, wait for the disk rather than the processor. On the shared pool
// they would queue behind hashing and state writes, and hold up the
// transfers; they have threads of their own, enough for the transfers in
// flight.
QThreadPool *diskThreads()
{
    static QThreadPool *const pool = [] {
        auto *threads = new QThreadPool; // lives as long as the process
        threads->setMaxThreadCount(4);
        return threads;
    }();
    return pool;
}

// Runs work on a worker thread and waits for it without blocking the
// interface. The work must not throw.
template <typename Work>
QCoro::Task<std::invoke_result_t<Work>> onWorker(Work work, QThreadPool *pool = QThreadPool::globalInstance())
{
    QCoro::Task<std::invoke_result_t<Work>> running = takeResultOf(runInBackground(pool, std::move(work)));
    co_return co_await running;
}

// Download temporaries of an earlier run that was killed before it could
// remove them.
void removeStaleDownloads(const FolderAccess &folder, const QStringList &temporaries)
{
    for (const QString &temporary : temporaries) {
        try {
            if (folder.removeStaleDownload(temporary))
                qCInfo(lcSyncEngine, "Removed the leftover of an interrupted download: %s", qUtf8Printable(temporary));
        } catch (const std::exception &error) {
            qCWarning(lcSyncEngine, "%s", qUtf8Printable(failureText(error)));
        }
    }
}

// The mount points to remember: those mounted now, and those with nothing
// mounted as long as synced files wait below them.
QStringList mountPointsToKeep(const FolderFacts &facts)
{
    const QString prefix = facts.folderPath + QLatin1Char('/');
    QStringList kept = facts.listing.mountPoints;
    for (const QString &mountPoint : facts.listing.notMounted) {
        const QString below = prefix + mountPoint + QLatin1Char('/');
        const auto first = facts.tracked.lowerBound(below);
        if (first != facts.tracked.cend() && first.key().startsWith(below))
            kept.append(mountPoint);
    }
    return kept;
}

// The folder's plan from what is on disk now (or from `walked`, a walk of
// it that still stands); none when the folder cannot be read. `tracked`
// holds the entries of every folder; `mountPoints` comes in as known before
// and goes out as to be remembered. Every read goes through `folder`, the
// folder opened and checked at the start of the pass: another folder put at
// its path meanwhile is seen by the next pass, never acted on.
std::optional<FolderPlan> decide(const std::shared_ptr<FolderAccess> &folder, const QString &folderPath,
                                 const TrackedFiles &tracked, const KnownDocuments &documents,
                                 RemovalAnswer removalAnswer, bool settleAsConflicts, QStringList &mountPoints,
                                 std::optional<LocalScanner::Listing> walked)
{
    FolderFacts facts;
    facts.folderPath = folderPath;
    // The folder's entries are one run of the sorted map; when they are all
    // of it, it is shared rather than copied.
    const QString prefix = folderPath + QLatin1Char('/');
    if (!tracked.isEmpty() && tracked.firstKey().startsWith(prefix) && tracked.lastKey().startsWith(prefix)) {
        facts.tracked = tracked;
    } else {
        for (auto entry = tracked.lowerBound(prefix); entry != tracked.cend() && entry.key().startsWith(prefix); ++entry)
            facts.tracked.insert(entry.key(), entry.value());
    }
    // A tracked file's path is held once, by its entry, not again by the
    // listing (100,000 paths are some 13 MiB).
    const LocalScanner::KnownPath knownPath = [&facts](const QString &path) {
        const auto entry = facts.tracked.constFind(path);
        return entry == facts.tracked.cend() ? QString() : entry.key();
    };
    if (walked) {
        facts.listing = std::move(*walked);
        LocalScanner::adoptKnown(facts.listing, *folder, mountPoints, knownPath);
    } else {
        facts.listing = LocalScanner::scanLocalFiles(*folder, mountPoints, knownPath);
    }
    if (!facts.listing.readable)
        return std::nullopt;
    removeStaleDownloads(*folder, facts.listing.downloadTemporaries);
    facts.documents = documents;
    facts.removalAnswer = removalAnswer;
    facts.settleAsConflicts = settleAsConflicts;

    {
        // Gone before the plan builds its own index of the listing.
        QSet<QString> listed;
        listed.reserve(qsizetype(facts.listing.files.size()));
        for (const LocalScanner::LocalFile &file : facts.listing.files)
            listed.insert(file.path);
        for (auto entry = facts.tracked.cbegin(); entry != facts.tracked.cend(); ++entry)
            if (!listed.contains(entry.key()))
                facts.unlisted.insert(entry.key(), LocalScanner::classifyUnlisted(*folder, entry.key()));
    }
    mountPoints = mountPointsToKeep(facts);

    for (const QString &path : pathsToHash(facts)) {
        const WorkerText hashed = hashOn(folder, path.mid(prefix.size()));
        if (hashed.failure.isEmpty())
            facts.hashes.insert(path, hashed.text);
        else
            facts.unreadable.insert(path, hashed.failure);
    }
    return planFolder(facts);
}

QString nameOf(const QString &path)
{
    return path.section(QLatin1Char('/'), -1);
}

QString parentOf(const QString &relativePath)
{
    const qsizetype slash = relativePath.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : relativePath.left(slash + 1);
}

// Places a download beside the file `name` as a conflicted copy, under the
// first such name still free; returns the name it took. `shownPath` names
// the file in the error when every name is taken.
QString placeAsConflictCopy(IncomingFile &incoming, const QString &name, const QDateTime &when,
                            const QString &shownPath)
{
    const auto placed = [&incoming](const QString &candidate) { return incoming.placeNewAs(candidate); };
    const QString copy = takeConflictCopyName(name, when, placed);
    if (copy.isEmpty())
        throw FileError(QStringLiteral("Every name for a copy of %1 is taken").arg(shownPath));
    return copy;
}

// What an upload or deletion expects the server to hold, for the service to
// check: the version it replaces, or no document of the name for a new one.
ExpectedVersion expectedOnServer(const DocumentVersion *version)
{
    if (!version)
        return ExpectedVersion::noDocument();
    return version->document.fileHash ? ExpectedVersion::content(version->document.fileHash->toString())
                                      : ExpectedVersion();
}

} // namespace

FolderRun::Standing FolderRun::Standing::at(const FolderAccess &folder, const QString &relativePath)
{
    Standing standing;
    standing.path = relativePath;
    try {
        standing.facts = folder.facts(relativePath);
        if (standing.facts.isRegularFile)
            standing.hash = folder.hash(relativePath);
    } catch (const std::exception &) {
        // Nothing readable there: only a new file may go in its place.
    }
    return standing;
}

FolderRun::FolderRun(APIClient &apiClient, Context context, std::shared_ptr<Results> results)
    : m_apiClient(apiClient), m_context(std::move(context)), m_results(std::move(results)),
      m_folder(m_context.folder)
{
}

FolderRun::~FolderRun()
{
    // After a first sync these hold an entry for each of thousands of
    // uploads: freed off the main thread.
    if (!m_sent.empty() || !m_heardSince.isEmpty())
        releaseInBackground(std::make_shared<const std::pair<std::deque<Sent>, decltype(m_heardSince)>>(
            std::move(m_sent), std::move(m_heardSince)));
}

QString FolderRun::relative(const QString &path) const
{
    return path.mid(m_context.folderPath.size() + 1);
}

QCoro::Task<void> FolderRun::plan()
{
    const QString folderPath = m_context.folderPath;
    const qint64 folderId = m_context.serverFolderId;

    // A folder whose server side is not known yet asks for everything.
    const bool fresh = !m_context.documents;
    // An answer about a whole folder lists thousands of documents: each goes
    // into a copy of the known ones as it is decoded, off the main thread,
    // and its deletions on a worker once it is whole.
    auto update = std::make_shared<KnownDocumentsUpdate>(m_context.documents.value_or(KnownDocuments{}));
    QCoro::Task<SyncStatusResponse> asking =
        m_apiClient.getSyncStatus(folderId, fresh ? std::nullopt : m_context.since,
                                  [update](SyncDocument &&document) { update->take(document); });
    const SyncStatusResponse status = co_await asking;
    QCoro::Task<void> finishing = onWorker([update, &status] { update->finish(status.deletedIds); });
    co_await finishing;
    KnownDocuments documents = std::move(update->documents());
    m_results->learned(folderId, documents, status.serverTime, update->changed() || fresh);
    m_lookedUntil = status.serverTime;
    const bool heardOfChanges = update->listedAny() || !status.deletedIds.empty();
    update.reset(); // not held through the walk
    // Nothing changed on either side since the folder was last in step: a
    // walk would find what the last one found.
    if (m_context.unchangedHere && !heardOfChanges)
        co_return;

    // Everything between the answer and the plan reads the disk or goes
    // through every file, so it runs on a worker thread. The run lets go of
    // its snapshot of the entries: the engine changes its own while this
    // plan waits for other folders, and a shared snapshot would then be
    // copied whole.
    QStringList mountPoints = m_context.mountPoints;
    m_context.documents.reset();
    // A walk made while the state loaded serves if nothing changed since it
    // began. Otherwise the walk is made now, as late as can be, once the
    // watcher has set up its watches (a moment after it started, most often
    // already): its mark then vouches for what this walk finds, and the next
    // pass need not walk again.
    QCoro::Task<std::optional<LocalScanner::Listing>> takingEarlyWalk = earlyWalkThatStands();
    std::optional<LocalScanner::Listing> walked = co_await takingEarlyWalk;
    if (!walked) {
        QCoro::Task<void> waiting = untilWatchesSetUp([results = m_results] { return results->watchesSettingUp(); });
        co_await waiting;
        m_markBeforeWalk = m_results->changeMark();
    }
    QCoro::Task<std::optional<FolderPlan>> deciding =
        onWorker([folder = m_folder, folderPath, tracked = std::move(m_context.tracked), documents = std::move(documents),
                  answer = m_context.removalAnswer, settle = m_context.settleAsConflicts, &mountPoints,
                  walked = std::move(walked)]() mutable {
            return decide(folder, folderPath, tracked, documents, answer, settle, mountPoints, std::move(walked));
        });
    std::optional<FolderPlan> decided = co_await deciding;
    if (!decided)
        throw UnreadableFolder(folderPath);
    if (mountPoints != m_context.mountPoints)
        m_results->mountPointsSeen(mountPoints);
    m_plan = std::move(decided);
    m_planHadWork = m_plan->hasWork();
    m_results->planned(*m_plan);
}

QCoro::Task<void> FolderRun::untilWatchesSetUp(std::function<bool()> settingUp)
{
    for (int waits = 0; waits < maxWaitsForWatches && settingUp(); ++waits) {
        QCoro::Task<> pausing = QCoro::sleepFor(std::chrono::milliseconds(10));
        co_await pausing;
    }
}

QCoro::Task<std::optional<LocalScanner::Listing>> FolderRun::earlyWalkThatStands()
{
    QFuture<std::shared_ptr<EarlyWalk>> walking = std::exchange(m_context.earlyWalk, {});
    if (!walking.isValid())
        co_return std::nullopt;
    QCoro::Task<std::shared_ptr<EarlyWalk>> taking = takeResultOf(walking);
    const std::shared_ptr<EarlyWalk> early = co_await taking;
    // Of this very folder, readable, and nothing seen to change since it
    // began: what a walk now would find. Otherwise it is dropped on a
    // worker (thousands of paths) and the plan walks afresh.
    if (early && early->listing.readable && early->identity == m_folder->identity()
        && m_results->changeMark() == early->mark) {
        m_markBeforeWalk = early->mark;
        co_return std::move(early->listing);
    }
    releaseInBackground(early);
    co_return std::nullopt;
}

std::shared_ptr<const void> FolderRun::takePlan()
{
    if (!m_plan)
        return {};
    auto plan = std::make_shared<const FolderPlan>(std::move(*m_plan));
    m_plan.reset();
    return plan;
}

QCoro::Task<void> FolderRun::act()
{
    if (!m_plan)
        co_return;
    const FolderPlan &plan = *m_plan;
    for (const ServerDeletion &deletion : plan.serverDeletions) {
        if (!m_results->wanted())
            co_return;
        QCoro::Task<void> deleting = deleteOnServer(deletion);
        co_await deleting;
    }
    for (const LocalRemoval &removal : plan.localRemovals) {
        if (!m_results->wanted())
            co_return;
        QCoro::Task<void> removing = removeLocally(removal);
        co_await removing;
    }

    // Each queue's task is made before it is awaited: no temporary with a
    // destructor is part of a co_await expression.
    QCoro::Task<void> uploading = runBounded(plan.uploads, maxConcurrent, [this, &plan](const Upload &item) {
        openAhead(plan.uploads, std::size_t(&item - plan.uploads.data()));
        return upload(item);
    });
    co_await uploading;
    m_openingAhead.clear();
    // Sent: the planned uploads are freed (off the main thread) before the
    // answer that confirms them comes in, which at a first sync lists them
    // all again.
    releaseInBackground(std::make_shared<const std::vector<Upload>>(std::exchange(m_plan->uploads, {})));
    QCoro::Task<void> confirming = confirmUploads();
    co_await confirming;
    QCoro::Task<void> downloading =
        runBounded(plan.downloads, maxConcurrent, [this](const Download &item) { return download(item); });
    co_await downloading;
    // Documents that changed on the server before their removal could be
    // carried out come down again (copied: a download may yet add to them).
    const std::vector<Download> restores = m_restores;
    QCoro::Task<void> restoring =
        runBounded(restores, maxConcurrent, [this](const Download &item) { return download(item); });
    co_await restoring;
}

void FolderRun::openAhead(const std::vector<Upload> &uploads, std::size_t from)
{
    // The uploads starting now and the next few: by their turn, their files
    // are open and read, and an upload waits neither for the disk nor for a
    // worker to answer.
    const std::size_t end = std::min(uploads.size(), from + 2 * std::size_t(maxConcurrent));
    for (std::size_t i = from; i < end; ++i) {
        const QString &path = uploads[i].path;
        if (!m_openingAhead.contains(path))
            m_openingAhead.insert(path, startOpening(path));
    }
}

QFuture<FolderRun::OpenedToSend> FolderRun::startOpening(const QString &path) const
{
    return runInBackground(diskThreads(), [folder = m_folder, relativePath = relative(path),
                                           sender = QThread::currentThread()] {
        return openOn(folder, relativePath, sender);
    });
}

QCoro::Task<SyncStatusResponse> FolderRun::askWhatChanged(SyncDocumentSink each)
{
    // Each look asks only for what changed since the previous one, and what
    // it hears is kept for the looks after it: a pass that sends many edits
    // does not hear of its own uploads again and again.
    const quint64 look = ++m_looksAsked;
    QCoro::Task<SyncStatusResponse> asking =
        m_apiClient.getSyncStatus(m_context.serverFolderId, m_lookedUntil, std::move(each));
    SyncStatusResponse recent = co_await asking;
    if (look > m_looksHeard) {
        m_looksHeard = look;
        m_lookedUntil = recent.serverTime;
    }
    co_return recent;
}

void FolderRun::takeIn(const SyncStatusResponse &recent)
{
    for (const qint64 id : recent.deletedIds)
        m_heardSince[id] = std::nullopt;
    for (const SyncDocument &document : recent.documents)
        m_heardSince[document.id] = knownFrom(document, m_times);
}

FolderRun::Since FolderRun::heardOf(const DocumentVersion &expected)
{
    Since since;
    const auto heard = m_heardSince.constFind(expected.documentId);
    if (heard == m_heardSince.cend())
        return since;
    if (!*heard) {
        since.deleted = true;
    } else if ((*heard)->fileHash != expected.document.fileHash) {
        since.changed = **heard;
        m_results->documentChanged(m_context.serverFolderId, expected.documentId, *since.changed);
    }
    return since;
}

QCoro::Task<FolderRun::Since> FolderRun::lookAgain(DocumentVersion planned)
{
    QCoro::Task<SyncStatusResponse> asking = askWhatChanged();
    const SyncStatusResponse recent = co_await asking;
    takeIn(recent);
    co_return heardOf(planned);
}

QCoro::Task<void> FolderRun::confirmUploads()
{
    if (m_sent.empty() || !m_results->wanted())
        co_return;
    // After a first sync the answer lists every upload, thousands of them:
    // each goes into a copy of the known documents as it is decoded, and
    // the rest is done on a worker thread (nothing else of this run moves
    // meanwhile). Everything since the pass's answer has then been heard:
    // the remembered server folder takes it in, and the next pass asks only
    // from here, so it does not hear of this pass's own uploads once more.
    const auto update = std::make_shared<KnownDocumentsUpdate>(m_results->knownDocuments(m_context.serverFolderId));
    SyncStatusResponse recent;
    try {
        QCoro::Task<SyncStatusResponse> asking =
            askWhatChanged([update](SyncDocument &&document) { update->take(document); });
        recent = co_await asking;
    } catch (const std::exception &) {
        co_return; // not heard: the uploads stand as agreed
    }
    QCoro::Task<std::vector<const Sent *>> confirming = onWorker([this, update, &recent] {
        // What the earlier looks heard counts where this answer, which is
        // newer, says nothing.
        update->takeEarlier(m_heardSince);
        update->finish(recent.deletedIds);
        // Each upload's receipt is among the known documents: another
        // version, or none, came after it.
        std::vector<const Sent *> raced;
        const KnownDocuments &documents = update->documents();
        for (const Sent &sent : m_sent) {
            const auto document = documents.constFind(sent.documentId);
            if (document == documents.cend() || document->fileHash != sent.fileHash)
                raced.push_back(&sent);
        }
        return raced;
    });
    const std::vector<const Sent *> raced = co_await confirming;
    for (const Sent *sent : raced) {
        // Another computer sent its version of the document in the same
        // moment, unseen by this one.
        m_results->sentButRaced(sent->path, sent->documentId);
        qCWarning(lcSyncEngine, "%s changed on the server as it was sent; both versions are kept at the next pass",
                  qUtf8Printable(nameOf(sent->path)));
    }
    m_results->learned(m_context.serverFolderId, update->documents(), m_lookedUntil, true);
}

QCoro::Task<void> FolderRun::deleteOnServer(ServerDeletion deletion)
{
    const QString name = nameOf(deletion.path);
    const DocumentVersion planned{deletion.documentId, deletion.document};
    try {
        // A document changed since the plan's answer (by another computer,
        // say) is kept, and its new version comes back. It is asked for again
        // just before, and the deletion names the version it means: a
        // service that honours that refuses it if an edit landed after the
        // look; one that does not deletes whatever it holds.
        QCoro::Task<Since> looking = lookAgain(planned);
        Since since = co_await looking;
        bool refused = false;
        if (!since.changed && !since.deleted) {
            QCoro::Task<bool> deleting = refusedDeletion(planned);
            refused = co_await deleting;
        }
        if (refused) {
            QCoro::Task<Since> lookingAfter = lookAgain(planned);
            since = co_await lookingAfter;
            if (!since.changed && !since.deleted) {
                qCWarning(lcSyncEngine, "The server would not delete the document of removed file %s; "
                          "tried again at the next pass", qUtf8Printable(name));
                co_return;
            }
        }
        if (since.changed) {
            m_restores.push_back({deletion.documentId, *since.changed, deletion.path, Download::Placement::newFile, {}});
            qCInfo(lcSyncEngine, "Kept the document of removed file %s: it changed on the server meanwhile",
                   qUtf8Printable(name));
            co_return;
        }
    } catch (const std::exception &error) {
        // Already gone is as good as deleted; otherwise the entry stays, so
        // the next pass tries again.
        const auto *apiError = dynamic_cast<const APIError *>(&error);
        if (!apiError || !apiError->isNotFound()) {
            qCCritical(lcSyncEngine, "Could not delete the document of removed file %s: %s", qUtf8Printable(name),
                       qUtf8Printable(failureText(error)));
            co_return;
        }
    }
    m_results->documentDeleted(m_context.serverFolderId, deletion.documentId);
    m_results->forgotten(deletion.path);
    qCInfo(lcSyncEngine, "Deleted remote document for removed local file %s", qUtf8Printable(relative(deletion.path)));
}

QCoro::Task<bool> FolderRun::refusedDeletion(DocumentVersion planned)
{
    try {
        QCoro::Task<DeleteResponse> deleting = m_apiClient.deleteDocument(planned.documentId, expectedOnServer(&planned));
        co_await deleting;
    } catch (const APIError &error) {
        if (!error.isChangedMeanwhile())
            throw;
        co_return true;
    }
    co_return false;
}

QCoro::Task<void> FolderRun::removeLocally(LocalRemoval removal)
{
    const QString name = nameOf(removal.path);
    // Checked and moved to the Trash in one go on a worker: with no wait
    // for the main thread between the two, a save has the least room to
    // land between them, and the Trash's record reaches the disk away from
    // the interface.
    struct Removed {
        bool changed = false;
        std::shared_ptr<TrashedFile> trashed;
        QString failure; // of the move
    };
    QCoro::Task<Removed> removing =
        onWorker([folder = m_folder, relativePath = relative(removal.path), expected = removal.expectedHash] {
            Removed removed;
            const WorkerText now = hashOn(folder, relativePath);
            removed.changed = !now.failure.isEmpty() || now.text != expected;
            if (removed.changed)
                return removed;
            try {
                removed.trashed = std::make_shared<TrashedFile>(folder->moveToTrash(relativePath));
            } catch (const std::exception &error) {
                removed.failure = failureText(error);
            }
            return removed;
        });
    const Removed removed = co_await removing;
    if (removed.changed) {
        // Changed (or gone) since the plan read it: the user's newer work is
        // kept and goes up as a new file.
        m_results->forgotten(removal.path);
        qCInfo(lcSyncEngine, "Kept local file changed since its document was deleted: %s", qUtf8Printable(name));
        co_return;
    }
    if (!removed.trashed) {
        qCCritical(lcSyncEngine, "Kept %s, whose document was deleted on the server: %s", qUtf8Printable(name),
                   qUtf8Printable(removed.failure));
        m_results->notice(noticetitles::fileKept(),
                          QCoreApplication::translate(
                              "FolderRun", "%1 was deleted on the server, but it could not be moved to the Trash: %2")
                              .arg(name, removed.failure));
        co_return;
    }
    const std::shared_ptr<TrashedFile> trashed = removed.trashed;
    m_results->forgotten(removal.path);
    QCoro::Task<bool> checking = keptIfChanged(trashed, removal);
    if (co_await checking)
        co_return;
    qCInfo(lcSyncEngine, "Deleted local file: %s", qUtf8Printable(name));
    m_results->notice(noticetitles::movedToTrash(),
                      QCoreApplication::translate("FolderRun", "%1 was deleted on the server and moved to the Trash")
                          .arg(name));
}

QCoro::Task<bool> FolderRun::keptIfChanged(std::shared_ptr<TrashedFile> trashed, LocalRemoval removal)
{
    // A save can land between the check above and the move: what went to
    // the Trash is checked once more, and anything but the agreed content
    // comes back, untracked, and syncs up as a new file. Checked and put
    // back on a worker, like the move itself.
    const QString name = nameOf(removal.path);
    struct Checked {
        bool changed = false;
        WorkerText back; // the name it came back under, or why it could not
    };
    QCoro::Task<Checked> checking = onWorker([trashed, name, expected = removal.expectedHash] {
        Checked checked;
        const WorkerText moved = textOrFailure([&] { return trashed->hash(); });
        checked.changed = !moved.failure.isEmpty() || moved.text != expected;
        if (checked.changed)
            checked.back = textOrFailure([&] { return putBack(*trashed, name, QDateTime::currentDateTime()); });
        return checked;
    });
    const Checked checked = co_await checking;
    if (!checked.changed)
        co_return false;
    if (checked.back.failure.isEmpty()) {
        qCInfo(lcSyncEngine, "Kept local file changed just before it was to go to the Trash: %s",
               qUtf8Printable(checked.back.text));
    } else {
        qCCritical(lcSyncEngine, "A file changed just before it went to the Trash stays there: %s",
                   qUtf8Printable(checked.back.failure));
        m_results->notice(noticetitles::movedToTrash(),
                          QCoreApplication::translate(
                              "FolderRun", "%1 changed just before it was moved to the Trash; restore it from there")
                              .arg(name));
    }
    co_return true;
}

TrackedFile FolderRun::entryFor(const ContentHash &localHash, qint64 remoteId, const std::optional<ContentHash> &remoteHash,
                                const FileFacts &facts, qint64 recordedNs)
{
    TrackedFile entry;
    entry.localHash = localHash;
    entry.remoteId = remoteId;
    entry.remoteHash = remoteHash;
    // Entries agreed within one second share one text.
    static thread_local QString syncedText;
    static thread_local qint64 syncedSecond = -1;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (now.toSecsSinceEpoch() != syncedSecond) {
        syncedSecond = now.toSecsSinceEpoch();
        syncedText = now.toString(Qt::ISODate);
    }
    entry.lastSynced = syncedText;
    entry.localModified = facts.exists ? facts.modified() : now;
    if (facts.exists) {
        entry.size = facts.size;
        entry.inode = qint64(facts.inode);
        entry.modifiedNs = facts.modifiedNs;
        entry.changedNs = facts.changedNs;
        entry.recordedNs = recordedNs;
    }
    return entry;
}

QCoro::Task<void> FolderRun::upload(Upload item)
{
    // Dropped, and its file closed, if the upload ends early.
    QFuture<Opened> openedAhead = m_openingAhead.take(item.path);
    if (!m_results->wanted())
        co_return;
    const QString relativePath = relative(item.path);
    try {
        if (item.replaces) {
            // A version that came since the plan is not replaced unseen; the
            // next pass decides. The document is asked for again just before,
            // and the upload names the version it replaces, for a service
            // that refuses it when an edit landed after the look.
            QCoro::Task<Since> looking = lookAgain(*item.replaces);
            const Since since = co_await looking;
            if (since.changed || since.deleted) {
                qCInfo(lcSyncEngine, "Upload of %s waits: its document changed on the server meanwhile",
                       qUtf8Printable(item.name));
                co_return;
            }
        }
        if (item.keepReplaced) {
            QCoro::Task<void> keeping = keepServerCopy(item);
            co_await keeping;
        }
        // What is recorded is the file as it was opened for sending (its
        // facts from the open file itself) and the hash of the bytes that
        // went: a save while the file goes up changes the file's facts, and
        // the next pass sends the newer content. The file is read through
        // the folder's own access: a link or a pipe put in its place is
        // refused, never followed or waited on.
        if (!openedAhead.isValid())
            openedAhead = startOpening(item.path);
        QCoro::Task<Opened> opening = takeResultOf(openedAhead);
        Opened opened = co_await opening;
        if (!opened.failure.isEmpty())
            throw FileError(opened.failure);
        FolderAccess::OpenedFile &file = opened.file;
        TrackedFile entry = entryFor({}, 0, {}, file.facts, opened.openedNs);
        QCoro::Task<UploadReceipt> sending =
            m_apiClient.uploadDocument(std::move(file.device), nameOf(item.path), item.name, m_context.serverFolderId,
                                       [results = m_results, name = item.name, path = item.path](qint64 bytes) {
                                           results->moving(name, QStringLiteral("uploading"), path, bytes);
                                       },
                                       expectedOnServer(item.replaces.get()));
        const UploadReceipt receipt = co_await sending;
        const DocumentResponse &document = receipt.document;
        m_results->documentChanged(
            m_context.serverFolderId, document.id,
            KnownDocument{document.name, document.fileHash, document.fileSize, m_times.take(document.updatedAt)});
        // The server's hash is normally the one sent: one shared copy.
        entry.localHash = document.fileHash == receipt.sentHash ? *document.fileHash : receipt.sentHash;
        if (entry.localHash.isEmpty()) {
            // The body was sent more than once or not in order: read it again.
            std::shared_ptr<FolderAccess> folder = m_folder;
            QCoro::Task<WorkerText> hashing = onWorker([folder, relativePath] { return hashOn(folder, relativePath); });
            const WorkerText hashed = co_await hashing;
            entry.localHash = hashed.orThrow();
        }
        entry.remoteId = document.id;
        entry.remoteHash = document.fileHash;
        entry.sentFromHere = true;
        m_results->agreed(item.path, entry);
        m_sent.push_back({item.path, document.id, document.fileHash});
        m_results->transferred(item.name, QStringLiteral("uploaded"), item.path, item.facts.size, std::nullopt);
    } catch (const std::exception &error) {
        const auto *apiError = dynamic_cast<const APIError *>(&error);
        if (apiError && apiError->isChangedMeanwhile()) {
            if (item.replaces)
                qCInfo(lcSyncEngine, "Upload of %s waits: its document changed on the server meanwhile",
                       qUtf8Printable(item.name));
            else
                qCInfo(lcSyncEngine, "Upload of %s waits: a document of that name appeared on the server meanwhile",
                       qUtf8Printable(item.name));
            co_return;
        }
        m_results->transferred(item.name, QStringLiteral("uploaded"), item.path, item.facts.size, failureText(error, m_apiClient.baseURL()));
    }
}

QCoro::Task<IncomingFile> FolderRun::receive(qint64 documentId, QString relativeDestination, QString name, QString path)
{
    QCoro::Task<QUrl> linking = m_apiClient.getDownloadURL(documentId);
    const QUrl source = co_await linking;
    // Opened on a disk thread: making folders and a file waits on the disk.
    struct Opened {
        std::optional<IncomingFile> file;
        QString failure;
    };
    std::shared_ptr<FolderAccess> folder = m_folder;
    QCoro::Task<Opened> opening = onWorker(
        [folder, relativeDestination, here = QThread::currentThread()]() -> Opened {
            try {
                // A folder removed here whose file still comes down is made again.
                folder->makeFolders(relativeDestination.section(QLatin1Char('/'), 0, -2));
                IncomingFile file = folder->createIncoming(relativeDestination);
                // The download writes into it from the thread that asked.
                file.device().moveToThread(here);
                return {std::move(file), {}};
            } catch (const std::exception &error) {
                return {std::nullopt, failureText(error)};
            }
        },
        diskThreads());
    Opened opened = co_await opening;
    if (!opened.file)
        throw FileError(opened.failure);
    IncomingFile incoming = std::move(*opened.file);
    QCoro::Task<void> receiving =
        m_apiClient.downloadFile(source, &incoming.device(), [results = m_results, name, path](qint64 bytes) {
            results->moving(name, QStringLiteral("downloading"), path, bytes);
        });
    co_await receiving;
    co_return incoming;
}

QCoro::Task<void> FolderRun::keepServerCopy(const Upload &item)
{
    const DocumentVersion &copy = *item.replaces;
    QCoro::Task<IncomingFile> receiving =
        receive(copy.documentId, relative(item.path), copy.document.name, item.path);
    IncomingFile incoming = co_await receiving;
    // Named and on disk before the upload replaces the server's version.
    QCoro::Task<WorkerText> placing = onWorker(
        [&incoming, &item] {
            return textOrFailure([&] {
                const QString copyName =
                    placeAsConflictCopy(incoming, item.name, QDateTime::currentDateTime(), item.path);
                incoming.syncPlacement();
                return copyName;
            });
        },
        diskThreads());
    const WorkerText placed = co_await placing;
    const QString &copyName = placed.orThrow();
    qCWarning(lcSyncEngine, "Conflict on %s: the local version is newer; the server's version was kept as %s",
              qUtf8Printable(item.name), qUtf8Printable(copyName));
    m_results->notice(noticetitles::conflictCopyMade(),
                      QCoreApplication::translate("FolderRun",
                                                  "%1 changed on both sides; the version on %2 is newer, and the "
                                                  "server's version was kept as %3")
                          .arg(item.name, QSysInfo::machineHostName(), copyName));
    m_results->transferred(copy.document.name, QStringLiteral("downloaded"), parentOf(item.path) + copyName,
                           copy.document.fileSize.value_or(0), std::nullopt);
}

QCoro::Task<void> FolderRun::download(Download item)
{
    if (!m_results->wanted())
        co_return;
    const QString name = item.document.name;
    const qint64 size = item.document.fileSize.value_or(0);
    try {
        QCoro::Task<IncomingFile> receiving = receive(item.documentId, relative(item.destination), name, item.destination);
        IncomingFile incoming = co_await receiving;
        // Read back on a worker: the download may be large.
        QCoro::Task<WorkerText> readingBack =
            onWorker([&incoming] { return textOrFailure([&] { return incoming.hash(); }); });
        const WorkerText readBack = co_await readingBack;
        const QString &receivedHash = readBack.orThrow();
        if (!m_results->wanted())
            co_return;
        // Looked at and put in place on a disk thread, in one go: the look
        // is as late as can be, and the main thread never waits on a rename.
        const QDateTime now = QDateTime::currentDateTime();
        QCoro::Task<Landing> placing =
            onWorker([this, &incoming, &item, &receivedHash, now] { return land(incoming, item, receivedHash, now); },
                     diskThreads());
        const Landing landed = co_await placing;
        if (landed.localKeptAs) {
            qCWarning(lcSyncEngine, "Conflict on %s: the server's version is newer; the local version was kept as %s",
                      qUtf8Printable(name), qUtf8Printable(*landed.localKeptAs));
            m_results->notice(noticetitles::conflictCopyMade(),
                              QCoreApplication::translate("FolderRun", "%1 changed on both sides; the version on %2 was "
                                                                       "kept as %3")
                                  .arg(name, QSysInfo::machineHostName(), *landed.localKeptAs));
        }
        if (!landed.failure.isEmpty())
            throw FileError(landed.failure);
        if (!landed.keptAsideAs)
            m_results->agreed(item.destination, entryFor(receivedHash, item.documentId, item.document.fileHash,
                                                         incoming.asPlaced(landed.written),
                                                         incoming.placedAtNs(landed.written, landed.writtenNs)));
        if (landed.replaced) {
            // A save can land between the content check and the move to the
            // Trash: what went there is checked once more.
            QCoro::Task<bool> checking = keptIfChanged(landed.replaced, {item.destination, item.expectedLocalHash});
            co_await checking;
        }
        if (landed.keptAsideAs) {
            const QString &copy = *landed.keptAsideAs;
            qCWarning(lcSyncEngine, "Kept the server's version of %s beside the local file as %s",
                      qUtf8Printable(name), qUtf8Printable(copy));
            m_results->notice(noticetitles::conflictCopyMade(),
                              QCoreApplication::translate("FolderRun", "The server's version of %1 was saved as %2")
                                  .arg(name, copy));
            m_results->transferred(name, QStringLiteral("downloaded"), parentOf(item.destination) + copy, size,
                                   std::nullopt);
            co_return;
        }
        m_results->transferred(name, QStringLiteral("downloaded"), item.destination, size, std::nullopt);
    } catch (const std::exception &error) {
        m_results->transferred(name, QStringLiteral("downloaded"), item.destination, size, failureText(error, m_apiClient.baseURL()));
    }
}

FolderRun::Landing FolderRun::land(IncomingFile &incoming, const Download &item, const QString &receivedHash,
                                   const QDateTime &now) const
{
    Landing landed;
    try {
        // What stands at the destination now: its facts first, then its
        // content, so that a save after the read shows in the facts.
        const Standing standing = Standing::at(*m_folder, relative(item.destination));
        // The facts of the bytes as written, before they take the
        // destination's name: an edit made there after the placement
        // differs from them and is read again.
        landed.writtenNs = descriptors::fileClockNs();
        landed.written = incoming.writtenFacts();
        if (!place(incoming, item, receivedHash, standing, now, landed))
            landed.keptAsideAs = placeAsConflictCopy(incoming, nameOf(item.destination), now, item.destination);
        // The new name reaches the disk before anything is recorded of it.
        incoming.syncPlacement();
    } catch (const std::exception &error) {
        landed.failure = failureText(error);
        // The download could not take the place of the file moved to the
        // Trash for it: that file comes back.
        if (landed.replaced) {
            try {
                putBack(*landed.replaced, nameOf(item.destination), now);
                landed.replaced.reset();
            } catch (const std::exception &notBack) {
                landed.failure += QStringLiteral("; %1").arg(failureText(notBack));
            }
        }
    }
    return landed;
}

bool FolderRun::place(IncomingFile &incoming, const Download &item, const QString &receivedHash,
                      const Standing &standing, const QDateTime &now, Landing &landed) const
{
    if (standing.hash && *standing.hash == receivedHash) {
        // Already the same content here: agreed, with no copy of anything.
        incoming.discard();
        return true;
    }
    if (item.placement == Download::Placement::newFile || !standing.hash)
        return incoming.placeNew();
    // Another version appeared at the destination since the plan looked:
    // the download goes beside it, and the next pass sees both.
    if (*standing.hash != item.expectedLocalHash)
        return false;
    const QString &destination = standing.path;
    switch (item.placement) {
    case Download::Placement::update:
        // The agreed version, replaced where it stands (keeping its mode)
        // only while it is still the file whose content was just read.
        return incoming.replace(standing.facts);
    case Download::Placement::replaceUnchanged:
        landed.replaced = std::make_shared<TrashedFile>(m_folder->moveToTrash(destination));
        incoming.setPermissions(landed.replaced->facts().permissions);
        break;
    case Download::Placement::replaceConflict: {
        // The local version lost the conflict: it stays, under a name of its
        // own, and syncs up as a new file; the new version keeps its mode.
        if (standing.facts.isRegularFile)
            incoming.setPermissions(standing.facts.permissions);
        const auto movedAside = [&](const QString &candidate) { return m_folder->moveAside(destination, candidate); };
        const QString copy = takeConflictCopyName(nameOf(item.destination), now, movedAside);
        if (copy.isEmpty())
            return false;
        landed.localKeptAs = copy;
        break;
    }
    case Download::Placement::newFile:
        break;
    }
    return incoming.placeNew();
}
