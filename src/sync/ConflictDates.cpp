#include "sync/ConflictDates.h"

#include <QRegularExpression>

namespace ConflictDates {

std::optional<QDateTime> parseInternetDateTime(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral(
        "^(\\d{4})-(\\d{2})-(\\d{2})T(\\d{2}):(\\d{2}):(\\d{2})(?:(Z)|([+-])(\\d{2}):(\\d{2}))$"));
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
    return result.toUTC();
}

QDateTime distantPast()
{
    return QDateTime(QDate(1, 1, 1), QTime(0, 0), Qt::UTC);
}

QDateTime remoteModificationTime(const QString &text)
{
    return parseInternetDateTime(text).value_or(distantPast());
}

} // namespace ConflictDates
