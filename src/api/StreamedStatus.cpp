#include "api/StreamedStatus.h"

#include "platform/BackgroundPriority.h"
#include "platform/WorkerResult.h"

#include <QPromise>
#include <istream>

namespace {

// What may wait for the decoder: a few pieces of the size the exchange
// reads at a time.
constexpr qint64 maxWaitingBytes = 4 * 1024 * 1024;

} // namespace

void StreamedStatus::Pieces::add(QByteArray piece)
{
    if (piece.isEmpty())
        return;
    {
        const std::lock_guard lock(m_mutex);
        m_waitingBytes += piece.size();
        m_waiting.push_back(std::move(piece));
    }
    m_arrived.notify_one();
}

void StreamedStatus::Pieces::close()
{
    {
        const std::lock_guard lock(m_mutex);
        m_closed = true;
    }
    m_arrived.notify_one();
}

bool StreamedStatus::Pieces::fullElseNoted()
{
    const std::lock_guard lock(m_mutex);
    m_roomWanted = m_waitingBytes >= maxWaitingBytes;
    return m_roomWanted;
}

StreamedStatus::Pieces::int_type StreamedStatus::Pieces::underflow()
{
    QByteArray next;
    bool room = false;
    {
        std::unique_lock lock(m_mutex);
        m_arrived.wait(lock, [this] { return !m_waiting.empty() || m_closed; });
        if (m_waiting.empty())
            return traits_type::eof();
        next = std::move(m_waiting.front());
        m_waiting.pop_front();
        m_waitingBytes -= next.size();
        // Half empty before the answer moves again: it then comes in
        // runs of a few pieces, not a piece at a time.
        room = m_roomWanted && m_waitingBytes <= maxWaitingBytes / 2;
        if (room)
            m_roomWanted = false;
    }
    if (room)
        m_roomMade();
    // The piece read before is freed here, outside the lock.
    m_reading = std::move(next);
    char *data = m_reading.data();
    setg(data, data, data + m_reading.size());
    return traits_type::to_int_type(*data);
}

StreamedStatus::StreamedStatus(SyncDocumentSink each)
    : m_pieces([this] { roomMade(); })
{
    // A thread of its own, not the shared pool: the decoder waits for the
    // network most of its time, and the pool's few threads are for work
    // that keeps a core busy (hashing, scanning, state writes).
    QPromise<Outcome> promise;
    m_outcome = promise.future();
    promise.start();
    m_decoder = std::thread([this, promise = std::move(promise), each = std::move(each)]() mutable {
        lowerThisThreadsPriority();
        std::istream body(&m_pieces);
        try {
            promise.addResult(std::make_unique<SyncStatusResponse>(decodeSyncStatus(body, each)));
        } catch (const DecodingError &error) {
            promise.addResult(error);
        } catch (const std::exception &error) {
            // Out of memory for an absurd answer, say: the pass fails, the
            // client goes on.
            promise.addResult(decodingError(QStringLiteral("sync status"), QString::fromLocal8Bit(error.what())));
        }
        promise.finish();
        // A decoder that stopped early wants no more: the exchange, if it
        // waits for room, hears so at once.
        roomMade();
    });
}

StreamedStatus::~StreamedStatus()
{
    m_pieces.close();
    m_decoder.join();
}

void StreamedStatus::roomMade()
{
    // From the decoder's thread to this object's; dropped if this object is
    // gone by then.
    QMetaObject::invokeMethod(
        &m_here,
        [this] {
            if (m_resume)
                m_resume();
        },
        Qt::QueuedConnection);
}

bool StreamedStatus::take(QByteArray piece)
{
    if (m_refused || m_ended)
        return false;
    m_received += piece.size();
    if (m_received > maxListingBytes || m_outcome.isFinished()) {
        // Too large, or already decoded (badly: a good answer needs its
        // end to be read): the rest is not wanted.
        m_refused = true;
        m_pieces.close();
        return false;
    }
    m_pieces.add(std::move(piece));
    return true;
}

bool StreamedStatus::full()
{
    // A decoder that stopped early is never full: the exchange hands it the
    // next piece, and hears that it is not wanted.
    return !m_outcome.isFinished() && m_pieces.fullElseNoted();
}

void StreamedStatus::whenRoom(std::function<void()> resume)
{
    m_resume = std::move(resume);
}

void StreamedStatus::end()
{
    m_ended = true;
    m_pieces.close();
}

QCoro::Task<SyncStatusResponse> StreamedStatus::result()
{
    QCoro::Task<Outcome> decoding = takeResultOf(m_outcome);
    Outcome outcome = co_await decoding;
    if (m_received > maxListingBytes)
        throw bodyTooLarge(QStringLiteral("sync status"), m_received, maxListingBytes);
    if (auto *error = std::get_if<DecodingError>(&outcome))
        throw *error;
    co_return std::move(*std::get<std::unique_ptr<SyncStatusResponse>>(outcome));
}
