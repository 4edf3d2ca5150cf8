#include "engine/EngineFixture.h"
#include "engine/LocalAddresses.h"
#include "log/CommaText.h"
#include "platform/shell/ThreadHandOff.h"
#include "platform/shell/VersionInfo.h"

#include <QObject>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>

namespace sw {
namespace {

using test::CanConnect;
using test::EngineFixture;
using test::ProcessEventsUntil;
using test::TPortHolder;

using StartStopTest = EngineFixture;

TEST_F(StartStopTest, StartingComesFirstWithTheVersion) {
    ASSERT_FALSE(Recorded.empty());
    EXPECT_EQ(Recorded[0].Message, lmStarting);
    EXPECT_EQ(Recorded[0].Detail, VersionText());
    EXPECT_EQ(Recorded[0].Level, llInformation);
}

TEST_F(StartStopTest, StartAndStopToggleListening) {
    const int videoPort = Config->Video().Port();
    const int audioPort = Config->Audio().Port();
    EXPECT_FALSE(CanConnect(videoPort));
    ASSERT_TRUE(Controller->CanStart());
    ASSERT_TRUE(Controller->Start());
    EXPECT_TRUE(Controller->Broadcasting());
    EXPECT_FALSE(Controller->CanStart());
    EXPECT_TRUE(CanConnect(videoPort));
    EXPECT_TRUE(CanConnect(audioPort));
    EXPECT_FALSE(Engine->ServerSocketWeb.Active()) << "the web server is off by default";
    Controller->Stop();
    EXPECT_FALSE(Controller->Broadcasting());
    EXPECT_FALSE(CanConnect(videoPort));
    EXPECT_FALSE(CanConnect(audioPort));
    Settle();
    EXPECT_EQ(RecordedMessages(), (std::vector<uint8_t>{lmStarting, lmStart, lmStop}));
}

TEST_F(StartStopTest, BothBusyPortsAreLoggedAndNothingStarts) {
    TPortHolder video(Config->Video().Port());
    TPortHolder audio(Config->Audio().Port());
    EXPECT_FALSE(Controller->Start());
    Settle();
    EXPECT_EQ(RecordedMessages(), (std::vector<uint8_t>{lmStarting, lmVideoPortInUse, lmAudioPortInUse}));
    EXPECT_EQ(Recorded[1].Level, llError);
    EXPECT_EQ(Recorded[1].Detail, "");
    EXPECT_FALSE(Engine->ServerSocketVideo.Active());
    EXPECT_FALSE(Controller->Broadcasting());
}

TEST_F(StartStopTest, WebPortIsTestedOnlyWhenTheWebServerIsEnabled) {
    TPortHolder web(Config->Web().Port());
    EXPECT_TRUE(Controller->Start());
    Controller->Stop();
    Config->Web().SetEnabled(true);
    EXPECT_FALSE(Controller->Start());
    Settle();
    EXPECT_EQ(Recorded.back().Message, lmWebPortInUse);
}

TEST_F(StartStopTest, EnabledWebServerAcceptsConnections) {
    Config->Web().SetEnabled(true);
    ASSERT_TRUE(Controller->Start());
    EXPECT_TRUE(Engine->ServerSocketWeb.Active());
    EXPECT_TRUE(CanConnect(Config->Web().Port()));
    Controller->Stop();
    EXPECT_FALSE(CanConnect(Config->Web().Port()));
}

// One request without keep-alive: everything the server sends until it closes the connection.
std::string HttpExchange(int port, const std::string& request) {
    TUniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval timeout{5, 0};
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (::connect(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::send(fd.Get(), request.data(), request.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(request.size())) {
        return {};
    }
    std::string reply;
    char buffer[4096];
    for (ssize_t n; (n = ::recv(fd.Get(), buffer, sizeof buffer, 0)) > 0;) {
        reply.append(buffer, static_cast<size_t>(n));
    }
    return reply;
}

TEST_F(StartStopTest, EnabledWebServerServesTheHomeDirectoryAndLogsEachRequest) {
    test::WriteFile(Dir.File("index.htm"), "<p>viewer</p>");
    Config->Web().SetEnabled(true);
    ASSERT_TRUE(Controller->Start());
    std::string reply =
        HttpExchange(Config->Web().Port(), "GET /index.htm HTTP/1.1\r\nUser-Agent: e2e\r\n\r\n");
    EXPECT_EQ(reply.substr(0, 17), "HTTP/1.1 200 OK\r\n");
    EXPECT_EQ(reply.substr(reply.size() - 13), "<p>viewer</p>");
    ASSERT_TRUE(
        ProcessEventsUntil([this] { return !Recorded.empty() && Recorded.back().Message == lmWebGet; }));
    EXPECT_EQ(Recorded.back().Detail, "/index.htm");
    EXPECT_EQ(FromCommaText(Recorded.back().Values),
              (std::vector<std::string>{"Status code: 200", "Remote Address: 127.0.0.1", "Agent: e2e"}));
    Controller->Stop();
}

TEST_F(StartStopTest, FailedDeviceStartRunsStopOnce) {
    int stops = 0;
    Controller->Devices.StartAudioCapture = [] { return false; };
    Controller->Devices.StopAudioCapture = [&stops] { ++stops; };
    EXPECT_FALSE(Controller->Start());
    EXPECT_EQ(stops, 1);
    EXPECT_FALSE(Engine->ServerSocketVideo.Active());
    EXPECT_FALSE(Engine->ServerSocketAudio.Active());
    Settle();
    EXPECT_EQ(RecordedMessages(), (std::vector<uint8_t>{lmStarting, lmStart, lmStop}));
}

TEST_F(StartStopTest, ServerThatCannotListenIsAnExceptionAndStops) {
    // Both ports test free, but the audio server cannot listen where the video server already does.
    Config->Audio().SetPort(Config->Video().Port());
    EXPECT_FALSE(Controller->Start());
    Settle();
    ASSERT_GE(Recorded.size(), 2u);
    EXPECT_EQ(Recorded[Recorded.size() - 2].Message, lmException);
    EXPECT_EQ(Recorded.back().Message, lmStop);
    EXPECT_FALSE(Engine->ServerSocketVideo.Active());
}

TEST_F(StartStopTest, TwoHundredCyclesLeakNoDescriptor) {
    Config->Web().SetEnabled(true);
    ASSERT_TRUE(Controller->Start());
    Controller->Stop();
    Settle();
    const int before = test::OpenDescriptorCount();
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(Controller->Start()) << "cycle " << i;
        Controller->Stop();
    }
    Settle();
    EXPECT_EQ(test::OpenDescriptorCount(), before);
}

TEST_F(StartStopTest, LogFileFollowsTheLinesWithinASecondAndAtStop) {
    const std::string logFile = Dir.File("streamwright.log");
    auto fileLines = [&] {
        std::string text;
        for (const std::string& line : Engine->LogLines()) {
            text += line + "\r\n";
        }
        return text;
    };
    Engine->Log(llInformation, lmConfiguration, Now(), "one");
    ASSERT_TRUE(ProcessEventsUntil([&] { return Engine->LogLines().size() == 2; }));
    EXPECT_TRUE(ProcessEventsUntil([&] { return test::ReadFile(logFile) == fileLines(); }, 2500));

    for (int i = 0; i < 50; ++i) {
        Engine->Log(llInformation, lmWebGet, Now(), std::to_string(i));
    }
    Controller->Start();
    Controller->Stop();
    ASSERT_TRUE(ProcessEventsUntil([&] { return Recorded.back().Message == lmStop; }));
    EXPECT_EQ(test::ReadFile(logFile), fileLines()) << "Stop writes the file at once";
}

TEST_F(StartStopTest, ExceptionInAnEventHandlerIsLoggedAndTheProgramGoesOn) {
    class TThrowing : public QObject {
    protected:
        bool event(QEvent* event) override {
            TakeOverFromThread(event);
            if (event->type() == QEvent::User) {
                throw std::runtime_error("handler failed");
            }
            return QObject::event(event);
        }
    } throwing;
    QCoreApplication::postEvent(&throwing, new QEvent(QEvent::User));
    ASSERT_TRUE(ProcessEventsUntil([&] { return Recorded.back().Message == lmException; }));
    EXPECT_EQ(Recorded.back().Detail, "handler failed");
    EXPECT_EQ(Recorded.back().Level, llError);
    EXPECT_TRUE(Controller->Start()) << "the program goes on";
}

TEST_F(StartStopTest, ClearLogEmptiesTheFile) {
    Controller->Start();
    Controller->Stop();
    Settle();
    Engine->ClearLog();
    EXPECT_TRUE(Engine->LogLines().empty());
    EXPECT_EQ(test::ReadFile(Dir.File("streamwright.log")), "");
}

TEST(LocalAddressesTest, PublicFirstThenLinkLocalThenPrivateThenLoopback) {
    EXPECT_EQ(OrderLocalAddresses({"192.168.1.5", "81.2.3.4"}),
              (std::vector<std::string>{"81.2.3.4", "192.168.1.5", "127.0.0.1"}));
    EXPECT_EQ(OrderLocalAddresses({"10.0.0.1", "169.254.1.1", "8.8.8.8", "172.16.0.1", "169.254.2.2",
                                   "1.1.1.1", "172.32.0.1", "192.169.0.1"}),
              (std::vector<std::string>{"192.169.0.1", "172.32.0.1", "1.1.1.1", "8.8.8.8", "169.254.2.2",
                                        "169.254.1.1", "10.0.0.1", "172.16.0.1", "127.0.0.1"}));
    EXPECT_EQ(OrderLocalAddresses({}), std::vector<std::string>{"127.0.0.1"});
}

TEST(LocalAddressesTest, SourceCanBeReplaced) {
    SetAddressSource([] { return std::vector<std::string>{"192.168.1.5", "81.2.3.4"}; });
    EXPECT_EQ(DefaultHostAddress(), "81.2.3.4");
    SetAddressSource(nullptr);
    std::vector<std::string> real;
    LocalAddresses(real);
    EXPECT_EQ(real.back(), "127.0.0.1");
}

} // namespace
} // namespace sw
