#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace sw {

static_assert(std::endian::native == std::endian::little, "the capture records are little-endian");

// The capture records keep the field names, order and 32-bit sizes of the platform's records, so the
// diagnostic dumps and any code written against those records read the same here.

struct TCapDriverCaps {
    uint32_t wDeviceIndex;
    int32_t fHasOverlay;
    int32_t fHasDlgVideoSource;
    int32_t fHasDlgVideoFormat;
    int32_t fHasDlgVideoDisplay;
    int32_t fCaptureInitialized;
    int32_t fDriverSuppliesPalettes;
    int32_t hVideoIn;
    int32_t hVideoOut;
    int32_t hVideoExtIn;
    int32_t hVideoExtOut;
};
static_assert(sizeof(TCapDriverCaps) == 44);

struct TPoint {
    int32_t X;
    int32_t Y;
};

struct TCapStatus {
    uint32_t uiImageWidth;
    uint32_t uiImageHeight;
    int32_t fLiveWindow;
    int32_t fOverlayWindow;
    int32_t fScale;
    TPoint ptScroll;
    int32_t fUsingDefaultPalette;
    int32_t fAudioHardware;
    int32_t fCapFileExists;
    uint32_t dwCurrentVideoFrame;
    uint32_t dwCurrentVideoFramesDropped;
    uint32_t dwCurrentWaveSamples;
    uint32_t dwCurrentTimeElapsedMS;
    int32_t hPalCurrent;
    int32_t fCapturingNow;
    uint32_t dwReturn;
    uint32_t wNumVideoAllocated;
    uint32_t wNumAudioAllocated;
};
static_assert(sizeof(TCapStatus) == 76);

struct TCaptureParms {
    uint32_t dwRequestMicroSecPerFrame;
    int32_t fMakeUserHitOKToCapture;
    uint32_t wPercentDropForError;
    int32_t fYield;
    uint32_t dwIndexSize;
    uint32_t wChunkGranularity;
    int32_t fUsingDOSMemory;
    uint32_t wNumVideoRequested;
    int32_t fCaptureAudio;
    uint32_t wNumAudioRequested;
    uint32_t vKeyAbort;
    int32_t fAbortLeftMouse;
    int32_t fAbortRightMouse;
    int32_t fLimitEnabled;
    uint32_t wTimeLimit;
    int32_t fMCIControl;
    int32_t fStepMCIDevice;
    uint32_t dwMCIStartTime;
    uint32_t dwMCIStopTime;
    int32_t fStepCaptureAt2x;
    uint32_t wStepCaptureAverageFrames;
    uint32_t dwAudioBufferSize;
    int32_t fDisableWriteCache;
    uint32_t AVStreamMaster;
};
static_assert(sizeof(TCaptureParms) == 96);

// The settings a driver reports before anything was set: the platform's defaults, with the frame
// period given.
TCaptureParms DefaultCaptureParms(uint32_t microSecPerFrame);

struct TBitmapInfoHeader {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};
static_assert(sizeof(TBitmapInfoHeader) == 40);

constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitfields = 3;

constexpr uint32_t FourCc(char a, char b, char c, char d) {
    return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
           static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}

constexpr uint32_t kFourCcUyvy = FourCc('U', 'Y', 'V', 'Y'); // 1498831189
constexpr uint32_t kFourCcYvu9 = FourCc('Y', 'V', 'U', '9'); // 961893977
constexpr uint32_t kFourCcYv12 = FourCc('Y', 'V', '1', '2'); // 842094169
constexpr uint32_t kFourCcYuy2 = FourCc('Y', 'U', 'Y', '2');

// The video format as the capture window hands it out: a BITMAPINFOHEADER and 4 further bytes.
constexpr size_t kVideoFormatSize = 44;
using TVideoFormatBuffer = std::array<uint8_t, kVideoFormatSize>;

inline TBitmapInfoHeader InfoHeaderOf(const uint8_t* format) {
    TBitmapInfoHeader header;
    std::memcpy(&header, format, sizeof header);
    return header;
}

inline TVideoFormatBuffer VideoFormatOf(const TBitmapInfoHeader& header) {
    TVideoFormatBuffer buffer{};
    std::memcpy(buffer.data(), &header, sizeof header);
    return buffer;
}

// The bytes one frame of a format occupies: DIB rows for BI_RGB, the packed or planar layout for the
// YUV formats; 0 for formats without a fixed size.
uint32_t FrameBytesOf(const TBitmapInfoHeader& header);

// The platform's frame header, handed to the frame callback for the duration of the call.
struct TVideoHdr {
    uint8_t* lpData = nullptr;
    uint32_t dwBufferLength = 0;
    uint32_t dwBytesUsed = 0;
    uint32_t dwTimeCaptured = 0; // milliseconds since the driver was connected
    uintptr_t dwUser = 0;
    uint32_t dwFlags = 0;
};

constexpr uint32_t VHDR_DONE = 0x00000001;
constexpr uint32_t VHDR_KEYFRAME = 0x00000008;

} // namespace sw
