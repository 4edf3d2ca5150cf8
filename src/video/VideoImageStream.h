#pragma once

#include "platform/capture/CaptureRecords.h"
#include "video/Stream.h"

#include <array>
#include <cstdint>
#include <vector>

namespace sw {

// Presents a captured frame as a complete BMP file (file header, info header, pixel rows) without
// copying it first: UYVY, YV12 and YVU9 frames are converted to bottom-up 24-bit BGR as the bytes
// are read, raw formats (BI_RGB to BI_BITFIELDS) pass unchanged, anything else presents the 54 header
// bytes only. A read may start anywhere and still returns exactly the bytes of the presented file.
class TVideoImageStream : public TStream {
public:
    static constexpr int32_t kHeaderBytes = 54;

    // sourceFormat is read at every SetFrame and must outlive the stream.
    explicit TVideoImageStream(const TVideoFormatBuffer& sourceFormat);

    // Attaches a frame (valid until the next SetFrame or the end of the frame callback) and rebuilds the
    // headers; the position stays where it is.
    void SetFrame(const TVideoHdr* frameHeader);

    int32_t Read(void* buffer, int32_t count) override;
    int32_t Write(const void* buffer, int32_t count) override;
    int32_t Seek(int32_t offset, uint16_t origin) override;

    int32_t Position() const { return FPosition; }
    uint32_t FileSize() const { return FFileSize; }
    const TBitmapInfoHeader& InfoHeader() const { return FInfoHeader; }
    const std::array<uint8_t, 14>& FileHeader() const { return FFileHeader; }

private:
    enum class TFrameKind { Raw, Uyvy, Yv12, Yvu9, Unsupported };

    void SetFileSize(uint32_t size);
    void ConvertRow(uint32_t row, uint8_t* dst) const;
    int32_t ReadPixels(uint8_t* dst, int32_t count);

    const TVideoFormatBuffer& FSourceFormat;
    const TVideoHdr* FFrameHeader = nullptr;
    std::array<uint8_t, 14> FFileHeader{};
    TBitmapInfoHeader FInfoHeader{};
    int32_t FPosition = 0;

    uint32_t FFileSize = kHeaderBytes;
    TFrameKind FKind = TFrameKind::Unsupported;
    const uint8_t* FData = nullptr;
    size_t FDataBytes = 0;
    uint32_t FWidth = 0;
    uint32_t FHeight = 0;
    uint32_t FStride = 0;
    // A row that a read covers only in part is converted here once and served from here.
    std::vector<uint8_t> FRowCache;
    int64_t FCachedRow = -1;
};

} // namespace sw
