#pragma once

#include "platform/shell/DateTime.h"

#include <array>
#include <string>

namespace sw {

extern const std::array<const char*, 7> DayNames; // Sunday first
extern const std::array<const char*, 12> MonthNames;

// "Sun, 06 Nov 1994 08:49:37 GMT" with the fixed English names, whatever the locale.
std::string FormatHttpDate(TDateTime value);

// The current time in Coordinated Universal Time, as a date-time value.
TDateTime UtcNow();

} // namespace sw
