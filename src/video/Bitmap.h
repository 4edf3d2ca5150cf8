#pragma once

#include "video/Stream.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sw {

// A device-independent bitmap as the frame pipeline draws on and encodes it: 24-bit blue-green-red or
// 8-bit grey pixels, rows padded to 4 bytes and stored bottom-up, the way a BMP file holds them. Loading
// reads the pixel area straight into the bitmap's memory, which stays from frame to frame.
class TBitmap {
public:
    // Loads a BMP file from the stream's position: BI_RGB with 8 (taken as grey levels) or 24 bits per
    // pixel, bottom-up or top-down. False, with the reason in error, for anything else or a short file;
    // the bitmap is then empty.
    bool LoadFromStream(TStream& stream, std::string& error);
    // A blank (black) bitmap; bitsPerPixel 8 or 24. False for a size that cannot be had.
    bool SetSize(int32_t width, int32_t height, int bitsPerPixel);
    void Clear();

    bool Empty() const { return FWidth == 0; }
    int32_t Width() const { return FWidth; }
    int32_t Height() const { return FHeight; }
    int BitsPerPixel() const { return FBitsPerPixel; }
    int Channels() const { return FBitsPerPixel / 8; }
    size_t Stride() const { return FStride; }
    // The pixel rows, the bottom row of the picture first.
    uint8_t* Bits() { return FPixels.data(); }
    const uint8_t* Bits() const { return FPixels.data(); }
    size_t ImageBytes() const { return FStride * static_cast<size_t>(FHeight); }
    // Row y of the picture, 0 being the top row.
    uint8_t* ScanLine(int32_t y) { return FPixels.data() + RowOffset(y); }
    const uint8_t* ScanLine(int32_t y) const { return FPixels.data() + RowOffset(y); }

    static size_t StrideOf(int32_t width, int bitsPerPixel) {
        return (static_cast<size_t>(width) * static_cast<size_t>(bitsPerPixel) + 31) / 32 * 4;
    }

private:
    size_t RowOffset(int32_t y) const { return static_cast<size_t>(FHeight - 1 - y) * FStride; }
    bool Allocate(int32_t width, int32_t height, int bitsPerPixel);

    int32_t FWidth = 0;
    int32_t FHeight = 0;
    int FBitsPerPixel = 0;
    size_t FStride = 0;
    std::vector<uint8_t> FPixels;
};

} // namespace sw
