#pragma once

#include "log/LogTypes.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sw {

// The recorded form of an entry: the comma text of build number, level, time, message number, detail
// and values. Line breaks inside the items become spaces, so every entry stays one line of the file.
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
