#pragma once

// The literal per-byte definition of the presented BMP pixel area, used as the oracle for the
// converting stream. Written from the definition, not from the stream's code: one byte at a time,
// extended precision, truncation toward zero.

#include "platform/capture/CaptureRecords.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace sw::test {

inline uint8_t ClampByte(long double value) {
    if (value > 255) {
        return 255;
    }
    if (value < 0) {
        return 0;
    }
    return static_cast<uint8_t>(static_cast<int>(value));
}

struct TReferenceByte {
    uint8_t Value = 0;
    // The exact value is a whole number, where extended precision may land one below it.
    bool OnInteger = false;
};

inline TReferenceByte ReferenceComponent(int component, int y, int u, int v) {
    long double l = 1.164L * (y - 16);
    long double value;
    long exact;
    switch (component) {
    case 0:
        value = l + 2.017L * (u - 128);
        exact = 1164L * (y - 16) + 2017L * (u - 128);
        break;
    case 1:
        value = l - 0.392L * (u - 128) - 0.813L * (v - 128);
        exact = 1164L * (y - 16) - 392L * (u - 128) - 813L * (v - 128);
        break;
    default:
        value = l + 1.596L * (v - 128);
        exact = 1164L * (y - 16) + 1596L * (v - 128);
        break;
    }
    return {ClampByte(value), exact % 1000 == 0 && exact > 0 && exact <= 255000};
}

// True when a produced byte is the reference byte, or one off from it where the exact value is whole.
inline bool MatchesReference(uint8_t produced, TReferenceByte reference) {
    int difference = std::abs(static_cast<int>(produced) - static_cast<int>(reference.Value));
    return difference == 0 || (difference == 1 && reference.OnInteger);
}

// Byte o of the presented pixel area of a UYVY, YV12 or YVU9 frame.
inline TReferenceByte ReferencePixelByte(const TBitmapInfoHeader& source, const std::vector<uint8_t>& frame,
                                         long o) {
    long width = source.biWidth;
    long height = source.biHeight;
    long stride = ((width * 24 + 31) & ~31L) / 8;
    long r = o / stride;
    long c = o % stride;
    if (c >= 3 * width) {
        return {0, false};
    }
    long x = c / 3;
    int y = 0;
    int u = 128;
    int v = 128;
    auto at = [&frame](long index) -> int { return frame.at(static_cast<size_t>(index)); };
    if (source.biCompression == kFourCcUyvy) {
        long p = (height - 1 - r) * width + x;
        y = at(2 * p + 1);
        if (p % 2 == 0) {
            u = at(2 * p);
            // An unpaired last pixel has no V byte in the frame.
            v = 2 * p + 2 < static_cast<long>(frame.size()) ? at(2 * p + 2) : 128;
        } else {
            u = at(2 * p - 2);
            v = at(2 * p);
        }
    } else if (source.biCompression == kFourCcYv12) {
        long row = height - 1 - r;
        long cw = (width + 1) / 2;
        long ch = (height + 1) / 2;
        y = at(row * width + x);
        v = at(width * height + cw * (row / 2) + x / 2);
        u = at(width * height + cw * ch + cw * (row / 2) + x / 2);
    } else if (source.biCompression == kFourCcYvu9) {
        long cw = width / 4;
        long ch = height / 4;
        y = at(r * width + x);
        if (cw > 0 && ch > 0) {
            long by = std::min(r / 4, ch - 1);
            long bx = std::min(x / 4, cw - 1);
            v = at(width * height + cw * by + bx);
            u = at(width * height + cw * ch + cw * by + bx);
        }
    }
    return ReferenceComponent(static_cast<int>(c % 3), y, u, v);
}

} // namespace sw::test
