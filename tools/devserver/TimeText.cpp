#include "TimeText.h"

#include <chrono>
#include <cstdio>

namespace devserver {

namespace {

// Days since 1970-01-01 for a proleptic Gregorian date (H. Hinnant's algorithm).
int64_t daysFromCivil(int64_t year, unsigned month, unsigned day)
{
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

std::string dateTimeText(Micros time)
{
    const int64_t seconds = time >= 0 ? time / 1000000 : (time - 999999) / 1000000;
    const int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
    const int64_t secondOfDay = seconds - days * 86400;
    // civil_from_days
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned dayOfEra = static_cast<unsigned>(z - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned mp = (5 * dayOfYear + 2) / 153;
    const unsigned day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const unsigned month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = static_cast<int64_t>(yearOfEra) + era * 400 + (month <= 2);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02uT%02lld:%02lld:%02lld", static_cast<long long>(year), month,
                  day, static_cast<long long>(secondOfDay / 3600), static_cast<long long>(secondOfDay / 60 % 60),
                  static_cast<long long>(secondOfDay % 60));
    return buffer;
}

bool digits(const std::string &text, std::size_t at, std::size_t count, int &value)
{
    if (at + count > text.size())
        return false;
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

} // namespace

Micros systemMicros()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

std::string secondsText(Micros time)
{
    return dateTimeText(time) + "Z";
}

std::string microsText(Micros time)
{
    const int64_t fraction = ((time % 1000000) + 1000000) % 1000000;
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%06lld", static_cast<long long>(fraction));
    return dateTimeText(time) + "." + buffer + "Z";
}

std::optional<Micros> parseTime(const std::string &text)
{
    int year, month, day, hour, minute, second;
    if (text.size() < 20 || !digits(text, 0, 4, year) || text[4] != '-' || !digits(text, 5, 2, month)
        || text[7] != '-' || !digits(text, 8, 2, day) || (text[10] != 'T' && text[10] != 't')
        || !digits(text, 11, 2, hour) || text[13] != ':' || !digits(text, 14, 2, minute) || text[16] != ':'
        || !digits(text, 17, 2, second))
        return std::nullopt;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return std::nullopt;

    std::size_t position = 19;
    int64_t fraction = 0;
    if (position < text.size() && text[position] == '.') {
        ++position;
        int count = 0;
        while (position < text.size() && text[position] >= '0' && text[position] <= '9') {
            if (count < 6)
                fraction = fraction * 10 + (text[position] - '0');
            ++count;
            ++position;
        }
        if (count == 0)
            return std::nullopt;
        for (int i = count; i < 6; ++i)
            fraction *= 10;
    }

    int offsetMinutes = 0;
    if (position < text.size() && (text[position] == 'Z' || text[position] == 'z')) {
        ++position;
    } else if (position < text.size() && (text[position] == '+' || text[position] == '-')) {
        const int sign = text[position] == '-' ? -1 : 1;
        int offsetHours, offsetMins;
        if (!digits(text, position + 1, 2, offsetHours))
            return std::nullopt;
        std::size_t minutesAt = position + 3;
        if (minutesAt < text.size() && text[minutesAt] == ':')
            ++minutesAt;
        if (!digits(text, minutesAt, 2, offsetMins) || offsetHours > 23 || offsetMins > 59)
            return std::nullopt;
        offsetMinutes = sign * (offsetHours * 60 + offsetMins);
        position = minutesAt + 2;
    } else {
        return std::nullopt;
    }
    if (position != text.size())
        return std::nullopt;

    const int64_t seconds = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400
        + hour * 3600 + minute * 60 + second - offsetMinutes * 60;
    return seconds * 1000000 + fraction;
}

} // namespace devserver
