#include "app/OneShotCommands.h"

#include "config/Configuration.h"
#include "engine/Reports.h"
#include "engine/ViewerPage.h"

#include <cstdio>
#include <memory>

namespace sw {

int RunOneShotCommand(TOneShotCommand command, const std::string& iniFile,
                      const std::string& defaultWebHome) {
    // Only loaded: the run-time values are not stored, so the settings file stays as it is.
    auto configuration = std::make_unique<TConfiguration>(iniFile);
    SetConfiguration(configuration.get());
    configuration->Web().SetDefaultPath(defaultWebHome);
    configuration->Reload();
    int exitCode = 0;
    if (command == TOneShotCommand::Report) {
        std::vector<std::string> lines;
        RenderSystemInfo(SystemInfoLines(CollectSystemInfo()), lines);
        lines.emplace_back();
        for (std::string& line : VideoFormatLines()) {
            lines.push_back(std::move(line));
        }
        for (const std::string& line : lines) {
            std::printf("%s\n", line.c_str());
        }
        std::fflush(stdout);
    } else if (command == TOneShotCommand::UpdateHtml) {
        exitCode = UpdateViewerPage() == TViewerPageResult::Updated ? 0 : 1;
    }
    SetConfiguration(nullptr);
    return exitCode;
}

} // namespace sw
