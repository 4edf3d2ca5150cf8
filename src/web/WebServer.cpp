#include "web/WebServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>

namespace sw {

namespace {

constexpr int kBacklog = 128;
// Reaping finished threads needs no event; a slow tick is enough.
constexpr int kIdleTickMs = 1000;
// Out of descriptors (or memory): accept would fail again at once, so wait a little instead of spinning.
constexpr int kExhaustedRetryMs = 100;

bool ResourceExhausted(int error) {
    return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

} // namespace

TWebServer::TWebServer(TWebGetThread getThread, TWebServerLimits limits)
    : FGetThread(std::move(getThread)), FLimits(limits) {}

TWebServer::~TWebServer() {
    Close();
}

bool TWebServer::Open(std::string* error) {
    auto fail = [error](const char* what) {
        if (error) {
            *error = std::string(what) + ": " + std::strerror(errno);
        }
        return false;
    };
    if (Active()) {
        return true;
    }
    struct sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(FPort));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!FBindAddress.empty() && ::inet_pton(AF_INET, FBindAddress.c_str(), &address.sin_addr) != 1) {
        errno = EINVAL;
        return fail("address");
    }
    TUniqueFd listen(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!listen) {
        return fail("socket");
    }
    int one = 1;
    ::setsockopt(listen.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(listen.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        return fail("bind");
    }
    if (::listen(listen.Get(), kBacklog) != 0) {
        return fail("listen");
    }
    socklen_t length = sizeof address;
    if (::getsockname(listen.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return fail("getsockname");
    }
    TUniqueFd wake(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!wake) {
        return fail("eventfd");
    }
    FLocalPort = ntohs(address.sin_port);
    FListen = std::move(listen);
    FWake = std::move(wake);
    FStopping = false;
    try {
        FAcceptThread = std::thread([this] { AcceptLoop(); });
    } catch (const std::system_error&) {
        FListen.Reset();
        FWake.Reset();
        errno = EAGAIN;
        return fail("thread");
    }
    return true;
}

void TWebServer::Close() {
    if (FAcceptThread.joinable()) {
        FStopping = true;
        uint64_t one = 1;
        [[maybe_unused]] ssize_t ignored = ::write(FWake.Get(), &one, sizeof one);
        FAcceptThread.join();
    }
    FListen.Reset();
    FWake.Reset();
    std::list<TConnection> connections;
    {
        std::lock_guard<std::mutex> lock(FLock);
        connections.swap(FConnections);
    }
    for (TConnection& connection : connections) {
        connection.Thread->Terminate();
    }
    for (TConnection& connection : connections) {
        connection.Thread->WaitFor();
    }
}

int TWebServer::ConnectionCount() const {
    std::lock_guard<std::mutex> lock(FLock);
    int count = 0;
    for (const TConnection& connection : FConnections) {
        count += connection.Thread->Finished() ? 0 : 1;
    }
    return count;
}

void TWebServer::Reap() {
    std::list<TConnection> finished;
    {
        std::lock_guard<std::mutex> lock(FLock);
        for (auto it = FConnections.begin(); it != FConnections.end();) {
            auto next = std::next(it);
            if (it->Thread->Finished()) {
                finished.splice(finished.end(), FConnections, it);
            }
            it = next;
        }
    }
    for (TConnection& connection : finished) {
        connection.Thread->WaitFor();
    }
}

void TWebServer::AcceptLoop() {
    ::pthread_setname_np(::pthread_self(), "web-accept");
    int timeoutMs = kIdleTickMs;
    while (!FStopping.load()) {
        struct pollfd items[2] = {{FListen.Get(), POLLIN, 0}, {FWake.Get(), POLLIN, 0}};
        int ready = ::poll(items, 2, timeoutMs);
        if (FStopping.load()) {
            break;
        }
        Reap();
        timeoutMs = kIdleTickMs;
        if (ready <= 0 || !(items[0].revents & POLLIN)) {
            continue;
        }
        for (;;) {
            struct sockaddr_in peer {};
            socklen_t length = sizeof peer;
            TUniqueFd connection(::accept4(FListen.Get(), reinterpret_cast<sockaddr*>(&peer), &length,
                                           SOCK_NONBLOCK | SOCK_CLOEXEC));
            if (!connection) {
                if (ResourceExhausted(errno)) {
                    timeoutMs = kExhaustedRetryMs;
                }
                break; // EAGAIN, or a connection that died in the backlog: poll again
            }
            char text[INET_ADDRSTRLEN] = {};
            ::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
            AcceptOne(std::move(connection), text);
        }
        if (timeoutMs == kExhaustedRetryMs) {
            // poll would report the waiting connection at once; sleep on the wake descriptor only.
            struct pollfd wake = {FWake.Get(), POLLIN, 0};
            ::poll(&wake, 1, kExhaustedRetryMs);
            timeoutMs = 0;
        }
    }
}

void TWebServer::AcceptOne(TUniqueFd connection, const std::string& address) {
    int total = 0;
    int fromAddress = 0;
    {
        std::lock_guard<std::mutex> lock(FLock);
        for (const TConnection& existing : FConnections) {
            if (!existing.Thread->Finished()) {
                ++total;
                fromAddress += existing.Address == address ? 1 : 0;
            }
        }
    }
    if (total >= FLimits.MaxConnections || fromAddress >= FLimits.MaxConnectionsPerAddress) {
        ++FRefused;
        return;
    }
    std::unique_ptr<TWebServerThread> thread;
    try {
        thread = FGetThread(std::move(connection), address);
    } catch (const std::exception&) {
        thread.reset();
    }
    if (!thread) {
        ++FRefused;
        return;
    }
    std::lock_guard<std::mutex> lock(FLock);
    FConnections.push_back({std::move(thread), address});
}

} // namespace sw
