#pragma once

#include "audio/AudioCapture.h"
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

// The main window's non-visual half: the broadcast state, the deferred device initialisation,
// Start and Stop, and the enabling rules. The windowed front end and the headless program both
// drive this one object; it receives the main window's messages.
class TBroadcastController : public QObject {
    Q_OBJECT
public:
    // What the capture and sound input bring. A device side that is not wired has no initialised
    // device (so Start needs its "Enabled" off) and its start and stop do nothing.
    struct TDeviceHooks {
        std::function<bool()> VideoReady; // VideoState is not vsNone
        std::function<bool()> AudioReady; // AudioState is not AudioIdle
        std::function<void()> InitializeVideo;
        std::function<void()> InitializeAudio;
        std::function<void()> FinalizeVideo;
        std::function<void()> FinalizeAudio;
        std::function<bool()> StartVideo;
        std::function<void()> StopVideo;
        std::function<bool()> StartAudioCapture;
        std::function<void()> StopAudioCapture;
    };

    explicit TBroadcastController(TDataModuleMain& engine, QObject* parent = nullptr);
    ~TBroadcastController() override;

    TDeviceHooks Devices;

    // The capture device and sound input sides; the hooks above are wired to them at construction.
    TCaptureControl& Capture() { return *FCapture; }
    TAudioCapture& Audio() { return *FAudio; }
    // Publishing to a media server ("Publish" settings), started and stopped with the broadcast; the
    // video thread's frames and the sound buffers reach it through its taps.
    TPublisher& Publisher() { return *FPublisher; }

    bool Broadcasting() const { return FBroadcasting; }
    bool DevicesInitialized() const { return FDevicesInitialized; }

    // The creation steps that need no widgets: registers as the engine's main window and posts
    // WM_CONNECTIONSCHANGED, WM_LOGCHANGED, WM_SYSTEMINFOCHANGED and WM_INITIALIZEDEVICES.
    void Create();
    // Destruction: Stop while broadcasting, then the sound input and the capture device are released.
    void Destroy();

    // The Start action's enabling rule; reason says why not (empty when Start is allowed).
    bool CanStart(std::string* reason = nullptr) const;
    bool CanStop() const { return FBroadcasting; }

    // The Start sequence; returns Broadcasting afterwards.
    bool Start();
    void Stop();

    // The video thread's frame rate now, 0 while no video runs.
    double FrameRate() const { return FCapture->FrameRate(); }
    // The frame rate as the broadcast status shows it ("%.1f fps"), refreshed once a second by
    // TimerVideo while video runs and reset to "0.0 fps" by Stop.
    const std::string& FrameRateText() const { return FFrameRateText; }
    void TimerVideoTimer();
    static constexpr int kTimerVideoIntervalMs = 1000;

    // The front end's side of the window messages and of Stop.
    std::function<void(int message)> OnWindowMessage;
    std::function<void()> OnDevicesInitialized;
    std::function<void()> OnStopped;
    // After each refresh of FrameRateText.
    std::function<void()> OnFrameRate;

protected:
    bool event(QEvent* event) override;

private:
    void InitializeDevices();
    void StartPublishing();

    TDataModuleMain& FEngine;
    std::unique_ptr<TCaptureControl> FCapture;
    std::unique_ptr<TAudioSink> FAudioSink;
    std::unique_ptr<TAudioCapture> FAudio;
    std::unique_ptr<TPublisher> FPublisher;
    QTimer FTimerVideo;
    std::string FFrameRateText = "0.0 fps";
    bool FBroadcasting = false;
    bool FDevicesInitialized = false;
    bool FCreated = false;
};

} // namespace sw
