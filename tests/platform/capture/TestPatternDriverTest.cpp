#include "platform/capture/TestPatternDriver.h"

#include "platform/capture/CaptureDriverTable.h"
#include "platform/capture/ScriptedPrompts.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

namespace sw {
namespace {

class TestPatternDriverTest : public ::testing::Test {
protected:
    void TearDown() override { TestPatternFaults().Reset(); }

    static std::vector<uint8_t> Grab(TTestPatternDriver& driver, TVideoHdr* seen = nullptr) {
        std::vector<uint8_t> bytes;
        TCaptureError error;
        EXPECT_TRUE(driver.TakeFrame(
            [&](TVideoHdr& header) {
                bytes.assign(header.lpData, header.lpData + header.dwBytesUsed);
                if (seen) {
                    *seen = header;
                }
            },
            error));
        return bytes;
    }
};

TEST_F(TestPatternDriverTest, OffersItsFormatsAndSizes) {
    TTestPatternDriver driver(3);
    TBitmapInfoHeader format{};
    ASSERT_TRUE(driver.GetFormat(format));
    EXPECT_EQ(format.biWidth, 640);
    EXPECT_EQ(format.biHeight, 480);
    EXPECT_EQ(format.biCompression, kFourCcUyvy);
    TCaptureParms parms{};
    ASSERT_TRUE(driver.GetSetup(parms));
    EXPECT_EQ(parms.dwRequestMicroSecPerFrame, 33333u);
    TCapDriverCaps caps{};
    ASSERT_TRUE(driver.GetCaps(caps));
    EXPECT_EQ(caps.wDeviceIndex, 3u);
    EXPECT_EQ(caps.fHasDlgVideoFormat, 1);
    EXPECT_EQ(caps.fHasDlgVideoSource, 1);
    EXPECT_EQ(caps.fHasDlgVideoDisplay, 0);

    const uint32_t expectedBytes[] = {2 * 160 * 120, 160 * 120 + 2 * 80 * 60, 160 * 120 + 2 * 40 * 30,
                                      160 * 3 * 120};
    for (size_t i = 0; i < TTestPatternDriver::Compressions().size(); ++i) {
        uint32_t compression = TTestPatternDriver::Compressions()[i];
        ASSERT_TRUE(driver.SetFormat(160, 120, compression));
        TVideoHdr header;
        std::vector<uint8_t> frame = Grab(driver, &header);
        EXPECT_EQ(frame.size(), expectedBytes[i]) << compression;
        EXPECT_EQ(header.dwBufferLength, expectedBytes[i]);
        EXPECT_EQ(header.dwFlags & VHDR_DONE, VHDR_DONE);
        ASSERT_TRUE(driver.GetFormat(format));
        EXPECT_EQ(format.biSizeImage, expectedBytes[i]);
    }
    EXPECT_TRUE(driver.SetFormat(1920, 1080, kFourCcYv12));
    EXPECT_FALSE(driver.SetFormat(100, 100, kFourCcUyvy));
    EXPECT_FALSE(driver.SetFormat(640, 480, kFourCcYuy2));
    ASSERT_TRUE(driver.GetFormat(format));
    EXPECT_EQ(format.biWidth, 1920);
}

TEST_F(TestPatternDriverTest, AppliesAnyEvenSizeAndRateWithinItsBounds) {
    struct TCase {
        TCaptureFormat Request;
        TCaptureFormat Applied;
        bool Exact;
    };
    const uint32_t uyvy = kFourCcUyvy;
    const uint32_t bgr = FourCc('B', 'G', 'R', '3');
    const TCase cases[] = {
        {{1280, 720, 15, 0}, {1280, 720, 15, uyvy}, true},
        {{162, 122, 60, 0}, {162, 122, 60, uyvy}, true},
        {{1920, 1080, 1, kFourCcYv12}, {1920, 1080, 1, kFourCcYv12}, true},
        {{800, 600, 0, bgr}, {800, 600, 30, bgr}, true},
        // The nearest it offers: rounded down to even, into the bounds, at most 60 fps.
        {{1001, 701, 0, 0}, {1000, 700, 30, uyvy}, false},
        {{4000, 3000, 100, 0}, {1920, 1080, 60, uyvy}, false},
        {{100, 50, 0, 0}, {160, 120, 30, uyvy}, false},
        {{0, 0, 0, kFourCcYuy2}, {640, 480, 30, uyvy}, false},
        {{0, 0, 24, 0}, {640, 480, 24, uyvy}, true},
    };
    for (const TCase& c : cases) {
        TTestPatternDriver driver(0);
        TCaptureFormat applied;
        EXPECT_EQ(driver.ApplyFormat(c.Request, applied), c.Exact) << DescribeCaptureFormat(c.Request);
        EXPECT_EQ(applied.Width, c.Applied.Width) << DescribeCaptureFormat(c.Request);
        EXPECT_EQ(applied.Height, c.Applied.Height) << DescribeCaptureFormat(c.Request);
        EXPECT_EQ(applied.FrameRate, c.Applied.FrameRate) << DescribeCaptureFormat(c.Request);
        EXPECT_EQ(applied.PixelFormat, c.Applied.PixelFormat) << DescribeCaptureFormat(c.Request);
        TBitmapInfoHeader format{};
        ASSERT_TRUE(driver.GetFormat(format));
        EXPECT_EQ(format.biWidth, static_cast<int32_t>(c.Applied.Width));
        EXPECT_EQ(FrameBytesOf(format), Grab(driver).size()) << "frames follow the new size";
    }
    TTestPatternDriver driver(0);
    TCaptureFormat applied;
    driver.ApplyFormat({0, 0, 15, 0}, applied);
    TCaptureParms parms{};
    ASSERT_TRUE(driver.GetSetup(parms));
    EXPECT_EQ(parms.dwRequestMicroSecPerFrame, 66666u) << "the rate paces the frames";
    EXPECT_FALSE(driver.SetFormat(641, 480, kFourCcUyvy)) << "odd sizes are not offered";
    EXPECT_NE(driver.OfferedFormats().at(0).find("160 x 120 to 1920 x 1080"), std::string::npos);
}

TEST_F(TestPatternDriverTest, FramesDependOnlyOnTheirNumber) {
    for (uint32_t compression : TTestPatternDriver::Compressions()) {
        TBitmapInfoHeader format = TTestPatternDriver::FormatOf(320, 240, compression);
        std::vector<uint8_t> a(format.biSizeImage), b(format.biSizeImage), c(format.biSizeImage);
        TTestPatternDriver::Render(format, TTestPatternDriver::MovingBars, 41, a.data());
        TTestPatternDriver::Render(format, TTestPatternDriver::MovingBars, 41, b.data());
        TTestPatternDriver::Render(format, TTestPatternDriver::MovingBars, 42, c.data());
        EXPECT_EQ(a, b) << compression;
        EXPECT_NE(a, c) << compression;
    }
    // Two drivers deliver the same sequence.
    TTestPatternDriver first(0);
    TTestPatternDriver second(0);
    EXPECT_EQ(Grab(first), Grab(second));
    EXPECT_EQ(Grab(first), Grab(second));
    EXPECT_EQ(first.FramesDelivered(), 2u);
}

TEST_F(TestPatternDriverTest, CounterIsDrawnInThePixels) {
    // With still bars, two frame numbers differ only where the counter is drawn (top left).
    TBitmapInfoHeader format = TTestPatternDriver::FormatOf(320, 240, kFourCcUyvy);
    std::vector<uint8_t> zero(format.biSizeImage), eight(format.biSizeImage);
    TTestPatternDriver::Render(format, TTestPatternDriver::StillBars, 0, zero.data());
    TTestPatternDriver::Render(format, TTestPatternDriver::StillBars, 8, eight.data());
    size_t rowBytes = 2 * 320;
    size_t firstDifferentRow = 240;
    size_t lastDifferentRow = 0;
    for (size_t row = 0; row < 240; ++row) {
        if (std::memcmp(&zero[row * rowBytes], &eight[row * rowBytes], rowBytes) != 0) {
            firstDifferentRow = std::min(firstDifferentRow, row);
            lastDifferentRow = row;
        }
    }
    EXPECT_LT(firstDifferentRow, 20u);
    EXPECT_LT(lastDifferentRow, 30u);
    EXPECT_GE(lastDifferentRow, firstDifferentRow);
}

TEST_F(TestPatternDriverTest, MovingBarsMove) {
    TBitmapInfoHeader format = TTestPatternDriver::FormatOf(320, 240, kBiRgb);
    std::vector<uint8_t> a(format.biSizeImage), b(format.biSizeImage);
    TTestPatternDriver::Render(format, TTestPatternDriver::MovingBars, 0, a.data());
    TTestPatternDriver::Render(format, TTestPatternDriver::MovingBars, 10, b.data());
    // Row 0 of the bitmap is the bottom of the picture, far from the counter: shifted by 40 pixels.
    EXPECT_NE(std::memcmp(a.data(), b.data(), 320 * 3), 0);
    EXPECT_EQ(std::memcmp(a.data() + 40 * 3, b.data(), 280 * 3), 0);
}

TEST_F(TestPatternDriverTest, InjectedFaults) {
    TestPatternFaults().FailConnect = true;
    EXPECT_EQ(TTestPatternDriver::Connect(0), nullptr);
    TestPatternFaults().FailConnect = false;
    std::unique_ptr<TTestPatternDriver> driver = TTestPatternDriver::Connect(0);
    ASSERT_NE(driver, nullptr);

    TCapStatus status{};
    EXPECT_TRUE(driver->GetStatus(status));
    EXPECT_EQ(status.uiImageWidth, 640u);
    TestPatternFaults().FailStatus = true;
    EXPECT_FALSE(driver->GetStatus(status));

    TCaptureError error;
    EXPECT_EQ(driver->WaitForFrame(error), TFrameWait::Ready);
    TestPatternFaults().FailGrab = true;
    EXPECT_EQ(driver->WaitForFrame(error), TFrameWait::Failed);
    EXPECT_EQ(error.Number, kCapErrInjected);
    EXPECT_FALSE(error.Text.empty());
}

TEST_F(TestPatternDriverTest, PacedAtTheFramePeriod) {
    TTestPatternDriver driver(0);
    TCaptureParms parms{};
    driver.GetSetup(parms);
    parms.dwRequestMicroSecPerFrame = 20000;
    driver.SetSetup(parms);
    TCaptureError error;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 6; ++i) {
        ASSERT_EQ(driver.WaitForFrame(error), TFrameWait::Ready);
    }
    // Five periods at least between the first and the sixth frame (no upper bound: machines are busy).
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
}

TEST_F(TestPatternDriverTest, DialogsGoThroughThePrompts) {
    test::TScriptedPrompts prompts;
    TTestPatternDriver driver(0);
    EXPECT_FALSE(driver.DialogVideoFormat()); // cancelled
    ASSERT_EQ(prompts.LastItems.size(), TTestPatternDriver::Sizes().size() * 4);
    EXPECT_EQ(prompts.LastItems[static_cast<size_t>(prompts.LastCurrent)], "640 x 480, UYVY");
    auto wanted = std::find(prompts.LastItems.begin(), prompts.LastItems.end(), "1280 x 720, YVU9");
    ASSERT_NE(wanted, prompts.LastItems.end());
    prompts.Choices.push_back(static_cast<int>(wanted - prompts.LastItems.begin()));
    EXPECT_TRUE(driver.DialogVideoFormat());
    TBitmapInfoHeader format{};
    driver.GetFormat(format);
    EXPECT_EQ(format.biWidth, 1280);
    EXPECT_EQ(format.biHeight, 720);
    EXPECT_EQ(format.biCompression, kFourCcYvu9);

    prompts.Choices.push_back(TTestPatternDriver::GreyRamp);
    EXPECT_TRUE(driver.DialogVideoSource());
    EXPECT_EQ(driver.Pattern(), TTestPatternDriver::GreyRamp);
    EXPECT_FALSE(driver.DialogVideoSource());
    EXPECT_EQ(driver.Pattern(), TTestPatternDriver::GreyRamp);

    EXPECT_FALSE(driver.DialogVideoDisplay());
    EXPECT_TRUE(driver.DialogVideoCompression());
    ASSERT_EQ(prompts.Messages.size(), 1u);
    EXPECT_EQ(prompts.Titles,
              (std::vector<std::string>{"Video Format", "Video Format", "Video Source", "Video Source"}));
}

TEST_F(TestPatternDriverTest, TableEndsWithTheTestPattern) {
    std::vector<TCaptureDriverEntry> entries = CaptureDriverEntries();
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.back().Name, "Test Pattern");
    EXPECT_EQ(entries.back().Kind, TCaptureDriverKind::TestPattern);
    EXPECT_NE(ConnectCaptureDriver(static_cast<uint32_t>(entries.size() - 1)), nullptr);
    EXPECT_EQ(ConnectCaptureDriver(static_cast<uint32_t>(entries.size())), nullptr);
    EXPECT_EQ(ConnectCaptureDriver(65535), nullptr);
}

} // namespace
} // namespace sw
