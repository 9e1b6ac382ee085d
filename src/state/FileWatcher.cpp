#include "state/FileWatcher.h"

#include "platform/InotifyWatcher.h"
#include "platform/Logging.h"

FileWatcher::FileWatcher(std::function<void()> callback, QObject *parent)
    : QObject(parent), m_callback(std::move(callback))
{
}

FileWatcher::~FileWatcher()
{
    // The debounce timer is a child and dies with the watcher, so a pending
    // callback never runs.
    stop();
}

void FileWatcher::watch(const QString &folderPath)
{
    auto *stream = new InotifyWatcher(folderPath, this);
    stream->latency = latency;
    if (!stream->start()) {
        qCCritical(lcFileWatcher, "Failed to create FSEventStream for %s", qUtf8Printable(folderPath));
        delete stream;
        return;
    }
    connect(stream, &InotifyWatcher::changed, this, &FileWatcher::handleEvents);
    m_streams.append(stream);
    qCInfo(lcFileWatcher, "Watching directory: %s", qUtf8Printable(folderPath));
}

void FileWatcher::unwatch(const QString &folderPath)
{
    for (qsizetype i = m_streams.size() - 1; i >= 0; --i) {
        InotifyWatcher *stream = m_streams.at(i);
        if (stream->rootPath() != folderPath)
            continue;
        m_streams.removeAt(i);
        stream->stop();
        delete stream;
        qCInfo(lcFileWatcher, "Stopped watching directory: %s", qUtf8Printable(folderPath));
    }
}

QStringList FileWatcher::watchedFolders() const
{
    QStringList folders;
    for (const InotifyWatcher *stream : m_streams)
        folders.append(stream->rootPath());
    return folders;
}

void FileWatcher::stop()
{
    for (InotifyWatcher *stream : std::as_const(m_streams)) {
        stream->stop();
        delete stream;
    }
    m_streams.clear();
}

void FileWatcher::handleEvents()
{
    if (!m_debounceTask) {
        m_debounceTask = new QTimer(this);
        m_debounceTask->setSingleShot(true);
        connect(m_debounceTask, &QTimer::timeout, this, [this] {
            // A copy: the callback may well release this watcher.
            const auto callback = m_callback;
            if (callback)
                callback();
        });
    }
    m_debounceTask->start(debounceInterval); // restarts a pending wait
}

int FileWatcher::streamCount() const
{
    return int(m_streams.size());
}

bool FileWatcher::hasPendingCallback() const
{
    return m_debounceTask && m_debounceTask->isActive();
}

bool FileWatcher::isSettingUp(const QString &folderPath) const
{
    for (const InotifyWatcher *stream : m_streams)
        if (stream->rootPath() == folderPath)
            return stream->isWalkingTree();
    return false;
}

std::optional<quint64> FileWatcher::changeMark(const QString &folderPath)
{
    for (InotifyWatcher *stream : std::as_const(m_streams))
        if (stream->rootPath() == folderPath)
            return stream->seesEveryChange() ? std::optional(stream->changeMark()) : std::nullopt;
    return std::nullopt;
}
