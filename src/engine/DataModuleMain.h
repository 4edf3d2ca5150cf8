#pragma once

#include "engine/LiveStreams.h"
#include "engine/ViewerSend.h"
#include "log/EventLog.h"
#include "log/LogPost.h"
#include "platform/net/ServerSocket.h"
#include "platform/net/ThreadedServer.h"
#include "platform/shell/SoundPlayer.h"
#include "video/VideoPacket.h"

#include <QObject>
#include <QTimer>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace sw {

// The engine: the three servers, the event log, the system information and the hidden message
// window through which other threads hand log entries to the main thread.
//
// Threads, what they share and how each stops:
// - main thread: this object, the video and audio servers (socket notifiers), their connection
//   handlers, the client registry, SendAudio and the sending to viewers, the log, Start/Stop, the
//   capture window's frame handling, the sound input's buffers, the broadcast controller and the
//   windows. Everything below reaches it only through posted events.
// - "video" (TVideoThread) only paces grabs: each is a synchronous request that the capture window
//   runs on the main thread, where the frame is encoded and SendFrame offers it to the video viewers.
//   StopVideo ends it while serving those requests (a plain join would deadlock against a grab in
//   progress); Stop runs it before the servers close.
// - "sound" (platform/sound) fills the queued capture buffers and posts one "buffer filled" event per
//   buffer to the audio capture object; its reset and stop wait until it has left its read, and the
//   device's close joins it.
// - "web-accept" calls ServerSocketWebGetThread for each connection, and each "web-conn" serves one
//   connection, reading the settings under their lock and posting one log record per request;
//   StopServers joins every web thread before it returns. A request for a live resource hands its
//   connection (a descriptor of its own) to LiveStreams in a posted event and the thread ends; from
//   then on the main thread serves it like a port viewer, and StopServers closes it.
// - "publish" (TPublisher, owned by the broadcast controller) takes the video thread's overlaid
//   frames and the sound buffers from TPublishQueue (a newest-wins mailbox and a bounded queue that
//   the main thread fills without waiting), encodes, sends and reconnects; its encoder's worker
//   threads carry the same name. Its network calls give up when Stop asks, which joins it after the
//   capture has stopped and before the servers close; it posts log records only.
// - "log-writer" (TLogFileWriter) appends each recorded line to the file and, when asked, rewrites
//   the file from a snapshot of the shared lines; the main thread hands it work under its lock and
//   never waits for it except in SaveLog, Stop and shutdown. It is joined when the log goes.
// - "connect-sound" (TSoundPlayer) plays one connect sound and ends; it shares nothing but a stop
//   flag, and the next sound or the engine's destruction joins it.
// - Other threads hand log records to MessageWindow() only: the record travels inside the posted
//   event (kEventLogEntry) and is freed by whoever holds it. Entries still queued when the engine is
//   destroyed are recorded by FlushLog first.
// The custom event numbers are in one table, platform/shell/CustomEvents.h.
class TDataModuleMain : public QObject, public TVideoPacketSink {
    Q_OBJECT
public:
    explicit TDataModuleMain(std::string logFileName, QObject* parent = nullptr);
    ~TDataModuleMain() override;

    TServerSocket ServerSocketVideo;
    TServerSocket ServerSocketAudio;
    TThreadedServer ServerSocketWeb;
    // Browser viewers of the web port's live resources.
    TLiveStreams LiveStreams{*this};
    std::vector<std::string> SystemInfo;

    TMessageWindow MessageWindow() const { return FMessageWindow.get(); }
    const std::string& LogFileName() const { return FLog.LogFileName(); }
    const TLogLines& LogLines() const { return FLog.LogLines(); }

    // The object that receives WM_CONNECTIONSCHANGED, WM_LOGCHANGED and WM_SYSTEMINFOCHANGED;
    // none until the main window (or its headless stand-in) exists.
    void SetMainWindow(QObject* window) { FMainWindow = window; }
    QObject* MainWindow() const { return FMainWindow; }
    void PostToMainWindow(int message) const;

    bool Log(uint8_t level, uint8_t message, TDateTime time, const std::string& detail,
             const std::string& values = {});
    bool LogHexDump(uint8_t level, uint8_t message, TDateTime time, size_t count, const uint8_t* buffer,
                    const std::string& detail);
    bool PostLogEntry(uint8_t level, uint8_t message, TDateTime time, const std::string& detail,
                      const std::string& values);
    void WriteLogEntry(const TAMLog& entry);
    void LoadLog();
    void SaveLog();
    void ClearLog();
    // Records the entries still queued for the message window, then writes the file if it is behind.
    void FlushLog();

    // On 127.0.0.1, or on the listening address when one is set.
    static bool PortInUse(int port, const std::string& address = {});
    // Throws when a server cannot listen although its port tested free.
    void StartServers();
    void StopServers();
    // Hooks for what StopServers does after the servers are closed (the client registry's reset).
    std::function<void()> OnServersStopped;
    // Replaces the web connection thread that ServerSocketWebGetThread creates (accepting thread).
    std::function<std::unique_ptr<TServerThread>(TUniqueFd, const std::string&)> WebThreadFactory;
    std::unique_ptr<TServerThread> ServerSocketWebGetThread(TUniqueFd socket,
                                                            const std::string& remoteAddress);

    void ApplicationEventsException(const std::string& message);

    // Viewer connections: the events of the video and audio servers (main thread).
    void ServerSocketVideoClientConnect(TServerClientSocket& socket);
    void ServerSocketVideoClientRead(TServerClientSocket& socket);
    void ServerSocketVideoClientDisconnect(TServerClientSocket& socket);
    void ServerSocketVideoClientError(TServerClientSocket& socket, TErrorEvent errorEvent, int& errorCode);
    void ServerSocketAudioClientConnect(TServerClientSocket& socket);
    void ServerSocketAudioClientRead(TServerClientSocket& socket);
    void ServerSocketAudioClientDisconnect(TServerClientSocket& socket);
    void ServerSocketAudioClientError(TServerClientSocket& socket, TErrorEvent errorEvent, int& errorCode);

    // Called first for every new viewer connection, before the registry counts it.
    void ClientConnectNotice(TServerClientSocket& socket);
    // Called after the registry counted a connection's end; duration was taken before that.
    void ClientDisconnectNotice(TServerClientSocket& socket, uint32_t duration);
    // Closes every video, then every audio connection of the address, each with its disconnect steps.
    void DisconnectClient(const std::string& address);
    // Hands one encoded audio block to every eligible audio viewer.
    TViewerSendCounts SendAudio(const uint8_t* buffer, size_t count);
    // Offers one video packet (header and JPEG, sent without a copy) to every eligible video viewer,
    // each with a "Socket write" dump of the header.
    TViewerSendCounts SendVideo(const TVideoPacketHeader& header, const uint8_t* jpeg, size_t jpegBytes);
    // The video thread's packets (TVideoPacketSink).
    void SendFrame(const TVideoPacketHeader& header, const uint8_t* jpeg, size_t jpegBytes) override;
    void LogSocketError(uint8_t message, TServerClientSocket& socket, int errorCode, TErrorEvent errorEvent);
    // Offers one packet whole to every open connection of the server whose address is registered and
    // not blocked, each preceded by a "Socket write" entry (writeMessage) with the packet's dump.
    TViewerSendCounts SendToViewers(TServerSocket& server, uint8_t writeMessage, const TViewerPacket& packet);

    TSoundPlayer& ConnectSoundPlayer() { return FConnectSound; }

Q_SIGNALS:
    // Every recorded entry, after it joined LogLines (the headless program prints it).
    void LogRecorded(const TAMLog& entry);

public:
    // Reports and the viewer page (Reports.cpp, ViewerPage.cpp).
    void BuildSystemInfo();
    void RenderSystemInfo(std::vector<std::string>& strings) const;
    std::string ConfigurationReport() const;
    // The three e-mails, each shown in the user's mail program; the result is not examined.
    void EmailLink() const;
    void EmailConfiguration() const;
    void EmailLog();
    void UpdateViewerPage() const;

    // Each entry is appended to the file; a rewrite (after the cap dropped head lines, or a failed
    // write) happens at most once per interval, and at once by Stop, ClearLog and shutdown.
    static constexpr int kLogFlushIntervalMs = 1000;

private:
    class TMessageWindowObject;
    void DataModuleCreate();
    void DataModuleDestroy();

    void ConnectServerEvents();

    // The "Socket write" entries of the packet being sent, posted once every viewer has it.
    struct TPendingWrite {
        TDateTime Time;
        std::string Address;
    };
    std::vector<TPendingWrite> FWrites;
    uint8_t FWriteMessage = 0;
    const uint8_t* FWriteDump = nullptr;
    size_t FWriteDumpCount = 0;
    void PostPendingWrites();

    std::unique_ptr<QObject> FMessageWindow;
    QObject* FMainWindow = nullptr;
    bool FListenFromSettings = false;
    TEventLog FLog;
    QTimer FLogFlush;
    TSoundPlayer FConnectSound;
};

// The process-wide engine; exists between its creation and destruction in the program's start-up.
TDataModuleMain& DataModuleMain();
bool DataModuleMainExists();

} // namespace sw
