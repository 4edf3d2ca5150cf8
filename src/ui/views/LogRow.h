#pragma once

#include <array>
#include <string>

namespace sw {

// What the log list shows for one line of the log: the four column texts, the entry's values (for
// the details box only) and the icon, which is the level (0 for none).
struct TLogRow {
    enum TSubText { stDateTime, stCategory, stDescription, stValue, stValues, kSubTextCount };
    std::array<std::string, kSubTextCount> SubTexts;
    int Icon = 0;
};

// Reads one line in any of the six layouts that current and older versions wrote, chosen by the
// number in its first field. Fields the line lacks, and message or category numbers outside the
// tables, show as empty texts.
TLogRow FormatLogRow(const std::string& line);

} // namespace sw
