#include "sync/SyncEngine.h"

#include "api/APIClient.h"
#include "platform/Logging.h"
#include "platform/Preferences.h"
#include "state/AppState.h"
#include "sync/FailureText.h"
#include "sync/UnreadableFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QMetaObject>
#include <cmath>
#include <limits>

namespace {

const QString rootFolderName = QStringLiteral("Desktop Sync");
const QString foldersPath = QStringLiteral("/api/v1/folders");

} // namespace

SyncEngine::SyncEngine(APIClient &apiClient, AppState &appState, QString stateFilePath, QObject *parent)
    : QObject(parent),
      m_apiClient(apiClient),
      m_appState(appState),
      m_stateFilePath(stateFilePath.isEmpty() ? SyncState::fileURL() : std::move(stateFilePath)),
      m_syncState(SyncState::load(m_stateFilePath))
{
    // The default location makes its own directory; a given one may not exist yet.
    QDir().mkpath(QFileInfo(m_stateFilePath).absolutePath());
}

// The watcher and the timer are children and go with the engine; a pass still
// suspended finds the engine gone when it resumes and ends there.
SyncEngine::~SyncEngine() = default;

void SyncEngine::start()
{
    delete m_fileWatcher; // stops its streams; its pending callback never runs
    const QPointer<SyncEngine> engine(this);
    auto *watcher = new FileWatcher(
        [engine] {
            if (engine)
                engine->schedulePass();
        },
        this);
    watcher->debounceInterval = debounceInterval;
    m_fileWatcher = watcher;
    watcher->stop();
    for (const QString &folder : m_appState.watchedFolders())
        watcher->watch(folder);

    m_running = true;
    startTimer();
    schedulePass();
}

int SyncEngine::syncIntervalMs(const Preferences &preferences)
{
    const double seconds = preferences.doubleValue(QStringLiteral("syncInterval")).value_or(0.0);
    if (!(seconds > 0))
        return defaultSyncIntervalMs;
    const double milliseconds = std::round(seconds * 1000.0);
    if (milliseconds >= double(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    return std::max(1, int(milliseconds));
}

void SyncEngine::startTimer()
{
    delete m_syncTimer;
    auto *timer = new QTimer(this);
    timer->setInterval(syncIntervalOverrideMs > 0 ? syncIntervalOverrideMs
                                                  : syncIntervalMs(m_appState.preferences()));
    connect(timer, &QTimer::timeout, this, &SyncEngine::schedulePass);
    timer->start();
    m_syncTimer = timer;
}

void SyncEngine::stop()
{
    m_running = false;
    delete m_syncTimer;
    if (m_fileWatcher)
        m_fileWatcher->stop();
    delete m_fileWatcher;
}

// Triggers return at once; the pass runs from the event loop. A call still
// queued when the engine goes is dropped by Qt with it.
void SyncEngine::schedulePass()
{
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_running)
                performSync();
        },
        Qt::QueuedConnection);
}

QCoro::Task<void> SyncEngine::syncNow()
{
    co_await performSync();
}

QCoro::Task<void> SyncEngine::performSync()
{
    if (m_isSyncing)
        co_return;
    if (!m_appState.isLoggedIn() || m_appState.watchedFolders().isEmpty())
        co_return;

    const QPointer<SyncEngine> self(this);
    m_isSyncing = true;
    m_appState.setSyncStatus(SyncStatus::syncing());

    std::optional<QString> failure;
    try {
        const qint64 rootId = co_await getOrCreateServerFolder();
        if (!self)
            co_return;
        const QStringList folders = m_appState.watchedFolders();
        for (const QString &folderPath : folders) {
            // A folder that cannot be read is not an emptied one: nothing of
            // it changes on either side (not even a server folder made for
            // it), and the others still sync.
            try {
                if (!canOpenDirectory(folderPath))
                    throw UnreadableFolder(folderPath);
                const qint64 folderId = co_await getOrCreateSubfolder(folderPath, rootId);
                if (!self)
                    co_return;
                co_await syncFolder(folderPath, folderId);
                if (!self)
                    co_return;
            } catch (const UnreadableFolder &unreadable) {
                if (!failure)
                    failure = unreadable.description();
            }
        }
    } catch (const std::exception &error) {
        if (!self)
            co_return;
        failure = failureText(error);
    }

    if (failure) {
        qCCritical(lcSyncEngine, "Sync failed: %s", qUtf8Printable(*failure));
        m_appState.setSyncStatus(SyncStatus::error(*failure));
    } else {
        m_appState.setSyncStatus(SyncStatus::idle());
        qCInfo(lcSyncEngine, "Sync completed");
    }
    m_isSyncing = false;
    emit passFinished();
}

QCoro::Task<qint64> SyncEngine::getOrCreateServerFolder()
{
    if (m_syncState.serverFolderId)
        co_return *m_syncState.serverFolderId;

    const QPointer<SyncEngine> self(this);
    const qint64 id = co_await findOrCreateFolder(rootFolderName, std::nullopt);
    if (!self)
        co_return 0;
    m_syncState.serverFolderId = id;
    saveState();
    co_return id;
}

QCoro::Task<qint64> SyncEngine::getOrCreateSubfolder(QString folderPath, qint64 parentId)
{
    if (const auto mapped = m_syncState.folderMappings.constFind(folderPath);
        mapped != m_syncState.folderMappings.cend())
        co_return *mapped;

    const QPointer<SyncEngine> self(this);
    const QString name = QFileInfo(folderPath).fileName();
    const qint64 id = co_await findOrCreateFolder(name, parentId);
    if (!self)
        co_return 0;
    m_syncState.folderMappings.insert(folderPath, id);
    // A folder new to the engine asks for everything its server folder
    // holds, not for what changed since another folder's pass.
    if (!m_syncState.folderSyncTimes.contains(folderPath))
        m_syncState.folderSyncTimes.insert(folderPath, QString());
    saveState();
    co_return id;
}

QCoro::Task<qint64> SyncEngine::findOrCreateFolder(QString name, std::optional<qint64> parentId)
{
    const QPointer<SyncEngine> self(this);
    const auto folders = co_await m_apiClient.request<std::vector<FolderResponse>>(QStringLiteral("GET"), foldersPath);
    if (!self)
        co_return 0;
    // The root is taken by its name alone, wherever it lies; a subfolder
    // must also lie under the given parent.
    for (const FolderResponse &folder : folders)
        if (folder.name == name && (!parentId || folder.parentId == parentId))
            co_return folder.id;
    const FolderResponse created = co_await m_apiClient.createFolder(name, parentId);
    co_return created.id;
}

void SyncEngine::saveState()
{
    m_syncState.save(m_stateFilePath);
    ++m_stateSaves;
    m_stateBytes += QFileInfo(m_stateFilePath).size();
}

void SyncEngine::answerRemovalQuestion(const QString &folder, bool remove)
{
    Q_UNUSED(folder);
    Q_UNUSED(remove);
}
