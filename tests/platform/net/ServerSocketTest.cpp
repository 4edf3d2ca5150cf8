#include "platform/net/ServerSocket.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <functional>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>

namespace sw {
namespace {

bool WaitFor(const std::function<bool()>& pred, int timeoutMs = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

void Settle(int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

int OpenDescriptors() {
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir)) {
            ++count;
        }
        ::closedir(dir);
    }
    return count;
}

class ServerSocketTest : public ::testing::Test {
protected:
    void SetUp() override {
        Server.BindAddress = "127.0.0.1";
        Server.Port = 0;
        Server.OnClientConnect = [this](TServerClientSocket&) { ++Connects; };
        Server.OnClientDisconnect = [this](TServerClientSocket&) { ++Disconnects; };
        Server.OnClientError = [this](TServerClientSocket& socket, TErrorEvent kind, int& code) {
            ++Errors;
            LastKind = kind;
            LastCode = code;
            code = 0;
            socket.Close();
        };
        Server.Open();
        ASSERT_GT(Server.LocalPort(), 0);
    }

    TUniqueFd Connect(int receiveBuffer = 0) {
        TUniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (receiveBuffer > 0) {
            ::setsockopt(fd.Get(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        }
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(Server.LocalPort()));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::connect(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        return fd;
    }

    static void Reset(TUniqueFd& fd) {
        linger hard{1, 0};
        ::setsockopt(fd.Get(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        fd.Reset();
    }

    // A connection whose socket is full and that holds a rest of a packet.
    TServerClientSocket* Stall(TUniqueFd& viewer, size_t packetBytes, std::vector<uint8_t>& packet) {
        viewer = Connect(4096);
        EXPECT_TRUE(WaitFor([&] { return Server.ConnectionCount() == 1; }));
        TServerClientSocket* socket = Server.Connections().front();
        const int small = 8192;
        ::setsockopt(socket->SocketHandle(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
        packet.assign(packetBytes, 0x5A);
        for (int i = 0; i < 1000 && socket->PendingBytes() == 0; ++i) {
            socket->SendWhole(packet.data(), packet.size());
        }
        EXPECT_GT(socket->PendingBytes(), 0u);
        return socket;
    }

    TServerSocket Server;
    int Connects = 0;
    int Disconnects = 0;
    int Errors = 0;
    TErrorEvent LastKind = eeGeneral;
    int LastCode = 0;
};

// Viewers leave by close and by reset, each handled inside its notifier's activation: nothing stays.
TEST_F(ServerSocketTest, ManyViewersComingAndGoingLeaveNoConnectionAndNoDescriptor) {
    const int before = OpenDescriptors();
    for (int round = 0; round < 20; ++round) {
        std::vector<TUniqueFd> viewers;
        for (int i = 0; i < 10; ++i) {
            viewers.push_back(Connect());
        }
        ASSERT_TRUE(WaitFor([&] { return Connects == (round + 1) * 10; }));
        for (size_t i = 0; i < viewers.size(); ++i) {
            if (i % 2) {
                Reset(viewers[i]);
            } else {
                viewers[i].Reset();
            }
        }
        ASSERT_TRUE(WaitFor([&] { return Disconnects == (round + 1) * 10; }));
    }
    EXPECT_EQ(Server.ConnectionCount(), 0u);
    EXPECT_EQ(Errors, 100) << "every reset is one error event";
    Settle(20);
    EXPECT_EQ(OpenDescriptors(), before);
}

TEST_F(ServerSocketTest, APacketTheSocketCannotTakeWholeKeepsItsRestAndLaterPacketsAreSkipped) {
    constexpr size_t kHeader = 10;
    constexpr size_t kBody = 6000;
    TUniqueFd viewer = Connect(4096);
    ASSERT_TRUE(WaitFor([&] { return Server.ConnectionCount() == 1; }));
    TServerClientSocket* socket = Server.Connections().front();
    const int small = 8192;
    ::setsockopt(socket->SocketHandle(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);

    std::vector<std::vector<uint8_t>> sent;
    int queued = 0;
    int skipped = 0;
    for (uint8_t n = 1; n < 200; ++n) {
        uint8_t header[kHeader];
        std::memset(header, n, sizeof header);
        header[0] = 0x01;
        std::vector<uint8_t> body(kBody, n);
        const TSendResult result = socket->SendWhole(header, kHeader, body.data(), body.size());
        ASSERT_NE(result, TSendResult::Failed);
        ASSERT_LE(socket->PendingBytes(), kHeader + kBody);
        if (result == TSendResult::Queued) {
            ++queued;
        }
        if (result == TSendResult::Skipped) {
            ++skipped;
        } else {
            std::vector<uint8_t> packet(kHeader + kBody, n);
            packet[0] = 0x01;
            sent.push_back(std::move(packet));
        }
    }
    ASSERT_EQ(queued, 1) << "one rest at most, then everything waits for it";
    ASSERT_GT(skipped, 0);

    std::string received;
    ASSERT_TRUE(WaitFor([&] {
        char buffer[65536];
        ssize_t n;
        while ((n = ::recv(viewer.Get(), buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
            received.append(buffer, static_cast<size_t>(n));
        }
        return socket->PendingBytes() == 0 && received.size() == sent.size() * (kHeader + kBody);
    }));
    for (size_t i = 0; i < sent.size(); ++i) {
        ASSERT_EQ(0, std::memcmp(received.data() + i * (kHeader + kBody), sent[i].data(), kHeader + kBody))
            << "packet " << i;
    }
    const uint8_t next[4] = {1, 2, 3, 4};
    EXPECT_EQ(socket->SendWhole(next, sizeof next), TSendResult::Sent) << "the flushed rest frees the viewer";
}

// An error handler that only marks the error handled once left the connection open, and its
// level-triggered notifiers reported the same dead socket again and again.
TEST_F(ServerSocketTest, AnErrorClosesTheConnectionEvenWhenTheHandlerLeavesItOpen) {
    Server.OnClientError = [this](TServerClientSocket&, TErrorEvent kind, int& code) {
        ++Errors;
        LastKind = kind;
        LastCode = code;
        code = 0;
    };
    TUniqueFd viewer;
    std::vector<uint8_t> packet;
    TServerClientSocket* socket = Stall(viewer, 5000, packet);
    (void)socket;
    Reset(viewer);
    ASSERT_TRUE(WaitFor([&] { return Disconnects == 1; }));
    Settle(100);
    EXPECT_EQ(Errors, 1);
    EXPECT_EQ(LastCode, 10054);
    EXPECT_EQ(Server.ConnectionCount(), 0u);
}

TEST_F(ServerSocketTest, AConnectionClosedInsideItsConnectEventIsReportedGone) {
    Server.OnClientConnect = [this](TServerClientSocket& socket) {
        ++Connects;
        socket.Close();
        EXPECT_FALSE(socket.Connected());
        EXPECT_EQ(socket.SendWhole(reinterpret_cast<const uint8_t*>("x"), 1), TSendResult::Closed);
    };
    TUniqueFd viewer = Connect();
    ASSERT_TRUE(WaitFor([&] { return Disconnects == 1; }));
    EXPECT_EQ(Connects, 1);
    char byte;
    EXPECT_EQ(::recv(viewer.Get(), &byte, 1, 0), 0);
}

// Out of descriptors, the listening socket stays readable; accepting must pause instead of spinning
// the main thread, and resume once descriptors are free again.
TEST_F(ServerSocketTest, RunningOutOfDescriptorsPausesAcceptingWithoutSpinning) {
    std::vector<TUniqueFd> viewers;
    for (int i = 0; i < 10; ++i) {
        viewers.push_back(Connect());
    }
    {
        // UBSan's vptr check reads memory through a pipe the first time it meets a type, which fails
        // without free descriptors; meeting QSocketNotifier now caches the check.
        QSocketNotifier warm(static_cast<qintptr>(viewers.front().Get()), QSocketNotifier::Read);
        warm.setEnabled(false);
    }
    rlimit original{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &original), 0);
    rlimit tight = original;
    tight.rlim_cur = static_cast<rlim_t>(OpenDescriptors()) + 2;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);

    auto cpuMs = [] {
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
               (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
    };
    const double before = cpuMs();
    QEventLoop idle; // sleeps until an event arrives, unlike Settle's polling
    QTimer::singleShot(1000, &idle, &QEventLoop::quit);
    idle.exec();
    const double spent = cpuMs() - before;
    const size_t acceptedWhileExhausted = Server.ConnectionCount();
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &original), 0);

    EXPECT_LT(acceptedWhileExhausted, 10u) << "the limit never bit";
    // A spinning loop would burn the whole second; a paused one wakes ten times.
    EXPECT_LT(spent, 500.0);
    EXPECT_TRUE(WaitFor([&] { return Server.ConnectionCount() == 10; }));
    EXPECT_EQ(Connects, 10);
}

} // namespace
} // namespace sw
