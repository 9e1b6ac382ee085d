// The transfer phase of a folder: uploads, then downloads, each a
// self-contained step that records the new agreement on success.
#include "sync/SyncEngine.h"

#include "api/APIClient.h"
#include "platform/Logging.h"
#include "state/AppState.h"
#include "sync/FailureText.h"
#include "sync/Reconciler.h"
#include "sync/TransferQueue.h"

namespace {

QCoro::Task<void> nothingToDo()
{
    co_return;
}

} // namespace

QCoro::Task<void> SyncEngine::runTransfers(std::vector<UploadItem> uploads,
                                           std::vector<DownloadItem> downloads, qint64 folderId)
{
    const QPointer<SyncEngine> self(this);
    const auto uploadOne = [self, folderId](const UploadItem &item) {
        return self ? self->uploadFile(item.path, item.name, folderId) : nothingToDo();
    };
    const auto downloadOne = [self](const DownloadItem &item) {
        return self ? self->downloadDocument(item.document, item.destination) : nothingToDo();
    };
    // Each queue's task is made before it is awaited: no temporary with a
    // destructor is part of a co_await expression.
    QCoro::Task<void> uploading = runBounded(std::move(uploads), maxConcurrent, uploadOne);
    co_await uploading;
    if (!self)
        co_return;
    QCoro::Task<void> downloading = runBounded(std::move(downloads), maxConcurrent, downloadOne);
    co_await downloading;
}

QCoro::Task<void> SyncEngine::uploadFile(QString filePath, QString name, qint64 folderId)
{
    const QPointer<SyncEngine> self(this);
    try {
        // The hash from before the upload is the one recorded: if the file is
        // saved again while it goes up, the next pass sees the difference
        // instead of taking the newer content as already sent.
        const QString hashBefore = LocalScanner::computeFileHash(filePath);
        const UploadReceipt receipt = co_await m_apiClient.uploadDocument(filePath, name, folderId);
        const DocumentResponse &document = receipt.document;
        if (!self)
            co_return;
        LocalScanner::checkReadable(filePath); // the file must still be there to be tracked
        recordAgreement(filePath, document.id, document.fileHash, hashBefore);
        addRecentFile(name, QStringLiteral("uploaded"));
        qCInfo(lcSyncEngine, "Uploaded: %s", qUtf8Printable(name));
    } catch (const std::exception &error) {
        if (!self)
            co_return;
        ++m_failedTransfers;
        qCCritical(lcSyncEngine, "Upload failed for %s: %s", qUtf8Printable(name),
                   qUtf8Printable(failureText(error)));
    }
}

QCoro::Task<void> SyncEngine::downloadDocument(SyncDocument document, QString destinationPath)
{
    const QPointer<SyncEngine> self(this);
    try {
        const QUrl source = co_await m_apiClient.getDownloadURL(document.id);
        if (!self)
            co_return;
        // A new document never replaces a file that the user made at its
        // place while the pass was running; the next pass sees the pair.
        if (!m_syncState.trackedFiles.contains(destinationPath) && Reconciler::existsAt(destinationPath))
            throw FileError(QStringLiteral("A local file appeared at %1").arg(destinationPath));
        co_await m_apiClient.downloadFile(source, destinationPath);
        if (!self)
            co_return;
        const QString hash = LocalScanner::computeFileHash(destinationPath);
        recordAgreement(destinationPath, document.id, document.fileHash, hash);
        addRecentFile(document.name, QStringLiteral("downloaded"));
        qCInfo(lcSyncEngine, "Downloaded: %s", qUtf8Printable(document.name));
    } catch (const std::exception &error) {
        if (!self)
            co_return;
        ++m_failedTransfers;
        qCCritical(lcSyncEngine, "Download failed for %s: %s", qUtf8Printable(document.name),
                   qUtf8Printable(failureText(error)));
    }
}

void SyncEngine::recordAgreement(const QString &path, qint64 remoteId,
                                 const std::optional<QString> &remoteHash, const QString &localHash)
{
    TrackedFile entry;
    entry.localHash = localHash;
    entry.remoteId = remoteId;
    entry.remoteHash = remoteHash;
    entry.lastSynced = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    entry.localModified = LocalScanner::fileModificationDate(path);
    m_syncState.trackedFiles.insert(path, entry);
    saveState();
}

void SyncEngine::addRecentFile(const QString &name, const QString &action)
{
    m_appState.recordTransfer(name, action);
}
