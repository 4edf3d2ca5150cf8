#include "video/FramePreview.h"

#include <cstring>

namespace sw {

void TFramePreview::SetEnabled(bool enabled) {
    FEnabled = enabled;
    if (!enabled) {
        FFrame = QImage();
    }
}

void TFramePreview::Clear() {
    FFrame = QImage();
}

void TFramePreview::Present(const TBitmap& frame) {
    if (!FEnabled || frame.Empty()) {
        return;
    }
    const QImage::Format format =
        frame.BitsPerPixel() == 8 ? QImage::Format_Grayscale8 : QImage::Format_BGR888;
    if (FFrame.width() != frame.Width() || FFrame.height() != frame.Height() || FFrame.format() != format) {
        FFrame = QImage(frame.Width(), frame.Height(), format);
    }
    const size_t rowBytes = static_cast<size_t>(frame.Width()) * static_cast<size_t>(frame.Channels());
    for (int32_t y = 0; y < frame.Height(); ++y) {
        std::memcpy(FFrame.scanLine(y), frame.ScanLine(y), rowBytes);
    }
    ++FFramesPresented;
    if (OnPresented) {
        OnPresented();
    }
}

} // namespace sw
