#include "video/VideoImageStream.h"

#include "video/YuvReference.h"
#include "video/YuvRows.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace sw {
namespace {

using test::MatchesReference;
using test::ReferenceComponent;
using test::ReferencePixelByte;

struct TFrame {
    TVideoFormatBuffer Format{};
    std::vector<uint8_t> Bytes;
    TVideoHdr Header;

    TFrame(uint32_t compression, int32_t width, int32_t height, uint16_t bitCount = 16) {
        TBitmapInfoHeader info{};
        info.biSize = 40;
        info.biWidth = width;
        info.biHeight = height;
        info.biPlanes = 1;
        info.biBitCount = bitCount;
        info.biCompression = compression;
        info.biXPelsPerMeter = 11;
        info.biYPelsPerMeter = 22;
        info.biSizeImage = FrameBytesOf(info);
        Format = VideoFormatOf(info);
        Bytes.assign(FrameBytesOf(info), 0);
        Attach();
    }
    void Attach() {
        Header.lpData = Bytes.data();
        Header.dwBufferLength = static_cast<uint32_t>(Bytes.size());
        Header.dwBytesUsed = static_cast<uint32_t>(Bytes.size());
    }
    TBitmapInfoHeader Info() const { return InfoHeaderOf(Format.data()); }
};

std::vector<uint8_t> ReadAll(TVideoImageStream& stream) {
    std::vector<uint8_t> bytes(stream.FileSize() + 100, 0xEE);
    stream.Seek(0, TStream::soBeginning);
    int32_t n = stream.Read(bytes.data(), static_cast<int32_t>(bytes.size()));
    bytes.resize(static_cast<size_t>(n));
    return bytes;
}

uint32_t Le32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void SetUyvyPixel(TFrame& frame, int x, int sourceRow, uint8_t y, uint8_t u, uint8_t v) {
    size_t p = static_cast<size_t>(sourceRow * frame.Info().biWidth + x);
    size_t pair = p & ~size_t{1};
    frame.Bytes[2 * pair] = u;
    frame.Bytes[2 * pair + 2] = v;
    frame.Bytes[2 * p + 1] = y;
}

class VideoImageStreamTest : public ::testing::TestWithParam<TYuvKernel> {
protected:
    void SetUp() override {
        if (!YuvKernelSupported(GetParam())) {
            GTEST_SKIP() << "kernel not supported on this processor";
        }
        SetYuvKernel(GetParam());
    }
    void TearDown() override { SetYuvKernel(BestYuvKernel()); }
};

TEST_P(VideoImageStreamTest, RawFramePassesUnchanged) {
    TFrame frame(kBiRgb, 320, 240, 24);
    ASSERT_EQ(frame.Bytes.size(), 230400u);
    for (size_t i = 0; i < frame.Bytes.size(); ++i) {
        frame.Bytes[i] = static_cast<uint8_t>(i * 7);
    }
    TVideoImageStream stream(frame.Format);
    stream.SetFrame(&frame.Header);
    std::vector<uint8_t> file = ReadAll(stream);
    ASSERT_EQ(file.size(), 230454u);
    EXPECT_EQ(Le32(&file[2]), 230454u);
    EXPECT_EQ(std::memcmp(&file[14], frame.Format.data(), 40), 0);
    EXPECT_EQ(std::memcmp(&file[54], frame.Bytes.data(), frame.Bytes.size()), 0);
}

TEST_P(VideoImageStreamTest, UyvyHeadersAndSpecialPixels) {
    TFrame frame(kFourCcUyvy, 320, 240);
    SetUyvyPixel(frame, 0, 239, 16, 128, 128);  // presented row 0, pixel 0
    SetUyvyPixel(frame, 1, 239, 235, 128, 128); // same pair, so same U and V
    SetUyvyPixel(frame, 2, 239, 255, 255, 255);
    SetUyvyPixel(frame, 3, 239, 255, 255, 255);
    TVideoImageStream stream(frame.Format);
    stream.SetFrame(&frame.Header);
    std::vector<uint8_t> file = ReadAll(stream);
    ASSERT_EQ(file.size(), 230454u);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(Le32(&file[2]), 230454u);
    EXPECT_EQ(Le32(&file[6]), 0u);
    EXPECT_EQ(Le32(&file[10]), 54u);
    TBitmapInfoHeader info;
    std::memcpy(&info, &file[14], 40);
    EXPECT_EQ(info.biBitCount, 24);
    EXPECT_EQ(info.biCompression, 0u);
    EXPECT_EQ(info.biSizeImage, 230400u);
    EXPECT_EQ(info.biWidth, 320);
    EXPECT_EQ(info.biHeight, 240);
    EXPECT_EQ(info.biXPelsPerMeter, 11);
    EXPECT_EQ(info.biYPelsPerMeter, 22);
    const uint8_t* pixels = &file[54];
    EXPECT_EQ(std::vector<int>(pixels, pixels + 3), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(std::vector<int>(pixels + 3, pixels + 6), (std::vector<int>{254, 254, 254}));
    EXPECT_EQ(std::vector<int>(pixels + 6, pixels + 9), (std::vector<int>{255, 125, 255}));
}

TEST_P(VideoImageStreamTest, OddWidthRowsArePadded) {
    TFrame frame(kFourCcUyvy, 322, 4);
    std::fill(frame.Bytes.begin(), frame.Bytes.end(), 200);
    TVideoImageStream stream(frame.Format);
    stream.SetFrame(&frame.Header);
    EXPECT_EQ(stream.InfoHeader().biSizeImage, 968u * 4);
    std::vector<uint8_t> file = ReadAll(stream);
    ASSERT_EQ(file.size(), 54u + 968 * 4);
    for (int row = 0; row < 4; ++row) {
        const uint8_t* end = &file[54 + 968 * row + 966];
        EXPECT_EQ(end[0], 0);
        EXPECT_EQ(end[1], 0);
        EXPECT_NE(end[-1], 0);
    }
}

TEST_P(VideoImageStreamTest, ReadsFromAnyPosition) {
    TFrame frame(kFourCcUyvy, 320, 240);
    std::mt19937 random(7);
    for (uint8_t& b : frame.Bytes) {
        b = static_cast<uint8_t>(random());
    }
    TVideoImageStream stream(frame.Format);
    stream.SetFrame(&frame.Header);

    std::vector<uint8_t> header(20, 0xEE);
    stream.Seek(0, TStream::soBeginning);
    EXPECT_EQ(stream.Read(header.data(), 14), 14);
    EXPECT_EQ(stream.Position(), 14);
    EXPECT_EQ(std::memcmp(header.data(), stream.FileHeader().data(), 14), 0);
    EXPECT_EQ(header[14], 0xEE);

    // Position 61 is byte 7 of the pixel area: the green byte of the third pixel of presented row 0,
    // which comes from the last source row.
    uint8_t byte = 0;
    EXPECT_EQ(stream.Seek(61, TStream::soBeginning), 61);
    EXPECT_EQ(stream.Read(&byte, 1), 1);
    size_t p = 239 * 320 + 2;
    uint8_t expected[3];
    YuvToBgr(frame.Bytes[2 * p + 1], frame.Bytes[2 * p], frame.Bytes[2 * p + 2], expected);
    EXPECT_EQ(byte, expected[1]);
    EXPECT_TRUE(MatchesReference(byte, ReferencePixelByte(frame.Info(), frame.Bytes, 7)));
}

TEST_P(VideoImageStreamTest, UnsupportedFormatPresentsHeadersOnly) {
    TFrame frame(kFourCcYuy2, 320, 240);
    TVideoImageStream stream(frame.Format);
    stream.SetFrame(&frame.Header);
    EXPECT_EQ(stream.FileSize(), 54u);
    EXPECT_EQ(ReadAll(stream).size(), 54u);
    EXPECT_EQ(stream.InfoHeader().biCompression, kFourCcYuy2);
}

TEST_P(VideoImageStreamTest, SeekWriteAndBounds) {
    TFrame frame(kFourCcUyvy, 8, 2);
    TVideoImageStream stream(frame.Format);
    EXPECT_EQ(stream.FileSize(), 54u);
    stream.SetFrame(&frame.Header);
    EXPECT_EQ(stream.Position(), 0);
    EXPECT_EQ(stream.Size(), 54 + 24 * 2);
    EXPECT_EQ(stream.Seek(10, TStream::soBeginning), 10);
    EXPECT_EQ(stream.Seek(-4, TStream::soCurrent), 6);
    EXPECT_EQ(stream.Seek(-2, TStream::soEnd), 100);
    EXPECT_EQ(stream.Seek(5, 7), 100);
    uint8_t buffer[64];
    EXPECT_EQ(stream.Read(buffer, 64), 2);
    EXPECT_EQ(stream.Read(buffer, 64), 0);
    stream.Seek(500, TStream::soBeginning);
    EXPECT_EQ(stream.Read(buffer, 64), 0);
    stream.Seek(-1, TStream::soBeginning);
    EXPECT_EQ(stream.Read(buffer, 64), 0);
    stream.Seek(0, TStream::soBeginning);
    EXPECT_EQ(stream.Read(buffer, -1), 0);
    EXPECT_EQ(stream.Write(buffer, 10), 0);
}

// Mended fault: a frame shorter than its format would be read past its end; it presents the headers
// alone instead, so loading it fails and nothing of another buffer is ever shown.
TEST_P(VideoImageStreamTest, ShortFramePresentsNoPixels) {
    for (uint32_t compression : {kFourCcUyvy, kFourCcYv12, kFourCcYvu9}) {
        TFrame frame(compression, 64, 48);
        frame.Header.dwBytesUsed -= 1;
        TVideoImageStream stream(frame.Format);
        stream.SetFrame(&frame.Header);
        EXPECT_EQ(ReadAll(stream).size(), 54u) << compression;
        frame.Header.dwBytesUsed = frame.Header.dwBufferLength + 1000;
        stream.SetFrame(&frame.Header);
        EXPECT_EQ(ReadAll(stream).size(), 54u + 64 * 3 * 48) << compression;
    }
    TFrame raw(kBiRgb, 4, 4, 24);
    raw.Header.dwBytesUsed = raw.Header.dwBufferLength * 2;
    TVideoImageStream stream(raw.Format);
    stream.SetFrame(&raw.Header);
    EXPECT_EQ(stream.FileSize(), 54u + raw.Bytes.size());
    stream.SetFrame(nullptr);
    EXPECT_EQ(stream.FileSize(), 54u);
}

struct TGeometry {
    uint32_t Compression;
    int32_t Width;
    int32_t Height;
};

// The fast path against the literal definition on random frames, every byte, with reads split at
// random points so rows are entered in the middle and served in pieces.
TEST_P(VideoImageStreamTest, FastPathMatchesDefinition) {
    const TGeometry geometries[] = {
        {kFourCcUyvy, 1, 1},   {kFourCcUyvy, 3, 3},     {kFourCcUyvy, 17, 5}, {kFourCcUyvy, 33, 7},
        {kFourCcUyvy, 322, 6}, {kFourCcUyvy, 160, 120}, {kFourCcYv12, 1, 1},  {kFourCcYv12, 5, 3},
        {kFourCcYv12, 35, 9},  {kFourCcYv12, 176, 144}, {kFourCcYvu9, 2, 2},  {kFourCcYvu9, 7, 9},
        {kFourCcYvu9, 37, 13}, {kFourCcYvu9, 160, 120}, {kFourCcYvu9, 66, 4}, {kFourCcUyvy, 640, 2},
    };
    std::mt19937 random(12345);
    for (const TGeometry& g : geometries) {
        TFrame frame(g.Compression, g.Width, g.Height);
        for (uint8_t& b : frame.Bytes) {
            b = static_cast<uint8_t>(random());
        }
        TVideoImageStream stream(frame.Format);
        stream.SetFrame(&frame.Header);
        uint32_t size = stream.FileSize();
        uint32_t stride = (static_cast<uint32_t>(g.Width) * 3 + 3) & ~3u;
        ASSERT_EQ(size, 54u + stride * static_cast<uint32_t>(g.Height));
        for (int split = 0; split < 3; ++split) {
            std::vector<uint8_t> file;
            stream.Seek(0, TStream::soBeginning);
            while (file.size() < size) {
                int32_t piece = split == 0   ? static_cast<int32_t>(size)
                                : split == 1 ? static_cast<int32_t>(random() % 7 + 1)
                                             : static_cast<int32_t>(random() % (2 * stride) + 1);
                std::vector<uint8_t> buffer(static_cast<size_t>(piece));
                int32_t n = stream.Read(buffer.data(), piece);
                ASSERT_GT(n, 0);
                file.insert(file.end(), buffer.begin(), buffer.begin() + n);
            }
            ASSERT_EQ(file.size(), size);
            for (uint32_t o = 0; o + 54 < size; ++o) {
                ASSERT_TRUE(MatchesReference(file[54 + o], ReferencePixelByte(frame.Info(), frame.Bytes, o)))
                    << "format " << g.Compression << " " << g.Width << "x" << g.Height << " byte " << o
                    << " split " << split;
            }
        }
        // Single bytes read backwards from the end.
        for (uint32_t o = size - 55, count = 0; count < 200 && o < size; --o, ++count) {
            uint8_t byte = 0;
            stream.Seek(static_cast<int32_t>(54 + o), TStream::soBeginning);
            ASSERT_EQ(stream.Read(&byte, 1), 1);
            ASSERT_TRUE(MatchesReference(byte, ReferencePixelByte(frame.Info(), frame.Bytes, o)));
        }
    }
}

// Every Y, U, V combination through the row kernel against the definition.
TEST_P(VideoImageStreamTest, KernelMatchesDefinitionForAllValues) {
    std::vector<uint8_t> row(512);
    std::vector<uint8_t> bgr(256 * 3);
    int onInteger = 0;
    for (int u = 0; u < 256; ++u) {
        for (int v = 0; v < 256; ++v) {
            for (int i = 0; i < 128; ++i) {
                row[4 * i] = static_cast<uint8_t>(u);
                row[4 * i + 1] = static_cast<uint8_t>(2 * i);
                row[4 * i + 2] = static_cast<uint8_t>(v);
                row[4 * i + 3] = static_cast<uint8_t>(2 * i + 1);
            }
            UyvyPixelsToBgr(row.data(), row.size(), 0, 256, bgr.data());
            for (int y = 0; y < 256; ++y) {
                for (int c = 0; c < 3; ++c) {
                    test::TReferenceByte reference = ReferenceComponent(c, y, u, v);
                    uint8_t produced = bgr[static_cast<size_t>(3 * y + c)];
                    if (produced != reference.Value) {
                        ++onInteger;
                    }
                    ASSERT_TRUE(MatchesReference(produced, reference))
                        << "y " << y << " u " << u << " v " << v << " component " << c;
                }
            }
        }
    }
    RecordProperty("OneOffOnInteger", onInteger);
}

std::string KernelName(const ::testing::TestParamInfo<TYuvKernel>& info) {
    return YuvKernelName(info.param);
}

INSTANTIATE_TEST_SUITE_P(Kernels, VideoImageStreamTest,
                         ::testing::Values(TYuvKernel::Scalar, TYuvKernel::Ssse3, TYuvKernel::Avx2,
                                           TYuvKernel::Avx512),
                         KernelName);

} // namespace
} // namespace sw
