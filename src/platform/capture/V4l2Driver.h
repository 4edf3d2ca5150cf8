#pragma once

#include "platform/capture/CaptureDriver.h"
#include "platform/capture/V4l2Device.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <linux/videodev2.h>
#include <memory>
#include <string>
#include <vector>

namespace sw {

// One size of one pixel format a V4L2 camera offers natively, with its frame rates (highest first;
// empty when the camera does not list them).
struct TV4l2Offer {
    uint32_t PixelFormat = 0;
    uint32_t Width = 0;
    uint32_t Height = 0;
    std::vector<uint32_t> FrameRates;
};

// The camera's own formats (not those libv4l2 makes by conversion), asked through device on fd.
std::vector<TV4l2Offer> V4l2Offers(TV4l2Device& device, int fd);
// One line per offer: "640 x 480 YUYV: 30, 15 fps".
std::vector<std::string> DescribeV4l2Offers(const std::vector<TV4l2Offer>& offers);
// Opens the device at path only to list its formats; empty when it cannot be opened.
std::vector<std::string> V4l2OfferedFormats(TV4l2Device& device, const std::string& path);

// A V4L2 camera with memory-mapped streaming. It asks for a format the frame conversion understands:
// UYVY, YV12 or YVU9 when the camera delivers one natively, otherwise 24-bit BGR converted by libv4l2.
// Frames are handed on as bottom-up device-independent bitmaps where the layout needs it.
class TV4l2Driver : public TCaptureDriver {
public:
    // Nothing when the device cannot be opened or set up; failure then tells why.
    static std::unique_ptr<TV4l2Driver> Connect(std::shared_ptr<TV4l2Device> device, const std::string& path,
                                                uint32_t deviceIndex, std::string* failure = nullptr);
    ~TV4l2Driver() override;
    TV4l2Driver(const TV4l2Driver&) = delete;
    TV4l2Driver& operator=(const TV4l2Driver&) = delete;

    static constexpr int kBufferCount = 4;
    // A camera may take a while to deliver its first frame after streaming starts.
    static constexpr int kFirstFrameTimeoutMs = 3000;

    uint32_t PixelFormat() const { return FPixelFormat; }
    int FrameTimeoutMs() const { return FTimeoutMs; }

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

    struct TFormatChoice {
        uint32_t PixelFormat;
        bool Emulated;
    };
    struct TBuffer {
        void* Start = nullptr;
        size_t Length = 0;
    };
    struct TControl {
        uint32_t Id;
        std::string Name;
        int Minimum, Maximum, Step;
    };

    TV4l2Driver(std::shared_ptr<TV4l2Device> device, uint32_t deviceIndex);

    bool Open(const std::string& path, std::string& failure);
    int Xioctl(unsigned long request, void* arg);
    std::vector<TFormatChoice> EnumerateFormats();
    bool SetDeviceFormat(uint32_t pixelFormat, uint32_t width, uint32_t height, std::string& failure);
    bool StartStreaming(std::string& failure);
    void StopStreaming();
    void ReadFramePeriod();
    bool RateSettable();
    std::vector<TControl> EnumerateControls();
    // Bytes one frame of the current format needs in the device's buffer.
    size_t DeviceFrameBytes() const;
    // Fills header with the frame in buffer, copied into FRepack where its layout differs from a DIB.
    void PresentFrame(const uint8_t* data, TVideoHdr& header);

    std::shared_ptr<TV4l2Device> FDevice;
    uint32_t FDeviceIndex;
    int FFd = -1;
    uint32_t FCapabilities = 0;
    v4l2_pix_format FPix{};
    uint32_t FPixelFormat = 0;
    // The camera's own format that the pipeline's format comes from; 0 when libv4l2 chose it.
    uint32_t FSourceFormat = 0;
    TBitmapInfoHeader FBitmap{};
    std::vector<TBuffer> FBuffers;
    bool FStreaming = false;
    bool FHasControls = false;
    TCaptureParms FParms{};
    std::atomic<uint32_t> FPeriodUs{33333};
    std::atomic<int> FTimeoutMs{200};
    std::atomic<bool> FFirstFrame{true};
    uint32_t FFrames = 0;
    uint32_t FDropped = 0;
    int64_t FLastSequence = -1;
    TClock::time_point FConnected;
    std::vector<uint8_t> FRepack;
};

} // namespace sw
