#include "video/Bitmap.h"

#include "platform/capture/CaptureRecords.h"

#include <cstring>
#include <limits>

namespace sw {

namespace {

constexpr int32_t kFileHeaderBytes = 14;
constexpr uint32_t kInfoHeaderBytes = 40;
// Larger than any capture device delivers, small enough that a corrupt header cannot ask for gigabytes.
constexpr int64_t kMaxPixels = 16384LL * 16384LL;

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

bool ReadExactly(TStream& stream, void* buffer, int32_t count) {
    return stream.Read(buffer, count) == count;
}

} // namespace

void TBitmap::Clear() {
    FWidth = 0;
    FHeight = 0;
    FBitsPerPixel = 0;
    FStride = 0;
}

bool TBitmap::Allocate(int32_t width, int32_t height, int bitsPerPixel) {
    if (width <= 0 || height <= 0 || (bitsPerPixel != 8 && bitsPerPixel != 24) ||
        static_cast<int64_t>(width) * height > kMaxPixels) {
        Clear();
        return false;
    }
    FWidth = width;
    FHeight = height;
    FBitsPerPixel = bitsPerPixel;
    FStride = StrideOf(width, bitsPerPixel);
    // The same size as last frame costs nothing; the rows are overwritten by the load.
    FPixels.resize(FStride * static_cast<size_t>(height));
    return true;
}

bool TBitmap::SetSize(int32_t width, int32_t height, int bitsPerPixel) {
    if (!Allocate(width, height, bitsPerPixel)) {
        return false;
    }
    std::memset(FPixels.data(), 0, FPixels.size());
    return true;
}

bool TBitmap::LoadFromStream(TStream& stream, std::string& error) {
    const int32_t start = stream.Seek(0, TStream::soCurrent);
    auto fail = [&](std::string reason) {
        Clear();
        error = std::move(reason);
        return false;
    };
    uint8_t file[kFileHeaderBytes];
    if (!ReadExactly(stream, file, kFileHeaderBytes)) {
        return fail("no bitmap file header");
    }
    if (file[0] != 'B' || file[1] != 'M') {
        return fail("not a bitmap file");
    }
    const uint32_t offBits = Le32(file + 10);
    uint8_t infoBytes[kInfoHeaderBytes];
    if (!ReadExactly(stream, infoBytes, static_cast<int32_t>(kInfoHeaderBytes))) {
        return fail("no bitmap information header");
    }
    TBitmapInfoHeader info;
    std::memcpy(&info, infoBytes, sizeof info);
    if (info.biSize < kInfoHeaderBytes) {
        return fail("unsupported bitmap header of " + std::to_string(info.biSize) + " bytes");
    }
    if (info.biCompression != kBiRgb) {
        return fail("unsupported bitmap compression " + std::to_string(info.biCompression));
    }
    if (info.biBitCount != 8 && info.biBitCount != 24) {
        return fail("unsupported bitmap of " + std::to_string(info.biBitCount) + " bits per pixel");
    }
    if (info.biPlanes != 1) {
        return fail("unsupported bitmap of " + std::to_string(info.biPlanes) + " planes");
    }
    const int64_t height = info.biHeight;
    const bool topDown = height < 0;
    const int64_t rows = topDown ? -height : height;
    if (info.biWidth <= 0 || rows == 0 || rows > std::numeric_limits<int32_t>::max() ||
        static_cast<int64_t>(info.biWidth) * rows > kMaxPixels) {
        return fail("unsupported bitmap size " + std::to_string(info.biWidth) + " x " +
                    std::to_string(height));
    }
    const int64_t headerEnd = kFileHeaderBytes + static_cast<int64_t>(info.biSize);
    if (offBits < headerEnd) {
        return fail("bitmap pixels overlap its headers");
    }
    if (!Allocate(info.biWidth, static_cast<int32_t>(rows), info.biBitCount)) {
        return fail("bitmap memory not available");
    }
    if (static_cast<int64_t>(start) + offBits + static_cast<int64_t>(ImageBytes()) >
        std::numeric_limits<int32_t>::max()) {
        return fail("bitmap too large");
    }
    stream.Seek(start + static_cast<int32_t>(offBits), TStream::soBeginning);
    bool complete;
    if (!topDown) {
        complete = ReadExactly(stream, FPixels.data(), static_cast<int32_t>(ImageBytes()));
    } else {
        complete = true;
        for (int32_t y = 0; y < FHeight && complete; ++y) {
            complete = ReadExactly(stream, ScanLine(y), static_cast<int32_t>(FStride));
        }
    }
    if (!complete) {
        return fail("bitmap pixels incomplete");
    }
    return true;
}

} // namespace sw
