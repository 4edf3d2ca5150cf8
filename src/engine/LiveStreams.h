#pragma once

#include "platform/net/ServerSocket.h"
#include "video/VideoPacket.h"
#include "web/LiveResource.h"

#include <QObject>
#include <QTimer>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace sw {

class TDataModuleMain;

// Browser viewers on the web port: the live resources' connections, handed over by the web
// connection threads and then served on the main thread by the same fan-out as the video and audio
// ports, so a browser viewer costs what a port viewer costs and holds no thread.
//
// A stream viewer counts as a video connection of the registry and an audio listener as an audio
// connection, logged like port viewers; blocked addresses are sent nothing. Each stream part is
// offered whole with the video port's slow-viewer rule (a viewer that cannot take it skips it and
// gets the newest frame once it reads again), and never holds up the others.
class TLiveStreams : public QObject {
public:
    explicit TLiveStreams(TDataModuleMain& engine);
    ~TLiveStreams() override;

    TServerSocket StreamServer; // /live/stream.mjpg
    TServerSocket AudioServer;  // /live/audio
    // Snapshots and header-only answers: each connection closes once its answer has gone.
    TServerSocket ReplyServer;

    // For the web connection threads: posts the connection to this object's thread.
    TLiveHandOver HandOver();
    // Main thread: answers a handed-over request (dropped when the web server no longer runs).
    void Adopt(TUniqueFd connection, const TLiveRequest& request);

    // The video thread's encoded frame and the audio path's encoded block, after the ports had them.
    // handedOutSeconds: the wall-clock time at which the frame reached the engine, before any viewer.
    void SendFrame(const TVideoPacketHeader& header, const uint8_t* jpeg, size_t jpegBytes,
                   double handedOutSeconds);
    void SendAudio(const uint8_t* buffer, size_t count);

    // Stop: closes every live connection and forgets the newest frame.
    void Close();

    // A snapshot older than this is not the live picture any more: video has stopped.
    static constexpr int kSnapshotMaxAgeMs = 5000;
    // How long an answer may take to drain before its connection is closed anyway.
    static constexpr int kReplyTimeoutMs = 20000;

protected:
    bool event(QEvent* event) override;

private:
    using TClock = std::chrono::steady_clock;
    struct TViewer {
        bool HeaderSent = false;
        int Fps = 0;
        TClock::time_point NextDue{};
    };
    struct TReply {
        TClock::time_point Deadline{};
        bool Finished = false; // our side shut down; waiting for the peer to close
    };
    // The newest frame as a complete stream part: part headers, JPEG, trailing boundary.
    struct TFrame {
        std::vector<uint8_t> Part;
        size_t JpegOffset = 0;
        size_t JpegBytes = 0;
        TClock::time_point At{};
    };

    void ConnectHandlers();
    bool AdmitStreamViewer(TServerClientSocket& socket, TClock::time_point now);
    bool AdmitAudioListener(TServerClientSocket& socket);
    bool Blocked(const std::string& address) const;
    void Reply(TUniqueFd connection, const std::string& address, const uint8_t* data, size_t size,
               const uint8_t* more = nullptr, size_t moreSize = 0);
    void FinishReplies();
    void LogRequest(const TLiveRequest& request, int status);
    static uint16_t PeerPort(int fd);

    TDataModuleMain& FEngine;
    std::unordered_map<const TServerClientSocket*, TViewer> FViewers;
    std::unordered_map<const TServerClientSocket*, TReply> FReplies;
    TViewer FAdopting;
    TFrame FNewest; // no part while no frame came since Start
    QTimer FReplyTimer;
};

} // namespace sw
