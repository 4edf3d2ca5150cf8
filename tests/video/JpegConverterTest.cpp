#include "video/JpegConverter.h"

#include "platform/capture/TestPatternDriver.h"
#include "video/JpegDecode.h"
#include "video/VideoImageStream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace sw {
namespace {

// A bitmap loaded from a test pattern frame, as the video thread loads it.
TBitmap PatternBitmap(int32_t width, int32_t height, int pattern = TTestPatternDriver::StillBars) {
    const TBitmapInfoHeader info = TTestPatternDriver::FormatOf(width, height, kFourCcUyvy);
    const TVideoFormatBuffer format = VideoFormatOf(info);
    std::vector<uint8_t> bytes(FrameBytesOf(info));
    TTestPatternDriver::Render(info, pattern, 42, bytes.data());
    TVideoHdr header;
    header.lpData = bytes.data();
    header.dwBufferLength = header.dwBytesUsed = static_cast<uint32_t>(bytes.size());
    TVideoImageStream stream(format);
    stream.SetFrame(&header);
    stream.Seek(0, TStream::soBeginning);
    TBitmap bitmap;
    std::string error;
    EXPECT_TRUE(bitmap.LoadFromStream(stream, error)) << error;
    return bitmap;
}

test::TDecodedJpeg Decode(const TMemoryStream& stream) {
    return test::DecodeJpeg(stream.Memory(), stream.StreamSize());
}

// Runs a test with TurboJPEG loaded or not, and puts the library back as the program has it.
class JpegConverterTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        WasLoaded = IjlAvailable();
        if (GetParam()) {
            if (!LoadIjl()) {
                GTEST_SKIP() << kIjlLibraryName << " is not installed";
            }
        } else {
            UnloadIjl();
        }
    }
    void TearDown() override {
        UnloadIjl();
        if (WasLoaded) {
            LoadIjl();
        }
    }
    bool WasLoaded = false;
};

TEST_P(JpegConverterTest, DecodesBackToTheSourceUprightAtEveryQuality) {
    const TBitmap source = PatternBitmap(640, 480);
    TJpegConverter converter;
    size_t previousSize = 0;
    for (const int quality : {1, 75, 100}) {
        TMemoryStream jpeg;
        converter.Quality = quality;
        ASSERT_TRUE(converter.Convert(source, jpeg)) << converter.ErrorText();
        EXPECT_EQ(converter.LastUsedIjl(), GetParam());
        const test::TDecodedJpeg decoded = Decode(jpeg);
        ASSERT_TRUE(decoded.Ok) << decoded.Error;
        EXPECT_EQ(decoded.Width, 640);
        EXPECT_EQ(decoded.Height, 480);
        EXPECT_EQ(decoded.Components, 3) << "a colour JPEG";
        EXPECT_FALSE(decoded.Progressive);
        EXPECT_GT(jpeg.StreamSize(), previousSize) << "quality " << quality;
        previousSize = jpeg.StreamSize();
        if (quality >= 75) {
            EXPECT_GT(test::Psnr(decoded, source), 30.0) << "quality " << quality;
        }
        EXPECT_EQ(jpeg.Position(), static_cast<int32_t>(jpeg.StreamSize()));
    }
}

TEST_P(JpegConverterTest, GreyPicturesBecomeColourJpegsOfTheSameGrey) {
    TBitmap grey;
    ASSERT_TRUE(grey.SetSize(322, 100, 8));
    for (int y = 0; y < grey.Height(); ++y) {
        for (int x = 0; x < grey.Width(); ++x) {
            // Top half a ramp, bottom half flat, so an upside-down picture would show.
            grey.ScanLine(y)[x] = static_cast<uint8_t>(y < 50 ? x * 255 / 321 : 30);
        }
    }
    TJpegConverter converter;
    TMemoryStream jpeg;
    ASSERT_TRUE(converter.Convert(grey, jpeg)) << converter.ErrorText();
    const test::TDecodedJpeg decoded = Decode(jpeg);
    ASSERT_TRUE(decoded.Ok) << decoded.Error;
    EXPECT_EQ(decoded.Components, 3);
    EXPECT_GT(test::Psnr(decoded, grey), 35.0);
}

TEST_P(JpegConverterTest, AnotherStreamGetsTheJpegAtItsPosition) {
    class TVectorStream : public TStream {
    public:
        std::string Bytes;
        int32_t At = 0;
        int32_t Read(void*, int32_t) override { return 0; }
        int32_t Write(const void* buffer, int32_t count) override {
            Bytes.resize(std::max(Bytes.size(), static_cast<size_t>(At + count)));
            std::memcpy(Bytes.data() + At, buffer, static_cast<size_t>(count));
            At += count;
            return count;
        }
        int32_t Seek(int32_t offset, uint16_t origin) override {
            At = origin == soBeginning ? offset
                 : origin == soCurrent ? At + offset
                                       : static_cast<int32_t>(Bytes.size()) + offset;
            return At;
        }
    };
    const TBitmap source = PatternBitmap(160, 120);
    TJpegConverter converter;
    TMemoryStream plain;
    ASSERT_TRUE(converter.Convert(source, plain));
    TVectorStream other;
    other.Write("prefix", 6);
    ASSERT_TRUE(converter.Convert(source, other)) << converter.ErrorText();
    ASSERT_EQ(other.Bytes.size(), 6 + plain.StreamSize());
    EXPECT_EQ(other.Bytes.substr(0, 6), "prefix");
    EXPECT_EQ(std::memcmp(other.Bytes.data() + 6, plain.Memory(), plain.StreamSize()), 0);
}

TEST_P(JpegConverterTest, AFailedEncodeSaysWhyAndLeavesNoPicture) {
    TBitmap tooWide;
    // Wider than any JPEG may be.
    ASSERT_TRUE(tooWide.SetSize(70000, 2, 24));
    TJpegConverter converter;
    TMemoryStream jpeg;
    EXPECT_FALSE(converter.Convert(tooWide, jpeg));
    EXPECT_FALSE(converter.ErrorText().empty());
    EXPECT_FALSE(test::DecodeJpeg(jpeg.Memory(), jpeg.StreamSize()).Ok);
    // The converter stays usable.
    const TBitmap source = PatternBitmap(160, 120);
    jpeg.Clear();
    ASSERT_TRUE(converter.Convert(source, jpeg)) << converter.ErrorText();
    EXPECT_TRUE(Decode(jpeg).Ok);

    TBitmap empty;
    EXPECT_FALSE(converter.Convert(empty, jpeg));
    EXPECT_FALSE(converter.ErrorText().empty());
}

INSTANTIATE_TEST_SUITE_P(Encoders, JpegConverterTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& param) {
                             return param.param ? std::string("TurboJpeg") : std::string("Libjpeg");
                         });

class JpegLibraryStateTest : public ::testing::Test {
protected:
    void TearDown() override {
        SetIjlLibraryName("");
        UnloadIjl();
        if (WasLoaded) {
            LoadIjl();
        }
    }
    bool WasLoaded = IjlAvailable();
};

TEST_F(JpegLibraryStateTest, BothEncodersMakeTheSamePicture) {
    if (!LoadIjl()) {
        GTEST_SKIP() << kIjlLibraryName << " is not installed";
    }
    const TBitmap source = PatternBitmap(640, 480, TTestPatternDriver::GreyRamp);
    TJpegConverter converter;
    TMemoryStream turbo;
    ASSERT_TRUE(converter.Convert(source, turbo));
    ASSERT_TRUE(converter.LastUsedIjl());
    UnloadIjl();
    TMemoryStream builtIn;
    ASSERT_TRUE(converter.Convert(source, builtIn)) << "a converter made with TurboJPEG goes on without it";
    ASSERT_FALSE(converter.LastUsedIjl());
    const test::TDecodedJpeg a = Decode(turbo);
    const test::TDecodedJpeg b = Decode(builtIn);
    ASSERT_TRUE(a.Ok && b.Ok);
    EXPECT_GT(test::Psnr(a, b), 45.0);
    EXPECT_GT(test::Psnr(a, source), 30.0);
}

TEST_F(JpegLibraryStateTest, AvailableExactlyWhileLoaded) {
    UnloadIjl();
    EXPECT_FALSE(IjlAvailable());
    EXPECT_EQ(IjlLibraryPath(), "");
    SetIjlLibraryName("libstreamwright-no-such-library.so.0");
    EXPECT_FALSE(LoadIjl());
    EXPECT_FALSE(IjlAvailable());
    TJpegConverter converter;
    TMemoryStream jpeg;
    ASSERT_TRUE(converter.Convert(PatternBitmap(160, 120), jpeg));
    EXPECT_FALSE(converter.LastUsedIjl());
    EXPECT_TRUE(Decode(jpeg).Ok);

    // A library without the compressor's entry points counts as absent.
    SetIjlLibraryName("libjpeg.so.62");
    EXPECT_FALSE(LoadIjl());
    EXPECT_FALSE(IjlAvailable());

    SetIjlLibraryName("");
    if (LoadIjl()) {
        EXPECT_TRUE(IjlAvailable());
        EXPECT_NE(IjlLibraryPath().find("turbojpeg"), std::string::npos) << IjlLibraryPath();
        EXPECT_TRUE(LoadIjl()) << "loading twice keeps the one library";
        UnloadIjl();
        EXPECT_FALSE(IjlAvailable());
    }
}

} // namespace
} // namespace sw
