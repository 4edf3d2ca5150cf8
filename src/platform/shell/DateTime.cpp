#include "platform/shell/DateTime.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <sys/time.h>

namespace sw {

namespace {

// Days from 0001-01-01 (proleptic Gregorian) to the given date; only differences are used.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(y + (month <= 2));
}

const int64_t kEpochDays = DaysFromCivil(1899, 12, 30);

} // namespace

TDateTime Now() {
    struct timeval tv {};
    ::gettimeofday(&tv, nullptr);
    struct tm local {};
    time_t seconds = tv.tv_sec;
    ::localtime_r(&seconds, &local);
    TDateTimeParts parts;
    parts.Year = local.tm_year + 1900;
    parts.Month = local.tm_mon + 1;
    parts.Day = local.tm_mday;
    parts.Hour = local.tm_hour;
    parts.Minute = local.tm_min;
    parts.Second = local.tm_sec;
    parts.Millisecond = static_cast<int>(tv.tv_usec / 1000);
    return EncodeDateTime(parts);
}

TDateTime EncodeDateTime(const TDateTimeParts& parts) {
    int64_t days =
        DaysFromCivil(parts.Year, static_cast<unsigned>(parts.Month), static_cast<unsigned>(parts.Day)) -
        kEpochDays;
    double ms = ((parts.Hour * 60.0 + parts.Minute) * 60.0 + parts.Second) * 1000.0 + parts.Millisecond;
    return static_cast<double>(days) + ms / 86400000.0;
}

TDateTimeParts DecodeDateTime(TDateTime value) {
    TDateTimeParts parts;
    // Round to the millisecond first so 23:59:59.9995 does not decode as a second that never existed.
    int64_t totalMs = static_cast<int64_t>(std::llround(value * 86400000.0));
    int64_t days = totalMs >= 0 ? totalMs / 86400000 : -((-totalMs + 86399999) / 86400000);
    int64_t msOfDay = totalMs - days * 86400000;
    CivilFromDays(days + kEpochDays, parts.Year, parts.Month, parts.Day);
    parts.Hour = static_cast<int>(msOfDay / 3600000);
    parts.Minute = static_cast<int>(msOfDay / 60000 % 60);
    parts.Second = static_cast<int>(msOfDay / 1000 % 60);
    parts.Millisecond = static_cast<int>(msOfDay % 1000);
    int64_t dow = (days + kEpochDays + 4) % 7; // 1970-01-01 was a Thursday
    parts.DayOfWeek = static_cast<int>(dow < 0 ? dow + 7 : dow);
    return parts;
}

std::string FormatLogTime(TDateTime value) {
    TDateTimeParts p = DecodeDateTime(value);
    int hour12 = p.Hour % 12 == 0 ? 12 : p.Hour % 12;
    char text[40];
    std::snprintf(text, sizeof text, "%02d/%02d/%04d %02d:%02d:%02d %s", p.Month, p.Day, p.Year, hour12,
                  p.Minute, p.Second, p.Hour < 12 ? "am" : "pm");
    return text;
}

uint32_t TickCount() {
    struct timespec ts {};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

} // namespace sw
