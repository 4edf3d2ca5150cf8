#pragma once

#include "audio/AudioCapture.h"
#include "log/LogTypes.h"
#include "platform/capture/CaptureRecords.h"
#include "publish/Publisher.h"
#include "video/CaptureControl.h"

#include <QEvent>
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

namespace sw {

class TDataModuleMain;

// The main window's actions. The window owns the views, the menus, minimise, close, open and the
// options dialog; the rest run here.
enum class TMainAction {
    ViewBroadcast,
    ViewConnections,
    ViewLog,
    ViewConfiguration,
    ViewAbout,
    Start,
    Stop,
    Minimize,
    Close,
    Open,
    Options,
    Email,
    Html,
    MenuStreamwright,
    MenuAudio,
    MenuVideo,
    VideoEnabled,
    VideoSource,
    VideoFormat,
    VideoCompression,
    VideoDisplay,
    AudioEnabled,
    AudioCompression,
    ClientDisconnect,
    ClientBlocked,
    LogClear,
    LogEmail,
    ConfigurationEmail,
};
constexpr int kMainActionCount = static_cast<int>(TMainAction::ConfigurationEmail) + 1;

// The main window's non-visual half: the broadcast state, the device states and their deferred
// initialisation, Start and Stop, the device choice and the Enabled toggles, and every enabling rule.
// The windowed front end, the tray, the headless program and the tests all drive this one object and
// follow its signals; it receives the main window's messages. Main thread only.
class TBroadcastController : public QObject {
    Q_OBJECT
public:
    // What the capture and sound input bring; wired to Capture() and Audio() at construction, and
    // replaceable so that a test can stand in for a device.
    struct TDeviceHooks {
        std::function<TVideoState()> VideoState;
        std::function<TAudioState()> AudioState;
        std::function<TCapDriverCaps()> DriverCaps;
        std::function<void()> InitializeVideo;
        std::function<void()> InitializeAudio;
        std::function<void()> FinalizeVideo;
        std::function<void()> FinalizeAudio;
        std::function<bool()> StartVideo;
        std::function<void()> StopVideo;
        std::function<bool()> StartAudioCapture;
        std::function<void()> StopAudioCapture;
        std::function<void()> VideoSourceDialog;
        std::function<void()> VideoFormatDialog;
        std::function<void()> VideoCompressionDialog;
        std::function<void()> VideoDisplayDialog;
        std::function<void()> AudioCompressionDialog;
    };

    explicit TBroadcastController(TDataModuleMain& engine, QObject* parent = nullptr);
    // Runs Destroy when Create ran: Stop first while broadcasting, then the devices are released.
    ~TBroadcastController() override;

    TDeviceHooks Devices;

    TCaptureControl& Capture() { return *FCapture; }
    TAudioCapture& Audio() { return *FAudio; }
    TDataModuleMain& Engine() { return FEngine; }
    // Publishing to a media server ("Publish" settings), started and stopped with the broadcast; the
    // video thread's frames and the sound buffers reach it through its taps.
    TPublisher& Publisher() { return *FPublisher; }

    bool Broadcasting() const { return FBroadcasting; }
    TVideoState VideoState() const;
    TAudioState AudioState() const;
    TCapDriverCaps DriverCaps() const;
    bool DevicesInitialized() const { return FDevicesInitialized; }

    // The creation steps that need no widgets: registers as the engine's main window and posts
    // WM_CONNECTIONSCHANGED, WM_LOGCHANGED, WM_SYSTEMINFOCHANGED and WM_INITIALIZEDEVICES.
    void Create();
    // Destruction: Stop while broadcasting, then the sound input and the capture device are released.
    void Destroy();

    // The enabling rules. selectedAddress is the connections view's selected row ("" for none).
    bool ActionEnabled(TMainAction action, const std::string& selectedAddress = {}) const;
    // The check marks kept here: the two Enabled toggles and Blocked (the selected client's state).
    bool ActionChecked(TMainAction action, const std::string& selectedAddress = {}) const;
    // Runs an action of this half when its rule allows it at this moment; false when it did not run
    // (disabled, or an action that belongs to the window).
    bool Execute(TMainAction action, const std::string& selectedAddress = {});

    // The Start action's rule; reason says why not (empty when Start is allowed).
    bool CanStart(std::string* reason = nullptr) const;
    bool CanStop() const { return FBroadcasting; }

    // The Start sequence; returns Broadcasting afterwards.
    bool Start();
    void Stop();

    // Device choice from the device menus: stores the index (saved at once), then finalises and
    // initialises that device. Refused (false) while broadcasting or for an index outside the list.
    bool ChooseVideoDevice(int index);
    bool ChooseAudioDevice(int index);

    // The video thread's frame rate now, 0 while no video runs.
    double FrameRate() const { return FCapture->FrameRate(); }
    // The frame rate as the broadcast status shows it ("%.1f fps"), refreshed once a second by
    // TimerVideo while video runs and reset to "0.0 fps" by Stop.
    const std::string& FrameRateText() const { return FFrameRateText; }
    void TimerVideoTimer();
    static constexpr int kTimerVideoIntervalMs = 1000;

Q_SIGNALS:
    void BroadcastingChanged(bool broadcasting);
    // Every Stop, also the one a failed Start runs: the status texts go back to zero.
    void Stopped();
    void VideoStateChanged(int state);
    void AudioStateChanged(int state);
    // WM_INITIALIZEDEVICES was handled: the devices the settings name were initialised.
    void InitializedDevices();
    void FrameRateChanged(const std::string& text);
    void ConnectionsChanged();
    void LogChanged();
    void SystemInfoChanged();

protected:
    bool event(QEvent* event) override;

private:
    void InitializeDevices();
    // Emits the state signals for whatever a device operation changed.
    void NoteDeviceStates();
    void SetFrameRateText(const std::string& text);
    bool VideoDialogEnabled(int32_t TCapDriverCaps::*flag) const;
    void ToggleClientBlocked(const std::string& address);
    void DisconnectClient(const std::string& address);
    static void Run(const std::function<void()>& hook);
    void StartPublishing();

    TDataModuleMain& FEngine;
    std::unique_ptr<TCaptureControl> FCapture;
    std::unique_ptr<TAudioSink> FAudioSink;
    std::unique_ptr<TAudioCapture> FAudio;
    std::unique_ptr<TPublisher> FPublisher;
    QTimer FTimerVideo;
    std::string FFrameRateText = "0.0 fps";
    bool FBroadcasting = false;
    bool FReportedBroadcasting = false;
    TVideoState FReportedVideoState = vsNone;
    TAudioState FReportedAudioState = AudioIdle;
    bool FDevicesInitialized = false;
    bool FCreated = false;
};

} // namespace sw
