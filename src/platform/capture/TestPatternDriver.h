#pragma once

#include "platform/capture/CaptureDriver.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

namespace sw {

// Failures a test can inject into the test pattern device; process-wide, off by default.
struct TTestPatternFaults {
    std::atomic<bool> FailConnect{false};
    std::atomic<bool> FailStatus{false};
    std::atomic<bool> FailGrab{false};
    // Pulled out: connected devices fail for good, as an unplugged camera's open descriptor does, and
    // connecting fails until Replug.
    std::atomic<bool> Unplugged{false};
    std::atomic<uint32_t> Unplugs{0};
    // Connected but delivering nothing: every wait for a frame times out.
    std::atomic<bool> Stalled{false};

    void Unplug() {
        ++Unplugs;
        Unplugged = true;
    }
    void Replug() { Unplugged = false; }
    void Reset() {
        FailConnect = false;
        FailStatus = false;
        FailGrab = false;
        Unplugged = false;
        Stalled = false;
    }
};
TTestPatternFaults& TestPatternFaults();

// The built-in capture device: colour bars (moving by default) with the frame number drawn into the
// pixels, paced at the settings' frame period. A frame depends only on the format, the pattern and
// the frame number.
class TTestPatternDriver : public TCaptureDriver {
public:
    enum TPattern : int { MovingBars = 0, StillBars = 1, GreyRamp = 2 };

    struct TSize {
        int32_t Width;
        int32_t Height;
    };
    static const std::vector<TSize>& Sizes();
    // UYVY, YV12, YVU9 and 24-bit BI_RGB.
    static const std::vector<uint32_t>& Compressions();
    static const std::vector<std::string>& PatternNames();

    static constexpr uint32_t kDefaultMicroSecPerFrame = 33333;
    static constexpr int kStallTimeoutMs = 200;
    // Any even size within these bounds, at 1 to 60 frames per second.
    static constexpr TSize kSmallest{160, 120};
    static constexpr TSize kLargest{1920, 1080};
    static constexpr uint32_t kMaxFrameRate = 60;

    // Nothing when connecting is made to fail.
    static std::unique_ptr<TTestPatternDriver> Connect(uint32_t deviceIndex);
    explicit TTestPatternDriver(uint32_t deviceIndex);

    // False for a size or format the device does not offer: an odd size or one outside kSmallest to
    // kLargest, or a compression outside Compressions().
    bool SetFormat(int32_t width, int32_t height, uint32_t compression);
    void SetPattern(int pattern);
    int Pattern() const;
    uint32_t FramesDelivered() const;

    // Frame number of the given format and pattern; dst holds FrameBytesOf(format) bytes.
    static void Render(const TBitmapInfoHeader& format, int pattern, uint32_t number, uint8_t* dst);
    static TBitmapInfoHeader FormatOf(int32_t width, int32_t height, uint32_t compression);

    bool GetCaps(TCapDriverCaps& caps) override;
    bool GetStatus(TCapStatus& status) override;
    bool GetSetup(TCaptureParms& parms) override;
    bool SetSetup(const TCaptureParms& parms) override;
    bool GetFormat(TBitmapInfoHeader& format) override;
    bool DialogVideoFormat() override;
    std::vector<std::string> OfferedFormats() override;
    bool ApplyFormat(const TCaptureFormat& request, TCaptureFormat& applied) override;
    TCaptureFormat CurrentFormat() override;
    bool DialogVideoSource() override;
    bool DialogVideoDisplay() override;
    bool DialogVideoCompression() override;
    TFrameWait WaitForFrame(TCaptureError& error) override;
    bool TakeFrame(const std::function<void(TVideoHdr&)>& deliver, TCaptureError& error) override;

private:
    using TClock = std::chrono::steady_clock;

    // Unplugged since this device was connected.
    bool Gone() const;

    uint32_t FDeviceIndex;
    uint32_t FUnplugs;
    // Guards what WaitForFrame reads on the grabbing thread.
    mutable std::mutex FLock;
    TBitmapInfoHeader FFormat;
    TCaptureParms FParms;
    int FPattern = MovingBars;
    uint32_t FFrameNumber = 0;
    TClock::time_point FConnected;
    TClock::time_point FNextDue;
    std::vector<uint8_t> FBuffer;
};

} // namespace sw
