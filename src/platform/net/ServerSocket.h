#pragma once

#include "platform/net/SendFreshness.h"
#include "platform/shell/UniqueFd.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace sw {

// Kinds of socket error reported with the error event.
enum TErrorEvent : int {
    eeGeneral = 0,
    eeSend = 1,
    eeReceive = 2,
    eeConnect = 3,
    eeDisconnect = 4,
    eeAccept = 5,
    eeLookup = 6,
};

enum class TSendResult {
    Sent,    // the whole packet was taken by the socket
    Queued,  // part was taken; the rest goes out when the socket is writable again
    Skipped, // the packet was dropped whole: an earlier rest is still pending or the socket is full
    Failed,  // a send error; reported through the error event
    Closed,  // the connection is no longer open
};

class TServerSocket;

// One accepted connection of a TServerSocket. Owned by the server; handlers receive references
// that stay valid for the whole event, even when the connection is closed inside it.
class TServerClientSocket {
public:
    TServerClientSocket(TServerSocket& server, TUniqueFd fd, std::string remoteAddress, uint16_t remotePort);
    ~TServerClientSocket();
    TServerClientSocket(const TServerClientSocket&) = delete;
    TServerClientSocket& operator=(const TServerClientSocket&) = delete;

    int SocketHandle() const { return FFd.Get(); }
    const std::string& RemoteAddress() const { return FRemoteAddress; }
    uint16_t RemotePort() const { return FRemotePort; }
    bool Connected() const { return FFd.Valid(); }

    // Offers one packet made of up to two pieces (header and body) in one non-blocking send. A packet
    // the socket cannot take whole keeps its rest for this connection only, and later packets are
    // skipped whole until the rest has gone: a viewer never receives part of one packet followed by
    // another, and never holds up the others.
    TSendResult SendWhole(const uint8_t* data, size_t size, const uint8_t* more = nullptr,
                          size_t moreSize = 0);
    // Bytes of a packet still waiting to go out.
    size_t PendingBytes() const { return FPending.size() - FPendingOffset; }
    // Bytes the kernel holds unsent for this socket (SIOCOUTQ), -1 when unknown.
    int UnsentBytes() const;
    // Of those, the bytes not even transmitted yet because the peer's receive window is closed
    // (SIOCOUTQNSD): the peer is behind. -1 when unknown.
    int UntransmittedBytes() const;
    // What this viewer has not yet taken, for ViewerBehind.
    TViewerBacklog Backlog() const;

    // Reads what has arrived; returns the byte count, 0 when nothing was there.
    size_t ReceiveBuf(void* buffer, size_t size);
    // Reads and drops everything that has arrived.
    void DiscardInput();

    bool SetSendBufferSize(int bytes);
    // Grows the send buffer to at least bytes (never shrinks it), beyond the system's ceiling for
    // unprivileged sockets when the process may; false when the socket kept a smaller buffer.
    bool EnsureSendBufferSize(int64_t bytes);

    // Closes the connection; the disconnect event follows at once.
    void Close();

    void* Data = nullptr; // free for the owner's use

private:
    friend class TServerSocket;
    void OnReadable();
    void OnWritable();
    void ReportError(TErrorEvent kind, int linuxErrno);
    void Shutdown();

    TServerSocket& FServer;
    TUniqueFd FFd;
    std::string FRemoteAddress;
    uint16_t FRemotePort = 0;
    std::unique_ptr<QSocketNotifier> FReadNotifier;
    std::unique_ptr<QSocketNotifier> FWriteNotifier;
    std::vector<uint8_t> FPending;
    size_t FPendingOffset = 0;
    int64_t FSendBufferBytes = 0; // the largest size asked for
    bool FReadSeen = false;
};

// A non-blocking TCP server on the main thread's event loop. It reports client connect, read,
// disconnect and error events one at a time on the thread that owns it.
class TServerSocket : public QObject {
    Q_OBJECT
public:
    using TClientHandler = std::function<void(TServerClientSocket&)>;
    // The handler may set errorCode to 0 to mark the error handled; otherwise the layer throws it.
    using TErrorHandler = std::function<void(TServerClientSocket&, TErrorEvent, int& errorCode)>;

    explicit TServerSocket(QObject* parent = nullptr);
    ~TServerSocket() override;

    int Port = 0;
    // Address to listen on (IPv4, IPv6 or a host name); every IPv4 interface when empty.
    std::string BindAddress;

    TClientHandler OnClientConnect;
    TClientHandler OnClientRead;
    TClientHandler OnClientDisconnect;
    TErrorHandler OnClientError;

    bool Active() const { return FListen.Valid(); }
    // Starts listening; throws std::runtime_error with the reason when the port cannot be taken.
    void Open();
    // Stops listening and closes every connection without disconnect events.
    void Close();
    void SetActive(bool active) { active ? Open() : Close(); }
    // The port actually listened on (useful with Port 0).
    int LocalPort() const;

    // Takes a connection accepted elsewhere (non-blocking from now on) as if it had been accepted here:
    // it joins the connections and the connect event follows.
    TServerClientSocket& Adopt(TUniqueFd fd, std::string remoteAddress, uint16_t remotePort);

    // The open connections in order of arrival; the pointers stay valid until the caller returns to
    // the event loop, even when a connection closes meanwhile.
    std::vector<TServerClientSocket*> Connections() const;
    size_t ConnectionCount() const { return FConnections.size(); }

private:
    friend class TServerClientSocket;
    void OnAcceptable();
    void Disconnected(TServerClientSocket& client);

    TUniqueFd FListen;
    std::unique_ptr<QSocketNotifier> FAcceptNotifier;
    QTimer FAcceptRetry;
    std::vector<std::shared_ptr<TServerClientSocket>> FConnections;
    std::vector<std::shared_ptr<TServerClientSocket>> FClosed; // freed on the next event loop turn
    QTimer FReaper;
};

} // namespace sw
