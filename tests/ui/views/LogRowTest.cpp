#include "ui/views/LogRow.h"
#include "log/CommaText.h"

#include <gtest/gtest.h>

namespace sw {
namespace {

struct TLayoutCase {
    const char* Name;
    std::vector<std::string> Fields;
    std::array<std::string, TLogRow::kSubTextCount> Expected;
    int Icon;
};

TLogRow Read(const std::vector<std::string>& fields) {
    return FormatLogRow(ToCommaText(fields));
}

// Message 33 is Audio "Socket write", message 18 Video "Socket disconnect"; category 4 is "Video".
const std::vector<TLayoutCase> kLayouts = {
    {"current",
     {"100", "1", "12/08/2026 02:05:09 pm", "18", "10.0.0.7", ""},
     {"12/08/2026 02:05:09 pm", "Video", "Socket disconnect", "10.0.0.7", ""},
     1},
    {"current at the first build of that layout",
     {"22", "3", "t", "33", "d", "a,b"},
     {"t", "Audio", "Socket write", "d", "a,b"},
     3},
    {"6 to 21: category by number",
     {"12", "2", "t", "4", "Grab failed", "v", "x"},
     {"t", "Video", "Grab failed", "v", "x"},
     2},
    {"6", {"6", "1", "t", "0", "d", "v", "x"}, {"t", "Unknown", "d", "v", "x"}, 1},
    {"4 and 5: category as text",
     {"5", "1", "t", "Web", "Get", "/index.htm", "x"},
     {"t", "Web", "Get", "/index.htm", "x"},
     1},
    {"4", {"4", "3", "t", "Audio", "Open", "Failed", ""}, {"t", "Audio", "Open", "Failed", ""}, 3},
    {"3: no value column", {"3", "2", "t", "Video", "Error", "x"}, {"t", "Video", "Error", "N/A", "x"}, 2},
    {"2: no level", {"2", "t", "Client", "Connect", "x"}, {"t", "Client", "Connect", "N/A", "x"}, 0},
    {"1", {"1", "t", "Started", "x"}, {"t", "N/A", "Started", "N/A", "x"}, 0},
    {"first field not a number", {"abc", "t", "Started", "x"}, {"t", "N/A", "Started", "N/A", "x"}, 0},
    {"negative", {"-4", "t", "d", "x"}, {"t", "N/A", "d", "N/A", "x"}, 0},
};

TEST(LogRowTest, EachLayoutFillsTheColumnsFromItsFields) {
    for (const TLayoutCase& c : kLayouts) {
        SCOPED_TRACE(c.Name);
        const TLogRow row = Read(c.Fields);
        EXPECT_EQ(row.SubTexts, c.Expected);
        EXPECT_EQ(row.Icon, c.Icon);
    }
}

TEST(LogRowTest, NumbersOutsideTheTablesAndMissingFieldsShowEmpty) {
    // A message number past the table, a category number past the table, a level without an image.
    EXPECT_EQ(Read({"100", "1", "t", "200", "d", "v"}).SubTexts,
              (std::array<std::string, 5>{"t", "", "", "d", "v"}));
    EXPECT_EQ(Read({"12", "9", "t", "99", "d", "v", "x"}).SubTexts,
              (std::array<std::string, 5>{"t", "", "d", "v", "x"}));
    EXPECT_EQ(Read({"100", "9", "t", "0", "", ""}).Icon, 0);
    EXPECT_EQ(Read({"100", "1"}).SubTexts, (std::array<std::string, 5>{"", "", "", "", ""}));
    EXPECT_EQ(Read({"100", "1"}).Icon, 1);
    EXPECT_EQ(FormatLogRow("").SubTexts, (std::array<std::string, 5>{"", "N/A", "", "N/A", ""}));
    EXPECT_EQ(FormatLogRow("\"unclosed").SubTexts[TLogRow::stDateTime], "");
}

TEST(LogRowTest, ReadsLinesByTheCommaTextRule) {
    // Unquoted blanks split items; a trailing comma is a final empty item.
    const TLogRow row = FormatLogRow("1 a b,");
    EXPECT_EQ(row.SubTexts[TLogRow::stDateTime], "a");
    EXPECT_EQ(row.SubTexts[TLogRow::stDescription], "b");
    EXPECT_EQ(row.SubTexts[TLogRow::stValues], "");
    EXPECT_EQ(
        FormatLogRow("100,1,\"12/08/2026 02:05:09 pm\",0,\"say \"\"hi\"\"\",").SubTexts[TLogRow::stValue],
        "say \"hi\"");
}

} // namespace
} // namespace sw
