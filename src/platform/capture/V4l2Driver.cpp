#include "platform/capture/V4l2Driver.h"

#include "platform/shell/OperatorPrompts.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <thread>

namespace sw {

namespace {

// Natively delivered formats the frame conversion reads directly, in order of preference.
constexpr uint32_t kNativeFormats[] = {V4L2_PIX_FMT_UYVY, V4L2_PIX_FMT_YVU420, V4L2_PIX_FMT_YVU410};

std::string ErrnoText(const char* what, int error) {
    return std::string(what) + ": " + std::strerror(error);
}

std::string PixelFormatName(uint32_t pixelFormat) {
    switch (pixelFormat) {
    case V4L2_PIX_FMT_UYVY:
        return "UYVY";
    case V4L2_PIX_FMT_YVU420:
        return "YV12";
    case V4L2_PIX_FMT_YVU410:
        return "YVU9";
    default:
        return "RGB 24";
    }
}

bool Usable(uint32_t pixelFormat, bool emulated) {
    if (pixelFormat == V4L2_PIX_FMT_BGR24) {
        return true;
    }
    return !emulated && std::find(std::begin(kNativeFormats), std::end(kNativeFormats), pixelFormat) !=
                            std::end(kNativeFormats);
}

TBitmapInfoHeader BitmapOf(uint32_t pixelFormat, uint32_t width, uint32_t height) {
    TBitmapInfoHeader bitmap{};
    bitmap.biSize = sizeof bitmap;
    bitmap.biWidth = static_cast<int32_t>(width);
    bitmap.biHeight = static_cast<int32_t>(height);
    bitmap.biPlanes = 1;
    switch (pixelFormat) {
    case V4L2_PIX_FMT_UYVY:
        bitmap.biBitCount = 16;
        bitmap.biCompression = kFourCcUyvy;
        break;
    case V4L2_PIX_FMT_YVU420:
        bitmap.biBitCount = 12;
        bitmap.biCompression = kFourCcYv12;
        break;
    case V4L2_PIX_FMT_YVU410:
        bitmap.biBitCount = 9;
        bitmap.biCompression = kFourCcYvu9;
        break;
    default:
        bitmap.biBitCount = 24;
        bitmap.biCompression = kBiRgb;
        break;
    }
    bitmap.biSizeImage = FrameBytesOf(bitmap);
    return bitmap;
}

// Sizes offered for a camera that reports a range instead of a list.
constexpr std::pair<uint32_t, uint32_t> kRangeSizes[] = {{160, 120}, {320, 240},  {352, 288},  {640, 480},
                                                         {800, 600}, {1024, 768}, {1280, 720}, {1920, 1080}};

int IoctlRetry(TV4l2Device& device, int fd, unsigned long request, void* arg) {
    int result;
    do {
        result = device.Ioctl(fd, request, arg);
    } while (result < 0 && errno == EINTR);
    return result;
}

bool NativelyUsable(uint32_t pixelFormat) {
    return std::find(std::begin(kNativeFormats), std::end(kNativeFormats), pixelFormat) !=
           std::end(kNativeFormats);
}

std::vector<uint32_t> FrameRatesOf(TV4l2Device& device, int fd, uint32_t pixelFormat, uint32_t width,
                                   uint32_t height) {
    std::vector<uint32_t> rates;
    auto add = [&](const v4l2_fract& interval) {
        if (interval.numerator > 0 && interval.denominator > 0) {
            const uint32_t rate = (interval.denominator + interval.numerator / 2) / interval.numerator;
            if (rate > 0 && std::find(rates.begin(), rates.end(), rate) == rates.end()) {
                rates.push_back(rate);
            }
        }
    };
    for (uint32_t index = 0; index < 64; ++index) {
        v4l2_frmivalenum interval{};
        interval.index = index;
        interval.pixel_format = pixelFormat;
        interval.width = width;
        interval.height = height;
        if (IoctlRetry(device, fd, VIDIOC_ENUM_FRAMEINTERVALS, &interval) < 0) {
            break;
        }
        if (interval.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
            add(interval.discrete);
            continue;
        }
        // A range: its fastest and slowest rate.
        add(interval.stepwise.min);
        add(interval.stepwise.max);
        break;
    }
    std::sort(rates.rbegin(), rates.rend());
    return rates;
}

} // namespace

std::vector<TV4l2Offer> V4l2Offers(TV4l2Device& device, int fd) {
    std::vector<TV4l2Offer> offers;
    v4l2_format current{};
    current.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    const bool haveCurrent = IoctlRetry(device, fd, VIDIOC_G_FMT, &current) == 0;
    for (uint32_t formatIndex = 0; formatIndex < 64; ++formatIndex) {
        v4l2_fmtdesc description{};
        description.index = formatIndex;
        description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (IoctlRetry(device, fd, VIDIOC_ENUM_FMT, &description) < 0) {
            break;
        }
        if (description.flags & V4L2_FMT_FLAG_EMULATED) {
            continue;
        }
        const uint32_t pixelFormat = description.pixelformat;
        auto add = [&](uint32_t width, uint32_t height) {
            offers.push_back(
                {pixelFormat, width, height, FrameRatesOf(device, fd, pixelFormat, width, height)});
        };
        bool listed = false;
        for (uint32_t index = 0; index < 64; ++index) {
            v4l2_frmsizeenum size{};
            size.index = index;
            size.pixel_format = pixelFormat;
            if (IoctlRetry(device, fd, VIDIOC_ENUM_FRAMESIZES, &size) < 0) {
                break;
            }
            listed = true;
            if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                add(size.discrete.width, size.discrete.height);
                continue;
            }
            const v4l2_frmsize_stepwise& range = size.stepwise;
            for (auto [width, height] : kRangeSizes) {
                if (width >= range.min_width && width <= range.max_width && height >= range.min_height &&
                    height <= range.max_height) {
                    add(width, height);
                }
            }
            break;
        }
        if (!listed && haveCurrent) {
            add(current.fmt.pix.width, current.fmt.pix.height);
        }
    }
    return offers;
}

std::vector<std::string> DescribeV4l2Offers(const std::vector<TV4l2Offer>& offers) {
    std::vector<std::string> lines;
    for (const TV4l2Offer& offer : offers) {
        std::string line = DescribeCaptureFormat({offer.Width, offer.Height, 0, offer.PixelFormat});
        for (size_t i = 0; i < offer.FrameRates.size(); ++i) {
            line += (i == 0 ? ": " : ", ") + std::to_string(offer.FrameRates[i]);
        }
        if (!offer.FrameRates.empty()) {
            line += " fps";
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

std::vector<std::string> V4l2OfferedFormats(TV4l2Device& device, const std::string& path) {
    const int fd = device.Open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    std::vector<std::string> lines = DescribeV4l2Offers(V4l2Offers(device, fd));
    device.Close(fd);
    return lines;
}

std::unique_ptr<TV4l2Driver> TV4l2Driver::Connect(std::shared_ptr<TV4l2Device> device,
                                                  const std::string& path, uint32_t deviceIndex,
                                                  std::string* failure) {
    std::unique_ptr<TV4l2Driver> driver(new TV4l2Driver(std::move(device), deviceIndex));
    std::string why;
    if (!driver->Open(path, why)) {
        if (failure) {
            *failure = why;
        }
        return nullptr;
    }
    return driver;
}

TV4l2Driver::TV4l2Driver(std::shared_ptr<TV4l2Device> device, uint32_t deviceIndex)
    : FDevice(std::move(device)), FDeviceIndex(deviceIndex), FConnected(TClock::now()) {}

TV4l2Driver::~TV4l2Driver() {
    StopStreaming();
    if (FFd >= 0) {
        FDevice->Close(FFd);
    }
}

int TV4l2Driver::Xioctl(unsigned long request, void* arg) {
    int result;
    do {
        result = FDevice->Ioctl(FFd, request, arg);
    } while (result < 0 && errno == EINTR);
    return result;
}

bool TV4l2Driver::Open(const std::string& path, std::string& failure) {
    FFd = FDevice->Open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (FFd < 0) {
        failure = ErrnoText("open", errno);
        return false;
    }
    v4l2_capability capability{};
    if (Xioctl(VIDIOC_QUERYCAP, &capability) < 0) {
        failure = ErrnoText("VIDIOC_QUERYCAP", errno);
        return false;
    }
    uint32_t caps =
        (capability.capabilities & V4L2_CAP_DEVICE_CAPS) ? capability.device_caps : capability.capabilities;
    if (!(caps & V4L2_CAP_VIDEO_CAPTURE) || !(caps & V4L2_CAP_STREAMING)) {
        failure = "not a streaming capture device";
        return false;
    }
    FCapabilities = caps;

    std::vector<TFormatChoice> formats = EnumerateFormats();
    uint32_t chosen = 0;
    for (uint32_t preferred : kNativeFormats) {
        if (std::any_of(formats.begin(), formats.end(),
                        [&](const TFormatChoice& f) { return f.PixelFormat == preferred && !f.Emulated; })) {
            chosen = preferred;
            break;
        }
    }
    if (!chosen) {
        // libv4l2 lists BGR24 for every camera format it can convert (YUYV, MJPEG, Bayer, ...).
        bool convertible = std::any_of(formats.begin(), formats.end(), [](const TFormatChoice& f) {
            return f.PixelFormat == V4L2_PIX_FMT_BGR24;
        });
        if (!convertible) {
            failure = "no frame format the conversion understands";
            return false;
        }
        chosen = V4L2_PIX_FMT_BGR24;
    }
    v4l2_format current{};
    current.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Xioctl(VIDIOC_G_FMT, &current) < 0) {
        failure = ErrnoText("VIDIOC_G_FMT", errno);
        return false;
    }
    if (!SetDeviceFormat(chosen, current.fmt.pix.width, current.fmt.pix.height, failure)) {
        return false;
    }
    FSourceFormat = NativelyUsable(chosen) ? chosen : 0;
    ReadFramePeriod();
    FParms = DefaultCaptureParms(FPeriodUs);
    FHasControls = !EnumerateControls().empty();
    return StartStreaming(failure);
}

std::vector<TV4l2Driver::TFormatChoice> TV4l2Driver::EnumerateFormats() {
    std::vector<TFormatChoice> formats;
    for (uint32_t index = 0; index < 64; ++index) {
        v4l2_fmtdesc description{};
        description.index = index;
        description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (Xioctl(VIDIOC_ENUM_FMT, &description) < 0) {
            break;
        }
        formats.push_back({description.pixelformat, (description.flags & V4L2_FMT_FLAG_EMULATED) != 0});
    }
    return formats;
}

bool TV4l2Driver::SetDeviceFormat(uint32_t pixelFormat, uint32_t width, uint32_t height,
                                  std::string& failure) {
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    format.fmt.pix.width = width;
    format.fmt.pix.height = height;
    format.fmt.pix.pixelformat = pixelFormat;
    format.fmt.pix.field = V4L2_FIELD_ANY;
    if (Xioctl(VIDIOC_S_FMT, &format) < 0) {
        failure = ErrnoText("VIDIOC_S_FMT", errno);
        return false;
    }
    const v4l2_pix_format& pix = format.fmt.pix;
    if (pix.pixelformat != pixelFormat || pix.width == 0 || pix.height == 0 || pix.width > 16384 ||
        pix.height > 16384) {
        failure = "the device refused the frame format";
        return false;
    }
    FPix = pix;
    uint32_t minimumLine = pixelFormat == V4L2_PIX_FMT_BGR24  ? 3 * pix.width
                           : pixelFormat == V4L2_PIX_FMT_UYVY ? 2 * pix.width
                                                              : pix.width;
    FPix.bytesperline = std::max(FPix.bytesperline, minimumLine);
    FPixelFormat = pixelFormat;
    FBitmap = BitmapOf(pixelFormat, pix.width, pix.height);
    return true;
}

void TV4l2Driver::ReadFramePeriod() {
    uint32_t periodUs = 33333;
    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Xioctl(VIDIOC_G_PARM, &parm) == 0) {
        const v4l2_fract& t = parm.parm.capture.timeperframe;
        if (t.numerator > 0 && t.denominator > 0) {
            periodUs = static_cast<uint32_t>(
                std::clamp<uint64_t>(uint64_t{t.numerator} * 1000000 / t.denominator, 1000, 10000000));
        }
    }
    FPeriodUs = periodUs;
    // A few frame periods, so a camera that stops delivering fails the grab instead of hanging it.
    FTimeoutMs = static_cast<int>(std::clamp<uint32_t>(4 * periodUs / 1000, 200, 2000));
}

bool TV4l2Driver::StartStreaming(std::string& failure) {
    v4l2_requestbuffers request{};
    request.count = kBufferCount;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (Xioctl(VIDIOC_REQBUFS, &request) < 0) {
        failure = ErrnoText("VIDIOC_REQBUFS", errno);
        return false;
    }
    if (request.count == 0) {
        failure = "the device gave no buffers";
        return false;
    }
    FBuffers.resize(request.count);
    for (uint32_t i = 0; i < request.count; ++i) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        buffer.index = i;
        if (Xioctl(VIDIOC_QUERYBUF, &buffer) < 0) {
            failure = ErrnoText("VIDIOC_QUERYBUF", errno);
            StopStreaming();
            return false;
        }
        void* start = FDevice->Mmap(buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, FFd, buffer.m.offset);
        if (start == MAP_FAILED) {
            failure = ErrnoText("mmap", errno);
            StopStreaming();
            return false;
        }
        FBuffers[i] = {start, buffer.length};
    }
    for (uint32_t i = 0; i < request.count; ++i) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        buffer.index = i;
        if (Xioctl(VIDIOC_QBUF, &buffer) < 0) {
            failure = ErrnoText("VIDIOC_QBUF", errno);
            StopStreaming();
            return false;
        }
    }
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Xioctl(VIDIOC_STREAMON, &type) < 0) {
        failure = ErrnoText("VIDIOC_STREAMON", errno);
        StopStreaming();
        return false;
    }
    FStreaming = true;
    FFirstFrame = true;
    FLastSequence = -1;
    return true;
}

void TV4l2Driver::StopStreaming() {
    if (FStreaming) {
        v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        Xioctl(VIDIOC_STREAMOFF, &type);
        FStreaming = false;
    }
    bool mapped = false;
    for (TBuffer& buffer : FBuffers) {
        if (buffer.Start && buffer.Start != MAP_FAILED) {
            FDevice->Munmap(buffer.Start, buffer.Length);
            mapped = true;
        }
    }
    if (!FBuffers.empty() || mapped) {
        v4l2_requestbuffers request{};
        request.count = 0;
        request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        request.memory = V4L2_MEMORY_MMAP;
        Xioctl(VIDIOC_REQBUFS, &request);
    }
    FBuffers.clear();
}

std::vector<TV4l2Driver::TControl> TV4l2Driver::EnumerateControls() {
    std::vector<TControl> controls;
    v4l2_queryctrl query{};
    query.id = V4L2_CTRL_FLAG_NEXT_CTRL;
    for (int guard = 0; guard < 256 && Xioctl(VIDIOC_QUERYCTRL, &query) == 0; ++guard) {
        bool editable = !(query.flags & (V4L2_CTRL_FLAG_DISABLED | V4L2_CTRL_FLAG_READ_ONLY));
        bool numeric = query.type == V4L2_CTRL_TYPE_INTEGER || query.type == V4L2_CTRL_TYPE_BOOLEAN ||
                       query.type == V4L2_CTRL_TYPE_MENU || query.type == V4L2_CTRL_TYPE_INTEGER_MENU;
        if (editable && numeric) {
            const char* name = reinterpret_cast<const char*>(query.name);
            controls.push_back({query.id, std::string(name, strnlen(name, sizeof query.name)), query.minimum,
                                query.maximum, std::max(query.step, 1)});
        }
        query.id |= V4L2_CTRL_FLAG_NEXT_CTRL;
    }
    return controls;
}

size_t TV4l2Driver::DeviceFrameBytes() const {
    size_t w = FPix.width;
    size_t h = FPix.height;
    size_t line = FPix.bytesperline;
    switch (FPixelFormat) {
    case V4L2_PIX_FMT_UYVY:
        return line * (h - 1) + 2 * w;
    case V4L2_PIX_FMT_YVU420:
        return line * h + 2 * (line / 2) * ((h + 1) / 2);
    case V4L2_PIX_FMT_YVU410:
        return line * h + 2 * (line / 4) * (h / 4);
    default:
        return line * (h - 1) + 3 * w;
    }
}

void TV4l2Driver::PresentFrame(const uint8_t* data, TVideoHdr& header) {
    size_t w = FPix.width;
    size_t h = FPix.height;
    size_t line = FPix.bytesperline;
    size_t size = FrameBytesOf(FBitmap);
    const uint8_t* frame = data;
    switch (FPixelFormat) {
    case V4L2_PIX_FMT_UYVY:
        if (line != 2 * w) {
            FRepack.resize(size);
            for (size_t row = 0; row < h; ++row) {
                std::memcpy(&FRepack[row * 2 * w], data + row * line, 2 * w);
            }
            frame = FRepack.data();
        }
        break;
    case V4L2_PIX_FMT_YVU420: {
        size_t cw = (w + 1) / 2;
        size_t ch = (h + 1) / 2;
        size_t sourceChroma = line / 2;
        if (line != w || cw != sourceChroma) {
            FRepack.assign(size, 128);
            for (size_t row = 0; row < h; ++row) {
                std::memcpy(&FRepack[row * w], data + row * line, w);
            }
            for (size_t plane = 0; plane < 2; ++plane) {
                const uint8_t* source = data + line * h + plane * sourceChroma * ch;
                uint8_t* target = &FRepack[w * h + plane * cw * ch];
                for (size_t row = 0; row < ch; ++row) {
                    std::memcpy(target + row * cw, source + row * sourceChroma, std::min(cw, sourceChroma));
                }
            }
            frame = FRepack.data();
        }
        break;
    }
    case V4L2_PIX_FMT_YVU410: {
        // The presented bitmap keeps YVU9's row order, so the picture is stored bottom row first.
        size_t cw = w / 4;
        size_t ch = h / 4;
        size_t sourceChroma = line / 4;
        FRepack.assign(size, 128);
        for (size_t row = 0; row < h; ++row) {
            std::memcpy(&FRepack[(h - 1 - row) * w], data + row * line, w);
        }
        for (size_t plane = 0; plane < 2; ++plane) {
            const uint8_t* source = data + line * h + plane * sourceChroma * ch;
            uint8_t* target = &FRepack[w * h + plane * cw * ch];
            for (size_t row = 0; row < ch; ++row) {
                std::memcpy(target + (ch - 1 - row) * cw, source + row * sourceChroma,
                            std::min(cw, sourceChroma));
            }
        }
        frame = FRepack.data();
        break;
    }
    default: {
        // A device-independent bitmap is bottom-up with rows padded to four bytes.
        size_t stride = (3 * w + 3) & ~size_t{3};
        FRepack.resize(size);
        for (size_t row = 0; row < h; ++row) {
            uint8_t* target = &FRepack[(h - 1 - row) * stride];
            std::memcpy(target, data + row * line, 3 * w);
            std::memset(target + 3 * w, 0, stride - 3 * w);
        }
        frame = FRepack.data();
        break;
    }
    }
    header.lpData = const_cast<uint8_t*>(frame);
    header.dwBufferLength = static_cast<uint32_t>(size);
    header.dwBytesUsed = static_cast<uint32_t>(size);
    header.dwFlags = VHDR_DONE | VHDR_KEYFRAME;
}

bool TV4l2Driver::GetCaps(TCapDriverCaps& caps) {
    caps = TCapDriverCaps{};
    caps.wDeviceIndex = FDeviceIndex;
    caps.fHasDlgVideoSource = FHasControls ? 1 : 0;
    caps.fHasDlgVideoFormat = 1;
    caps.fCaptureInitialized = FStreaming ? 1 : 0;
    caps.hVideoIn = FFd;
    return true;
}

bool TV4l2Driver::GetStatus(TCapStatus& status) {
    status = TCapStatus{};
    status.uiImageWidth = FPix.width;
    status.uiImageHeight = FPix.height;
    status.dwCurrentVideoFrame = FFrames;
    status.dwCurrentVideoFramesDropped = FDropped;
    status.dwCurrentTimeElapsedMS = static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - FConnected).count());
    status.wNumVideoAllocated = static_cast<uint32_t>(FBuffers.size());
    return true;
}

bool TV4l2Driver::GetSetup(TCaptureParms& parms) {
    parms = FParms;
    return true;
}

bool TV4l2Driver::RateSettable() {
    // A capability of the stream parameters, not of the device.
    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    return Xioctl(VIDIOC_G_PARM, &parm) == 0 && (parm.parm.capture.capability & V4L2_CAP_TIMEPERFRAME);
}

bool TV4l2Driver::SetSetup(const TCaptureParms& parms) {
    if (parms.dwRequestMicroSecPerFrame != FParms.dwRequestMicroSecPerFrame &&
        parms.dwRequestMicroSecPerFrame > 0 && RateSettable()) {
        v4l2_streamparm parm{};
        parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        parm.parm.capture.timeperframe = {parms.dwRequestMicroSecPerFrame, 1000000};
        // Many cameras only change their rate while stopped; the rate they keep is what they report.
        Xioctl(VIDIOC_S_PARM, &parm);
        ReadFramePeriod();
    }
    FParms = parms;
    return true;
}

bool TV4l2Driver::GetFormat(TBitmapInfoHeader& format) {
    format = FBitmap;
    return true;
}

bool TV4l2Driver::DialogVideoFormat() {
    struct TOption {
        uint32_t PixelFormat, Width, Height;
    };
    std::vector<TOption> options;
    std::vector<std::string> items;
    int current = 0;
    auto add = [&](uint32_t pixelFormat, uint32_t width, uint32_t height) {
        if (pixelFormat == FPixelFormat && width == FPix.width && height == FPix.height) {
            current = static_cast<int>(options.size());
        }
        options.push_back({pixelFormat, width, height});
        items.push_back(std::to_string(width) + " x " + std::to_string(height) + ", " +
                        PixelFormatName(pixelFormat));
    };
    for (const TFormatChoice& format : EnumerateFormats()) {
        if (!Usable(format.PixelFormat, format.Emulated)) {
            continue;
        }
        bool listed = false;
        for (uint32_t index = 0; index < 64; ++index) {
            v4l2_frmsizeenum size{};
            size.index = index;
            size.pixel_format = format.PixelFormat;
            if (Xioctl(VIDIOC_ENUM_FRAMESIZES, &size) < 0) {
                break;
            }
            listed = true;
            if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                add(format.PixelFormat, size.discrete.width, size.discrete.height);
                continue;
            }
            const v4l2_frmsize_stepwise& range = size.stepwise;
            for (auto [width, height] : kRangeSizes) {
                if (width >= range.min_width && width <= range.max_width && height >= range.min_height &&
                    height <= range.max_height) {
                    add(format.PixelFormat, width, height);
                }
            }
            break;
        }
        if (!listed) {
            add(format.PixelFormat, FPix.width, FPix.height);
        }
    }
    if (items.empty()) {
        return false;
    }
    std::optional<int> choice = Prompts().ChooseItem("Video Format", "Size and format:", items, current);
    if (!choice || *choice < 0 || static_cast<size_t>(*choice) >= options.size()) {
        return false;
    }
    const TOption& option = options[static_cast<size_t>(*choice)];
    uint32_t oldFormat = FPixelFormat;
    uint32_t oldWidth = FPix.width;
    uint32_t oldHeight = FPix.height;
    std::string failure;
    StopStreaming();
    if (SetDeviceFormat(option.PixelFormat, option.Width, option.Height, failure) &&
        StartStreaming(failure)) {
        ReadFramePeriod();
        return true;
    }
    // Back to the format that worked, so the device keeps delivering.
    StopStreaming();
    if (SetDeviceFormat(oldFormat, oldWidth, oldHeight, failure)) {
        StartStreaming(failure);
    }
    return false;
}

std::vector<std::string> TV4l2Driver::OfferedFormats() {
    return DescribeV4l2Offers(V4l2Offers(*FDevice, FFd));
}

TCaptureFormat TV4l2Driver::CurrentFormat() {
    const uint32_t period = std::max<uint32_t>(FPeriodUs.load(), 1);
    return {FPix.width, FPix.height, (1000000 + period / 2) / period,
            FSourceFormat != 0 ? FSourceFormat : FPixelFormat};
}

bool TV4l2Driver::ApplyFormat(const TCaptureFormat& request, TCaptureFormat& applied) {
    const std::vector<TFormatChoice> formats = EnumerateFormats();
    const bool convertible = std::any_of(formats.begin(), formats.end(), [](const TFormatChoice& f) {
        return f.PixelFormat == V4L2_PIX_FMT_BGR24;
    });
    std::vector<TV4l2Offer> offers = V4l2Offers(*FDevice, FFd);
    // Only formats the pipeline can take, natively or through libv4l2's conversion.
    offers.erase(
        std::remove_if(offers.begin(), offers.end(),
                       [&](const TV4l2Offer& o) { return !NativelyUsable(o.PixelFormat) && !convertible; }),
        offers.end());
    if (request.PixelFormat != 0 && std::any_of(offers.begin(), offers.end(), [&](const TV4l2Offer& o) {
            return o.PixelFormat == request.PixelFormat;
        })) {
        offers.erase(
            std::remove_if(offers.begin(), offers.end(),
                           [&](const TV4l2Offer& o) { return o.PixelFormat != request.PixelFormat; }),
            offers.end());
    }
    const bool sizeAsked = request.Width > 0 && request.Height > 0;
    const uint32_t width = sizeAsked ? request.Width : FPix.width;
    const uint32_t height = sizeAsked ? request.Height : FPix.height;
    const TV4l2Offer* best = nullptr;
    uint64_t bestDistance = UINT64_MAX;
    for (const TV4l2Offer& offer : offers) {
        const uint64_t distance =
            static_cast<uint64_t>(std::abs(static_cast<int64_t>(offer.Width) - width)) +
            static_cast<uint64_t>(std::abs(static_cast<int64_t>(offer.Height) - height));
        // On a tie a format the pipeline reads without conversion wins.
        if (distance < bestDistance ||
            (distance == bestDistance && best && NativelyUsable(offer.PixelFormat) &&
             !NativelyUsable(best->PixelFormat))) {
            best = &offer;
            bestDistance = distance;
        }
    }
    uint32_t rate = request.FrameRate;
    if (best && rate > 0 && !best->FrameRates.empty()) {
        rate =
            *std::min_element(best->FrameRates.begin(), best->FrameRates.end(), [&](uint32_t a, uint32_t b) {
                return std::abs(static_cast<int64_t>(a) - rate) < std::abs(static_cast<int64_t>(b) - rate);
            });
    }
    if (best) {
        const uint32_t oldFormat = FPixelFormat;
        const uint32_t oldSource = FSourceFormat;
        const uint32_t oldWidth = FPix.width;
        const uint32_t oldHeight = FPix.height;
        const uint32_t pipelineFormat =
            NativelyUsable(best->PixelFormat) ? best->PixelFormat : V4L2_PIX_FMT_BGR24;
        std::string failure;
        StopStreaming();
        if (SetDeviceFormat(pipelineFormat, best->Width, best->Height, failure)) {
            FSourceFormat = best->PixelFormat;
            if (rate > 0 && RateSettable()) {
                v4l2_streamparm parm{};
                parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
                parm.parm.capture.timeperframe = {1, rate};
                Xioctl(VIDIOC_S_PARM, &parm);
            }
            ReadFramePeriod();
            FParms.dwRequestMicroSecPerFrame = FPeriodUs;
        }
        if (!StartStreaming(failure)) {
            // Back to the format that worked, so the device keeps delivering.
            StopStreaming();
            if (SetDeviceFormat(oldFormat, oldWidth, oldHeight, failure)) {
                FSourceFormat = oldSource;
                StartStreaming(failure);
            }
            ReadFramePeriod();
        }
    }
    applied = CurrentFormat();
    return (!sizeAsked || (applied.Width == request.Width && applied.Height == request.Height)) &&
           (request.FrameRate == 0 || applied.FrameRate == request.FrameRate) &&
           (request.PixelFormat == 0 || applied.PixelFormat == request.PixelFormat);
}

bool TV4l2Driver::DialogVideoSource() {
    std::vector<TControl> controls = EnumerateControls();
    if (controls.empty()) {
        Prompts().ShowMessage("The capture device has no source settings.", TMessageKind::Information);
        return false;
    }
    std::vector<TValueField> fields;
    for (const TControl& control : controls) {
        v4l2_control value{};
        value.id = control.Id;
        Xioctl(VIDIOC_G_CTRL, &value);
        fields.push_back({control.Name, control.Minimum, control.Maximum, control.Step, value.value});
    }
    std::vector<TValueField> before = fields;
    if (!Prompts().EditValues("Video Source", fields)) {
        return false;
    }
    for (size_t i = 0; i < controls.size() && i < fields.size(); ++i) {
        if (fields[i].Value != before[i].Value) {
            v4l2_control value{};
            value.id = controls[i].Id;
            value.value = std::clamp(fields[i].Value, controls[i].Minimum, controls[i].Maximum);
            Xioctl(VIDIOC_S_CTRL, &value);
        }
    }
    return true;
}

bool TV4l2Driver::DialogVideoDisplay() {
    return false;
}

bool TV4l2Driver::DialogVideoCompression() {
    Prompts().ShowMessage("The capture device has no compression settings.", TMessageKind::Information);
    return true;
}

TFrameWait TV4l2Driver::WaitForFrame(TCaptureError& error) {
    int timeoutMs = FFirstFrame ? kFirstFrameTimeoutMs : FTimeoutMs.load();
    pollfd descriptor{FFd, POLLIN, 0};
    int result;
    do {
        result = FDevice->Poll(&descriptor, 1, timeoutMs);
    } while (result < 0 && errno == EINTR);
    if (result > 0 && (descriptor.revents & POLLIN)) {
        return TFrameWait::Ready;
    }
    if (result == 0) {
        error = {kCapErrFrameTimeout,
                 "No frame from the capture device within " + std::to_string(timeoutMs) + " ms"};
        return TFrameWait::Timeout;
    }
    error = {kCapErrDevice,
             result < 0 ? ErrnoText("poll", errno) : "The capture device stopped delivering frames"};
    // An unplugged camera reports its error at once; waiting out a frame period keeps the grab loop
    // from spinning.
    std::this_thread::sleep_for(std::chrono::microseconds(FPeriodUs.load()));
    return TFrameWait::Failed;
}

bool TV4l2Driver::TakeFrame(const std::function<void(TVideoHdr&)>& deliver, TCaptureError& error) {
    if (!FStreaming) {
        error = {kCapErrDevice, "The capture device is not streaming"};
        return false;
    }
    // Older frames that queued up while nobody grabbed go straight back; only the newest is shown.
    v4l2_buffer newest{};
    bool have = false;
    for (size_t guard = 0; guard <= FBuffers.size(); ++guard) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        if (Xioctl(VIDIOC_DQBUF, &buffer) < 0) {
            if (errno == EAGAIN) {
                break;
            }
            int failure = errno;
            if (have) {
                Xioctl(VIDIOC_QBUF, &newest);
            }
            error = {kCapErrDevice, ErrnoText("VIDIOC_DQBUF", failure)};
            return false;
        }
        if (buffer.index >= FBuffers.size()) {
            error = {kCapErrDevice, "The capture device returned an unknown buffer"};
            return false;
        }
        if (have) {
            Xioctl(VIDIOC_QBUF, &newest);
        }
        newest = buffer;
        have = true;
    }
    if (!have) {
        error = {kCapErrFrameTimeout, "No frame was ready"};
        return false;
    }
    if (FLastSequence >= 0 && newest.sequence > FLastSequence + 1) {
        FDropped += static_cast<uint32_t>(newest.sequence - FLastSequence - 1);
    }
    FLastSequence = newest.sequence;
    const TBuffer& mapped = FBuffers[newest.index];
    size_t needed = DeviceFrameBytes();
    if ((newest.flags & V4L2_BUF_FLAG_ERROR) || newest.bytesused < needed || mapped.Length < needed) {
        Xioctl(VIDIOC_QBUF, &newest);
        error = {kCapErrShortFrame, "The capture device delivered an incomplete frame"};
        return false;
    }
    TVideoHdr header;
    PresentFrame(static_cast<const uint8_t*>(mapped.Start), header);
    header.dwTimeCaptured = static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - FConnected).count());
    FFirstFrame = false;
    ++FFrames;
    deliver(header);
    // The frame was delivered; a buffer that cannot go back shows up as the next grab's failure.
    Xioctl(VIDIOC_QBUF, &newest);
    return true;
}

} // namespace sw
