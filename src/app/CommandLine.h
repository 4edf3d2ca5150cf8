#pragma once

#include "app/OneShotCommands.h"

#include <optional>
#include <string>
#include <vector>

namespace sw {

struct TCommandLine {
    bool Headless = false;
    bool Start = false;
    TOneShotCommand Command = TOneShotCommand::None;
    std::string IniFile; // absolute; empty for the default beside the executable
    std::string PublishUrl;
    std::string ListenAddress; // --listen, for this run only
};

// Reads the arguments (without the program name). Returns the exit code when the program should end
// at once: 0 after --help or --version (printed on standard output), 2 after an error (said on
// standard error with the usage); nothing when it should go on with options.
std::optional<int> ParseCommandLine(const std::vector<std::string>& arguments, TCommandLine& options);

// The settings file the program uses: --ini's, else the executable's path with ".ini".
std::string SettingsFileName(const TCommandLine& options);

// The --help text.
std::string UsageText();

} // namespace sw
