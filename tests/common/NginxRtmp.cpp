#include "common/NginxRtmp.h"

#include <QElapsedTimer>
#include <QThread>
#include <csignal>
#include <unistd.h>

namespace sw::test {

namespace {

constexpr const char* kNginx = "/usr/sbin/nginx";
constexpr const char* kRtmpModule = "/usr/lib/nginx/modules/ngx_rtmp_module.so";

} // namespace

std::string TNginxRtmp::Missing() {
    if (::access(kNginx, X_OK) != 0) {
        return std::string(kNginx) + " is not installed (package nginx; scripts/bootstrap installs it)";
    }
    if (::access(kRtmpModule, R_OK) != 0) {
        return std::string(kRtmpModule) +
               " is not installed (package libnginx-mod-rtmp; scripts/bootstrap installs it)";
    }
    return {};
}

TNginxRtmp::TNginxRtmp(int port) : FPort(port > 0 ? port : FreePort()) {
    WriteFile(FDir.File("nginx.conf"),
              "load_module " + std::string(kRtmpModule) +
                  ";\n"
                  "daemon off;\nmaster_process off;\nworker_processes 1;\n"
                  "pid " +
                  FDir.File("nginx.pid") +
                  ";\n"
                  "error_log " +
                  FDir.File("error.log") +
                  " info;\n"
                  "events { worker_connections 64; }\n"
                  "rtmp {\n  server {\n    listen 127.0.0.1:" +
                  std::to_string(FPort) +
                  ";\n"
                  "    application live {\n      live on;\n      hls on;\n"
                  "      hls_path " +
                  FDir.File("hls") +
                  ";\n      hls_fragment 2s;\n      hls_playlist_length 20s;\n    }\n  }\n}\n");
}

TNginxRtmp::~TNginxRtmp() {
    Stop();
}

bool TNginxRtmp::Start() {
    Stop();
    FNginx = std::make_unique<TProgramRunner>(kNginx, std::vector<std::string>{"-p", FDir.Path() + "/", "-e",
                                                                               FDir.File("error.log"), "-c",
                                                                               FDir.File("nginx.conf")});
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 20000) {
        if (CanConnect(FPort)) {
            return true;
        }
        if (FNginx->WaitForExit(0) != -1) {
            break;
        }
        QThread::msleep(20);
    }
    FErrors = FNginx->Errors() + ReadFile(FDir.File("error.log"));
    FNginx.reset();
    return false;
}

void TNginxRtmp::Stop() {
    if (FNginx) {
        FNginx->Signal(SIGTERM);
        FNginx->WaitForExit(10000);
        FErrors = FNginx->Errors();
        FNginx.reset();
    }
}

std::string TNginxRtmp::Errors() const {
    return FErrors + ReadFile(FDir.File("error.log"));
}

std::string TNginxRtmp::RtmpUrl(const std::string& key) const {
    return "rtmp://127.0.0.1:" + std::to_string(FPort) + "/live/" + key;
}

std::string TNginxRtmp::Playlist(const std::string& key) const {
    return FDir.File("hls/" + key + ".m3u8");
}

} // namespace sw::test
