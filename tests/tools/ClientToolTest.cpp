#include "VideoPacket.h"
#include "client/MuLaw.h"
#include "common/ProgramRunner.h"
#include "common/TestSupport.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace sw::client {
namespace {

std::string Jpeg(char fill) {
    return "\xFF\xD8" + std::string(300, fill) + "\xFF\xD9";
}

// A one-connection stand-in for a broadcast port on 127.0.0.1: sends its bytes, then holds the
// connection open for a while (or until the client leaves) and closes it.
class TFakePort {
public:
    TFakePort(std::string bytes, int holdMs) {
        FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        EXPECT_EQ(::bind(FListen, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        EXPECT_EQ(::listen(FListen, 4), 0);
        ::getsockname(FListen, reinterpret_cast<sockaddr*>(&addr), &len);
        Port = ntohs(addr.sin_port);
        FThread = std::thread([this, data = std::move(bytes), holdMs] {
            pollfd p{FListen, POLLIN, 0};
            if (::poll(&p, 1, 10000) != 1) {
                return;
            }
            int fd = ::accept(FListen, nullptr, nullptr);
            if (fd < 0) {
                return;
            }
            size_t done = 0;
            while (done < data.size()) {
                ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
                if (n <= 0) {
                    break;
                }
                done += static_cast<size_t>(n);
            }
            const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(holdMs);
            while (!FStop.load() && std::chrono::steady_clock::now() < until) {
                pollfd c{fd, POLLIN, 0};
                char byte;
                if (::poll(&c, 1, 20) == 1 && ::recv(fd, &byte, 1, 0) <= 0) {
                    break;
                }
            }
            ::close(fd);
        });
    }

    ~TFakePort() {
        FStop = true;
        FThread.join();
        ::close(FListen);
    }

    int Port = 0;

private:
    int FListen = -1;
    std::atomic<bool> FStop{false};
    std::thread FThread;
};

struct TRun {
    int ExitCode = -1;
    std::string Out;
    std::string Err;
};

class ClientToolTest : public ::testing::Test {
protected:
    std::string Path(const char* name) const { return FDir.File(name); }

    // Runs the tool; with interruptAfterMs it gets SIGINT after that long.
    TRun Run(std::vector<std::string> args, int interruptAfterMs = -1) {
        const std::string out = Path("stdout.txt");
        const std::string err = Path("stderr.txt");
        args.insert(args.begin(), test::BuiltProgram("tools/client/streamwright-client"));
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
        if (pid < 0) {
            // kill(-1) below would interrupt every process there is.
            ADD_FAILURE() << "fork failed";
            return {};
        }
        if (interruptAfterMs >= 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(interruptAfterMs));
            ::kill(pid, SIGINT);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        TRun run;
        run.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        run.Out = test::ReadFile(out);
        run.Err = test::ReadFile(err);
        return run;
    }

    test::TTempDir FDir;
};

TEST_F(ClientToolTest, AGoodStreamIsCountedWithItsGapsAndSaved) {
    const std::string stream = Packet(1, Jpeg('a')) + Packet(2, Jpeg('b')) + Packet(5, Jpeg('c'));
    TFakePort video(stream, 0);
    TRun run = Run({"--no-audio", "-v", std::to_string(video.Port), "-q", "--jpeg-dir", Path("frames"),
                    "--mjpeg", Path("all.mjpeg")});
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_NE(run.Out.find("summary frames=3 gaps=1 missed=2 out_of_order=0 video_bytes=" +
                           std::to_string(stream.size())),
              std::string::npos)
        << run.Out;
    EXPECT_EQ(test::ReadFile(Path("frames/frame-000001.jpg")), Jpeg('a'));
    EXPECT_EQ(test::ReadFile(Path("frames/frame-000003.jpg")), Jpeg('c'));
    EXPECT_EQ(test::ReadFile(Path("all.mjpeg")), Jpeg('a') + Jpeg('b') + Jpeg('c'));
}

TEST_F(ClientToolTest, CorruptedStreamsFailWithAClearMessage) {
    const std::string good = Packet(1, Jpeg('a'));
    struct TCase {
        std::string Stream;
        std::string Message;
    } cases[] = {
        {good + "\x7F" + good, "malformed video stream: bad packet tag 0x7F at stream offset 314"},
        {Packet(2, "\xFF\xD8" + std::string(50, 'x')), "does not end with FF D9 (truncated JPEG)"},
        {good + good.substr(0, 100), "the stream ended inside frame 1: 90 of 304 JPEG bytes received"},
        {good.substr(0, 5) + "\x09" + good.substr(6), "bad length tag 0x09"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Message);
        TFakePort video(c.Stream, 0);
        TRun run = Run({"--no-audio", "-v", std::to_string(video.Port), "-q"});
        EXPECT_EQ(run.ExitCode, 1);
        EXPECT_NE(run.Err.find(c.Message), std::string::npos) << run.Err;
    }
}

TEST_F(ClientToolTest, AudioIsRecordedAsMuLawAndAsDecodedPcm) {
    std::string audio;
    for (int i = 0; i < 1001; ++i) {
        audio += static_cast<char>(i * 11);
    }
    TFakePort port(audio, 0);
    TRun run = Run({"--no-video", "-a", std::to_string(port.Port), "-q", "--wav", Path("a.wav"), "--pcm-wav",
                    Path("p.wav")});
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_NE(run.Out.find("audio_bytes=1001"), std::string::npos) << run.Out;
    const std::string muLaw = test::ReadFile(Path("a.wav"));
    ASSERT_EQ(muLaw.size(), 58u + 1002u);
    EXPECT_EQ(muLaw.substr(58, 1001), audio);
    const std::string pcm = test::ReadFile(Path("p.wav"));
    ASSERT_EQ(pcm.size(), 44u + 2002u);
    for (size_t i = 0; i < audio.size(); ++i) {
        const int16_t sample = static_cast<int16_t>(static_cast<uint8_t>(pcm[44 + 2 * i]) |
                                                    (static_cast<uint8_t>(pcm[45 + 2 * i]) << 8));
        ASSERT_EQ(sample, MuLawToLinear(static_cast<uint8_t>(audio[i]))) << i;
    }
}

TEST_F(ClientToolTest, StopsAfterTheFrameLimitTheTimeLimitOrCtrlC) {
    {
        TFakePort video(Packet(1, Jpeg('a')) + Packet(2, Jpeg('b')) + Packet(3, Jpeg('c')), 10000);
        TRun run = Run({"--no-audio", "-v", std::to_string(video.Port), "-q", "--frames", "2"});
        EXPECT_EQ(run.ExitCode, 0) << run.Err;
        EXPECT_NE(run.Out.find("summary frames=2 "), std::string::npos) << run.Out;
    }
    {
        TFakePort video("", 10000);
        TFakePort audio("", 10000);
        const auto start = std::chrono::steady_clock::now();
        TRun run = Run({"-v", std::to_string(video.Port), "-a", std::to_string(audio.Port), "--seconds",
                        "0.3", "--interval", "0.1"});
        EXPECT_EQ(run.ExitCode, 0) << run.Err;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        EXPECT_NE(run.Out.find("summary frames=0 "), std::string::npos) << run.Out;
        EXPECT_NE(run.Err.find("fps"), std::string::npos) << "progress lines: " << run.Err;
    }
    {
        // A packet cut by the stop is no error: the viewer chose to stop.
        TFakePort video(Packet(1, Jpeg('a')).substr(0, 20), 10000);
        TRun run = Run({"--no-audio", "-v", std::to_string(video.Port), "-q"}, 300);
        EXPECT_EQ(run.ExitCode, 0) << run.Err;
        EXPECT_NE(run.Out.find("summary frames=0 "), std::string::npos) << run.Out;
    }
}

TEST_F(ClientToolTest, UnreachablePortsAndBadArgumentsHaveTheirOwnStatus) {
    int closedPort;
    {
        TFakePort gone("", 0);
        closedPort = gone.Port;
        TRun served = Run({"--no-audio", "-v", std::to_string(gone.Port), "-q"});
        EXPECT_EQ(served.ExitCode, 0);
    }
    TRun refused = Run({"--no-audio", "-v", std::to_string(closedPort)});
    EXPECT_EQ(refused.ExitCode, 3);
    EXPECT_NE(refused.Err.find("cannot connect to the video port 127.0.0.1:" + std::to_string(closedPort)),
              std::string::npos)
        << refused.Err;

    for (const std::vector<std::string>& args : {std::vector<std::string>{"--frames", "0"},
                                                 {"--video-port", "70000"},
                                                 {"--no-video", "--no-audio"},
                                                 {"--no-video", "--mjpeg", "x"},
                                                 {"--bogus"},
                                                 {"--seconds"},
                                                 {"a", "b"}}) {
        TRun run = Run(args);
        EXPECT_EQ(run.ExitCode, 2) << args[0];
        EXPECT_NE(run.Err.find("--help"), std::string::npos);
    }
    TRun help = Run({"--help"});
    EXPECT_EQ(help.ExitCode, 0);
    for (const char* option : {"--video-port", "--audio-port", "--frames", "--seconds", "--jpeg-dir",
                               "--mjpeg", "--wav", "--pcm-wav", "Exit status"}) {
        EXPECT_NE(help.Out.find(option), std::string::npos) << option;
    }
}

} // namespace
} // namespace sw::client
