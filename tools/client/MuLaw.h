#pragma once

#include <cstddef>
#include <cstdint>

namespace sw::client {

// ITU-T G.711 mu-law to 16-bit linear PCM.
int16_t MuLawToLinear(uint8_t code);
void MuLawDecode(const uint8_t* codes, size_t count, int16_t* samples);

} // namespace sw::client
