#pragma once

#include "app/StopSignals.h"

#include <QObject>
#include <memory>
#include <string>
#include <vector>

namespace sw {

class TDataModuleMain;
class TBroadcastController;

// For each enabled video or audio section without a device: the stored "Device" and the devices there
// are, one line each.
std::vector<std::string> DeviceHints();

// The program without windows: the same start-up order and broadcast state as the main window,
// message boxes and every recorded log entry on standard error, dialogs cancelled.
class THeadlessRunner : public QObject {
    Q_OBJECT
public:
    THeadlessRunner(TDataModuleMain& engine, TBroadcastController& controller, bool startBroadcast);
    ~THeadlessRunner() override;

    // SIGINT and SIGTERM end the program through the event loop: Stop when broadcasting, log flushed.
    void InstallSignalHandlers();

private:
    void OnDevicesInitialized();
    void OnSignal();
    void Quit(int code);

    TDataModuleMain& FEngine;
    TBroadcastController& FController;
    bool FStartBroadcast;
    std::unique_ptr<TStopSignals> FStopSignals;
};

} // namespace sw
