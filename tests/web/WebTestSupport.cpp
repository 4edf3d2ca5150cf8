#include "WebTestSupport.h"

#include <QCoreApplication>
#include <QThread>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sw::test {

void WriteHomeFile(const TTempDir& dir, const std::string& name, const std::string& content) {
    std::filesystem::path path = std::filesystem::path(dir.Path()) / name;
    std::filesystem::create_directories(path.parent_path());
    WriteFile(path.string(), content);
}

bool WaitForEntries(TLogCollector& log, size_t count, int timeoutMs) {
    return ProcessEventsUntil([&log, count] { return log.Entries.size() >= count; }, timeoutMs);
}

bool THttpResponse::Has(const std::string& name) const {
    for (const auto& header : Headers) {
        if (::strcasecmp(header.first.c_str(), name.c_str()) == 0) {
            return true;
        }
    }
    return false;
}

std::string THttpResponse::Get(const std::string& name) const {
    for (const auto& header : Headers) {
        if (::strcasecmp(header.first.c_str(), name.c_str()) == 0) {
            return header.second;
        }
    }
    return {};
}

std::vector<std::string> THttpResponse::Names() const {
    std::vector<std::string> names;
    for (const auto& header : Headers) {
        names.push_back(header.first);
    }
    return names;
}

THttpResponse ParseResponse(std::string& bytes, bool head) {
    THttpResponse response;
    size_t end = bytes.find("\r\n\r\n");
    if (end == std::string::npos) {
        return response;
    }
    std::string block = bytes.substr(0, end + 2);
    size_t lineEnd = block.find("\r\n");
    response.StatusLine = block.substr(0, lineEnd);
    if (response.StatusLine.rfind("HTTP/1.1 ", 0) != 0 || response.StatusLine.size() < 12) {
        return response;
    }
    response.Status = std::atoi(response.StatusLine.substr(9, 3).c_str());
    size_t pos = lineEnd + 2;
    while (pos < block.size()) {
        size_t next = block.find("\r\n", pos);
        std::string line = block.substr(pos, next - pos);
        size_t colon = line.find(": ");
        response.Headers.emplace_back(line.substr(0, colon),
                                      colon == std::string::npos ? "" : line.substr(colon + 2));
        pos = next + 2;
    }
    size_t length = 0;
    if (!head && response.Status != 204 && response.Has("Content-Length")) {
        length = std::stoul(response.Get("Content-Length"));
    }
    if (bytes.size() < end + 4 + length) {
        return response;
    }
    response.Body = bytes.substr(end + 4, length);
    bytes.erase(0, end + 4 + length);
    response.Ok = true;
    return response;
}

TClient::TClient(int port, const std::string& sourceAddress) {
    TUniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) {
        return;
    }
    if (!sourceAddress.empty()) {
        sockaddr_in source{};
        source.sin_family = AF_INET;
        ::inet_pton(AF_INET, sourceAddress.c_str(), &source.sin_addr);
        if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&source), sizeof source) != 0) {
            return;
        }
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        return;
    }
    FFd = std::move(fd);
}

bool TClient::Send(const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = ::send(FFd.Get(), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return true;
}

bool TClient::Fill(int timeoutMs) {
    if (FEof) {
        return false;
    }
    pollfd item{FFd.Get(), POLLIN, 0};
    if (::poll(&item, 1, timeoutMs) <= 0) {
        return false;
    }
    char buffer[65536];
    ssize_t n = ::recv(FFd.Get(), buffer, sizeof buffer, 0);
    if (n <= 0) {
        FEof = true;
        return false;
    }
    FPending.append(buffer, static_cast<size_t>(n));
    return true;
}

THttpResponse TClient::Read(bool head, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        // ParseResponse consumes only a complete response; copying the pending bytes for every piece
        // received made reading a large body quadratic.
        THttpResponse response = ParseResponse(FPending, head);
        if (response.Ok) {
            return response;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0 || !Fill(static_cast<int>(left.count()))) {
            return response;
        }
    }
}

bool TClient::WaitClosed(int timeoutMs, std::string* rest) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!FEof) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        Fill(static_cast<int>(left.count()));
    }
    if (rest) {
        *rest += FPending;
    }
    FPending.clear();
    return FEof;
}

TTestConfiguration::TTestConfiguration(const std::string& home)
    : FConfiguration(std::make_unique<TConfiguration>(FIniDir.File("streamwright.ini"))) {
    FConfiguration->Reload();
    FConfiguration->Web().SetPath(home);
    SetConfiguration(FConfiguration.get());
}

TTestConfiguration::~TTestConfiguration() {
    SetConfiguration(nullptr);
}

TServerFixture::TServerFixture(TWebConnectionLimits connection) {
    TMessageWindow window = &Log;
    Server = std::make_unique<TThreadedServer>();
    Server->Port = 0;
    Server->BindAddress = "127.0.0.1";
    Server->OnGetThread = [window, connection](TUniqueFd socket, const std::string& address) {
        return CreateWebServerThread(std::move(socket), address, window, connection);
    };
    Server->Open();
    FPort = Server->LocalPort();
}

TServerFixture::~TServerFixture() {
    Server->Close();
}

TWebConnectionLimits TServerFixture::FastLimits() {
    TWebConnectionLimits limits;
    limits.IdleTimeoutMs = 3000;
    limits.HeaderTimeoutMs = 2000;
    limits.RequestTimeoutMs = 3000;
    limits.WriteTimeoutMs = 3000;
    limits.LingerMs = 500;
    return limits;
}

bool TServerFixture::WaitIdle(int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Server->ThreadCount() > 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        QCoreApplication::processEvents();
        QThread::msleep(5);
    }
    return true;
}

} // namespace sw::test
