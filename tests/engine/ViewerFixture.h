#pragma once

#include "common/TestSupport.h"
#include "config/Configuration.h"
#include "engine/BroadcastController.h"
#include "engine/Clients.h"
#include "engine/DataModuleMain.h"
#include "engine/ProgramLifecycle.h"
#include "log/CommaText.h"

#include <QCoreApplication>
#include <arpa/inet.h>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <vector>

namespace sw::test {

// The engine as the program runs it: a configuration on a temporary INI file, the client registry,
// the broadcast controller, and the video and audio servers listening on 127.0.0.1 with ports the
// system chose.
class TViewerFixture : public ::testing::Test {
protected:
    void SetUp() override {
        IniFile = Dir.File("streamwright.ini");
        WriteFile(IniFile, "[Video]\r\nPort=0\r\n[Audio]\r\nPort=0\r\n[Web]\r\nEnabled=0\r\n");
        CreateEngine();
    }

    void TearDown() override { DestroyEngine(); }

    void CreateEngine() {
        Program = std::make_unique<TProgramLifecycle>(IniFile);
        Program->CreateEngine();
        Config = &Program->Configuration();
        Registry = &Program->Clients();
        Engine = &Program->Engine();
        QObject::connect(Engine, &TDataModuleMain::LogRecorded,
                         [this](const TAMLog& entry) { Entries.push_back(entry); });
        QObject::connect(&Program->Controller(), &TBroadcastController::ConnectionsChanged,
                         [this] { ++Window.ConnectionsChanged; });
        Engine->ServerSocketVideo.BindAddress = "127.0.0.1";
        Engine->ServerSocketAudio.BindAddress = "127.0.0.1";
        Engine->StartServers();
        VideoPort = Engine->ServerSocketVideo.LocalPort();
        AudioPort = Engine->ServerSocketAudio.LocalPort();
        ASSERT_GT(VideoPort, 0);
        ASSERT_GT(AudioPort, 0);
        Settle();
        Entries.clear();
        Window.ConnectionsChanged = 0;
    }

    void DestroyEngine() {
        if (Program && Program->EngineExists()) {
            Engine->StopServers();
        }
        Engine = nullptr;
        Registry = nullptr;
        Config = nullptr;
        Program.reset();
        QCoreApplication::sendPostedEvents();
    }

    static bool WaitFor(const std::function<bool()>& pred, int timeoutMs = 5000) {
        return ProcessEventsUntil(pred, timeoutMs);
    }

    // Runs the event loop for a while, for checks that nothing happens.
    static void Settle(int ms = 100) { ProcessEventsFor(ms); }

    // A blocking viewer socket connected from the given loopback address.
    static TUniqueFd ConnectViewer(int port, const char* from = "127.0.0.1", int receiveBuffer = 0) {
        TUniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        EXPECT_TRUE(fd.Valid());
        if (receiveBuffer > 0) {
            ::setsockopt(fd.Get(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        }
        sockaddr_in local{};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, from, &local.sin_addr);
        EXPECT_EQ(::bind(fd.Get(), reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::connect(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        return fd;
    }

    static uint16_t LocalPortOf(const TUniqueFd& fd) {
        sockaddr_in addr{};
        socklen_t len = sizeof addr;
        ::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&addr), &len);
        return ntohs(addr.sin_port);
    }

    // The server's side of a viewer socket.
    static TServerClientSocket* ServerSide(TServerSocket& server, const TUniqueFd& viewer) {
        const uint16_t port = LocalPortOf(viewer);
        for (TServerClientSocket* socket : server.Connections()) {
            if (socket->RemotePort() == port) {
                return socket;
            }
        }
        return nullptr;
    }

    // Ends a connection with a reset instead of an orderly close.
    static void Reset(TUniqueFd& fd) {
        linger hard{1, 0};
        ::setsockopt(fd.Get(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        fd.Reset();
    }

    // Bytes waiting on a viewer socket without blocking; -1 when the server closed it.
    static long Available(const TUniqueFd& fd, std::string* data = nullptr) {
        char buffer[65536];
        long total = 0;
        for (;;) {
            ssize_t n = ::recv(fd.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
            if (n == 0) {
                return -1;
            }
            if (n < 0) {
                return total;
            }
            if (data) {
                data->append(buffer, static_cast<size_t>(n));
            }
            total += n;
        }
    }

    std::vector<TAMLog> EntriesOf(uint8_t message) const {
        std::vector<TAMLog> found;
        for (const TAMLog& e : Entries) {
            if (e.Message == message) {
                found.push_back(e);
            }
        }
        return found;
    }

    bool HasEntries(size_t count) const { return Entries.size() >= count; }

    static std::vector<std::string> Values(const TAMLog& entry) { return FromCommaText(entry.Values); }

    TTempDir Dir;
    std::string IniFile;
    std::unique_ptr<TProgramLifecycle> Program;
    TConfiguration* Config = nullptr;
    TClients* Registry = nullptr;
    TDataModuleMain* Engine = nullptr;
    // What the main window would see: the connections-changed notifications.
    struct {
        int ConnectionsChanged = 0;
    } Window;
    std::vector<TAMLog> Entries;
    int VideoPort = 0;
    int AudioPort = 0;
};

} // namespace sw::test
