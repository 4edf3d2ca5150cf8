#include "log/LogTypes.h"

namespace sw {

const std::array<const char*, kLogCategoryCount> LogCategoryNames = {
    "Unknown", "Application", "Broadcast", "Audio", "Video", "Web", "Client", "Publish",
};

const std::array<TLogCategoryMessage, kLogMessageCount> LogMessages = {{
    {lcApplication, "Starting"},
    {lcApplication, "Configuration"},
    {lcApplication, "Exception"},
    {lcVideo, "Error"},
    {lcVideo, "Initializing"},
    {lcVideo, "Finalizing"},
    {lcVideo, "Create capture window"},
    {lcVideo, "Destroy window"},
    {lcVideo, "Driver connect"},
    {lcVideo, "Driver disconnect"},
    {lcVideo, "Driver get capabilities"},
    {lcVideo, "Get status"},
    {lcVideo, "Capture get setup"},
    {lcVideo, "Capture set setup"},
    {lcVideo, "Get video format"},
    {lcVideo, "Set callback on error"},
    {lcVideo, "Set callback on frame"},
    {lcVideo, "Socket connect"},
    {lcVideo, "Socket disconnect"},
    {lcVideo, "Socket read"},
    {lcVideo, "Socket write"},
    {lcVideo, "Socket error"},
    {lcAudio, "Initializing"},
    {lcAudio, "Finalizing"},
    {lcAudio, "Open"},
    {lcAudio, "Close"},
    {lcAudio, "Start"},
    {lcAudio, "Stop"},
    {lcAudio, "Reset"},
    {lcAudio, "Format choose"},
    {lcAudio, "Socket connect"},
    {lcAudio, "Socket disconnect"},
    {lcAudio, "Socket read"},
    {lcAudio, "Socket write"},
    {lcAudio, "Socket error"},
    {lcBroadcast, "Video port in use"},
    {lcBroadcast, "Audio port in use"},
    {lcBroadcast, "Web port in use"},
    {lcBroadcast, "Start"},
    {lcBroadcast, "Stop"},
    {lcClient, "Block"},
    {lcClient, "Unblock"},
    {lcClient, "Connect"},
    {lcClient, "Connect, blocked"},
    {lcClient, "Disconnect"},
    {lcClient, "Error"},
    {lcVideo, "Set user data"},
    {lcWeb, "Unknown"},
    {lcWeb, "Get"},
    {lcWeb, "Post"},
    {lcWeb, "Put"},
    {lcWeb, "Head"},
    {lcPublish, "Start"},
    {lcPublish, "Connect"},
    {lcPublish, "Error"},
    {lcPublish, "Reconnect"},
    {lcPublish, "Stop"},
    {lcVideo, "Device lost"},
    {lcVideo, "Device restored"},
    {lcAudio, "Device lost"},
    {lcAudio, "Device restored"},
    {lcApplication, "Files"},
}};

const char* MessageCategoryName(uint8_t message) {
    if (message >= kLogMessageCount) {
        return LogCategoryNames[lcUnknown];
    }
    return LogCategoryNames[LogMessages[message].Category];
}

const char* MessageText(uint8_t message) {
    return message < kLogMessageCount ? LogMessages[message].Message : "";
}

const char* LevelName(uint8_t level) {
    switch (level) {
    case llInformation:
        return "Information";
    case llWarning:
        return "Warning";
    case llError:
        return "Error";
    default:
        return "Level";
    }
}

} // namespace sw
