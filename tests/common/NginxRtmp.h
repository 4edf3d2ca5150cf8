#pragma once

#include "common/ProgramRunner.h"
#include "common/TestSupport.h"

#include <memory>
#include <string>

namespace sw::test {

// A private nginx with the RTMP module on a loopback port: its own configuration, HLS folder and logs
// in a temporary folder, stopped with the object. Packages nginx and libnginx-mod-rtmp.
class TNginxRtmp {
public:
    // Why nginx cannot be run here (empty when it can).
    static std::string Missing();

    explicit TNginxRtmp(int port = 0);
    ~TNginxRtmp();
    TNginxRtmp(const TNginxRtmp&) = delete;
    TNginxRtmp& operator=(const TNginxRtmp&) = delete;

    // Starts nginx and waits until its port accepts; false with nginx's messages in Errors().
    bool Start();
    void Stop();
    bool Running() const { return FNginx != nullptr; }
    std::string Errors() const;

    int Port() const { return FPort; }
    // Application "live" records HLS into the folder.
    std::string RtmpUrl(const std::string& key) const;
    std::string Playlist(const std::string& key) const;
    const std::string& Folder() const { return FDir.Path(); }

private:
    TTempDir FDir;
    int FPort;
    std::unique_ptr<TProgramRunner> FNginx;
    std::string FErrors;
};

} // namespace sw::test
