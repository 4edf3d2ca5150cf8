#include "platform/capture/CaptureWindow.h"

#include "platform/capture/CaptureDriverTable.h"
#include "platform/shell/ThreadHandOff.h"

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstring>

namespace sw {

namespace {

// Clears a flag when the scope ends, also when a callback throws.
class TFlagScope {
public:
    explicit TFlagScope(bool& flag) : FFlag(flag) { FFlag = true; }
    ~TFlagScope() { FFlag = false; }
    TFlagScope(const TFlagScope&) = delete;
    TFlagScope& operator=(const TFlagScope&) = delete;

private:
    bool& FFlag;
};

} // namespace

TCaptureWindow::TCaptureWindow(std::string title, bool visible, TWindowRect rect)
    : FTitle(std::move(title)), FOwner(std::this_thread::get_id()), FQueue(std::make_shared<TRequestQueue>()),
      FRect(rect), FVisible(visible) {}

TCaptureWindow::~TCaptureWindow() {
    {
        std::lock_guard lock(FQueue->Lock);
        FQueue->Closed = true;
        FQueue->Pending.clear();
    }
    // Threads still waiting for an answer get the failure result.
    FQueue->Served.notify_all();
    std::shared_ptr<TCaptureDriver> driver;
    {
        std::lock_guard lock(FStateLock);
        driver = std::move(FDriver);
    }
}

TWindowRect TCaptureWindow::Rect() const {
    std::lock_guard lock(FStateLock);
    return FRect;
}

bool TCaptureWindow::Visible() const {
    std::lock_guard lock(FStateLock);
    return FVisible;
}

void TCaptureWindow::SetWindowPos(TWindowRect rect) {
    std::lock_guard lock(FStateLock);
    FRect = rect;
}

void TCaptureWindow::Show(bool visible) {
    std::lock_guard lock(FStateLock);
    FVisible = visible;
}

std::shared_ptr<TCaptureDriver> TCaptureWindow::CurrentDriver() const {
    std::lock_guard lock(FStateLock);
    return FDriver;
}

bool TCaptureWindow::Connected() const {
    return CurrentDriver() != nullptr;
}

bool TCaptureWindow::DriverConnect(uint32_t index) {
    return Invoke([&] {
        DriverDisconnect();
        std::unique_ptr<TCaptureDriver> driver = ConnectCaptureDriver(index);
        if (!driver) {
            return false;
        }
        FLastSetup.reset();
        std::lock_guard lock(FStateLock);
        FDriver = std::move(driver);
        FStableId = CaptureDriverStableId(index);
        FDeviceIndex = index;
        FErrorReported = false;
        return true;
    });
}

bool TCaptureWindow::DriverReconnect() {
    std::string stableId;
    uint32_t deviceIndex = 0;
    {
        std::lock_guard lock(FStateLock);
        stableId = FStableId;
        deviceIndex = FDeviceIndex;
    }
    DriverDisconnect();
    std::shared_ptr<TCaptureDriver> driver = ConnectCaptureDriverById(stableId, deviceIndex);
    if (!driver) {
        return false;
    }
    return Invoke([&] {
        // The returning device gets the format the settings asked for, then the sequence settings.
        if (FLastFormat) {
            TCaptureFormat applied;
            driver->ApplyFormat(*FLastFormat, applied);
        }
        if (FLastSetup) {
            driver->SetSetup(*FLastSetup);
        }
        std::lock_guard lock(FStateLock);
        // A connect of the owner's own while the device was opened here wins.
        if (FDriver) {
            return false;
        }
        FDriver = driver;
        FErrorReported = false;
        return true;
    });
}

bool TCaptureWindow::DriverDisconnect() {
    return Invoke([&] {
        std::shared_ptr<TCaptureDriver> driver;
        {
            std::lock_guard lock(FStateLock);
            driver = std::move(FDriver);
            FDriver.reset();
        }
        // A grab waiting on another thread still holds the driver; it goes when that grab returns.
        return driver != nullptr;
    });
}

bool TCaptureWindow::DriverGetCaps(TCapDriverCaps& caps) {
    return Invoke([&] { return FDriver && FDriver->GetCaps(caps); });
}

bool TCaptureWindow::GetStatus(TCapStatus& status) {
    return Invoke([&] { return FDriver && FDriver->GetStatus(status); });
}

bool TCaptureWindow::GetSequenceSetup(TCaptureParms& parms) {
    return Invoke([&] { return FDriver && FDriver->GetSetup(parms); });
}

bool TCaptureWindow::SetSequenceSetup(const TCaptureParms& parms) {
    return Invoke([&] {
        if (!FDriver || !FDriver->SetSetup(parms)) {
            return false;
        }
        FLastSetup = parms;
        return true;
    });
}

uint32_t TCaptureWindow::GetVideoFormat(uint8_t* buffer, uint32_t size) {
    return Invoke([&]() -> uint32_t {
        TBitmapInfoHeader format{};
        if (!FDriver || !buffer || size == 0 || !FDriver->GetFormat(format)) {
            return 0;
        }
        TVideoFormatBuffer bytes = VideoFormatOf(format);
        uint32_t count = std::min<uint32_t>(size, kVideoFormatSize);
        std::memcpy(buffer, bytes.data(), count);
        return count;
    });
}

bool TCaptureWindow::DlgVideoFormat() {
    return Invoke([&] { return FDriver && FDriver->DialogVideoFormat(); });
}

std::vector<std::string> TCaptureWindow::OfferedFormats() {
    return Invoke([&] { return FDriver ? FDriver->OfferedFormats() : std::vector<std::string>{}; });
}

bool TCaptureWindow::ApplyFormat(const TCaptureFormat& request, TCaptureFormat& applied) {
    return Invoke([&] {
        if (!FDriver) {
            return false;
        }
        FLastFormat = request;
        return FDriver->ApplyFormat(request, applied);
    });
}

TCaptureFormat TCaptureWindow::CurrentFormat() {
    return Invoke([&] { return FDriver ? FDriver->CurrentFormat() : TCaptureFormat{}; });
}

bool TCaptureWindow::DlgVideoSource() {
    return Invoke([&] { return FDriver && FDriver->DialogVideoSource(); });
}

bool TCaptureWindow::DlgVideoDisplay() {
    return Invoke([&] { return FDriver && FDriver->DialogVideoDisplay(); });
}

bool TCaptureWindow::DlgVideoCompression() {
    return Invoke([&] { return FDriver && FDriver->DialogVideoCompression(); });
}

bool TCaptureWindow::SetUserData(intptr_t value) {
    return Invoke([&] {
        FUserData = value;
        return true;
    });
}

intptr_t TCaptureWindow::GetUserData() {
    return Invoke([&] { return FUserData; });
}

bool TCaptureWindow::SetCallbackOnFrame(TFrameCallback callback) {
    return Invoke([&] {
        FFrameCallback = callback;
        return true;
    });
}

bool TCaptureWindow::SetCallbackOnError(TErrorCallback callback) {
    return Invoke([&] {
        FErrorCallback = callback;
        // A new listener hears about a device that is still failing.
        FErrorReported = false;
        return true;
    });
}

bool TCaptureWindow::GrabFrameNoStop() {
    std::shared_ptr<TCaptureDriver> driver = CurrentDriver();
    if (!driver) {
        return false;
    }
    TCaptureError error;
    TFrameWait wait = driver->WaitForFrame(error);
    return Invoke([&] { return DeliverGrab(driver, wait, error); });
}

bool TCaptureWindow::DeliverGrab(const std::shared_ptr<TCaptureDriver>& driver, TFrameWait wait,
                                 const TCaptureError& error) {
    // The device may have been disconnected while the frame was awaited; a frame callback that grabs
    // again gets a failure rather than a nested frame.
    if (driver != FDriver || FGrabbing) {
        return false;
    }
    if (wait != TFrameWait::Ready) {
        ReportError(error);
        return false;
    }
    TCaptureError takeError;
    bool taken;
    {
        TFlagScope grabbing(FGrabbing);
        taken = driver->TakeFrame(
            [this](TVideoHdr& header) {
                if (FFrameCallback) {
                    FFrameCallback(this, &header);
                }
            },
            takeError);
    }
    if (!taken) {
        ReportError(takeError);
        return false;
    }
    FErrorReported = false;
    return true;
}

void TCaptureWindow::ReportError(const TCaptureError& error) {
    // One report per run of failures: a camera that stays unplugged must not flood the log.
    if (FErrorReported) {
        return;
    }
    FErrorReported = true;
    if (FErrorCallback) {
        FErrorCallback(this, error.Number, error.Text.c_str());
    }
}

bool TCaptureWindow::Call(const std::function<void()>& body) {
    return Invoke([&] {
        body();
        return true;
    });
}

void TCaptureWindow::RunOnOwner(std::function<void()> body) {
    std::shared_ptr<TRequestQueue> queue = FQueue;
    auto request = std::make_shared<TRequest>();
    request->Run = std::move(body);
    std::unique_lock lock(queue->Lock);
    if (queue->Closed) {
        return;
    }
    queue->Pending.push_back(request);
    queue->Arrived.notify_all();
    // Posted under the lock: the destructor closes the queue under it first, so the window still lives.
    auto event = std::make_unique<QEvent>(static_cast<QEvent::Type>(kServeEvent));
    HandOffToThread(event.get());
    QCoreApplication::postEvent(this, event.release());
    queue->Served.wait(lock, [&] { return request->Done || queue->Closed; });
}

void TCaptureWindow::ServeRequests() {
    for (;;) {
        std::shared_ptr<TRequest> request;
        {
            std::lock_guard lock(FQueue->Lock);
            if (FQueue->Pending.empty()) {
                return;
            }
            request = std::move(FQueue->Pending.front());
            FQueue->Pending.pop_front();
        }
        struct TDone {
            TRequestQueue& Queue;
            TRequest& Request;
            ~TDone() {
                {
                    std::lock_guard lock(Queue.Lock);
                    Request.Done = true;
                }
                Queue.Served.notify_all();
            }
        } done{*FQueue, *request};
        request->Run();
    }
}

bool TCaptureWindow::WaitServing(const std::function<bool()>& done, int timeoutMs) {
    using TClock = std::chrono::steady_clock;
    const auto deadline =
        timeoutMs >= 0 ? TClock::now() + std::chrono::milliseconds(timeoutMs) : TClock::time_point::max();
    for (;;) {
        ServeRequests();
        if (done()) {
            return true;
        }
        auto now = TClock::now();
        if (now >= deadline) {
            return false;
        }
        auto until = std::min(deadline, now + std::chrono::seconds(1));
        std::unique_lock lock(FQueue->Lock);
        FQueue->Arrived.wait_until(lock, until, [&] { return !FQueue->Pending.empty() || FQueue->Woken; });
        FQueue->Woken = false;
    }
}

void TCaptureWindow::Wake() {
    {
        std::lock_guard lock(FQueue->Lock);
        FQueue->Woken = true;
    }
    FQueue->Arrived.notify_all();
}

size_t TCaptureWindow::PendingRequests() const {
    std::lock_guard lock(FQueue->Lock);
    return FQueue->Pending.size();
}

bool TCaptureWindow::event(QEvent* event) {
    TakeOverFromThread(event);
    if (event->type() == static_cast<QEvent::Type>(kServeEvent)) {
        ServeRequests();
        return true;
    }
    return QObject::event(event);
}

} // namespace sw
