#pragma once

#include <cstdint>

namespace sw::test {

// G.711 mu-law written from the segment table rather than from bit counting: segment s starts at
// magnitude 128 x 2^s - 132 and has 16 steps of 8 x 2^s; magnitudes clip at 32635. The code stores
// the sign (1 = positive) and the inverted segment and step.
inline uint8_t ReferenceMuLaw(int16_t value) {
    int magnitude = value < 0 ? -static_cast<int>(value) : value;
    if (magnitude > 32635) {
        magnitude = 32635;
    }
    int segment = 7;
    while (segment > 0 && magnitude < (128 << segment) - 132) {
        --segment;
    }
    const int step = (magnitude - ((128 << segment) - 132)) / (8 << segment);
    const uint8_t code = static_cast<uint8_t>(~((segment << 4) | step) & 0x7F);
    return value < 0 ? code : static_cast<uint8_t>(code | 0x80);
}

// The linear value a mu-law byte stands for.
inline int MuLawDecode(uint8_t code) {
    const uint8_t inverted = static_cast<uint8_t>(~code);
    const int segment = (inverted >> 4) & 7;
    const int step = inverted & 0x0F;
    const int magnitude = (((step << 3) + 132) << segment) - 132;
    return (inverted & 0x80) ? -magnitude : magnitude;
}

} // namespace sw::test
