#pragma once

#include "app/CommandLine.h"
#include "app/StartupFolders.h"

namespace sw {

// The program with its main window, in the windowed start-up order. Needs a display: without one it
// says so (suggesting --headless) and returns 2. A second start on the same settings file brings the
// first one's window forward and returns 0.
int RunWindowed(int& argc, char** argv, const TProgramFolders& folders, const TCommandLine& options);

} // namespace sw
