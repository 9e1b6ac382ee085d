#include "api/StreamedStatus.h"

#include "platform/WorkerResult.h"

#include <QPromise>
#include <istream>

void StreamedStatus::Pieces::add(QByteArray piece)
{
    if (piece.isEmpty())
        return;
    {
        const std::lock_guard lock(m_mutex);
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

StreamedStatus::Pieces::int_type StreamedStatus::Pieces::underflow()
{
    QByteArray next;
    {
        std::unique_lock lock(m_mutex);
        m_arrived.wait(lock, [this] { return !m_waiting.empty() || m_closed; });
        if (m_waiting.empty())
            return traits_type::eof();
        next = std::move(m_waiting.front());
        m_waiting.pop_front();
    }
    // The piece just read is freed here, outside the lock.
    m_reading = std::move(next);
    char *data = m_reading.data();
    setg(data, data, data + m_reading.size());
    return traits_type::to_int_type(*data);
}

StreamedStatus::StreamedStatus()
{
    // A thread of its own, not the shared pool: the decoder waits for the
    // network most of its time, and the pool's few threads are for work
    // that keeps a core busy (hashing, scanning, state writes).
    QPromise<Outcome> promise;
    m_outcome = promise.future();
    promise.start();
    m_decoder = std::thread([this, promise = std::move(promise)]() mutable {
        std::istream body(&m_pieces);
        try {
            promise.addResult(decodeSyncStatus(body));
        } catch (const DecodingError &error) {
            promise.addResult(error);
        } catch (const std::exception &error) {
            // Out of memory for an absurd answer, say: the pass fails, the
            // client goes on.
            promise.addResult(DecodingError(QStringLiteral("Cannot read the sync status in the server's answer: %1")
                                                .arg(QString::fromLocal8Bit(error.what()))));
        }
        promise.finish();
    });
}

StreamedStatus::~StreamedStatus()
{
    m_pieces.close();
    m_decoder.join();
}

bool StreamedStatus::feed(QByteArray piece)
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
    co_return std::get<SyncStatusResponse>(std::move(outcome));
}
