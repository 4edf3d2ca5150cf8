#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace sw {

// What a player needs of a PCM WAV file.
struct TWavFormat {
    uint16_t Channels = 0;
    uint32_t SamplesPerSec = 0;
    uint16_t BitsPerSample = 0; // 8 (unsigned), 16, 24 or 32 (signed, little-endian)
    uint16_t BlockAlign = 0;    // bytes of one frame, all channels
    uint64_t DataOffset = 0;    // file offset of the first sample
    uint64_t DataSize = 0;      // bytes of whole frames, no more than the file holds
};

// Reads the RIFF WAVE header from the first headSize bytes of a file of fileSize bytes. Nothing when the
// file is no PCM WAV (plain or extensible with the PCM sub-format), has an inconsistent format, holds no
// sample, or has no "data" chunk within the given head.
std::optional<TWavFormat> ParsePcmWav(const uint8_t* head, size_t headSize, uint64_t fileSize);

} // namespace sw
