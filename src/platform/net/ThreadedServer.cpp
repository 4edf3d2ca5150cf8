#include "platform/net/ThreadedServer.h"

#include "platform/net/NetUtil.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/socket.h>

namespace sw {

namespace {

// Pause before accepting again when the process is out of descriptors.
constexpr int kAcceptPauseMs = 100;

void Signal(int eventFd) {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(eventFd, &one, sizeof one);
}

} // namespace

TServerThread::TServerThread(TUniqueFd socket, std::string remoteAddress)
    : FSocket(std::move(socket)), FRemoteAddress(std::move(remoteAddress)),
      FWake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

TServerThread::~TServerThread() {
    if (FThread.joinable()) {
        Terminate();
        FThread.join();
    }
}

void TServerThread::Terminate() {
    FTerminated = true;
    if (FWake) {
        Signal(FWake.Get());
    }
}

bool TServerThread::WaitReadable(int timeoutMs) {
    pollfd fds[2] = {{FSocket.Get(), POLLIN, 0}, {FWake.Get(), POLLIN, 0}};
    for (;;) {
        if (Terminated()) {
            return false;
        }
        int n = ::poll(fds, 2, timeoutMs);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0 || Terminated()) {
            return false;
        }
        return (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
    }
}

TUniqueFd TServerThread::HandOverSocket() {
    TUniqueFd copy(::fcntl(FSocket.Get(), F_DUPFD_CLOEXEC, 0));
    if (copy) {
        FHandedOver = true;
    }
    return copy;
}

void TServerThread::Run() {
    ::pthread_setname_np(::pthread_self(), "web-conn");
    try {
        Execute();
    } catch (...) {
        // A connection thread never takes the process down; its connection just ends.
    }
    // The peer sees the end now; the descriptor itself is closed when the server joins this thread,
    // so a Close() running meanwhile never shuts down a number that was already reused.
    if (!FHandedOver) {
        ::shutdown(FSocket.Get(), SHUT_RDWR);
    }
    FFinished = true;
    if (FServerWake >= 0) {
        Signal(FServerWake);
    }
}

TThreadedServer::TThreadedServer() = default;

TThreadedServer::~TThreadedServer() {
    Close();
}

void TThreadedServer::Open() {
    if (Active()) {
        return;
    }
    TUniqueFd fd = OpenListeningSocket(Port, BindAddress, false);
    FWake = TUniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!FWake) {
        throw std::runtime_error("Cannot create an event descriptor: " + std::string(std::strerror(errno)));
    }
    FListen = std::move(fd);
    FStopping = false;
    FAcceptThread = std::thread([this] { AcceptLoop(); });
}

void TThreadedServer::Close() {
    if (!Active()) {
        return;
    }
    FStopping = true;
    Signal(FWake.Get());
    if (FAcceptThread.joinable()) {
        FAcceptThread.join();
    }
    std::vector<std::unique_ptr<TServerThread>> threads;
    {
        std::lock_guard lock(FLock);
        threads.swap(FThreads);
    }
    for (std::unique_ptr<TServerThread>& thread : threads) {
        thread->Terminate();
        // Unblocks a thread that sits in a blocking send or recv.
        if (!thread->FHandedOver) {
            ::shutdown(thread->SocketHandle(), SHUT_RDWR);
        }
    }
    for (std::unique_ptr<TServerThread>& thread : threads) {
        if (thread->FThread.joinable()) {
            thread->FThread.join();
        }
    }
    threads.clear();
    FListen.Reset();
    FWake.Reset();
}

int TThreadedServer::LocalPort() const {
    return Active() ? SocketLocalPort(FListen.Get()) : 0;
}

size_t TThreadedServer::ThreadCount() const {
    std::lock_guard lock(FLock);
    size_t running = 0;
    for (const std::unique_ptr<TServerThread>& thread : FThreads) {
        running += thread->FFinished ? 0 : 1;
    }
    return running;
}

void TThreadedServer::ReapFinished() {
    std::vector<std::unique_ptr<TServerThread>> finished;
    {
        std::lock_guard lock(FLock);
        for (auto it = FThreads.begin(); it != FThreads.end();) {
            if ((*it)->FFinished) {
                finished.push_back(std::move(*it));
                it = FThreads.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (std::unique_ptr<TServerThread>& thread : finished) {
        if (thread->FThread.joinable()) {
            thread->FThread.join();
        }
    }
}

void TThreadedServer::AcceptLoop() {
    ::pthread_setname_np(::pthread_self(), "web-accept");
    pollfd fds[2] = {{FListen.Get(), POLLIN, 0}, {FWake.Get(), POLLIN, 0}};
    int timeoutMs = 1000;
    while (!FStopping) {
        int n = ::poll(fds, 2, timeoutMs);
        if (n > 0 && (fds[1].revents & POLLIN)) {
            uint64_t count;
            [[maybe_unused]] ssize_t drained = ::read(FWake.Get(), &count, sizeof count);
        }
        ReapFinished();
        if (FStopping) {
            break;
        }
        if (n < 0 && errno != EINTR) {
            break;
        }
        timeoutMs = 1000;
        if (n > 0 && (fds[0].revents & POLLIN)) {
            sockaddr_storage peer{};
            socklen_t len = sizeof peer;
            int fd = ::accept4(FListen.Get(), reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
            if (fd < 0) {
                if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                    // Out of descriptors: wait instead of spinning on a listen socket that stays readable.
                    fds[0].events = 0;
                    timeoutMs = kAcceptPauseMs;
                }
                continue;
            }
            TUniqueFd socket(fd);
            std::string address = PeerAddressText(peer);
            std::lock_guard lock(FLock);
            size_t total = 0;
            size_t sameAddress = 0;
            for (const std::unique_ptr<TServerThread>& thread : FThreads) {
                if (!thread->FFinished) {
                    ++total;
                    sameAddress += thread->RemoteAddress() == address ? 1 : 0;
                }
            }
            if (total >= MaxThreads || sameAddress >= MaxThreadsPerAddress || !OnGetThread) {
                continue; // closed at once
            }
            std::unique_ptr<TServerThread> thread;
            try {
                thread = OnGetThread(std::move(socket), address);
            } catch (...) {
                thread.reset();
            }
            if (!thread || !thread->FWake) {
                continue;
            }
            TServerThread* raw = thread.get();
            raw->FServerWake = FWake.Get();
            try {
                raw->FThread = std::thread([raw] { raw->Run(); });
            } catch (const std::system_error&) {
                continue; // no thread: the connection closes with the object
            }
            FThreads.push_back(std::move(thread));
        } else {
            fds[0].events = POLLIN;
        }
    }
}

} // namespace sw
