#include "engine/BroadcastController.h"

#include "config/Configuration.h"
#include "engine/Clients.h"
#include "engine/DataModuleMain.h"
#include "engine/EngineApplication.h"
#include "log/LogPost.h"
#include "platform/shell/ConsoleWriter.h"
#include "platform/shell/OperatorPrompts.h"
#include "platform/shell/ThreadHandOff.h"

#include <cstdio>
#include <exception>
#include <string_view>
#include <utility>

namespace sw {

void ReportUnhandledException(const std::string& message) {
    if (DataModuleMainExists()) {
        DataModuleMain().ApplicationEventsException(message);
    } else {
        WriteConsoleLine("Exception: " + message);
    }
}

namespace {

// Encoded sound goes to the engine's audio viewers.
class TEngineAudioSink : public TAudioSink {
public:
    explicit TEngineAudioSink(TDataModuleMain& engine) : FEngine(engine) {}
    void SendAudio(const uint8_t* buffer, int count) override {
        if (count > 0) {
            FEngine.SendAudio(buffer, static_cast<size_t>(count));
        }
    }

private:
    TDataModuleMain& FEngine;
};

} // namespace

TBroadcastController::TBroadcastController(TDataModuleMain& engine, QObject* parent)
    : QObject(parent), FEngine(engine), FCapture(std::make_unique<TCaptureControl>(engine.MessageWindow())),
      FAudioSink(std::make_unique<TEngineAudioSink>(engine)),
      FAudio(std::make_unique<TAudioCapture>(Configuration().Audio(), engine.MessageWindow(), *FAudioSink)),
      FPublisher(std::make_unique<TPublisher>(engine.MessageWindow())) {
    Devices.VideoState = [this] { return FCapture->VideoState(); };
    Devices.AudioState = [this] { return FAudio->AudioState(); };
    Devices.DriverCaps = [this] { return FCapture->DriverCaps(); };
    Devices.InitializeVideo = [this] { FCapture->InitializeVideo(); };
    Devices.FinalizeVideo = [this] { FCapture->FinalizeVideo(); };
    Devices.StartVideo = [this] { return FCapture->StartVideo(); };
    Devices.StopVideo = [this] { FCapture->StopVideo(); };
    Devices.InitializeAudio = [this] { FAudio->InitializeAudio(); };
    Devices.FinalizeAudio = [this] { FAudio->FinalizeAudio(); };
    Devices.StartAudioCapture = [this] { return FAudio->StartAudioCapture(); };
    Devices.StopAudioCapture = [this] { FAudio->StopAudioCapture(); };
    Devices.VideoSourceDialog = [this] { FCapture->VideoSourceDialog(); };
    Devices.VideoFormatDialog = [this] { FCapture->VideoFormatDialog(); };
    Devices.VideoCompressionDialog = [this] { FCapture->VideoCompressionDialog(); };
    Devices.VideoDisplayDialog = [this] { FCapture->VideoDisplayDialog(); };
    Devices.AudioCompressionDialog = [this] { FAudio->ChooseAudioFormat(); };
    FCapture->SetVideoServer(&engine);
    FCapture->SetFrameTap(FPublisher.get());
    FAudio->SetPcmTap(FPublisher.get());
    FTimerVideo.setInterval(kTimerVideoIntervalMs);
    connect(&FTimerVideo, &QTimer::timeout, this, [this] { TimerVideoTimer(); });
}

TBroadcastController::~TBroadcastController() {
    Destroy();
    if (FEngine.MainWindow() == this) {
        FEngine.SetMainWindow(nullptr);
    }
}

TVideoState TBroadcastController::VideoState() const {
    return Devices.VideoState ? Devices.VideoState() : vsNone;
}

TAudioState TBroadcastController::AudioState() const {
    return Devices.AudioState ? Devices.AudioState() : AudioIdle;
}

TCapDriverCaps TBroadcastController::DriverCaps() const {
    return Devices.DriverCaps ? Devices.DriverCaps() : TCapDriverCaps{};
}

void TBroadcastController::Run(const std::function<void()>& hook) {
    if (hook) {
        hook();
    }
}

void TBroadcastController::NoteDeviceStates() {
    const TVideoState video = VideoState();
    if (video != FReportedVideoState) {
        FReportedVideoState = video;
        // The frame rate display runs exactly while video does.
        if (video == vsRunning) {
            FTimerVideo.start();
        } else {
            FTimerVideo.stop();
        }
        Q_EMIT VideoStateChanged(video);
    }
    const TAudioState audio = AudioState();
    if (audio != FReportedAudioState) {
        FReportedAudioState = audio;
        Q_EMIT AudioStateChanged(audio);
    }
}

void TBroadcastController::SetFrameRateText(const std::string& text) {
    FFrameRateText = text;
    Q_EMIT FrameRateChanged(FFrameRateText);
}

void TBroadcastController::TimerVideoTimer() {
    char text[64];
    std::snprintf(text, sizeof text, "%.1f fps", FrameRate());
    SetFrameRateText(text);
}

void TBroadcastController::Create() {
    FBroadcasting = false;
    FCreated = true;
    FEngine.SetMainWindow(this);
    PostWindowMessage(this, WM_CONNECTIONSCHANGED);
    PostWindowMessage(this, WM_LOGCHANGED);
    PostWindowMessage(this, WM_SYSTEMINFOCHANGED);
    PostWindowMessage(this, WM_INITIALIZEDEVICES);
}

void TBroadcastController::Destroy() {
    if (!FCreated) {
        return;
    }
    FCreated = false;
    if (CanStop()) {
        Stop();
    }
    Run(Devices.FinalizeAudio);
    Run(Devices.FinalizeVideo);
    NoteDeviceStates();
}

bool TBroadcastController::event(QEvent* event) {
    TakeOverFromThread(event);
    switch (static_cast<int>(event->type())) {
    case WM_INITIALIZEDEVICES:
        InitializeDevices();
        return true;
    case WM_CONNECTIONSCHANGED:
        Q_EMIT ConnectionsChanged();
        return true;
    case WM_LOGCHANGED:
        Q_EMIT LogChanged();
        return true;
    case WM_SYSTEMINFOCHANGED:
        Q_EMIT SystemInfoChanged();
        return true;
    default:
        return QObject::event(event);
    }
}

void TBroadcastController::InitializeDevices() {
    TConfiguration& config = Configuration();
    if (config.Video().Device() >= 0) {
        Run(Devices.InitializeVideo);
        NoteDeviceStates();
    }
    if (config.Audio().Device() >= 0) {
        Run(Devices.InitializeAudio);
        NoteDeviceStates();
    }
    FDevicesInitialized = true;
    Q_EMIT InitializedDevices();
}

bool TBroadcastController::CanStart(std::string* reason) const {
    std::string why;
    TConfiguration& config = Configuration();
    if (FBroadcasting) {
        why = "the broadcast is already running";
    } else if (config.Video().Enabled() && VideoState() == vsNone) {
        why = "video is enabled but no capture device is initialised";
    } else if (config.Audio().Enabled() && AudioState() == AudioIdle) {
        why = "audio is enabled but no sound input is prepared";
    }
    if (reason) {
        *reason = why;
    }
    return why.empty();
}

bool TBroadcastController::VideoDialogEnabled(int32_t TCapDriverCaps::*flag) const {
    return !FBroadcasting && VideoState() == vsInitialized && (!flag || DriverCaps().*flag != 0);
}

bool TBroadcastController::ActionEnabled(TMainAction action, const std::string& selectedAddress) const {
    switch (action) {
    case TMainAction::Start:
        return CanStart();
    case TMainAction::Stop:
        return CanStop();
    case TMainAction::MenuVideo:
    case TMainAction::MenuAudio:
        return !FBroadcasting;
    case TMainAction::VideoSource:
        return VideoDialogEnabled(&TCapDriverCaps::fHasDlgVideoSource);
    case TMainAction::VideoFormat:
        return VideoDialogEnabled(&TCapDriverCaps::fHasDlgVideoFormat);
    case TMainAction::VideoDisplay:
        return VideoDialogEnabled(&TCapDriverCaps::fHasDlgVideoDisplay);
    case TMainAction::VideoCompression:
        return VideoDialogEnabled(nullptr);
    case TMainAction::AudioCompression:
        return !FBroadcasting && AudioState() == AudioReady;
    case TMainAction::ClientBlocked:
    case TMainAction::ClientDisconnect: {
        const TClient* client =
            selectedAddress.empty() || !ClientsExists() ? nullptr : Clients().Find(selectedAddress, false);
        return client && (action == TMainAction::ClientBlocked || client->Connections() > 0);
    }
    case TMainAction::LogClear:
    case TMainAction::LogEmail:
        return !FEngine.LogLines().empty();
    default:
        return true;
    }
}

bool TBroadcastController::ActionChecked(TMainAction action, const std::string& selectedAddress) const {
    switch (action) {
    case TMainAction::VideoEnabled:
        return Configuration().Video().Enabled();
    case TMainAction::AudioEnabled:
        return Configuration().Audio().Enabled();
    case TMainAction::ClientBlocked: {
        const TClient* client =
            selectedAddress.empty() || !ClientsExists() ? nullptr : Clients().Find(selectedAddress, false);
        return client && client->Blocked;
    }
    default:
        return false;
    }
}

bool TBroadcastController::Execute(TMainAction action, const std::string& selectedAddress) {
    if (!ActionEnabled(action, selectedAddress)) {
        return false;
    }
    TConfiguration& config = Configuration();
    switch (action) {
    case TMainAction::Start:
        Start();
        return true;
    case TMainAction::Stop:
        Stop();
        return true;
    case TMainAction::Email:
        FEngine.EmailLink();
        return true;
    case TMainAction::Html:
        FEngine.UpdateViewerPage();
        return true;
    case TMainAction::VideoEnabled:
        // A running broadcast keeps what it started with; the setting counts from the next Start.
        config.Video().SetEnabled(!config.Video().Enabled());
        return true;
    case TMainAction::AudioEnabled:
        config.Audio().SetEnabled(!config.Audio().Enabled());
        return true;
    case TMainAction::VideoSource:
        Run(Devices.VideoSourceDialog);
        break;
    case TMainAction::VideoFormat:
        Run(Devices.VideoFormatDialog);
        break;
    case TMainAction::VideoCompression:
        Run(Devices.VideoCompressionDialog);
        break;
    case TMainAction::VideoDisplay:
        Run(Devices.VideoDisplayDialog);
        break;
    case TMainAction::AudioCompression:
        Run(Devices.AudioCompressionDialog);
        break;
    case TMainAction::ClientDisconnect:
        DisconnectClient(selectedAddress);
        return true;
    case TMainAction::ClientBlocked:
        ToggleClientBlocked(selectedAddress);
        return true;
    case TMainAction::LogClear:
        FEngine.ClearLog();
        return true;
    case TMainAction::LogEmail:
        FEngine.EmailLog();
        return true;
    case TMainAction::ConfigurationEmail:
        FEngine.EmailConfiguration();
        return true;
    default:
        return false;
    }
    NoteDeviceStates();
    return true;
}

void TBroadcastController::ToggleClientBlocked(const std::string& address) {
    const bool block = !ActionChecked(TMainAction::ClientBlocked, address);
    try {
        if (block) {
            Clients().Block(address);
            FEngine.Log(llWarning, lmClientBlock, Now(), address);
        } else {
            Clients().Unblock(address);
            FEngine.Log(llInformation, lmClientUnblock, Now(), address);
        }
    } catch (const std::exception& e) {
        // The settings file could not be written; the registry keeps the new state in memory.
        FEngine.ApplicationEventsException(e.what());
    }
    PostWindowMessage(this, WM_CONNECTIONSCHANGED);
}

void TBroadcastController::DisconnectClient(const std::string& address) {
    if (Prompts().Confirm("Disconnect " + address + "?")) {
        FEngine.DisconnectClient(address);
    }
}

bool TBroadcastController::ChooseVideoDevice(int index) {
    TVideoConfiguration& video = Configuration().Video();
    if (FBroadcasting || index < 0 || index >= video.DeviceCount()) {
        return false;
    }
    video.SetDevice(index);
    Run(Devices.FinalizeVideo);
    Run(Devices.InitializeVideo);
    NoteDeviceStates();
    return true;
}

bool TBroadcastController::ChooseAudioDevice(int index) {
    TAudioConfiguration& audio = Configuration().Audio();
    if (FBroadcasting || index < 0 || index >= audio.DeviceCount()) {
        return false;
    }
    audio.SetDevice(index);
    Run(Devices.FinalizeAudio);
    Run(Devices.InitializeAudio);
    NoteDeviceStates();
    return true;
}

bool TBroadcastController::Start() {
    TConfiguration& config = Configuration();
    // Such a port is logged as in use like any other that cannot be taken; only the operator's
    // console is told why.
    for (auto [section, port] : {std::pair<const char*, int32_t>{"Video", config.Video().Port()},
                                 {"Audio", config.Audio().Port()},
                                 {"Web", config.Web().Port()}}) {
        if ((port < 0 || port > 65535) && (std::string_view(section) != "Web" || config.Web().Enabled())) {
            WriteConsoleLine(std::string("[") + section + "] Port=" + std::to_string(port) +
                             " is no port number: use 1 to 65535 (0 lets the system choose)");
        }
    }
    const std::string listen = config.Broadcast().EffectiveListenAddress();
    bool inUse = false;
    if (TDataModuleMain::PortInUse(config.Video().Port(), listen)) {
        FEngine.Log(llError, lmVideoPortInUse, Now(), "");
        inUse = true;
    }
    if (TDataModuleMain::PortInUse(config.Audio().Port(), listen)) {
        FEngine.Log(llError, lmAudioPortInUse, Now(), "");
        inUse = true;
    }
    if (config.Web().Enabled() && TDataModuleMain::PortInUse(config.Web().Port(), listen)) {
        FEngine.Log(llError, lmWebPortInUse, Now(), "");
        inUse = true;
    }
    if (inUse) {
        return false;
    }
    FEngine.Log(llInformation, lmStart, Now(), "");
    FBroadcasting = true;
    try {
        FEngine.StartServers();
    } catch (const std::exception& e) {
        // Another program took a port between the test and the activation.
        FEngine.ApplicationEventsException(e.what());
        FBroadcasting = false;
    }
    if (FBroadcasting) {
        FBroadcasting = Devices.StartVideo ? Devices.StartVideo() : true;
        NoteDeviceStates();
    }
    if (FBroadcasting) {
        FBroadcasting = Devices.StartAudioCapture ? Devices.StartAudioCapture() : true;
        NoteDeviceStates();
    }
    if (!FBroadcasting) {
        Stop();
    } else {
        StartPublishing();
        if (!FReportedBroadcasting) {
            FReportedBroadcasting = true;
            Q_EMIT BroadcastingChanged(true);
        }
    }
    return FBroadcasting;
}

void TBroadcastController::StartPublishing() {
    const TConfiguration& config = Configuration();
    TPublishSettings settings;
    if (!config.Publish().Enabled() && config.Publish().RunUrl().empty()) {
        return;
    }
    // Switched on without a URL is a mistake the log tells about.
    settings.Url = config.Publish().EffectiveUrl();
    settings.VideoBitrateKbps = config.Publish().VideoBitrate();
    settings.KeyframeSeconds = config.Publish().Keyframe();
    settings.Video = FCapture->VideoState() == vsRunning;
    if (settings.Video) {
        const TBitmapInfoHeader format = InfoHeaderOf(FCapture->VideoFormat().data());
        settings.Width = format.biWidth;
        settings.Height = format.biHeight < 0 ? -format.biHeight : format.biHeight;
        settings.MicroSecPerFrame = FCapture->CaptureParms().dwRequestMicroSecPerFrame;
    }
    settings.Audio = FAudio->AudioState() == AudioRecording;
    settings.AudioFormat = FAudio->WaveFormat();
    FPublisher->Start(settings);
}

void TBroadcastController::Stop() {
    FBroadcasting = false;
    Run(Devices.StopAudioCapture);
    Run(Devices.StopVideo);
    NoteDeviceStates();
    // After the capture ends, so that its count of dropped frames is final.
    FPublisher->Stop();
    FEngine.StopServers();
    SetFrameRateText("0.0 fps");
    if (FReportedBroadcasting) {
        FReportedBroadcasting = false;
        Q_EMIT BroadcastingChanged(false);
    }
    Q_EMIT Stopped();
    FEngine.Log(llInformation, lmStop, Now(), "");
}

} // namespace sw
