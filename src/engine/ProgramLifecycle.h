#pragma once

#include <memory>
#include <string>

namespace sw {

class TBroadcastController;
class TClients;
class TConfiguration;
class TDataModuleMain;

// The one owner of the program's start-up and shut-down order, used by the program, the test fixtures
// and the benchmarks alike:
//   construction: the temporary files of killed rewrites removed (settings, log, viewer page), the
//                 configuration (created, loaded, its run-time values stored), then the client
//                 registry with its blocked addresses;
//   CreateEngine: (once the application object exists) the engine with its log and "Starting", then
//                 the broadcast controller, whose creation posts the view messages and the device
//                 initialisation;
//   DestroyEngine: the controller's destruction (Stop first while broadcasting, then the sound input
//                 and the capture device), the queued log entries recorded and written, the engine;
//   destruction: DestroyEngine when still needed, then the registry, and last the configuration.
// Each object is also installed as the process-wide one while it exists.
class TProgramLifecycle {
public:
    // An empty logFile is the settings file's name with ".log"; an empty defaultWebHome keeps the
    // executable's folder as the web home default.
    explicit TProgramLifecycle(const std::string& iniFile, const std::string& logFile = {},
                               const std::string& defaultWebHome = {});
    ~TProgramLifecycle();
    TProgramLifecycle(const TProgramLifecycle&) = delete;
    TProgramLifecycle& operator=(const TProgramLifecycle&) = delete;

    // "Starting" is followed by the files in use.
    void CreateEngine();
    void DestroyEngine();

    const std::string& IniFile() const { return FIniFile; }
    TConfiguration& Configuration() { return *FConfiguration; }
    TClients& Clients() { return *FClients; }
    // Only between CreateEngine and DestroyEngine.
    TDataModuleMain& Engine() { return *FEngine; }
    TBroadcastController& Controller() { return *FController; }
    bool EngineExists() const { return FEngine != nullptr; }

private:
    std::string FIniFile;
    std::string FLogFile;
    std::unique_ptr<TConfiguration> FConfiguration;
    std::unique_ptr<TClients> FClients;
    std::unique_ptr<TDataModuleMain> FEngine;
    std::unique_ptr<TBroadcastController> FController;
};

} // namespace sw
