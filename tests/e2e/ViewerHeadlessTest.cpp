#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

std::string ReadFile(const std::string& name) {
    std::string text;
    if (FILE* f = std::fopen(name.c_str(), "rb")) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
            text.append(buffer, n);
        }
        std::fclose(f);
    }
    return text;
}

void WriteFile(const std::string& name, const std::string& text) {
    FILE* f = std::fopen(name.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
}

pid_t Spawn(std::vector<std::string> args, const std::string& out, const std::string& err) {
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = ::fork();
    if (pid == 0) {
        int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(o, 1);
        ::dup2(e, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

int Wait(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The headless program with a broadcast running, its ports chosen by the system.
class ViewerHeadlessTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Dir.isValid());
        Ini = Path("streamwright.ini");
        ServerErr = Path("server.err");
    }

    void TearDown() override {
        if (Server > 0) {
            ::kill(Server, SIGKILL);
            Wait(Server);
        }
    }

    std::string Path(const char* name) const { return Dir.filePath(QString::fromUtf8(name)).toStdString(); }

    void StartServer() {
        std::remove(ServerErr.c_str()); // so an earlier run's ports are never read
        Server =
            Spawn({SW_PROGRAM_PATH, "--headless", "--start", "--ini", Ini}, Path("server.out"), ServerErr);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        for (;;) {
            const std::string err = ReadFile(ServerErr);
            const size_t at = err.find("Listening: ");
            int video = 0;
            int audio = 0;
            if (at != std::string::npos &&
                std::sscanf(err.c_str() + at, "Listening: video port %d, audio port %d", &video, &audio) ==
                    2) {
                VideoPort = std::to_string(video);
                AudioPort = std::to_string(audio);
                return;
            }
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << err;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    int StopServer() {
        ::kill(Server, SIGTERM);
        const int code = Wait(Server);
        Server = -1;
        return code;
    }

    int RunClient(std::vector<std::string> args, std::string* out = nullptr) {
        args.insert(args.begin(), SW_CLIENT_PATH);
        const int code = Wait(Spawn(args, Path("client.out"), Path("client.err")));
        if (out) {
            *out = ReadFile(Path("client.out"));
        }
        return code;
    }

    // Waits until the server's standard error holds the text.
    bool ServerPrinted(const std::string& text) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (ReadFile(ServerErr).find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    QTemporaryDir Dir;
    std::string Ini;
    std::string ServerErr;
    pid_t Server = -1;
    std::string VideoPort;
    std::string AudioPort;
};

TEST_F(ViewerHeadlessTest, AViewerIsLoggedAndAHandBlockedAddressStaysBlockedAcrossRuns) {
    WriteFile(Ini,
              "[Video]\r\nPort=0\r\n[Audio]\r\nPort=0\r\n[Web]\r\nEnabled=0\r\n[Blocked]\r\n127.0.0.9=0\r\n");
    StartServer();
    std::string summary;
    ASSERT_EQ(RunClient({"-v", VideoPort, "-a", AudioPort, "--seconds", "0.5", "-q"}, &summary), 0)
        << ReadFile(Path("client.err"));
    EXPECT_NE(summary.find("summary frames=0 "), std::string::npos) << summary;
    ASSERT_TRUE(ServerPrinted("Client  Disconnect  127.0.0.1  [Duration: 000:00:00:0"));

    ASSERT_EQ(RunClient({"--no-video", "-a", AudioPort, "--bind", "127.0.0.9", "--seconds", "0.3", "-q"}), 0);
    ASSERT_TRUE(ServerPrinted("Client  Disconnect  127.0.0.9"));
    EXPECT_EQ(StopServer(), 0);

    const std::string err = ReadFile(ServerErr);
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
    StartServer();
    ASSERT_EQ(RunClient({"--no-video", "-a", AudioPort, "--bind", "127.0.0.9", "--seconds", "0.2", "-q"}), 0);
    ASSERT_TRUE(ServerPrinted("Client  Disconnect  127.0.0.9"));
    EXPECT_EQ(StopServer(), 0);
    const std::string second = ReadFile(ServerErr);
    EXPECT_NE(second.find("Warning  Client  Connect, blocked  127.0.0.9"), std::string::npos) << second;
    EXPECT_NE(ReadFile(Ini).find("127.0.0.9="), std::string::npos);
    // Message 43 ("Connect, blocked") with the address as detail.
    EXPECT_NE(ReadFile(Path("streamwright.log")).find(",43,127.0.0.9"), std::string::npos)
        << "the log file keeps the entries";
}

} // namespace
