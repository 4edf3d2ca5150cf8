#include "video/Bitmap.h"

#include "platform/capture/TestPatternDriver.h"
#include "video/MemoryStream.h"
#include "video/VideoImageStream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace sw {
namespace {

// A BMP file built byte by byte.
std::vector<uint8_t> BmpFile(int32_t width, int32_t height, uint16_t bits, uint32_t compression,
                             const std::vector<uint8_t>& pixels, uint32_t offBits = 54) {
    std::vector<uint8_t> file(offBits, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            file[at + i] = static_cast<uint8_t>(v >> (8 * i));
        }
    };
    file[0] = 'B';
    file[1] = 'M';
    put32(2, static_cast<uint32_t>(offBits + pixels.size()));
    put32(10, offBits);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(width));
    put32(22, static_cast<uint32_t>(height));
    file[26] = 1;
    file[28] = static_cast<uint8_t>(bits);
    put32(30, compression);
    file.insert(file.end(), pixels.begin(), pixels.end());
    return file;
}

bool Load(TBitmap& bitmap, const std::vector<uint8_t>& file, std::string& error) {
    TMemoryStream stream;
    stream.Write(file.data(), static_cast<int32_t>(file.size()));
    stream.Seek(0, TStream::soBeginning);
    return bitmap.LoadFromStream(stream, error);
}

TEST(BitmapTest, LoadsThePresentedFrameAsItsPixelArea) {
    const TBitmapInfoHeader info = TTestPatternDriver::FormatOf(322, 240, kFourCcUyvy);
    const TVideoFormatBuffer format = VideoFormatOf(info);
    std::vector<uint8_t> bytes(FrameBytesOf(info));
    TTestPatternDriver::Render(info, TTestPatternDriver::MovingBars, 3, bytes.data());
    TVideoHdr header;
    header.lpData = bytes.data();
    header.dwBufferLength = header.dwBytesUsed = static_cast<uint32_t>(bytes.size());
    TVideoImageStream stream(format);
    stream.SetFrame(&header);
    std::vector<uint8_t> file(stream.FileSize());
    stream.Seek(0, TStream::soBeginning);
    ASSERT_EQ(stream.Read(file.data(), static_cast<int32_t>(file.size())), static_cast<int32_t>(file.size()));

    stream.Seek(0, TStream::soBeginning);
    TBitmap bitmap;
    std::string error;
    ASSERT_TRUE(bitmap.LoadFromStream(stream, error)) << error;
    EXPECT_EQ(bitmap.Width(), 322);
    EXPECT_EQ(bitmap.Height(), 240);
    EXPECT_EQ(bitmap.BitsPerPixel(), 24);
    EXPECT_EQ(bitmap.Stride(), 968u);
    ASSERT_EQ(bitmap.ImageBytes(), file.size() - 54);
    EXPECT_EQ(std::memcmp(bitmap.Bits(), file.data() + 54, bitmap.ImageBytes()), 0);
    // Row 0 of the picture is the last row of the file.
    EXPECT_EQ(std::memcmp(bitmap.ScanLine(0), file.data() + 54 + 239 * 968, 968), 0);
}

TEST(BitmapTest, TopDownAndGreyFiles) {
    // Two rows of two 24-bit pixels, padded to 8 bytes; the first row in the file is the top here.
    const std::vector<uint8_t> rows = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};
    TBitmap bitmap;
    std::string error;
    ASSERT_TRUE(Load(bitmap, BmpFile(2, -2, 24, 0, rows), error)) << error;
    EXPECT_EQ(bitmap.ScanLine(0)[0], 1);
    EXPECT_EQ(bitmap.ScanLine(1)[0], 7);
    ASSERT_TRUE(Load(bitmap, BmpFile(2, 2, 24, 0, rows), error)) << error;
    EXPECT_EQ(bitmap.ScanLine(0)[0], 7);

    // An 8-bit file with a colour table between the headers and the pixels.
    std::vector<uint8_t> grey = {10, 20, 30, 0, 40, 50, 60, 0};
    ASSERT_TRUE(Load(bitmap, BmpFile(3, 2, 8, 0, grey, 54 + 1024), error)) << error;
    EXPECT_EQ(bitmap.BitsPerPixel(), 8);
    EXPECT_EQ(bitmap.Stride(), 4u);
    EXPECT_EQ(bitmap.ScanLine(1)[2], 30);
}

TEST(BitmapTest, WhatCannotBeLoadedSaysWhyAndLeavesItEmpty) {
    const std::vector<uint8_t> pixels(64, 0);
    struct TCase {
        std::vector<uint8_t> File;
        std::string Reason;
    };
    std::vector<uint8_t> notBmp = BmpFile(2, 2, 24, 0, pixels);
    notBmp[0] = 'X';
    const std::vector<uint8_t> good = BmpFile(2, 2, 24, 0, pixels);
    std::vector<uint8_t> overlapping = good;
    overlapping[10] = 20;
    const std::vector<TCase> cases = {
        {BmpFile(2, 2, 16, 0, pixels), "16 bits per pixel"},
        {BmpFile(2, 2, 24, kFourCcYuy2, pixels), "compression"},
        {BmpFile(0, 2, 24, 0, pixels), "size"},
        {BmpFile(2, 0, 24, 0, pixels), "size"},
        {BmpFile(100000, 100000, 24, 0, pixels), "size"},
        {BmpFile(8, 8, 24, 0, pixels), "incomplete"},
        {notBmp, "not a bitmap"},
        {overlapping, "overlap"},
        {std::vector<uint8_t>(good.begin(), good.begin() + 20), "information header"},
        {std::vector<uint8_t>(good.begin(), good.begin() + 10), "file header"},
    };
    for (const TCase& c : cases) {
        TBitmap bitmap;
        ASSERT_TRUE(bitmap.SetSize(4, 4, 24));
        std::string error;
        EXPECT_FALSE(Load(bitmap, c.File, error)) << c.Reason;
        EXPECT_NE(error.find(c.Reason), std::string::npos) << error;
        EXPECT_TRUE(bitmap.Empty());
    }
}

TEST(MemoryStreamTest, EmptyingKeepsTheMemoryAndWritesLandAtThePosition) {
    TMemoryStream stream;
    std::vector<uint8_t> data(100000, 7);
    ASSERT_EQ(stream.Write(data.data(), 100000), 100000);
    const uint8_t* memory = stream.Memory();
    stream.Clear();
    EXPECT_EQ(stream.StreamSize(), 0u);
    ASSERT_EQ(stream.Write(data.data(), 50000), 50000);
    EXPECT_EQ(stream.Memory(), memory) << "no new allocation for a smaller picture";

    stream.Clear();
    stream.Write("abc", 3);
    stream.Seek(6, TStream::soBeginning);
    stream.Write("x", 1);
    ASSERT_EQ(stream.StreamSize(), 7u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(stream.Memory()), 7), std::string("abc\0\0\0x", 7));
}

} // namespace
} // namespace sw
