#include "engine/Reports.h"

#include "config/Configuration.h"
#include "engine/DataModuleMain.h"
#include "engine/JpegLibrary.h"
#include "engine/LocalAddresses.h"
#include "log/CommaText.h"
#include "mail/MapiMail.h"
#include "platform/capture/CaptureDriverTable.h"
#include "platform/shell/OperatingSystem.h"

#include <charconv>

namespace sw {

namespace {

std::vector<TSystemInfoEntry> DeviceEntries(const TDeviceConfiguration& devices) {
    std::vector<TSystemInfoEntry> entries;
    for (int i = 0; i < devices.DeviceCount(); ++i) {
        entries.push_back({devices.DeviceNames(i), devices.DeviceVersions(i)});
    }
    return entries;
}

int DecimalOrZero(const std::string& text) {
    int value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return (ec == std::errc() && ptr == end && !text.empty()) ? value : 0;
}

} // namespace

TSystemInfoSources CollectSystemInfo() {
    TSystemInfoSources sources;
    const TOperatingSystem os = OperatingSystemDescription();
    sources.OperatingSystem = {{"Version", os.Version},
                               {"Build", os.Build},
                               {"Platform", os.Platform},
                               {"Information", os.Information}};
    const TJpegLibraryInfo jpeg = JpegLibraryInfo();
    sources.Jpeg = {{"Company", jpeg.Company}, {"Version", jpeg.Version}};
    if (ConfigurationExists()) {
        sources.AudioDevices = DeviceEntries(Configuration().Audio());
        sources.VideoDevices = DeviceEntries(Configuration().Video());
    }
    LocalAddresses(sources.Addresses);
    return sources;
}

std::vector<std::string> SystemInfoLines(const TSystemInfoSources& sources) {
    std::vector<std::string> lines;
    auto heading = [&](TSystemInfoGroup group, const char* text) {
        lines.push_back(ToCommaText({std::to_string(group), "0", text, ""}));
    };
    auto entries = [&](const std::vector<TSystemInfoEntry>& list) {
        for (const TSystemInfoEntry& entry : list) {
            lines.push_back(ToCommaText({"0", "1", entry.Name, entry.Value}));
        }
    };
    heading(sigOperatingSystem, "Operating System");
    entries(sources.OperatingSystem);
    heading(sigJpeg, "JPEG");
    entries(sources.Jpeg);
    heading(sigAudioDevices, "Audio Devices");
    entries(sources.AudioDevices);
    heading(sigVideoDevices, "Video Devices");
    entries(sources.VideoDevices);
    heading(sigIpAddresses, "IP Addresses");
    for (const std::string& address : sources.Addresses) {
        lines.push_back(ToCommaText({"0", "1", address, ""}));
    }
    return lines;
}

void RenderSystemInfo(const std::vector<std::string>& systemInfo, std::vector<std::string>& strings) {
    strings.clear();
    for (size_t i = 0; i < systemInfo.size(); ++i) {
        std::vector<std::string> items = FromCommaText(systemInfo[i]);
        items.resize(4);
        const int level = DecimalOrZero(items[1]);
        if (i >= 1 && level == 0) {
            strings.emplace_back();
        }
        std::string text(static_cast<size_t>(level > 0 ? level : 0) * 2, ' ');
        text += items[2];
        if (!items[3].empty()) {
            text += " = " + items[3];
        }
        strings.push_back(std::move(text));
    }
}

std::string ConfigurationReport(const std::vector<std::string>& systemInfo) {
    std::vector<std::string> strings;
    RenderSystemInfo(systemInfo, strings);
    std::string report;
    for (const std::string& line : strings) {
        report += line + "\r\n";
    }
    return report;
}

std::vector<std::string> VideoFormatLines() {
    std::vector<std::string> lines = {"Video Formats"};
    for (const TCaptureDriverEntry& entry : CaptureDriverEntries()) {
        lines.push_back("  " + entry.Name);
        std::vector<std::string> formats = CaptureDriverFormats(entry);
        if (formats.empty()) {
            formats.push_back("(the device could not be asked)");
        }
        for (const std::string& format : formats) {
            lines.push_back("    " + format);
        }
    }
    return lines;
}

std::string ViewerPageLink() {
    const TWebConfiguration& web = Configuration().Web();
    std::string link = "http://";
    link += web.Host() == 0 ? DefaultHostAddress() : web.HostAddress();
    if (web.Port() != 80) {
        link += ':';
        link += std::to_string(web.Port());
    }
    std::string page = web.Page();
    for (char& c : page) {
        if (c == '\\') {
            c = '/';
        }
    }
    if (page.empty() || page.front() != '/') {
        page.insert(page.begin(), '/');
    }
    return link + page;
}

std::string EmailLinkText() {
    // Appended rather than "literal" + ViewerPageLink(): GCC 12 at -O3 reports a false -Wrestrict there.
    std::string text = "\r\nPlease click the following link to view my broadcast:\r\n\r\n";
    text += ViewerPageLink();
    return text;
}

void TDataModuleMain::BuildSystemInfo() {
    SystemInfo = SystemInfoLines(CollectSystemInfo());
    PostToMainWindow(WM_SYSTEMINFOCHANGED);
}

void TDataModuleMain::RenderSystemInfo(std::vector<std::string>& strings) const {
    sw::RenderSystemInfo(SystemInfo, strings);
}

std::string TDataModuleMain::ConfigurationReport() const {
    return sw::ConfigurationReport(SystemInfo);
}

void TDataModuleMain::EmailLink() const {
    SendNote(kLinkSubject, EmailLinkText());
}

void TDataModuleMain::EmailConfiguration() const {
    SendMail({}, {Configuration().SupportAddress()}, {}, true, {}, ConfigurationReport(),
             kConfigurationSubject, {});
}

void TDataModuleMain::EmailLog() {
    // The file may lag the in-memory log by up to a flush interval; the mail must carry every line.
    FlushLog();
    SendMail({}, {Configuration().SupportAddress()}, {}, true, {LogFileName()}, {}, kLogSubject, {});
}

} // namespace sw
