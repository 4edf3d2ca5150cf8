#pragma once

#include "video/Bitmap.h"

#include <QImage>
#include <cstdint>
#include <functional>

namespace sw {

// The last frame the capture window presented, kept for a preview view (the capture window's place in
// the main window). Main thread only. While no view has switched it on, presenting costs nothing, so
// without windows nothing is copied or drawn.
class TFramePreview {
public:
    void SetEnabled(bool enabled);
    bool Enabled() const { return FEnabled; }

    // Keeps a copy of the frame, upright, and tells the view.
    void Present(const TBitmap& frame);
    // Forgets the frame (the broadcast stopped).
    void Clear();

    // Null until a frame was presented while enabled.
    const QImage& Frame() const { return FFrame; }
    uint32_t FramesPresented() const { return FFramesPresented; }

    std::function<void()> OnPresented;

private:
    bool FEnabled = false;
    QImage FFrame;
    uint32_t FFramesPresented = 0;
};

} // namespace sw
