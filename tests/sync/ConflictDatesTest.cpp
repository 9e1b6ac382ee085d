// The server's date texts as the conflict rule reads them. (That a time read
// lies within the years 1 to 9999, offsets included, is the date fuzzer's
// property, with its corpus.)
#include "sync/ConflictDates.h"

#include <gtest/gtest.h>

using ConflictDates::parseInternetDateTime;

TEST(ConflictDatesTest, ReadsOnlyWholeInternetDateTimes)
{
    EXPECT_EQ(parseInternetDateTime("2026-03-01T10:00:00Z"), QDateTime(QDate(2026, 3, 1), QTime(10, 0), Qt::UTC));
    EXPECT_EQ(parseInternetDateTime("2026-03-01T11:30:00+01:30"), QDateTime(QDate(2026, 3, 1), QTime(10, 0), Qt::UTC));
    EXPECT_EQ(parseInternetDateTime("2026-03-01T08:00:00-02:00"), QDateTime(QDate(2026, 3, 1), QTime(10, 0), Qt::UTC));
    for (const char *bad : {"2026-03-01T10:00:00Z\n", "2026-03-01T10:00:00Z ", "\n2026-03-01T10:00:00Z",
                            "2026-03-01T10:00:00", "2026-03-01T10:00:00.5Z", "2026-02-30T10:00:00Z",
                            "2026-03-01T24:00:00Z", "2026-03-01T10:00:00+24:00", "2026-03-01T10:00:00+01:60", ""}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(parseInternetDateTime(QString::fromUtf8(bad)), std::nullopt);
    }
    // Digits of other scripts are not digits of a date.
    EXPECT_EQ(parseInternetDateTime(QString::fromUtf8("\xd9\xa2\xd9\xa0\xd9\xa2\xd9\xa6-03-01T10:00:00Z")), std::nullopt);
}
