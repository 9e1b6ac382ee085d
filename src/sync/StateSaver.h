#pragma once

#include <QCoroTask>
#include <QObject>
#include <QString>
#include <QTimer>

struct SyncState;

// Writes the sync state to its file without making the engine wait and
// without writing it once per change. Requests are coalesced: the first
// one arms a timer, and when it fires the state of that moment is copied
// (on the main thread, where the engine changes it) and serialised and
// written atomically on a worker thread. One write is in flight at most; a
// request that comes during a write leads to one more write after it.
//
// Each write replaces the whole file through a temporary file, fsync and
// rename, so the file on disk is always one whole state, never a mix.
// Changes not yet written when the saver goes are lost: its owner flushes
// first (what a crash loses is learned again from the files' contents).
class StateSaver : public QObject {
    Q_OBJECT
public:
    // `source` must outlive the saver's last write request; the saver only
    // reads it, on the main thread.
    StateSaver(const SyncState *source, QString path, QObject *parent = nullptr);
    ~StateSaver() override;

    // Marks the state as changed; a write follows within intervalMs.
    void scheduleSave();
    // Writes now if anything changed since the last write, and returns when
    // the file holds the state of the moment of the call (waiting for a
    // write in flight first).
    QCoro::Task<void> flush();

    bool isDirty() const { return m_dirty; }
    bool isWriting() const { return m_writing; }
    // Writes that succeeded, and the bytes they wrote: what persistence
    // costs the disk.
    qint64 saveCount() const { return m_saveCount; }
    qint64 bytesWritten() const { return m_bytesWritten; }
    QString path() const { return m_path; }

    // Longest wait between a request and the write that takes it.
    int intervalMs = 1000;

signals:
    // After every write, successful or not.
    void writeFinished();

private:
    QCoro::Task<void> write();

    const SyncState *m_source;
    QString m_path;
    QTimer m_timer;
    bool m_dirty = false;
    bool m_writing = false;
    qint64 m_saveCount = 0;
    qint64 m_bytesWritten = 0;
};
