#pragma once

#include "state/FileWatcher.h"
#include "sync/SyncState.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QTimer>

class APIClient;
class AppState;
class FileWatcher;
struct SyncDocument;

// Keeps every watched folder in step with its server folder. Lives on the
// main thread; passes are coroutines that suspend at each request.
class SyncEngine : public QObject {
    Q_OBJECT
public:
    static constexpr int maxConcurrent = 3;

    // stateFilePath defaults to SyncState::fileURL().
    SyncEngine(APIClient &apiClient, AppState &appState, QString stateFilePath = QString(),
               QObject *parent = nullptr);
    ~SyncEngine() override;

    void start();
    void startTimer();
    void stop();
    QCoro::Task<void> syncNow();
    QCoro::Task<void> performSync();

    bool isSyncing() const { return m_isSyncing; }
    const SyncState &syncState() const { return m_syncState; }
    FileWatcher *fileWatcher() const { return m_fileWatcher; }
    QTimer *syncTimer() const { return m_syncTimer; }

signals:
    // Emitted at the end of every pass that ran (not for dropped requests).
    void passFinished();

private:
    APIClient &m_apiClient;
    AppState &m_appState;
    QString m_stateFilePath;
    QPointer<FileWatcher> m_fileWatcher;
    QPointer<QTimer> m_syncTimer;
    SyncState m_syncState;
    bool m_isSyncing = false;
};
