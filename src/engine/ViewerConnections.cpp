#include "config/Configuration.h"
#include "engine/Clients.h"
#include "engine/ConnectSound.h"
#include "engine/DataModuleMain.h"
#include "engine/SocketErrorText.h"
#include "log/LogFormat.h"

#include <chrono>
#include <climits>

namespace sw {

namespace {

TClient* FindClient(const std::string& address) {
    return ClientsExists() ? Clients().Find(address, false) : nullptr;
}

// Whether an entry of this level and message would be recorded; the same filter the log applies.
bool LogWanted(uint8_t level, uint8_t message) {
    if (!ConfigurationExists()) {
        return false;
    }
    TAMLog probe;
    probe.Level = level;
    probe.Message = message;
    return TEventLog::Passes(probe, Configuration().Log());
}

} // namespace

void TDataModuleMain::ConnectServerEvents() {
    ServerSocketVideo.OnClientConnect = [this](TServerClientSocket& s) { ServerSocketVideoClientConnect(s); };
    ServerSocketVideo.OnClientRead = [this](TServerClientSocket& s) { ServerSocketVideoClientRead(s); };
    ServerSocketVideo.OnClientDisconnect = [this](TServerClientSocket& s) {
        ServerSocketVideoClientDisconnect(s);
    };
    ServerSocketVideo.OnClientError = [this](TServerClientSocket& s, TErrorEvent e, int& code) {
        ServerSocketVideoClientError(s, e, code);
    };
    ServerSocketAudio.OnClientConnect = [this](TServerClientSocket& s) { ServerSocketAudioClientConnect(s); };
    ServerSocketAudio.OnClientRead = [this](TServerClientSocket& s) { ServerSocketAudioClientRead(s); };
    ServerSocketAudio.OnClientDisconnect = [this](TServerClientSocket& s) {
        ServerSocketAudioClientDisconnect(s);
    };
    ServerSocketAudio.OnClientError = [this](TServerClientSocket& s, TErrorEvent e, int& code) {
        ServerSocketAudioClientError(s, e, code);
    };
}

void TDataModuleMain::ClientConnectNotice(TServerClientSocket& socket) {
    const std::string& address = socket.RemoteAddress();
    TClient* client = FindClient(address);
    if (client && client->Connections() > 0) {
        return;
    }
    if (client && client->Blocked) {
        Log(llWarning, lmClientConnectBlocked, Now(), address);
    } else {
        Log(llInformation, lmClientConnect, Now(), address);
    }
    PlayConnectSound(FConnectSound);
}

void TDataModuleMain::ClientDisconnectNotice(TServerClientSocket& socket, uint32_t duration) {
    const std::string& address = socket.RemoteAddress();
    TClient* client = FindClient(address);
    if (client && client->Connections() > 0) {
        return;
    }
    Log(llInformation, lmClientDisconnect, Now(), address, "Duration: " + FormatDuration(duration));
}

void TDataModuleMain::DisconnectClient(const std::string& address) {
    for (TServerSocket* server :
         {&ServerSocketVideo, &LiveStreams.StreamServer, &ServerSocketAudio, &LiveStreams.AudioServer}) {
        for (TServerClientSocket* socket : server->Connections()) {
            if (socket->RemoteAddress() == address) {
                socket->Close();
            }
        }
    }
}

void TDataModuleMain::ServerSocketVideoClientConnect(TServerClientSocket& socket) {
    ClientConnectNotice(socket);
    Log(llInformation, lmVideoSocketConnect, Now(), socket.RemoteAddress());
    if (ClientsExists()) {
        Clients().VideoConnect(socket.RemoteAddress());
    }
    const int64_t requested =
        static_cast<int64_t>(ConfigurationExists() ? Configuration().Video().BufferSize() : 0) * 1024;
    // A size the socket option cannot even express is a failure, not something to wrap around.
    const bool ok =
        requested >= 0 && requested <= INT_MAX && socket.SetSendBufferSize(static_cast<int>(requested));
    if (ok) {
        Log(llInformation, lmVideoSocketConnect, Now(), "Ok", std::to_string(requested));
    } else {
        Log(llError, lmVideoSocketConnect, Now(), "Failed", std::to_string(requested));
    }
    PostToMainWindow(WM_CONNECTIONSCHANGED);
}

void TDataModuleMain::ServerSocketAudioClientConnect(TServerClientSocket& socket) {
    ClientConnectNotice(socket);
    Log(llInformation, lmAudioSocketConnect, Now(), socket.RemoteAddress());
    if (ClientsExists()) {
        Clients().AudioConnect(socket.RemoteAddress());
    }
    PostToMainWindow(WM_CONNECTIONSCHANGED);
}

void TDataModuleMain::ServerSocketVideoClientRead(TServerClientSocket& socket) {
    if (socket.Connected()) {
        socket.DiscardInput();
    }
}

void TDataModuleMain::ServerSocketAudioClientRead(TServerClientSocket& socket) {
    if (socket.Connected()) {
        socket.DiscardInput();
    }
}

void TDataModuleMain::ServerSocketVideoClientDisconnect(TServerClientSocket& socket) {
    const std::string& address = socket.RemoteAddress();
    Log(llInformation, lmVideoSocketDisconnect, Now(), address);
    const TClient* client = FindClient(address);
    const uint32_t duration = client ? client->Duration() : 0;
    if (ClientsExists()) {
        Clients().VideoDisconnect(address);
    }
    ClientDisconnectNotice(socket, duration);
    PostToMainWindow(WM_CONNECTIONSCHANGED);
}

void TDataModuleMain::ServerSocketAudioClientDisconnect(TServerClientSocket& socket) {
    const std::string& address = socket.RemoteAddress();
    Log(llInformation, lmAudioSocketDisconnect, Now(), address);
    const TClient* client = FindClient(address);
    const uint32_t duration = client ? client->Duration() : 0;
    if (ClientsExists()) {
        Clients().AudioDisconnect(address);
    }
    ClientDisconnectNotice(socket, duration);
    PostToMainWindow(WM_CONNECTIONSCHANGED);
}

void TDataModuleMain::ServerSocketVideoClientError(TServerClientSocket& socket, TErrorEvent errorEvent,
                                                   int& errorCode) {
    LogSocketError(lmVideoSocketError, socket, errorCode, errorEvent);
    errorCode = 0;
    socket.Close();
}

void TDataModuleMain::ServerSocketAudioClientError(TServerClientSocket& socket, TErrorEvent errorEvent,
                                                   int& errorCode) {
    LogSocketError(lmAudioSocketError, socket, errorCode, errorEvent);
    errorCode = 0;
    socket.Close();
}

void TDataModuleMain::LogSocketError(uint8_t message, TServerClientSocket& socket, int errorCode,
                                     TErrorEvent errorEvent) {
    // A send that fails inside SendToViewers: its "Socket write" entry still comes first.
    PostPendingWrites();
    Log(llError, message, Now(), SocketErrorText(errorCode),
        std::string("Error event: ") + ErrorEventName(errorEvent) +
            "\nError code: " + std::to_string(errorCode) + "\nRemote address: " + socket.RemoteAddress());
}

TViewerSendCounts TDataModuleMain::SendToViewers(TServerSocket& server, uint8_t writeMessage,
                                                 const TViewerPacket& packet) {
    TViewerSendCounts counts;
    const bool logWrites = LogWanted(llInformation, writeMessage);
    // Each viewer's "Socket write" entry is noted as its turn comes and posted after the last send: the
    // dump, the same for every viewer, is built once, and none of the formatting stands between the
    // packet and the sockets.
    FWrites.clear();
    FWriteMessage = writeMessage;
    FWriteDump = packet.Dump;
    FWriteDumpCount = packet.DumpCount;
    for (TServerClientSocket* socket : server.Connections()) {
        if (!socket->Connected()) {
            continue;
        }
        const TClient* client = FindClient(socket->RemoteAddress());
        if (!client || client->Blocked || (packet.Admit && !packet.Admit(*socket))) {
            continue;
        }
        ++counts.Eligible;
        if (logWrites) {
            FWrites.push_back({Now(), socket->RemoteAddress()});
        }
        if (packet.SkipWhenBehind) {
            const size_t packetBytes = packet.Size + packet.MoreSize;
            // The operator's "BufferSize" stays the floor; a frame larger than it would otherwise
            // go out in pieces, one delayed acknowledgement apart, and halve a fast viewer's rate.
            socket->EnsureSendBufferSize(StreamSendBufferBytes(0, packetBytes));
            if (ViewerBehind(socket->Backlog(), packetBytes)) {
                ++counts.Skipped;
                continue;
            }
        }
        switch (socket->SendWhole(packet.Data, packet.Size, packet.More, packet.MoreSize)) {
        case TSendResult::Sent:
            ++counts.Sent;
            break;
        case TSendResult::Queued:
            ++counts.Queued;
            break;
        case TSendResult::Skipped:
            ++counts.Skipped;
            break;
        case TSendResult::Failed:
        case TSendResult::Closed:
            ++counts.Failed;
            break;
        }
    }
    PostPendingWrites();
    return counts;
}

void TDataModuleMain::PostPendingWrites() {
    if (FWrites.empty()) {
        return;
    }
    const std::string dump = HexDumpValues(FWriteDump, FWriteDumpCount);
    for (const TPendingWrite& write : FWrites) {
        PostLogEntry(llInformation, FWriteMessage, write.Time, write.Address, dump);
    }
    FWrites.clear();
}

TViewerSendCounts TDataModuleMain::SendAudio(const uint8_t* buffer, size_t count) {
    if (!buffer || count == 0) {
        return {};
    }
    TViewerPacket packet;
    packet.Data = buffer;
    packet.Size = count;
    packet.Dump = buffer;
    packet.DumpCount = count;
    const TViewerSendCounts counts = SendToViewers(ServerSocketAudio, lmAudioSocketWrite, packet);
    LiveStreams.SendAudio(buffer, count);
    return counts;
}

TViewerSendCounts TDataModuleMain::SendVideo(const TVideoPacketHeader& header, const uint8_t* jpeg,
                                             size_t jpegBytes) {
    TViewerPacket packet;
    packet.Data = header.data();
    packet.Size = header.size();
    packet.More = jpeg;
    packet.MoreSize = jpeg ? jpegBytes : 0;
    packet.Dump = header.data();
    packet.DumpCount = header.size();
    packet.SkipWhenBehind = true;
    return SendToViewers(ServerSocketVideo, lmVideoSocketWrite, packet);
}

void TDataModuleMain::SendFrame(const TVideoPacketHeader& header, const uint8_t* jpeg, size_t jpegBytes) {
    // Taken before any viewer is served, so that the stream's timestamps are fair to both kinds.
    const double handedOut =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    SendVideo(header, jpeg, jpegBytes);
    LiveStreams.SendFrame(header, jpeg, jpegBytes, handedOut);
}

} // namespace sw
