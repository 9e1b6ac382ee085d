#include "Throttle.h"

#include <algorithm>

namespace devserver {

Pacer::Pacer(int64_t bytesPerSecond, std::function<bool(int)> sleep)
    : m_rate(bytesPerSecond), m_sleep(std::move(sleep)), m_start(std::chrono::steady_clock::now())
{
}

std::size_t Pacer::pieceSize(std::size_t wanted) const
{
    if (!limited())
        return wanted;
    const auto piece = static_cast<std::size_t>(std::max<int64_t>(m_rate / 50, 512));
    return std::min(wanted, piece);
}

bool Pacer::moved(std::size_t bytes)
{
    if (!limited())
        return true;
    m_total += static_cast<int64_t>(bytes);
    const auto due = m_start + std::chrono::microseconds(m_total * 1000000 / m_rate);
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(due - std::chrono::steady_clock::now());
    return wait.count() <= 0 || m_sleep(static_cast<int>(wait.count()));
}

long ThrottledBodyReader::read(char *buffer, std::size_t size)
{
    const long got = m_inner.read(buffer, m_pacer.pieceSize(size));
    if (got > 0 && !m_pacer.moved(static_cast<std::size_t>(got)))
        return -1;
    return got;
}

} // namespace devserver
