#include "engine/LiveStreams.h"

#include "engine/Clients.h"
#include "engine/DataModuleMain.h"
#include "log/CommaText.h"
#include "log/LogTypes.h"
#include "platform/shell/CustomEvents.h"
#include "platform/shell/ThreadHandOff.h"
#include "web/HttpDate.h"

#include <QCoreApplication>
#include <QEvent>
#include <arpa/inet.h>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>

namespace sw {

namespace {

constexpr int kReplyPollMs = 50;

// A web connection on its way from its connection thread to the main thread.
class TLiveHandOverEvent : public QEvent {
public:
    TLiveHandOverEvent(TUniqueFd connection, TLiveRequest request)
        : QEvent(static_cast<QEvent::Type>(kEventLiveHandOver)), Connection(std::move(connection)),
          Request(std::move(request)) {}
    TUniqueFd Connection;
    TLiveRequest Request;
};

const uint8_t* Bytes(const std::string& text) {
    return reinterpret_cast<const uint8_t*>(text.data());
}

} // namespace

TLiveStreams::TLiveStreams(TDataModuleMain& engine) : FEngine(engine) {
    FReplyTimer.setInterval(kReplyPollMs);
    connect(&FReplyTimer, &QTimer::timeout, this, [this] { FinishReplies(); });
    ConnectHandlers();
}

TLiveStreams::~TLiveStreams() {
    Close();
}

void TLiveStreams::ConnectHandlers() {
    // Stream viewers and audio listeners go through the ports' own connection steps: the same log
    // entries, the registry counts, the video send buffer.
    StreamServer.OnClientConnect = [this](TServerClientSocket& s) {
        FViewers[&s] = FAdopting;
        FEngine.ServerSocketVideoClientConnect(s);
        if (!Blocked(s.RemoteAddress())) {
            AdmitStreamViewer(s, TClock::time_point{});
        }
    };
    StreamServer.OnClientRead = [this](TServerClientSocket& s) { FEngine.ServerSocketVideoClientRead(s); };
    StreamServer.OnClientDisconnect = [this](TServerClientSocket& s) {
        FViewers.erase(&s);
        FEngine.ServerSocketVideoClientDisconnect(s);
    };
    StreamServer.OnClientError = [this](TServerClientSocket& s, TErrorEvent e, int& code) {
        FEngine.ServerSocketVideoClientError(s, e, code);
    };
    AudioServer.OnClientConnect = [this](TServerClientSocket& s) {
        FViewers[&s] = FAdopting;
        FEngine.ServerSocketAudioClientConnect(s);
        if (!Blocked(s.RemoteAddress())) {
            AdmitAudioListener(s);
        }
    };
    AudioServer.OnClientRead = [this](TServerClientSocket& s) { FEngine.ServerSocketAudioClientRead(s); };
    AudioServer.OnClientDisconnect = [this](TServerClientSocket& s) {
        FViewers.erase(&s);
        FEngine.ServerSocketAudioClientDisconnect(s);
    };
    AudioServer.OnClientError = [this](TServerClientSocket& s, TErrorEvent e, int& code) {
        FEngine.ServerSocketAudioClientError(s, e, code);
    };
    ReplyServer.OnClientRead = [](TServerClientSocket& s) { s.DiscardInput(); };
    ReplyServer.OnClientDisconnect = [this](TServerClientSocket& s) { FReplies.erase(&s); };
    // A reply that fails just ends; the request was logged already.
    ReplyServer.OnClientError = [](TServerClientSocket&, TErrorEvent, int& code) { code = 0; };
}

TLiveHandOver TLiveStreams::HandOver() {
    // The engine closes the web server, and so joins every connection thread, before this object goes.
    return [this](TUniqueFd connection, TLiveRequest request) {
        auto event = std::make_unique<TLiveHandOverEvent>(std::move(connection), std::move(request));
        HandOffToThread(event.get());
        QCoreApplication::postEvent(this, event.release());
    };
}

bool TLiveStreams::event(QEvent* event) {
    TakeOverFromThread(event);
    if (event->type() == static_cast<QEvent::Type>(kEventLiveHandOver)) {
        auto* handOver = static_cast<TLiveHandOverEvent*>(event);
        Adopt(std::move(handOver->Connection), handOver->Request);
        return true;
    }
    return QObject::event(event);
}

void TLiveStreams::Adopt(TUniqueFd connection, const TLiveRequest& request) {
    // A connection that was on its way while Stop closed the web server closes with it.
    if (!connection || !FEngine.ServerSocketWeb.Active()) {
        return;
    }
    const std::string date = FormatHttpDate(UtcNow());
    const std::string& address = request.RemoteAddress;
    const uint16_t port = PeerPort(connection.Get());
    switch (request.Resource) {
    case TLiveResource::Stream:
    case TLiveResource::Audio: {
        LogRequest(request, 200);
        if (request.HeadOnly) {
            const std::string header =
                request.Resource == TLiveResource::Stream ? LiveStreamHeader(date) : LiveAudioHeader(date);
            if (!Blocked(address)) {
                Reply(std::move(connection), address, Bytes(header), header.size());
            }
            return;
        }
        FAdopting = TViewer{};
        FAdopting.Fps = request.Fps;
        TServerSocket& server = request.Resource == TLiveResource::Stream ? StreamServer : AudioServer;
        server.Adopt(std::move(connection), address, port);
        return;
    }
    case TLiveResource::Snapshot:
        break;
    }
    if (Blocked(address)) {
        LogRequest(request, 403);
        return;
    }
    const bool live =
        !FNewest.Part.empty() && TClock::now() - FNewest.At < std::chrono::milliseconds(kSnapshotMaxAgeMs);
    if (!live) {
        LogRequest(request, 503);
        const std::string answer = LiveUnavailable(date);
        Reply(std::move(connection), address, Bytes(answer),
              request.HeadOnly ? answer.find("\r\n\r\n") + 4 : answer.size());
        return;
    }
    LogRequest(request, 200);
    const std::string header = LiveSnapshotHeader(date, FNewest.JpegBytes);
    Reply(std::move(connection), address, Bytes(header), header.size(),
          FNewest.Part.data() + FNewest.JpegOffset, request.HeadOnly ? 0 : FNewest.JpegBytes);
}

bool TLiveStreams::AdmitStreamViewer(TServerClientSocket& socket, TClock::time_point now) {
    auto found = FViewers.find(&socket);
    if (found == FViewers.end()) {
        return false;
    }
    TViewer& viewer = found->second;
    if (!viewer.HeaderSent) {
        const std::string header = LiveStreamHeader(FormatHttpDate(UtcNow()));
        const TSendResult result = socket.SendWhole(Bytes(header), header.size());
        // A failed send has closed the connection and dropped its entry.
        if (result == TSendResult::Failed || result == TSendResult::Closed) {
            return false;
        }
        viewer.HeaderSent = true;
    }
    if (viewer.Fps > 0 && now != TClock::time_point{}) {
        const auto interval = std::chrono::microseconds(1000000 / viewer.Fps);
        // A quarter interval early still counts, or frames arriving with jitter would thin 30 to 10 fps
        // as every fourth frame instead of every third.
        if (now + interval / 4 < viewer.NextDue) {
            return false;
        }
        viewer.NextDue = now - viewer.NextDue > interval ? now + interval : viewer.NextDue + interval;
    }
    return true;
}

bool TLiveStreams::AdmitAudioListener(TServerClientSocket& socket) {
    auto found = FViewers.find(&socket);
    if (found == FViewers.end()) {
        return false;
    }
    if (!found->second.HeaderSent) {
        const std::string header = LiveAudioHeader(FormatHttpDate(UtcNow()));
        const TSendResult result = socket.SendWhole(Bytes(header), header.size());
        if (result == TSendResult::Failed || result == TSendResult::Closed) {
            return false;
        }
        found->second.HeaderSent = true;
    }
    return true;
}

void TLiveStreams::SendFrame(const TVideoPacketHeader& header, const uint8_t* jpeg, size_t jpegBytes,
                             double handedOutSeconds) {
    if (!jpeg || jpegBytes == 0) {
        return;
    }
    const uint32_t number = static_cast<uint32_t>(header[1]) << 24 | static_cast<uint32_t>(header[2]) << 16 |
                            static_cast<uint32_t>(header[3]) << 8 | header[4];
    const std::string partHeader = LivePartHeader(number, jpegBytes, handedOutSeconds);
    const std::string trailer = LivePartTrailer();
    // One copy per frame, shared by every stream viewer and the snapshots.
    std::vector<uint8_t>& part = FNewest.Part;
    part.clear();
    part.reserve(partHeader.size() + jpegBytes + trailer.size());
    part.insert(part.end(), partHeader.begin(), partHeader.end());
    part.insert(part.end(), jpeg, jpeg + jpegBytes);
    part.insert(part.end(), trailer.begin(), trailer.end());
    FNewest.JpegOffset = partHeader.size();
    FNewest.JpegBytes = jpegBytes;
    FNewest.At = TClock::now();
    if (StreamServer.ConnectionCount() == 0) {
        return;
    }
    TViewerPacket packet;
    packet.Data = part.data();
    packet.Size = part.size();
    // The entry shows the frame's packet header, as for a port viewer: which frame went out and its
    // length, in one dump line (the part's text headers would take seven and cost more than the send).
    packet.Dump = header.data();
    packet.DumpCount = header.size();
    packet.SkipWhenBehind = true;
    const TClock::time_point now = FNewest.At;
    packet.Admit = [this, now](TServerClientSocket& socket) { return AdmitStreamViewer(socket, now); };
    FEngine.SendToViewers(StreamServer, lmVideoSocketWrite, packet);
}

void TLiveStreams::SendAudio(const uint8_t* buffer, size_t count) {
    if (!buffer || count == 0 || AudioServer.ConnectionCount() == 0) {
        return;
    }
    TViewerPacket packet;
    packet.Data = buffer;
    packet.Size = count;
    packet.Dump = buffer;
    packet.DumpCount = count;
    packet.Admit = [this](TServerClientSocket& socket) { return AdmitAudioListener(socket); };
    FEngine.SendToViewers(AudioServer, lmAudioSocketWrite, packet);
}

void TLiveStreams::Close() {
    StreamServer.Close();
    AudioServer.Close();
    ReplyServer.Close();
    FViewers.clear();
    FReplies.clear();
    FReplyTimer.stop();
    FNewest = TFrame{};
}

bool TLiveStreams::Blocked(const std::string& address) const {
    const TClient* client = ClientsExists() ? Clients().Find(address, false) : nullptr;
    return client && client->Blocked;
}

void TLiveStreams::Reply(TUniqueFd connection, const std::string& address, const uint8_t* data, size_t size,
                         const uint8_t* more, size_t moreSize) {
    const uint16_t port = PeerPort(connection.Get());
    TServerClientSocket& socket = ReplyServer.Adopt(std::move(connection), address, port);
    FReplies[&socket].Deadline = TClock::now() + std::chrono::milliseconds(kReplyTimeoutMs);
    socket.SendWhole(data, size, more, moreSize);
    FinishReplies();
}

void TLiveStreams::FinishReplies() {
    const TClock::time_point now = TClock::now();
    for (TServerClientSocket* socket : ReplyServer.Connections()) {
        auto found = FReplies.find(socket);
        if (found == FReplies.end()) {
            continue;
        }
        if (now >= found->second.Deadline) {
            socket->Close();
            continue;
        }
        if (!found->second.Finished && socket->PendingBytes() == 0) {
            // Half-close: the peer reads the whole answer and sees its end; we close when it has.
            ::shutdown(socket->SocketHandle(), SHUT_WR);
            found->second.Finished = true;
        }
    }
    if (FReplies.empty()) {
        FReplyTimer.stop();
    } else if (!FReplyTimer.isActive()) {
        FReplyTimer.start();
    }
}

void TLiveStreams::LogRequest(const TLiveRequest& request, int status) {
    const std::vector<std::string> report = {
        "Status code: " + std::to_string(status),
        "Remote Address: " + request.RemoteAddress,
        "Agent: " + request.Agent,
    };
    FEngine.PostLogEntry(llInformation, request.Message, Now(), request.Uri, ToCommaText(report));
}

uint16_t TLiveStreams::PeerPort(int fd) {
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    return ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &len) == 0 ? ntohs(peer.sin_port) : 0;
}

} // namespace sw
