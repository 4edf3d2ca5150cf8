#include "platform/capture/CaptureDriver.h"

namespace sw {

std::string FourCcText(uint32_t fourcc) {
    std::string text;
    for (int shift = 0; shift < 32; shift += 8) {
        const auto c = static_cast<char>((fourcc >> shift) & 0xFF);
        text += (c >= 32 && c < 127) ? c : '?';
    }
    return text;
}

uint32_t FourCcOf(const std::string& text) {
    if (text.size() != 4) {
        return 0;
    }
    uint32_t code = 0;
    for (int i = 3; i >= 0; --i) {
        const auto c = static_cast<unsigned char>(text[static_cast<size_t>(i)]);
        if (c < 32 || c >= 127) {
            return 0;
        }
        code = code << 8 | c;
    }
    return code;
}

std::string DescribeCaptureFormat(const TCaptureFormat& format) {
    // Appended piece by piece: GCC 12's -O3 misreads "literal" + std::string&& as an overlapping copy.
    std::string text = std::to_string(format.Width);
    text.append(" x ").append(std::to_string(format.Height));
    if (format.PixelFormat != 0) {
        text.append(" ").append(FourCcText(format.PixelFormat));
    }
    if (format.FrameRate != 0) {
        text.append(" at ").append(std::to_string(format.FrameRate)).append(" fps");
    }
    return text;
}

} // namespace sw
