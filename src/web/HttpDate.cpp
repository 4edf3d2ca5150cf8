#include "web/HttpDate.h"

#include <chrono>
#include <cstdio>

namespace sw {

const std::array<const char*, 7> DayNames = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const std::array<const char*, 12> MonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string FormatHttpDate(TDateTime value) {
    TDateTimeParts parts = DecodeDateTime(value);
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT",
                  DayNames[static_cast<size_t>(parts.DayOfWeek)], parts.Day,
                  MonthNames[static_cast<size_t>(parts.Month - 1)], parts.Year, parts.Hour, parts.Minute,
                  parts.Second);
    return text;
}

TDateTime UtcNow() {
    using namespace std::chrono;
    constexpr double kUnixEpochDays = 25569.0; // 1970-01-01 counted from 1899-12-30
    auto ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    return kUnixEpochDays + static_cast<double>(ms) / 86400000.0;
}

} // namespace sw
