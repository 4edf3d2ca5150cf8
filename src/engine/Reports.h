#pragma once

#include <string>
#include <vector>

namespace sw {

enum TSystemInfoGroup : int {
    sigOperatingSystem = 1,
    sigJpeg = 2,
    sigAudioDevices = 3,
    sigVideoDevices = 4,
    sigIpAddresses = 5,
};

struct TSystemInfoEntry {
    std::string Name;
    std::string Value;
};

// What the system information describes, gathered from the running system.
struct TSystemInfoSources {
    std::vector<TSystemInfoEntry> OperatingSystem;
    std::vector<TSystemInfoEntry> Jpeg;
    std::vector<TSystemInfoEntry> AudioDevices;
    std::vector<TSystemInfoEntry> VideoDevices;
    std::vector<std::string> Addresses;
};

// The operating system, JpegLibraryInfo(), the device lists of the configuration (none when there is
// no configuration) and LocalAddresses.
TSystemInfoSources CollectSystemInfo();

// The lines of the five groups: each the comma text of group, level, name and value.
std::vector<std::string> SystemInfoLines(const TSystemInfoSources& sources);

// The plain-text form: an empty line before every heading but the first, entries indented by two
// spaces per level, " = " and the value when there is one.
void RenderSystemInfo(const std::vector<std::string>& systemInfo, std::vector<std::string>& strings);
// The rendered lines, each followed by CR LF.
std::string ConfigurationReport(const std::vector<std::string>& systemInfo);
// The capture formats of every device of the capture driver table, in the report's plain-text form:
// the heading "Video Formats", each device's name indented by two spaces, its formats by four.
std::vector<std::string> VideoFormatLines();

// The link e-mail's text: the invitation, an empty line and the viewer page's address from "Host",
// "HostAddress", "Port" and "Page" of "Web" (no line end after it).
std::string EmailLinkText();
// The link alone, "http://host[:port]/page".
std::string ViewerPageLink();

inline constexpr const char* kLinkSubject = "Broadcast";
inline constexpr const char* kConfigurationSubject = "Configuration";
inline constexpr const char* kLogSubject = "Log";

} // namespace sw
