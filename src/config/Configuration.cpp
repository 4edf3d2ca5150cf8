#include "config/Configuration.h"

#include "platform/capture/CaptureDriverTable.h"
#include "platform/sound/SoundInputTable.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <unistd.h>

namespace sw {

namespace {

TConfiguration* gConfiguration = nullptr;

bool SameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

constexpr const char* kVideo = "Video";
constexpr const char* kAudio = "Audio";
constexpr const char* kWeb = "Web";
constexpr const char* kText = "Text";
constexpr const char* kBroadcast = "Broadcast";
constexpr const char* kLog = "Log";
constexpr const char* kPublish = "Publish";

} // namespace

int TDeviceConfiguration::DeviceCount() const {
    std::lock_guard lock(FLock);
    return static_cast<int>(FDeviceNames.size());
}

int32_t TDeviceConfiguration::DeviceIds(int index) const {
    std::lock_guard lock(FLock);
    if (index < 0 || static_cast<size_t>(index) >= FDeviceIds.size()) {
        return kNoDeviceId;
    }
    return FDeviceIds[static_cast<size_t>(index)];
}

std::string TDeviceConfiguration::DeviceNames(int index) const {
    std::lock_guard lock(FLock);
    if (index < 0 || static_cast<size_t>(index) >= FDeviceNames.size()) {
        return {};
    }
    return FDeviceNames[static_cast<size_t>(index)];
}

std::string TDeviceConfiguration::DeviceVersions(int index) const {
    std::lock_guard lock(FLock);
    if (index < 0 || static_cast<size_t>(index) >= FDeviceVersions.size()) {
        return {};
    }
    return FDeviceVersions[static_cast<size_t>(index)];
}

std::vector<std::string> TDeviceConfiguration::DeviceNameList() const {
    std::lock_guard lock(FLock);
    return FDeviceNames;
}

void TDeviceConfiguration::ClearDevices() {
    std::lock_guard lock(FLock);
    FDeviceIds.clear();
    FDeviceNames.clear();
    FDeviceVersions.clear();
}

void TDeviceConfiguration::AddDevice(int32_t id, const std::string& name, const std::string& version) {
    std::lock_guard lock(FLock);
    FDeviceIds.push_back(id);
    FDeviceNames.push_back(name);
    FDeviceVersions.push_back(version);
}

int TDeviceConfiguration::FindDevice(const std::string& name) const {
    std::lock_guard lock(FLock);
    for (size_t i = 0; i < FDeviceNames.size(); ++i) {
        if (SameText(FDeviceNames[i], name)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void TVideoConfiguration::EnumerateDevices() {
    ClearDevices();
    for (int index = 0; index < kCaptureDriverCount; ++index) {
        std::string name;
        std::string version;
        if (capGetDriverDescription(index, name, version)) {
            AddDevice(index, name, version);
        }
    }
}

void TVideoConfiguration::Load() {
    EnumerateDevices();
    WithFile([&](TIniFile& file) {
        SetDevice(FindDevice(file.ReadString(kVideo, "Device", "")));
        SetEnabled(file.ReadBool(kVideo, "Enabled", false));
        SetPort(file.ReadInteger(kVideo, "Port", 2001));
        SetBufferSize(file.ReadInteger(kVideo, "BufferSize", 32));
        SetSourceAddress(file.ReadString(kVideo, "SourceAddress", ""));
        SetSourcePort(file.ReadInteger(kVideo, "SourcePort", 2001));
        SetWidth(file.ReadInteger(kVideo, "Width", 0));
        SetHeight(file.ReadInteger(kVideo, "Height", 0));
        SetFrameRate(file.ReadInteger(kVideo, "FrameRate", 0));
        SetPixelFormat(file.ReadString(kVideo, "PixelFormat", ""));
    });
}

void TVideoConfiguration::Save() {
    SaveWith([&](TIniFile& file) {
        file.WriteBool(kVideo, "Enabled", Enabled());
        file.WriteString(kVideo, "Device", DeviceNames(Device()));
        file.WriteInteger(kVideo, "Port", Port());
        file.WriteInteger(kVideo, "BufferSize", BufferSize());
        file.WriteString(kVideo, "SourceAddress", SourceAddress());
        file.WriteInteger(kVideo, "SourcePort", SourcePort());
        auto optionalKey = [&](const char* key, const std::string& value) {
            if (value.empty() || value == "0") {
                file.DeleteKey(kVideo, key);
            } else {
                file.WriteString(kVideo, key, value);
            }
        };
        optionalKey("Width", std::to_string(Width()));
        optionalKey("Height", std::to_string(Height()));
        optionalKey("FrameRate", std::to_string(FrameRate()));
        optionalKey("PixelFormat", PixelFormat());
    });
}

void TAudioConfiguration::EnumerateDevices() {
    ClearDevices();
    auto add = [&](int id) {
        TWaveInCaps caps{};
        if (waveInGetDevCaps(id, &caps) != MMSYSERR_NOERROR) {
            return;
        }
        std::string name(caps.szPname, strnlen(caps.szPname, sizeof caps.szPname));
        std::string version = "Version " + std::to_string((caps.vDriverVersion >> 8) & 0xFF) + "." +
                              std::to_string(caps.vDriverVersion & 0xFF);
        AddDevice(id, name, version);
    };
    const uint32_t count = waveInGetNumDevs();
    for (uint32_t id = 0; id < count; ++id) {
        add(static_cast<int>(id));
    }
    add(WAVE_MAPPER);
}

void TAudioConfiguration::Load() {
    EnumerateDevices();
    WithFile([&](TIniFile& file) {
        SetDevice(FindDevice(file.ReadString(kAudio, "Device", "")));
        SetEnabled(file.ReadBool(kAudio, "Enabled", false));
        SetPort(file.ReadInteger(kAudio, "Port", 2002));
        SetVolume(file.ReadInteger(kAudio, "Volume", 1));
        SetFramesPerSecond(file.ReadInteger(kAudio, "FramesPerSecond", 10));
        SetFrameSize(file.ReadInteger(kAudio, "FrameSize", 1000));
        SetFormat(file.ReadInteger(kAudio, "Format", 1));
        SetFrequency(file.ReadInteger(kAudio, "Frequency", 8000));
        SetBits(file.ReadInteger(kAudio, "Bits", 8));
        SetChannels(file.ReadInteger(kAudio, "Channels", 1));
        SetSourceAddress(file.ReadString(kAudio, "SourceAddress", ""));
        SetSourcePort(file.ReadInteger(kAudio, "SourcePort", 2002));
    });
    if (Volume() < 1) {
        SetVolume(1);
    }
}

void TAudioConfiguration::Save() {
    SaveWith([&](TIniFile& file) {
        file.WriteBool(kAudio, "Enabled", Enabled());
        file.WriteString(kAudio, "Device", DeviceNames(Device()));
        file.WriteInteger(kAudio, "Port", Port());
        file.WriteInteger(kAudio, "Volume", Volume());
        file.WriteInteger(kAudio, "FramesPerSecond", FramesPerSecond());
        file.WriteInteger(kAudio, "FrameSize", FrameSize());
        file.WriteInteger(kAudio, "Format", Format());
        file.WriteInteger(kAudio, "Frequency", Frequency());
        file.WriteInteger(kAudio, "Bits", Bits());
        file.WriteInteger(kAudio, "Channels", Channels());
        file.WriteString(kAudio, "SourceAddress", SourceAddress());
        file.WriteInteger(kAudio, "SourcePort", SourcePort());
    });
}

std::string TWebConfiguration::DefaultPath() const {
    return FDefaultPath.empty() ? ExtractFilePath(ExecutablePath()) : FDefaultPath;
}

void TWebConfiguration::Load() {
    WithFile([&](TIniFile& file) {
        SetEnabled(file.ReadBool(kWeb, "Enabled", false));
        SetHost(file.ReadInteger(kWeb, "Host", 0));
        SetHostAddress(file.ReadString(kWeb, "HostAddress", ""));
        SetPath(file.ReadString(kWeb, "Path", DefaultPath()));
        SetPage(file.ReadString(kWeb, "Page", "/index.htm"));
        SetPort(file.ReadInteger(kWeb, "Port", 80));
        SetSourceAddress(file.ReadString(kWeb, "SourceAddress", ""));
        SetSourcePort(file.ReadInteger(kWeb, "SourcePort", 8002));
    });
    std::string path = Path();
    if (!path.empty() && path.back() == '/') {
        path.pop_back();
        SetPath(path);
    }
}

void TWebConfiguration::Save() {
    SaveWith([&](TIniFile& file) {
        file.WriteBool(kWeb, "Enabled", Enabled());
        file.WriteInteger(kWeb, "Host", Host());
        file.WriteString(kWeb, "HostAddress", HostAddress());
        file.WriteString(kWeb, "Path", Path());
        file.WriteString(kWeb, "Page", Page());
        file.WriteInteger(kWeb, "Port", Port());
        file.WriteString(kWeb, "SourceAddress", SourceAddress());
        file.WriteInteger(kWeb, "SourcePort", SourcePort());
    });
}

void TTextConfiguration::Load() {
    WithFile([&](TIniFile& file) {
        SetFormat(file.ReadInteger(kText, "Format", 0));
        SetCustom(file.ReadString(kText, "Custom", ""));
        SetAlignment(file.ReadInteger(kText, "Alignment", 0));
        SetAlignmentVertical(file.ReadInteger(kText, "AlignmentVertical", 2));
        SetTime24Hour(file.ReadBool(kText, "24HourTime", false));
        SetColor(file.ReadInteger(kText, "Color", 0));
        SetSize(file.ReadInteger(kText, "Size", 8));
        SetFont(file.ReadString(kText, "Font", "MS Sans Serif"));
    });
}

void TTextConfiguration::Save() {
    SaveWith([&](TIniFile& file) {
        file.WriteInteger(kText, "Format", Format());
        file.WriteString(kText, "Custom", Custom());
        file.WriteInteger(kText, "Alignment", Alignment());
        file.WriteInteger(kText, "AlignmentVertical", AlignmentVertical());
        file.WriteBool(kText, "24HourTime", Time24Hour());
        file.WriteInteger(kText, "Color", Color());
        file.WriteInteger(kText, "Size", Size());
        file.WriteString(kText, "Font", Font());
    });
}

void TBroadcastConfiguration::Load() {
    WithFile([&](TIniFile& file) {
        SetHost(file.ReadInteger(kBroadcast, "Host", 0));
        SetHostAddress(file.ReadString(kBroadcast, "HostAddress", ""));
        SetListenAddress(file.ReadString(kBroadcast, "ListenAddress", ""));
    });
}

void TBroadcastConfiguration::Save() {
    SaveWith([&](TIniFile& file) {
        file.WriteInteger(kBroadcast, "Host", Host());
        file.WriteString(kBroadcast, "HostAddress", HostAddress());
        if (ListenAddress().empty()) {
            file.DeleteKey(kBroadcast, "ListenAddress");
        } else {
            file.WriteString(kBroadcast, "ListenAddress", ListenAddress());
        }
    });
}

std::string TBroadcastConfiguration::RunListenAddress() const {
    std::lock_guard lock(FLock);
    return FRunListenAddress;
}

void TBroadcastConfiguration::SetRunListenAddress(const std::string& value) {
    std::lock_guard lock(FLock);
    FRunListenAddress = value;
}

std::string TBroadcastConfiguration::EffectiveListenAddress() const {
    std::string address = RunListenAddress();
    return address.empty() ? ListenAddress() : address;
}

void TLogConfiguration::Load() {
    WithFile([&](TIniFile& file) {
        SetInformation(file.ReadBool(kLog, "Information", true));
        SetWarning(file.ReadBool(kLog, "Warning", true));
        SetError(file.ReadBool(kLog, "Error", true));
        for (int n = 0; n < kAllMessageSwitches; ++n) {
            SetMessageEnabled(static_cast<uint8_t>(n), file.ReadBool(kLog, std::to_string(n), true));
        }
    });
}

void TLogConfiguration::Save() {
    SaveWith([&](TIniFile& file) {
        file.WriteBool(kLog, "Information", Information());
        file.WriteBool(kLog, "Warning", Warning());
        file.WriteBool(kLog, "Error", Error());
        for (int n = 0; n < kMessageSwitches; ++n) {
            file.WriteBool(kLog, std::to_string(n), MessageEnabled(static_cast<uint8_t>(n)));
        }
        for (int n = kMessageSwitches; n < kAllMessageSwitches; ++n) {
            if (MessageEnabled(static_cast<uint8_t>(n))) {
                file.DeleteKey(kLog, std::to_string(n));
            } else {
                file.WriteBool(kLog, std::to_string(n), false);
            }
        }
    });
}

void TPublishConfiguration::Load() {
    WithFile([&](TIniFile& file) {
        SetEnabled(file.ReadBool(kPublish, "Enabled", false));
        SetUrl(file.ReadString(kPublish, "Url", ""));
        SetVideoBitrate(file.ReadInteger(kPublish, "VideoBitrate", 0));
        SetKeyframe(file.ReadInteger(kPublish, "Keyframe", kDefaultKeyframeSeconds));
    });
}

void TPublishConfiguration::Save() {
    SaveWith([&](TIniFile& file) {
        file.WriteBool(kPublish, "Enabled", Enabled());
        file.WriteString(kPublish, "Url", Url());
        file.WriteInteger(kPublish, "VideoBitrate", VideoBitrate());
        file.WriteInteger(kPublish, "Keyframe", Keyframe());
    });
}

std::string TPublishConfiguration::RunUrl() const {
    std::lock_guard lock(FLock);
    return FRunUrl;
}

void TPublishConfiguration::SetRunUrl(const std::string& value) {
    std::lock_guard lock(FLock);
    FRunUrl = value;
}

std::string TPublishConfiguration::EffectiveUrl() const {
    std::string url = RunUrl();
    if (url.empty() && Enabled()) {
        url = Url();
    }
    return url;
}

TConfiguration::TConfiguration(std::string fileName)
    : TCustomConfiguration(fileName), FVideo(std::make_unique<TVideoConfiguration>(fileName)),
      FAudio(std::make_unique<TAudioConfiguration>(fileName)),
      FWeb(std::make_unique<TWebConfiguration>(fileName)),
      FText(std::make_unique<TTextConfiguration>(fileName)),
      FBroadcast(std::make_unique<TBroadcastConfiguration>(fileName)),
      FLog(std::make_unique<TLogConfiguration>(fileName)),
      FPublish(std::make_unique<TPublishConfiguration>(fileName)) {}

TConfiguration::~TConfiguration() {
    FPublish.reset();
    FLog.reset();
    FBroadcast.reset();
    FText.reset();
    FWeb.reset();
    FAudio.reset();
    FVideo.reset();
}

void TConfiguration::BeginUpdate() {
    TCustomConfiguration::BeginUpdate();
    FVideo->BeginUpdate();
    FAudio->BeginUpdate();
    FWeb->BeginUpdate();
    FText->BeginUpdate();
    FBroadcast->BeginUpdate();
    FLog->BeginUpdate();
}

void TConfiguration::EndUpdate() {
    FLog->EndUpdate();
    FBroadcast->EndUpdate();
    FText->EndUpdate();
    FWeb->EndUpdate();
    FAudio->EndUpdate();
    FVideo->EndUpdate();
    TCustomConfiguration::EndUpdate();
}

void TConfiguration::Load() {
    FVideo->Reload();
    FAudio->Reload();
    FWeb->Reload();
    FText->Reload();
    FBroadcast->Reload();
    FLog->Reload();
    WithFile([&](TIniFile& file) {
        SetTransferSize(file.ReadInteger("Transfer", "Size", 1024));
        SetTransferDelay(file.ReadInteger("Transfer", "Delay", 55));
        SetSoundConnect(file.ReadBool("Sound", "Connect", false));
        SetSoundConnectFile(file.ReadString("Sound", "ConnectFile", ""));
        SetMinimizeTray(file.ReadBool("Application", "MinimizeTray", false));
        SetBackgroundColor(
            file.ReadInteger("Application", "BackgroundColor", static_cast<int32_t>(0xFF000005u)));
        SetJpegQuality(file.ReadInteger("Application", "JpegQuality", 75));
    });
    FPublish->Reload();
}

void TConfiguration::Save() {
    SaveWith([&](TIniFile& file) {
        file.WriteInteger("Transfer", "Size", TransferSize());
        file.WriteInteger("Transfer", "Delay", TransferDelay());
        file.WriteBool("Sound", "Connect", SoundConnect());
        file.WriteString("Sound", "ConnectFile", SoundConnectFile());
        file.WriteBool("Application", "MinimizeTray", MinimizeTray());
        file.WriteInteger("Application", "BackgroundColor", BackgroundColor());
        file.WriteInteger("Application", "JpegQuality", JpegQuality());
    });
}

void TConfiguration::SetWebAddress(const std::string& value) {
    SetString(0, value);
    SetString(2, value);
}

void TConfiguration::StoreRunTimeValues() {
    SetShowPoweredBy(false);
    SetWebAddress(kWebAddress);
    SetSupportAddress(kSupportAddress);
}

std::string ChangeFileExt(const std::string& path, const std::string& extension) {
    size_t dot = path.rfind('.');
    size_t slash = path.rfind('/');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
        return path.substr(0, dot) + extension;
    }
    return path + extension;
}

std::string ViewerPageFileName(const std::string& path, const std::string& page) {
    std::string folder = path;
    if (!folder.empty() && (folder.back() == '/' || folder.back() == '\\')) {
        folder.pop_back();
    }
    std::string name = page;
    for (char& c : name) {
        if (c == '\\') {
            c = '/';
        }
    }
    if (name.empty() || name.front() != '/') {
        name.insert(name.begin(), '/');
    }
    return folder + name;
}

std::string ExecutablePath() {
    char buffer[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) {
        return "streamwright";
    }
    return std::string(buffer, static_cast<size_t>(n));
}

std::string ExtractFilePath(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

TConfiguration& Configuration() {
    return *gConfiguration;
}

bool ConfigurationExists() {
    return gConfiguration != nullptr;
}

void SetConfiguration(TConfiguration* configuration) {
    gConfiguration = configuration;
}

} // namespace sw
