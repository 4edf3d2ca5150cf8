#pragma once

#include "platform/paths/ProgramFolders.h"

#include <string>

namespace sw {

// The settings, log and web home of this run (iniOption: --ini as an absolute path, or empty), with
// their folders created and, when the settings leave the web home at its default, the installed
// viewer page copied there on first use. A folder that cannot be made is reported on standard error
// and the run goes on: settings and log errors are swallowed later anyway.
TProgramFolders StartupFolders(const std::string& iniOption);

} // namespace sw
