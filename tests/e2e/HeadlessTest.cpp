#include "common/ProgramRunner.h"
#include "common/TestSupport.h"
#include "log/CommaText.h"
#include "log/LogTypes.h"

#include <arpa/inet.h>
#include <csignal>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
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

TEST_F(HeadlessTest, PortOutsideTheRangeSaysWhatIsWrong) {
    test::WriteFile(Ini(), "[Video]\r\nPort=99999\r\n[Audio]\r\nPort=" + std::to_string(AudioPort) + "\r\n");
    std::string errors;
    EXPECT_EQ(test::RunProgram(Program(), {"--headless", "--start", "--ini", Ini()}, &errors), 1);
    EXPECT_NE(errors.find("[Video] Port=99999 is no port number: use 1 to 65535"), std::string::npos)
        << errors;
    EXPECT_EQ(LoggedMessages(), (std::vector<int>{lmStarting, lmFiles, lmVideoPortInUse}))
        << "the entry callers rely on";
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
    EXPECT_NE(errors.find("[Video] Device=No Such Camera matches no device; the devices are:"),
              std::string::npos)
        << errors;
    EXPECT_NE(errors.find("\"Test Pattern\""), std::string::npos) << errors;
}

// A first run without the demo's settings listened and sent nothing, without a word.
TEST_F(HeadlessTest, StartWithNothingEnabledSaysSo) {
    TProgramRunner program(Program(), {"--headless", "--start", "--ini", Ini()});
    ASSERT_TRUE(program.WaitForError("Listening:")) << program.Errors();
    EXPECT_NE(program.Errors().find("video and audio are both disabled: nothing will be sent; see --help"),
              std::string::npos)
        << program.Errors();
    program.Signal(SIGTERM);
    EXPECT_EQ(program.WaitForExit(), 0);
}

TEST_F(HeadlessTest, HelpNamesTheFirstSettingsAndTheFiles) {
    std::string output;
    ASSERT_EQ(test::RunProgram(Program(), {"--help"}, nullptr, &output), 0);
    for (const char* text :
         {"[Video]  Enabled=0  Device=  Port=2001", "[Audio]  Enabled=0  Device=  Port=2002",
          "[Web]    Enabled=0  Port=80  Path=", "\"Test Pattern\"", "\"Test Tone\"",
          "src/app/streamwright.ini", "src/app/streamwright.log"}) {
        EXPECT_NE(output.find(text), std::string::npos) << text << "\n" << output;
    }
}

// A FIFO hung the start-up, /dev/null made /dev/null.log and an empty name wrote ".log" here.
TEST_F(HeadlessTest, SettingsFileMustBeARegularFileOrNew) {
    const std::string fifo = Dir.File("fifo.ini");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    struct TCase {
        std::vector<std::string> Arguments;
        const char* Error;
    } cases[] = {
        {{"--headless", "--ini", fifo}, "not a regular file"},
        {{"--headless", "--ini", "/dev/null"}, "not a regular file"},
        {{"--headless", "--ini", Dir.Path()}, "a folder"},
        {{"--headless", "--ini", ""}, "--ini needs a file name"},
        {{"--headless", "--ini"}, "Missing value after '--ini'"},
        {{"--report", "--ini", fifo}, "not a regular file"},
    };
    for (const TCase& c : cases) {
        std::string errors;
        EXPECT_EQ(test::RunProgram(Program(), c.Arguments, &errors, nullptr, 20000), 2) << c.Error;
        EXPECT_NE(errors.find(c.Error), std::string::npos) << errors;
    }
    EXPECT_FALSE(test::FileExists("/dev/null.log"));
    EXPECT_FALSE(test::FileExists(".log"));
    EXPECT_FALSE(test::FileExists(Dir.File("fifo.log")));
}

TEST_F(HeadlessTest, VersionHelpAndBadOptions) {
    std::string output;
    EXPECT_EQ(test::RunProgram(Program(), {"--version"}, nullptr, &output), 0);
    EXPECT_EQ(output.rfind("Streamwright 1.", 0), 0u) << output;
    EXPECT_NE(output.find("License: GPL-3.0-or-later"), std::string::npos) << output;
    EXPECT_EQ(test::RunProgram(Program(), {"--help"}, nullptr, &output), 0);
    EXPECT_NE(output.find("--headless"), std::string::npos);
    std::string errors;
    EXPECT_EQ(test::RunProgram(Program(), {"--bogus"}, &errors), 2);
    EXPECT_NE(errors.find("Unknown option 'bogus'"), std::string::npos) << errors;
    EXPECT_EQ(test::RunProgram(Program(), {"--headless", "stray"}, &errors), 2);
    EXPECT_NE(errors.find("unexpected argument stray"), std::string::npos) << errors;
    // An address that cannot be listened on is refused before anything starts.
    EXPECT_EQ(test::RunProgram(Program(), {"--headless", "--listen", "no-such-host.invalid"}, &errors), 2);
    EXPECT_NE(errors.find("cannot listen on no-such-host.invalid"), std::string::npos) << errors;
}

} // namespace
} // namespace sw
