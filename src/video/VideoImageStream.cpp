#include "video/VideoImageStream.h"

#include "video/YuvRows.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace sw {

namespace {

void PutLe16(uint8_t* p, uint16_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
}

void PutLe32(uint8_t* p, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

} // namespace

TVideoImageStream::TVideoImageStream(const TVideoFormatBuffer& sourceFormat) : FSourceFormat(sourceFormat) {
    PutLe16(FFileHeader.data(), 0x4D42);
    PutLe32(FFileHeader.data() + 10, kHeaderBytes);
    SetFileSize(kHeaderBytes);
}

void TVideoImageStream::SetFileSize(uint32_t size) {
    FFileSize = size;
    PutLe32(FFileHeader.data() + 2, size);
}

void TVideoImageStream::SetFrame(const TVideoHdr* frameHeader) {
    FFrameHeader = frameHeader;
    FInfoHeader = InfoHeaderOf(FSourceFormat.data());
    FCachedRow = -1;
    FKind = TFrameKind::Unsupported;
    FData = nullptr;
    FDataBytes = 0;
    if (frameHeader && frameHeader->lpData) {
        FData = frameHeader->lpData;
        // A driver never fills more than its buffer; trusting a larger count would read past it.
        FDataBytes = frameHeader->dwBufferLength
                         ? std::min(frameHeader->dwBytesUsed, frameHeader->dwBufferLength)
                         : frameHeader->dwBytesUsed;
    }
    uint64_t size = kHeaderBytes;
    uint32_t compression = FInfoHeader.biCompression;
    if (compression <= kBiBitfields) {
        FKind = TFrameKind::Raw;
        size += FDataBytes;
    } else if (compression == kFourCcUyvy || compression == kFourCcYv12 || compression == kFourCcYvu9) {
        int32_t width = FInfoHeader.biWidth;
        int32_t height = FInfoHeader.biHeight;
        uint64_t stride = (static_cast<uint64_t>(std::max(width, 0)) * 24 + 31) / 32 * 4;
        uint64_t image = stride * static_cast<uint64_t>(std::max(height, 0));
        FInfoHeader.biBitCount = 24;
        FInfoHeader.biCompression = kBiRgb;
        FInfoHeader.biSizeImage = static_cast<uint32_t>(image);
        FWidth = static_cast<uint32_t>(std::max(width, 0));
        FHeight = static_cast<uint32_t>(std::max(height, 0));
        FStride = static_cast<uint32_t>(stride);
        TBitmapInfoHeader source = InfoHeaderOf(FSourceFormat.data());
        uint64_t needed = FrameBytesOf(source);
        // Pixels are presented only when every byte the conversion reads lies inside the frame; a short
        // frame or an impossible geometry presents the headers alone, so loading it fails cleanly.
        bool valid = width > 0 && height > 0 && image + kHeaderBytes <= std::numeric_limits<int32_t>::max() &&
                     needed > 0 && FDataBytes >= needed;
        if (valid) {
            FKind = compression == kFourCcUyvy   ? TFrameKind::Uyvy
                    : compression == kFourCcYv12 ? TFrameKind::Yv12
                                                 : TFrameKind::Yvu9;
            size += image;
        }
    }
    SetFileSize(static_cast<uint32_t>(std::min<uint64_t>(size, std::numeric_limits<int32_t>::max())));
}

int32_t TVideoImageStream::Write(const void*, int32_t) {
    return 0;
}

int32_t TVideoImageStream::Seek(int32_t offset, uint16_t origin) {
    switch (origin) {
    case soBeginning:
        FPosition = offset;
        break;
    case soCurrent:
        FPosition = static_cast<int32_t>(static_cast<int64_t>(FPosition) + offset);
        break;
    case soEnd:
        FPosition = static_cast<int32_t>(static_cast<int64_t>(FFileSize) + offset);
        break;
    default:
        break;
    }
    return FPosition;
}

int32_t TVideoImageStream::Read(void* buffer, int32_t count) {
    if (FPosition < 0 || count < 0) {
        return 0;
    }
    auto* dst = static_cast<uint8_t*>(buffer);
    int32_t delivered = 0;
    while (FPosition < 14 && delivered < count) {
        dst[delivered++] = FFileHeader[static_cast<size_t>(FPosition++)];
    }
    const auto* info = reinterpret_cast<const uint8_t*>(&FInfoHeader);
    while (FPosition >= 14 && FPosition < kHeaderBytes && delivered < count) {
        dst[delivered++] = info[static_cast<size_t>(FPosition++ - 14)];
    }
    if (delivered < count && FPosition >= kHeaderBytes && static_cast<uint32_t>(FPosition) < FFileSize) {
        int32_t n = static_cast<int32_t>(
            std::min<int64_t>(count - delivered, static_cast<int64_t>(FFileSize) - FPosition));
        delivered += ReadPixels(dst + delivered, n);
    }
    return delivered;
}

int32_t TVideoImageStream::ReadPixels(uint8_t* dst, int32_t count) {
    uint32_t offset = static_cast<uint32_t>(FPosition - kHeaderBytes);
    if (FKind == TFrameKind::Raw) {
        std::memcpy(dst, FData + offset, static_cast<size_t>(count));
        FPosition += count;
        return count;
    }
    if (FKind == TFrameKind::Unsupported) {
        return 0;
    }
    int32_t done = 0;
    while (done < count) {
        uint32_t row = offset / FStride;
        uint32_t column = offset % FStride;
        uint32_t n = std::min<uint32_t>(static_cast<uint32_t>(count - done), FStride - column);
        if (column == 0 && n == FStride) {
            ConvertRow(row, dst + done);
        } else {
            if (FCachedRow != row) {
                FRowCache.resize(FStride);
                ConvertRow(row, FRowCache.data());
                FCachedRow = row;
            }
            std::memcpy(dst + done, FRowCache.data() + column, n);
        }
        done += static_cast<int32_t>(n);
        offset += n;
    }
    FPosition += done;
    return done;
}

void TVideoImageStream::ConvertRow(uint32_t row, uint8_t* dst) const {
    size_t width = FWidth;
    size_t height = FHeight;
    size_t lumaBytes = width * height;
    switch (FKind) {
    case TFrameKind::Uyvy:
        // The bottom row of the picture comes first in the file.
        UyvyPixelsToBgr(FData, FDataBytes, (height - 1 - row) * width, width, dst);
        break;
    case TFrameKind::Yv12: {
        size_t source = height - 1 - row;
        size_t chromaWidth = (width + 1) / 2;
        size_t chromaHeight = (height + 1) / 2;
        const uint8_t* v = FData + lumaBytes + (source / 2) * chromaWidth;
        const uint8_t* u = FData + lumaBytes + chromaWidth * chromaHeight + (source / 2) * chromaWidth;
        PlanarRowToBgr(FData + source * width, u, v, 1, chromaWidth, width, dst);
        break;
    }
    case TFrameKind::Yvu9: {
        // Rows are presented in luma order. Chroma blocks are clamped so a partial block at the right or
        // bottom edge reuses the last whole one instead of reading past its plane.
        size_t chromaWidth = width / 4;
        size_t chromaHeight = height / 4;
        const uint8_t* u = nullptr;
        const uint8_t* v = nullptr;
        if (chromaWidth > 0 && chromaHeight > 0) {
            size_t block = std::min<size_t>(row / 4, chromaHeight - 1);
            v = FData + lumaBytes + chromaWidth * block;
            u = FData + lumaBytes + chromaWidth * chromaHeight + chromaWidth * block;
        }
        PlanarRowToBgr(FData + row * width, u, v, 2, chromaWidth, width, dst);
        break;
    }
    case TFrameKind::Raw:
    case TFrameKind::Unsupported:
        return;
    }
    std::memset(dst + 3 * width, 0, FStride - 3 * width);
}

} // namespace sw
