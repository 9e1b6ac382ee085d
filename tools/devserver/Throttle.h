#pragma once

#include "HttpServer.h"

#include <chrono>
#include <cstdint>
#include <functional>

namespace devserver {

// Keeps one stream of bytes at or below a rate: after each piece, waits
// until the bytes so far are due. Pieces are kept small (about 1/50 s of
// the rate), so the flow is steady rather than bursts with pauses.
class Pacer {
public:
    // `sleep` waits up to the given milliseconds and returns false when the
    // server is stopping. A rate of 0 or less means no limit.
    Pacer(int64_t bytesPerSecond, std::function<bool(int)> sleep);

    bool limited() const { return m_rate > 0; }
    // The largest piece to move at once.
    std::size_t pieceSize(std::size_t wanted) const;
    // Accounts for `bytes` just moved and waits until they are due; false
    // when the wait was cut short by a stop.
    bool moved(std::size_t bytes);

private:
    int64_t m_rate;
    std::function<bool(int)> m_sleep;
    std::chrono::steady_clock::time_point m_start;
    int64_t m_total = 0;
};

// A request body read no faster than the pacer allows.
class ThrottledBodyReader : public BodyReader {
public:
    ThrottledBodyReader(BodyReader &inner, Pacer &pacer) : m_inner(inner), m_pacer(pacer) {}
    long read(char *buffer, std::size_t size) override;

private:
    BodyReader &m_inner;
    Pacer &m_pacer;
};

} // namespace devserver
