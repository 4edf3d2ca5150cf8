#pragma once

#include "platform/capture/CaptureRecords.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

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

    // Any thread: waits until the next frame can be taken, at most a few frame periods.
    virtual TFrameWait WaitForFrame(TCaptureError& error) = 0;
    // Owner thread, after a Ready wait: takes the newest frame, calls deliver with its header and
    // gives the buffer back to the device.
    virtual bool TakeFrame(const std::function<void(TVideoHdr&)>& deliver, TCaptureError& error) = 0;
};

} // namespace sw
