#include "publish/PublishSession.h"

#include "common/MediaTools.h"
#include "common/TestSupport.h"

#include <cmath>
#include <gtest/gtest.h>

namespace sw {
namespace {

using namespace std::chrono_literals;

// A session written to a file instead of a server: the same encoders and muxers, read back by ffprobe.
class PublishSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::MediaToolsInstalled()) {
            GTEST_SKIP()
                << "ffprobe and ffmpeg (package ffmpeg) are not installed; scripts/bootstrap installs them";
        }
        Format.Video = true;
        Format.Width = 320;
        Format.Height = 240;
        Format.KeyframeSeconds = 1;
        Format.Audio = true;
        Format.AudioFormat.wFormatTag = 1;
        Format.AudioFormat.nChannels = 1;
        Format.AudioFormat.nSamplesPerSec = 8000;
        Format.AudioFormat.wBitsPerSample = 8;
    }

    TPublishTarget FileTarget(const std::string& name, const std::string& muxer, bool standardRate) const {
        TPublishTarget target;
        target.Valid = true;
        target.Url = Dir.File(name);
        target.Muxer = muxer;
        target.NeedsStandardSampleRate = standardRate;
        return target;
    }

    // Top half red, bottom half blue, as the picture shows it.
    static TQueuedFrame Frame(uint32_t number, TPublishClock::time_point time) {
        TBitmap bitmap;
        bitmap.SetSize(320, 240, 24);
        for (int32_t y = 0; y < 240; ++y) {
            uint8_t* row = bitmap.ScanLine(y);
            for (int32_t x = 0; x < 320; ++x) {
                row[3 * x] = y < 120 ? 0 : 255;
                row[3 * x + 2] = y < 120 ? 255 : 0;
            }
        }
        TQueuedFrame frame;
        frame.Pixels.assign(bitmap.Bits(), bitmap.Bits() + bitmap.ImageBytes());
        frame.Width = 320;
        frame.Height = 240;
        frame.Stride = bitmap.Stride();
        frame.BitsPerPixel = 24;
        frame.Number = number;
        frame.Time = time;
        return frame;
    }

    // A quarter second of a 1 kHz tone, 8-bit unsigned, handed over when its last sample was recorded.
    TQueuedPcm Pcm(TPublishClock::time_point end) const {
        TQueuedPcm pcm;
        pcm.Format = Format.AudioFormat;
        pcm.Time = end;
        for (int i = 0; i < 2000; ++i) {
            pcm.Bytes.push_back(static_cast<uint8_t>(128 + 100 * std::sin(2 * M_PI * 1000 * i / 8000.0)));
        }
        return pcm;
    }

    // Three seconds of frames at 30 fps and sound, in the order they would arrive.
    void WriteThreeSeconds(TPublishSession& session) {
        const auto base = TPublishClock::now();
        int pcm = 0;
        std::string error;
        for (int i = 0; i < 90; ++i) {
            const auto time = base + std::chrono::microseconds(i * 33333);
            while (base + (pcm + 1) * 250ms <= time) {
                ASSERT_TRUE(session.WritePcm(Pcm(base + ++pcm * 250ms), error)) << error;
            }
            ASSERT_TRUE(session.WriteFrame(Frame(static_cast<uint32_t>(i), time), error)) << error;
        }
        while (pcm < 12) {
            ASSERT_TRUE(session.WritePcm(Pcm(base + ++pcm * 250ms), error)) << error;
        }
    }

    test::TTempDir Dir;
    TPublishFormat Format;
    std::atomic<bool> Stop{false};
};

TEST_F(PublishSessionTest, FlvCarriesUprightH264AtTheCaptureRateAndAacAtAStandardRate) {
    TPublishSession session(FileTarget("out.flv", "flv", true), Format, Stop);
    std::string error;
    ASSERT_TRUE(session.Open(error)) << error;
    EXPECT_EQ(session.VideoDescription(),
              "Video: H.264 320x240 30 fps, 250 kbit/s, veryfast, keyframe every 30 frames");
    EXPECT_EQ(session.AudioDescription(), "Audio: AAC 48000 Hz, 1 channel, 64 kbit/s");
    WriteThreeSeconds(session);
    EXPECT_EQ(session.FramesWritten(), 90u);
    session.Close();

    const std::string file = Dir.File("out.flv");
    const auto streams = test::ProbeStreams(file);
    const test::TMediaStream* video = test::FindStream(streams, "video");
    const test::TMediaStream* audio = test::FindStream(streams, "audio");
    ASSERT_TRUE(video && audio) << test::ReadFile(file).size() << " bytes";
    EXPECT_EQ(video->CodecName, "h264");
    EXPECT_EQ(video->Width, 320);
    EXPECT_EQ(video->Height, 240);
    EXPECT_NEAR(video->FrameRate, 30, 0.5);
    EXPECT_EQ(audio->CodecName, "aac");
    EXPECT_EQ(audio->SampleRate, 48000);
    EXPECT_EQ(audio->Channels, 1);

    const auto packets = test::ProbePackets(file, "v");
    ASSERT_EQ(packets.size(), 90u);
    std::vector<double> keyTimes;
    for (const auto& packet : packets) {
        if (packet.Key) {
            keyTimes.push_back(packet.Time);
        }
    }
    ASSERT_EQ(keyTimes.size(), 3u) << "a keyframe every second, no others";
    EXPECT_NEAR(keyTimes[1] - keyTimes[0], 1.0, 0.01);
    EXPECT_NEAR(keyTimes[2] - keyTimes[1], 1.0, 0.01);
    const auto sound = test::ProbePackets(file, "a");
    ASSERT_FALSE(sound.empty());
    EXPECT_NEAR(sound.back().Time - sound.front().Time, 3.0, 0.1) << "three seconds of sound";

    const test::TRgbPicture picture = test::DecodePicture(file, 320, 240);
    ASSERT_EQ(picture.Width, 320);
    const uint8_t* top = picture.At(160, 40);
    const uint8_t* bottom = picture.At(160, 200);
    EXPECT_GT(top[0], 200);
    EXPECT_LT(top[2], 60) << "red on top: the bitmap's bottom-up rows are read upright";
    EXPECT_GT(bottom[2], 200);
    EXPECT_LT(bottom[0], 60);
}

TEST_F(PublishSessionTest, MpegTsKeepsTheCaptureSampleRate) {
    TPublishSession session(FileTarget("out.ts", "mpegts", false), Format, Stop);
    std::string error;
    ASSERT_TRUE(session.Open(error)) << error;
    WriteThreeSeconds(session);
    session.Close();
    const auto streams = test::ProbeStreams(Dir.File("out.ts"));
    const test::TMediaStream* audio = test::FindStream(streams, "audio");
    ASSERT_TRUE(audio);
    EXPECT_EQ(audio->SampleRate, 8000);
}

TEST_F(PublishSessionTest, FramesAreStampedByCaptureTimeNotByCount) {
    Format.Audio = false;
    TPublishSession session(FileTarget("gaps.flv", "flv", true), Format, Stop);
    std::string error;
    ASSERT_TRUE(session.Open(error)) << error;
    const auto base = TPublishClock::now();
    auto at = [&](double seconds) { return base + std::chrono::microseconds(std::lround(seconds * 1e6)); };
    for (int i = 0; i < 30; ++i) {
        ASSERT_TRUE(session.WriteFrame(Frame(0, at(i / 30.0)), error));
    }
    // A stall: nothing for half a second, then a burst of three frames 1 ms apart, then steady again.
    for (double t : {1.5, 1.501, 1.502}) {
        ASSERT_TRUE(session.WriteFrame(Frame(0, at(t)), error));
    }
    for (int i = 47; i < 60; ++i) {
        ASSERT_TRUE(session.WriteFrame(Frame(0, at(i / 30.0)), error));
    }
    session.Close();
    EXPECT_EQ(session.FramesSkipped(), 1u) << "the burst's third frame has no slot of its own";
    EXPECT_EQ(session.FramesWritten(), 30u + 2u + 13u);
    const auto packets = test::ProbePackets(Dir.File("gaps.flv"), "v");
    ASSERT_EQ(packets.size(), 45u);
    EXPECT_NEAR(packets[30].Time - packets[29].Time, 1.5 - 29 / 30.0, 0.01) << "the stall stays a gap";
    EXPECT_NEAR(packets.back().Time - packets.front().Time, 59 / 30.0, 0.01) << "the clock is not stretched";
}

TEST(PublishFormatTest, RatesAndDefaults) {
    int num = 0;
    int den = 0;
    FrameRateOf(33333, num, den);
    EXPECT_EQ(num * 1000 / den, 30000);
    FrameRateOf(33367, num, den);
    EXPECT_EQ(num, 30000);
    EXPECT_EQ(den, 1001);
    FrameRateOf(200000, num, den);
    EXPECT_EQ(num / den, 5);
    FrameRateOf(0, num, den);
    EXPECT_EQ(num / den, 30);
    EXPECT_EQ(DefaultVideoBitrateKbps(640, 480, 30), 922);
    EXPECT_EQ(DefaultVideoBitrateKbps(160, 120, 5), 250);
    EXPECT_EQ(DefaultVideoBitrateKbps(1920, 1080, 60), 6000);
    EXPECT_EQ(AacSampleRate(8000, true), 48000);
    EXPECT_EQ(AacSampleRate(44100, true), 44100);
    EXPECT_EQ(AacSampleRate(8000, false), 8000);
    EXPECT_EQ(AacSampleRate(11000, false), 48000);
}

} // namespace
} // namespace sw
