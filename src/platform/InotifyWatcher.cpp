#include "platform/InotifyWatcher.h"

#include "platform/BackgroundPriority.h"
#include "platform/Descriptors.h"
#include "platform/FolderAccess.h"
#include "platform/Logging.h"

#include <QFile>
#include <QSet>
#include <QSocketNotifier>
#include <QThread>
#include <QVector>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

// Every kind of change to a file or directory counts; IN_ONLYDIR makes a
// path that was swapped for a file fail instead of being watched.
constexpr uint32_t kChangeMask = IN_CREATE | IN_CLOSE_WRITE | IN_MODIFY | IN_DELETE | IN_MOVED_FROM
    | IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;

// Only the folder itself may be reached through a symbolic link: the user
// chose it. Fails with errno set, ENOSPC once the watch limit is reached.
int addDirectoryWatch(int fd, const QByteArray &dir, bool isRoot)
{
    return ::inotify_add_watch(fd, dir.constData(), kChangeMask | IN_ONLYDIR | (isRoot ? 0 : IN_DONT_FOLLOW));
}

bool isHiddenName(const char *name)
{
    return name[0] == '.';
}

QByteArray childPath(const QByteArray &dir, const char *name)
{
    QByteArray path = dir;
    if (!path.endsWith('/'))
        path += '/';
    return path + name;
}

int readLimit(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    bool ok = false;
    const int limit = file.readAll().trimmed().toInt(&ok);
    return ok ? limit : -1;
}

// The system-wide setting, unless the user namespace we run in (a container,
// a sandbox) sets a lower one of its own.
int maxUserWatches()
{
    const int global = readLimit(QStringLiteral("/proc/sys/fs/inotify/max_user_watches"));
    const int own = readLimit(QStringLiteral("/proc/sys/user/max_inotify_watches"));
    return own > 0 && (global < 0 || own < global) ? own : global;
}

// The visible subdirectories of `dir`, without following symbolic links
// (the folder itself may be one: the user chose it).
QVector<QByteArray> listSubdirectories(const QByteArray &dir, bool followLink)
{
    QVector<QByteArray> result;
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
    const int dirFd = ::open(dir.constData(), flags);
    if (dirFd < 0)
        return result; // gone or unreadable: nothing below it to watch
    DIR *stream = ::fdopendir(dirFd);
    if (!stream) {
        ::close(dirFd);
        return result;
    }
    while (const dirent *entry = ::readdir(stream)) {
        const char *name = entry->d_name;
        if (isHiddenName(name)) // also skips "." and ".."
            continue;
        bool isDir = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat info;
            isDir = ::fstatat(dirFd, name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode);
        }
        if (isDir)
            result.append(childPath(dir, name));
    }
    ::closedir(stream); // closes dirFd too
    return result;
}

// Events tell every change only where every change passes through this
// kernel.
bool isLocalFileSystem(const QByteArray &path)
{
    struct statfs info;
    return ::statfs(path.constData(), &info) == 0 && descriptors::isLocalFileSystem(info);
}

// Shared by every stream, so a mark is never repeated by another stream.
quint64 nextChangeMark()
{
    static quint64 last = 0;
    return ++last;
}

} // namespace

// The watches a walk of a tree added, and what it could not watch.
struct InotifyWatcher::TreeWatches {
    std::vector<std::pair<int, QByteArray>> added;
    bool missed = false; // a directory that is there refused a watch
    bool limitReached = false;
};

// Watches `top` and every directory below it on the inotify instance `fd`.
// `root` is the folder itself, the one path that may be a symbolic link.
// A directory `alreadyWatched` was walked when it was added; walking it
// again could also loop through a bind mount of an ancestor. Stops early
// once `cancelled` is set.
InotifyWatcher::TreeWatches InotifyWatcher::watchTreeOn(int fd, const QByteArray &root, const QByteArray &top,
                                                      const std::function<bool(int)> &alreadyWatched,
                                                      const std::atomic_bool *cancelled)
{
    TreeWatches result;
    QSet<int> walked;
    QVector<QByteArray> pending{top};
    while (!pending.isEmpty() && !(cancelled && cancelled->load(std::memory_order_relaxed))) {
        const QByteArray dir = pending.takeLast();
        const bool isRoot = dir == root;
        const int wd = addDirectoryWatch(fd, dir, isRoot);
        if (wd < 0) {
            if (errno == ENOSPC) {
                result.limitReached = true; // every further watch fails the same way
                break;
            }
            // Other failures are directories that vanished meanwhile or
            // cannot be read; there is nothing below them the scan could
            // see either. One that is there but refused a watch is a blind
            // spot.
            if (errno != ENOENT && errno != ENOTDIR && errno != ELOOP)
                result.missed = true;
            continue;
        }
        if (alreadyWatched(wd) || walked.contains(wd))
            continue;
        walked.insert(wd);
        result.added.emplace_back(wd, dir);
        pending += listSubdirectories(dir, isRoot);
    }
    return result;
}

InotifyWatcher::InotifyWatcher(const QString &rootPath, QObject *parent)
    : QObject(parent), m_rootPath(rootPath), m_root(QFile::encodeName(rootPath))
{
    while (m_root.size() > 1 && m_root.endsWith('/'))
        m_root.chop(1);
    m_latencyTimer.setSingleShot(true);
    connect(&m_latencyTimer, &QTimer::timeout, this, &InotifyWatcher::deliverPending);
}

InotifyWatcher::~InotifyWatcher()
{
    stop();
}

bool InotifyWatcher::start()
{
    if (m_fd >= 0)
        return true;
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0)
        return false;
    m_changeMark = nextChangeMark();
    m_localFileSystem = isLocalFileSystem(m_root);
    m_missedWatch = false;
    // The folder itself now, so that one that cannot be watched is told at
    // once; the directories below it on a thread of their own: a thousand
    // of them would hold the interface for a noticeable while.
    m_rootWd = addDirectoryWatch(m_fd, m_root, true);
    if (m_rootWd < 0) {
        if (errno == ENOSPC)
            reportWatchLimit();
        stop();
        return false;
    }
    m_wdToPath.insert(m_rootWd, m_root);
    m_pathToWd[m_root] = m_rootWd;

    auto tree = std::make_shared<TreeWatches>();
    m_treeWalk.reset(QThread::create([fd = m_fd, root = m_root, tree, cancelled = m_cancelTreeWalk] {
        lowerThisThreadsPriority();
        *tree = watchTreeOn(fd, root, root, [](int) { return false; }, cancelled.get());
    }));
    m_walkedTree = tree;
    connect(m_treeWalk.get(), &QThread::finished, this, [this, walk = ++m_treeWalkCount] {
        if (walk == m_treeWalkCount)
            finishWatchingTree();
    });
    m_treeWalk->start();
    return true;
}

void InotifyWatcher::finishWatchingTree()
{
    if (!m_treeWalk)
        return;
    m_treeWalk->wait();
    m_treeWalk.reset();
    adopt(*m_walkedTree);
    m_walkedTree.reset();
    // A change made in a directory before its watch was added went unseen;
    // a new mark makes whoever took one meanwhile look for itself.
    m_changeMark = nextChangeMark();
    // Events are read only now, with every watch known: one read earlier
    // could name a directory whose watch is not yet in the maps, and a
    // directory made in it would never be watched.
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &InotifyWatcher::readEvents);
}

void InotifyWatcher::stop()
{
    if (m_treeWalk) {
        // The walk uses the descriptor, so it ends before the descriptor is
        // closed; it stops at its next directory.
        m_cancelTreeWalk->store(true);
        m_treeWalk->wait();
        m_treeWalk.reset();
        m_walkedTree.reset();
        m_cancelTreeWalk = std::make_shared<std::atomic_bool>(false);
    }
    // The notifier must go before its descriptor is closed.
    delete m_notifier;
    m_notifier = nullptr;
    if (m_fd >= 0)
        ::close(m_fd); // closing the instance releases all its watches
    m_fd = -1;
    m_rootWd = -1;
    m_wdToPath.clear();
    m_pathToWd.clear();
    m_latencyTimer.stop();
    m_changePending = false;
}

void InotifyWatcher::readEvents()
{
    alignas(inotify_event) char buffer[64 * 1024];
    bool sawChange = false;
    bool overflowed = false;
    // Bounded, so that a process writing without pause cannot keep the main
    // thread in here; the notifier fires again for what is left.
    for (int batch = 0; batch < 16; ++batch) {
        const ssize_t length = ::read(m_fd, buffer, sizeof buffer);
        if (length <= 0)
            break; // EAGAIN: the queue is drained (EINTR: the notifier fires again)
        for (ssize_t offset = 0; offset < length;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + offset);
            offset += ssize_t(sizeof(inotify_event) + event->len);

            if (event->mask & IN_Q_OVERFLOW) {
                overflowed = sawChange = true;
                continue;
            }
            const auto found = m_wdToPath.constFind(event->wd);
            if (found == m_wdToPath.cend())
                continue; // queued before we dropped that watch
            const QByteArray dir = *found;
            if (event->mask & IN_IGNORED) {
                // The kernel dropped the watch: the directory is gone.
                forgetWatch(event->wd);
                continue;
            }
            // A download's own temporary file is no change of the user's:
            // one that keeps failing must not start a pass after each try.
            if (event->len > 0 && std::strncmp(event->name, incomingFilePrefix, sizeof incomingFilePrefix - 1) == 0)
                continue;
            sawChange = true;
            if (event->wd == m_rootWd && (event->mask & (IN_MOVE_SELF | IN_DELETE_SELF))) {
                // Watches follow a moved folder wherever it goes; stop
                // listening rather than report changes from outside it.
                qCCritical(lcFileWatcher, "Watched folder %s was moved or deleted; changes in it are picked up by the timer",
                           m_root.constData());
                unwatchTree(m_root);
                m_rootWd = -1;
                continue;
            }
            if (!(event->mask & IN_ISDIR) || event->len == 0 || isHiddenName(event->name))
                continue;
            const QByteArray path = childPath(dir, event->name);
            // A move is an old path dropped and a new one watched, so a
            // directory moved within the folder keeps correct paths below it.
            if (event->mask & IN_MOVED_FROM)
                unwatchTree(path);
            if (event->mask & (IN_CREATE | IN_MOVED_TO))
                watchTree(path);
        }
    }
    if (overflowed)
        rebuildAfterOverflow();
    if (sawChange) {
        m_changeMark = nextChangeMark();
        noteChange();
    }
}

quint64 InotifyWatcher::changeMark()
{
    if (m_notifier)
        readEvents();
    return m_changeMark;
}

bool InotifyWatcher::seesEveryChange() const
{
    return m_notifier && m_rootWd >= 0 && m_localFileSystem && !m_missedWatch && !m_limitReported;
}

void InotifyWatcher::noteChange()
{
    if (m_latencyTimer.isActive()) {
        m_changePending = true;
        return;
    }
    m_latencyTimer.start(latency);
    emit changed(); // last: a receiver may delete this stream
}

void InotifyWatcher::deliverPending()
{
    if (!m_changePending)
        return;
    m_changePending = false;
    m_latencyTimer.start(latency);
    emit changed();
}

void InotifyWatcher::watchTree(const QByteArray &top)
{
    adopt(watchTreeOn(m_fd, m_root, top, [this](int wd) { return m_wdToPath.contains(wd); }));
}

void InotifyWatcher::adopt(const TreeWatches &tree)
{
    for (const auto &[wd, dir] : tree.added) {
        if (m_wdToPath.contains(wd))
            continue;
        m_wdToPath.insert(wd, dir);
        m_pathToWd[dir] = wd;
    }
    m_missedWatch = m_missedWatch || tree.missed;
    if (tree.limitReached)
        reportWatchLimit();
}

void InotifyWatcher::unwatchTree(const QByteArray &dir)
{
    QVector<int> dropped;
    if (const auto self = m_pathToWd.find(dir); self != m_pathToWd.end())
        dropped.append(self->second);
    const QByteArray prefix = childPath(dir, "");
    for (auto it = m_pathToWd.lower_bound(prefix); it != m_pathToWd.end() && it->first.startsWith(prefix); ++it)
        dropped.append(it->second);
    for (const int wd : dropped) {
        ::inotify_rm_watch(m_fd, wd);
        forgetWatch(wd);
    }
}

void InotifyWatcher::forgetWatch(int wd)
{
    const auto found = m_wdToPath.find(wd);
    if (found == m_wdToPath.end())
        return;
    // The path may already belong to a newer watch of a re-created directory.
    if (const auto byPath = m_pathToWd.find(*found); byPath != m_pathToWd.end() && byPath->second == wd)
        m_pathToWd.erase(byPath);
    m_wdToPath.erase(found);
    if (wd == m_rootWd)
        m_rootWd = -1;
}

void InotifyWatcher::rebuildAfterOverflow()
{
    // Lost events may have hidden new, moved or removed directories; only a
    // fresh walk gives a watch set that matches the tree again.
    for (auto it = m_wdToPath.cbegin(); it != m_wdToPath.cend(); ++it)
        ::inotify_rm_watch(m_fd, it.key());
    m_wdToPath.clear();
    m_pathToWd.clear();
    watchTree(m_root);
    m_rootWd = m_pathToWd.count(m_root) ? m_pathToWd.at(m_root) : -1;
}

void InotifyWatcher::reportWatchLimit()
{
    if (m_limitReported)
        return;
    m_limitReported = true;
    qCCritical(lcFileWatcher, "Watch limit of %d reached while watching %s; changes below it are picked up by the timer",
               maxUserWatches(), m_root.constData());
}
