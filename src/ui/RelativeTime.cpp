#include "ui/RelativeTime.h"

namespace {

struct Unit {
    qint64 seconds;
    const char *singular;
    const char *plural;
};

// Largest first; the first unit that fits at least once names the age.
constexpr Unit units[] = {
    {365 * 24 * 3600, "year", "years"},
    {30 * 24 * 3600, "month", "months"},
    {7 * 24 * 3600, "week", "weeks"},
    {24 * 3600, "day", "days"},
    {3600, "hour", "hours"},
    {60, "minute", "minutes"},
    {1, "second", "seconds"},
};

} // namespace

QString relativeTimeText(const QDateTime &moment, const QDateTime &now)
{
    if (!moment.isValid() || !now.isValid())
        return QString();
    const qint64 elapsed = moment.secsTo(now);
    const qint64 magnitude = elapsed < 0 ? -elapsed : elapsed;
    if (magnitude == 0)
        return QStringLiteral("now");
    for (const Unit &unit : units) {
        if (magnitude < unit.seconds)
            continue;
        const qint64 count = magnitude / unit.seconds;
        const QString amount = QStringLiteral("%1 %2").arg(count).arg(
            QLatin1String(count == 1 ? unit.singular : unit.plural));
        return elapsed > 0 ? amount + QStringLiteral(" ago") : QStringLiteral("in ") + amount;
    }
    return QStringLiteral("now");
}
