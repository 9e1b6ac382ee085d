#pragma once

#include "api/Records.h"
#include "state/FileWatcher.h"
#include "sync/LocalScanner.h"
#include "sync/SyncState.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <vector>

class APIClient;
class AppState;
class FileWatcher;
class Preferences;

// Keeps every watched folder in step with its server folder. Lives on the
// main thread; passes are coroutines that suspend at each request.
//
// Coroutines of the engine hold it weakly: after each suspension they check
// that it still exists and end quietly when it does not, so an engine dropped
// in the middle of a pass is never touched again.
class SyncEngine : public QObject {
    Q_OBJECT
public:
    static constexpr int maxConcurrent = 3;
    static constexpr int defaultSyncIntervalMs = 30000;

    // An upload: the local file and the name it gets on the server.
    struct UploadItem {
        QString path;
        QString name;
    };
    // A download: the document and the local path it is written to.
    struct DownloadItem {
        SyncDocument document;
        QString destination;
    };

    // stateFilePath defaults to SyncState::fileURL().
    SyncEngine(APIClient &apiClient, AppState &appState, QString stateFilePath = QString(),
               QObject *parent = nullptr);
    ~SyncEngine() override;

    void start();
    void startTimer();
    void stop();
    QCoro::Task<void> syncNow();
    QCoro::Task<void> performSync();

    QCoro::Task<qint64> getOrCreateServerFolder();
    QCoro::Task<qint64> getOrCreateSubfolder(QString folderPath, qint64 parentId);
    QCoro::Task<void> uploadFile(QString filePath, QString name, qint64 folderId);
    QCoro::Task<void> downloadDocument(SyncDocument document, QString destinationPath);
    void addRecentFile(const QString &name, const QString &action);

    // The user's answer to a mass-removal question of that folder: remove
    // the documents of the removed files from the server too, or download
    // them again.
    void answerRemovalQuestion(const QString &folder, bool remove);

    // The timer interval that the "syncInterval" preference asks for:
    // positive seconds, otherwise 30 s.
    static int syncIntervalMs(const Preferences &preferences);

    bool isSyncing() const { return m_isSyncing; }
    const SyncState &syncState() const { return m_syncState; }
    FileWatcher *fileWatcher() const { return m_fileWatcher; }
    QTimer *syncTimer() const { return m_syncTimer; }
    // Saves of the state file so far, and the bytes they wrote (each save
    // writes the whole file): what a pass costs the disk.
    qint64 stateSaveCount() const { return m_stateSaves; }
    qint64 stateBytesWritten() const { return m_stateBytes; }

    // Quiet period of the watchers made by start(), in milliseconds.
    int debounceInterval = 2000;
    // When positive, replaces the preference's timer interval (milliseconds).
    int syncIntervalOverrideMs = 0;

signals:
    // Emitted at the end of every pass that ran (not for dropped requests).
    void passFinished();

private:
    // Throws UnreadableFolder when the folder cannot be listed; nothing of
    // it has been changed then.
    QCoro::Task<void> syncFolder(QString folderPath, qint64 serverFolderId);
    // The id of the first listed folder with that name (and, when a parent
    // is given, that parent), or of a new one made for it.
    QCoro::Task<qint64> findOrCreateFolder(QString name, std::optional<qint64> parentId);
    void removeLocalFilesDeletedOnServer(const QString &folderPath, const std::vector<qint64> &deletedIds);
    QCoro::Task<void> deleteRemoteDocumentsOfRemovedFiles(QString folderPath,
                                                          LocalScanner::Listing listing);
    QCoro::Task<void> runTransfers(std::vector<UploadItem> uploads,
                                   std::vector<DownloadItem> downloads, qint64 folderId);
    void recordAgreement(const QString &path, qint64 remoteId, const std::optional<QString> &remoteHash,
                         const QString &localHash);
    // Starts a pass from the event loop, unless the engine was stopped since.
    void schedulePass();
    void saveState();

    APIClient &m_apiClient;
    AppState &m_appState;
    QString m_stateFilePath;
    QPointer<FileWatcher> m_fileWatcher;
    QPointer<QTimer> m_syncTimer;
    SyncState m_syncState;
    bool m_isSyncing = false;
    bool m_running = false;     // between start() and stop()
    int m_failedTransfers = 0;  // of the folder being synced
    qint64 m_stateSaves = 0;
    qint64 m_stateBytes = 0;
};
