#pragma once

#include "video/Bitmap.h"

#include <cstdint>

namespace sw {

// Receives every broadcast frame after the overlay, before JPEG encoding: the picture the viewers see.
// Called on the main thread inside the frame callback; the frame is valid only during the call, and
// the call must return at once (hand the pixels over, never wait).
class TFrameTap {
public:
    virtual ~TFrameTap() = default;
    virtual void FrameReady(const TBitmap& frame, uint32_t frameNumber) = 0;
};

} // namespace sw
