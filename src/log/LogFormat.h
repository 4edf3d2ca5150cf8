#pragma once

#include "log/LogTypes.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sw {

// What one detail or one value may carry into the log: a remote client chooses URIs and agent texts,
// and without a bound 10000 lines of them are hundreds of megabytes in memory and on disk.
constexpr size_t kMaxLogItemBytes = 1024;

// The text, or its first kMaxLogItemBytes (never splitting a UTF-8 sequence) followed by "..." and
// the original length in bytes.
std::string BoundLogItem(const std::string& text);
// A Values field with every value bounded by BoundLogItem.
std::string BoundLogValues(const std::string& values);

// The recorded form of an entry: the comma text of build number, level, time, message number, detail
// and values. Line breaks inside the items become spaces, so every entry stays one line of the file;
// the detail and each value are bounded (BoundLogItem).
std::string FormatLogLine(const TAMLog& entry);

// The Values field of a multi-line text: one value per line, as comma text.
std::string ValuesFromText(const std::string& text);

// Rows of 75 characters: offset, 16 byte columns, the printable characters.
std::vector<std::string> HexDumpRows(const uint8_t* buffer, size_t count);
std::string HexDumpValues(const uint8_t* buffer, size_t count);

// DDD:HH:MM:SS, the milliseconds below a second dropped.
std::string FormatDuration(uint32_t milliseconds);

// One readable line for a console: time, level, category, message, detail and values.
std::string FormatConsoleLine(const TAMLog& entry);

} // namespace sw
