#pragma once

#include "common/TestSupport.h"
#include "config/Configuration.h"
#include "log/LogPost.h"
#include "platform/net/ThreadedServer.h"
#include "platform/shell/UniqueFd.h"
#include "web/WebServerThread.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace sw::test {

// Writes a file below the folder, creating the folders on its way.
void WriteHomeFile(const TTempDir& dir, const std::string& name, const std::string& content);

// Runs the event loop until the collector holds count entries or the time is up.
bool WaitForEntries(TLogCollector& log, size_t count, int timeoutMs);

struct THttpResponse {
    bool Ok = false; // a whole status line and header block arrived
    int Status = 0;
    std::string StatusLine;
    std::vector<std::pair<std::string, std::string>> Headers; // in arrival order
    std::string Body;
    bool Has(const std::string& name) const;
    std::string Get(const std::string& name) const;
    std::vector<std::string> Names() const;
};

// A blocking client socket on 127.0.0.1 with deadlines on every read.
class TClient {
public:
    explicit TClient(int port, const std::string& sourceAddress = {});
    bool Connected() const { return FFd.Valid(); }
    int Fd() const { return FFd.Get(); }
    bool Send(const std::string& bytes);
    // Reads one response; the body is read by Content-Length (none for HEAD, 204 and a missing length).
    THttpResponse Read(bool head = false, int timeoutMs = 5000);
    // True when the server closed the connection (EOF or reset) within the time; anything read is
    // appended to rest.
    bool WaitClosed(int timeoutMs = 5000, std::string* rest = nullptr);
    void Close() { FFd.Reset(); }

private:
    bool Fill(int timeoutMs);
    TUniqueFd FFd;
    std::string FPending;
    bool FEof = false;
};

// Parses one response out of raw bytes, independently of the server's own code.
THttpResponse ParseResponse(std::string& bytes, bool head);

// A configuration with its own INI file whose "Web" / "Path" is the given folder.
class TTestConfiguration {
public:
    explicit TTestConfiguration(const std::string& home);
    ~TTestConfiguration();

private:
    TTempDir FIniDir;
    std::unique_ptr<TConfiguration> FConfiguration;
};

// A web server on 127.0.0.1 with an OS-chosen port serving a temporary home directory.
class TServerFixture {
public:
    explicit TServerFixture(TWebConnectionLimits connection = FastLimits());
    ~TServerFixture();
    static TWebConnectionLimits FastLimits();

    TTempDir Home;
    TLogCollector Log;
    TTestConfiguration Config{Home.Path()};
    std::unique_ptr<TThreadedServer> Server;
    int Port() const { return FPort; }
    // Waits until the server's connection threads have all finished.
    bool WaitIdle(int timeoutMs);
    int Connections() const { return static_cast<int>(Server->ThreadCount()); }

private:
    int FPort = 0;
};

} // namespace sw::test
