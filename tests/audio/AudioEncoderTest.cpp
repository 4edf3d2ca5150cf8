#include "MuLawReference.h"
#include "audio/MuLaw.h"

#include <gtest/gtest.h>
#include <vector>

namespace sw {
namespace {

TEST(AudioEncoderTest, OutputCountFollowsTheRate) {
    struct TCase {
        uint16_t Bits;
        uint32_t Rate;
        uint16_t Channels;
        size_t InputBytes;
        size_t Expected;
    };
    const TCase cases[] = {
        {8, 8000, 1, 2000, 2000},  // the defaults
        {16, 8000, 1, 2000, 1000}, // 16-bit mono
        {8, 11025, 1, 2000, 1452}, // one sample dropped about every 3.6
        {8, 16000, 2, 2000, 500},  {16, 44100, 2, 2000, 91},
        {16, 48000, 1, 2000, 167}, {8, 4000, 1, 2000, 4000}, // below 8000 Hz every sample is repeated
        {8, 8000, 1, 0, 0},
    };
    for (const TCase& c : cases) {
        std::vector<uint8_t> input(c.InputBytes, 0x80);
        std::vector<uint8_t> output(8000, 0);
        const size_t samples = c.InputBytes * 8 / c.Bits;
        const size_t count =
            c.Bits == 8
                ? EncodeWave8(input.data(), samples, c.Rate, c.Channels, 1, output.data(), output.size())
                : EncodeWave16(reinterpret_cast<const int16_t*>(input.data()), samples, c.Rate, c.Channels, 1,
                               output.data(), output.size());
        EXPECT_EQ(count, c.Expected) << c.Bits << " bits " << c.Rate << " Hz " << c.Channels << " channels";
        EXPECT_EQ(EncodedByteCount(samples, c.Rate, c.Channels), c.Expected);
    }
}

TEST(AudioEncoderTest, WorstCaseCountIsExactAndWithinTheRoundedBound) {
    std::vector<int16_t> input(4000, 0);
    std::vector<uint8_t> output(40000);
    for (uint32_t rate : {3000u, 7999u, 8000u, 8001u, 11025u, 22050u, 44100u, 48000u, 96000u}) {
        for (uint16_t channels : {1, 2, 3}) {
            for (size_t samples : {1u, 2u, 3u, 999u, 1000u, 4000u}) {
                const size_t count =
                    EncodeWave16(input.data(), samples, rate, channels, 1, output.data(), output.size());
                ASSERT_EQ(count, EncodedByteCount(samples, rate, channels))
                    << rate << " " << channels << " " << samples;
                ASSERT_LE(count, (samples * 8000 + rate - 1) / rate);
            }
        }
    }
}

TEST(AudioEncoderTest, NeverWritesPastTheOutput) {
    std::vector<uint8_t> input(2000, 0x80);
    std::vector<uint8_t> output(110, 0xAA);
    EXPECT_EQ(EncodeWave8(input.data(), input.size(), 4000, 1, 1, output.data(), 100), 100u);
    EXPECT_EQ(output[100], 0xAA);
    // A rate or channel count of 0 would never advance; the capacity still ends the loop.
    EXPECT_EQ(EncodeWave8(input.data(), input.size(), 0, 1, 1, output.data(), 100), 100u);
    EXPECT_EQ(EncodeWave8(input.data(), input.size(), 8000, 0, 1, output.data(), 100), 100u);
    EXPECT_EQ(EncodedByteCount(10, 0, 1), 0u);
}

TEST(AudioEncoderTest, OnlyTheFirstChannelIsUsed) {
    std::vector<int16_t> stereo;
    for (int i = 0; i < 100; ++i) {
        stereo.push_back(static_cast<int16_t>(i * 300));
        stereo.push_back(static_cast<int16_t>(-30000));
    }
    std::vector<uint8_t> output(200);
    ASSERT_EQ(EncodeWave16(stereo.data(), stereo.size(), 8000, 2, 1, output.data(), output.size()), 100u);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(output[i], test::ReferenceMuLaw(static_cast<int16_t>(i * 300))) << i;
    }
}

TEST(AudioEncoderTest, EightBitSamplesAreCentredAndScaled) {
    const std::vector<uint8_t> input{0x00, 0x80, 0xFF, 0x81, 0x7F};
    std::vector<uint8_t> output(5);
    ASSERT_EQ(EncodeWave8(input.data(), input.size(), 8000, 1, 1, output.data(), output.size()), 5u);
    const int16_t linear[] = {-32768, 0, 32512, 256, -256};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(output[i], test::ReferenceMuLaw(linear[i])) << i;
    }
}

TEST(AudioEncoderTest, RateConversionPicksTheStepsFrame) {
    // At 16000 Hz every other sample; at 4000 Hz each sample twice; at 11025 Hz frame floor(k x 11025 /
    // 8000).
    std::vector<int16_t> ramp(64);
    for (size_t i = 0; i < ramp.size(); ++i) {
        ramp[i] = static_cast<int16_t>(i * 500);
    }
    std::vector<uint8_t> output(256);
    for (uint32_t rate : {4000u, 11025u, 16000u}) {
        const size_t count = EncodeWave16(ramp.data(), ramp.size(), rate, 1, 1, output.data(), output.size());
        ASSERT_EQ(count, EncodedByteCount(ramp.size(), rate, 1));
        for (size_t k = 0; k < count; ++k) {
            const size_t frame = k * rate / 8000;
            ASSERT_EQ(output[k], test::ReferenceMuLaw(ramp[frame])) << rate << " step " << k;
        }
    }
}

TEST(AudioEncoderTest, VolumeWrapsBeforeEncoding) {
    const std::vector<int16_t> input{20000};
    std::vector<uint8_t> output(1);
    ASSERT_EQ(EncodeWave16(input.data(), 1, 8000, 1, 2, output.data(), 1), 1u);
    EXPECT_EQ(output[0], MuLawCode(-25536));
}

} // namespace
} // namespace sw
