#pragma once

#include <cstdint>
#include <string>

namespace sw {

// Local date and time as days since 1899-12-30, the fraction being the time of day.
using TDateTime = double;

struct TDateTimeParts {
    int Year = 1899;
    int Month = 12;
    int Day = 30;
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int Millisecond = 0;
    int DayOfWeek = 0; // 0 Sunday to 6 Saturday
};

TDateTime Now();
TDateTime EncodeDateTime(const TDateTimeParts& parts);
TDateTimeParts DecodeDateTime(TDateTime value);

// "mm/dd/yyyy hh:nn:ss am/pm": every field two digits but the year; hour 0 is 12 am, hour 12 is 12 pm.
std::string FormatLogTime(TDateTime value);

// Milliseconds of a monotonic clock, wrapping modulo 2^32 like the system tick count.
uint32_t TickCount();

} // namespace sw
