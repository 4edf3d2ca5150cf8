#include "common/MediaTools.h"
#include "common/NginxRtmp.h"
#include "common/PatternReader.h"
#include "common/ProgramRunner.h"
#include "common/TestSupport.h"

#include <QElapsedTimer>
#include <QThread>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>

namespace sw {
namespace {

using test::TProgramRunner;

size_t Occurrences(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) {
        ++count;
    }
    return count;
}

// The headless program broadcasting the test pattern and the test tone, publishing to a URL.
class PublishEndToEndTest : public ::testing::Test {
protected:
    PublishEndToEndTest() {
        test::WriteFile(Ini(),
                        "[Video]\r\nEnabled=1\r\nDevice=Test Pattern\r\nPort=0\r\n"
                        "[Audio]\r\nEnabled=1\r\nDevice=Test Tone\r\nPort=0\r\n[Web]\r\nEnabled=0\r\n");
    }
    std::string Ini() const { return Dir.File("streamwright.ini"); }

    std::unique_ptr<TProgramRunner> StartBroadcast(const std::string& url) {
        std::vector<std::string> arguments = {"--headless", "--start", "--ini", Ini()};
        if (!url.empty()) {
            arguments.insert(arguments.end(), {"--publish", url});
        }
        auto server = std::make_unique<TProgramRunner>(test::BuiltProgram("src/app/streamwright"), arguments);
        EXPECT_TRUE(server->WaitForError("Listening: ", 20000)) << server->Errors();
        const std::string errors = server->Errors();
        const size_t at = errors.find("Listening: ");
        EXPECT_TRUE(at != std::string::npos &&
                    std::sscanf(errors.c_str() + at, "Listening: video port %d", &VideoPort) == 1)
            << errors;
        return server;
    }

    // Frames a viewer of the built-in video port receives in the given time.
    long ViewerFrames(int seconds) {
        std::string output;
        std::string errors;
        test::RunProgram(test::BuiltProgram("tools/client/streamwright-client"),
                         {"-v", std::to_string(VideoPort), "--no-audio", "-t", std::to_string(seconds), "-q"},
                         &errors, &output, 60000);
        const size_t at = output.find(" frames=");
        return at == std::string::npos ? -1 : std::atol(output.c_str() + at + 8);
    }

    static void StopBroadcast(TProgramRunner& server) {
        server.Signal(SIGINT);
        EXPECT_EQ(server.WaitForExit(30000), 0) << server.Errors();
    }

    test::TTempDir Dir;
    int VideoPort = 0;
};

// Publishing to a real media server: nginx with the RTMP module, recording HLS beside.
class PublishToNginxTest : public PublishEndToEndTest {
protected:
    void SetUp() override {
        const std::string missing = test::TNginxRtmp::Missing();
        if (!missing.empty()) {
            GTEST_SKIP() << missing;
        }
        if (!test::MediaToolsInstalled()) {
            GTEST_SKIP()
                << "ffprobe and ffmpeg (package ffmpeg) are not installed; scripts/bootstrap installs them";
        }
        ASSERT_TRUE(Nginx.Start()) << Nginx.Errors();
    }

    static void ExpectBroadcastStreams(const std::vector<test::TMediaStream>& streams,
                                       const std::string& where) {
        const test::TMediaStream* video = test::FindStream(streams, "video");
        const test::TMediaStream* audio = test::FindStream(streams, "audio");
        ASSERT_TRUE(video) << where;
        ASSERT_TRUE(audio) << where;
        EXPECT_EQ(video->CodecName, "h264") << where;
        EXPECT_EQ(video->Width, 640) << where;
        EXPECT_EQ(video->Height, 480) << where;
        EXPECT_NEAR(video->FrameRate, 30, 3) << where;
        EXPECT_EQ(audio->CodecName, "aac") << where;
        EXPECT_GT(audio->SampleRate, 0) << where;
    }

    // Waits until nginx has written a playlist of at least two segments.
    bool WaitForPlaylist(const std::string& key) {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 90000) {
            if (Occurrences(test::ReadFile(Nginx.Playlist(key)), "#EXTINF") >= 2) {
                return true;
            }
            QThread::msleep(200);
        }
        return false;
    }

    test::TNginxRtmp Nginx;
};

TEST_F(PublishToNginxTest, RtmpAndHlsClientsFindH264AtTheDeviceSizeAndRateWithAacAndThePattern) {
    auto server = StartBroadcast(Nginx.RtmpUrl("cam?token=abc"));
    ASSERT_TRUE(server->WaitForError("  Publish  Connect  ", 30000)) << server->Errors() << Nginx.Errors();

    std::string errors;
    const auto streams = test::ProbeStreams(Nginx.RtmpUrl("cam"), &errors);
    ExpectBroadcastStreams(streams, "RTMP: " + errors);
    ASSERT_TRUE(WaitForPlaylist("cam")) << Nginx.Errors();
    ExpectBroadcastStreams(test::ProbeStreams(Nginx.Playlist("cam")), "HLS");

    const test::TRgbPicture picture = test::DecodePicture(Nginx.RtmpUrl("cam"), 640, 480);
    ASSERT_EQ(picture.Width, 640) << "no picture decoded";
    const long number = test::ReadPatternCounter(picture.Pixels.data(), 640, 480, 640 * 3);
    ASSERT_GE(number, 0) << "the frame number in the top-left corner, upright";
    for (int bar = 0; bar < 8; ++bar) {
        const int x = test::PatternBarCentre(static_cast<uint32_t>(number), bar, 640);
        const auto expected = test::PatternBarColour(static_cast<uint32_t>(number), x, 640);
        const uint8_t* actual = picture.At(x, 300);
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(actual[c], expected[static_cast<size_t>(c)], 48)
                << "bar " << bar << " at x " << x << " of frame " << number << ", channel " << c;
        }
    }

    StopBroadcast(*server);
    const std::string log = server->Errors();
    EXPECT_NE(log.find("  Publish  Start  rtmp://127.0.0.1:" + std::to_string(Nginx.Port()) + "/live\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("  Publish  Stop  "), std::string::npos);
    EXPECT_NE(log.find("Frames published: "), std::string::npos);
    EXPECT_EQ(log.find("token=abc"), std::string::npos) << "the key never reaches the log";
    EXPECT_EQ(log.find("cam?"), std::string::npos);
}

TEST_F(PublishToNginxTest, AServerGoingAwayIsReconnectedWhenBackWhileTheViewersGoOn) {
    auto server = StartBroadcast(Nginx.RtmpUrl("cam"));
    ASSERT_TRUE(server->WaitForError("  Publish  Connect  ", 30000)) << server->Errors();
    Nginx.Stop();
    ASSERT_TRUE(server->WaitForError("  Publish  Error  ", 30000)) << server->Errors();
    EXPECT_GT(ViewerFrames(3), 0) << "the built-in video port goes on while the media server is gone";
    ASSERT_TRUE(server->WaitForError("  Publish  Reconnect  ", 30000)) << server->Errors();

    ASSERT_TRUE(Nginx.Start()) << Nginx.Errors();
    QElapsedTimer timer;
    timer.start();
    while (Occurrences(server->Errors(), "  Publish  Connect  ") < 2 && timer.elapsed() < 90000) {
        QThread::msleep(100);
    }
    ASSERT_GE(Occurrences(server->Errors(), "  Publish  Connect  "), 2u) << server->Errors();
    ExpectBroadcastStreams(test::ProbeStreams(Nginx.RtmpUrl("cam")), "RTMP after the reconnect");
    EXPECT_GT(ViewerFrames(1), 0);
    StopBroadcast(*server);
}

TEST_F(PublishEndToEndTest, AnUnusableOrUnreachableUrlIsOneEntryAndTheBroadcastGoesOn) {
    const std::string refused = "rtmp://127.0.0.1:" + std::to_string(test::FreePort()) + "/live/key";
    // The last case is publishing switched on in the settings without a URL.
    for (const std::string& url : {std::string("foo://server/live/key"), std::string("rtmp://:1935/live/key"),
                                   refused, std::string()}) {
        if (url.empty()) {
            test::WriteFile(Ini(), test::ReadFile(Ini()) + "[Publish]\r\nEnabled=1\r\n");
        }
        auto server = StartBroadcast(url);
        ASSERT_TRUE(server->WaitForError("  Publish  Error  ", 30000)) << url << "\n" << server->Errors();
        EXPECT_GT(ViewerFrames(2), 0) << url;
        EXPECT_EQ(Occurrences(server->Errors(), "  Publish  Error  "), 1u) << url << "\n" << server->Errors();
        EXPECT_EQ(Occurrences(server->Errors(), "  Broadcast  Stop"), 0u) << url;
        StopBroadcast(*server);
    }
}

} // namespace
} // namespace sw
