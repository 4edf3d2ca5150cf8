#include "platform/shell/WavFile.h"

#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace sw {
namespace {

// Through resize and memcpy: GCC 12 reports false overflows for small inserts into a vector.
void Append(std::vector<uint8_t>& out, const void* data, size_t size) {
    const size_t at = out.size();
    out.resize(at + size);
    std::memcpy(out.data() + at, data, size);
}

void Put16(std::vector<uint8_t>& out, uint16_t v) {
    const uint8_t bytes[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
    Append(out, bytes, 2);
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                              static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
    Append(out, bytes, 4);
}

void Tag(std::vector<uint8_t>& out, const char* tag) {
    Append(out, tag, 4);
}

struct TWavLayout {
    uint16_t Tag = 1;
    uint16_t Channels = 1;
    uint32_t Rate = 8000;
    uint16_t Bits = 16;
    int BlockAlign = -1; // -1: the consistent value
    uint32_t DataBytes = 1600;
    int DeclaredData = -1; // -1: DataBytes
    bool Extensible = false;
    bool PcmSubFormat = true;
    std::vector<std::pair<std::string, uint32_t>> Before; // chunks ahead of "fmt "
};

std::vector<uint8_t> MakeWav(const TWavLayout& layout) {
    std::vector<uint8_t> w;
    Tag(w, "RIFF");
    Put32(w, 0);
    Tag(w, "WAVE");
    for (const auto& [id, size] : layout.Before) {
        Tag(w, id.c_str());
        Put32(w, size);
        w.resize(w.size() + size + (size & 1), 0x20);
    }
    const uint16_t align = layout.BlockAlign >= 0 ? static_cast<uint16_t>(layout.BlockAlign)
                                                  : layout.Channels * (layout.Bits / 8);
    Tag(w, "fmt ");
    Put32(w, layout.Extensible ? 40 : 16);
    Put16(w, layout.Extensible ? 0xFFFE : layout.Tag);
    Put16(w, layout.Channels);
    Put32(w, layout.Rate);
    Put32(w, layout.Rate * align);
    Put16(w, align);
    Put16(w, layout.Bits);
    if (layout.Extensible) {
        Put16(w, 22);
        Put16(w, layout.Bits);
        Put32(w, 0);
        Put16(w, layout.PcmSubFormat ? 1 : 3);
        const uint8_t tail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                  0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
        Append(w, tail, sizeof tail);
    }
    Tag(w, "data");
    Put32(w, layout.DeclaredData >= 0 ? static_cast<uint32_t>(layout.DeclaredData) : layout.DataBytes);
    w.resize(w.size() + layout.DataBytes, 0x11);
    return w;
}

std::optional<TWavFormat> Parse(const std::vector<uint8_t>& w) {
    return ParsePcmWav(w.data(), w.size(), w.size());
}

TEST(WavFileTest, PlainAndExtensiblePcmAreRead) {
    std::vector<uint8_t> plain = MakeWav({});
    std::optional<TWavFormat> format = Parse(plain);
    ASSERT_TRUE(format);
    EXPECT_EQ(format->Channels, 1);
    EXPECT_EQ(format->SamplesPerSec, 8000u);
    EXPECT_EQ(format->BitsPerSample, 16);
    EXPECT_EQ(format->BlockAlign, 2);
    EXPECT_EQ(format->DataOffset, 44u);
    EXPECT_EQ(format->DataSize, 1600u);

    TWavLayout extensible;
    extensible.Extensible = true;
    extensible.Channels = 2;
    extensible.Bits = 24;
    extensible.DataBytes = 600;
    format = Parse(MakeWav(extensible));
    ASSERT_TRUE(format);
    EXPECT_EQ(format->BlockAlign, 6);
    EXPECT_EQ(format->DataOffset, 68u);
}

TEST(WavFileTest, ChunksBeforeTheFormatAreSkippedWithTheirPadByte) {
    TWavLayout layout;
    layout.Before = {{"LIST", 7}, {"junk", 100}};
    std::optional<TWavFormat> format = Parse(MakeWav(layout));
    ASSERT_TRUE(format);
    EXPECT_EQ(format->DataOffset, 12u + 16u + 108u + 24u + 8u);
}

TEST(WavFileTest, DataIsLimitedToTheFileAndToWholeFrames) {
    TWavLayout layout;
    layout.DataBytes = 1001;
    layout.DeclaredData = 1'000'000;
    std::optional<TWavFormat> format = Parse(MakeWav(layout));
    ASSERT_TRUE(format);
    EXPECT_EQ(format->DataSize, 1000u);
}

TEST(WavFileTest, WhatIsNoPlayablePcmWavIsRefused) {
    auto refused = [](TWavLayout layout) { return !Parse(MakeWav(layout)); };
    TWavLayout s;
    s.Tag = 3; // IEEE float
    EXPECT_TRUE(refused(s));
    s = {};
    s.Tag = 7; // mu-law
    EXPECT_TRUE(refused(s));
    s = {};
    s.Extensible = true;
    s.PcmSubFormat = false;
    EXPECT_TRUE(refused(s));
    s = {};
    s.Bits = 12;
    EXPECT_TRUE(refused(s));
    s = {};
    s.Channels = 0;
    EXPECT_TRUE(refused(s));
    s = {};
    s.BlockAlign = 3;
    EXPECT_TRUE(refused(s));
    s = {};
    s.Rate = 0;
    EXPECT_TRUE(refused(s));
    s = {};
    s.DataBytes = 1;
    EXPECT_TRUE(refused(s)) << "no whole frame";

    std::vector<uint8_t> wav = MakeWav({});
    wav[8] = 'X';
    EXPECT_FALSE(Parse(wav));
    EXPECT_FALSE(ParsePcmWav(wav.data(), 11, 11));
    EXPECT_FALSE(ParsePcmWav(nullptr, 0, 0));
    std::vector<uint8_t> noData = MakeWav({});
    noData.resize(36);
    EXPECT_FALSE(Parse(noData));
}

// Random damage to valid headers must never read outside the buffer (run under the sanitizers).
TEST(WavFileTest, DamagedHeadersAreHandledSafely) {
    std::mt19937 random(12345);
    TWavLayout layout;
    layout.Before = {{"LIST", 9}};
    const std::vector<uint8_t> base = MakeWav(layout);
    for (int round = 0; round < 20000; ++round) {
        std::vector<uint8_t> w = base;
        const int edits = 1 + static_cast<int>(random() % 6);
        for (int i = 0; i < edits; ++i) {
            w[random() % 80] = static_cast<uint8_t>(random());
        }
        const size_t length = random() % (w.size() + 1);
        const std::vector<uint8_t> cut(w.begin(), w.begin() + static_cast<std::ptrdiff_t>(length));
        std::optional<TWavFormat> format = ParsePcmWav(cut.data(), cut.size(), cut.size());
        if (format) {
            ASSERT_LE(format->DataOffset + format->DataSize, cut.size());
            ASSERT_EQ(format->DataSize % format->BlockAlign, 0u);
            ASSERT_GT(format->DataSize, 0u);
        }
    }
}

} // namespace
} // namespace sw
