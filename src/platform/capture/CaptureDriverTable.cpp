#include "platform/capture/CaptureDriverTable.h"

#include "platform/capture/TestPatternDriver.h"
#include "platform/capture/V4l2Driver.h"

#include "platform/shell/UniqueFd.h"
#include "platform/shell/VersionInfo.h"

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <linux/videodev2.h>
#include <sys/ioctl.h>

namespace sw {

namespace {

std::vector<int> VideoDeviceNumbers() {
    std::vector<int> numbers;
    DIR* dir = ::opendir("/dev");
    if (!dir) {
        return numbers;
    }
    while (struct dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (std::strncmp(name, "video", 5) != 0 || name[5] == '\0') {
            continue;
        }
        char* end = nullptr;
        long n = std::strtol(name + 5, &end, 10);
        if (end && *end == '\0' && n >= 0 && n < 256) {
            numbers.push_back(static_cast<int>(n));
        }
    }
    ::closedir(dir);
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

std::string FieldText(const __u8* field, size_t size) {
    const auto* text = reinterpret_cast<const char*>(field);
    return std::string(text, strnlen(text, size));
}

std::string V4l2StableId(const std::string& path, const v4l2_capability& cap) {
    std::error_code error;
    for (const auto& link : std::filesystem::directory_iterator("/dev/v4l/by-id", error)) {
        std::error_code same;
        if (std::filesystem::equivalent(link.path(), path, same)) {
            return link.path().string();
        }
    }
    return "bus:" + FieldText(cap.bus_info, sizeof cap.bus_info) + "/" + FieldText(cap.card, sizeof cap.card);
}

bool ProbeV4l2(const std::string& path, TCaptureDriverEntry& entry) {
    TUniqueFd fd(::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        return false;
    }
    v4l2_capability cap{};
    if (::ioctl(fd.Get(), VIDIOC_QUERYCAP, &cap) != 0) {
        return false;
    }
    uint32_t caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
    if (!(caps & V4L2_CAP_VIDEO_CAPTURE) || !(caps & V4L2_CAP_STREAMING)) {
        return false;
    }
    entry.Kind = TCaptureDriverKind::V4l2;
    entry.DevicePath = path;
    entry.Name = FieldText(cap.card, sizeof cap.card);
    entry.StableId = V4l2StableId(path, cap);
    entry.Version = FieldText(cap.driver, sizeof cap.driver) + " " +
                    std::to_string((cap.version >> 16) & 0xFF) + "." +
                    std::to_string((cap.version >> 8) & 0xFF) + "." + std::to_string(cap.version & 0xFF);
    return true;
}

std::unique_ptr<TCaptureDriver> ConnectEntry(const TCaptureDriverEntry& entry, uint32_t deviceIndex) {
    if (entry.Kind == TCaptureDriverKind::TestPattern) {
        return TTestPatternDriver::Connect(deviceIndex);
    }
    return TV4l2Driver::Connect(LibV4l2Device(), entry.DevicePath, deviceIndex);
}

} // namespace

std::vector<TCaptureDriverEntry> CaptureDriverEntries() {
    std::vector<TCaptureDriverEntry> entries;
    for (int n : VideoDeviceNumbers()) {
        if (static_cast<int>(entries.size()) >= kCaptureDriverCount - 1) {
            break;
        }
        TCaptureDriverEntry entry;
        if (ProbeV4l2("/dev/video" + std::to_string(n), entry)) {
            entries.push_back(std::move(entry));
        }
    }
    TCaptureDriverEntry pattern;
    pattern.Kind = TCaptureDriverKind::TestPattern;
    pattern.Name = kTestPatternName;
    pattern.Version = VersionText();
    pattern.StableId = "builtin:test-pattern";
    entries.push_back(std::move(pattern));
    return entries;
}

bool capGetDriverDescription(int index, std::string& name, std::string& version) {
    if (index < 0 || index >= kCaptureDriverCount) {
        return false;
    }
    std::vector<TCaptureDriverEntry> entries = CaptureDriverEntries();
    if (static_cast<size_t>(index) >= entries.size()) {
        return false;
    }
    name = entries[static_cast<size_t>(index)].Name;
    version = entries[static_cast<size_t>(index)].Version;
    return true;
}

std::vector<std::string> CaptureDriverFormats(const TCaptureDriverEntry& entry) {
    if (entry.Kind == TCaptureDriverKind::TestPattern) {
        return TTestPatternDriver(0).OfferedFormats();
    }
    return V4l2OfferedFormats(*LibV4l2Device(), entry.DevicePath);
}

std::unique_ptr<TCaptureDriver> ConnectCaptureDriver(uint32_t index) {
    if (index >= static_cast<uint32_t>(kCaptureDriverCount)) {
        return nullptr;
    }
    std::vector<TCaptureDriverEntry> entries = CaptureDriverEntries();
    if (index >= entries.size()) {
        return nullptr;
    }
    return ConnectEntry(entries[index], index);
}

std::unique_ptr<TCaptureDriver> ConnectCaptureDriverById(const std::string& stableId, uint32_t deviceIndex) {
    if (stableId.empty()) {
        return nullptr;
    }
    for (const TCaptureDriverEntry& entry : CaptureDriverEntries()) {
        if (entry.StableId == stableId) {
            return ConnectEntry(entry, deviceIndex);
        }
    }
    return nullptr;
}

std::string CaptureDriverStableId(uint32_t index) {
    if (index >= static_cast<uint32_t>(kCaptureDriverCount)) {
        return {};
    }
    std::vector<TCaptureDriverEntry> entries = CaptureDriverEntries();
    return index < entries.size() ? entries[index].StableId : std::string();
}

} // namespace sw
