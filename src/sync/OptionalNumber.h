#pragma once

#include <QtGlobal>
#include <limits>
#include <optional>

// An optional whole number in the number's own eight bytes, for the facts
// kept with every tracked file and known document (half the size of a
// std::optional<qint64>, 100,000 times over). The lowest value stands for
// "absent": no size, inode or time of a file takes it, and a state file
// that holds it reads as the fact not being known, which costs no more than
// one read of the file's content.
class OptionalNumber {
public:
    constexpr OptionalNumber() = default;
    constexpr OptionalNumber(std::nullopt_t) {}
    constexpr OptionalNumber(qint64 value) : m_value(value) {}
    constexpr OptionalNumber(const std::optional<qint64> &value) : m_value(value.value_or(kAbsent)) {}

    constexpr bool has_value() const { return m_value != kAbsent; }
    constexpr explicit operator bool() const { return has_value(); }
    constexpr qint64 operator*() const { return m_value; }
    constexpr qint64 value_or(qint64 fallback) const { return has_value() ? m_value : fallback; }
    constexpr void reset() { m_value = kAbsent; }
    constexpr operator std::optional<qint64>() const
    {
        return has_value() ? std::optional<qint64>(m_value) : std::nullopt;
    }

    friend constexpr bool operator==(OptionalNumber, OptionalNumber) = default;

private:
    static constexpr qint64 kAbsent = std::numeric_limits<qint64>::min();
    qint64 m_value = kAbsent;
};
