#pragma once

#include "platform/shell/UniqueFd.h"
#include "web/WebServerThread.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace sw {

struct TWebServerLimits {
    int MaxConnections = 256;
    int MaxConnectionsPerAddress = 32;
};

// Asked on the accepting thread for every accepted connection that the limits let in: returns the
// started thread that now owns the connection, or nullptr when none could be started (the connection
// is then closed and the server goes on accepting). The engine's ServerSocketWebGetThread is one.
using TWebGetThread =
    std::function<std::unique_ptr<TWebServerThread>(TUniqueFd connection, const std::string& remoteAddress)>;

// The blocking web server and its threads:
// - "web-accept" waits on the listening socket and a wake descriptor; it refuses connections over the
//   limits, asks TWebGetThread for a thread per accepted connection and joins finished threads. Out of
//   descriptors it retries every 100 ms instead of spinning on a backlog it cannot take.
// - "web-conn", one per connection, serves requests (TWebServerThread). It waits in poll() on its
//   socket only, and reaches the engine only by posting log entries to the message window.
// Close: wakes and joins "web-accept" (no new connections), then asks every connection thread to end,
// which shuts its socket down so that any poll, read or write returns, and joins them all.
class TWebServer {
public:
    explicit TWebServer(TWebGetThread getThread, TWebServerLimits limits = {});
    ~TWebServer();
    TWebServer(const TWebServer&) = delete;
    TWebServer& operator=(const TWebServer&) = delete;

    // Port to listen on when opened; 0 lets the system choose (see LocalPort).
    void SetPort(int port) { FPort = port; }
    int Port() const { return FPort; }
    // IPv4 address to listen on; "" for every interface.
    void SetBindAddress(const std::string& address) { FBindAddress = address; }

    // Listens and starts accepting; false with the reason in error when the socket cannot listen.
    bool Open(std::string* error = nullptr);
    void Close();
    bool Active() const { return FAcceptThread.joinable(); }
    int LocalPort() const { return FLocalPort; }

    // Connection threads that have not finished yet.
    int ConnectionCount() const;
    // Connections closed at once because a limit was reached or no thread could be started.
    uint64_t RefusedCount() const { return FRefused.load(); }

private:
    struct TConnection {
        std::unique_ptr<TWebServerThread> Thread;
        std::string Address;
    };

    void AcceptLoop();
    void AcceptOne(TUniqueFd connection, const std::string& address);
    // Joins and drops the threads that have finished.
    void Reap();

    TWebGetThread FGetThread;
    TWebServerLimits FLimits;
    int FPort = 80;
    std::string FBindAddress;
    int FLocalPort = 0;
    TUniqueFd FListen;
    TUniqueFd FWake; // eventfd that ends the accepting thread's wait
    std::atomic<bool> FStopping{false};
    std::thread FAcceptThread;
    mutable std::mutex FLock;
    std::list<TConnection> FConnections;
    std::atomic<uint64_t> FRefused{0};
};

} // namespace sw
