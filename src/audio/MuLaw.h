#pragma once

#include <cstddef>
#include <cstdint>

namespace sw {

// Viewers receive this many mu-law bytes per second of sound, whatever the capture rate.
constexpr uint32_t kOutputSamplesPerSec = 8000;

// The ITU-T G.711 mu-law code of a signed 16-bit sample.
uint8_t MuLawCode(int16_t value);

// A sample multiplied by the gain, keeping the low 16 bits of the product (no clipping).
inline int16_t ApplyVolume(int16_t sample, int32_t volume) {
    return static_cast<int16_t>(
        static_cast<uint16_t>(static_cast<uint32_t>(sample) * static_cast<uint32_t>(volume)));
}

// The encoders write one mu-law byte per step of 1/8000 s, taking the first channel of the frame the
// step falls in (samples dropped above 8000 Hz, repeated below, no filtering). sampleCount counts the
// samples of all channels. They write at most outputCapacity bytes and return the count written.
size_t EncodeWave8(const uint8_t* input, size_t sampleCount, uint32_t samplesPerSec, uint16_t channels,
                   int32_t volume, uint8_t* output, size_t outputCapacity);
size_t EncodeWave16(const int16_t* input, size_t sampleCount, uint32_t samplesPerSec, uint16_t channels,
                    int32_t volume, uint8_t* output, size_t outputCapacity);

// The bytes the encoders write for sampleCount samples: the exact worst case, never more than
// sampleCount x 8000 / samplesPerSec rounded up. 0 when the rate or the channel count is 0.
size_t EncodedByteCount(size_t sampleCount, uint32_t samplesPerSec, uint16_t channels);

} // namespace sw
