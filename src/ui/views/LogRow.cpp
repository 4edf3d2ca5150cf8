#include "ui/views/LogRow.h"

#include "log/CommaText.h"
#include "log/LogTypes.h"
#include "ui/views/ViewSupport.h"

#include <vector>

namespace sw {

namespace {

constexpr const char* kNotAvailable = "N/A";

std::string CategoryName(int category) {
    return category >= 0 && category < kLogCategoryCount ? LogCategoryNames[static_cast<size_t>(category)]
                                                         : "";
}

int Level(int level) {
    return level >= llInformation && level <= llError ? level : 0;
}

} // namespace

TLogRow FormatLogRow(const std::string& line) {
    const std::vector<std::string> fields = FromCommaText(line);
    auto f = [&fields](size_t i) { return i < fields.size() ? fields[i] : std::string(); };
    // A number the line lacks reads as -1, which no table holds, rather than as entry 0.
    auto number = [&fields](size_t i) { return i < fields.size() ? DecimalOrZero(fields[i]) : -1; };
    const int version = DecimalOrZero(f(0));
    TLogRow row;
    auto& t = row.SubTexts;
    if (version >= 22) {
        t = {f(2), "", "", f(4), f(5)};
        const int message = number(3);
        if (message >= 0 && message < kLogMessageCount) {
            const TLogCategoryMessage& m = LogMessages[static_cast<size_t>(message)];
            t[TLogRow::stCategory] = CategoryName(m.Category);
            t[TLogRow::stDescription] = m.Message;
        }
        row.Icon = Level(number(1));
    } else if (version >= 6) {
        t = {f(2), CategoryName(number(3)), f(4), f(5), f(6)};
        row.Icon = Level(number(1));
    } else if (version >= 4) {
        t = {f(2), f(3), f(4), f(5), f(6)};
        row.Icon = Level(number(1));
    } else if (version == 3) {
        t = {f(2), f(3), f(4), kNotAvailable, f(5)};
        row.Icon = Level(number(1));
    } else if (version == 2) {
        t = {f(1), f(2), f(3), kNotAvailable, f(4)};
    } else {
        t = {f(1), kNotAvailable, f(2), kNotAvailable, f(3)};
    }
    return row;
}

} // namespace sw
