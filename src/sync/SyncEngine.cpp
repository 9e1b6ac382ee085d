#include "sync/SyncEngine.h"

#include "api/APIClient.h"
#include "platform/Bookmarks.h"
#include "platform/FolderAccess.h"
#include "platform/Logging.h"
#include "platform/MemoryRelease.h"
#include "platform/Preferences.h"
#include "platform/RunInBackground.h"
#include "platform/WorkerResult.h"
#include "state/AppState.h"
#include "state/FileWatcher.h"
#include "state/NoticeTitles.h"
#include "sync/FailureText.h"
#include "sync/FolderRun.h"
#include "sync/StateCompaction.h"
#include "sync/StateSaver.h"
#include "sync/UnreadableFolder.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QMetaObject>
#include <QCoroFuture>
#include <cmath>
#include <limits>

namespace {

const QString rootFolderName = QStringLiteral("Desktop Sync");

// Which engine runs a pass over which state file, and how often each file
// was written: an engine that finds the file written by another one since
// it last read it reads it again before its pass.
struct StateFileUse {
    QPointer<SyncEngine> passOwner;
    quint64 generation = 0;
    QList<QPointer<SyncEngine>> waiting;
};
QHash<QString, StateFileUse> &stateFileUses()
{
    static QHash<QString, StateFileUse> uses;
    return uses;
}

// Of several folders of one name under one parent (two computers that made
// it at the same moment), every computer takes the one with the lowest id.
// The root is looked for at the top first and then, as earlier versions
// took it, anywhere.
std::optional<qint64> chooseFolder(const std::vector<FolderResponse> &folders, const QString &name,
                                   std::optional<qint64> parentId)
{
    std::optional<qint64> chosen;
    const auto consider = [&](bool anyParent) {
        for (const FolderResponse &folder : folders)
            if (folder.name == name && (anyParent || folder.parentId == parentId) && (!chosen || folder.id < *chosen))
                chosen = folder.id;
    };
    consider(false);
    if (!chosen && !parentId)
        consider(true);
    return chosen;
}

bool listed(const std::vector<FolderResponse> &folders, qint64 id)
{
    return std::any_of(folders.cbegin(), folders.cend(), [&](const FolderResponse &folder) { return folder.id == id; });
}

// Two records name one account when the servers match and the e-mails do
// where both are known.
bool sameAccount(const SyncAccount &a, const SyncAccount &b)
{
    return a.server == b.server
           && (a.email.isEmpty() || b.email.isEmpty() || a.email.compare(b.email, Qt::CaseInsensitive) == 0);
}

// Where the state of an account that is not signed in waits, beside the
// state file.
QString asidePath(const QString &stateFilePath, const SyncAccount &account)
{
    const QByteArray key = (account.server + QLatin1Char('\n') + account.email.toLower()).toUtf8();
    const QString tag = QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(16));
    return stateFilePath + QLatin1Char('.') + tag;
}

} // namespace

// Hands a folder run's results to the engine while it exists and has not
// been stopped; after that they go nowhere.
class SyncEngine::RunResults : public FolderRun::Results {
public:
    RunResults(SyncEngine *engine, QString folderPath) : m_engine(engine), m_folderPath(std::move(folderPath)) {}

    void learned(qint64 serverFolderId, const KnownDocuments &documents, const QString &serverTime,
                 bool changed) override
    {
        if (!m_engine)
            return;
        SyncState &state = m_engine->m_syncState;
        // The answer is in the remembered server folder, so the next one
        // need only tell what changed after it.
        state.folderSyncTimes.insert(m_folderPath, serverTime);
        state.lastSyncTime = serverTime;
        // A new since time alone is not worth a write: an older one only
        // makes the next answer longer. So an idle pass writes nothing.
        if (!changed && state.serverDocuments.contains(serverFolderId))
            return;
        // The documents replaced may be the last copy of thousands.
        KnownDocuments replaced = std::exchange(state.serverDocuments[serverFolderId], documents);
        releaseInBackground(std::make_shared<const KnownDocuments>(std::move(replaced)));
        m_engine->requestSave();
    }
    void agreed(const QString &path, const TrackedFile &entry) override
    {
        if (!m_engine)
            return;
        m_engine->m_syncState.trackedFiles.insert(path, entry);
        ++m_engine->m_entriesChanged;
        m_engine->requestSave();
    }
    void sentButRaced(const QString &path, qint64 documentId) override
    {
        if (!m_engine)
            return;
        const auto tracked = m_engine->m_syncState.trackedFiles.constFind(path);
        if (tracked == m_engine->m_syncState.trackedFiles.cend() || tracked->remoteId != documentId)
            return; // agreed otherwise since
        TrackedFile entry = *tracked;
        entry.localHash = ContentHash();
        entry.size = entry.inode = entry.modifiedNs = entry.changedNs = std::nullopt;
        agreed(path, entry);
    }
    void forgotten(const QString &path) override
    {
        if (m_engine && m_engine->m_syncState.trackedFiles.remove(path)) {
            ++m_engine->m_entriesChanged;
            m_engine->requestSave();
        }
    }
    void documentChanged(qint64 serverFolderId, qint64 documentId, const KnownDocument &document) override
    {
        if (!m_engine)
            return;
        m_engine->m_syncState.serverDocuments[serverFolderId].insert(documentId, document);
        ++m_engine->m_entriesChanged;
    }
    KnownDocuments knownDocuments(qint64 serverFolderId) const override
    {
        return m_engine ? m_engine->m_syncState.serverDocuments.value(serverFolderId) : KnownDocuments{};
    }
    void documentDeleted(qint64 serverFolderId, qint64 documentId) override
    {
        if (m_engine)
            m_engine->m_syncState.serverDocuments[serverFolderId].remove(documentId);
    }
    void planned(const FolderPlanning::FolderPlan &plan) override
    {
        if (m_engine)
            m_engine->applyPlan(m_folderPath, plan);
    }
    void transferred(const QString &name, const QString &action, const QString &path, qint64 bytes,
                     const std::optional<QString> &failure) override
    {
        if (m_engine)
            m_engine->applyTransfer(m_folderPath, name, action, path, bytes, failure);
    }
    void notice(const QString &title, const QString &text) override
    {
        if (m_engine)
            m_engine->collectNotice(title, text, m_folderPath);
    }
    void mountPointsSeen(const QStringList &mountPoints) override
    {
        if (!m_engine)
            return;
        if (mountPoints.isEmpty())
            m_engine->m_syncState.mountPoints.remove(m_folderPath);
        else
            m_engine->m_syncState.mountPoints.insert(m_folderPath, mountPoints);
        m_engine->requestSave();
    }
    void moving(const QString &name, const QString &action, const QString &path, qint64 bytes) override
    {
        if (m_engine)
            m_engine->applyMoving(name, action, path, bytes);
    }
    bool wanted() const override { return m_engine && !m_engine->m_stopped; }
    std::optional<quint64> changeMark() const override
    {
        return m_engine ? m_engine->watcherMark(m_folderPath) : std::nullopt;
    }
    bool watchesSettingUp() const override
    {
        return m_engine && m_engine->m_fileWatcher && m_engine->m_fileWatcher->isSettingUp(m_folderPath);
    }

private:
    QPointer<SyncEngine> m_engine;
    QString m_folderPath;
};

SyncEngine::SyncEngine(APIClient &apiClient, AppState &appState, QString stateFilePath, QObject *parent)
    : QObject(parent),
      m_apiClient(apiClient),
      m_appState(appState),
      m_stateFilePath(stateFilePath.isEmpty() ? SyncState::fileURL() : std::move(stateFilePath))
{
    m_loading = runInBackground([path = m_stateFilePath] { return SyncState::load(path); });
    // The default location makes its own directory; a given one may not exist yet.
    QDir().mkpath(QFileInfo(m_stateFilePath).absolutePath());
    m_stateGeneration = stateFileUses()[m_stateFilePath].generation;
    m_saver = new StateSaver(&m_syncState, m_stateFilePath, this);
}

// The watcher and the timer are children and go with the engine; a run
// still suspended reports to nobody when it resumes.
SyncEngine::~SyncEngine()
{
    // A state still being read has no changes; the read ends on its own.
    // Changes not yet written (a pass ends by writing them) are written now,
    // in place of the saver that goes with the engine.
    if (m_saver->isDirty())
        m_syncState.save(m_stateFilePath);
    releaseStateFile();
    // Many thousands of entries take a moment to free (at sign-out, say).
    releaseInBackground(std::make_shared<const SyncState>(std::move(m_syncState)));
}

void SyncEngine::start()
{
    // Hooked once per engine: folders added or removed while it runs are
    // watched or dropped at once, and resuming syncs at once.
    connect(&m_appState, &AppState::watchedFoldersChanged, this, &SyncEngine::followWatchedFolders,
            Qt::UniqueConnection);
    connect(&m_appState, &AppState::folderChosen, this, &SyncEngine::followFolderChosen, Qt::UniqueConnection);
    connect(&m_appState, &AppState::isPausedChanged, this, &SyncEngine::followPause, Qt::UniqueConnection);
    connect(&m_appState, &AppState::isOfflineChanged, this, &SyncEngine::followNetwork, Qt::UniqueConnection);
    // A start follows a sign-in too: the session is good again, and what
    // the server holds is looked at afresh.
    m_appState.setSessionRejected(false);
    m_serverFoldersChecked = false;

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
    for (const QString &folder : m_appState.watchedFolders())
        watcher->watch(folder);
    if (m_loading.isValid() && !m_earlyWalksWanted) {
        m_earlyWalksWanted = true;
        walkWhileStateLoads();
    }

    m_running = true;
    m_stopped = false;
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

void SyncEngine::followWatchedFolders()
{
    if (!m_running || !m_fileWatcher)
        return;
    const QStringList folders = m_appState.watchedFolders();
    for (const QString &folder : m_fileWatcher->watchedFolders())
        if (!folders.contains(folder))
            m_fileWatcher->unwatch(folder);
    const QStringList watched = m_fileWatcher->watchedFolders();
    bool added = false;
    for (const QString &folder : folders) {
        if (watched.contains(folder))
            continue;
        m_fileWatcher->watch(folder);
        added = true;
    }
    if (added)
        schedulePass();
}

void SyncEngine::followFolderChosen(const QString &folderPath)
{
    if (!m_running || !m_fileWatcher || !m_appState.watchedFolders().contains(folderPath))
        return;
    // Chosen again, it may be another directory at the same path: its
    // stream starts over on what is there now.
    m_fileWatcher->unwatch(folderPath);
    m_fileWatcher->watch(folderPath);
    schedulePass();
}

void SyncEngine::followPause()
{
    if (!m_running || m_appState.isPaused())
        return;
    startTimer();
    schedulePass();
}

void SyncEngine::followNetwork()
{
    if (!m_running)
        return;
    if (m_appState.isOffline()) {
        // No "Next try in ..." while nothing is tried.
        if (!m_isSyncing)
            m_appState.setNextSyncTime(std::nullopt);
        return;
    }
    startTimer();
    schedulePass();
}

void SyncEngine::holdForSignIn()
{
    qCWarning(lcSyncEngine, "The server refused the session; syncing waits for a new sign-in");
    m_running = false;
    delete m_syncTimer;
    delete m_fileWatcher;
    m_passWanted = false;
    m_appState.setNextSyncTime(std::nullopt);
    m_appState.setSessionRejected(true);
}

void SyncEngine::stop()
{
    m_running = false;
    m_stopped = true;
    m_passWanted = false;
    delete m_syncTimer;
    delete m_fileWatcher;
    m_appState.setNextSyncTime(std::nullopt);
}

// Triggers return at once; the pass runs from the event loop. A call still
// queued when the engine goes is dropped by Qt with it.
void SyncEngine::schedulePass()
{
    // Triggers that arrive together (a folder added: its list changed and
    // it was chosen) make one pass.
    if (m_passScheduled)
        return;
    m_passScheduled = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_passScheduled = false;
            if (m_running && !m_appState.isPaused() && !m_appState.isOffline())
                performSync();
        },
        Qt::QueuedConnection);
}

QCoro::Task<void> SyncEngine::syncNow()
{
    m_stopped = false;
    co_await performSync();
}

template <typename Map>
QCoro::Task<void> SyncEngine::compactMap(Map SyncState::*map, Map (*compact)(const Map &))
{
    const QPointer<SyncEngine> self(this);
    Map snapshot = m_syncState.*map;
    QFuture<Map> copying = runInBackground([snapshot, compact] { return compact(snapshot); });
    QCoro::Task<Map> taking = takeResultOf(copying);
    Map copy = co_await taking;
    if (!self)
        co_return;
    // Only while nothing changed the map meanwhile (a change detaches the
    // engine's map from the snapshot).
    if (!m_isSyncing && (m_syncState.*map).isSharedWith(snapshot))
        std::swap(m_syncState.*map, copy);
    snapshot = Map();
    releaseInBackground(std::make_shared<const Map>(std::move(copy)));
}

QCoro::Task<void> SyncEngine::compactState()
{
    const QPointer<SyncEngine> self(this);
    QCoro::Task<void> tracked = compactMap(&SyncState::trackedFiles, &compactedTrackedFiles);
    co_await tracked;
    if (!self)
        co_return;
    QCoro::Task<void> documents = compactMap(&SyncState::serverDocuments, &compactedServerDocuments);
    co_await documents;
}

void SyncEngine::takeLoadedState()
{
    if (!m_loading.isValid())
        return;
    // A state of many thousands of entries is moved out, never copied.
    static_assert(std::is_nothrow_move_constructible_v<SyncState>);
    m_syncState = m_loading.takeResult();
    m_loading = {};
}

QCoro::Task<void> SyncEngine::stateLoaded()
{
    if (!m_loading.isValid())
        co_return;
    const QPointer<SyncEngine> self(this);
    QFuture<SyncState> loading = m_loading;
    co_await qCoro(loading).waitForFinished();
    if (self)
        takeLoadedState();
}

QCoro::Task<void> SyncEngine::walkWhileStateLoads()
{
    const QPointer<SyncEngine> self(this);
    const QStringList folders = m_appState.watchedFolders();
    const QStringList notChosen = m_appState.foldersNeedingChoice();
    for (const QString &folderPath : folders) {
        if (notChosen.contains(folderPath))
            continue;
        // Begun before its watches are all set up, a walk could miss a
        // change that no mark tells of.
        QCoro::Task<void> waiting = FolderRun::untilWatchesSetUp([self, folderPath] {
            return self && self->m_earlyWalksWanted && self->m_fileWatcher
                && self->m_fileWatcher->isSettingUp(folderPath);
        });
        co_await waiting;
        if (!self || !m_earlyWalksWanted)
            co_return;
        const std::optional<quint64> mark = watcherMark(folderPath);
        if (!mark)
            continue;
        m_earlyWalks.insert(folderPath, runInBackground([folderPath, mark = *mark] {
                                try {
                                    const FolderAccess folder(folderPath);
                                    return std::make_shared<FolderRun::EarlyWalk>(FolderRun::EarlyWalk{
                                        folder.identity(), mark, LocalScanner::scanLocalFiles(folder)});
                                } catch (const std::exception &) {
                                    // Not there or not readable: the pass finds out for itself.
                                    return std::shared_ptr<FolderRun::EarlyWalk>();
                                }
                            }));
    }
}

bool SyncEngine::claimStateFile()
{
    StateFileUse &use = stateFileUses()[m_stateFilePath];
    if (use.passOwner && use.passOwner != this) {
        if (!use.waiting.contains(this))
            use.waiting.append(this);
        return false;
    }
    use.passOwner = this;
    // Another engine wrote the file since this one read it.
    if (use.generation != m_stateGeneration) {
        m_inStep.clear();
        m_syncState = SyncState::load(m_stateFilePath);
        m_stateGeneration = use.generation;
    }
    adoptAccount();
    return true;
}

void SyncEngine::adoptAccount()
{
    const std::optional<UserInfo> user = m_appState.userInfo();
    const SyncAccount current{m_apiClient.baseURL(), user ? user->email : QString()};
    if (!m_syncState.account || sameAccount(*m_syncState.account, current)) {
        // A state from before accounts were recorded is taken for this
        // account's; an e-mail learned since is added.
        if (!m_syncState.account || (m_syncState.account->email.isEmpty() && !current.email.isEmpty())) {
            m_syncState.account = current;
            requestSave();
        }
        return;
    }
    // Another account's ids mean nothing here (or name unrelated folders
    // and documents): its state waits beside the file for its return.
    const SyncAccount previous = *m_syncState.account;
    m_syncState.save(asidePath(m_stateFilePath, previous));
    const QString mine = asidePath(m_stateFilePath, current);
    SyncState next = SyncState::load(mine);
    if (!next.account || !sameAccount(*next.account, current))
        next = SyncState{};
    next.account = current;
    m_syncState = std::move(next);
    m_inStep.clear();
    m_syncState.save(m_stateFilePath);
    QFile::remove(mine);
    m_serverFoldersChecked = false;
    m_rebasedFolders.clear();
    m_removalAnswers.clear();
    qCInfo(lcSyncEngine, "The sync state of %s at %s is kept aside; %s at %s syncs with its own",
           qUtf8Printable(previous.email), qUtf8Printable(previous.server), qUtf8Printable(current.email),
           qUtf8Printable(current.server));
}

void SyncEngine::releaseStateFile()
{
    auto &uses = stateFileUses();
    const auto use = uses.find(m_stateFilePath);
    if (use == uses.end() || use->passOwner != this)
        return;
    use->passOwner = nullptr;
    m_stateGeneration = ++use->generation;
    // The engines that asked meanwhile run their pass now.
    const auto waiting = std::exchange(use->waiting, {});
    for (const QPointer<SyncEngine> &engine : waiting)
        if (engine && engine != this)
            engine->schedulePass();
}

QCoro::Task<void> SyncEngine::performSync()
{
    const QPointer<SyncEngine> self(this);
    QCoro::Task<void> loading = stateLoaded();
    co_await loading;
    if (!self)
        co_return;
    if (m_isSyncing) {
        m_passWanted = true;
        co_return;
    }
    if (!m_appState.isLoggedIn() || m_appState.watchedFolders().isEmpty())
        co_return;
    if (!claimStateFile())
        co_return;

    m_isSyncing = true;
    m_progress = {};
    m_movingBytes.clear();
    m_passClock.start();
    m_progressShownMs = -1;
    m_appState.setSyncProgress(m_progress);
    m_appState.setSyncStatus(SyncStatus::syncing());
    // A pass the user asked for is not "due in 7 seconds".
    m_appState.setNextSyncTime(std::nullopt);

    std::optional<QString> failure;
    bool refused = false;
    try {
        QCoro::Task<qint64> rooting = getOrCreateServerFolder();
        qint64 rootId = co_await rooting;
        if (!self)
            co_return;
        // Every folder is planned before any acts, so the pass's totals
        // cover all of its folders from the start.
        std::vector<PlannedFolder> planned;
        const QStringList folders = m_appState.watchedFolders();
        for (const QString &folderPath : folders) {
            if (m_stopped)
                break;
            // A folder that cannot be read, or is no longer the one the user
            // chose, is not an emptied one: nothing of it changes on either
            // side (not even a server folder made for it), and the others
            // still sync.
            try {
                if (const auto outer = m_appState.overlappingFolder(folderPath)) {
                    m_appState.setFolderNeedsChoice(folderPath, true);
                    throw OverlappingFolder(folderPath, *outer);
                }
                PlannedFolder folder{folderPath, openWatchedFolder(folderPath), 0, nullptr, {}, {}};
                followFolderChoice(folderPath);
                QCoro::Task<qint64> mapping = getOrCreateSubfolder(folderPath, rootId);
                folder.serverFolderId = co_await mapping;
                if (!self)
                    co_return;
                // A folder sharing its server folder with one before it
                // plans after that one acted, so it sees what that one sent.
                const bool shared = std::any_of(planned.cbegin(), planned.cend(), [&](const PlannedFolder &other) {
                    return other.serverFolderId == folder.serverFolderId;
                });
                if (!shared) {
                    QCoro::Task<void> planning = planFolder(folder, rootId);
                    co_await planning;
                    if (!self)
                        co_return;
                }
                planned.push_back(std::move(folder));
            } catch (const UnreadableFolder &unreadable) {
                if (!self)
                    co_return;
                failure = failure.value_or(unreadable.description());
            }
        }
        for (PlannedFolder &folder : planned) {
            if (m_stopped)
                break;
            try {
                if (!folder.run) {
                    QCoro::Task<void> planning = planFolder(folder, rootId);
                    co_await planning;
                    if (!self)
                        co_return;
                }
                QCoro::Task<void> acting = actOnFolder(folder, rootId);
                co_await acting;
                if (!self)
                    co_return;
            } catch (const UnreadableFolder &unreadable) {
                if (!self)
                    co_return;
                failure = failure.value_or(unreadable.description());
            }
        }
    } catch (const std::exception &error) {
        if (!self)
            co_return;
        failure = failureText(error, m_apiClient.baseURL());
        // The log keeps what the socket said beside the user's words.
        if (const QString raw = failureText(error); raw != *failure)
            qCWarning(lcSyncEngine, "Server not reached: %s", qUtf8Printable(raw));
        const auto *apiError = dynamic_cast<const APIError *>(&error);
        refused = apiError && apiError->kind() == APIError::Kind::unauthorized;
    }

    QCoro::Task<void> flushing = flushState();
    co_await flushing;
    if (!self)
        co_return;
    if (refused)
        holdForSignIn();
    if (failure) {
        qCCritical(lcSyncEngine, "Sync failed: %s", qUtf8Printable(*failure));
        m_appState.setSyncStatus(SyncStatus::error(*failure));
    } else {
        m_appState.setLastSyncTime(QDateTime::currentDateTimeUtc());
        m_appState.setSyncStatus(SyncStatus::idle());
        qCInfo(lcSyncEngine, "Sync completed");
    }
    m_movingBytes.clear();
    m_appState.setSyncProgress({});
    if (m_syncTimer && !m_appState.isOffline())
        m_appState.setNextSyncTime(QDateTime::currentDateTimeUtc().addMSecs(m_syncTimer->remainingTime()));
    m_isSyncing = false;
    releaseStateFile();
    releaseInBackground();
    m_earlyWalksWanted = false;
    if (!m_earlyWalks.isEmpty())
        releaseInBackground(std::make_shared<const decltype(m_earlyWalks)>(std::exchange(m_earlyWalks, {})));
    if (std::exchange(m_entriesChanged, 0) >= compactAfterChanges)
        compactState();
    postPassNotices();
    if (std::exchange(m_passWanted, false))
        schedulePass();
    emit passFinished();
}

std::shared_ptr<FolderAccess> SyncEngine::openWatchedFolder(const QString &folderPath)
{
    std::shared_ptr<FolderAccess> folder;
    try {
        folder = std::make_shared<FolderAccess>(folderPath);
    } catch (const std::exception &) {
        m_appState.setFolderNeedsChoice(folderPath, true);
        throw UnreadableFolder(folderPath);
    }
    const std::optional<Bookmarks::Resolved> chosen = m_appState.watchedFolderBookmark(folderPath);
    // A drive mounted again (under another device number) still carries the
    // mark written on the chosen folder; a folder put in its place does not,
    // nor does a new file system mounted there under the same numbers.
    if (chosen && !Bookmarks::isChosenFolder(*chosen, folder->identity())) {
        m_appState.setFolderNeedsChoice(folderPath, true);
        throw ReplacedFolder(folderPath);
    }
    if (chosen && folder->identity() != chosen->identity) {
        qCInfo(lcSyncEngine, "Folder %s is back on another device number; it is the folder chosen",
               qUtf8Printable(folderPath));
        m_appState.updateWatchedFolderIdentity(folderPath, folder->identity());
    }
    m_appState.setFolderNeedsChoice(folderPath, false);
    return folder;
}

QCoro::Task<void> SyncEngine::planFolder(PlannedFolder &folder, qint64 &rootId)
{
    const QPointer<SyncEngine> self(this);
    bool gone = false;
    try {
        folder.run = makeRun(folder);
        QCoro::Task<void> planning = folder.run->plan();
        co_await planning;
    } catch (const APIError &error) {
        if (!error.isNotFound())
            throw;
        gone = true;
    }
    if (!self || !gone)
        co_return;
    QCoro::Task<void> replanning = planAgainstFolderFoundAgain(folder, rootId);
    co_await replanning;
}

QCoro::Task<void> SyncEngine::actOnFolder(PlannedFolder &folder, qint64 &rootId)
{
    const QPointer<SyncEngine> self(this);
    bool gone = false;
    try {
        QCoro::Task<void> acting = folder.run->act();
        co_await acting;
    } catch (const APIError &error) {
        if (!error.isNotFound())
            throw;
        gone = true;
    }
    if (!self)
        co_return;
    if (gone) {
        // The server folder went away while the pass acted on it.
        QCoro::Task<void> replanning = planAgainstFolderFoundAgain(folder, rootId);
        co_await replanning;
        if (!self)
            co_return;
        QCoro::Task<void> acting = folder.run->act();
        co_await acting;
        if (!self)
            co_return;
    }
    m_joinedFolders.remove(folder.path);
    noteInStep(folder);
    releaseInBackground(folder.run->takePlan());
    QCoro::Task<void> flushing = flushState();
    co_await flushing;
}

void SyncEngine::noteInStep(const PlannedFolder &folder)
{
    if (folder.run->walked())
        ++m_walkCount;
    // A walk stands from the mark taken as it began; a folder left alone as
    // unchanged keeps the mark it was found unchanged by, and its last walk
    // still stands.
    const std::optional<quint64> mark = folder.run->walked() ? folder.run->markBeforeWalk() : folder.changeMark;
    if (!mark || !folder.run->inStep())
        return;
    const qint64 walkedAtMs = folder.run->walked() ? m_walkClock.elapsed() : folder.inStepSinceMs.value_or(0);
    m_inStep.insert(folder.path, InStep{*mark, walkedAtMs});
}

QCoro::Task<void> SyncEngine::planAgainstFolderFoundAgain(PlannedFolder &folder, qint64 &rootId)
{
    // The server folder was deleted elsewhere (or its root was): it is found
    // or made again, and the folder's files go up to it by the ordinary
    // rules.
    const QPointer<SyncEngine> self(this);
    const qint64 goneId = folder.serverFolderId;
    QCoro::Task<void> checking = checkServerFolders();
    co_await checking;
    if (!self)
        co_return;
    QCoro::Task<qint64> rerooting = getOrCreateServerFolder();
    rootId = co_await rerooting;
    if (!self)
        co_return;
    QCoro::Task<qint64> remapping = getOrCreateSubfolder(folder.path, rootId);
    folder.serverFolderId = co_await remapping;
    if (!self)
        co_return;
    if (folder.serverFolderId == goneId)
        throw UnreadableFolder(folder.path, QStringLiteral("The server answered \"Not found\" for the folder of %1"));
    folder.run = makeRun(folder);
    QCoro::Task<void> planning = folder.run->plan();
    co_await planning;
}

std::optional<quint64> SyncEngine::watcherMark(const QString &folderPath) const
{
    return m_fileWatcher ? m_fileWatcher->changeMark(folderPath) : std::nullopt;
}

std::unique_ptr<FolderRun> SyncEngine::makeRun(PlannedFolder &folder)
{
    FolderRun::Context context;
    context.folder = folder.access;
    context.folderPath = folder.path;
    context.serverFolderId = folder.serverFolderId;
    if (const auto known = m_syncState.serverDocuments.constFind(folder.serverFolderId);
        known != m_syncState.serverDocuments.cend()) {
        context.documents = *known;
        // The folder's own since time only: another folder's would hide
        // what arrived here before it.
        const QString since = m_syncState.folderSyncTimes.value(folder.path);
        if (!since.isEmpty())
            context.since = since;
    }
    context.tracked = m_syncState.trackedFiles; // shared, not copied
    context.earlyWalk = m_earlyWalks.take(folder.path);
    m_earlyWalksWanted = false;
    context.removalAnswer = m_removalAnswers.take(folder.path);
    context.mountPoints = m_syncState.mountPoints.value(folder.path);
    context.settleAsConflicts = m_joinedFolders.contains(folder.path);

    // Whether this pass need walk at all; a walk takes its own mark as it
    // begins (see noteInStep).
    folder.changeMark = watcherMark(folder.path);
    if (!m_walkClock.isValid())
        m_walkClock.start();
    const std::optional<InStep> inStep =
        m_inStep.contains(folder.path) ? std::optional(m_inStep.take(folder.path)) : std::nullopt;
    folder.inStepSinceMs = inStep ? std::optional(inStep->walkedAtMs) : std::nullopt;
    // A folder with mount points below it is always walked: what is
    // mounted there can change without its watcher knowing.
    context.unchangedHere = folder.changeMark && inStep && inStep->changeMark == *folder.changeMark
        && m_walkClock.elapsed() - inStep->walkedAtMs < fullWalkIntervalMs
        && context.removalAnswer == FolderPlanning::RemovalAnswer::none && !context.settleAsConflicts
        && context.mountPoints.isEmpty();
    return std::make_unique<FolderRun>(m_apiClient, std::move(context),
                                       std::make_shared<RunResults>(this, folder.path));
}

void SyncEngine::collectNotice(const QString &title, const QString &text, const QString &folderPath)
{
    auto kind = std::find_if(m_passNotices.begin(), m_passNotices.end(),
                             [&](const PassNotice &notice) { return notice.title == title; });
    if (kind == m_passNotices.end())
        kind = m_passNotices.insert(m_passNotices.end(), PassNotice{title, {}, {}});
    kind->texts.append(text);
    if (!kind->folders.contains(folderPath))
        kind->folders.append(folderPath);
}

void SyncEngine::postPassNotices()
{
    const QList<PassNotice> notices = std::exchange(m_passNotices, {});
    for (const PassNotice &notice : notices) {
        const qsizetype count = notice.texts.size();
        // Its folder when all of them happened in one.
        const QString folder = notice.folders.size() == 1 ? notice.folders.front() : QString();
        if (count == 1) {
            m_appState.postNotice(notice.title, notice.texts.front(), folder);
            continue;
        }
        const int many = int(qMin<qsizetype>(count, std::numeric_limits<int>::max()));
        QString text;
        if (notice.title == noticetitles::movedToTrash())
            text = QCoreApplication::translate("SyncEngine", "%Ln file(s) deleted on the server were moved to the Trash",
                                               nullptr, many);
        else if (notice.title == noticetitles::conflictCopyMade())
            text = QCoreApplication::translate(
                "SyncEngine", "%Ln file(s) changed on both sides; both versions of each were kept", nullptr, many);
        else if (notice.title == noticetitles::fileKept())
            text = QCoreApplication::translate(
                "SyncEngine", "%Ln file(s) deleted on the server could not be moved to the Trash and were kept",
                nullptr, many);
        else {
            const int more = many - 1;
            text = QCoreApplication::translate("SyncEngine", "%1 (and %Ln more)", nullptr, more).arg(notice.texts.front());
        }
        m_appState.postNotice(notice.title, text, folder);
    }
}

void SyncEngine::applyPlan(const QString &folderPath, const FolderPlanning::FolderPlan &plan)
{
    for (const QString &path : plan.forgotten)
        m_syncState.trackedFiles.remove(path);
    for (const FolderPlanning::Move &move : plan.moves) {
        if (!m_syncState.trackedFiles.contains(move.from))
            continue;
        m_syncState.trackedFiles.insert(move.to, m_syncState.trackedFiles.take(move.from));
        qCInfo(lcSyncEngine, "Moved %s to %s; it keeps its document", qUtf8Printable(move.from),
               qUtf8Printable(move.to));
    }
    for (const FolderPlanning::Refresh &refresh : plan.refreshes) {
        const auto entry = m_syncState.trackedFiles.find(refresh.path);
        if (entry == m_syncState.trackedFiles.end())
            continue;
        entry->size = refresh.facts.size;
        entry->inode = refresh.facts.inode;
        entry->modifiedNs = refresh.facts.modifiedNs;
        entry->changedNs = refresh.facts.changedNs;
        entry->recordedNs = refresh.facts.takenNs;
    }
    for (const FolderPlanning::Adoption &adoption : plan.adoptions) {
        TrackedFile entry;
        entry.localHash = adoption.localHash;
        entry.remoteId = adoption.documentId;
        entry.remoteHash = adoption.document.fileHash;
        entry.lastSynced = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
        entry.localModified = QDateTime::fromMSecsSinceEpoch(adoption.facts.modifiedNs / 1000000, Qt::UTC);
        entry.size = adoption.facts.size;
        entry.inode = adoption.facts.inode;
        entry.modifiedNs = adoption.facts.modifiedNs;
        entry.changedNs = adoption.facts.changedNs;
        entry.recordedNs = adoption.facts.takenNs;
        m_syncState.trackedFiles.insert(adoption.path, entry);
        qCInfo(lcSyncEngine, "Matched %s with its server document", qUtf8Printable(adoption.document.name));
    }
    for (const QString &path : plan.keptAfterServerDeletion)
        qCInfo(lcSyncEngine, "Kept local file changed since its document was deleted: %s",
               qUtf8Printable(path.section(QLatin1Char('/'), -1)));
    for (const FolderPlanning::Skipped &skipped : plan.skippedDocuments)
        qCCritical(lcSyncEngine, "%s", qUtf8Printable(skipped.reason));

    QList<NotSyncedFile> notSynced;
    for (const FolderPlanning::Skipped &skipped : plan.notSynced)
        notSynced.append({skipped.path, folderPath, skipped.reason});
    // A clash is told once, when it appears, not at every pass.
    QList<NotSyncedFile> before = m_appState.notSyncedFiles();
    before.removeIf([&](const NotSyncedFile &file) { return file.folder != folderPath; });
    for (const NotSyncedFile &file : std::as_const(notSynced))
        if (!before.contains(file))
            qCWarning(lcSyncEngine, "Not synced: %s: %s", qUtf8Printable(file.path), qUtf8Printable(file.reason));
    m_appState.setNotSyncedFiles(folderPath, notSynced);

    QList<RemovalQuestion> questions = m_appState.removalQuestions();
    const auto asked = std::find_if(questions.begin(), questions.end(),
                                    [&](const RemovalQuestion &question) { return question.folder == folderPath; });
    if (plan.removalQuestion > 0) {
        const RemovalQuestion question{folderPath, plan.removalQuestion};
        if (asked == questions.end() || *asked != question) {
            if (asked == questions.end()) {
                qCWarning(lcSyncEngine, "%d files were removed from %s; asking before removing them from the server",
                          plan.removalQuestion, qUtf8Printable(folderPath));
                const QString text =
                    QCoreApplication::translate("SyncEngine",
                                                "%Ln file(s) were removed from %1. Remove them from the server too?",
                                                nullptr, plan.removalQuestion)
                        .arg(folderPath);
                m_appState.postNotice(noticetitles::filesRemoved(), text, folderPath);
                questions.append(question);
            } else {
                *asked = question;
            }
            m_appState.setRemovalQuestions(questions);
        }
    } else if (asked != questions.end()) {
        questions.erase(asked);
        m_appState.setRemovalQuestions(questions);
    }

    // Sizes come from the server: the total holds at the largest value
    // rather than wrapping.
    const auto addBytes = [this](qint64 bytes) {
        if (bytes > 0 && qAddOverflow(m_progress.bytesTotal, bytes, &m_progress.bytesTotal))
            m_progress.bytesTotal = std::numeric_limits<qint64>::max();
    };
    for (const FolderPlanning::Upload &upload : plan.uploads) {
        addBytes(upload.facts.size);
        // The server's version kept before the upload is a transfer too.
        if (upload.keepReplaced) {
            addBytes(upload.replaces->document.fileSize.value_or(0));
            ++m_progress.filesTotal;
        }
    }
    for (const FolderPlanning::Download &download : plan.downloads)
        addBytes(download.document.fileSize.value_or(0));
    m_progress.filesTotal += int(plan.uploads.size() + plan.downloads.size());
    publishProgress();
    if (!plan.forgotten.isEmpty() || !plan.refreshes.empty() || !plan.adoptions.empty() || !plan.moves.empty())
        requestSave();
}

void SyncEngine::applyTransfer(const QString &folderPath, const QString &name, const QString &action,
                               const QString &path, qint64 bytes, const std::optional<QString> &failure)
{
    ++m_progress.filesDone;
    m_progress.bytesDone += bytes;
    m_movingBytes.remove(path);
    publishProgress();
    const bool upload = action == QLatin1String("uploaded");
    if (failure) {
        qCCritical(lcSyncEngine, upload ? "Upload failed for %s: %s" : "Download failed for %s: %s",
                   qUtf8Printable(name), qUtf8Printable(*failure));
        // Not synced until a pass gets it through: the folder is not up to
        // date meanwhile, and the user can see why.
        QList<NotSyncedFile> files = m_appState.notSyncedFiles();
        files.removeIf([&](const NotSyncedFile &file) { return file.folder != folderPath || file.path == path; });
        files.append({path, folderPath, (upload ? QCoreApplication::translate("SyncEngine", "Upload failed: %1")
                                            : QCoreApplication::translate("SyncEngine", "Download failed: %1"))
                                         .arg(*failure)});
        m_appState.setNotSyncedFiles(folderPath, files);
        return;
    }
    addRecentFile(name, action, path);
    qCInfo(lcSyncEngine, upload ? "Uploaded: %s" : "Downloaded: %s", qUtf8Printable(name));
}

void SyncEngine::applyMoving(const QString &name, const QString &action, const QString &path, qint64 bytes)
{
    m_movingBytes.insert(path, bytes);
    m_progress.currentFile = name;
    m_progress.currentAction = action;
    // A large file moves in many small steps: the status follows it a few
    // times a second, not at every step.
    const qint64 now = m_passClock.elapsed();
    if (m_progressShownMs >= 0 && now - m_progressShownMs < 250)
        return;
    publishProgress();
}

void SyncEngine::publishProgress()
{
    SyncProgress shown = m_progress;
    for (const qint64 moving : std::as_const(m_movingBytes))
        shown.bytesDone += moving;
    shown.bytesDone = std::min(shown.bytesDone, std::max(shown.bytesTotal, m_progress.bytesDone));
    // A rate means something once the pass has run a few seconds.
    const qint64 elapsedMs = m_passClock.isValid() ? m_passClock.elapsed() : 0;
    shown.bytesPerSecond = elapsedMs >= 3000 ? shown.bytesDone * 1000 / elapsedMs : 0;
    m_progressShownMs = elapsedMs;
    m_appState.setSyncProgress(shown);
}

void SyncEngine::answerRemovalQuestion(const QString &folder, bool remove)
{
    m_removalAnswers.insert(folder, remove ? FolderPlanning::RemovalAnswer::remove
                                           : FolderPlanning::RemovalAnswer::restore);
    QList<RemovalQuestion> questions = m_appState.removalQuestions();
    questions.removeIf([&](const RemovalQuestion &question) { return question.folder == folder; });
    m_appState.setRemovalQuestions(questions);
    QMetaObject::invokeMethod(this, [this] { performSync(); }, Qt::QueuedConnection);
}

QCoro::Task<qint64> SyncEngine::getOrCreateServerFolder()
{
    const QPointer<SyncEngine> self(this);
    QCoro::Task<void> loading = stateLoaded();
    co_await loading;
    if (!self)
        co_return 0;
    // What was remembered is checked once per engine start: another
    // computer may have settled on another folder of the same name, or the
    // folder may be gone.
    if (!m_serverFoldersChecked && (m_syncState.serverFolderId || !m_syncState.folderMappings.isEmpty())) {
        QCoro::Task<void> checking = checkServerFolders();
        co_await checking;
        if (!self)
            co_return 0;
    }
    m_serverFoldersChecked = true;
    if (m_syncState.serverFolderId)
        co_return *m_syncState.serverFolderId;

    QCoro::Task<qint64> finding = findOrCreateFolder(rootFolderName, std::nullopt);
    const qint64 id = co_await finding;
    if (!self)
        co_return 0;
    m_syncState.serverFolderId = id;
    requestSave();
    co_return id;
}

QCoro::Task<qint64> SyncEngine::getOrCreateSubfolder(QString folderPath, qint64 parentId)
{
    takeLoadedState();
    if (const auto mapped = m_syncState.folderMappings.constFind(folderPath);
        mapped != m_syncState.folderMappings.cend())
        co_return *mapped;

    const QPointer<SyncEngine> self(this);
    const QString name = QFileInfo(folderPath).fileName();
    QCoro::Task<qint64> finding = findOrCreateFolder(name, parentId);
    const qint64 id = co_await finding;
    if (!self)
        co_return 0;
    remapFolder(folderPath, id);
    co_return id;
}

QCoro::Task<qint64> SyncEngine::findOrCreateFolder(QString name, std::optional<qint64> parentId)
{
    const QPointer<SyncEngine> self(this);
    QCoro::Task<std::vector<FolderResponse>> listing = m_apiClient.listFolders();
    const std::vector<FolderResponse> folders = co_await listing;
    if (const auto found = chooseFolder(folders, name, parentId))
        co_return *found;
    QCoro::Task<FolderResponse> creating = m_apiClient.createFolder(name, parentId);
    const FolderResponse created = co_await creating;
    // Another computer may have made the same folder at the same moment:
    // listed again, both settle on the same one.
    QCoro::Task<std::vector<FolderResponse>> relisting = m_apiClient.listFolders();
    const std::vector<FolderResponse> after = co_await relisting;
    const qint64 chosen = chooseFolder(after, name, parentId).value_or(created.id);
    if (self && chosen != created.id)
        qCWarning(lcSyncEngine,
                  "Server folder \"%s\" was made twice at the same moment; syncing with folder %lld, the one every "
                  "computer takes; folder %lld and its documents are left alone",
                  qUtf8Printable(name), chosen, created.id);
    co_return chosen;
}

QCoro::Task<void> SyncEngine::checkServerFolders()
{
    const QPointer<SyncEngine> self(this);
    QCoro::Task<std::vector<FolderResponse>> listing = m_apiClient.listFolders();
    const std::vector<FolderResponse> folders = co_await listing;
    if (!self)
        co_return;
    m_serverFoldersChecked = true;

    const std::optional<qint64> root = chooseFolder(folders, rootFolderName, std::nullopt);
    if (const std::optional<qint64> remembered = m_syncState.serverFolderId; remembered != root) {
        if (remembered && listed(folders, *remembered))
            qCWarning(lcSyncEngine,
                      "The server has more than one folder \"%s\"; syncing with folder %lld, the one every computer "
                      "takes; folder %lld and its documents are left alone",
                      qUtf8Printable(rootFolderName), root.value_or(0), *remembered);
        else if (remembered)
            qCWarning(lcSyncEngine, "The server folder \"%s\" (%lld) is gone; it is found or made again",
                      qUtf8Printable(rootFolderName), *remembered);
        m_syncState.serverFolderId = root;
        requestSave();
    }

    const QMap<QString, qint64> mappings = m_syncState.folderMappings;
    for (auto mapping = mappings.cbegin(); mapping != mappings.cend(); ++mapping) {
        const QString &folderPath = mapping.key();
        const std::optional<qint64> chosen =
            root ? chooseFolder(folders, QFileInfo(folderPath).fileName(), root) : std::nullopt;
        if (chosen == mapping.value())
            continue;
        if (!listed(folders, mapping.value()))
            qCWarning(lcSyncEngine, "The server folder of %s (%lld) is gone; it is found or made again",
                      qUtf8Printable(folderPath), mapping.value());
        else if (chosen)
            qCWarning(lcSyncEngine,
                      "%s now syncs with server folder %lld, the one every computer takes; folder %lld and its "
                      "documents are left alone",
                      qUtf8Printable(folderPath), *chosen, mapping.value());
        else
            qCWarning(lcSyncEngine,
                      "The server folder of %s (%lld) is no longer in \"%s\"; it is left alone, and the folder "
                      "gets one there",
                      qUtf8Printable(folderPath), mapping.value(), qUtf8Printable(rootFolderName));
        remapFolder(folderPath, chosen);
    }
}

void SyncEngine::remapFolder(const QString &folderPath, std::optional<qint64> serverFolderId)
{
    const auto mapped = m_syncState.folderMappings.constFind(folderPath);
    const std::optional<qint64> previous =
        mapped != m_syncState.folderMappings.cend() ? std::optional<qint64>(*mapped) : std::nullopt;
    if (previous == serverFolderId)
        return;
    if (serverFolderId)
        m_syncState.folderMappings.insert(folderPath, *serverFolderId);
    else
        m_syncState.folderMappings.remove(folderPath);
    if (previous) {
        // What was agreed with the old server folder says nothing of the new
        // one: the folder is learned again by content (equal content is
        // agreed without a transfer), and no deletion follows from it. A
        // file that meets another version of itself there is a conflict,
        // settled keeping both.
        forgetFolderEntries(folderPath);
        m_joinedFolders.insert(folderPath);
        const bool shared = std::any_of(m_syncState.folderMappings.cbegin(), m_syncState.folderMappings.cend(),
                                        [&](qint64 id) { return id == *previous; });
        if (!shared)
            m_syncState.serverDocuments.remove(*previous);
    }
    requestSave();
}

void SyncEngine::forgetFolderEntries(const QString &folderPath)
{
    const QString prefix = folderPath.endsWith(QLatin1Char('/')) ? folderPath : folderPath + QLatin1Char('/');
    auto &tracked = m_syncState.trackedFiles;
    for (auto entry = tracked.lowerBound(prefix); entry != tracked.end() && entry.key().startsWith(prefix);)
        entry = tracked.erase(entry);
    m_syncState.folderSyncTimes.remove(folderPath);
    m_rebasedFolders.insert(folderPath);
    m_inStep.remove(folderPath);
    requestSave();
}

void SyncEngine::followFolderChoice(const QString &folderPath)
{
    const auto chosen = m_appState.watchedFolderBookmark(folderPath);
    if (!chosen || chosen->mark.isEmpty())
        return;
    const QString &mark = chosen->mark;
    const auto recorded = m_syncState.folderChoices.constFind(folderPath);
    if (recorded != m_syncState.folderChoices.cend() && *recorded == mark)
        return;
    if (recorded != m_syncState.folderChoices.cend()) {
        qCInfo(lcSyncEngine, "%s was chosen again: it is learned afresh, by content", qUtf8Printable(folderPath));
        forgetFolderEntries(folderPath);
    }
    m_syncState.folderChoices.insert(folderPath, mark);
    requestSave();
}

void SyncEngine::addRecentFile(const QString &name, const QString &action, const QString &path)
{
    m_appState.recordTransfer(name, action, path);
}

void SyncEngine::requestSave()
{
    // Each write costs in proportion to the number of files, so writes come
    // less often as the state grows (1 ms a file): over a first sync the
    // bytes written then grow with the files, not with their square.
    m_saver->intervalMs = std::max(1000, int(m_syncState.trackedFiles.size()));
    m_saver->scheduleSave();
}

QCoro::Task<void> SyncEngine::flushState()
{
    QCoro::Task<void> flushing = m_saver->flush();
    co_await flushing;
}

void SyncEngine::writeStateNow()
{
    takeLoadedState();
    if (m_saver->isDirty())
        m_syncState.save(m_stateFilePath);
}

qint64 SyncEngine::stateSaveCount() const
{
    return m_saver->saveCount();
}

qint64 SyncEngine::stateBytesWritten() const
{
    return m_saver->bytesWritten();
}
