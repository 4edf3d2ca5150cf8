#include "video/VideoThread.h"

#include "common/TestSupport.h"
#include "config/Configuration.h"
#include "platform/capture/CaptureDriverTable.h"
#include "platform/capture/TestPatternDriver.h"
#include "video/CaptureControl.h"
#include "video/JpegDecode.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <dirent.h>
#include <fstream>
#include <thread>
#include <vector>

namespace sw {
namespace {

TEST(FrameRateWindowTest, RateOverTheLastSixtyArrivals) {
    TFrameRateWindow first;
    EXPECT_EQ(first.Add(5000), 0.0) << "one frame has no rate";
    EXPECT_NEAR(first.Add(5066), 1000.0 / 66, 1e-9);

    TFrameRateWindow even;
    for (uint32_t i = 0; i < 60; ++i) {
        even.Add(1000 + 100 * i);
    }
    EXPECT_NEAR(even.FrameRate, 10.0, 1e-9);
    EXPECT_EQ(even.FrameTimeCount, 60u);
    // The 61st frame pushes the first out: 59 intervals from the second arrival (1100) to 8900.
    even.Add(8900);
    EXPECT_NEAR(even.FrameRate, 59.0 / 7800 * 1000, 1e-9);
    EXPECT_EQ(even.FrameTimeCount, 60u);
    for (uint32_t i = 0; i < 200; ++i) {
        even.Add(9000 + 50 * i);
    }
    EXPECT_NEAR(even.FrameRate, 20.0, 1e-9);
}

TEST(FrameRateWindowTest, TickCounterWrapAndZeroSpan) {
    TFrameRateWindow window;
    window.Add(0xFFFFFFF0u);
    EXPECT_NEAR(window.Add(0x00000010u), 1000.0 / 32, 1e-9) << "a wrap between two frames is a short span";
    TFrameRateWindow same;
    same.Add(100);
    EXPECT_EQ(same.Add(100), 0.0) << "no span yet: no rate";
    same.Add(200);
    EXPECT_NEAR(same.FrameRate, 20.0, 1e-9);
}

TEST(VideoPacketTest, HeaderIsTaggedBigEndian) {
    EXPECT_EQ(VideoPacketHeader(1, 12345),
              (TVideoPacketHeader{0x01, 0x00, 0x00, 0x00, 0x01, 0x02, 0x00, 0x00, 0x30, 0x39}));
    EXPECT_EQ(VideoPacketHeader(0xA1B2C3D4, 0xFFFFFFFF),
              (TVideoPacketHeader{0x01, 0xA1, 0xB2, 0xC3, 0xD4, 0x02, 0xFF, 0xFF, 0xFF, 0xFF}));
}

// The engine's video server as the thread sees it: keeps every packet handed to it.
class TRecordingSink : public TVideoPacketSink {
public:
    struct TPacket {
        TVideoPacketHeader Header;
        std::vector<uint8_t> Jpeg;
    };
    void SendFrame(const TVideoPacketHeader& header, const uint8_t* jpeg, size_t jpegBytes) override {
        Packets.push_back({header, std::vector<uint8_t>(jpeg, jpeg + jpegBytes)});
    }
    static uint32_t Number(const TPacket& p) {
        return static_cast<uint32_t>(p.Header[1]) << 24 | static_cast<uint32_t>(p.Header[2]) << 16 |
               static_cast<uint32_t>(p.Header[3]) << 8 | p.Header[4];
    }
    static uint32_t Length(const TPacket& p) {
        return static_cast<uint32_t>(p.Header[6]) << 24 | static_cast<uint32_t>(p.Header[7]) << 16 |
               static_cast<uint32_t>(p.Header[8]) << 8 | p.Header[9];
    }
    std::vector<TPacket> Packets;
};

bool ThreadNamed(const std::string& name) {
    DIR* dir = ::opendir("/proc/self/task");
    bool found = false;
    while (dirent* entry = dir ? ::readdir(dir) : nullptr) {
        std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
        std::string line;
        if (std::getline(comm, line) && line == name) {
            found = true;
        }
    }
    if (dir) {
        ::closedir(dir);
    }
    return found;
}

// The capture control on the test pattern device, with the video thread sending to a recording sink.
class VideoThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        Config = std::make_unique<TConfiguration>(Dir.File("test.ini"));
        Config->Reload();
        SetConfiguration(Config.get());
        const std::vector<std::string> names = Config->Video().DeviceNameList();
        const auto pattern = std::find(names.begin(), names.end(), kTestPatternName);
        ASSERT_NE(pattern, names.end());
        Config->Video().SetDevice(static_cast<int32_t>(pattern - names.begin()));
        Config->Video().SetEnabled(true);
        Control = std::make_unique<TCaptureControl>(Log.Window());
        Control->SetPanelSize(800, 600);
        Control->SetVideoServer(&Sink);
        ASSERT_TRUE(Control->InitializeVideo());
        auto* driver = dynamic_cast<TTestPatternDriver*>(Control->CaptureWindow()->Driver());
        ASSERT_NE(driver, nullptr);
        driver->SetPattern(TTestPatternDriver::StillBars);
        QCoreApplication::sendPostedEvents();
        Log.Entries.clear();
    }
    void TearDown() override {
        TestPatternFaults().Reset();
        Control.reset();
        SetConfiguration(nullptr);
        Config.reset();
        QCoreApplication::sendPostedEvents();
    }

    bool WaitForPackets(size_t count) {
        return test::ProcessEventsUntil([&] { return Sink.Packets.size() >= count; });
    }

    std::vector<TAMLog> EntriesOf(uint8_t message) const {
        std::vector<TAMLog> found;
        for (const TAMLog& e : Log.Entries) {
            if (e.Message == message) {
                found.push_back(e);
            }
        }
        return found;
    }

    test::TTempDir Dir;
    std::unique_ptr<TConfiguration> Config;
    test::TLogCollector Log;
    TRecordingSink Sink;
    std::unique_ptr<TCaptureControl> Control;
};

TEST_F(VideoThreadTest, FramesAreNumberedFromOneAndEachIsAJpegOfTheDeviceSize) {
    ASSERT_TRUE(Control->StartVideo());
    EXPECT_EQ(Control->VideoState(), vsRunning);
    EXPECT_TRUE(Control->CaptureWindow()->Visible());
    ASSERT_TRUE(WaitForPackets(8));
    EXPECT_TRUE(ThreadNamed("video"));
    EXPECT_GT(Control->FrameRate(), 0.0);
    EXPECT_TRUE(Control->StopVideo());
    EXPECT_EQ(Control->VideoState(), vsInitialized);
    EXPECT_FALSE(Control->CaptureWindow()->Visible());
    EXPECT_EQ(Control->VideoThread(), nullptr);
    EXPECT_EQ(Control->FrameRate(), 0.0);

    for (size_t i = 0; i < Sink.Packets.size(); ++i) {
        const TRecordingSink::TPacket& packet = Sink.Packets[i];
        EXPECT_EQ(packet.Header[0], 0x01);
        EXPECT_EQ(packet.Header[5], 0x02);
        EXPECT_EQ(TRecordingSink::Number(packet), i + 1);
        ASSERT_EQ(TRecordingSink::Length(packet), packet.Jpeg.size());
        const test::TDecodedJpeg decoded = test::DecodeJpeg(packet.Jpeg.data(), packet.Jpeg.size());
        ASSERT_TRUE(decoded.Ok) << "frame " << i + 1 << ": " << decoded.Error;
        EXPECT_EQ(decoded.Width, 640);
        EXPECT_EQ(decoded.Height, 480);
    }

    QCoreApplication::sendPostedEvents();
    std::vector<std::string> requests;
    for (const TAMLog& entry : Log.Entries) {
        requests.push_back(std::string(MessageText(entry.Message)) + " " + entry.Detail);
        EXPECT_EQ(entry.Level, llInformation);
    }
    EXPECT_EQ(requests,
              (std::vector<std::string>{"Get video format Ok", "Set user data Ok", "Set callback on frame Ok",
                                        "Set callback on error Ok", "Set callback on error Ok",
                                        "Set callback on frame Ok", "Set user data Ok"}));

    // After Stop a late callback finds no user data and does nothing.
    EXPECT_EQ(Control->CaptureWindow()->GetUserData(), 0);
    std::vector<uint8_t> bytes(640 * 480 * 2, 0x80);
    TVideoHdr header;
    header.lpData = bytes.data();
    header.dwBufferLength = header.dwBytesUsed = static_cast<uint32_t>(bytes.size());
    const size_t sent = Sink.Packets.size();
    EXPECT_TRUE(TVideoThread::FrameCallback(Control->CaptureWindow(), &header));
    EXPECT_TRUE(TVideoThread::ErrorCallback(Control->CaptureWindow(), 1, "late"));
    EXPECT_EQ(Sink.Packets.size(), sent);
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(EntriesOf(lmVideoError).empty());
}

TEST_F(VideoThreadTest, AGrabRequestedJustBeforeStopIsStillProcessedAndSent) {
    ASSERT_TRUE(Control->StartVideo());
    ASSERT_TRUE(WaitForPackets(3));
    // Without the event loop nobody serves the thread: its next grab waits for the main thread.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (Control->CaptureWindow()->PendingRequests() == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(Control->CaptureWindow()->PendingRequests(), 1u);
    const size_t before = Sink.Packets.size();
    Control->StopVideo();
    ASSERT_EQ(Sink.Packets.size(), before + 1);
    EXPECT_EQ(TRecordingSink::Number(Sink.Packets.back()), before + 1);
    EXPECT_EQ(Control->CaptureWindow()->PendingRequests(), 0u);
}

TEST_F(VideoThreadTest, OverlaySettingsAreReadForEveryFrame) {
    Config->Text().SetFormat(0);
    Config->Text().SetColor(0xFFFFFF);
    Config->Text().SetSize(28);
    Config->Text().SetAlignment(2);
    Config->Text().SetAlignmentVertical(2);
    Config->Text().SetCustom("WWWW");
    ASSERT_TRUE(Control->StartVideo());
    // White pixels in the bottom-right corner, where the rightmost bars are red and magenta.
    auto whiteInCorner = [](const TRecordingSink::TPacket& packet) {
        const test::TDecodedJpeg decoded = test::DecodeJpeg(packet.Jpeg.data(), packet.Jpeg.size());
        EXPECT_TRUE(decoded.Ok);
        int white = 0;
        for (int y = decoded.Height - 60; y < decoded.Height; ++y) {
            for (int x = decoded.Width - 160; x < decoded.Width; ++x) {
                const uint8_t* p = decoded.Pixel(x, y);
                white += p[0] > 200 && p[1] > 200 && p[2] > 200;
            }
        }
        return white;
    };
    ASSERT_TRUE(WaitForPackets(2));
    EXPECT_EQ(whiteInCorner(Sink.Packets.back()), 0);
    Config->Text().SetFormat(5);
    const size_t changed = Sink.Packets.size();
    ASSERT_TRUE(WaitForPackets(changed + 2));
    EXPECT_GT(whiteInCorner(Sink.Packets.back()), 100);
    Control->StopVideo();
}

TEST_F(VideoThreadTest, GrabErrorsAreLoggedWithTextAndNumber) {
    ASSERT_TRUE(Control->StartVideo());
    ASSERT_TRUE(WaitForPackets(1));
    TestPatternFaults().FailGrab = true;
    ASSERT_TRUE(test::ProcessEventsUntil([&] { return !EntriesOf(lmVideoError).empty(); }));
    TestPatternFaults().FailGrab = false;
    const size_t resumed = Sink.Packets.size();
    ASSERT_TRUE(WaitForPackets(resumed + 2));
    Control->StopVideo();
    QCoreApplication::sendPostedEvents();
    const std::vector<TAMLog> errors = EntriesOf(lmVideoError);
    ASSERT_EQ(errors.size(), 1u) << "one report per run of failures";
    EXPECT_EQ(errors[0].Level, llError);
    EXPECT_EQ(errors[0].Detail, "");
    EXPECT_EQ(errors[0].Values, "Test pattern grab failure (4)");
}

// Grey levels of a packet's picture: how many pixels are the card's dark grey and how many are bright.
struct TCardPixels {
    int Dark = 0;
    int Bright = 0;
    int Total = 0;
};
TCardPixels CardPixelsOf(const TRecordingSink::TPacket& packet) {
    const test::TDecodedJpeg decoded = test::DecodeJpeg(packet.Jpeg.data(), packet.Jpeg.size());
    EXPECT_TRUE(decoded.Ok) << decoded.Error;
    TCardPixels pixels;
    for (int y = 0; decoded.Ok && y < decoded.Height; y += 4) {
        for (int x = 0; x < decoded.Width; x += 4) {
            const uint8_t* p = decoded.Pixel(x, y);
            const int grey = (p[0] + p[1] + p[2]) / 3;
            const int spread = std::max({p[0], p[1], p[2]}) - std::min({p[0], p[1], p[2]});
            pixels.Dark += std::abs(grey - 0x30) < 12 && spread < 12;
            pixels.Bright += grey > 0xB0 && spread < 24;
            ++pixels.Total;
        }
    }
    return pixels;
}

TEST_F(VideoThreadTest, AnUnpluggedDeviceGetsNoSignalCardsUntilItIsBackAtFullRate) {
    ASSERT_TRUE(Control->StartVideo());
    ASSERT_TRUE(WaitForPackets(5));
    TVideoThread& thread = *Control->VideoThread();

    TestPatternFaults().Unplug();
    // Timed from the second card: the first is drawn when it is sent, which a slow machine makes late,
    // while the cards stay due at the same times.
    ASSERT_TRUE(test::ProcessEventsUntil([&] { return thread.NoSignalFrames() >= 2; }));
    const auto secondCard = std::chrono::steady_clock::now();
    ASSERT_TRUE(test::ProcessEventsUntil([&] { return thread.NoSignalFrames() >= 4; }));
    EXPECT_GE(std::chrono::steady_clock::now() - secondCard, std::chrono::milliseconds(1900))
        << "about one card a second";
    EXPECT_TRUE(thread.SignalLost());
    const TCardPixels card = CardPixelsOf(Sink.Packets.back());
    EXPECT_GT(card.Dark, card.Total * 3 / 4) << "a plain dark card";
    EXPECT_GT(card.Bright, 20) << "with its text";
    const size_t cardsSent = thread.NoSignalFrames();
    for (size_t i = Sink.Packets.size() - cardsSent; i < Sink.Packets.size(); ++i) {
        EXPECT_GT(CardPixelsOf(Sink.Packets[i]).Dark, card.Total * 3 / 4)
            << "nothing but cards, packet " << i;
    }

    TestPatternFaults().Replug();
    ASSERT_TRUE(test::ProcessEventsUntil([&] { return !thread.SignalLost(); }));
    const size_t back = Sink.Packets.size();
    const uint32_t cards = thread.NoSignalFrames();
    ASSERT_TRUE(WaitForPackets(back + 15)) << "full rate again";
    EXPECT_EQ(thread.NoSignalFrames(), cards);
    EXPECT_LT(CardPixelsOf(Sink.Packets.back()).Dark, CardPixelsOf(Sink.Packets.back()).Total / 2)
        << "the test pattern's bars";
    Control->StopVideo();
    QCoreApplication::sendPostedEvents();

    for (size_t i = 0; i < Sink.Packets.size(); ++i) {
        ASSERT_EQ(TRecordingSink::Number(Sink.Packets[i]), i + 1) << "cards are numbered like frames";
    }
    const std::vector<TAMLog> lost = EntriesOf(lmVideoDeviceLost);
    ASSERT_EQ(lost.size(), 1u);
    EXPECT_EQ(lost[0].Level, llError);
    EXPECT_EQ(lost[0].Values, "The test pattern device was unplugged");
    const std::vector<TAMLog> restored = EntriesOf(lmVideoDeviceRestored);
    ASSERT_EQ(restored.size(), 1u);
    EXPECT_EQ(restored[0].Level, llInformation);
    EXPECT_EQ(EntriesOf(lmVideoError).size(), 1u) << "the failed grab, once; retries stay quiet";
}

TEST_F(VideoThreadTest, ADeviceThatDeliversNothingForSecondsIsLostAndReconnectedWithItsSettings) {
    TCaptureParms parms{};
    ASSERT_TRUE(Control->CaptureWindow()->GetSequenceSetup(parms));
    parms.dwRequestMicroSecPerFrame = 20000;
    ASSERT_TRUE(Control->CaptureWindow()->SetSequenceSetup(parms));
    ASSERT_TRUE(Control->StartVideo());
    ASSERT_TRUE(WaitForPackets(3));
    TVideoThread& thread = *Control->VideoThread();

    TestPatternFaults().Stalled = true;
    // By the third card the first reconnect, half a second after the loss, has run.
    ASSERT_TRUE(test::ProcessEventsUntil([&] { return thread.NoSignalFrames() >= 3; }, 30000));
    TestPatternFaults().Stalled = false;
    ASSERT_TRUE(test::ProcessEventsUntil([&] { return !thread.SignalLost(); }));
    const size_t back = Sink.Packets.size();
    ASSERT_TRUE(WaitForPackets(back + 5));
    TCaptureParms now{};
    ASSERT_TRUE(Control->CaptureWindow()->GetSequenceSetup(now));
    auto* driver = dynamic_cast<TTestPatternDriver*>(Control->CaptureWindow()->Driver());
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(driver->Pattern(), TTestPatternDriver::MovingBars) << "a new device, not the still bars set up";
    EXPECT_EQ(now.dwRequestMicroSecPerFrame, 20000u) << "with the settings last written";
    Control->StopVideo();
    QCoreApplication::sendPostedEvents();
    ASSERT_EQ(EntriesOf(lmVideoDeviceLost).size(), 1u);
    EXPECT_EQ(EntriesOf(lmVideoDeviceLost)[0].Values, "No frame from the test pattern device within 200 ms");
    EXPECT_EQ(EntriesOf(lmVideoDeviceRestored).size(), 1u);
}

TEST_F(VideoThreadTest, AFrameThatCannotBeLoadedIsNotSentAndReportedOncePerBroadcast) {
    ASSERT_TRUE(Control->StartVideo());
    ASSERT_TRUE(WaitForPackets(1));
    TVideoThread& thread = *Control->VideoThread();
    // A frame shorter than its format: the bitmap cannot be loaded from it.
    std::vector<uint8_t> shortFrame(1000, 0x80);
    TVideoHdr header;
    header.lpData = shortFrame.data();
    header.dwBufferLength = header.dwBytesUsed = static_cast<uint32_t>(shortFrame.size());
    const size_t sent = Sink.Packets.size();
    thread.ProcessFrame(header);
    thread.ProcessFrame(header);
    EXPECT_EQ(Sink.Packets.size(), sent);
    EXPECT_EQ(thread.FramesNotSent(), 2u);
    ASSERT_TRUE(WaitForPackets(sent + 2)) << "good frames go on";
    Control->StopVideo();
    QCoreApplication::sendPostedEvents();
    const std::vector<TAMLog> errors = EntriesOf(lmVideoError);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].Level, llError);
    const std::string values = errors[0].Values;
    EXPECT_NE(values.find(" not sent: the frame could not be loaded as a bitmap (bitmap pixels incomplete)"),
              std::string::npos)
        << values;

    // The next broadcast reports afresh.
    Log.Entries.clear();
    ASSERT_TRUE(Control->StartVideo());
    ASSERT_TRUE(WaitForPackets(Sink.Packets.size() + 1));
    Control->VideoThread()->ProcessFrame(header);
    Control->StopVideo();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(EntriesOf(lmVideoError).size(), 1u);
}

TEST_F(VideoThreadTest, ThePreviewKeepsTheLastFrameOnlyWhileAViewWantsIt) {
    ASSERT_TRUE(Control->StartVideo());
    ASSERT_TRUE(WaitForPackets(2));
    EXPECT_EQ(Control->Preview().FramesPresented(), 0u) << "nothing is copied without a view";
    EXPECT_TRUE(Control->Preview().Frame().isNull());
    int told = 0;
    Control->Preview().OnPresented = [&told] { ++told; };
    Control->Preview().SetEnabled(true);
    ASSERT_TRUE(WaitForPackets(Sink.Packets.size() + 2));
    EXPECT_GT(told, 0);
    const QImage frame = Control->Preview().Frame();
    ASSERT_EQ(frame.size(), QSize(640, 480));
    // The preview is the frame that was sent, upright: the device draws its counter in the top-left
    // corner, which a picture upside down would show at the bottom.
    const test::TDecodedJpeg sent =
        test::DecodeJpeg(Sink.Packets.back().Jpeg.data(), Sink.Packets.back().Jpeg.size());
    ASSERT_TRUE(sent.Ok);
    double squares = 0;
    for (int y = 0; y < 480; ++y) {
        for (int x = 0; x < 640; ++x) {
            const QRgb preview = frame.pixel(x, y);
            const uint8_t* jpeg = sent.Pixel(x, y);
            for (const int d :
                 {qBlue(preview) - jpeg[0], qGreen(preview) - jpeg[1], qRed(preview) - jpeg[2]}) {
                squares += d * d;
            }
        }
    }
    EXPECT_GT(10.0 * std::log10(255.0 * 255.0 / (squares / (640.0 * 480 * 3))), 30.0);
    Control->StopVideo();
    EXPECT_TRUE(Control->Preview().Frame().isNull());
}

TEST_F(VideoThreadTest, VideoDisabledStartsNoThread) {
    Config->Video().SetEnabled(false);
    EXPECT_TRUE(Control->StartVideo());
    EXPECT_EQ(Control->VideoState(), vsInitialized);
    EXPECT_EQ(Control->VideoThread(), nullptr);
    EXPECT_FALSE(Control->CaptureWindow()->Visible());
    EXPECT_TRUE(Control->StopVideo());
    test::ProcessEventsFor(100);
    EXPECT_TRUE(Sink.Packets.empty());
}

} // namespace
} // namespace sw
