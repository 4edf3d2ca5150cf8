#include "log/LogFormat.h"

#include "log/CommaText.h"
#include "platform/shell/VersionInfo.h"

#include <cstdio>

namespace sw {

namespace {

std::string OneLine(std::string text) {
    for (char& c : text) {
        if (c == '\r' || c == '\n' || c == '\0') {
            c = ' ';
        }
    }
    return text;
}

} // namespace

std::string BoundLogItem(const std::string& text) {
    if (text.size() <= kMaxLogItemBytes) {
        return text;
    }
    size_t cut = kMaxLogItemBytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    return text.substr(0, cut) + "... (" + std::to_string(text.size()) + " bytes)";
}

std::string BoundLogValues(const std::string& values) {
    if (values.size() <= kMaxLogItemBytes) {
        return values;
    }
    std::vector<std::string> items = FromCommaText(values);
    bool cut = false;
    for (std::string& item : items) {
        if (item.size() > kMaxLogItemBytes) {
            item = BoundLogItem(item);
            cut = true;
        }
    }
    return cut ? ToCommaText(items) : values;
}

std::string FormatLogLine(const TAMLog& entry) {
    return ToCommaText({
        BuildNumber(),
        std::to_string(entry.Level),
        FormatLogTime(entry.Time),
        std::to_string(entry.Message),
        OneLine(BoundLogItem(entry.Detail)),
        OneLine(BoundLogValues(entry.Values)),
    });
}

std::string ValuesFromText(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    return ToCommaText(SplitLines(text));
}

std::vector<std::string> HexDumpRows(const uint8_t* buffer, size_t count) {
    static const char kHex[] = "0123456789ABCDEF";
    std::vector<std::string> rows;
    rows.reserve((count + 15) / 16);
    for (size_t offset = 0; offset < count; offset += 16) {
        std::string row;
        row.reserve(75);
        char head[16];
        std::snprintf(head, sizeof head, "%08X: ", static_cast<unsigned>(offset));
        row += head;
        for (size_t col = 0; col < 16; ++col) {
            if (col > 0) {
                row += ' ';
            }
            if (offset + col < count) {
                uint8_t b = buffer[offset + col];
                row += kHex[b >> 4];
                row += kHex[b & 15];
            } else {
                row += "  ";
            }
        }
        row += "  ";
        for (size_t col = 0; col < 16; ++col) {
            if (offset + col < count) {
                uint8_t b = buffer[offset + col];
                row += (b >= 32 && b <= 127) ? static_cast<char>(b) : '.';
            } else {
                row += ' ';
            }
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

std::string HexDumpValues(const uint8_t* buffer, size_t count) {
    return ToCommaText(HexDumpRows(buffer, count));
}

std::string FormatDuration(uint32_t milliseconds) {
    uint32_t seconds = milliseconds / 1000;
    uint32_t minutes = seconds / 60;
    uint32_t hours = minutes / 60;
    char text[32];
    std::snprintf(text, sizeof text, "%03u:%02u:%02u:%02u", hours / 24, hours % 24, minutes % 60,
                  seconds % 60);
    return text;
}

std::string FormatConsoleLine(const TAMLog& entry) {
    std::string line = FormatLogTime(entry.Time);
    line += "  ";
    line += LevelName(entry.Level);
    line += "  ";
    line += MessageCategoryName(entry.Message);
    line += "  ";
    line += MessageText(entry.Message);
    if (!entry.Detail.empty()) {
        line += "  ";
        line += OneLine(BoundLogItem(entry.Detail));
    }
    if (!entry.Values.empty()) {
        std::vector<std::string> values = FromCommaText(OneLine(BoundLogValues(entry.Values)));
        line += "  [";
        for (size_t i = 0; i < values.size(); ++i) {
            line += i ? " | " : "";
            line += values[i];
        }
        line += "]";
    }
    return line;
}

} // namespace sw
