#include "platform/capture/TestPatternDriver.h"

#include "platform/shell/OperatorPrompts.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>

namespace sw {

namespace {

struct TColour {
    uint8_t Y, U, V, B, G, R;
};

// Full-amplitude colour bars: white, yellow, cyan, green, magenta, red, blue, black.
constexpr TColour kBars[8] = {
    {235, 128, 128, 255, 255, 255}, {210, 16, 146, 0, 255, 255},  {170, 166, 16, 255, 255, 0},
    {145, 54, 34, 0, 255, 0},       {106, 202, 222, 255, 0, 255}, {81, 90, 240, 0, 0, 255},
    {41, 240, 110, 255, 0, 0},      {16, 128, 128, 0, 0, 0},
};

// 5 x 7 digits, one byte per row, bit 4 leftmost.
constexpr uint8_t kDigits[10][7] = {
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},
};

TColour ColumnColour(int pattern, uint32_t number, int32_t x, int32_t width) {
    uint32_t shift =
        pattern == TTestPatternDriver::MovingBars ? (number * 4u) % static_cast<uint32_t>(width) : 0;
    int32_t xs = static_cast<int32_t>((static_cast<uint32_t>(x) + shift) % static_cast<uint32_t>(width));
    if (pattern == TTestPatternDriver::GreyRamp) {
        int32_t span = std::max(width - 1, 1);
        auto grey = static_cast<uint8_t>(xs * 255 / span);
        return {static_cast<uint8_t>(16 + xs * 219 / span), 128, 128, grey, grey, grey};
    }
    return kBars[xs * 8 / width];
}

// Writes one picture pixel (top-down coordinates) of the counter box in any of the formats.
class TPainter {
public:
    TPainter(const TBitmapInfoHeader& format, uint8_t* data)
        : FCompression(format.biCompression), FWidth(format.biWidth), FHeight(format.biHeight), FData(data) {}

    void Plot(int32_t x, int32_t y, bool on) {
        if (x < 0 || y < 0 || x >= FWidth || y >= FHeight) {
            return;
        }
        size_t w = static_cast<size_t>(FWidth);
        size_t h = static_cast<size_t>(FHeight);
        size_t px = static_cast<size_t>(x);
        size_t py = static_cast<size_t>(y);
        uint8_t luma = on ? 235 : 16;
        switch (FCompression) {
        case kFourCcUyvy: {
            size_t p = py * w + px;
            FData[2 * p + 1] = luma;
            size_t pair = p & ~size_t{1};
            FData[2 * pair] = 128;
            if (2 * pair + 2 < 2 * w * h) {
                FData[2 * pair + 2] = 128;
            }
            break;
        }
        case kFourCcYv12: {
            size_t cw = (w + 1) / 2;
            size_t ch = (h + 1) / 2;
            FData[py * w + px] = luma;
            FData[w * h + (py / 2) * cw + px / 2] = 128;
            FData[w * h + cw * ch + (py / 2) * cw + px / 2] = 128;
            break;
        }
        case kFourCcYvu9: {
            // Stored bottom row first, so that the presented bitmap, which keeps the luma row order,
            // shows the picture upright.
            size_t row = h - 1 - py;
            size_t cw = w / 4;
            size_t ch = h / 4;
            FData[row * w + px] = luma;
            if (px / 4 < cw && row / 4 < ch) {
                FData[w * h + (row / 4) * cw + px / 4] = 128;
                FData[w * h + cw * ch + (row / 4) * cw + px / 4] = 128;
            }
            break;
        }
        default: {
            size_t stride = (w * 3 + 3) & ~size_t{3};
            uint8_t* pixel = FData + (h - 1 - py) * stride + 3 * px;
            std::memset(pixel, on ? 255 : 0, 3);
            break;
        }
        }
    }

private:
    uint32_t FCompression;
    int32_t FWidth;
    int32_t FHeight;
    uint8_t* FData;
};

void DrawCounter(const TBitmapInfoHeader& format, uint32_t number, uint8_t* data) {
    std::string digits = std::to_string(number);
    int32_t scale = std::max(1, format.biHeight / 120);
    int32_t left = 4 * scale;
    int32_t top = 4 * scale;
    int32_t boxWidth = (static_cast<int32_t>(digits.size()) * 6 + 1) * scale;
    int32_t boxHeight = 9 * scale;
    TPainter painter(format, data);
    for (int32_t y = 0; y < boxHeight; ++y) {
        for (int32_t x = 0; x < boxWidth; ++x) {
            bool on = false;
            int32_t gx = x / scale - 1;
            int32_t gy = y / scale - 1;
            if (gx >= 0 && gy >= 0 && gy < 7) {
                size_t digit = static_cast<size_t>(gx / 6);
                int32_t column = gx % 6;
                if (digit < digits.size() && column < 5) {
                    on = (kDigits[digits[digit] - '0'][gy] >> (4 - column)) & 1;
                }
            }
            painter.Plot(left + x, top + y, on);
        }
    }
}

void RenderPlanar(uint8_t* data, size_t w, size_t h, size_t cw, size_t ch, size_t step, int pattern,
                  uint32_t number) {
    for (size_t x = 0; x < w; ++x) {
        data[x] = ColumnColour(pattern, number, static_cast<int32_t>(x), static_cast<int32_t>(w)).Y;
    }
    for (size_t row = 1; row < h; ++row) {
        std::memcpy(data + row * w, data, w);
    }
    uint8_t* v = data + w * h;
    uint8_t* u = v + cw * ch;
    for (size_t x = 0; x < cw; ++x) {
        TColour c = ColumnColour(pattern, number, static_cast<int32_t>(x * step), static_cast<int32_t>(w));
        v[x] = c.V;
        u[x] = c.U;
    }
    for (size_t row = 1; row < ch; ++row) {
        std::memcpy(v + row * cw, v, cw);
        std::memcpy(u + row * cw, u, cw);
    }
}

std::string CompressionName(uint32_t compression) {
    switch (compression) {
    case kFourCcUyvy:
        return "UYVY";
    case kFourCcYv12:
        return "YV12";
    case kFourCcYvu9:
        return "YVU9";
    default:
        return "RGB 24";
    }
}

} // namespace

TTestPatternFaults& TestPatternFaults() {
    static TTestPatternFaults faults;
    return faults;
}

const std::vector<TTestPatternDriver::TSize>& TTestPatternDriver::Sizes() {
    static const std::vector<TSize> sizes = {{160, 120}, {176, 144},  {320, 240},  {352, 288},  {640, 480},
                                             {800, 600}, {1024, 768}, {1280, 720}, {1280, 960}, {1920, 1080}};
    return sizes;
}

const std::vector<uint32_t>& TTestPatternDriver::Compressions() {
    static const std::vector<uint32_t> compressions = {kFourCcUyvy, kFourCcYv12, kFourCcYvu9, kBiRgb};
    return compressions;
}

const std::vector<std::string>& TTestPatternDriver::PatternNames() {
    static const std::vector<std::string> names = {"Moving colour bars", "Colour bars", "Grey ramp"};
    return names;
}

TBitmapInfoHeader TTestPatternDriver::FormatOf(int32_t width, int32_t height, uint32_t compression) {
    TBitmapInfoHeader format{};
    format.biSize = sizeof format;
    format.biWidth = width;
    format.biHeight = height;
    format.biPlanes = 1;
    switch (compression) {
    case kFourCcUyvy:
        format.biBitCount = 16;
        break;
    case kFourCcYv12:
        format.biBitCount = 12;
        break;
    case kFourCcYvu9:
        format.biBitCount = 9;
        break;
    default:
        format.biBitCount = 24;
        break;
    }
    format.biCompression = compression;
    format.biSizeImage = FrameBytesOf(format);
    return format;
}

std::unique_ptr<TTestPatternDriver> TTestPatternDriver::Connect(uint32_t deviceIndex) {
    if (TestPatternFaults().FailConnect || TestPatternFaults().Unplugged) {
        return nullptr;
    }
    return std::make_unique<TTestPatternDriver>(deviceIndex);
}

TTestPatternDriver::TTestPatternDriver(uint32_t deviceIndex)
    : FDeviceIndex(deviceIndex), FUnplugs(TestPatternFaults().Unplugs),
      FFormat(FormatOf(640, 480, kFourCcUyvy)), FParms(DefaultCaptureParms(kDefaultMicroSecPerFrame)),
      FConnected(TClock::now()), FNextDue(FConnected) {}

bool TTestPatternDriver::SetFormat(int32_t width, int32_t height, uint32_t compression) {
    const auto& compressions = Compressions();
    const bool sizeOk = width % 2 == 0 && height % 2 == 0 && width >= kSmallest.Width &&
                        width <= kLargest.Width && height >= kSmallest.Height && height <= kLargest.Height;
    if (!sizeOk || std::find(compressions.begin(), compressions.end(), compression) == compressions.end()) {
        return false;
    }
    std::lock_guard lock(FLock);
    FFormat = FormatOf(width, height, compression);
    return true;
}

void TTestPatternDriver::SetPattern(int pattern) {
    std::lock_guard lock(FLock);
    FPattern = std::clamp(pattern, 0, static_cast<int>(PatternNames().size()) - 1);
}

int TTestPatternDriver::Pattern() const {
    std::lock_guard lock(FLock);
    return FPattern;
}

uint32_t TTestPatternDriver::FramesDelivered() const {
    std::lock_guard lock(FLock);
    return FFrameNumber;
}

void TTestPatternDriver::Render(const TBitmapInfoHeader& format, int pattern, uint32_t number, uint8_t* dst) {
    size_t w = static_cast<size_t>(std::max(format.biWidth, 1));
    size_t h = static_cast<size_t>(std::max(format.biHeight, 1));
    switch (format.biCompression) {
    case kFourCcUyvy: {
        for (size_t x = 0; x < w; ++x) {
            TColour c = ColumnColour(pattern, number, static_cast<int32_t>(x), static_cast<int32_t>(w));
            dst[2 * x + 1] = c.Y;
            if (x % 2 == 0) {
                dst[2 * x] = c.U;
                if (x + 1 < w) {
                    dst[2 * x + 2] = c.V;
                }
            }
        }
        for (size_t row = 1; row < h; ++row) {
            std::memcpy(dst + row * 2 * w, dst, 2 * w);
        }
        break;
    }
    case kFourCcYv12:
        RenderPlanar(dst, w, h, (w + 1) / 2, (h + 1) / 2, 2, pattern, number);
        break;
    case kFourCcYvu9:
        RenderPlanar(dst, w, h, w / 4, h / 4, 4, pattern, number);
        break;
    default: {
        size_t stride = (w * 3 + 3) & ~size_t{3};
        std::memset(dst, 0, stride);
        for (size_t x = 0; x < w; ++x) {
            TColour c = ColumnColour(pattern, number, static_cast<int32_t>(x), static_cast<int32_t>(w));
            dst[3 * x] = c.B;
            dst[3 * x + 1] = c.G;
            dst[3 * x + 2] = c.R;
        }
        for (size_t row = 1; row < h; ++row) {
            std::memcpy(dst + row * stride, dst, stride);
        }
        break;
    }
    }
    DrawCounter(format, number, dst);
}

bool TTestPatternDriver::GetCaps(TCapDriverCaps& caps) {
    caps = TCapDriverCaps{};
    caps.wDeviceIndex = FDeviceIndex;
    caps.fHasDlgVideoSource = 1;
    caps.fHasDlgVideoFormat = 1;
    caps.fCaptureInitialized = 1;
    return true;
}

bool TTestPatternDriver::GetStatus(TCapStatus& status) {
    if (TestPatternFaults().FailStatus) {
        return false;
    }
    std::lock_guard lock(FLock);
    status = TCapStatus{};
    status.uiImageWidth = static_cast<uint32_t>(FFormat.biWidth);
    status.uiImageHeight = static_cast<uint32_t>(FFormat.biHeight);
    status.dwCurrentVideoFrame = FFrameNumber;
    status.dwCurrentTimeElapsedMS = static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - FConnected).count());
    status.wNumVideoAllocated = 1;
    return true;
}

bool TTestPatternDriver::GetSetup(TCaptureParms& parms) {
    std::lock_guard lock(FLock);
    parms = FParms;
    return true;
}

bool TTestPatternDriver::SetSetup(const TCaptureParms& parms) {
    std::lock_guard lock(FLock);
    FParms = parms;
    return true;
}

bool TTestPatternDriver::GetFormat(TBitmapInfoHeader& format) {
    std::lock_guard lock(FLock);
    format = FFormat;
    return true;
}

bool TTestPatternDriver::DialogVideoFormat() {
    std::vector<std::string> items;
    int current = 0;
    TBitmapInfoHeader format;
    GetFormat(format);
    for (const TSize& size : Sizes()) {
        for (uint32_t compression : Compressions()) {
            if (size.Width == format.biWidth && size.Height == format.biHeight &&
                compression == format.biCompression) {
                current = static_cast<int>(items.size());
            }
            items.push_back(std::to_string(size.Width) + " x " + std::to_string(size.Height) + ", " +
                            CompressionName(compression));
        }
    }
    std::optional<int> choice = Prompts().ChooseItem("Video Format", "Size and format:", items, current);
    if (!choice || *choice < 0 || static_cast<size_t>(*choice) >= items.size()) {
        return false;
    }
    size_t perSize = Compressions().size();
    const TSize& size = Sizes()[static_cast<size_t>(*choice) / perSize];
    return SetFormat(size.Width, size.Height, Compressions()[static_cast<size_t>(*choice) % perSize]);
}

std::vector<std::string> TTestPatternDriver::OfferedFormats() {
    return {"any even size from " + std::to_string(kSmallest.Width) + " x " +
            std::to_string(kSmallest.Height) + " to " + std::to_string(kLargest.Width) + " x " +
            std::to_string(kLargest.Height) + ", UYVY, YV12, YVU9 or BGR3, 1 to " +
            std::to_string(kMaxFrameRate) + " fps"};
}

bool TTestPatternDriver::ApplyFormat(const TCaptureFormat& request, TCaptureFormat& applied) {
    const TCaptureFormat current = CurrentFormat();
    TCaptureFormat chosen = current;
    if (request.Width > 0 && request.Height > 0) {
        // The nearest size offered: within the bounds, rounded down to even.
        chosen.Width = std::clamp<uint32_t>(request.Width, kSmallest.Width, kLargest.Width) & ~1u;
        chosen.Height = std::clamp<uint32_t>(request.Height, kSmallest.Height, kLargest.Height) & ~1u;
    }
    if (request.FrameRate > 0) {
        chosen.FrameRate = std::min(request.FrameRate, kMaxFrameRate);
    }
    uint32_t compression = current.PixelFormat == FourCc('B', 'G', 'R', '3') ? kBiRgb : current.PixelFormat;
    if (request.PixelFormat != 0) {
        const uint32_t asked =
            request.PixelFormat == FourCc('B', 'G', 'R', '3') ? kBiRgb : request.PixelFormat;
        const auto& compressions = Compressions();
        if (std::find(compressions.begin(), compressions.end(), asked) != compressions.end()) {
            compression = asked;
        }
    }
    SetFormat(static_cast<int32_t>(chosen.Width), static_cast<int32_t>(chosen.Height), compression);
    {
        std::lock_guard lock(FLock);
        FParms.dwRequestMicroSecPerFrame = 1000000 / std::max<uint32_t>(chosen.FrameRate, 1);
    }
    applied = CurrentFormat();
    return (request.Width == 0 || request.Height == 0 ||
            (applied.Width == request.Width && applied.Height == request.Height)) &&
           (request.FrameRate == 0 || applied.FrameRate == request.FrameRate) &&
           (request.PixelFormat == 0 || applied.PixelFormat == request.PixelFormat);
}

TCaptureFormat TTestPatternDriver::CurrentFormat() {
    std::lock_guard lock(FLock);
    const uint32_t period = std::max<uint32_t>(FParms.dwRequestMicroSecPerFrame, 1);
    return {static_cast<uint32_t>(FFormat.biWidth), static_cast<uint32_t>(FFormat.biHeight),
            (1000000 + period / 2) / period,
            FFormat.biCompression == kBiRgb ? FourCc('B', 'G', 'R', '3') : FFormat.biCompression};
}

bool TTestPatternDriver::DialogVideoSource() {
    std::optional<int> choice = Prompts().ChooseItem("Video Source", "Pattern:", PatternNames(), Pattern());
    if (!choice || *choice < 0 || static_cast<size_t>(*choice) >= PatternNames().size()) {
        return false;
    }
    SetPattern(*choice);
    return true;
}

bool TTestPatternDriver::DialogVideoDisplay() {
    return false;
}

bool TTestPatternDriver::DialogVideoCompression() {
    Prompts().ShowMessage("The test pattern device has no compression settings.", TMessageKind::Information);
    return true;
}

TFrameWait TTestPatternDriver::WaitForFrame(TCaptureError& error) {
    TClock::time_point due;
    {
        std::lock_guard lock(FLock);
        auto period =
            std::chrono::microseconds(std::clamp<uint32_t>(FParms.dwRequestMicroSecPerFrame, 1000, 10000000));
        due = FNextDue;
        // A slow consumer gets the next frame at once rather than a burst of overdue ones.
        FNextDue = std::max(due + period, TClock::now());
    }
    std::this_thread::sleep_until(due);
    if (Gone()) {
        error = {kCapErrDevice, "The test pattern device was unplugged"};
        return TFrameWait::Failed;
    }
    if (TestPatternFaults().Stalled) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kStallTimeoutMs));
        error = {kCapErrFrameTimeout,
                 "No frame from the test pattern device within " + std::to_string(kStallTimeoutMs) + " ms"};
        return TFrameWait::Timeout;
    }
    if (TestPatternFaults().FailGrab) {
        error = {kCapErrInjected, "Test pattern grab failure"};
        return TFrameWait::Failed;
    }
    return TFrameWait::Ready;
}

bool TTestPatternDriver::Gone() const {
    return TestPatternFaults().Unplugged || TestPatternFaults().Unplugs != FUnplugs;
}

bool TTestPatternDriver::TakeFrame(const std::function<void(TVideoHdr&)>& deliver, TCaptureError& error) {
    if (Gone()) {
        error = {kCapErrDevice, "The test pattern device was unplugged"};
        return false;
    }
    TVideoHdr header;
    {
        std::lock_guard lock(FLock);
        FBuffer.resize(FrameBytesOf(FFormat));
        Render(FFormat, FPattern, FFrameNumber, FBuffer.data());
        ++FFrameNumber;
        header.lpData = FBuffer.data();
        header.dwBufferLength = static_cast<uint32_t>(FBuffer.size());
        header.dwBytesUsed = header.dwBufferLength;
        header.dwTimeCaptured = static_cast<uint32_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - FConnected).count());
        header.dwFlags = VHDR_DONE | VHDR_KEYFRAME;
    }
    // The callback may ask this driver for its status or settings, so the lock is not held.
    deliver(header);
    return true;
}

} // namespace sw
