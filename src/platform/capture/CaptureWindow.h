#pragma once

#include "platform/capture/CaptureDriver.h"
#include "platform/shell/CustomEvents.h"

#include <QEvent>
#include <QObject>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace sw {

class TCaptureWindow;

// The frame callback runs on the window's thread during a grab; the header is valid only for the call.
using TFrameCallback = bool (*)(TCaptureWindow* window, TVideoHdr* header);
using TErrorCallback = bool (*)(TCaptureWindow* window, int errorNumber, const char* text);

struct TWindowRect {
    int X = 0;
    int Y = 0;
    int Width = 0;
    int Height = 0;
};

// The capture component: one capture window with the operations of the platform's capture window
// messages, connected to a driver of the capture driver table. It belongs to the thread that created
// it. Every operation may be called from any thread: from another thread it is a synchronous request
// that the owner thread runs (from its event loop, or from WaitServing), like a message sent to a
// window of another thread. A grab from another thread waits for the device's frame on the calling
// thread and only takes the frame, runs the frame callback and requeues the buffer on the owner thread.
// The window must outlive every call made from another thread: the owner destroys it only after such
// threads have ended (waiting for them with WaitServing).
class TCaptureWindow : public QObject {
public:
    // The window exists only as a record of its place and visibility: with windows, the preview view
    // shows the grabbed frames there; without windows nothing is drawn.
    TCaptureWindow(std::string title, bool visible, TWindowRect rect);
    ~TCaptureWindow() override;

    const std::string& Title() const { return FTitle; }
    TWindowRect Rect() const;
    bool Visible() const;
    void SetWindowPos(TWindowRect rect);
    void Show(bool visible);

    // The driver of that index of the capture driver table; an index without a driver fails.
    bool DriverConnect(uint32_t index);
    bool DriverDisconnect();
    // Connects afresh to the device last connected, found by its stable identity wherever it is in
    // the table now (an unplugged camera plugged in again), with the sequence settings last set. The
    // old driver goes first, so a device that still exists is free to be opened again. The opening
    // runs on the calling thread, not the owner's. False, and no driver, when the device is not there.
    bool DriverReconnect();
    bool Connected() const;
    bool DriverGetCaps(TCapDriverCaps& caps);
    bool GetStatus(TCapStatus& status);
    bool GetSequenceSetup(TCaptureParms& parms);
    bool SetSequenceSetup(const TCaptureParms& parms);
    // Copies up to size bytes of the video format (a BITMAPINFOHEADER and 4 further bytes); the bytes
    // copied, 0 on failure.
    uint32_t GetVideoFormat(uint8_t* buffer, uint32_t size);
    bool DlgVideoFormat();
    // The driver's formats: what it offers, the nearest to a request, what it uses.
    std::vector<std::string> OfferedFormats();
    bool ApplyFormat(const TCaptureFormat& request, TCaptureFormat& applied);
    TCaptureFormat CurrentFormat();
    bool DlgVideoSource();
    bool DlgVideoDisplay();
    bool DlgVideoCompression();
    bool SetUserData(intptr_t value);
    intptr_t GetUserData();
    // nullptr removes the callback.
    bool SetCallbackOnFrame(TFrameCallback callback);
    bool SetCallbackOnError(TErrorCallback callback);
    // Grabs one frame and calls the frame callback with it before returning. A failure reaches the error
    // callback once, until a grab succeeds again.
    bool GrabFrameNoStop();

    // Runs body on the owner thread, as a request like the others (at once on the owner thread); false
    // when the window went away first.
    bool Call(const std::function<void()>& body);

    // Owner thread: runs the requests of other threads that are waiting.
    void ServeRequests();
    // Owner thread: serves other threads' requests, and nothing else, until done() holds or timeoutMs
    // has passed (never when negative). Wakes at least once a second, on every request and on Wake().
    bool WaitServing(const std::function<bool()>& done, int timeoutMs = -1);
    // Any thread: makes a WaitServing check its condition now (a thread calls it as it ends).
    void Wake();
    // Requests of other threads waiting to be served.
    size_t PendingRequests() const;

    // Owner thread: the connected driver, for tests and the preview.
    TCaptureDriver* Driver() const { return FDriver.get(); }

protected:
    bool event(QEvent* event) override;

private:
    struct TRequest {
        std::function<void()> Run;
        bool Done = false;
    };
    struct TRequestQueue {
        std::mutex Lock;
        std::condition_variable Served;
        std::condition_variable Arrived;
        std::deque<std::shared_ptr<TRequest>> Pending;
        bool Closed = false;
        bool Woken = false;
    };

    static constexpr int kServeEvent = kEventCaptureServe;

    bool OnOwnerThread() const { return std::this_thread::get_id() == FOwner; }
    // Runs body on the owner thread and returns its result; the default value when the window went away.
    template <typename Body>
    auto Invoke(Body&& body) -> decltype(body());
    void RunOnOwner(std::function<void()> body);
    std::shared_ptr<TCaptureDriver> CurrentDriver() const;
    bool DeliverGrab(const std::shared_ptr<TCaptureDriver>& driver, TFrameWait wait,
                     const TCaptureError& error);
    void ReportError(const TCaptureError& error);

    const std::string FTitle;
    const std::thread::id FOwner;
    std::shared_ptr<TRequestQueue> FQueue;

    mutable std::mutex FStateLock; // guards the driver pointer and the geometry for other threads
    std::shared_ptr<TCaptureDriver> FDriver;
    std::string FStableId;
    uint32_t FDeviceIndex = 0;
    std::optional<TCaptureParms> FLastSetup;   // owner thread
    std::optional<TCaptureFormat> FLastFormat; // owner thread
    TWindowRect FRect;
    bool FVisible;

    intptr_t FUserData = 0;
    TFrameCallback FFrameCallback = nullptr;
    TErrorCallback FErrorCallback = nullptr;
    bool FGrabbing = false;
    bool FErrorReported = false;
};

template <typename Body>
auto TCaptureWindow::Invoke(Body&& body) -> decltype(body()) {
    using TResult = decltype(body());
    if (OnOwnerThread()) {
        return body();
    }
    TResult result{};
    RunOnOwner([&] { result = body(); });
    return result;
}

} // namespace sw
