#include "client/MuLaw.h"
#include "client/WavWriter.h"
#include "common/TestSupport.h"
#include "platform/shell/WavFile.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace sw::client {
namespace {

// G.711 decoding written from its segment definition: 14-bit magnitude (2m + 33) * 2^e - 33, scaled by 4.
int ReferenceMuLaw(uint8_t code) {
    const int inverted = (~code) & 0xFF;
    const int sign = inverted & 0x80;
    const int segment = (inverted >> 4) & 7;
    const int step = inverted & 0x0F;
    const int magnitude = ((2 * step + 33) * (1 << segment) - 33) * 4;
    return sign ? -magnitude : magnitude;
}

TEST(MuLawTest, EveryCodeMatchesTheReference) {
    for (int code = 0; code < 256; ++code) {
        ASSERT_EQ(MuLawToLinear(static_cast<uint8_t>(code)), ReferenceMuLaw(static_cast<uint8_t>(code)))
            << code;
    }
    EXPECT_EQ(MuLawToLinear(0xFF), 0);
    EXPECT_EQ(MuLawToLinear(0x00), -32124);
    EXPECT_EQ(MuLawToLinear(0x80), 32124);
}

uint32_t Le32(const std::string& s, size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(s[at])) |
           (static_cast<uint32_t>(static_cast<uint8_t>(s[at + 1])) << 8) |
           (static_cast<uint32_t>(static_cast<uint8_t>(s[at + 2])) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(s[at + 3])) << 24);
}

TEST(WavWriterTest, MuLawFileHasFormatSevenAFactChunkAndAPaddedOddDataChunk) {
    test::TTempDir dir;
    const std::string name = dir.File("a.wav");
    TWavWriter writer(TWavWriter::TEncoding::MuLaw, 8000);
    ASSERT_TRUE(writer.Open(name));
    const std::string bytes = "\x01\x02\x03";
    ASSERT_TRUE(writer.Write(bytes.data(), bytes.size()));
    ASSERT_TRUE(writer.Finish());
    const std::string file = test::ReadFile(name);
    ASSERT_EQ(file.size(), 58u + 4u);
    EXPECT_EQ(file.substr(0, 4), "RIFF");
    EXPECT_EQ(Le32(file, 4), file.size() - 8);
    EXPECT_EQ(file.substr(12, 4), "fmt ");
    EXPECT_EQ(Le32(file, 16), 18u);
    EXPECT_EQ(static_cast<uint8_t>(file[20]), 7);
    EXPECT_EQ(Le32(file, 24), 8000u);
    EXPECT_EQ(file.substr(38, 4), "fact");
    EXPECT_EQ(Le32(file, 46), 3u);
    EXPECT_EQ(file.substr(50, 4), "data");
    EXPECT_EQ(Le32(file, 54), 3u);
    EXPECT_EQ(file.substr(58, 3), bytes);
}

TEST(WavWriterTest, PcmFileReadsBackAsAPlayableWav) {
    test::TTempDir dir;
    const std::string name = dir.File("b.wav");
    TWavWriter writer(TWavWriter::TEncoding::Pcm16, 8000);
    ASSERT_TRUE(writer.Open(name));
    std::vector<int16_t> samples(1000);
    MuLawDecode(std::vector<uint8_t>(1000, 0x80).data(), samples.size(), samples.data());
    ASSERT_TRUE(writer.Write(samples.data(), samples.size() * 2));
    ASSERT_TRUE(writer.Flush());
    const std::string flushed = test::ReadFile(name);
    std::optional<TWavFormat> format =
        ParsePcmWav(reinterpret_cast<const uint8_t*>(flushed.data()), flushed.size(), flushed.size());
    ASSERT_TRUE(format) << "valid after a flush, before the end";
    EXPECT_EQ(format->DataSize, 2000u);
    ASSERT_TRUE(writer.Finish());
    EXPECT_EQ(test::ReadFile(name), flushed);
}

TEST(WavWriterTest, AFileThatCannotBeCreatedIsReported) {
    TWavWriter writer(TWavWriter::TEncoding::MuLaw, 8000);
    EXPECT_FALSE(writer.Open("/nonexistent-folder/x.wav"));
    EXPECT_NE(writer.Error().find("cannot create /nonexistent-folder/x.wav"), std::string::npos);
}

} // namespace
} // namespace sw::client
