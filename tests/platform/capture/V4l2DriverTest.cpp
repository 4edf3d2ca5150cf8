#include "platform/capture/V4l2Driver.h"

#include "platform/capture/FakeV4l2Device.h"
#include "platform/capture/ScriptedPrompts.h"

#include <gtest/gtest.h>

#include <vector>

namespace sw {
namespace {

using test::TFakeCamera;

// A camera and the formats libv4l2 lists for it: its own, then the ones it converts to.
std::shared_ptr<TFakeCamera> Camera(std::vector<uint32_t> native, bool withConversions = true) {
    auto camera = std::make_shared<TFakeCamera>();
    for (uint32_t format : native) {
        camera->Formats.push_back({format, false});
    }
    if (withConversions) {
        for (uint32_t format :
             {V4L2_PIX_FMT_RGB24, V4L2_PIX_FMT_BGR24, V4L2_PIX_FMT_YUV420, V4L2_PIX_FMT_YVU420}) {
            camera->Formats.push_back({format, true});
        }
    }
    camera->PixelFormat = native.front();
    return camera;
}

std::unique_ptr<TV4l2Driver> Connect(const std::shared_ptr<TFakeCamera>& camera,
                                     std::string* failure = nullptr) {
    return TV4l2Driver::Connect(camera, "/dev/video7", 2, failure);
}

// Waits for and takes one frame, returning its bytes.
std::vector<uint8_t> Grab(TV4l2Driver& driver, TVideoHdr* seen = nullptr) {
    TCaptureError error;
    EXPECT_EQ(driver.WaitForFrame(error), TFrameWait::Ready) << error.Text;
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(driver.TakeFrame(
        [&](TVideoHdr& header) {
            bytes.assign(header.lpData, header.lpData + header.dwBytesUsed);
            if (seen) {
                *seen = header;
            }
        },
        error))
        << error.Text;
    return bytes;
}

TEST(V4l2DriverTest, YuyvAndMjpegCamerasDeliverBgrThroughTheConversion) {
    for (uint32_t native : {V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_MJPEG}) {
        auto camera = Camera({native});
        camera->Sizes = {{322, 10}};
        camera->Width = 322;
        camera->Height = 10;
        auto driver = Connect(camera);
        ASSERT_NE(driver, nullptr);
        // The emulated YV12 is not taken: BGR saves a second conversion.
        EXPECT_EQ(driver->PixelFormat(), V4L2_PIX_FMT_BGR24);
        EXPECT_EQ(camera->PixelFormat, V4L2_PIX_FMT_BGR24);
        EXPECT_TRUE(camera->Streaming);
        TBitmapInfoHeader format{};
        ASSERT_TRUE(driver->GetFormat(format));
        EXPECT_EQ(format.biWidth, 322);
        EXPECT_EQ(format.biHeight, 10);
        EXPECT_EQ(format.biBitCount, 24);
        EXPECT_EQ(format.biCompression, kBiRgb);
        EXPECT_EQ(format.biSizeImage, 968u * 10);

        // Bottom-up rows padded to four bytes: bitmap row r is camera row 9 - r.
        std::vector<uint8_t> frame = Grab(*driver);
        ASSERT_EQ(frame.size(), 968u * 10);
        for (size_t r = 0; r < 10; ++r) {
            for (size_t i = 0; i < 966; ++i) {
                ASSERT_EQ(frame[r * 968 + i], TFakeCamera::FrameByte(0, (9 - r) * 966 + i)) << r << " " << i;
            }
            EXPECT_EQ(frame[r * 968 + 966], 0);
            EXPECT_EQ(frame[r * 968 + 967], 0);
        }
    }
}

TEST(V4l2DriverTest, NativeUyvyIsHandedOnWithoutACopy) {
    auto camera = Camera({V4L2_PIX_FMT_MJPEG, V4L2_PIX_FMT_YVU420, V4L2_PIX_FMT_UYVY});
    auto driver = Connect(camera);
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(driver->PixelFormat(), V4L2_PIX_FMT_UYVY);
    TVideoHdr header;
    std::vector<uint8_t> frame = Grab(*driver, &header);
    EXPECT_EQ(frame.size(), 640u * 480 * 2);
    bool inBuffer = false;
    for (const auto& buffer : camera->Buffers) {
        inBuffer = inBuffer || header.lpData == buffer.data();
    }
    EXPECT_TRUE(inBuffer);
    TBitmapInfoHeader format{};
    driver->GetFormat(format);
    EXPECT_EQ(format.biCompression, kFourCcUyvy);

    auto yv12 = Connect(Camera({V4L2_PIX_FMT_YVU420}));
    ASSERT_NE(yv12, nullptr);
    EXPECT_EQ(yv12->PixelFormat(), V4L2_PIX_FMT_YVU420);
}

TEST(V4l2DriverTest, PaddedLinesAreRepacked) {
    auto camera = Camera({V4L2_PIX_FMT_UYVY});
    camera->LinePadding = 16;
    auto driver = Connect(camera);
    ASSERT_NE(driver, nullptr);
    std::vector<uint8_t> frame = Grab(*driver);
    ASSERT_EQ(frame.size(), 640u * 480 * 2);
    for (size_t row : {size_t{0}, size_t{1}, size_t{479}}) {
        for (size_t i = 0; i < 1280; ++i) {
            ASSERT_EQ(frame[row * 1280 + i], TFakeCamera::FrameByte(0, row * 1296 + i));
        }
    }
}

TEST(V4l2DriverTest, CameraWithoutUsableFormatIsRefused) {
    auto camera = Camera({V4L2_PIX_FMT_MJPEG}, false);
    std::string failure;
    EXPECT_EQ(Connect(camera, &failure), nullptr);
    EXPECT_FALSE(failure.empty());
    EXPECT_EQ(camera->Opened, camera->Closed);
}

TEST(V4l2DriverTest, IoctlFailureOnConnectUndoesEverything) {
    const unsigned long requests[] = {
        0,           VIDIOC_QUERYCAP, VIDIOC_G_FMT, VIDIOC_S_FMT, VIDIOC_REQBUFS, VIDIOC_QUERYBUF,
        VIDIOC_QBUF, VIDIOC_STREAMON};
    for (unsigned long request : requests) {
        auto camera = Camera({V4L2_PIX_FMT_YUYV});
        camera->FailingRequests.insert(request);
        std::string failure;
        EXPECT_EQ(Connect(camera, &failure), nullptr) << request;
        EXPECT_FALSE(failure.empty()) << request;
        EXPECT_EQ(camera->Opened, camera->Closed) << request;
        EXPECT_EQ(camera->Mapped, camera->Unmapped) << request;
        EXPECT_FALSE(camera->Streaming) << request;
    }
    auto camera = Camera({V4L2_PIX_FMT_YUYV});
    {
        auto driver = Connect(camera);
        ASSERT_NE(driver, nullptr);
        EXPECT_EQ(camera->Mapped, TV4l2Driver::kBufferCount);
    }
    EXPECT_EQ(camera->Opened, 1);
    EXPECT_EQ(camera->Closed, 1);
    EXPECT_EQ(camera->Unmapped, TV4l2Driver::kBufferCount);
    EXPECT_FALSE(camera->Streaming);
}

TEST(V4l2DriverTest, GrabTimesOutWhenTheCameraStops) {
    auto camera = Camera({V4L2_PIX_FMT_YUYV});
    auto driver = Connect(camera);
    ASSERT_NE(driver, nullptr);
    TCaptureError error;
    EXPECT_EQ(driver->WaitForFrame(error), TFrameWait::Ready);
    EXPECT_EQ(camera->LastPollTimeout, TV4l2Driver::kFirstFrameTimeoutMs);
    EXPECT_TRUE(driver->TakeFrame([](TVideoHdr&) {}, error));

    camera->Delivering = false;
    EXPECT_EQ(driver->WaitForFrame(error), TFrameWait::Timeout);
    EXPECT_EQ(error.Number, kCapErrFrameTimeout);
    // A few frame periods of the camera's 30 frames per second, not an endless wait.
    EXPECT_EQ(camera->LastPollTimeout, driver->FrameTimeoutMs());
    EXPECT_GE(camera->LastPollTimeout, 3 * 33);
    EXPECT_LE(camera->LastPollTimeout, 2000);
    EXPECT_FALSE(driver->TakeFrame([](TVideoHdr&) { FAIL() << "no frame expected"; }, error));

    camera->Unplugged = true;
    EXPECT_EQ(driver->WaitForFrame(error), TFrameWait::Failed);
    EXPECT_EQ(error.Number, kCapErrDevice);
}

TEST(V4l2DriverTest, NewestFrameIsShownAndOlderOnesRequeued) {
    auto camera = Camera({V4L2_PIX_FMT_UYVY});
    auto driver = Connect(camera);
    ASSERT_NE(driver, nullptr);
    camera->FillOne();
    camera->FillOne();
    camera->FillOne();
    std::vector<uint8_t> frame = Grab(*driver);
    EXPECT_EQ(frame[5], TFakeCamera::FrameByte(2, 5));
    EXPECT_EQ(camera->Queued.size(), 4u);
    EXPECT_TRUE(camera->Filled.empty());

    camera->FillOne();
    camera->FillOne();
    frame = Grab(*driver);
    EXPECT_EQ(frame[5], TFakeCamera::FrameByte(4, 5));
    TCapStatus status{};
    ASSERT_TRUE(driver->GetStatus(status));
    EXPECT_EQ(status.dwCurrentVideoFrame, 2u);
    EXPECT_EQ(status.dwCurrentVideoFramesDropped, 1u);
    EXPECT_EQ(status.uiImageWidth, 640u);
    EXPECT_EQ(status.wNumVideoAllocated, 4u);
}

TEST(V4l2DriverTest, SourceDialogEditsTheControls) {
    test::TScriptedPrompts prompts;
    auto camera = Camera({V4L2_PIX_FMT_YUYV});
    camera->Controls = {{V4L2_CID_BRIGHTNESS, "Brightness", 0, 255, 1, 128},
                        {V4L2_CID_CONTRAST, "Contrast", 0, 100, 1, 50}};
    auto driver = Connect(camera);
    ASSERT_NE(driver, nullptr);
    TCapDriverCaps caps{};
    driver->GetCaps(caps);
    EXPECT_EQ(caps.fHasDlgVideoSource, 1);
    EXPECT_EQ(caps.fHasDlgVideoDisplay, 0);

    EXPECT_FALSE(driver->DialogVideoSource());
    ASSERT_EQ(prompts.LastFields.size(), 2u);
    EXPECT_EQ(prompts.LastFields[0].Name, "Brightness");
    EXPECT_EQ(prompts.LastFields[0].Value, 128);
    EXPECT_EQ(prompts.LastFields[1].Maximum, 100);
    EXPECT_TRUE(camera->SetControls.empty());

    std::vector<TValueField> edited = prompts.LastFields;
    edited[0].Value = 200;
    prompts.Edits.push_back(edited);
    EXPECT_TRUE(driver->DialogVideoSource());
    EXPECT_EQ(camera->SetControls, (std::map<uint32_t, int>{{V4L2_CID_BRIGHTNESS, 200}}));

    EXPECT_TRUE(driver->DialogVideoCompression());
    EXPECT_EQ(prompts.Messages.size(), 1u);
    EXPECT_FALSE(driver->DialogVideoDisplay());

    auto plain = Connect(Camera({V4L2_PIX_FMT_YUYV}));
    plain->GetCaps(caps);
    EXPECT_EQ(caps.fHasDlgVideoSource, 0);
    EXPECT_FALSE(plain->DialogVideoSource());
}

TEST(V4l2DriverTest, FormatDialogRestartsStreamingInTheChosenSize) {
    test::TScriptedPrompts prompts;
    auto camera = Camera({V4L2_PIX_FMT_YUYV});
    auto driver = Connect(camera);
    ASSERT_NE(driver, nullptr);
    EXPECT_FALSE(driver->DialogVideoFormat());
    EXPECT_EQ(prompts.LastItems, (std::vector<std::string>{"640 x 480, RGB 24", "320 x 240, RGB 24"}));
    EXPECT_EQ(prompts.LastCurrent, 0);

    prompts.Choices.push_back(1);
    EXPECT_TRUE(driver->DialogVideoFormat());
    TBitmapInfoHeader format{};
    driver->GetFormat(format);
    EXPECT_EQ(format.biWidth, 320);
    EXPECT_EQ(format.biHeight, 240);
    EXPECT_TRUE(camera->Streaming);
    EXPECT_EQ(Grab(*driver).size(), 320u * 240 * 3);
    EXPECT_EQ(camera->Mapped - camera->Unmapped, TV4l2Driver::kBufferCount);
}

TEST(V4l2DriverTest, ApplyFormatTakesTheNearestOfferAndTellsWhatIsOffered) {
    auto camera = Camera({V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_UYVY});
    auto driver = Connect(camera);
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(driver->OfferedFormats(),
              (std::vector<std::string>{"640 x 480 YUYV: 30, 15 fps", "320 x 240 YUYV: 30, 15 fps",
                                        "640 x 480 UYVY: 30, 15 fps", "320 x 240 UYVY: 30, 15 fps"}))
        << "the camera's own formats, not libv4l2's conversions";

    // An impossible size: the nearest, and of two equally near the one read without conversion.
    TCaptureFormat applied;
    EXPECT_FALSE(driver->ApplyFormat({1000, 700, 15, 0}, applied));
    EXPECT_EQ(DescribeCaptureFormat(applied), "640 x 480 UYVY at 15 fps");
    EXPECT_EQ(camera->Rate, 15u);
    EXPECT_TRUE(camera->Streaming);
    EXPECT_EQ(Grab(*driver).size(), 640u * 480 * 2);

    // A pixel format the pipeline cannot read comes through libv4l2's conversion.
    EXPECT_TRUE(driver->ApplyFormat({320, 240, 30, V4L2_PIX_FMT_YUYV}, applied));
    EXPECT_EQ(DescribeCaptureFormat(applied), "320 x 240 YUYV at 30 fps");
    EXPECT_EQ(driver->PixelFormat(), static_cast<uint32_t>(V4L2_PIX_FMT_BGR24));
    EXPECT_EQ(Grab(*driver).size(), 320u * 240 * 3);
    EXPECT_EQ(camera->Mapped - camera->Unmapped, TV4l2Driver::kBufferCount);

    EXPECT_FALSE(driver->ApplyFormat({320, 240, 12, V4L2_PIX_FMT_MJPEG}, applied)) << "not offered";
    EXPECT_EQ(applied.Width, 320u);
    EXPECT_EQ(applied.FrameRate, 15u) << "the nearest rate offered";
    EXPECT_TRUE(camera->Streaming);
}

} // namespace
} // namespace sw
