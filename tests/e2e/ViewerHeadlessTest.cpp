#include "common/ProgramRunner.h"
#include "common/TestSupport.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace sw {
namespace {

using test::TProgramRunner;

// The headless program broadcasting on ports the system chose, and the viewer tool against it.
class ViewerHeadlessTest : public ::testing::Test {
protected:
    std::string Ini() const { return Dir.File("streamwright.ini"); }

    std::unique_ptr<TProgramRunner> StartServer() {
        auto server = std::make_unique<TProgramRunner>(
            test::BuiltProgram("src/app/streamwright"),
            std::vector<std::string>{"--headless", "--start", "--ini", Ini()});
        EXPECT_TRUE(server->WaitForError("Listening: ")) << server->Errors();
        const std::string errors = server->Errors();
        int video = 0;
        int audio = 0;
        const size_t at = errors.find("Listening: ");
        EXPECT_TRUE(
            at != std::string::npos &&
            std::sscanf(errors.c_str() + at, "Listening: video port %d, audio port %d", &video, &audio) == 2)
            << errors;
        VideoPort = std::to_string(video);
        AudioPort = std::to_string(audio);
        return server;
    }

    int RunClient(const std::vector<std::string>& arguments, std::string* output = nullptr) {
        std::string errors;
        const int code = test::RunProgram(test::BuiltProgram("tools/client/streamwright-client"), arguments,
                                          &errors, output);
        EXPECT_EQ(code, 0) << errors;
        return code;
    }

    test::TTempDir Dir;
    std::string VideoPort;
    std::string AudioPort;
};

TEST_F(ViewerHeadlessTest, AViewerIsLoggedAndAHandBlockedAddressStaysBlockedAcrossRuns) {
    test::WriteFile(
        Ini(),
        "[Video]\r\nPort=0\r\n[Audio]\r\nPort=0\r\n[Web]\r\nEnabled=0\r\n[Blocked]\r\n127.0.0.9=0\r\n");
    std::unique_ptr<TProgramRunner> server = StartServer();
    std::string summary;
    ASSERT_EQ(RunClient({"-v", VideoPort, "-a", AudioPort, "--seconds", "0.5", "-q"}, &summary), 0);
    EXPECT_NE(summary.find("summary frames=0 "), std::string::npos) << summary;
    ASSERT_TRUE(server->WaitForError("Client  Disconnect  127.0.0.1  [Duration: 000:00:00:0"))
        << server->Errors();

    ASSERT_EQ(RunClient({"--no-video", "-a", AudioPort, "--bind", "127.0.0.9", "--seconds", "0.3", "-q"}), 0);
    ASSERT_TRUE(server->WaitForError("Client  Disconnect  127.0.0.9")) << server->Errors();
    server->Signal(SIGTERM);
    EXPECT_EQ(server->WaitForExit(), 0);

    const std::string err = server->Errors();
    auto at = [&](const std::string& line) {
        const size_t found = err.find(line);
        EXPECT_NE(found, std::string::npos) << "missing: " << line << "\n" << err;
        return found;
    };
    auto once = [&](const std::string& line) {
        const size_t first = at(line);
        EXPECT_EQ(err.find(line, first + line.size()), std::string::npos) << "twice: " << line;
        return first;
    };
    // The two streams' events may interleave either way; the registry's entries frame them.
    const size_t connect = once("Information  Client  Connect  127.0.0.1\n");
    const size_t videoConnect = at("Information  Video  Socket connect  127.0.0.1\n");
    const size_t bufferSet = at("Information  Video  Socket connect  Ok  [32768]\n");
    const size_t audioConnect = at("Information  Audio  Socket connect  127.0.0.1\n");
    const size_t videoGone = at("Information  Video  Socket disconnect  127.0.0.1\n");
    const size_t audioGone = at("Information  Audio  Socket disconnect  127.0.0.1\n");
    const size_t disconnect = once("Information  Client  Disconnect  127.0.0.1  [Duration: ");
    EXPECT_LT(connect, std::min(videoConnect, audioConnect));
    EXPECT_LT(videoConnect, bufferSet);
    EXPECT_LT(std::max(videoGone, audioGone), disconnect);
    const size_t blocked = at("Warning  Client  Connect, blocked  127.0.0.9\n");
    const size_t blockedConnect = at("Information  Audio  Socket connect  127.0.0.9\n");
    const size_t blockedGone = at("Information  Audio  Socket disconnect  127.0.0.9\n");
    const size_t blockedDisconnect = at("Information  Client  Disconnect  127.0.0.9  [Duration: ");
    const size_t stop = at("Information  Broadcast  Stop\n");
    EXPECT_LT(disconnect, blocked);
    EXPECT_LT(blocked, blockedConnect);
    EXPECT_LT(blockedConnect, blockedGone);
    EXPECT_LT(blockedGone, blockedDisconnect);
    EXPECT_LT(blockedDisconnect, stop);

    // The next run still knows the address as blocked.
    server = StartServer();
    ASSERT_EQ(RunClient({"--no-video", "-a", AudioPort, "--bind", "127.0.0.9", "--seconds", "0.2", "-q"}), 0);
    ASSERT_TRUE(server->WaitForError("Client  Disconnect  127.0.0.9")) << server->Errors();
    server->Signal(SIGTERM);
    EXPECT_EQ(server->WaitForExit(), 0);
    EXPECT_NE(server->Errors().find("Warning  Client  Connect, blocked  127.0.0.9"), std::string::npos)
        << server->Errors();
    EXPECT_NE(test::ReadFile(Ini()).find("127.0.0.9="), std::string::npos);
    // Message 43 ("Connect, blocked") with the address as detail.
    EXPECT_NE(test::ReadFile(Dir.File("streamwright.log")).find(",43,127.0.0.9"), std::string::npos)
        << "the log file keeps the entries";
}

// The viewer page once told visitors a command that the client rejected.
TEST_F(ViewerHeadlessTest, TheCommandTheViewerPageShowsWatchesTheBroadcast) {
    const std::string page = test::ReadFile(std::string(SW_SOURCE_DIR) + "/www/index.htm");
    const size_t pre = page.find("<pre id=\"client-command\">");
    ASSERT_NE(pre, std::string::npos);
    const size_t begin = page.find('>', pre) + 1;
    const size_t end = page.find("</pre>", begin);
    std::string command = page.substr(begin, end - begin);
    ASSERT_TRUE(command.starts_with("streamwright-client ")) << command;
    for (auto [placeholder, value] :
         {std::pair<std::string, std::string>{"VPORT", "VIDEO"}, {"APORT", "AUDIO"}}) {
        size_t at = command.find(placeholder);
        ASSERT_NE(at, std::string::npos) << command;
        command.replace(at, placeholder.size(), value);
    }
    test::WriteFile(Ini(), "[Video]\r\nEnabled=1\r\nDevice=Test Pattern\r\nPort=0\r\n[Audio]\r\nEnabled=1\r\n"
                           "Device=Test Tone\r\nPort=0\r\n");
    std::unique_ptr<TProgramRunner> server = StartServer();
    std::vector<std::string> arguments;
    size_t from = std::string("streamwright-client ").size();
    while (from < command.size()) {
        size_t space = std::min(command.find(' ', from), command.size());
        std::string word = command.substr(from, space - from);
        arguments.push_back(word == "HOST"    ? "127.0.0.1"
                            : word == "VIDEO" ? VideoPort
                            : word == "AUDIO" ? AudioPort
                                              : word);
        from = space + 1;
    }
    arguments.insert(arguments.end(), {"--frames", "5", "-q"});
    std::string summary;
    ASSERT_EQ(RunClient(arguments, &summary), 0);
    EXPECT_NE(summary.find("summary frames=5 "), std::string::npos) << summary;
    server->Signal(SIGTERM);
    EXPECT_EQ(server->WaitForExit(), 0);
}

} // namespace
} // namespace sw
