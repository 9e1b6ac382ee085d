#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>
#include <atomic>
#include <functional>
#include <map>
#include <memory>

class QSocketNotifier;
class QThread;

// One recursive change stream over a folder, on inotify: its own inotify
// descriptor, one watch per directory below the folder, read on the main
// thread through a socket notifier. Directories that appear later are
// watched as they appear, those that go away are dropped. Symbolic links
// below the folder are never followed, and hidden directories (names that
// begin with a dot, which the scan skips) are not watched.
//
// Deliveries follow a burst with a latency: the first change is reported at
// once, later ones at most once per `latency` while they keep coming.
class InotifyWatcher : public QObject {
    Q_OBJECT
public:
    explicit InotifyWatcher(const QString &rootPath, QObject *parent = nullptr);
    ~InotifyWatcher() override; // releases the descriptor and every watch

    // Opens the descriptor, watches the folder and starts watching the tree
    // below it on a thread of its own. False when the folder itself cannot
    // be watched (missing, not a directory, no permission, no inotify
    // instance left); the stream then holds nothing. Until the tree is
    // watched, the stream does not claim to see every change.
    bool start();
    // Waits for the tree below the folder to be watched, if it is not yet.
    // The event loop does the same without waiting.
    void finishWatchingTree();
    bool isWalkingTree() const { return m_treeWalk != nullptr; }
    // Releases the descriptor and every watch; nothing is delivered after it.
    void stop();

    QString rootPath() const { return m_rootPath; }
    bool isActive() const { return m_fd >= 0; }
    int watchCount() const { return int(m_wdToPath.size()); }

    int latency = 1000; // milliseconds between deliveries during a burst

    // Changes as they arrive, before any latency: a value no other stream
    // of this process ever had, taken anew at start and at every change. The
    // same value later means nothing was seen to change in between.
    // Events already queued are read first, so a change made before the
    // call is never behind the mark.
    quint64 changeMark();
    // True while every directory of the tree is watched on a file system
    // whose changes all reach this computer's inotify: the tree's walk done,
    // no watch refused (limit, permission), the folder itself still watched,
    // and a local file system (not a network or FUSE mount, where another
    // machine's changes are never told). Otherwise only a walk can tell what
    // changed.
    bool seesEveryChange() const;

signals:
    void changed();

private:
    void readEvents();
    void noteChange();
    void deliverPending();
    struct TreeWatches;
    static TreeWatches watchTreeOn(int fd, const QByteArray &root, const QByteArray &top,
                                   const std::function<bool(int)> &alreadyWatched,
                                   const std::atomic_bool *cancelled = nullptr);
    // Watches `dir` and every directory below it that is not yet watched.
    void watchTree(const QByteArray &dir);
    // Takes the watches a walk added into the maps.
    void adopt(const TreeWatches &tree);
    // Drops the watches of `dir` and of every directory below it.
    void unwatchTree(const QByteArray &dir);
    void forgetWatch(int wd);
    void rebuildAfterOverflow();
    void reportWatchLimit();

    QString m_rootPath;
    QByteArray m_root; // native encoding
    int m_fd = -1;
    int m_rootWd = -1;
    QSocketNotifier *m_notifier = nullptr; // made once the tree is watched
    std::unique_ptr<QThread> m_treeWalk;     // while the tree is being watched
    std::shared_ptr<TreeWatches> m_walkedTree;
    std::shared_ptr<std::atomic_bool> m_cancelTreeWalk = std::make_shared<std::atomic_bool>(false);
    quint64 m_treeWalkCount = 0;
    QHash<int, QByteArray> m_wdToPath;
    std::map<QByteArray, int> m_pathToWd; // ordered, so a subtree is one range
    QTimer m_latencyTimer;
    bool m_changePending = false;
    bool m_limitReported = false;
    bool m_missedWatch = false;
    bool m_localFileSystem = false;
    quint64 m_changeMark = 0;
};
