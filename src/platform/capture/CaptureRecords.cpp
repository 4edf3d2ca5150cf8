#include "platform/capture/CaptureRecords.h"

namespace sw {

TCaptureParms DefaultCaptureParms(uint32_t microSecPerFrame) {
    TCaptureParms parms{};
    parms.dwRequestMicroSecPerFrame = microSecPerFrame;
    parms.wPercentDropForError = 10;
    parms.wNumVideoRequested = 32;
    parms.fCaptureAudio = 1;
    parms.wNumAudioRequested = 10;
    parms.vKeyAbort = 0x1B; // Escape
    parms.fAbortLeftMouse = 1;
    parms.fAbortRightMouse = 1;
    parms.wStepCaptureAverageFrames = 5;
    return parms;
}

uint32_t FrameBytesOf(const TBitmapInfoHeader& header) {
    if (header.biWidth <= 0 || header.biHeight == 0) {
        return 0;
    }
    uint64_t w = static_cast<uint64_t>(header.biWidth);
    uint64_t h =
        static_cast<uint64_t>(header.biHeight < 0 ? -static_cast<int64_t>(header.biHeight) : header.biHeight);
    uint64_t bytes = 0;
    switch (header.biCompression) {
    case kBiRgb:
        bytes = ((w * header.biBitCount + 31) & ~uint64_t{31}) / 8 * h;
        break;
    case kFourCcUyvy:
    case kFourCcYuy2:
        bytes = 2 * w * h;
        break;
    case kFourCcYv12:
        bytes = w * h + 2 * ((w + 1) / 2) * ((h + 1) / 2);
        break;
    case kFourCcYvu9:
        bytes = w * h + 2 * (w / 4) * (h / 4);
        break;
    default:
        return 0;
    }
    return bytes > UINT32_MAX ? 0 : static_cast<uint32_t>(bytes);
}

} // namespace sw
