#include "ui/RelativeTime.h"

#include <QCoreApplication>

#include <limits>

namespace {

struct Unit {
    qint64 seconds;
    const char *ago;
    const char *in;
};

// Largest first; the first unit that fits at least once names the age.
constexpr Unit units[] = {
    {365 * 24 * 3600, QT_TRANSLATE_N_NOOP("RelativeTime", "%n year(s) ago"),
     QT_TRANSLATE_N_NOOP("RelativeTime", "in %n year(s)")},
    {30 * 24 * 3600, QT_TRANSLATE_N_NOOP("RelativeTime", "%n month(s) ago"),
     QT_TRANSLATE_N_NOOP("RelativeTime", "in %n month(s)")},
    {7 * 24 * 3600, QT_TRANSLATE_N_NOOP("RelativeTime", "%n week(s) ago"),
     QT_TRANSLATE_N_NOOP("RelativeTime", "in %n week(s)")},
    {24 * 3600, QT_TRANSLATE_N_NOOP("RelativeTime", "%n day(s) ago"), QT_TRANSLATE_N_NOOP("RelativeTime", "in %n day(s)")},
    {3600, QT_TRANSLATE_N_NOOP("RelativeTime", "%n hour(s) ago"), QT_TRANSLATE_N_NOOP("RelativeTime", "in %n hour(s)")},
    {60, QT_TRANSLATE_N_NOOP("RelativeTime", "%n minute(s) ago"), QT_TRANSLATE_N_NOOP("RelativeTime", "in %n minute(s)")},
    {1, QT_TRANSLATE_N_NOOP("RelativeTime", "%n second(s) ago"), QT_TRANSLATE_N_NOOP("RelativeTime", "in %n second(s)")},
};

} // namespace

QString relativeTimeText(const QDateTime &moment, const QDateTime &now)
{
    if (!moment.isValid() || !now.isValid())
        return QString();
    const qint64 elapsed = moment.secsTo(now);
    const qint64 magnitude = elapsed < 0 ? -elapsed : elapsed;
    if (magnitude == 0)
        return QCoreApplication::translate("RelativeTime", "now");
    for (const Unit &unit : units) {
        if (magnitude < unit.seconds)
            continue;
        const int count = int(qMin<qint64>(magnitude / unit.seconds, std::numeric_limits<int>::max()));
        return QCoreApplication::translate("RelativeTime", elapsed > 0 ? unit.ago : unit.in, nullptr, count);
    }
    return QCoreApplication::translate("RelativeTime", "now");
}
