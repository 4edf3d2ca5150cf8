#include "platform/shell/WavFile.h"

#include <algorithm>
#include <cstring>

namespace sw {

namespace {

uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

constexpr uint16_t kWaveFormatPcm = 1;
constexpr uint16_t kWaveFormatExtensible = 0xFFFE;
// KSDATAFORMAT_SUBTYPE_PCM after its first two bytes (which hold the format tag 1).
constexpr uint8_t kPcmSubFormatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                           0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

bool ReadFormat(const uint8_t* chunk, uint32_t size, TWavFormat& format) {
    if (size < 16) {
        return false;
    }
    uint16_t tag = Le16(chunk);
    if (tag == kWaveFormatExtensible) {
        // cbSize at 16, valid bits at 18, channel mask at 20, sub-format GUID at 24.
        if (size < 40 || Le16(chunk + 16) < 22 || Le16(chunk + 24) != kWaveFormatPcm ||
            std::memcmp(chunk + 26, kPcmSubFormatTail, sizeof kPcmSubFormatTail) != 0) {
            return false;
        }
    } else if (tag != kWaveFormatPcm) {
        return false;
    }
    format.Channels = Le16(chunk + 2);
    format.SamplesPerSec = Le32(chunk + 4);
    format.BlockAlign = Le16(chunk + 12);
    format.BitsPerSample = Le16(chunk + 14);
    const uint16_t bits = format.BitsPerSample;
    if (format.Channels < 1 || format.Channels > 8 || format.SamplesPerSec < 1000 ||
        format.SamplesPerSec > 384000 || (bits != 8 && bits != 16 && bits != 24 && bits != 32)) {
        return false;
    }
    return format.BlockAlign == format.Channels * (bits / 8);
}

} // namespace

std::optional<TWavFormat> ParsePcmWav(const uint8_t* head, size_t headSize, uint64_t fileSize) {
    if (!head || headSize < 12 || fileSize < headSize || std::memcmp(head, "RIFF", 4) != 0 ||
        std::memcmp(head + 8, "WAVE", 4) != 0) {
        return std::nullopt;
    }
    TWavFormat format;
    bool haveFormat = false;
    bool haveData = false;
    uint64_t offset = 12;
    // The RIFF size field is often wrong in the wild; the chunks and the file size decide.
    while (offset + 8 <= headSize) {
        const uint8_t* chunk = head + offset;
        const uint32_t size = Le32(chunk + 4);
        const uint64_t body = offset + 8;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (haveFormat || body + size > headSize || !ReadFormat(head + body, size, format)) {
                return std::nullopt;
            }
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0 && !haveData) {
            haveData = true;
            format.DataOffset = body;
            format.DataSize = body >= fileSize ? 0 : std::min<uint64_t>(size, fileSize - body);
        }
        if (haveFormat && haveData) {
            format.DataSize -= format.DataSize % format.BlockAlign;
            if (format.DataSize == 0) {
                return std::nullopt;
            }
            return format;
        }
        offset = body + size + (size & 1);
    }
    return std::nullopt;
}

} // namespace sw
