#include "engine/EngineFixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sw::test {

int FreePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

TPortHolder::TPortHolder(int port) {
    FFd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(FFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(FFd, 1) != 0) {
        ADD_FAILURE() << "could not take port " << port;
    }
}

TPortHolder::~TPortHolder() {
    ::close(FFd);
}

bool CanConnect(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

void EngineFixture::SetUp() {
    Config = std::make_unique<TConfiguration>(Dir.File("streamwright.ini"));
    SetConfiguration(Config.get());
    Config->Reload();
    Config->StoreRunTimeValues();
    Config->BeginUpdate();
    Config->Video().SetPort(FreePort());
    Config->Audio().SetPort(FreePort());
    Config->Web().SetPort(FreePort());
    Config->Web().SetPath(Dir.Path());
    Config->EndUpdate();
    Engine = std::make_unique<TDataModuleMain>(Dir.File("streamwright.log"));
    Engine->OnLogRecorded = [this](const TAMLog& entry) { Recorded.push_back(entry); };
    Controller = std::make_unique<TBroadcastController>(*Engine);
    Controller->Create();
    ASSERT_TRUE(ProcessEventsUntil([this] { return Controller->DevicesInitialized(); }));
    Settle();
}

void EngineFixture::TearDown() {
    if (Controller) {
        Controller->Destroy();
    }
    Controller.reset();
    Engine.reset();
    SetConfiguration(nullptr);
    Config.reset();
}

std::vector<uint8_t> EngineFixture::RecordedMessages() const {
    std::vector<uint8_t> messages;
    for (const TAMLog& entry : Recorded) {
        messages.push_back(entry.Message);
    }
    return messages;
}

void EngineFixture::Settle(int ms) {
    ProcessEventsFor(ms);
}

} // namespace sw::test
