#include "sync/ConflictDates.h"

#include <QRegularExpression>

#include <algorithm>

namespace ConflictDates {

std::optional<QDateTime> parseInternetDateTime(const QString &text)
{
    // ASCII digits only, and \z: "$" would also match before a final line
    // break.
    static const QRegularExpression pattern(QStringLiteral(
        "\\A([0-9]{4})-([0-9]{2})-([0-9]{2})T([0-9]{2}):([0-9]{2}):([0-9]{2})(?:(Z)|([+-])([0-9]{2}):([0-9]{2}))\\z"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const auto number = [&](int group) { return match.captured(group).toInt(); };

    const QDate date(number(1), number(2), number(3));
    const QTime time(number(4), number(5), number(6));
    if (!date.isValid() || !time.isValid())
        return std::nullopt;

    int offsetSeconds = 0;
    if (match.captured(7).isEmpty()) {
        const int hours = number(9), minutes = number(10);
        if (hours > 23 || minutes > 59)
            return std::nullopt;
        offsetSeconds = (hours * 60 + minutes) * 60;
        if (match.captured(8) == QLatin1String("-"))
            offsetSeconds = -offsetSeconds;
    }
    const QDateTime result(date, time, Qt::OffsetFromUTC, offsetSeconds);
    if (!result.isValid())
        return std::nullopt;
    // An offset can carry a time of the first or last day past the years
    // every other time lies in; it is held at the nearest end.
    return std::clamp(result.toUTC(), distantPast(), distantFuture());
}

QDateTime distantPast()
{
    return QDateTime(QDate(1, 1, 1), QTime(0, 0), Qt::UTC);
}

QDateTime distantFuture()
{
    return QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59), Qt::UTC);
}

QDateTime remoteModificationTime(const QString &text)
{
    return parseInternetDateTime(text).value_or(distantPast());
}

} // namespace ConflictDates
