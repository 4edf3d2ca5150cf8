#include "engine/EngineFixture.h"
#include "engine/LocalAddresses.h"
#include "log/CommaText.h"
#include "platform/shell/ThreadHandOff.h"
#include "platform/shell/VersionInfo.h"

#include <QObject>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
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
    EXPECT_EQ(RecordedMessages(), (std::vector<uint8_t>{lmStarting, lmFiles, lmStart, lmStop}));
}

TEST_F(StartStopTest, BothBusyPortsAreLoggedAndNothingStarts) {
    TPortHolder video(Config->Video().Port());
    TPortHolder audio(Config->Audio().Port());
    EXPECT_FALSE(Controller->Start());
    Settle();
    EXPECT_EQ(RecordedMessages(),
              (std::vector<uint8_t>{lmStarting, lmFiles, lmVideoPortInUse, lmAudioPortInUse}));
    EXPECT_EQ(Recorded[2].Level, llError);
    EXPECT_EQ(Recorded[2].Detail, "");
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
    EXPECT_EQ(RecordedMessages(), (std::vector<uint8_t>{lmStarting, lmFiles, lmStart, lmStop}));
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

namespace sw {
namespace {

using test::EngineFixture;

TEST_F(EngineFixture, FilesInUseFollowStarting) {
    ASSERT_GE(Recorded.size(), 2u);
    EXPECT_EQ(Recorded[1].Message, lmFiles);
    EXPECT_EQ(Recorded[1].Level, llInformation);
    EXPECT_EQ(
        FromCommaText(Recorded[1].Values),
        (std::vector<std::string>{Dir.File("streamwright.ini"), Dir.File("streamwright.log"), Dir.Path()}));
    EXPECT_NE(Recorded[1].Detail.find("log " + Dir.File("streamwright.log")), std::string::npos);
}

// A blocking TCP connection to address:port (IPv4 or IPv6); invalid when refused.
TUniqueFd ConnectTo(const std::string& address, int port) {
    sockaddr_storage where{};
    socklen_t length = 0;
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&where);
    auto* in = reinterpret_cast<sockaddr_in*>(&where);
    if (::inet_pton(AF_INET6, address.c_str(), &in6->sin6_addr) == 1) {
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(static_cast<uint16_t>(port));
        length = sizeof *in6;
    } else if (::inet_pton(AF_INET, address.c_str(), &in->sin_addr) == 1) {
        in->sin_family = AF_INET;
        in->sin_port = htons(static_cast<uint16_t>(port));
        length = sizeof *in;
    } else {
        throw std::invalid_argument(address);
    }
    TUniqueFd fd(::socket(where.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (::connect(fd.Get(), reinterpret_cast<sockaddr*>(&where), length) != 0) {
        return {};
    }
    return fd;
}

bool HasIPv6Loopback() {
    TUniqueFd fd(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in6 any{};
    any.sin6_family = AF_INET6;
    any.sin6_addr = in6addr_loopback;
    return fd && ::bind(fd.Get(), reinterpret_cast<sockaddr*>(&any), sizeof any) == 0;
}

using ListenAddressTest = EngineFixture;

TEST_F(ListenAddressTest, LoopbackOnlyIsNotReachableOnAnotherLocalAddress) {
    Config->Broadcast().SetRunListenAddress("127.0.0.1");
    Config->Web().SetEnabled(true);
    ASSERT_TRUE(Controller->Start());
    for (int port : {Config->Video().Port(), Config->Audio().Port(), Config->Web().Port()}) {
        EXPECT_TRUE(ConnectTo("127.0.0.1", port)) << port;
        EXPECT_FALSE(ConnectTo("127.0.0.2", port)) << port;
    }
    Controller->Stop();
    Config->Broadcast().SetRunListenAddress("");
    ASSERT_TRUE(Controller->Start());
    EXPECT_TRUE(ConnectTo("127.0.0.2", Config->Video().Port())) << "every IPv4 interface by default";
}

TEST_F(ListenAddressTest, IPv6ViewerIsServedAndRegistered) {
    if (!HasIPv6Loopback()) {
        GTEST_SKIP() << "no IPv6 loopback on this machine";
    }
    test::WriteFile(Dir.File("index.htm"), "<html>six</html>");
    Config->Broadcast().SetListenAddress("::1");
    Config->Web().SetEnabled(true);
    ASSERT_TRUE(Controller->Start());
    EXPECT_FALSE(ConnectTo("127.0.0.1", Config->Video().Port()));

    TUniqueFd web = ConnectTo("::1", Config->Web().Port());
    ASSERT_TRUE(web);
    const std::string request = "GET /index.htm HTTP/1.1\r\nHost: [::1]\r\n\r\n";
    ASSERT_EQ(::send(web.Get(), request.data(), request.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(request.size()));
    std::string response;
    char buffer[4096];
    while (response.find("six") == std::string::npos) {
        ssize_t n = ::recv(web.Get(), buffer, sizeof buffer, 0);
        if (n <= 0) {
            break;
        }
        response.append(buffer, static_cast<size_t>(n));
    }
    EXPECT_EQ(response.rfind("HTTP/1.1 200", 0), 0u) << response;
    EXPECT_NE(response.find("<html>six</html>"), std::string::npos);

    TUniqueFd viewer = ConnectTo("::1", Config->Video().Port());
    ASSERT_TRUE(viewer);
    ASSERT_TRUE(ProcessEventsUntil([this] { return Engine->ServerSocketVideo.ConnectionCount() == 1; }));
    EXPECT_EQ(Engine->ServerSocketVideo.Connections()[0]->RemoteAddress(), "::1");
}

TEST_F(ListenAddressTest, PortTestChecksTheListeningAddress) {
    if (!HasIPv6Loopback()) {
        GTEST_SKIP() << "no IPv6 loopback on this machine";
    }
    TUniqueFd holder(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in6 where{};
    where.sin6_family = AF_INET6;
    where.sin6_addr = in6addr_loopback;
    where.sin6_port = htons(static_cast<uint16_t>(Config->Video().Port()));
    ASSERT_EQ(::bind(holder.Get(), reinterpret_cast<sockaddr*>(&where), sizeof where), 0);
    ASSERT_EQ(::listen(holder.Get(), 1), 0);
    Config->Broadcast().SetRunListenAddress("::1");
    EXPECT_FALSE(Controller->Start());
    Settle();
    EXPECT_EQ(RecordedMessages().back(), lmVideoPortInUse) << "taken on ::1 although free on 127.0.0.1";
}

TEST_F(ListenAddressTest, HostNamesResolveAndAForeignAddressFailsTheStartWithItsReason) {
    Config->Broadcast().SetRunListenAddress("localhost");
    ASSERT_TRUE(Controller->Start());
    EXPECT_TRUE(ConnectTo("127.0.0.1", Config->Video().Port()) || ConnectTo("::1", Config->Video().Port()));
    Controller->Stop();
    Settle();
    Recorded.clear();
    // Not this machine's address: the servers cannot listen there, which is no busy port.
    Config->Broadcast().SetRunListenAddress("192.0.2.1");
    EXPECT_FALSE(Controller->Start());
    Settle();
    EXPECT_FALSE(Controller->Broadcasting());
    EXPECT_FALSE(Engine->ServerSocketVideo.Active());
    ASSERT_EQ(RecordedMessages(), (std::vector<uint8_t>{lmStart, lmException, lmStop}));
    EXPECT_NE(Recorded[1].Detail.find(std::strerror(EADDRNOTAVAIL)), std::string::npos) << Recorded[1].Detail;
}

} // namespace
} // namespace sw
