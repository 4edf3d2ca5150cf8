#include "app/HeadlessRunner.h"

#include "config/Configuration.h"
#include "engine/BroadcastController.h"
#include "engine/DataModuleMain.h"
#include "log/LogFormat.h"
#include "platform/profile/IniFile.h"
#include "platform/shell/ConsoleWriter.h"

#include <QCoreApplication>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace sw {

namespace {

int gSignalWrite = -1;

extern "C" void HandleSignal(int signal) {
    if (gSignalWrite >= 0) {
        unsigned char byte = static_cast<unsigned char>(signal);
        [[maybe_unused]] ssize_t n = ::write(gSignalWrite, &byte, 1);
    }
}

} // namespace

THeadlessRunner::THeadlessRunner(TDataModuleMain& engine, TBroadcastController& controller,
                                 bool startBroadcast)
    : FEngine(engine), FController(controller), FStartBroadcast(startBroadcast) {
    connect(&FEngine, &TDataModuleMain::LogRecorded, this,
            [](const TAMLog& entry) { WriteConsoleLine(FormatConsoleLine(entry)); });
    connect(&FController, &TBroadcastController::InitializedDevices, this,
            [this] { OnDevicesInitialized(); });
}

// The engine may already be gone; the connections end with this object.
THeadlessRunner::~THeadlessRunner() {
    if (FSignalNotifier) {
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
        ::close(gSignalWrite);
        gSignalWrite = -1;
    }
}

void THeadlessRunner::InstallSignalHandlers() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    FSignalRead = TUniqueFd(fds[0]);
    gSignalWrite = fds[1];
    FSignalNotifier = std::make_unique<QSocketNotifier>(static_cast<qintptr>(fds[0]), QSocketNotifier::Read);
    connect(FSignalNotifier.get(), &QSocketNotifier::activated, this, [this] { OnSignal(); });
    struct sigaction action {};
    action.sa_handler = HandleSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

void THeadlessRunner::OnDevicesInitialized() {
    if (!FStartBroadcast) {
        return;
    }
    std::string reason;
    if (!FController.CanStart(&reason)) {
        WriteConsoleLine("Cannot start: " + reason);
        for (const std::string& hint : DeviceHints()) {
            WriteConsoleLine(hint);
        }
        Quit(1);
        return;
    }
    if (ConfigurationExists() && !Configuration().Video().Enabled() && !Configuration().Audio().Enabled()) {
        WriteConsoleLine("video and audio are both disabled: nothing will be sent; see --help");
    }
    if (!FController.Start()) {
        FEngine.FlushLog();
        WriteConsoleLine("Start failed; see the log entries above");
        Quit(1);
        return;
    }
    // The ports actually taken, for whoever configured 0 (the operating system's choice).
    std::string listening = "Listening: video port " + std::to_string(FEngine.ServerSocketVideo.LocalPort()) +
                            ", audio port " + std::to_string(FEngine.ServerSocketAudio.LocalPort());
    if (FEngine.ServerSocketWeb.Active()) {
        listening += ", web port " + std::to_string(FEngine.ServerSocketWeb.LocalPort());
    }
    WriteConsoleLine(listening);
}

std::vector<std::string> DeviceHints() {
    std::vector<std::string> hints;
    if (!ConfigurationExists()) {
        return hints;
    }
    TConfiguration& config = Configuration();
    // The stored name: the section in memory only knows that it matched nothing.
    const TIniFile file(config.FileName());
    const std::pair<const char*, TDeviceConfiguration*> sections[] = {{"Video", &config.Video()},
                                                                      {"Audio", &config.Audio()}};
    for (const auto& [name, section] : sections) {
        if (!section->Enabled() || section->Device() >= 0) {
            continue;
        }
        std::string stored = file.ReadString(name, "Device", "");
        std::string hint = stored.empty()
                               ? std::string("[") + name + "] Device is not set"
                               : std::string("[") + name + "] Device=" + stored + " matches no device";
        hint += "; the devices are:";
        std::vector<std::string> devices = section->DeviceNameList();
        for (size_t i = 0; i < devices.size(); ++i) {
            hint += (i ? ", \"" : " \"") + devices[i] + "\"";
        }
        hints.push_back(hint + (devices.empty() ? " none" : ""));
    }
    return hints;
}

void THeadlessRunner::OnSignal() {
    unsigned char byte;
    while (::read(FSignalRead.Get(), &byte, 1) == 1) {
    }
    if (FController.CanStop()) {
        FController.Stop();
    }
    Quit(0);
}

void THeadlessRunner::Quit(int code) {
    FEngine.FlushLog();
    QCoreApplication::exit(code);
}

} // namespace sw
