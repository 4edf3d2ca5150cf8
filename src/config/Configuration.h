#pragma once

#include "config/CustomConfiguration.h"

#include <memory>
#include <string>
#include <vector>

namespace sw {

// A section that also lists the devices installed on the machine: DeviceIds, DeviceNames and
// DeviceVersions are parallel lists, entry i describing the i-th enumerated device.
class TDeviceConfiguration : public TCustomConfiguration {
public:
    using TCustomConfiguration::TCustomConfiguration;

    static constexpr int32_t kNoDeviceId = 2147483647;

    // Empties the three lists and fills them from the system.
    virtual void EnumerateDevices() = 0;

    // The same slots in both sections: capture or broadcast switched on, the chosen device and the port.
    bool Enabled() const { return GetBoolean(0); }
    void SetEnabled(bool value) { SetBoolean(0, value); }
    // Index into the device lists, -1 for none.
    int32_t Device() const { return GetInteger(0); }
    void SetDevice(int32_t value) { SetInteger(0, value); }
    int32_t Port() const { return GetInteger(1); }
    void SetPort(int32_t value) { SetInteger(1, value); }

    int DeviceCount() const;
    int32_t DeviceIds(int index) const;
    std::string DeviceNames(int index) const;
    std::string DeviceVersions(int index) const;
    std::vector<std::string> DeviceNameList() const;

protected:
    void ClearDevices();
    void AddDevice(int32_t id, const std::string& name, const std::string& version);
    // Index of the device whose name equals name without regard to letter case, or -1.
    int FindDevice(const std::string& name) const;

private:
    std::vector<int32_t> FDeviceIds;
    std::vector<std::string> FDeviceNames;
    std::vector<std::string> FDeviceVersions;
};

class TVideoConfiguration : public TDeviceConfiguration {
public:
    using TDeviceConfiguration::TDeviceConfiguration;
    void Load() override;
    void Save() override;
    void EnumerateDevices() override;

    int32_t SourcePort() const { return GetInteger(2); }
    void SetSourcePort(int32_t value) { SetInteger(2, value); }
    // Kilobytes of each video viewer's send buffer.
    int32_t BufferSize() const { return GetInteger(3); }
    void SetBufferSize(int32_t value) { SetInteger(3, value); }
    std::string SourceAddress() const { return GetString(0); }
    void SetSourceAddress(const std::string& value) { SetString(0, value); }

    // The capture format asked for when the device is initialised; 0 (or empty) leaves that part as
    // the device has it. Each key is in the file only while it is set, so older files stay as they are.
    int32_t Width() const { return GetInteger(4); }
    void SetWidth(int32_t value) { SetInteger(4, value); }
    int32_t Height() const { return GetInteger(5); }
    void SetHeight(int32_t value) { SetInteger(5, value); }
    int32_t FrameRate() const { return GetInteger(6); }
    void SetFrameRate(int32_t value) { SetInteger(6, value); }
    // A four-character code such as "YUYV", for cameras that offer several.
    std::string PixelFormat() const { return GetString(1); }
    void SetPixelFormat(const std::string& value) { SetString(1, value); }
};

class TAudioConfiguration : public TDeviceConfiguration {
public:
    using TDeviceConfiguration::TDeviceConfiguration;
    void Load() override;
    void Save() override;
    void EnumerateDevices() override;

    int32_t Volume() const { return GetInteger(2); }
    void SetVolume(int32_t value) { SetInteger(2, value); }
    int32_t FramesPerSecond() const { return GetInteger(3); }
    void SetFramesPerSecond(int32_t value) { SetInteger(3, value); }
    // Length of each capture buffer in 16-bit elements.
    int32_t FrameSize() const { return GetInteger(4); }
    void SetFrameSize(int32_t value) { SetInteger(4, value); }
    int32_t Format() const { return GetInteger(5); }
    void SetFormat(int32_t value) { SetInteger(5, value); }
    int32_t Frequency() const { return GetInteger(6); }
    void SetFrequency(int32_t value) { SetInteger(6, value); }
    int32_t Bits() const { return GetInteger(7); }
    void SetBits(int32_t value) { SetInteger(7, value); }
    int32_t Channels() const { return GetInteger(8); }
    void SetChannels(int32_t value) { SetInteger(8, value); }
    int32_t SourcePort() const { return GetInteger(9); }
    void SetSourcePort(int32_t value) { SetInteger(9, value); }
    std::string SourceAddress() const { return GetString(0); }
    void SetSourceAddress(const std::string& value) { SetString(0, value); }
};

class TWebConfiguration : public TCustomConfiguration {
public:
    using TCustomConfiguration::TCustomConfiguration;
    void Load() override;
    void Save() override;

    bool Enabled() const { return GetBoolean(0); }
    void SetEnabled(bool value) { SetBoolean(0, value); }
    int32_t Port() const { return GetInteger(0); }
    void SetPort(int32_t value) { SetInteger(0, value); }
    int32_t SourcePort() const { return GetInteger(1); }
    void SetSourcePort(int32_t value) { SetInteger(1, value); }
    int32_t Host() const { return GetInteger(2); }
    void SetHost(int32_t value) { SetInteger(2, value); }
    // Home directory, without a trailing separator. Read by the web connection threads.
    std::string Path() const { return GetString(0); }
    void SetPath(const std::string& value) { SetString(0, value); }
    // The viewer page relative to Path, beginning with a separator.
    std::string Page() const { return GetString(1); }
    void SetPage(const std::string& value) { SetString(1, value); }
    std::string HostAddress() const { return GetString(2); }
    void SetHostAddress(const std::string& value) { SetString(2, value); }
    std::string SourceAddress() const { return GetString(3); }
    void SetSourceAddress(const std::string& value) { SetString(3, value); }

    // What Load takes for a missing "Path": the executable's folder unless start-up chose another.
    std::string DefaultPath() const;
    void SetDefaultPath(const std::string& value) { FDefaultPath = value; }

private:
    std::string FDefaultPath;
};

class TTextConfiguration : public TCustomConfiguration {
public:
    using TCustomConfiguration::TCustomConfiguration;
    void Load() override;
    void Save() override;

    // 0 none, 1 date, 2 time, 3 date and time, 4 frame rate, 5 custom text.
    int32_t Format() const { return GetInteger(0); }
    void SetFormat(int32_t value) { SetInteger(0, value); }
    int32_t Alignment() const { return GetInteger(1); }
    void SetAlignment(int32_t value) { SetInteger(1, value); }
    int32_t AlignmentVertical() const { return GetInteger(2); }
    void SetAlignmentVertical(int32_t value) { SetInteger(2, value); }
    // 0x00BBGGRR, or 0xFF0000nn for a system colour.
    int32_t Color() const { return GetInteger(3); }
    void SetColor(int32_t value) { SetInteger(3, value); }
    int32_t Size() const { return GetInteger(4); }
    void SetSize(int32_t value) { SetInteger(4, value); }
    std::string Custom() const { return GetString(0); }
    void SetCustom(const std::string& value) { SetString(0, value); }
    std::string Font() const { return GetString(1); }
    void SetFont(const std::string& value) { SetString(1, value); }
    bool Time24Hour() const { return GetBoolean(0); }
    void SetTime24Hour(bool value) { SetBoolean(0, value); }
};

class TBroadcastConfiguration : public TCustomConfiguration {
public:
    using TCustomConfiguration::TCustomConfiguration;
    void Load() override;
    void Save() override;

    int32_t Host() const { return GetInteger(0); }
    void SetHost(int32_t value) { SetInteger(0, value); }
    std::string HostAddress() const { return GetString(0); }
    void SetHostAddress(const std::string& value) { SetString(0, value); }
    // Address (IPv4, IPv6 or host name) the video, audio and web servers listen on; empty for every
    // IPv4 interface. Written only once set, so older settings files stay as they were.
    std::string ListenAddress() const { return GetString(1); }
    void SetListenAddress(const std::string& value) { SetString(1, value); }

    // --listen: this run only, never saved; wins over ListenAddress.
    std::string RunListenAddress() const;
    void SetRunListenAddress(const std::string& value);
    std::string EffectiveListenAddress() const;

private:
    std::string FRunListenAddress;
};

class TLogConfiguration : public TCustomConfiguration {
public:
    // Keys "0" to "51" are always written. The switches of messages added later (up to
    // kAllMessageSwitches) are kept in the file only while they are off, so that a settings file stays
    // byte for byte as it was unless the operator turns one of them off.
    static constexpr int kMessageSwitches = 52;
    static constexpr int kAllMessageSwitches = 62;

    using TCustomConfiguration::TCustomConfiguration;
    void Load() override;
    void Save() override;

    bool Information() const { return GetBoolean(0); }
    void SetInformation(bool value) { SetBoolean(0, value); }
    bool Warning() const { return GetBoolean(1); }
    void SetWarning(bool value) { SetBoolean(1, value); }
    bool Error() const { return GetBoolean(2); }
    void SetError(bool value) { SetBoolean(2, value); }
    // A number without a switch (kAllMessageSwitches and above) reads false.
    bool MessageEnabled(uint8_t message) const { return GetBoolean(message + 3); }
    void SetMessageEnabled(uint8_t message, bool value) { SetBoolean(message + 3, value); }
};

// Publishing to a media server. The section is written only by its own setters (or a bracket of its
// own), never by the root's bracket, so a settings file gets it appended after every section of the
// original layout and an Apply writes exactly the sections it always wrote.
class TPublishConfiguration : public TCustomConfiguration {
public:
    static constexpr int32_t kDefaultKeyframeSeconds = 2;

    using TCustomConfiguration::TCustomConfiguration;
    void Load() override;
    void Save() override;

    bool Enabled() const { return GetBoolean(0); }
    void SetEnabled(bool value) { SetBoolean(0, value); }
    std::string Url() const { return GetString(0); }
    void SetUrl(const std::string& value) { SetString(0, value); }
    // kbit/s; 0 or less picks a rate by frame size and rate.
    int32_t VideoBitrate() const { return GetInteger(0); }
    void SetVideoBitrate(int32_t value) { SetInteger(0, value); }
    // Seconds between keyframes.
    int32_t Keyframe() const { return GetInteger(1); }
    void SetKeyframe(int32_t value) { SetInteger(1, value); }

    // A URL for this run only (the command line's --publish): never written, and it switches
    // publishing on for the run.
    std::string RunUrl() const;
    void SetRunUrl(const std::string& value);
    // What Start publishes to: the run's URL, else "Url" when "Enabled"; empty for no publishing.
    std::string EffectiveUrl() const;

private:
    std::string FRunUrl;
};

// The root: owns the six sections and keeps "Transfer", "Sound" and "Application" itself.
class TConfiguration : public TCustomConfiguration {
public:
    explicit TConfiguration(std::string fileName);
    ~TConfiguration() override;

    void Load() override;
    void Save() override;
    void BeginUpdate() override;
    void EndUpdate() override;

    TVideoConfiguration& Video() { return *FVideo; }
    TAudioConfiguration& Audio() { return *FAudio; }
    TWebConfiguration& Web() { return *FWeb; }
    TTextConfiguration& Text() { return *FText; }
    TBroadcastConfiguration& Broadcast() { return *FBroadcast; }
    TLogConfiguration& Log() { return *FLog; }
    TPublishConfiguration& Publish() { return *FPublish; }
    const TVideoConfiguration& Video() const { return *FVideo; }
    const TAudioConfiguration& Audio() const { return *FAudio; }
    const TWebConfiguration& Web() const { return *FWeb; }
    const TTextConfiguration& Text() const { return *FText; }
    const TBroadcastConfiguration& Broadcast() const { return *FBroadcast; }
    const TLogConfiguration& Log() const { return *FLog; }
    const TPublishConfiguration& Publish() const { return *FPublish; }

    int32_t TransferSize() const { return GetInteger(0); }
    void SetTransferSize(int32_t value) { SetInteger(0, value); }
    int32_t TransferDelay() const { return GetInteger(1); }
    void SetTransferDelay(int32_t value) { SetInteger(1, value); }
    int32_t BackgroundColor() const { return GetInteger(2); }
    void SetBackgroundColor(int32_t value) { SetInteger(2, value); }
    int32_t JpegQuality() const { return GetInteger(3); }
    void SetJpegQuality(int32_t value) { SetInteger(3, value); }
    bool ShowPoweredBy() const { return GetBoolean(0); }
    void SetShowPoweredBy(bool value) { SetBoolean(0, value); }
    bool SoundConnect() const { return GetBoolean(1); }
    void SetSoundConnect(bool value) { SetBoolean(1, value); }
    bool MinimizeTray() const { return GetBoolean(2); }
    void SetMinimizeTray(bool value) { SetBoolean(2, value); }
    // Run-time values, never written to the file.
    std::string WebAddress() const { return GetString(0); }
    void SetWebAddress(const std::string& value);
    std::string SupportAddress() const { return GetString(3); }
    void SetSupportAddress(const std::string& value) { SetString(3, value); }
    std::string SoundConnectFile() const { return GetString(4); }
    void SetSoundConnectFile(const std::string& value) { SetString(4, value); }

    // The start-up stores of the run-time values, outside any bracket.
    void StoreRunTimeValues();

private:
    std::unique_ptr<TVideoConfiguration> FVideo;
    std::unique_ptr<TAudioConfiguration> FAudio;
    std::unique_ptr<TWebConfiguration> FWeb;
    std::unique_ptr<TTextConfiguration> FText;
    std::unique_ptr<TBroadcastConfiguration> FBroadcast;
    std::unique_ptr<TLogConfiguration> FLog;
    std::unique_ptr<TPublishConfiguration> FPublish;
};

// A path with its extension replaced (".ini", ".log"): the text after the last "." is replaced when that "."
// follows the last "/"; otherwise appended.
std::string ChangeFileExt(const std::string& path, const std::string& extension);
// The viewer page's file from "Web" "Path" and "Page": the path without its trailing separator, then
// the page with a separator in front when it has none; a backslash in the page counts as a separator.
std::string ViewerPageFileName(const std::string& path, const std::string& page);
// Full path of the running executable.
std::string ExecutablePath();
// Folder of a path, with its trailing separator.
std::string ExtractFilePath(const std::string& path);

// The process-wide configuration; created and loaded before the engine, freed after the windows.
TConfiguration& Configuration();
bool ConfigurationExists();
void SetConfiguration(TConfiguration* configuration);

inline constexpr const char* kWebAddress = "https://streamwright.example.org/";
inline constexpr const char* kSupportAddress = "support@streamwright.example.org";

} // namespace sw
