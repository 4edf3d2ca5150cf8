#pragma once

#include <string>

namespace sw {

// The commands that load the settings, do one thing and exit, without the engine or an event loop.
enum class TOneShotCommand { None, Report, UpdateHtml };

// --report prints the configuration report to standard output (0). --update-html rewrites the viewer
// page, the outcome going to standard error: 0 when the page was updated, 1 otherwise.
int RunOneShotCommand(TOneShotCommand command, const std::string& iniFile, const std::string& defaultWebHome);

} // namespace sw
