#pragma once

#include "log/LogPost.h"
#include "platform/capture/CaptureRecords.h"
#include "platform/capture/CaptureWindow.h"
#include "video/FramePreview.h"
#include "video/VideoPacket.h"
#include "video/VideoThread.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sw {

enum TVideoState : uint8_t {
    vsNone = 0,        // no capture window
    vsInitialized = 1, // capture window created, driver connected, no video thread
    vsRunning = 2,     // video thread running
};

// The capture side of the main window's non-visual half: the capture window's life, the driver
// connection, the four driver queries with their log entries and dumps, the settings refresh and the
// driver dialogs. Main thread only; failures are log entries, and a failed initialisation is the one
// message box.
class TCaptureControl {
public:
    static constexpr const char* kCaptureWindowTitle = "Streamwright Capture Window";
    static constexpr int kCaptureWindowWidth = 320;
    static constexpr int kCaptureWindowHeight = 160;

    // logWindow receives the log entries (the engine's message window).
    explicit TCaptureControl(TMessageWindow logWindow);
    ~TCaptureControl();
    TCaptureControl(const TCaptureControl&) = delete;
    TCaptureControl& operator=(const TCaptureControl&) = delete;

    // The client size of the video panel that the capture window is centred in.
    void SetPanelSize(int width, int height);

    TVideoState VideoState() const { return FVideoState; }
    // For starting and stopping the video thread, which moves between vsInitialized and vsRunning.
    void SetVideoState(TVideoState state) { FVideoState = state; }
    // Nothing while there is no capture window.
    TCaptureWindow* CaptureWindow() const { return FCaptureWindow.get(); }
    const TVideoFormatBuffer& VideoFormat() const { return FVideoFormat; }
    const TCapStatus& CaptureStatus() const { return FCaptureStatus; }
    const TCapDriverCaps& DriverCaps() const { return FDriverCaps; }
    const TCaptureParms& CaptureParms() const { return FCaptureParms; }

    // The logged wrappers of the capture window's operations; each logs one entry.
    bool CreateCaptureWindow();
    bool DestroyCaptureWindow();
    bool DriverConnect();
    bool DriverDisconnect();
    bool DriverGetCaps();
    bool CaptureGetStatus();
    bool CaptureGetSetup();
    bool CaptureSetSetup();
    bool GetVideoFormat();

    // Connects the device that the video "Device" setting names; "Unable to initialize video!" when
    // that fails, with everything done so far undone.
    bool InitializeVideo();
    bool FinalizeVideo();
    // Reads status and settings, writes the settings back with the audio buffer size of twice the audio
    // "FrameSize", reads the format; stops at the first failure.
    bool RefreshCaptureSettings();
    // Centres the capture window in the panel at the size of the grabbed image.
    bool PositionCaptureWindow();

    // Where the video thread sends each frame's packet (the engine's video server); none sends nothing.
    void SetVideoServer(TVideoPacketSink* videoServer) { FVideoServer = videoServer; }
    // Where the video thread hands each overlaid frame besides the JPEG encoder (the publisher); none
    // by default.
    void SetFrameTap(TFrameTap* frameTap) { FFrameTap = frameTap; }
    // With video "Enabled": shows the capture window and starts the video thread (vsRunning). Without
    // it, does nothing and succeeds. Fails when there is no capture window to grab from.
    bool StartVideo();
    // While vsRunning: hides the capture window, ends the video thread while serving its requests, and
    // goes back to vsInitialized.
    bool StopVideo();
    TVideoThread* VideoThread() const { return FVideoThread.get(); }
    // The running thread's frame rate, 0 without one.
    double FrameRate() const { return FVideoThread ? FVideoThread->FrameRate() : 0.0; }
    // The last grabbed frame for a preview view, while one is switched on.
    TFramePreview& Preview() { return FPreview; }

    // The driver dialogs, each when the driver reports it (compression always), then the refresh.
    // Only while vsInitialized; false when the dialog was not shown or not accepted.
    bool VideoFormatDialog();
    bool VideoSourceDialog();
    bool VideoDisplayDialog();
    bool VideoCompressionDialog();

    // The diagnostic dumps: one line per field, the name padded to 28 characters, "= ", the value.
    static std::vector<std::string> DriverCapsDump(const TCapDriverCaps& caps);
    static std::vector<std::string> CaptureStatusDump(const TCapStatus& status);
    static std::vector<std::string> CaptureParmsDump(const TCaptureParms& parms);
    static std::vector<std::string> VideoFormatDump(const TBitmapInfoHeader& format);

    // Asks the device for the format of the video "Width", "Height", "FrameRate" and "PixelFormat"
    // settings, when any is set; a format it cannot give is logged with what it offers instead.
    void ApplyConfiguredFormat();

private:
    bool LogResult(uint8_t message, bool ok, const std::vector<std::string>& values = {});
    bool RefreshAfterDialog(bool shown);

    TMessageWindow FLogWindow;
    int FPanelWidth = 0;
    int FPanelHeight = 0;
    TVideoState FVideoState = vsNone;
    std::unique_ptr<TCaptureWindow> FCaptureWindow;
    TVideoFormatBuffer FVideoFormat{};
    TCapStatus FCaptureStatus{};
    TCapDriverCaps FDriverCaps{};
    TCaptureParms FCaptureParms{};
    TVideoPacketSink* FVideoServer = nullptr;
    TFrameTap* FFrameTap = nullptr;
    TFramePreview FPreview;
    // After the capture window: the thread ends before the window goes.
    std::unique_ptr<TVideoThread> FVideoThread;
};

} // namespace sw
