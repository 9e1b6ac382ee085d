#pragma once

#include "api/Errors.h"
#include "api/Records.h"

#include <QByteArray>
#include <QCoroTask>
#include <QFuture>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <streambuf>
#include <thread>
#include <variant>

// Decodes a folder's status answer on a thread of its own while the answer
// is still arriving. An answer about 100,000 documents is some 30 MiB: taken
// whole first, it was held in full beside the documents decoded from it,
// the largest moment of a pass. Here only the pieces the decoder has not
// yet reached are held.
//
// Used from one thread (the main one): feed() the body's pieces in order,
// then end(), then co_await result().
class StreamedStatus {
public:
    StreamedStatus();
    // Ends the decoder's input and waits for it, which is quick: it only has
    // the pieces it was given left to read.
    ~StreamedStatus();
    StreamedStatus(const StreamedStatus &) = delete;
    StreamedStatus &operator=(const StreamedStatus &) = delete;

    // Hands the decoder the next piece of the body. False once it wants no
    // more: the answer already failed to decode, or passed the size bound.
    bool feed(QByteArray piece);
    // The body is complete (or cut short: what was fed is all there is).
    void end();
    // Whether the decoder turned pieces away: the answer is then bad
    // whatever happened to its transfer, and result() says why.
    bool refused() const { return m_refused; }
    // The decoded answer; throws DecodingError. Only after end().
    QCoro::Task<SyncStatusResponse> result();

private:
    using Outcome = std::variant<SyncStatusResponse, DecodingError>;

    // What the decoder reads: the pieces as they were fed, each freed as
    // soon as it has been read. Reading waits for the next piece.
    class Pieces : public std::streambuf {
    public:
        void add(QByteArray piece);
        void close();

    protected:
        int_type underflow() override;

    private:
        std::mutex m_mutex;
        std::condition_variable m_arrived;
        std::deque<QByteArray> m_waiting;
        bool m_closed = false;
        QByteArray m_reading;
    };

    Pieces m_pieces;
    QFuture<Outcome> m_outcome;
    std::thread m_decoder;
    qint64 m_received = 0;
    bool m_refused = false;
    bool m_ended = false;
};
