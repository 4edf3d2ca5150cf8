#include "app/WindowedProgram.h"

#include "app/SingleInstance.h"
#include "app/StopSignals.h"
#include "config/Configuration.h"
#include "engine/BroadcastController.h"
#include "engine/EngineApplication.h"
#include "engine/ProgramLifecycle.h"
#include "platform/shell/OperatorPrompts.h"
#include "ui/FormMain.h"
#include "ui/QtPrompts.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace sw {

namespace {

constexpr const char* kNoDisplay =
    "streamwright: the main window needs a display, and none was found (neither DISPLAY nor "
    "WAYLAND_DISPLAY is set).\n"
    "Run it on a desktop, or broadcast without windows: streamwright --headless [--start]\n";

QtMessageHandler gPreviousHandler = nullptr;

// Qt ends the program when the display named cannot be opened; the operator is told what to do.
void StartupMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtFatalMsg) {
        std::fprintf(
            stderr, "streamwright: could not open the display (%s)\n%s", message.toLocal8Bit().constData(),
            "Check DISPLAY or WAYLAND_DISPLAY, or broadcast without windows: streamwright --headless "
            "[--start]\n");
        std::fflush(stderr);
        std::_Exit(2);
    }
    if (gPreviousHandler) {
        gPreviousHandler(type, context, message);
    }
}

bool DisplayNamed() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    return std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY") || (platform && *platform);
}

// --start: the broadcast starts when the devices are first initialised, if Start is allowed then;
// otherwise the operator reads why and the window stays.
void StartOnceInitialized(TBroadcastController& controller) {
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = QObject::connect(
        &controller, &TBroadcastController::InitializedDevices, &controller, [&controller, connection] {
            QObject::disconnect(*connection);
            std::string reason;
            if (!controller.CanStart(&reason)) {
                std::fprintf(stderr, "streamwright: cannot start: %s\n", reason.c_str());
                return;
            }
            controller.Start();
        });
}

} // namespace

int RunWindowed(int& argc, char** argv, const TProgramFolders& folders, const TCommandLine& options) {
    if (!DisplayNamed()) {
        std::fputs(kNoDisplay, stderr);
        return 2;
    }
    gPreviousHandler = qInstallMessageHandler(StartupMessageHandler);
    TEngineApplication<QApplication> application(argc, argv);
    qInstallMessageHandler(gPreviousHandler);
    application.setQuitOnLastWindowClosed(false);

    const std::string& iniFile = folders.IniFile;
    TSingleInstance instance(iniFile);
    if (!instance.Acquire()) {
        if (instance.ActivateFirst()) {
            std::fprintf(stderr, "streamwright: already running on %s; its window was brought forward\n",
                         iniFile.c_str());
            return 0;
        }
        std::fprintf(stderr, "streamwright: another start on %s holds its lock but does not answer\n",
                     iniFile.c_str());
        return 1;
    }

    TQtPrompts prompts;
    SetPrompts(&prompts);
    int exitCode;
    {
        TProgramLifecycle program(folders.IniFile, folders.LogFile, folders.WebHome);
        program.Configuration().Publish().SetRunUrl(options.PublishUrl);
        program.Configuration().Broadcast().SetRunListenAddress(options.ListenAddress);
        program.CreateEngine();
        {
            TFormMain form(program.Controller());
            instance.OnActivate = [&form] { form.ExecuteAction(TMainAction::Open); };
            QObject::connect(&form, &TFormMain::Closed, &application, &QCoreApplication::quit,
                             Qt::QueuedConnection);
            // A signal ends the program as closing the window would, without the question: the
            // engine's destruction stops the broadcast and writes the log.
            TStopSignals stopSignals;
            // (exit, not quit: quit would ask the window, whose close asks the operator.)
            QObject::connect(&stopSignals, &TStopSignals::Received, &application,
                             [] { QCoreApplication::exit(0); });
            if (options.Start) {
                StartOnceInitialized(program.Controller());
            }
            form.show();
            exitCode = application.exec();
            instance.OnActivate = nullptr;
        }
        program.DestroyEngine();
    }
    SetPrompts(nullptr);
    return exitCode;
}

} // namespace sw
