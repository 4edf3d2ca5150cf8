#include "app/HeadlessRunner.h"

#include "config/Configuration.h"
#include "engine/BroadcastController.h"
#include "engine/DataModuleMain.h"
#include "log/LogFormat.h"
#include "platform/profile/IniFile.h"
#include "platform/shell/ConsoleWriter.h"

#include <QCoreApplication>

namespace sw {

THeadlessRunner::THeadlessRunner(TDataModuleMain& engine, TBroadcastController& controller,
                                 bool startBroadcast)
    : FEngine(engine), FController(controller), FStartBroadcast(startBroadcast) {
    connect(&FEngine, &TDataModuleMain::LogRecorded, this,
            [](const TAMLog& entry) { WriteConsoleLine(FormatConsoleLine(entry)); });
    connect(&FController, &TBroadcastController::InitializedDevices, this,
            [this] { OnDevicesInitialized(); });
}

// The engine may already be gone; the connections end with this object.
THeadlessRunner::~THeadlessRunner() = default;

void THeadlessRunner::InstallSignalHandlers() {
    FStopSignals = std::make_unique<TStopSignals>();
    connect(FStopSignals.get(), &TStopSignals::Received, this, [this] { OnSignal(); });
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
