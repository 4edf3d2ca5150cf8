#pragma once

#include <string>
#include <vector>

namespace sw {

// One line from a list of strings: items joined by ",", an item quoted (inner quotes doubled) when it
// holds a character of code 32 or less, a double quote or a comma. An empty list gives "", a list of
// one empty string gives two double quotes.
std::string ToCommaText(const std::vector<std::string>& items);

// The inverse, as the log and configuration views read it.
std::vector<std::string> FromCommaText(const std::string& text);

// Splits a multi-line text at CR, LF or CR LF; a final line end adds no empty line, "" gives nothing.
std::vector<std::string> SplitLines(const std::string& text);

} // namespace sw
