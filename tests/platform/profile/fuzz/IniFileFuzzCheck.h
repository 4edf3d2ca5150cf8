#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sw::test {

// Reads the bytes as an INI file, writes the text back and reads it again, then adds a key to each
// section. Returns "" when every invariant held, else what broke.
std::string CheckIniFileInput(const uint8_t* data, size_t size);

} // namespace sw::test
