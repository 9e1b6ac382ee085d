#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

class InotifyWatcher;

// Tells the engine that something changed below one of its watched folders:
// every burst of file events becomes one callback on the main thread, once
// the folders have been quiet for debounceInterval.
class FileWatcher : public QObject {
    Q_OBJECT
public:
    explicit FileWatcher(std::function<void()> callback, QObject *parent = nullptr);
    ~FileWatcher() override; // stops every stream; a pending callback never runs

    // Watches the folder and every directory below it; logs and returns when
    // the folder cannot be watched.
    void watch(const QString &folderPath);
    // Drops the stream of that folder (a folder no longer synced).
    void unwatch(const QString &folderPath);
    // The folders that have a stream.
    QStringList watchedFolders() const;
    // Drops every stream. A callback already scheduled still runs.
    void stop();
    // Restarts the quiet period.
    void handleEvents();

    int debounceInterval = 2000; // milliseconds
    // How often a stream reports during a burst (its first event is reported
    // at once); applies to folders watched after it is set.
    int latency = 1000; // milliseconds
    int streamCount() const;
    // The folder's change mark (see InotifyWatcher::changeMark) while its
    // stream sees every change in it; none when the folder has no stream or
    // its stream may miss some, so only a walk can tell.
    std::optional<quint64> changeMark(const QString &folderPath);
    // Its watches below the folder are still being set up (in the
    // background, after watch()).
    bool isSettingUp(const QString &folderPath) const;
    bool hasPendingCallback() const;

private:
    std::function<void()> m_callback;
    QList<InotifyWatcher *> m_streams;
    QPointer<QTimer> m_debounceTask;
};
