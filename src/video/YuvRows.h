#pragma once

#include <cstddef>
#include <cstdint>

namespace sw {

// Row converters from YUV to 24-bit blue-green-red. Each colour byte is
// ClampByte(1.164 (Y - 16) + k1 (U - 128) + k2 (V - 128)) with the decimal constants of the frame
// conversion; scaled by 1000 those are integers, so the rows are computed exactly in integers and
// truncated by an exact division, a row of pixels at a time.

// Pixels firstPixel .. firstPixel + count - 1 of a UYVY frame (2 bytes per pixel, pixel pairs sharing
// U and V). frameBytes bounds every read: the V of an unpaired last pixel outside it counts as 128.
void UyvyPixelsToBgr(const uint8_t* frame, size_t frameBytes, size_t firstPixel, size_t count, uint8_t* dst);

// One row of a planar frame: width luma bytes, chroma at 1 / (1 << chromaShift) horizontal resolution,
// the chroma index clamped to chromaCount - 1. Without chroma planes (u and v null) U and V are 128.
void PlanarRowToBgr(const uint8_t* y, const uint8_t* u, const uint8_t* v, int chromaShift, size_t chromaCount,
                    size_t width, uint8_t* dst);

// In order of preference: a processor that runs one runs all before it.
enum class TYuvKernel { Scalar, Ssse3, Avx2, Avx512 };

// The kernel in use: the best this processor runs, unless tests or benchmarks chose another.
TYuvKernel ActiveYuvKernel();
TYuvKernel BestYuvKernel();
void SetYuvKernel(TYuvKernel kernel);
bool YuvKernelSupported(TYuvKernel kernel);
// "Scalar", "Ssse3", "Avx2" or "Avx512", for reports and test names.
const char* YuvKernelName(TYuvKernel kernel);

// One pixel, exactly: the reference for the kernels.
inline uint8_t ClampThousandths(int32_t n) {
    if (n <= 0) {
        return 0;
    }
    if (n >= 255000) {
        return 255;
    }
    return static_cast<uint8_t>(n / 1000);
}

inline void YuvToBgr(int y, int u, int v, uint8_t* dst) {
    int32_t l = 1164 * (y - 16);
    dst[0] = ClampThousandths(l + 2017 * (u - 128));
    dst[1] = ClampThousandths(l - 392 * (u - 128) - 813 * (v - 128));
    dst[2] = ClampThousandths(l + 1596 * (v - 128));
}

} // namespace sw
