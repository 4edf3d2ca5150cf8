#include "app/CommandLine.h"
#include "app/HeadlessRunner.h"
#include "app/OneShotCommands.h"
#include "app/StartupFolders.h"
#include "app/WindowedProgram.h"
#include "config/Configuration.h"
#include "engine/BroadcastController.h"
#include "engine/DataModuleMain.h"
#include "engine/EngineApplication.h"
#include "engine/JpegLibrary.h"
#include "engine/ProgramLifecycle.h"
#include "platform/shell/ConsoleWriter.h"
#include "video/JpegConverter.h"

#include <QGuiApplication>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

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

} // namespace

int main(int argc, char** argv) {
    using namespace sw;
    // A standard error or output whose reader has gone must not end the broadcast; writes to it just
    // fail (sockets already send with MSG_NOSIGNAL).
    std::signal(SIGPIPE, SIG_IGN);
    TCommandLine options;
    if (std::optional<int> exitCode =
            ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), options)) {
        return *exitCode;
    }
    const TJpegLibraryScope jpegLibrary;
    const TProgramFolders folders = StartupFolders(options.IniFile);
    if (options.Command != TOneShotCommand::None) {
        return RunOneShotCommand(options.Command, folders.IniFile, folders.WebHome);
    }
    if (!std::getenv("XDG_RUNTIME_DIR")) {
        // What Qt would pick itself, without its warning on every start.
        std::string runtime = "/tmp/runtime-" + std::to_string(::getuid());
        ::mkdir(runtime.c_str(), 0700);
        ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    }
    if (!options.Headless) {
        return RunWindowed(argc, argv, folders, options);
    }

    TProgramLifecycle program(folders.IniFile, folders.LogFile, folders.WebHome);
    program.Configuration().Publish().SetRunUrl(options.PublishUrl);
    program.Configuration().Broadcast().SetRunListenAddress(options.ListenAddress);

    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM")) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
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
