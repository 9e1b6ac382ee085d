#pragma once

#include "api/Records.h"
#include "state/FileWatcher.h"
#include "state/SyncActivity.h"
#include "sync/FolderPlan.h"
#include "sync/FolderRun.h"
#include "sync/SyncState.h"

#include <QCoroTask>
#include <QElapsedTimer>
#include <QHash>
#include <QFuture>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QTimer>
#include <memory>
#include <optional>

class APIClient;
class AppState;
class FileWatcher;
class FolderAccess;
class Preferences;
class StateSaver;

// Keeps every watched folder in step with its server folder. Lives on the
// main thread; a pass runs one FolderRun per folder and applies what each
// reports (applyRun...) in one place.
class SyncEngine : public QObject {
    Q_OBJECT
public:
    static constexpr int maxConcurrent = FolderRun::maxConcurrent;
    static constexpr int defaultSyncIntervalMs = 30000;

    // stateFilePath defaults to SyncState::fileURL().
    SyncEngine(APIClient &apiClient, AppState &appState, QString stateFilePath = QString(),
               QObject *parent = nullptr);
    ~SyncEngine() override;

    void start();
    void startTimer();
    // Stops the timer and the watcher; a pass that runs starts no further
    // change and ends on its own.
    void stop();
    QCoro::Task<void> syncNow();
    QCoro::Task<void> performSync();

    QCoro::Task<qint64> getOrCreateServerFolder();
    QCoro::Task<qint64> getOrCreateSubfolder(QString folderPath, qint64 parentId);
    void addRecentFile(const QString &name, const QString &action, const QString &path = QString());

    // The user's answer to a mass-removal question of that folder: remove
    // the documents of the removed files from the server too, or download
    // them again.
    void answerRemovalQuestion(const QString &folder, bool remove);

    // The timer interval that the "syncInterval" preference asks for:
    // positive seconds, otherwise 30 s.
    static int syncIntervalMs(const Preferences &preferences);

    // Watched folders whose server folder changed since the engine started
    // (two of one name settled on the lowest id, or one gone and made
    // again) or that were chosen again: their tracked entries and since
    // time were dropped, and they are learned again by content.
    const QSet<QString> &rebasedFolders() const { return m_rebasedFolders; }

    // Writes the state now if it holds changes not yet written; for the end
    // of the program, when a pass still running will not be resumed.
    void writeStateNow();

    bool isSyncing() const { return m_isSyncing; }
    // Waits for the state file to be read if that is still under way.
    const SyncState &syncState()
    {
        takeLoadedState();
        return m_syncState;
    }
    FileWatcher *fileWatcher() const { return m_fileWatcher; }
    QTimer *syncTimer() const { return m_syncTimer; }
    // Saves of the state file so far, and the bytes they wrote: what a pass
    // costs the disk.
    qint64 stateSaveCount() const;
    // Folders walked (listed and planned) by the passes so far: an idle
    // pass walks none.
    qint64 walkCount() const { return m_walkCount; }
    qint64 stateBytesWritten() const;

    // Quiet period of the watchers made by start(), in milliseconds.
    int debounceInterval = 2000;
    // When positive, replaces the preference's timer interval (milliseconds).
    int syncIntervalOverrideMs = 0;
    // A folder its watcher sees whole is walked only when it changed, and
    // anyway once per this interval (milliseconds), in case the watcher
    // missed what it could not know it missed.
    qint64 fullWalkIntervalMs = 60 * 60 * 1000;
    // A pass that changed at least this many entries is followed by a
    // compaction of the state in memory (see StateCompaction.h).
    int compactAfterChanges = 1000;

signals:
    // Emitted at the end of every pass that ran (not for dropped requests).
    void passFinished();

private:
    class RunResults;
    friend class RunResults;

    // Opens the folder and checks that it is still the one the user chose;
    // throws (changing nothing) when it is missing or was replaced.
    std::shared_ptr<FolderAccess> openWatchedFolder(const QString &folderPath);
    // A folder of the pass between its planning and its acting.
    struct PlannedFolder {
        QString path;
        std::shared_ptr<FolderAccess> access;
        qint64 serverFolderId = 0;
        std::unique_ptr<FolderRun> run;
        // The watcher's change mark as the run was made (see FileWatcher).
        std::optional<quint64> changeMark;
        // The folder's last walk, when it found the folder in step: it
        // stands again only if this pass, left unwalked, completes.
        std::optional<qint64> inStepSinceMs;
    };
    std::unique_ptr<FolderRun> makeRun(PlannedFolder &folder);
    // The watcher's mark for the folder while it sees every change there.
    std::optional<quint64> watcherMark(const QString &folderPath) const;
    // After a folder's pass: whether it is in step, as of which change mark.
    void noteInStep(const PlannedFolder &folder);
    // Plans the folder, against its server folder found again if it is gone.
    QCoro::Task<void> planFolder(PlannedFolder &folder, qint64 &rootId);
    QCoro::Task<void> actOnFolder(PlannedFolder &folder, qint64 &rootId);
    // The folder's server folder is gone: it is found or made again
    // (updating rootId) and the folder planned against that one.
    QCoro::Task<void> planAgainstFolderFoundAgain(PlannedFolder &folder, qint64 &rootId);
    QCoro::Task<qint64> findOrCreateFolder(QString name, std::optional<qint64> parentId);
    // Lists the server's folders and settles the remembered root and each
    // remembered mapping on the folder every computer takes (the lowest id
    // of that name under that parent); a remembered folder that is gone is
    // forgotten, to be found or made again.
    QCoro::Task<void> checkServerFolders();
    // The folder now syncs with another server folder (none: to be found or
    // made): what was agreed with the old one is dropped.
    void remapFolder(const QString &folderPath, std::optional<qint64> serverFolderId);
    void forgetFolderEntries(const QString &folderPath);
    // A folder chosen again since its entries were made starts afresh.
    void followFolderChoice(const QString &folderPath);
    // The state belongs to the signed-in server and account; another one's
    // state is kept aside and this one's taken up (or a fresh one).
    void adoptAccount();

    // Notices of a pass are told at its end, one per kind: thirteen files
    // moved to the Trash make one notification, not thirteen.
    void collectNotice(const QString &title, const QString &text, const QString &folderPath);
    void postPassNotices();

    void applyPlan(const QString &folderPath, const FolderPlanning::FolderPlan &plan);
    // Bytes of a transfer under way: counted as they move, shown at most a
    // few times a second.
    void applyMoving(const QString &name, const QString &action, const QString &path, qint64 bytes);
    void publishProgress();
    void applyTransfer(const QString &folderPath, const QString &name, const QString &action, const QString &path, qint64 bytes,
                       const std::optional<QString> &failure);

    // Starts a pass from the event loop, unless the engine was stopped,
    // syncing is paused or the computer is offline.
    void schedulePass();
    // The watched folders changed: added ones are watched, removed ones no
    // longer are.
    void followWatchedFolders();
    // A folder added or chosen again is watched afresh and synced at once.
    void followFolderChosen(const QString &folderPath);
    // Resuming runs a pass at once, and the timer counts from there.
    void followPause();
    // Offline, timed and watched passes wait (a pass the user asks for
    // still runs); when the network is back a pass runs at once, and the
    // timer counts from there.
    void followNetwork();
    // The server refused the session: no further pass runs until a sign-in
    // starts the engine again.
    void holdForSignIn();
    // The state is written at most every millisecond per tracked file (and
    // at least a second apart) while a pass runs, and at the end of each
    // folder: what a crash loses, the next pass learns again from the files'
    // content.
    void requestSave();
    QCoro::Task<void> flushState();

    // One pass at a time per state file, across engines (a sign-out and a
    // sign-in during a pass make a second engine over the same file).
    bool claimStateFile();
    void releaseStateFile();

    // The state file is read on a worker thread from construction on (with
    // many thousands of files that takes a second or more); the state is
    // taken from there before anything reads or changes it.
    void takeLoadedState();
    QCoro::Task<void> stateLoaded();
    // Meanwhile the first pass's walks are made, each as soon as its
    // folder's watches are set up (see FolderRun::EarlyWalk). A folder the
    // pass plans before its walk began is walked by the pass itself.
    QCoro::Task<void> walkWhileStateLoads();
    // Made by walkWhileStateLoads, taken by the first pass's plans; what a
    // pass leaves is dropped at its end.
    QHash<QString, QFuture<std::shared_ptr<FolderRun::EarlyWalk>>> m_earlyWalks;
    bool m_earlyWalksWanted = false;
    // After a pass that changed many entries, their maps are copied afresh
    // in one go (see StateCompaction.h) and the scattered originals freed,
    // one map after the other.
    QCoro::Task<void> compactState();
    // Replaces the state's `map` with `compact`'s copy of it, made on a
    // worker, unless a pass or a change came meanwhile.
    template <typename Map>
    QCoro::Task<void> compactMap(Map SyncState::*map, Map (*compact)(const Map &));
    int m_entriesChanged = 0; // entries changed by the pass under way

    APIClient &m_apiClient;
    AppState &m_appState;
    QString m_stateFilePath;
    QFuture<SyncState> m_loading;
    QPointer<FileWatcher> m_fileWatcher;
    QPointer<QTimer> m_syncTimer;
    SyncState m_syncState;
    bool m_isSyncing = false;
    bool m_running = false;   // between start() and stop()
    bool m_stopped = false;   // stop() called: the running pass winds down
    // A pass was asked for while one ran: it runs when that one ends.
    bool m_passWanted = false;
    bool m_passScheduled = false; // a queued pass start not yet run
    SyncProgress m_progress; // bytesDone: of the transfers that ended
    QHash<QString, qint64> m_movingBytes; // transfers under way, by path
    QElapsedTimer m_passClock;
    qint64 m_progressShownMs = -1;
    QHash<QString, FolderPlanning::RemovalAnswer> m_removalAnswers;
    struct PassNotice {
        QString title;
        QStringList texts;
        QStringList folders;
    };
    QList<PassNotice> m_passNotices;
    StateSaver *m_saver = nullptr;
    quint64 m_stateGeneration = 0;
    // The remembered server folders are checked once per engine start.
    bool m_serverFoldersChecked = false;
    QSet<QString> m_rebasedFolders;
    // Folders moved to another server folder whose pass has not yet
    // completed there.
    QSet<QString> m_joinedFolders;
    // Folders found in step by their last walk: the watcher's change mark
    // taken before that walk, and when it ran (by m_walkClock). A pass takes
    // its folder's out, so one that does not complete leaves a walk due.
    struct InStep {
        quint64 changeMark = 0;
        qint64 walkedAtMs = 0;
    };
    QHash<QString, InStep> m_inStep;
    qint64 m_walkCount = 0;
    QElapsedTimer m_walkClock;
};
