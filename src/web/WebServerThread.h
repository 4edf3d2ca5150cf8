#pragma once

#include "log/LogPost.h"
#include "platform/net/ThreadedServer.h"
#include "platform/shell/UniqueFd.h"
#include "web/LiveResource.h"
#include "web/WebRequest.h"
#include "web/WebResponse.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace sw {

// How long a connection may hold its thread without making progress.
struct TWebConnectionLimits {
    int IdleTimeoutMs = 15000;    // no byte between requests (or inside a body)
    int HeaderTimeoutMs = 10000;  // first byte of a request to the end of its header block
    int RequestTimeoutMs = 30000; // first byte of a request to the end of its body
    int WriteTimeoutMs = 30000;   // the peer takes none of our bytes
    int LingerMs = 2000;          // after our last response, drain what the peer still sends before closing
};

// Serves one accepted connection of the web server (TThreadedServer) on its own thread: reads
// requests, answers each with a file of the home directory ("Web" / "Path") or an error, and posts
// one log entry per request to LogWindow. It waits only in poll(), which the server's Close wakes by
// terminating the thread and shutting the connection down. The server joins the thread before it
// destroys the object.
class TWebServerThread : public TServerThread {
public:
    TWebServerThread(TUniqueFd connection, std::string remoteAddress, TWebConnectionLimits limits = {});

    // Where log entries go; set before the thread starts.
    TMessageWindow LogWindow = nullptr;
    // Takes the connection of a request for a live resource; none serves those names from the home
    // directory like any other. Set before the thread starts.
    TLiveHandOver LiveHandOver;

protected:
    void Execute() override;
    void ServeConnection();
    void ReadRequestData();
    void HandleRequest();
    void PostLogEntry(uint8_t level, uint8_t message, const std::string& detail, const std::string& values);

    std::unique_ptr<TWebRequest> Request;
    std::unique_ptr<TWebResponse> Response;
    bool KeepAlive = true;

private:
    using TClock = std::chrono::steady_clock;

    bool WaitWritable(int timeoutMs);
    bool WriteAll(std::string_view data);
    void SendResponse();
    void Linger();
    bool HandOverLive(const std::string& path);

    TWebConnectionLimits FLimits;
    bool FConnected = true;
    bool FRequestStarted = false;
    TClock::time_point FRequestStart;
    TClock::time_point FLastActivity;
    std::string FReadBuffer;
    std::string FWriteBuffer;
};

// The engine's part of an accepted web connection (ServerSocketWebGetThread): the thread object for
// it, holding the message window for its log entries. The server starts it.
std::unique_ptr<TServerThread> CreateWebServerThread(TUniqueFd connection, const std::string& remoteAddress,
                                                     TMessageWindow logWindow,
                                                     const TWebConnectionLimits& limits = {},
                                                     TLiveHandOver liveHandOver = {});

} // namespace sw
