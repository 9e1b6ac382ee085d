// One watched folder's pass: status, reconciliation, deletions both ways,
// transfers, and the folder's since time.
#include "sync/SyncEngine.h"

#include "api/APIClient.h"
#include "platform/Logging.h"
#include "sync/Reconciler.h"
#include "sync/UnreadableFolder.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace {

bool isBelowAny(const QString &path, const QStringList &directories)
{
    return std::any_of(directories.cbegin(), directories.cend(), [&](const QString &directory) {
        return path.startsWith(directory + QLatin1Char('/'));
    });
}

// Only a file whose content is still what was last agreed may go with its
// document; a file changed since (or one that cannot be read, or is no
// longer a regular file) is the user's newer work.
bool unchangedSinceAgreement(const QString &path, const TrackedFile &entry)
{
    try {
        return LocalScanner::computeFileHash(path) == entry.localHash;
    } catch (const std::exception &) {
        return false;
    }
}

} // namespace

QCoro::Task<void> SyncEngine::syncFolder(QString folderPath, qint64 serverFolderId)
{
    const QPointer<SyncEngine> self(this);
    std::optional<QString> since = m_syncState.lastSyncTime;
    if (const auto own = m_syncState.folderSyncTimes.constFind(folderPath);
        own != m_syncState.folderSyncTimes.cend())
        since = own->isEmpty() ? std::nullopt : std::optional<QString>(*own);

    const SyncStatusResponse status = co_await m_apiClient.getSyncStatus(serverFolderId, since);
    if (!self)
        co_return;
    LocalScanner::Listing listing = LocalScanner::scanLocalFiles(folderPath);
    if (!listing.readable)
        throw UnreadableFolder(folderPath);

    Reconciler::FolderPlan plan =
        Reconciler::planFolder(folderPath, listing, status.documents, m_syncState.trackedFiles);
    removeLocalFilesDeletedOnServer(folderPath, status.deletedIds);
    co_await deleteRemoteDocumentsOfRemovedFiles(folderPath, std::move(listing));
    if (!self)
        co_return;

    m_failedTransfers = 0;
    co_await runTransfers(std::move(plan.uploads), std::move(plan.downloads), serverFolderId);
    if (!self)
        co_return;

    // A failed download is decided again only if the server lists its
    // document again, so the folder's own since time moves on only when every
    // transfer went through. An empty text stands for "from the beginning";
    // lastSyncTime is only the fallback of folders mapped before per-folder
    // times were kept.
    m_syncState.folderSyncTimes.insert(folderPath, m_failedTransfers == 0 ? status.serverTime
                                                                          : since.value_or(QString()));
    m_syncState.lastSyncTime = status.serverTime;
    saveState();
}

void SyncEngine::removeLocalFilesDeletedOnServer(const QString &folderPath, const std::vector<qint64> &deletedIds)
{
    // Only files of the folder being synced: another folder mapped to the
    // same server folder, or one no longer watched, is not this pass's to
    // change.
    const QString prefix = folderPath + QLatin1Char('/');
    auto &tracked = m_syncState.trackedFiles;
    const auto findInFolder = [&](qint64 id) {
        // The folder's paths are one run of the sorted map.
        for (auto entry = tracked.lowerBound(prefix); entry != tracked.end() && entry.key().startsWith(prefix); ++entry)
            if (entry->remoteId == id)
                return entry;
        return tracked.end();
    };
    for (const qint64 id : deletedIds) {
        const auto entry = findInFolder(id);
        if (entry == tracked.end())
            continue;
        const QString path = entry.key();
        const QString name = QFileInfo(path).fileName();
        if (Reconciler::existsAt(path)) {
            if (unchangedSinceAgreement(path, *entry)) {
                QFile::remove(path); // a failure leaves the file; the entry goes all the same
                qCInfo(lcSyncEngine, "Deleted local file: %s", qUtf8Printable(name));
            } else {
                qCInfo(lcSyncEngine, "Kept local file changed since its document was deleted: %s",
                       qUtf8Printable(name));
            }
        }
        tracked.erase(entry);
    }
}

QCoro::Task<void> SyncEngine::deleteRemoteDocumentsOfRemovedFiles(QString folderPath,
                                                                  LocalScanner::Listing listing)
{
    const QPointer<SyncEngine> self(this);
    const QString prefix = folderPath + QLatin1Char('/');
    const auto &tracked = m_syncState.trackedFiles;
    QStringList removed;
    // The folder's paths are one run of the sorted map.
    for (auto entry = tracked.lowerBound(prefix); entry != tracked.cend() && entry.key().startsWith(prefix); ++entry) {
        const QString &path = entry.key();
        if (listing.allPaths.contains(path))
            continue;
        // Below an unreadable directory, or still present though not listed
        // (no longer a regular file): not known to be removed.
        if (isBelowAny(path, listing.unreadableDirectories) || Reconciler::existsAt(path))
            continue;
        removed.append(path);
    }

    for (const QString &path : removed) {
        const auto entry = m_syncState.trackedFiles.constFind(path);
        if (entry == m_syncState.trackedFiles.cend())
            continue;
        const QString documentPath = QStringLiteral("/api/v1/documents/") + QString::number(entry->remoteId);
        try {
            co_await m_apiClient.requestBody(QStringLiteral("DELETE"), documentPath);
        } catch (const std::exception &) {
            // The next listing of the server tells whether it is gone.
        }
        if (!self)
            co_return;
        m_syncState.trackedFiles.remove(path);
        qCInfo(lcSyncEngine, "Deleted remote document for removed local file");
    }
}
