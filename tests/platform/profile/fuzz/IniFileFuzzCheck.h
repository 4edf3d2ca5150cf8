#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sw::test {

// Reads the bytes as an INI file and checks it: every listed key reads back, the text it would write
// reads the same, and a written key reads back without changing any other. "" when all held.
std::string CheckIniFileInput(const uint8_t* data, size_t size);

} // namespace sw::test
