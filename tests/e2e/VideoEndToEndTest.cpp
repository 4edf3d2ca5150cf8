#include "common/ProgramRunner.h"
#include "common/TestSupport.h"
#include "video/JpegDecode.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace sw {
namespace {

using test::TProgramRunner;

// The headless program broadcasting the test pattern with an overlay, and the viewer tool watching.
class VideoEndToEndTest : public ::testing::Test {
protected:
    VideoEndToEndTest() {
        // The frame number in white in the bottom-right corner.
        test::WriteFile(Ini(), "[Video]\r\nEnabled=1\r\nDevice=Test Pattern\r\nPort=0\r\n"
                               "[Audio]\r\nEnabled=0\r\nPort=0\r\n[Web]\r\nEnabled=0\r\n"
                               "[Text]\r\nFormat=5\r\nCustom=[frame]\r\nColor=16777215\r\nSize=20\r\n"
                               "Alignment=2\r\nAlignmentVertical=2\r\n");
    }
    std::string Ini() const { return Dir.File("streamwright.ini"); }

    std::unique_ptr<TProgramRunner> StartServer() {
        auto server = std::make_unique<TProgramRunner>(
            test::BuiltProgram("src/app/streamwright"),
            std::vector<std::string>{"--headless", "--start", "--ini", Ini()});
        EXPECT_TRUE(server->WaitForError("Listening: ", 20000)) << server->Errors();
        const std::string errors = server->Errors();
        const size_t at = errors.find("Listening: ");
        int audio = 0;
        EXPECT_TRUE(at != std::string::npos &&
                    std::sscanf(errors.c_str() + at, "Listening: video port %d, audio port %d", &VideoPort,
                                &audio) == 2)
            << errors;
        return server;
    }

    std::string Client() const { return test::BuiltProgram("tools/client/streamwright-client"); }

    // The numbers of the summary line: "summary frames=N gaps=N ...".
    static long Summary(const std::string& output, const std::string& key) {
        const size_t at = output.find(" " + key + "=");
        return at == std::string::npos ? -1 : std::atol(output.c_str() + at + key.size() + 2);
    }

    test::TTempDir Dir;
    int VideoPort = 0;
};

TEST_F(VideoEndToEndTest, EveryFrameArrivesInOrderAsAJpegOfTheDeviceSizeWithItsOverlay) {
    std::unique_ptr<TProgramRunner> server = StartServer();
    const std::string frames = Dir.File("frames");
    std::string output;
    std::string errors;
    ASSERT_EQ(test::RunProgram(
                  Client(), {"-v", std::to_string(VideoPort), "--no-audio", "-n", "30", "-j", frames, "-q"},
                  &errors, &output, 60000),
              0)
        << errors;
    EXPECT_EQ(Summary(output, "frames"), 30) << output;
    EXPECT_EQ(Summary(output, "gaps"), 0) << output;
    EXPECT_EQ(Summary(output, "out_of_order"), 0) << output;

    std::vector<std::string> files;
    if (DIR* dir = ::opendir(frames.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] != '.') {
                files.push_back(frames + "/" + entry->d_name);
            }
        }
        ::closedir(dir);
    }
    ASSERT_EQ(files.size(), 30u);
    for (const std::string& file : files) {
        const std::string jpeg = test::ReadFile(file);
        const test::TDecodedJpeg decoded =
            test::DecodeJpeg(reinterpret_cast<const uint8_t*>(jpeg.data()), jpeg.size());
        ASSERT_TRUE(decoded.Ok) << file << ": " << decoded.Error;
        EXPECT_EQ(decoded.Width, 640);
        EXPECT_EQ(decoded.Height, 480);
        // The bars are vertical: without text every column of the corner matches its colour higher up.
        int text = 0;
        for (int y = 420; y < 480; ++y) {
            for (int x = 480; x < 640; ++x) {
                const uint8_t* p = decoded.Pixel(x, y);
                const uint8_t* above = decoded.Pixel(x, 300);
                text +=
                    std::abs(p[0] - above[0]) + std::abs(p[1] - above[1]) + std::abs(p[2] - above[2]) > 150;
            }
        }
        EXPECT_GT(text, 50) << file << " carries no overlay";
    }

    server->Signal(SIGTERM);
    EXPECT_EQ(server->WaitForExit(20000), 0);
    const std::string log = server->Errors();
    EXPECT_NE(log.find("Information  Video  Socket write  127.0.0.1  [00000000: 01 "), std::string::npos);
    EXPECT_EQ(log.find("Error  Video  Error"), std::string::npos) << "no frame failed";
}

TEST_F(VideoEndToEndTest, ConfiguredSizeAndRateReachTheViewer) {
    test::WriteFile(Ini(), "[Video]\r\nEnabled=1\r\nDevice=Test Pattern\r\nPort=0\r\nWidth=1280\r\n"
                           "Height=720\r\nFrameRate=15\r\n[Audio]\r\nEnabled=0\r\nPort=0\r\n"
                           "[Web]\r\nEnabled=0\r\n");
    std::unique_ptr<TProgramRunner> server = StartServer();
    const std::string frames = Dir.File("frames");
    std::string output;
    std::string errors;
    ASSERT_EQ(test::RunProgram(
                  Client(), {"-v", std::to_string(VideoPort), "--no-audio", "-n", "20", "-j", frames, "-q"},
                  &errors, &output, 60000),
              0)
        << errors;
    EXPECT_EQ(Summary(output, "frames"), 20) << output;
    // A loaded machine can only make the stream slower, never faster than the device's pace.
    const size_t fps = output.find(" fps=");
    ASSERT_NE(fps, std::string::npos) << output;
    EXPECT_LE(std::atof(output.c_str() + fps + 5), 16.0) << output;
    int decoded = 0;
    if (DIR* dir = ::opendir(frames.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] == '.') {
                continue;
            }
            const std::string jpeg = test::ReadFile(frames + "/" + entry->d_name);
            const test::TDecodedJpeg image =
                test::DecodeJpeg(reinterpret_cast<const uint8_t*>(jpeg.data()), jpeg.size());
            ASSERT_TRUE(image.Ok) << entry->d_name << ": " << image.Error;
            EXPECT_EQ(image.Width, 1280);
            EXPECT_EQ(image.Height, 720);
            ++decoded;
        }
        ::closedir(dir);
    }
    EXPECT_EQ(decoded, 20);
    server->Signal(SIGTERM);
    EXPECT_EQ(server->WaitForExit(20000), 0);
    const std::string log = server->Errors();
    EXPECT_NE(log.find("dwRequestMicroSecPerFrame   = 66666"), std::string::npos) << log;
    EXPECT_EQ(log.find("not offered"), std::string::npos) << log;
}

TEST_F(VideoEndToEndTest, StopWhileFramesFlowEndsCleanly) {
    std::unique_ptr<TProgramRunner> server = StartServer();
    TProgramRunner viewer(Client(), {"-v", std::to_string(VideoPort), "--no-audio", "-t", "30", "-i", "0.1"});
    ASSERT_TRUE(viewer.WaitForError("frames ", 20000)) << viewer.Errors();
    // Frames are flowing: stop the broadcast under them.
    ASSERT_TRUE(server->WaitForError("Socket write", 10000));
    server->Signal(SIGTERM);
    EXPECT_EQ(server->WaitForExit(20000), 0) << server->Errors();
    const std::string log = server->Errors();
    const size_t stop = log.find("Information  Broadcast  Stop\n");
    ASSERT_NE(stop, std::string::npos) << log;
    const size_t lastUserData = log.rfind("Information  Video  Set user data  Ok\n");
    ASSERT_NE(lastUserData, std::string::npos);
    EXPECT_LT(lastUserData, stop) << "the video thread ended before the broadcast stopped";
    EXPECT_EQ(log.find("Exception"), std::string::npos) << log;

    // The viewer saw whole, well-formed packets up to the end; at most the last one was cut short.
    viewer.WaitForExit(20000);
    const std::string seen = viewer.Errors() + viewer.Output();
    EXPECT_GT(Summary(viewer.Output(), "frames"), 0) << seen;
    EXPECT_EQ(Summary(viewer.Output(), "gaps"), 0) << seen;
    EXPECT_EQ(seen.find("bad "), std::string::npos) << seen;
    EXPECT_EQ(seen.find("does not"), std::string::npos) << seen;
}

} // namespace
} // namespace sw
