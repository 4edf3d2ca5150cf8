#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sw::test {

// Reads the bytes as comma text and as multi-line text, then writes what was read and reads it again.
// Returns "" when every invariant held, else what broke.
std::string CheckCommaTextInput(const uint8_t* data, size_t size);

} // namespace sw::test
