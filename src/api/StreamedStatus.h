#pragma once

#include "api/Errors.h"
#include "api/HttpExchange.h"
#include "api/Records.h"

#include <QByteArray>
#include <QCoroTask>
#include <QFuture>
#include <QObject>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <streambuf>
#include <thread>
#include <variant>

// Decodes a folder's status answer on a thread of its own while the answer
// is still arriving. An answer about 100,000 documents is some 30 MiB: taken
// whole first, it was held in full beside the documents decoded from it,
// the largest moment of a pass. Here at most a few MiB of it wait for the
// decoder; the rest waits in the connection.
//
// Used from the thread that made it (the main one): handed to the exchange
// as its taker, then end(), then co_await result().
class StreamedStatus final : public BodyTaker {
public:
    // With `each`, the answer's documents go to it as they are decoded, on
    // the decoder's thread (see decodeSyncStatus).
    explicit StreamedStatus(SyncDocumentSink each = {});
    // Ends the decoder's input and waits for it, which is quick: it only has
    // the few pieces it was given left to read.
    ~StreamedStatus() override;
    StreamedStatus(const StreamedStatus &) = delete;
    StreamedStatus &operator=(const StreamedStatus &) = delete;

    bool take(QByteArray piece) override;
    bool full() override;
    void whenRoom(std::function<void()> resume) override;

    // The body is complete (or cut short: what was taken is all there is).
    void end();
    // Whether the decoder turned pieces away: the answer is then bad
    // whatever happened to its transfer, and result() says why.
    bool refused() const { return m_refused; }
    // The decoded answer; throws DecodingError. Only after end().
    QCoro::Task<SyncStatusResponse> result();

private:
    // The answer by pointer: its documents' deque does not move without
    // possibly throwing, so a future would hand it over as a copy.
    using Outcome = std::variant<std::unique_ptr<SyncStatusResponse>, DecodingError>;

    // What the decoder reads: the pieces as they were taken, each freed as
    // soon as it has been read. Reading waits for the next piece.
    class Pieces : public std::streambuf {
    public:
        // Called on the decoder's thread when a full queue has room again.
        explicit Pieces(std::function<void()> roomMade) : m_roomMade(std::move(roomMade)) {}
        void add(QByteArray piece);
        void close();
        // Whether the pieces waiting fill the queue; if so, roomMade is
        // called once they no longer do.
        bool fullElseNoted();

    protected:
        int_type underflow() override;

    private:
        std::function<void()> m_roomMade;
        std::mutex m_mutex;
        std::condition_variable m_arrived;
        std::deque<QByteArray> m_waiting;
        qint64 m_waitingBytes = 0;
        bool m_roomWanted = false;
        bool m_closed = false;
        QByteArray m_reading;
    };

    void roomMade();

    // Receives the decoder's word that there is room, on this object's thread.
    QObject m_here;
    std::function<void()> m_resume;
    Pieces m_pieces;
    QFuture<Outcome> m_outcome;
    std::thread m_decoder;
    qint64 m_received = 0;
    bool m_refused = false;
    bool m_ended = false;
};
