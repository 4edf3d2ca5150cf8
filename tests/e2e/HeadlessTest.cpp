#include "common/ProgramRunner.h"
#include "common/TestSupport.h"
#include "log/CommaText.h"
#include "log/LogTypes.h"

#include <arpa/inet.h>
#include <csignal>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sw {
namespace {

using test::TProgramRunner;
using test::TTempDir;

class HeadlessTest : public ::testing::Test {
protected:
    HeadlessTest() {
        VideoPort = test::FreePort();
        AudioPort = test::FreePort();
        test::WriteFile(Ini(), "[Video]\r\nPort=" + std::to_string(VideoPort) +
                                   "\r\n[Audio]\r\nPort=" + std::to_string(AudioPort) + "\r\n");
    }
    std::string Ini() const { return Dir.File("sw.ini"); }
    std::string LogFile() const { return Dir.File("sw.log"); }
    std::string Program() const { return test::BuiltProgram("src/app/streamwright"); }
    // Message numbers of the log file's lines.
    std::vector<int> LoggedMessages() const {
        std::vector<int> messages;
        for (const std::string& line : SplitLines(test::ReadFile(LogFile()))) {
            std::vector<std::string> items = FromCommaText(line);
            messages.push_back(items.size() == 6 ? std::stoi(items[3]) : -1);
        }
        return messages;
    }

    TTempDir Dir;
    int VideoPort = 0;
    int AudioPort = 0;
};

TEST_F(HeadlessTest, StartOnATakenPortExitsWithOne) {
    test::TPortHolder holder(AudioPort);
    ASSERT_TRUE(holder.Listening());
    std::string errors;
    EXPECT_EQ(test::RunProgram(Program(), {"--headless", "--start", "--ini", Ini()}, &errors), 1);
    EXPECT_NE(errors.find("Audio port in use"), std::string::npos) << errors;
    EXPECT_EQ(errors.find("Video port in use"), std::string::npos) << errors;
    EXPECT_EQ(LoggedMessages(), (std::vector<int>{lmStarting, lmFiles, lmAudioPortInUse}));
}

TEST_F(HeadlessTest, TermDuringABroadcastStopsAndLeavesStopInTheFile) {
    TProgramRunner program(Program(), {"--headless", "--start", "--ini", Ini()});
    ASSERT_TRUE(program.WaitForError("Start")) << program.Errors();
    program.Signal(SIGTERM);
    EXPECT_EQ(program.WaitForExit(), 0) << program.Errors();
    EXPECT_NE(program.Errors().find("Broadcast  Stop"), std::string::npos) << program.Errors();
    EXPECT_EQ(LoggedMessages(), (std::vector<int>{lmStarting, lmFiles, lmStart, lmStop}));
}

TEST_F(HeadlessTest, InterruptWithoutABroadcastJustExits) {
    TProgramRunner program(Program(), {"--headless", "--ini", Ini()});
    ASSERT_TRUE(program.WaitForError("Starting")) << program.Errors();
    program.Signal(SIGINT);
    EXPECT_EQ(program.WaitForExit(), 0);
    EXPECT_EQ(LoggedMessages(), (std::vector<int>{lmStarting, lmFiles}));
}

TEST_F(HeadlessTest, StartIsRefusedWhenEnabledVideoHasNoDevice) {
    test::WriteFile(Ini(),
                    "[Video]\r\nEnabled=1\r\nDevice=No Such Camera\r\nPort=" + std::to_string(VideoPort) +
                        "\r\n[Audio]\r\nPort=" + std::to_string(AudioPort) + "\r\n");
    std::string errors;
    EXPECT_EQ(test::RunProgram(Program(), {"--headless", "--start", "--ini", Ini()}, &errors), 1);
    EXPECT_NE(errors.find("Cannot start: video is enabled"), std::string::npos) << errors;
}

TEST_F(HeadlessTest, VersionHelpAndBadOptions) {
    std::string output;
    EXPECT_EQ(test::RunProgram(Program(), {"--version"}, nullptr, &output), 0);
    EXPECT_EQ(output.rfind("Streamwright 1.", 0), 0u) << output;
    EXPECT_EQ(test::RunProgram(Program(), {"--help"}, nullptr, &output), 0);
    EXPECT_NE(output.find("--headless"), std::string::npos);
    std::string errors;
    EXPECT_EQ(test::RunProgram(Program(), {"--bogus"}, &errors), 2);
    EXPECT_NE(errors.find("unknown option --bogus"), std::string::npos);
}

} // namespace
} // namespace sw
