#pragma once

#include <QDateTime>
#include <QString>
#include <optional>

// Reading the server's modification times for the conflict rule.
namespace ConflictDates {

// An internet date-time with a time zone and without fractional seconds:
// "2026-03-01T10:00:00Z" or "2026-03-01T11:00:00+01:00". Anything else,
// including out-of-range fields and a trailing line break, gives no value.
// A time an offset moves past the years 1 to 9999 is held at distantPast()
// or distantFuture().
std::optional<QDateTime> parseInternetDateTime(const QString &text);

// The earliest time there is: what an unreadable server time stands for, so
// that it loses every conflict against a readable local time.
QDateTime distantPast();
// The latest time a server date can give.
QDateTime distantFuture();

// The parsed time, or distantPast() when the text does not read.
QDateTime remoteModificationTime(const QString &text);

} // namespace ConflictDates
