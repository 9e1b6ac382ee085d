#include "sync/StateSaver.h"

#include "platform/RunInBackground.h"
#include "sync/SyncState.h"

#include <QCoroFuture>
#include <QCoroSignal>
#include <QPointer>

StateSaver::StateSaver(const SyncState *source, QString path, QObject *parent)
    : QObject(parent), m_source(source), m_path(std::move(path))
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] { write(); });
}

// A write still in flight finishes on its worker with its own copy of the
// state; nothing of the saver is touched after this.
StateSaver::~StateSaver() = default;

void StateSaver::scheduleSave()
{
    m_dirty = true;
    // During a write the timer is armed when it ends.
    if (!m_writing && !m_timer.isActive())
        m_timer.start(intervalMs);
}

QCoro::Task<void> StateSaver::flush()
{
    const QPointer<StateSaver> self(this);
    while (self && m_writing) {
        auto finished = qCoro(this, &StateSaver::writeFinished);
        co_await finished;
    }
    if (self && m_dirty)
        co_await write();
}

QCoro::Task<void> StateSaver::write()
{
    if (m_writing)
        co_return; // the write in flight re-arms the timer when it ends
    m_timer.stop();
    m_dirty = false;
    m_writing = true;
    // One copy per write; the worker reads it while the engine goes on
    // changing its own (Qt's containers detach on the first change).
    SyncState snapshot = *m_source;
    const QPointer<StateSaver> self(this);
    const QString path = m_path;
    QFuture<qint64> future = runInBackground([snapshot = std::move(snapshot), path] {
        return snapshot.writeTo(path);
    });
    const qint64 written = co_await future;
    if (!self)
        co_return;
    m_writing = false;
    // A failed write is not retried on its own: the state in memory is
    // whole, and the next change writes it all again.
    if (written >= 0) {
        ++m_saveCount;
        m_bytesWritten += written;
    }
    if (m_dirty && !m_timer.isActive())
        m_timer.start(intervalMs);
    emit writeFinished();
}
