#pragma once

#include <QDateTime>
#include <QString>

// The age of a moment in words, as the recent-transfer rows show it:
// "now", "1 second ago", "2 minutes ago", "3 hours ago", "2 days ago", then
// weeks, months and years. A moment in the future (a clock set back) reads
// "in 5 minutes".
QString relativeTimeText(const QDateTime &moment, const QDateTime &now = QDateTime::currentDateTimeUtc());
