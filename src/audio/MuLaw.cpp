#include "audio/MuLaw.h"

#include <bit>

namespace sw {

namespace {

constexpr uint32_t kMagnitudeLimit = 32639;
constexpr uint32_t kBias = 132;

template <typename Sample, typename ToLinear>
size_t Encode(const Sample* input, size_t sampleCount, uint32_t samplesPerSec, uint16_t channels,
              int32_t volume, uint8_t* output, size_t outputCapacity, ToLinear toLinear) {
    size_t written = 0;
    size_t position = 0;
    uint64_t step = 0;
    while (position < sampleCount && written < outputCapacity) {
        output[written++] = MuLawCode(ApplyVolume(toLinear(input[position]), volume));
        step += samplesPerSec;
        if (step >= kOutputSamplesPerSec) {
            position += static_cast<size_t>(step / kOutputSamplesPerSec) * channels;
            step %= kOutputSamplesPerSec;
        }
    }
    return written;
}

} // namespace

uint8_t MuLawCode(int16_t value) {
    const uint8_t mask = value < 0 ? 0x7F : 0xFF;
    uint32_t magnitude =
        value < 0 ? static_cast<uint32_t>(-static_cast<int32_t>(value)) : static_cast<uint32_t>(value);
    if (magnitude > kMagnitudeLimit) {
        magnitude = kMagnitudeLimit;
    }
    magnitude += kBias;
    const int exponent = std::bit_width(magnitude >> 8);
    uint8_t code = 0x7F;
    if (exponent < 8) {
        code = static_cast<uint8_t>(exponent * 16 + ((magnitude >> (exponent + 3)) & 0x0F));
    }
    return code ^ mask;
}

size_t EncodeWave8(const uint8_t* input, size_t sampleCount, uint32_t samplesPerSec, uint16_t channels,
                   int32_t volume, uint8_t* output, size_t outputCapacity) {
    return Encode(
        input, sampleCount, samplesPerSec, channels, volume, output, outputCapacity,
        [](uint8_t sample) { return static_cast<int16_t>(static_cast<uint16_t>((sample ^ 0x80) << 8)); });
}

size_t EncodeWave16(const int16_t* input, size_t sampleCount, uint32_t samplesPerSec, uint16_t channels,
                    int32_t volume, uint8_t* output, size_t outputCapacity) {
    return Encode(input, sampleCount, samplesPerSec, channels, volume, output, outputCapacity,
                  [](int16_t sample) { return sample; });
}

size_t EncodedByteCount(size_t sampleCount, uint32_t samplesPerSec, uint16_t channels) {
    if (samplesPerSec == 0 || channels == 0 || sampleCount == 0) {
        return 0;
    }
    // Step k reads frame floor(k x rate / 8000); the loop ends at the first step past the last frame.
    const uint64_t frames = (sampleCount + channels - 1) / channels;
    return static_cast<size_t>((frames * kOutputSamplesPerSec + samplesPerSec - 1) / samplesPerSec);
}

} // namespace sw
