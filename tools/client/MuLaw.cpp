#include "client/MuLaw.h"

namespace sw::client {

int16_t MuLawToLinear(uint8_t code) {
    const uint8_t u = static_cast<uint8_t>(~code);
    const int exponent = (u >> 4) & 0x07;
    const int mantissa = u & 0x0F;
    const int magnitude = (((mantissa << 3) + 0x84) << exponent) - 0x84;
    return static_cast<int16_t>((u & 0x80) ? -magnitude : magnitude);
}

void MuLawDecode(const uint8_t* codes, size_t count, int16_t* samples) {
    for (size_t i = 0; i < count; ++i) {
        samples[i] = MuLawToLinear(codes[i]);
    }
}

} // namespace sw::client
