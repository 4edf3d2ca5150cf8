#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sw::test {

// Reads the bytes as comma text (a log line, say) and checks what the reader gives: no more than the
// input holds, and written back and read again, the same items. "" when every invariant held.
std::string CheckCommaTextInput(const uint8_t* data, size_t size);

} // namespace sw::test
