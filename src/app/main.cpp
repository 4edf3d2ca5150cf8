#include "app/HeadlessRunner.h"
#include "app/OneShotCommands.h"
#include "config/Configuration.h"
#include "engine/BroadcastController.h"
#include "engine/DataModuleMain.h"
#include "engine/EngineApplication.h"
#include "engine/JpegLibrary.h"
#include "engine/ProgramLifecycle.h"
#include "platform/shell/ConsoleWriter.h"
#include "platform/shell/VersionInfo.h"
#include "video/JpegConverter.h"

#include <QGuiApplication>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kUsage =
    "Usage: streamwright --headless [--start] [--ini FILE] [--publish URL]\n"
    "       streamwright --report | --update-html [--ini FILE]\n"
    "       streamwright --help | --version\n"
    "\n"
    "  --headless   run without windows; message boxes and log entries go to standard error\n"
    "  --start      start the broadcast as soon as the devices are initialised;\n"
    "               exit with status 1 when it cannot start\n"
    "  --report     print the configuration report and exit\n"
    "  --update-html\n"
    "               rewrite the viewer page's applet element for this host and its ports;\n"
    "               exit with status 0 when updated, 1 otherwise (messages on standard error)\n"
    "  --ini FILE   settings file (default: the executable's path with \".ini\");\n"
    "               the log file is FILE with \".log\"\n"
    "  --publish URL\n"
    "               also send the broadcast to a media server for this run (rtmp://server/app/key,\n"
    "               srt://host:port?streamid=..., rtsp://server/path); the settings file is not changed\n"
    "  --version    print the version and exit\n"
    "  --help       print this text and exit\n"
    "\n"
    "SIGINT or SIGTERM stops a running broadcast, writes the log and exits.\n";

// The fast JPEG library is opened once before anything else and closed at the very end; the report
// describes the encoder that is actually in use.
class TJpegLibraryScope {
public:
    TJpegLibraryScope() {
        sw::LoadIjl();
        sw::SetJpegLibrarySource(sw::EncoderJpegLibraryInfo);
    }
    ~TJpegLibraryScope() {
        sw::SetJpegLibrarySource(nullptr);
        sw::UnloadIjl();
    }
    TJpegLibraryScope(const TJpegLibraryScope&) = delete;
    TJpegLibraryScope& operator=(const TJpegLibraryScope&) = delete;
};

struct TOptions {
    bool Headless = false;
    bool Start = false;
    sw::TOneShotCommand Command = sw::TOneShotCommand::None;
    std::string IniFile;
    std::string PublishUrl;
};

std::string AbsolutePath(const std::string& path) {
    if (!path.empty() && path[0] == '/') {
        return path;
    }
    char cwd[4096];
    if (!::getcwd(cwd, sizeof cwd)) {
        return path;
    }
    return std::string(cwd) + "/" + path;
}

} // namespace

int main(int argc, char** argv) {
    using namespace sw;
    // A standard error or output whose reader has gone must not end the broadcast; writes to it just
    // fail (sockets already send with MSG_NOSIGNAL).
    std::signal(SIGPIPE, SIG_IGN);
    TOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("%s %s\n", VersionInfo().Value(TVersionInfo::ProductName).c_str(),
                        VersionInfo().Value(TVersionInfo::FileVersion).c_str());
            return 0;
        }
        if (arg == "--headless") {
            options.Headless = true;
        } else if (arg == "--report") {
            options.Command = TOneShotCommand::Report;
        } else if (arg == "--update-html") {
            options.Command = TOneShotCommand::UpdateHtml;
        } else if (arg == "--start") {
            options.Start = true;
        } else if (arg == "--ini" && i + 1 < argc) {
            options.IniFile = AbsolutePath(argv[++i]);
        } else if (arg == "--publish" && i + 1 < argc) {
            options.PublishUrl = argv[++i];
        } else {
            std::fprintf(stderr, "streamwright: unknown option %s\n\n%s", arg.c_str(), kUsage);
            return 2;
        }
    }
    const TJpegLibraryScope jpegLibrary;
    if (options.Command != TOneShotCommand::None) {
        return RunOneShotCommand(options.Command, options.IniFile.empty()
                                                      ? ChangeFileExt(ExecutablePath(), ".ini")
                                                      : options.IniFile);
    }
    if (!options.Headless) {
        std::fprintf(stderr, "streamwright: this build has no windows yet; run it with --headless\n");
        return 2;
    }

    const std::string iniFile =
        options.IniFile.empty() ? ChangeFileExt(ExecutablePath(), ".ini") : options.IniFile;
    TProgramLifecycle program(iniFile);
    program.Configuration().Publish().SetRunUrl(options.PublishUrl);

    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM")) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    if (!std::getenv("XDG_RUNTIME_DIR")) {
        // What Qt would pick itself, without its warning on every headless start.
        std::string runtime = "/tmp/runtime-" + std::to_string(::getuid());
        ::mkdir(runtime.c_str(), 0700);
        ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    }
    int exitCode;
    {
        TConsoleWriter console;
        TConsoleWriterScope consoleScope(console);
        TEngineApplication<QGuiApplication> application(argc, argv);
        program.CreateEngine();
        THeadlessRunner runner(program.Engine(), program.Controller(), options.Start);
        runner.InstallSignalHandlers();
        exitCode = application.exec();
        program.DestroyEngine();
    }
    return exitCode;
}
