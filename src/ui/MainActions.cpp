#include "ui/MainActions.h"

#include "ui/Images.h"

namespace sw {

namespace {

using A = TMainAction;

// Every row must sit at its action's position; the compiler checks it below.
constexpr std::array<TMainActionInfo, kMainActionCount> kTable = {{
    {A::ViewBroadcast, "ActionViewBroadcast", "Broadcast", "View", imgBroadcast, "Alt+B", true},
    {A::ViewConnections, "ActionViewConnections", "Connections", "View", imgConnections, "Alt+C", true},
    {A::ViewLog, "ActionViewLog", "Log", "View", imgLog, "Alt+L", true},
    {A::ViewConfiguration, "ActionViewConfiguration", "Configuration", "View", imgConfiguration, "Alt+G",
     true},
    {A::ViewAbout, "ActionViewAbout", "About", "View", imgStreamwright, "", true},
    {A::Start, "ActionStart", "Start", "", imgStart, "", false},
    {A::Stop, "ActionStop", "Stop", "", imgStop, "", false},
    {A::Minimize, "ActionMinimize", "Minimize", "", imgMinimize, "", false},
    {A::Close, "ActionClose", "Close", "", imgClose, "", false},
    {A::Open, "ActionOpen", "Open", "", -1, "", false},
    {A::Options, "ActionOptions", "Options...", "", imgOptions, "", false},
    {A::Email, "ActionEmail", "Email Link", "", imgEmail, "", false},
    {A::Html, "ActionHtml", "Update HTML", "", imgUpdateHtml, "", false},
    {A::MenuStreamwright, "ActionMenuStreamwright", "Streamwright", "Menu", imgStreamwrightMenu, "", false},
    {A::MenuAudio, "ActionMenuAudio", "Audio", "Menu", imgAudio, "", false},
    {A::MenuVideo, "ActionMenuVideo", "Video", "Menu", imgVideo, "", false},
    {A::VideoEnabled, "ActionVideoEnabled", "Enabled", "Video", -1, "", true},
    {A::VideoSource, "ActionVideoSource", "Source...", "Video", imgVideoSource, "", false},
    {A::VideoFormat, "ActionVideoFormat", "Format...", "Video", imgVideoFormat, "", false},
    {A::VideoCompression, "ActionVideoCompression", "Compression...", "Video", imgCompression, "", false},
    {A::VideoDisplay, "ActionVideoDisplay", "Display...", "Video", imgDisplay, "", false},
    {A::AudioEnabled, "ActionAudioEnabled", "Enabled", "Audio", -1, "", true},
    {A::AudioCompression, "ActionAudioCompression", "Compression...", "Audio", imgCompression, "", false},
    {A::ClientDisconnect, "ActionClientDisconnect", "Disconnect", "Connection", imgDisconnect, "", false},
    {A::ClientBlocked, "ActionClientBlocked", "Blocked", "Connection", imgBlocked, "", true},
    {A::LogClear, "ActionLogClear", "Clear", "Log", imgClear, "", false},
    {A::LogEmail, "ActionLogEmail", "Email", "Log", imgEmail, "", false},
    {A::ConfigurationEmail, "ActionConfigurationEmail", "Email", "Configuration", imgEmail, "", false},
}};

constexpr bool InActionOrder() {
    for (size_t i = 0; i < kTable.size(); ++i) {
        if (static_cast<size_t>(kTable[i].Action) != i) {
            return false;
        }
    }
    return true;
}
static_assert(InActionOrder(), "the action table must follow TMainAction");

} // namespace

const std::array<TMainActionInfo, kMainActionCount> kMainActions = kTable;

} // namespace sw
