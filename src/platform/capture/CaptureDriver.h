#pragma once

#include "platform/capture/CaptureRecords.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace sw {

// Error numbers handed to the capture window's error callback.
enum TCaptureErrorNumber : int {
    kCapErrNone = 0,
    kCapErrFrameTimeout = 1, // no frame within a few frame periods
    kCapErrDevice = 2,       // the device reported an error (unplugged, I/O error)
    kCapErrShortFrame = 3,   // a frame smaller than its format
    kCapErrInjected = 4,     // a failure injected by a test
};

struct TCaptureError {
    int Number = kCapErrNone;
    std::string Text;
};

enum class TFrameWait { Ready, Timeout, Failed };

// A capture format asked for or in use: frame size, frames per second and the device's four-character
// pixel format code. 0 in a request leaves that part as the device has it.
struct TCaptureFormat {
    uint32_t Width = 0;
    uint32_t Height = 0;
    uint32_t FrameRate = 0;
    uint32_t PixelFormat = 0;
};

// "640 x 480" and the like; a four-character code as its four characters.
std::string FourCcText(uint32_t fourcc);
// The code of a four-character text such as "YUYV"; 0 for any other text.
uint32_t FourCcOf(const std::string& text);
std::string DescribeCaptureFormat(const TCaptureFormat& format);

// One connected capture device. The capture window owns it and calls it on its own thread, except
// WaitForFrame, which the thread that asked for a grab runs so that the owner thread is not blocked
// while the device exposes.
class TCaptureDriver {
public:
    virtual ~TCaptureDriver() = default;

    virtual bool GetCaps(TCapDriverCaps& caps) = 0;
    virtual bool GetStatus(TCapStatus& status) = 0;
    virtual bool GetSetup(TCaptureParms& parms) = 0;
    virtual bool SetSetup(const TCaptureParms& parms) = 0;
    virtual bool GetFormat(TBitmapInfoHeader& format) = 0;

    // The driver dialogs, asked through the operator prompts; false when the driver has no such dialog
    // or the operator cancelled it.
    virtual bool DialogVideoFormat() = 0;
    virtual bool DialogVideoSource() = 0;
    virtual bool DialogVideoDisplay() = 0;
    virtual bool DialogVideoCompression() = 0;

    // What the device offers, one line per pixel format and size with its frame rates, for the log and
    // the report. Owner thread, while no grab runs.
    virtual std::vector<std::string> OfferedFormats() = 0;
    // Switches to the offered format nearest to request; applied tells what the device uses now. False
    // when that is not what was asked for (or the switch failed and the old format was kept).
    virtual bool ApplyFormat(const TCaptureFormat& request, TCaptureFormat& applied) = 0;
    virtual TCaptureFormat CurrentFormat() = 0;

    // Any thread: waits until the next frame can be taken, at most a few frame periods.
    virtual TFrameWait WaitForFrame(TCaptureError& error) = 0;
    // Owner thread, after a Ready wait: takes the newest frame, calls deliver with its header and
    // gives the buffer back to the device.
    virtual bool TakeFrame(const std::function<void(TVideoHdr&)>& deliver, TCaptureError& error) = 0;
};

} // namespace sw
