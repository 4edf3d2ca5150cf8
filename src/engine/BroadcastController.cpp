#include "engine/BroadcastController.h"

#include "config/Configuration.h"
#include "engine/DataModuleMain.h"
#include "engine/EngineApplication.h"
#include "log/LogPost.h"

#include <cstdio>

namespace sw {

void ReportUnhandledException(const std::string& message) {
    if (DataModuleMainExists()) {
        DataModuleMain().ApplicationEventsException(message);
    } else {
        std::fprintf(stderr, "Exception: %s\n", message.c_str());
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
    Devices.VideoReady = [this] { return FCapture->VideoState() != vsNone; };
    Devices.InitializeVideo = [this] { FCapture->InitializeVideo(); };
    Devices.FinalizeVideo = [this] { FCapture->FinalizeVideo(); };
    Devices.StartVideo = [this] {
        const bool ok = FCapture->StartVideo();
        if (FCapture->VideoState() == vsRunning) {
            FTimerVideo.start();
        }
        return ok;
    };
    Devices.StopVideo = [this] {
        FTimerVideo.stop();
        FCapture->StopVideo();
    };
    Devices.AudioReady = [this] { return FAudio->AudioState() != AudioIdle; };
    Devices.InitializeAudio = [this] { FAudio->InitializeAudio(); };
    Devices.FinalizeAudio = [this] { FAudio->FinalizeAudio(); };
    Devices.StartAudioCapture = [this] { return FAudio->StartAudioCapture(); };
    Devices.StopAudioCapture = [this] { FAudio->StopAudioCapture(); };
    FCapture->SetVideoServer(&engine);
    FCapture->SetFrameTap(FPublisher.get());
    FAudio->SetPcmTap(FPublisher.get());
    FTimerVideo.setInterval(kTimerVideoIntervalMs);
    connect(&FTimerVideo, &QTimer::timeout, this, [this] { TimerVideoTimer(); });
}

void TBroadcastController::TimerVideoTimer() {
    char text[64];
    std::snprintf(text, sizeof text, "%.1f fps", FrameRate());
    FFrameRateText = text;
    if (OnFrameRate) {
        OnFrameRate();
    }
}

TBroadcastController::~TBroadcastController() {
    if (FEngine.MainWindow() == this) {
        FEngine.SetMainWindow(nullptr);
    }
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
    if (Devices.FinalizeAudio) {
        Devices.FinalizeAudio();
    }
    if (Devices.FinalizeVideo) {
        Devices.FinalizeVideo();
    }
}

bool TBroadcastController::event(QEvent* event) {
    const int type = static_cast<int>(event->type());
    switch (type) {
    case WM_INITIALIZEDEVICES:
        InitializeDevices();
        return true;
    case WM_CONNECTIONSCHANGED:
    case WM_LOGCHANGED:
    case WM_SYSTEMINFOCHANGED:
        if (OnWindowMessage) {
            OnWindowMessage(type);
        }
        return true;
    default:
        return QObject::event(event);
    }
}

void TBroadcastController::InitializeDevices() {
    TConfiguration& config = Configuration();
    if (config.Video().Device() >= 0 && Devices.InitializeVideo) {
        Devices.InitializeVideo();
    }
    if (config.Audio().Device() >= 0 && Devices.InitializeAudio) {
        Devices.InitializeAudio();
    }
    FDevicesInitialized = true;
    if (OnDevicesInitialized) {
        OnDevicesInitialized();
    }
}

bool TBroadcastController::CanStart(std::string* reason) const {
    std::string why;
    TConfiguration& config = Configuration();
    if (FBroadcasting) {
        why = "the broadcast is already running";
    } else if (config.Video().Enabled() && !(Devices.VideoReady && Devices.VideoReady())) {
        why = "video is enabled but no capture device is initialised";
    } else if (config.Audio().Enabled() && !(Devices.AudioReady && Devices.AudioReady())) {
        why = "audio is enabled but no sound input is prepared";
    }
    if (reason) {
        *reason = why;
    }
    return why.empty();
}

bool TBroadcastController::Start() {
    TConfiguration& config = Configuration();
    bool inUse = false;
    if (TDataModuleMain::PortInUse(config.Video().Port())) {
        FEngine.Log(llError, lmVideoPortInUse, Now(), "");
        inUse = true;
    }
    if (TDataModuleMain::PortInUse(config.Audio().Port())) {
        FEngine.Log(llError, lmAudioPortInUse, Now(), "");
        inUse = true;
    }
    if (config.Web().Enabled() && TDataModuleMain::PortInUse(config.Web().Port())) {
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
    }
    if (FBroadcasting) {
        FBroadcasting = Devices.StartAudioCapture ? Devices.StartAudioCapture() : true;
    }
    if (!FBroadcasting) {
        Stop();
    } else {
        StartPublishing();
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
    if (Devices.StopAudioCapture) {
        Devices.StopAudioCapture();
    }
    if (Devices.StopVideo) {
        Devices.StopVideo();
    }
    // After the capture ends, so that its count of dropped frames is final.
    FPublisher->Stop();
    FEngine.StopServers();
    FFrameRateText = "0.0 fps";
    if (OnStopped) {
        OnStopped();
    }
    FEngine.Log(llInformation, lmStop, Now(), "");
}

} // namespace sw
