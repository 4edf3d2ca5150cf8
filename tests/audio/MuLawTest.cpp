#include "audio/MuLaw.h"
#include "MuLawReference.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace sw {
namespace {

TEST(MuLawTest, KnownCodes) {
    EXPECT_EQ(MuLawCode(0), 0xFF);
    EXPECT_EQ(MuLawCode(-1), 0x7F);
    EXPECT_EQ(MuLawCode(32767), 0x80);
    EXPECT_EQ(MuLawCode(-32768), 0x00);
}

TEST(MuLawTest, EveryInputMatchesTheReference) {
    int mismatches = 0;
    for (int value = -32768; value <= 32767; ++value) {
        const auto sample = static_cast<int16_t>(value);
        if (MuLawCode(sample) != test::ReferenceMuLaw(sample) && ++mismatches <= 10) {
            ADD_FAILURE() << "value " << value << ": " << int(MuLawCode(sample))
                          << " != " << int(test::ReferenceMuLaw(sample));
        }
    }
    EXPECT_EQ(mismatches, 0);
}

// The decoded code lies within one quantisation step of the input: 8 x 2^segment, at most 256.
TEST(MuLawTest, DecodedCodeIsCloseToTheInput) {
    for (int value = -32635; value <= 32635; ++value) {
        const int decoded = test::MuLawDecode(MuLawCode(static_cast<int16_t>(value)));
        const int magnitude = std::abs(value);
        const int step =
            magnitude < 124 ? 8 : 8 << (31 - __builtin_clz(static_cast<unsigned>(magnitude + 132)) - 7);
        ASSERT_LE(std::abs(decoded - value), step) << value;
    }
}

TEST(MuLawTest, VolumeKeepsTheLow16BitsOfTheProduct) {
    EXPECT_EQ(ApplyVolume(20000, 2), -25536);
    EXPECT_EQ(ApplyVolume(-20000, 2), 25536);
    EXPECT_EQ(ApplyVolume(1000, 1), 1000);
    EXPECT_EQ(ApplyVolume(-32768, 3), -32768);
    EXPECT_EQ(ApplyVolume(12345, 65536), 0);
    EXPECT_EQ(ApplyVolume(3, 2147483647), static_cast<int16_t>(0xFFFD));
}

} // namespace
} // namespace sw
