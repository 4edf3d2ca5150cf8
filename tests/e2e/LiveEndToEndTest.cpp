#include "common/MediaTools.h"
#include "common/MultipartParts.h"
#include "common/ProgramRunner.h"
#include "common/TestSupport.h"
#include "platform/sound/SoundInputTable.h"
#include "video/JpegDecode.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

namespace sw {
namespace {

using test::TProgramRunner;

constexpr const char* kCurl = "/usr/bin/curl";

// The headless program broadcasting the test pattern and the test tone with its web server on, and
// the ordinary HTTP clients a user would point at the live resources.
class LiveEndToEndTest : public ::testing::Test {
protected:
    LiveEndToEndTest() {
        ::mkdir(Dir.File("www").c_str(), 0755);
        // The per-packet "Socket write" entries are switched off: nothing here reads them.
        test::WriteFile(Ini(),
                        "[Video]\r\nEnabled=1\r\nDevice=Test Pattern\r\nPort=0\r\n[Audio]\r\nEnabled=1\r\n"
                        "Device=" +
                            std::string(kTestToneName) +
                            "\r\nPort=0\r\n[Web]\r\nEnabled=1\r\nPort=0\r\nPath=" + Dir.File("www") +
                            "\r\n[Text]\r\nFormat=5\r\nCustom=[frame]\r\n[Log]\r\n20=0\r\n33=0\r\n");
    }
    std::string Ini() const { return Dir.File("streamwright.ini"); }

    void StartServer() {
        Server = std::make_unique<TProgramRunner>(
            test::BuiltProgram("src/app/streamwright"),
            std::vector<std::string>{"--headless", "--start", "--ini", Ini()});
        ASSERT_TRUE(Server->WaitForError("web port ", 20000)) << Server->Errors();
        const std::string errors = Server->Errors();
        ASSERT_EQ(std::sscanf(errors.c_str() + errors.find(", web port "), ", web port %d", &WebPort), 1);
    }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(WebPort) + path;
    }

    // Runs curl to its end, keeping the program's standard error drained meanwhile.
    int Curl(const std::vector<std::string>& arguments, std::string* output = nullptr,
             int timeoutMs = 30000) {
        TProgramRunner curl(kCurl, arguments);
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        int code = -1;
        while (std::chrono::steady_clock::now() < end && (code = curl.WaitForExit(100)) == -1) {
            Server->Errors();
        }
        if (output) {
            *output = curl.Output();
        }
        return code;
    }

    void TearDown() override {
        if (Server) {
            Server->Signal(SIGTERM);
            EXPECT_EQ(Server->WaitForExit(20000), 0) << Server->Errors();
        }
    }

    test::TTempDir Dir;
    std::unique_ptr<TProgramRunner> Server;
    int WebPort = 0;
};

TEST_F(LiveEndToEndTest, CurlGetsTheStreamAsWholeJpegsOfTheDeviceSizeInFrameOrder) {
    StartServer();
    const std::string file = Dir.File("stream.mjpg");
    // curl stops itself after three seconds (exit code 28) with everything received, response header
    // included, in the file.
    Curl({"-s", "-i", "--max-time", "3", "-o", file, Url("/live/stream.mjpg")});
    const std::string data = test::ReadFile(file);
    EXPECT_NE(data.find("Content-Type: multipart/x-mixed-replace; boundary=streamwright-frame\r\n"),
              std::string::npos);
    bool malformed = false;
    const std::vector<test::TStreamPart> parts = test::ParseStreamParts(data, malformed);
    EXPECT_FALSE(malformed);
    ASSERT_GE(parts.size(), 5u);
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) {
            EXPECT_GT(parts[i].Number, parts[i - 1].Number);
        }
        const test::TDecodedJpeg decoded =
            test::DecodeJpeg(reinterpret_cast<const uint8_t*>(parts[i].Body.data()), parts[i].Body.size());
        ASSERT_TRUE(decoded.Ok) << "part " << i << ": " << decoded.Error;
        EXPECT_EQ(decoded.Width, 640);
        EXPECT_EQ(decoded.Height, 480);
    }
}

TEST_F(LiveEndToEndTest, SnapshotAndSoundThroughCurl) {
    StartServer();
    const std::string snapshot = Dir.File("snapshot.jpg");
    // The first frame may still be on its way just after Start: until then the answer is 503.
    std::string status;
    for (int i = 0; i < 100 && status != "200 image/jpeg"; ++i) {
        ASSERT_EQ(
            Curl({"-s", "-o", snapshot, "-w", "%{http_code} %{content_type}", Url("/live/snapshot.jpg")},
                 &status),
            0);
        if (status.rfind("503", 0) == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    ASSERT_EQ(status, "200 image/jpeg");
    const std::string jpeg = test::ReadFile(snapshot);
    const test::TDecodedJpeg decoded =
        test::DecodeJpeg(reinterpret_cast<const uint8_t*>(jpeg.data()), jpeg.size());
    ASSERT_TRUE(decoded.Ok) << decoded.Error;
    EXPECT_EQ(decoded.Width, 640);
    EXPECT_EQ(decoded.Height, 480);

    const std::string sound = Dir.File("sound.ulaw");
    Curl({"-s", "--max-time", "2", "-o", sound, Url("/live/audio")});
    const std::string bytes = test::ReadFile(sound);
    ASSERT_GE(bytes.size(), 800u) << "a tenth of a second at least";
    // The test tone, not silence: mu-law bytes of silence are 0xFF and 0x7F.
    size_t loud = 0;
    for (char c : bytes) {
        const uint8_t u = static_cast<uint8_t>(~static_cast<uint8_t>(c));
        loud += (u & 0x70) >= 0x40 ? 1 : 0;
    }
    EXPECT_GT(loud, bytes.size() / 10);
}

TEST_F(LiveEndToEndTest, FfprobeReadsTheStreamAsMjpegOfTheDeviceSize) {
    if (!test::MediaToolsInstalled()) {
        GTEST_SKIP() << "ffprobe is not installed (scripts/bootstrap installs package ffmpeg)";
    }
    StartServer();
    std::string errors;
    const std::vector<test::TMediaStream> streams = test::ProbeStreams(Url("/live/stream.mjpg"), &errors);
    Server->Errors();
    const test::TMediaStream* video = test::FindStream(streams, "video");
    ASSERT_NE(video, nullptr) << errors;
    EXPECT_EQ(video->CodecName, "mjpeg");
    EXPECT_EQ(video->Width, 640);
    EXPECT_EQ(video->Height, 480);
    const test::TRgbPicture picture = test::DecodePicture(Url("/live/stream.mjpg"), 640, 480, 3);
    EXPECT_EQ(picture.Pixels.size(), 640u * 480u * 3u) << "ffmpeg decodes frames of it";
}

} // namespace
} // namespace sw
