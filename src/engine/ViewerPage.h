#pragma once

#include "config/Configuration.h"
#include "platform/shell/DateTime.h"

#include <cstddef>
#include <string>

namespace sw {

// The viewer applet that the page loads, and the web folder browsers fetch it and its archives from.
inline constexpr const char* kAppletName = "Lumiclip";
inline constexpr const char* AppletCodeBase = "https://streamwright.example.org/applet/";

// 1-based position of the first occurrence of pattern in text beginning at or after start (1-based),
// 0 when there is none; an empty pattern gives 1. Boyer-Moore-Horspool; without case sensitivity only
// "a" to "z" fold to "A" to "Z", every other byte compares as it is.
size_t SearchText(const std::string& pattern, const std::string& text, size_t start, bool caseSensitive);

// The 23-line applet element: CR LF between lines, none after the last.
std::string AppletElement(const std::string& host, int videoPort, int audioPort);

// The page's name with ".yyyymmdd.hhnnss" before its extension, in local time.
std::string ViewerPageBackupName(const std::string& fileName, TDateTime time);

struct TViewerPageSettings {
    std::string FileName;
    int VideoPort = 0;
    int AudioPort = 0;
    std::string Host;
};

// From "Path" and "Page" of "Web", the video and audio ports, and "Host"/"HostAddress" of "Broadcast"
// (DefaultHostAddress when "Host" is 0).
TViewerPageSettings ViewerPageSettings();

enum class TViewerPageResult {
    Updated,
    NotFound,
    OpenFailed,
    ReadFailed,
    Empty,
    NoAppletTag,
    CreateFailed,
    WriteFailed,
};

// Backs the page up, replaces its viewer applet element and writes it back; tells the operator the
// outcome through Prompts() and logs nothing. The page is replaced through a temporary file and a
// rename, so a failed write leaves it as it was.
TViewerPageResult UpdateViewerPage(const TViewerPageSettings& settings, TDateTime now);
TViewerPageResult UpdateViewerPage();

} // namespace sw
