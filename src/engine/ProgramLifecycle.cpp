#include "engine/ProgramLifecycle.h"

#include "config/Configuration.h"
#include "engine/BroadcastController.h"
#include "engine/Clients.h"
#include "engine/DataModuleMain.h"
#include "engine/ViewerPage.h"
#include "platform/profile/AtomicFile.h"

namespace sw {

TProgramLifecycle::TProgramLifecycle(const std::string& iniFile, const std::string& logFile,
                                     const std::string& defaultWebHome)
    : FIniFile(iniFile), FLogFile(logFile.empty() ? ChangeFileExt(iniFile, ".log") : logFile),
      FConfiguration(std::make_unique<TConfiguration>(iniFile)) {
    // A rewrite killed half-way leaves its temporary file; nothing else would ever remove it.
    RemoveStaleTempFiles(FIniFile);
    RemoveStaleTempFiles(FLogFile);
    SetConfiguration(FConfiguration.get());
    FConfiguration->Web().SetDefaultPath(defaultWebHome);
    FConfiguration->Reload();
    RemoveStaleTempFiles(ViewerPageFileName(FConfiguration->Web().Path(), FConfiguration->Web().Page()));
    FConfiguration->StoreRunTimeValues();
    FClients = std::make_unique<TClients>(iniFile);
    SetClients(FClients.get());
}

TProgramLifecycle::~TProgramLifecycle() {
    DestroyEngine();
    SetClients(nullptr);
    FClients.reset();
    SetConfiguration(nullptr);
    FConfiguration.reset();
}

void TProgramLifecycle::CreateEngine() {
    if (FEngine) {
        return;
    }
    FEngine = std::make_unique<TDataModuleMain>(FLogFile);
    const std::string webHome = FConfiguration->Web().Path();
    FEngine->Log(llInformation, lmFiles, Now(),
                 "settings " + FIniFile + ", log " + FLogFile + ", web home " + webHome,
                 FIniFile + "\n" + FLogFile + "\n" + webHome);
    FController = std::make_unique<TBroadcastController>(*FEngine);
    FController->Create();
}

void TProgramLifecycle::DestroyEngine() {
    if (!FEngine) {
        return;
    }
    // The controller's destruction runs Stop while broadcasting, then releases the devices; their
    // entries are still queued for the engine, which records and writes them before it goes.
    FController.reset();
    FEngine->FlushLog();
    FEngine.reset();
}

} // namespace sw
