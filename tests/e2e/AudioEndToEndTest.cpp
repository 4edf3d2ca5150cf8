#include "common/ProgramRunner.h"
#include "common/TestSupport.h"
#include "platform/sound/SoundInputTable.h"

#include <arpa/inet.h>
#include <chrono>
#include <cmath>
#include <csignal>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace sw {
namespace {

using TClock = std::chrono::steady_clock;

// An audio viewer: a TCP connection from a chosen loopback address that only reads.
class TAudioViewer {
public:
    TAudioViewer(const char* fromAddress, int port) {
        FFd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, fromAddress, &local.sin_addr);
        ::bind(FFd, reinterpret_cast<sockaddr*>(&local), sizeof local);
        sockaddr_in remote{};
        remote.sin_family = AF_INET;
        remote.sin_port = htons(static_cast<uint16_t>(port));
        remote.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        Connected = ::connect(FFd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) == 0;
    }
    ~TAudioViewer() { ::close(FFd); }
    TAudioViewer(const TAudioViewer&) = delete;
    TAudioViewer& operator=(const TAudioViewer&) = delete;

    // Reads what arrives within waitMs; records when each read returned.
    void Read(int waitMs) {
        pollfd fd{FFd, POLLIN, 0};
        if (::poll(&fd, 1, waitMs) <= 0) {
            return;
        }
        uint8_t buffer[65536];
        const ssize_t got = ::recv(FFd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got > 0) {
            Bytes.insert(Bytes.end(), buffer, buffer + got);
            Arrivals.push_back({TClock::now(), Bytes.size()});
        }
    }

    bool Connected = false;
    std::vector<uint8_t> Bytes;
    std::vector<std::pair<TClock::time_point, size_t>> Arrivals;

private:
    int FFd = -1;
};

int MuLawDecode(uint8_t code) {
    const uint8_t inverted = static_cast<uint8_t>(~code);
    const int segment = (inverted >> 4) & 7;
    const int magnitude = ((((inverted & 0x0F) << 3) + 132) << segment) - 132;
    return (inverted & 0x80) ? -magnitude : magnitude;
}

double ToneMagnitude(const std::vector<uint8_t>& codes, double frequency) {
    const double coefficient = 2.0 * std::cos(2.0 * M_PI * frequency / 8000.0);
    double s1 = 0.0;
    double s2 = 0.0;
    for (uint8_t code : codes) {
        const double s0 = MuLawDecode(code) + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return std::sqrt(std::max(0.0, s1 * s1 + s2 * s2 - coefficient * s1 * s2)) /
           static_cast<double>(codes.size());
}

class AudioEndToEndTest : public ::testing::Test {
protected:
    AudioEndToEndTest() : VideoPort(test::FreePort()), AudioPort(test::FreePort()) {}

    void WriteSettings(int frequency, int bits, int channels, const std::string& extra = {}) {
        test::WriteFile(Ini(), "[Video]\r\nEnabled=0\r\nPort=" + std::to_string(VideoPort) +
                                   "\r\n[Audio]\r\nEnabled=1\r\nDevice=" + std::string(kTestToneName) +
                                   "\r\nPort=" + std::to_string(AudioPort) + "\r\nFrequency=" +
                                   std::to_string(frequency) + "\r\nBits=" + std::to_string(bits) +
                                   "\r\nChannels=" + std::to_string(channels) + "\r\n" + extra);
    }
    std::string Ini() const { return Dir.File("sw.ini"); }
    std::unique_ptr<test::TProgramRunner> StartBroadcast() {
        auto program = std::make_unique<test::TProgramRunner>(
            test::BuiltProgram("src/app/streamwright"),
            std::vector<std::string>{"--headless", "--start", "--ini", Ini()});
        EXPECT_TRUE(program->WaitForError("Broadcast  Start")) << program->Errors();
        return program;
    }
    // Reads from every viewer for the given time, draining the program's standard error as it goes
    // (every sent block is logged there, and a full pipe would stall the program).
    void ReadFor(test::TProgramRunner& program, std::vector<TAudioViewer*> viewers, double seconds) {
        const auto end = TClock::now() +
                         std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(seconds));
        while (TClock::now() < end) {
            for (TAudioViewer* viewer : viewers) {
                viewer->Read(10);
            }
            program.Errors();
        }
    }
    void Stop(test::TProgramRunner& program) {
        program.Signal(SIGTERM);
        EXPECT_EQ(program.WaitForExit(), 0);
    }

    test::TTempDir Dir;
    int VideoPort;
    int AudioPort;
};

TEST_F(AudioEndToEndTest, ViewerReceivesEightThousandBytesPerSecond) {
    WriteSettings(8000, 8, 1);
    auto program = StartBroadcast();
    TAudioViewer viewer("127.0.0.1", AudioPort);
    ASSERT_TRUE(viewer.Connected);
    ReadFor(*program, {&viewer}, 31.0);
    Stop(*program);
    ASSERT_GE(viewer.Arrivals.size(), 100u);
    // From the end of the first read to the last: whole blocks of a quarter second each.
    const auto& [firstTime, firstBytes] = viewer.Arrivals.front();
    const auto& [lastTime, lastBytes] = viewer.Arrivals.back();
    const double seconds = std::chrono::duration<double>(lastTime - firstTime).count();
    ASSERT_GE(seconds, 29.0);
    const double rate = static_cast<double>(lastBytes - firstBytes) / seconds;
    EXPECT_NEAR(rate, 8000.0, 80.0);
    EXPECT_EQ(viewer.Bytes.size() % 2000, 0u);
}

TEST_F(AudioEndToEndTest, ToneFrequencyAtEveryOfferedRate) {
    const struct {
        int Frequency;
        int Bits;
        int Channels;
    } formats[] = {{8000, 16, 2}, {11025, 8, 1},  {16000, 16, 1},
                   {22050, 8, 2}, {44100, 16, 2}, {48000, 8, 1}};
    for (const auto& format : formats) {
        SCOPED_TRACE(std::to_string(format.Frequency) + " Hz " + std::to_string(format.Bits) + " bits " +
                     std::to_string(format.Channels) + " channels");
        WriteSettings(format.Frequency, format.Bits, format.Channels);
        auto program = StartBroadcast();
        TAudioViewer viewer("127.0.0.1", AudioPort);
        ASSERT_TRUE(viewer.Connected);
        ReadFor(*program, {&viewer}, 1.5);
        Stop(*program);
        ASSERT_GE(viewer.Bytes.size(), 4000u);
        // Each buffer restarts the 8000-steps rule, so rates that are no multiple of 8000 come out up to
        // a few tenths of a percent fast: look for the peak near the tone rather than at one exact bin.
        double peak = 0.0;
        double tone = 0.0;
        for (double frequency = 900.0; frequency <= 1100.0; frequency += 0.5) {
            double magnitude = ToneMagnitude(viewer.Bytes, frequency);
            if (magnitude > tone) {
                tone = magnitude;
                peak = frequency;
            }
        }
        EXPECT_NEAR(peak, 1000.0, 10.0);
        EXPECT_GT(tone, 5000.0);
        for (double other : {250.0, 500.0, 1500.0, 2000.0, 3000.0}) {
            EXPECT_LT(ToneMagnitude(viewer.Bytes, other), tone / 20) << other;
        }
    }
}

TEST_F(AudioEndToEndTest, BlockedViewerReceivesNothing) {
    WriteSettings(8000, 8, 1, "[Blocked]\r\n127.0.0.2=1\r\n");
    auto program = StartBroadcast();
    TAudioViewer open("127.0.0.1", AudioPort);
    TAudioViewer blocked("127.0.0.2", AudioPort);
    ASSERT_TRUE(open.Connected && blocked.Connected);
    ReadFor(*program, {&open, &blocked}, 2.0);
    Stop(*program);
    EXPECT_GE(open.Bytes.size(), 4000u);
    EXPECT_TRUE(blocked.Bytes.empty());
}

} // namespace
} // namespace sw
