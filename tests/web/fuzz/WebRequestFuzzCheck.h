#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sw::test {

// Feeds the bytes to TWebRequest whole and in pieces, then walks the pipelined requests that follow.
// Returns "" when every invariant held, else what broke.
std::string CheckWebRequestInput(const uint8_t* data, size_t size);

} // namespace sw::test
