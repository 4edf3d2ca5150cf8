#include "platform/net/ServerSocket.h"

#include "platform/net/NetUtil.h"
#include "platform/net/SocketError.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>

namespace sw {

namespace {

// Accepts per wake-up, so a connection storm cannot starve the rest of the main thread.
constexpr int kAcceptBurst = 64;
// Pause before accepting again when the process is out of descriptors, instead of spinning.
constexpr int kAcceptRetryMs = 100;

} // namespace

TServerClientSocket::TServerClientSocket(TServerSocket& server, TUniqueFd fd, std::string remoteAddress,
                                         uint16_t remotePort)
    : FServer(server), FFd(std::move(fd)), FRemoteAddress(std::move(remoteAddress)), FRemotePort(remotePort) {
    FReadNotifier = std::make_unique<QSocketNotifier>(static_cast<qintptr>(FFd.Get()), QSocketNotifier::Read);
    QObject::connect(FReadNotifier.get(), &QSocketNotifier::activated, &FServer, [this] { OnReadable(); });
}

TServerClientSocket::~TServerClientSocket() {
    FReadNotifier.reset();
    FWriteNotifier.reset();
}

void TServerClientSocket::Shutdown() {
    // Shutdown runs inside the notifiers' own activation (a read of end-of-file, a failed flush), so
    // they are only disabled here and freed with this object, on the next event loop turn. Disabled
    // before the close, so a new connection that gets the same descriptor number is not confused.
    if (FReadNotifier) {
        FReadNotifier->setEnabled(false);
    }
    if (FWriteNotifier) {
        FWriteNotifier->setEnabled(false);
    }
    FFd.Reset();
    FPending.clear();
    FPending.shrink_to_fit();
    FPendingOffset = 0;
}

TSendResult TServerClientSocket::SendWhole(const uint8_t* data, size_t size, const uint8_t* more,
                                           size_t moreSize) {
    if (!Connected()) {
        return TSendResult::Closed;
    }
    if (PendingBytes() > 0) {
        return TSendResult::Skipped;
    }
    const size_t total = size + moreSize;
    if (total == 0) {
        return TSendResult::Sent;
    }
    iovec iov[2] = {{const_cast<uint8_t*>(data), size}, {const_cast<uint8_t*>(more), moreSize}};
    msghdr msg{};
    msg.msg_iov = iov;
    msg.msg_iovlen = moreSize > 0 ? 2 : 1;
    ssize_t sent;
    do {
        sent = ::sendmsg(FFd.Get(), &msg, MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return TSendResult::Skipped;
        }
        ReportError(eeSend, errno);
        return TSendResult::Failed;
    }
    const size_t done = static_cast<size_t>(sent);
    if (done == total) {
        return TSendResult::Sent;
    }
    FPending.clear();
    FPendingOffset = 0;
    if (done < size) {
        FPending.insert(FPending.end(), data + done, data + size);
        FPending.insert(FPending.end(), more, more + moreSize);
    } else {
        FPending.insert(FPending.end(), more + (done - size), more + moreSize);
    }
    if (!FWriteNotifier) {
        FWriteNotifier =
            std::make_unique<QSocketNotifier>(static_cast<qintptr>(FFd.Get()), QSocketNotifier::Write);
        QObject::connect(FWriteNotifier.get(), &QSocketNotifier::activated, &FServer,
                         [this] { OnWritable(); });
    }
    FWriteNotifier->setEnabled(true);
    return TSendResult::Queued;
}

void TServerClientSocket::OnWritable() {
    while (Connected() && PendingBytes() > 0) {
        ssize_t sent =
            ::send(FFd.Get(), FPending.data() + FPendingOffset, PendingBytes(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                return;
            }
            ReportError(eeSend, errno);
            return;
        }
        FPendingOffset += static_cast<size_t>(sent);
    }
    FPending.clear();
    FPendingOffset = 0;
    if (FWriteNotifier) {
        FWriteNotifier->setEnabled(false);
    }
}

int TServerClientSocket::UnsentBytes() const {
    int unsent = 0;
    if (!Connected() || ::ioctl(FFd.Get(), SIOCOUTQ, &unsent) != 0) {
        return -1;
    }
    return unsent;
}

int TServerClientSocket::UntransmittedBytes() const {
    int untransmitted = 0;
    if (!Connected() || ::ioctl(FFd.Get(), SIOCOUTQNSD, &untransmitted) != 0) {
        return -1;
    }
    return untransmitted;
}

size_t TServerClientSocket::ReceiveBuf(void* buffer, size_t size) {
    if (!Connected() || size == 0) {
        return 0;
    }
    ssize_t n;
    do {
        n = ::recv(FFd.Get(), buffer, size, MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
        FReadSeen = true;
        return static_cast<size_t>(n);
    }
    return 0;
}

void TServerClientSocket::DiscardInput() {
    char buffer[4096];
    // Bounded, so a viewer that floods us cannot keep the main thread here.
    for (int i = 0; i < 64 && ReceiveBuf(buffer, sizeof buffer) == sizeof buffer; ++i) {
    }
}

TViewerBacklog TServerClientSocket::Backlog() const {
    return {PendingBytes(), UnsentBytes(), UntransmittedBytes()};
}

bool TServerClientSocket::SetSendBufferSize(int bytes) {
    if (!Connected() || ::setsockopt(FFd.Get(), SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes) != 0) {
        return false;
    }
    FSendBufferBytes = bytes;
    return true;
}

bool TServerClientSocket::EnsureSendBufferSize(int64_t bytes) {
    if (!Connected() || bytes <= FSendBufferBytes) {
        return Connected();
    }
    // Asked once per size, whatever the outcome, so a refusing system costs no call per packet.
    FSendBufferBytes = bytes;
    const int wanted = static_cast<int>(std::min<int64_t>(bytes, INT_MAX / 2));
    ::setsockopt(FFd.Get(), SOL_SOCKET, SO_SNDBUF, &wanted, sizeof wanted);
    int got = 0;
    socklen_t len = sizeof got;
    // The kernel reports twice the size asked for (its bookkeeping share); net.core.wmem_max caps
    // SO_SNDBUF, while SO_SNDBUFFORCE, allowed to a privileged process, is not capped.
    if (::getsockopt(FFd.Get(), SOL_SOCKET, SO_SNDBUF, &got, &len) == 0 && got / 2 >= wanted) {
        return true;
    }
    return ::setsockopt(FFd.Get(), SOL_SOCKET, SO_SNDBUFFORCE, &wanted, sizeof wanted) == 0;
}

void TServerClientSocket::OnReadable() {
    if (!Connected()) {
        return;
    }
    char probe;
    ssize_t n;
    do {
        n = ::recv(FFd.Get(), &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n == 0) {
        Close();
        return;
    }
    if (n < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            ReportError(eeReceive, errno);
        }
        return;
    }
    if (FServer.OnClientRead) {
        FServer.OnClientRead(*this);
    }
    // Whatever the handler left would wake us again at once.
    DiscardInput();
}

void TServerClientSocket::ReportError(TErrorEvent kind, int linuxErrno) {
    int code = WinsockErrorCode(linuxErrno);
    if (FServer.OnClientError) {
        FServer.OnClientError(*this, kind, code);
    }
    // The socket is unusable after an error; left open, its level-triggered notifiers would fire
    // again at once and spin the main thread.
    Close();
    if (code != 0) {
        throw std::runtime_error("Windows socket error: " + std::string(std::strerror(linuxErrno)) + " (" +
                                 std::to_string(code) + ")");
    }
}

void TServerClientSocket::Close() {
    if (!Connected()) {
        return;
    }
    Shutdown();
    FServer.Disconnected(*this);
}

TServerSocket::TServerSocket(QObject* parent) : QObject(parent) {
    FAcceptRetry.setSingleShot(true);
    connect(&FAcceptRetry, &QTimer::timeout, this, [this] {
        if (FAcceptNotifier) {
            FAcceptNotifier->setEnabled(true);
        }
    });
    FReaper.setSingleShot(true);
    FReaper.setInterval(0);
    connect(&FReaper, &QTimer::timeout, this, [this] { FClosed.clear(); });
}

TServerSocket::~TServerSocket() {
    Close();
    FClosed.clear();
}

void TServerSocket::Open() {
    if (Active()) {
        return;
    }
    FListen = OpenListeningSocket(Port, BindAddress, true);
    FAcceptNotifier =
        std::make_unique<QSocketNotifier>(static_cast<qintptr>(FListen.Get()), QSocketNotifier::Read);
    connect(FAcceptNotifier.get(), &QSocketNotifier::activated, this, [this] { OnAcceptable(); });
}

void TServerSocket::Close() {
    FAcceptRetry.stop();
    FAcceptNotifier.reset();
    FListen.Reset();
    for (std::shared_ptr<TServerClientSocket>& client : FConnections) {
        client->Shutdown();
        FClosed.push_back(std::move(client));
    }
    FConnections.clear();
    if (!FClosed.empty()) {
        FReaper.start();
    }
}

int TServerSocket::LocalPort() const {
    return Active() ? SocketLocalPort(FListen.Get()) : 0;
}

std::vector<TServerClientSocket*> TServerSocket::Connections() const {
    std::vector<TServerClientSocket*> list;
    list.reserve(FConnections.size());
    for (const std::shared_ptr<TServerClientSocket>& client : FConnections) {
        list.push_back(client.get());
    }
    return list;
}

void TServerSocket::OnAcceptable() {
    for (int i = 0; i < kAcceptBurst && Active(); ++i) {
        sockaddr_storage peer{};
        socklen_t len = sizeof peer;
        int fd =
            ::accept4(FListen.Get(), reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED || errno == EPROTO) {
                continue;
            }
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                FAcceptNotifier->setEnabled(false);
                FAcceptRetry.start(kAcceptRetryMs);
            }
            return;
        }
        TUniqueFd owned(fd);
        int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        uint16_t peerPort = 0;
        std::string peerAddress = PeerAddressText(peer, &peerPort);
        auto client =
            std::make_shared<TServerClientSocket>(*this, std::move(owned), std::move(peerAddress), peerPort);
        FConnections.push_back(client);
        if (OnClientConnect) {
            OnClientConnect(*client);
        }
    }
}

TServerClientSocket& TServerSocket::Adopt(TUniqueFd fd, std::string remoteAddress, uint16_t remotePort) {
    const int flags = ::fcntl(fd.Get(), F_GETFL);
    if (flags >= 0) {
        ::fcntl(fd.Get(), F_SETFL, flags | O_NONBLOCK);
    }
    int on = 1;
    ::setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    auto client =
        std::make_shared<TServerClientSocket>(*this, std::move(fd), std::move(remoteAddress), remotePort);
    FConnections.push_back(client);
    if (OnClientConnect) {
        OnClientConnect(*client);
    }
    return *client;
}

void TServerSocket::Disconnected(TServerClientSocket& client) {
    for (auto it = FConnections.begin(); it != FConnections.end(); ++it) {
        if (it->get() == &client) {
            FClosed.push_back(std::move(*it));
            FConnections.erase(it);
            FReaper.start();
            break;
        }
    }
    if (OnClientDisconnect) {
        OnClientDisconnect(client);
    }
}

} // namespace sw
