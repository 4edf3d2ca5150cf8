#pragma once

#include "audio/AudioCapture.h"
#include "video/CaptureControl.h"

#include <QEvent>
#include <QObject>
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

    // The front end's side of the window messages and of Stop.
    std::function<void(int message)> OnWindowMessage;
    std::function<void()> OnDevicesInitialized;
    std::function<void()> OnStopped;

protected:
    bool event(QEvent* event) override;

private:
    void InitializeDevices();

    TDataModuleMain& FEngine;
    std::unique_ptr<TCaptureControl> FCapture;
    std::unique_ptr<TAudioSink> FAudioSink;
    std::unique_ptr<TAudioCapture> FAudio;
    bool FBroadcasting = false;
    bool FDevicesInitialized = false;
    bool FCreated = false;
};

} // namespace sw
