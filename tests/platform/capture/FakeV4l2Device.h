#pragma once

#include "platform/capture/V4l2Device.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <linux/videodev2.h>
#include <map>
#include <set>
#include <string>
#include <sys/mman.h>
#include <vector>

namespace sw::test {

// A camera behind the device interface, answering the way libv4l2 would: native formats plus the
// emulated ones libv4l2 adds, memory-mapped buffers, frames that arrive when polled.
class TFakeCamera : public TV4l2Device {
public:
    static constexpr int kFd = 42;

    struct TFormat {
        uint32_t PixelFormat;
        bool Emulated;
    };
    struct TControl {
        uint32_t Id;
        std::string Name;
        int Minimum, Maximum, Step, Value;
    };

    // Settings of the camera.
    std::vector<TFormat> Formats;
    std::vector<std::pair<uint32_t, uint32_t>> Sizes = {{640, 480}, {320, 240}};
    std::vector<uint32_t> Rates = {30, 15}; // frames per second offered at every size
    uint32_t Rate = 30;
    uint32_t Width = 640;
    uint32_t Height = 480;
    uint32_t PixelFormat = 0;
    uint32_t LinePadding = 0; // extra bytes at the end of every line
    std::vector<TControl> Controls;
    std::set<unsigned long> FailingRequests;
    bool Delivering = true;
    bool Unplugged = false;

    // What the driver did.
    int Opened = 0;
    int Closed = 0;
    int Mapped = 0;
    int Unmapped = 0;
    bool Streaming = false;
    int LastPollTimeout = -2;
    uint32_t Sequence = 0;
    std::map<uint32_t, int> SetControls;
    std::deque<uint32_t> Queued;
    std::deque<uint32_t> Filled;
    std::vector<std::vector<uint8_t>> Buffers;

    uint32_t BytesPerLine() const {
        uint32_t bytes = PixelFormat == V4L2_PIX_FMT_BGR24 || PixelFormat == V4L2_PIX_FMT_RGB24 ? 3 * Width
                         : PixelFormat == V4L2_PIX_FMT_YUYV || PixelFormat == V4L2_PIX_FMT_UYVY ? 2 * Width
                                                                                                : Width;
        return bytes + LinePadding;
    }
    uint32_t ImageBytes() const {
        uint32_t line = BytesPerLine();
        switch (PixelFormat) {
        case V4L2_PIX_FMT_YVU420:
        case V4L2_PIX_FMT_YUV420:
            return line * Height + 2 * (line / 2) * (Height / 2);
        case V4L2_PIX_FMT_YVU410:
            return line * Height + 2 * (line / 4) * (Height / 4);
        default:
            return line * Height;
        }
    }

    // Byte i of frame number n.
    static uint8_t FrameByte(uint32_t n, size_t i) { return static_cast<uint8_t>(i * 7 + i / 1000 + n * 13); }

    // Makes the next queued buffer a filled frame; false when none is queued.
    bool FillOne() {
        if (!Streaming || Queued.empty()) {
            return false;
        }
        uint32_t index = Queued.front();
        Queued.pop_front();
        std::vector<uint8_t>& buffer = Buffers[index];
        for (size_t i = 0; i < buffer.size(); ++i) {
            buffer[i] = FrameByte(Sequence, i);
        }
        FilledSequence[index] = Sequence++;
        Filled.push_back(index);
        return true;
    }

    int Open(const std::string&, int) override {
        if (FailingRequests.count(0)) {
            errno = ENOENT;
            return -1;
        }
        ++Opened;
        return kFd;
    }
    int Close(int) override {
        ++Closed;
        return 0;
    }
    void* Mmap(size_t length, int, int, int, int64_t offset) override {
        size_t index = static_cast<size_t>(offset / 0x100000);
        if (index >= Buffers.size() || length != Buffers[index].size()) {
            errno = EINVAL;
            return MAP_FAILED;
        }
        ++Mapped;
        return Buffers[index].data();
    }
    int Munmap(void*, size_t) override {
        ++Unmapped;
        return 0;
    }
    int Poll(pollfd* fds, nfds_t, int timeoutMs) override {
        LastPollTimeout = timeoutMs;
        fds[0].revents = 0;
        if (Unplugged) {
            fds[0].revents = POLLERR;
            return 1;
        }
        if (!Filled.empty() || (Delivering && FillOne())) {
            fds[0].revents = POLLIN;
            return 1;
        }
        return 0; // as if the timeout had passed
    }

    int Ioctl(int, unsigned long request, void* arg) override {
        if (FailingRequests.count(request)) {
            errno = EIO;
            return -1;
        }
        switch (request) {
        case VIDIOC_QUERYCAP: {
            auto* cap = static_cast<v4l2_capability*>(arg);
            std::memset(cap, 0, sizeof *cap);
            std::strcpy(reinterpret_cast<char*>(cap->card), "Fake Camera");
            cap->capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING | V4L2_CAP_DEVICE_CAPS;
            cap->device_caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
            return 0;
        }
        case VIDIOC_ENUM_FMT: {
            auto* description = static_cast<v4l2_fmtdesc*>(arg);
            if (description->index >= Formats.size()) {
                errno = EINVAL;
                return -1;
            }
            description->pixelformat = Formats[description->index].PixelFormat;
            description->flags = Formats[description->index].Emulated ? V4L2_FMT_FLAG_EMULATED : 0;
            return 0;
        }
        case VIDIOC_G_FMT:
            FillFormat(static_cast<v4l2_format*>(arg));
            return 0;
        case VIDIOC_S_FMT: {
            auto* format = static_cast<v4l2_format*>(arg);
            if (Streaming || !Buffers.empty()) {
                errno = EBUSY;
                return -1;
            }
            for (const TFormat& f : Formats) {
                if (f.PixelFormat == format->fmt.pix.pixelformat) {
                    PixelFormat = f.PixelFormat;
                }
            }
            for (auto [w, h] : Sizes) {
                if (w == format->fmt.pix.width && h == format->fmt.pix.height) {
                    Width = w;
                    Height = h;
                }
            }
            FillFormat(format);
            return 0;
        }
        case VIDIOC_G_PARM: {
            auto* parm = static_cast<v4l2_streamparm*>(arg);
            parm->parm.capture.capability = V4L2_CAP_TIMEPERFRAME;
            parm->parm.capture.timeperframe = {1, Rate};
            return 0;
        }
        case VIDIOC_S_PARM: {
            const v4l2_fract& t = static_cast<v4l2_streamparm*>(arg)->parm.capture.timeperframe;
            for (uint32_t rate : Rates) {
                if (t.numerator > 0 && rate == t.denominator / t.numerator) {
                    Rate = rate;
                }
            }
            return 0;
        }
        case VIDIOC_ENUM_FRAMEINTERVALS: {
            auto* interval = static_cast<v4l2_frmivalenum*>(arg);
            if (interval->index >= Rates.size()) {
                errno = EINVAL;
                return -1;
            }
            interval->type = V4L2_FRMIVAL_TYPE_DISCRETE;
            interval->discrete = {1, Rates[interval->index]};
            return 0;
        }
        case VIDIOC_REQBUFS: {
            auto* requestBuffers = static_cast<v4l2_requestbuffers*>(arg);
            Buffers.clear();
            Queued.clear();
            Filled.clear();
            requestBuffers->count = std::min<uint32_t>(requestBuffers->count, 4);
            Buffers.assign(requestBuffers->count, std::vector<uint8_t>(ImageBytes()));
            return 0;
        }
        case VIDIOC_QUERYBUF: {
            auto* buffer = static_cast<v4l2_buffer*>(arg);
            if (buffer->index >= Buffers.size()) {
                errno = EINVAL;
                return -1;
            }
            buffer->length = static_cast<uint32_t>(Buffers[buffer->index].size());
            buffer->m.offset = buffer->index * 0x100000;
            return 0;
        }
        case VIDIOC_QBUF: {
            auto* buffer = static_cast<v4l2_buffer*>(arg);
            if (buffer->index >= Buffers.size()) {
                errno = EINVAL;
                return -1;
            }
            Queued.push_back(buffer->index);
            return 0;
        }
        case VIDIOC_DQBUF: {
            if (Filled.empty()) {
                errno = EAGAIN;
                return -1;
            }
            auto* buffer = static_cast<v4l2_buffer*>(arg);
            buffer->index = Filled.front();
            Filled.pop_front();
            buffer->bytesused = ImageBytes();
            buffer->sequence = FilledSequence[buffer->index];
            buffer->flags = 0;
            return 0;
        }
        case VIDIOC_STREAMON:
            Streaming = true;
            return 0;
        case VIDIOC_STREAMOFF:
            Streaming = false;
            Queued.clear();
            Filled.clear();
            return 0;
        case VIDIOC_QUERYCTRL: {
            auto* query = static_cast<v4l2_queryctrl*>(arg);
            uint32_t after = query->id & ~V4L2_CTRL_FLAG_NEXT_CTRL;
            for (const TControl& control : Controls) {
                if (control.Id > after) {
                    std::memset(query, 0, sizeof *query);
                    query->id = control.Id;
                    std::strncpy(reinterpret_cast<char*>(query->name), control.Name.c_str(), 31);
                    query->type = V4L2_CTRL_TYPE_INTEGER;
                    query->minimum = control.Minimum;
                    query->maximum = control.Maximum;
                    query->step = control.Step;
                    return 0;
                }
            }
            errno = EINVAL;
            return -1;
        }
        case VIDIOC_G_CTRL: {
            auto* control = static_cast<v4l2_control*>(arg);
            for (const TControl& c : Controls) {
                if (c.Id == control->id) {
                    control->value = c.Value;
                    return 0;
                }
            }
            errno = EINVAL;
            return -1;
        }
        case VIDIOC_S_CTRL: {
            auto* control = static_cast<v4l2_control*>(arg);
            SetControls[control->id] = control->value;
            return 0;
        }
        case VIDIOC_ENUM_FRAMESIZES: {
            auto* size = static_cast<v4l2_frmsizeenum*>(arg);
            if (size->index >= Sizes.size()) {
                errno = EINVAL;
                return -1;
            }
            size->type = V4L2_FRMSIZE_TYPE_DISCRETE;
            size->discrete = {Sizes[size->index].first, Sizes[size->index].second};
            return 0;
        }
        default:
            errno = ENOTTY;
            return -1;
        }
    }

private:
    void FillFormat(v4l2_format* format) {
        format->fmt.pix.width = Width;
        format->fmt.pix.height = Height;
        format->fmt.pix.pixelformat = PixelFormat;
        format->fmt.pix.bytesperline = BytesPerLine();
        format->fmt.pix.sizeimage = ImageBytes();
    }

    std::map<uint32_t, uint32_t> FilledSequence;
};

} // namespace sw::test
