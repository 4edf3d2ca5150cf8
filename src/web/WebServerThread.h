#pragma once

#include "log/LogPost.h"
#include "platform/shell/UniqueFd.h"
#include "web/WebRequest.h"
#include "web/WebResponse.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace sw {

// How long a connection may hold its thread without making progress.
struct TWebConnectionLimits {
    int IdleTimeoutMs = 15000;   // no byte between requests (or inside a body)
    int HeaderTimeoutMs = 10000; // first byte of a request to the end of its header block
    int WriteTimeoutMs = 30000;  // the peer takes none of our bytes
    int LingerMs = 2000;         // after our last response, drain what the peer still sends before closing
};

// Serves one accepted connection on its own thread: reads requests, answers each with a file of the
// home directory ("Web" / "Path") or an error, and posts one log entry per request to LogWindow.
class TWebServerThread {
public:
    // The thread is created suspended; Start runs it.
    TWebServerThread(TUniqueFd connection, std::string remoteAddress, TWebConnectionLimits limits = {});
    virtual ~TWebServerThread();
    TWebServerThread(const TWebServerThread&) = delete;
    TWebServerThread& operator=(const TWebServerThread&) = delete;

    // Where log entries go; set before Start.
    TMessageWindow LogWindow = nullptr;

    // False when the thread could not be created; the connection is then closed at once.
    bool Start();
    // Asks the thread to end and wakes it from any wait by shutting the connection down. Any thread.
    void Terminate();
    void WaitFor();
    bool Terminated() const { return FTerminated.load(); }
    // The connection routine has returned and the connection is closed.
    bool Finished() const { return FFinished.load(); }
    const std::string& RemoteAddress() const { return FRemoteAddress; }

protected:
    void ServeConnection();
    void ReadRequestData();
    void HandleRequest();
    void PostLogEntry(uint8_t level, uint8_t message, const std::string& detail, const std::string& values);

    std::unique_ptr<TWebRequest> Request;
    std::unique_ptr<TWebResponse> Response;
    bool KeepAlive = true;

private:
    using TClock = std::chrono::steady_clock;
    enum class TWaitResult { Ready, Timeout, Stop };

    void Execute();
    TWaitResult Wait(short events, int timeoutMs);
    bool WriteAll(std::string_view data);
    void SendResponse();
    void CloseConnection();

    std::mutex FSocketLock; // guards closing FSocket against Terminate's shutdown
    TUniqueFd FSocket;
    std::string FRemoteAddress;
    TWebConnectionLimits FLimits;
    std::thread FThread;
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFinished{false};
    bool FConnected = true;
    bool FRequestStarted = false;
    TClock::time_point FRequestStart;
    TClock::time_point FLastActivity;
    std::string FReadBuffer;
    std::string FWriteBuffer;
};

// The engine's part of an accepted connection: creates the thread suspended, hands it the message
// window for its log entries and starts it. nullptr when it could not be started.
std::unique_ptr<TWebServerThread> CreateWebServerThread(TUniqueFd connection,
                                                        const std::string& remoteAddress,
                                                        TMessageWindow logWindow,
                                                        const TWebConnectionLimits& limits = {});

} // namespace sw
