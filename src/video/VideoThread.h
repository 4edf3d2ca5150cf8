#pragma once

#include "log/LogPost.h"
#include "platform/capture/CaptureRecords.h"
#include "platform/capture/CaptureWindow.h"
#include "video/Bitmap.h"
#include "video/FramePreview.h"
#include "video/FrameTap.h"
#include "video/JpegConverter.h"
#include "video/MemoryStream.h"
#include "video/Overlay.h"
#include "video/VideoImageStream.h"
#include "video/VideoPacket.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace sw {

// Frames per second over the arrival times of the last up to 60 frames, in milliseconds of the
// system's tick counter.
struct TFrameRateWindow {
    static constexpr uint32_t kFrames = 60;

    double FrameRate = 0;
    uint32_t FrameTimeCount = 0;
    uint32_t FrameTimeHead = 0;
    uint32_t FrameTimeTail = 0;
    std::array<uint32_t, kFrames> FrameTimes{};

    // Records an arrival and returns the new rate. The span is an unsigned 32-bit difference, so a
    // wrap of the tick counter does no harm. A span of 0 ms (frames faster than the counter ticks)
    // keeps the rate it had: there is no rate to tell yet.
    double Add(uint32_t tick);
};

// Drives the capture while a broadcast with video runs. The thread, named "video", only paces the
// grab requests: each is a synchronous request to the capture window, whose owner (the main thread)
// runs the frame callback, where the frame is measured, presented as a bitmap, overlaid, encoded and
// sent, while this thread waits. So one frame is in work at a time and none is queued.
//
// The owner of the capture window ends the thread with Terminate and WaitFor: the wait keeps serving
// the capture requests (a grab in progress and the thread's shut-down requests), or it would deadlock.
//
// A device that fails (unplugged, an I/O error) or delivers nothing for kLossAfterMs is lost: one
// "Device lost" entry, then a "No signal" card once every kNoSignalPeriodMs through the normal overlay,
// encoder and send, so viewers stay connected and see why the picture stopped; meanwhile the thread
// reconnects the device by its stable identity with back-off, and the first frame it delivers again
// ends the loss with one "Device restored" entry.
class TVideoThread {
public:
    static constexpr int kLossAfterMs = 4000;
    static constexpr int kNoSignalPeriodMs = 1000;
    static constexpr int kFirstRetryMs = 500;
    static constexpr int kMaxRetryMs = 4000;

    // Starts the thread at once. videoServer may be none (frames are then processed and not sent),
    // preview and frameTap too.
    TVideoThread(TCaptureWindow& captureWindow, TVideoPacketSink* videoServer, TMessageWindow logWindow,
                 TFramePreview* preview = nullptr, TFrameTap* frameTap = nullptr);
    // Terminates and waits; on the capture window's owner thread only.
    ~TVideoThread();
    TVideoThread(const TVideoThread&) = delete;
    TVideoThread& operator=(const TVideoThread&) = delete;

    void Terminate() { FTerminated = true; }
    bool Terminated() const { return FTerminated; }
    // The thread body has ended (its shut-down requests were served).
    bool Finished() const { return FFinished; }
    // Owner thread: serves the thread's requests until it has ended, then joins it.
    void WaitFor();

    // Read on the main thread (the frame-rate display, the overlay).
    double FrameRate() const { return FRateWindow.FrameRate; }
    uint32_t FrameNumber() const { return FFrameNumber; }
    // Frames that failed to load or encode and were not sent; frames handed to the video server.
    uint32_t FramesNotSent() const { return FFramesNotSent; }
    uint32_t FramesSent() const { return FFramesSent; }
    // The device is lost and the viewers get the "No signal" card.
    bool SignalLost() const { return FLost; }
    uint32_t NoSignalFrames() const { return FNoSignalFrames; }

    static bool FrameCallback(TCaptureWindow* window, TVideoHdr* header);
    static bool ErrorCallback(TCaptureWindow* window, int errorNumber, const char* text);

    // Main thread, inside the frame callback.
    void ProcessFrame(const TVideoHdr& header);
    void DrawOverlay();
    void SendFrame();
    // Main thread: one "No signal" card in place of a frame.
    void SendNoSignal();

    bool PostLogEntry(uint8_t level, uint8_t message, const std::string& detail, const std::string& values,
                      TDateTime time);

private:
    void Execute();
    // One pass of the grab loop while the device is lost: the card when due, a reconnect when due, and
    // a grab while a device is connected. True when the device delivered a frame again.
    bool ServeLoss();
    bool LogRequest(uint8_t message, bool ok);
    void FrameNotSent(const std::string& reason);
    // Main thread: overlay, encode and send the frame in FrameBitmap.
    void FinishFrame();

    TCaptureWindow& CaptureWindow;
    TVideoPacketSink* VideoServer;
    TMessageWindow LogWindow;
    TFramePreview* Preview;
    TFrameTap* FrameTap;

    uint32_t FFrameNumber = 0;
    TFrameRateWindow FRateWindow;
    std::unique_ptr<TVideoImageStream> ImageStream;
    TVideoFormatBuffer VideoFormat{};
    std::unique_ptr<TBitmap> FrameBitmap;
    std::unique_ptr<TJpegConverter> Converter;
    std::unique_ptr<TMemoryStream> JpegStream;
    TOverlayPainter FOverlay;

    TBitmap FNoSignalCard;

    // Set by the error callback during a grab, read by this thread after the grab returned.
    std::atomic<int> FGrabError{0};
    std::string FGrabErrorText;
    std::atomic<bool> FLost{false};
    std::atomic<uint32_t> FNoSignalFrames{0};
    std::chrono::steady_clock::time_point FLostSince;
    std::chrono::steady_clock::time_point FNextCard;
    std::chrono::steady_clock::time_point FNextRetry;
    int FRetryMs = kFirstRetryMs;

    uint32_t FFramesNotSent = 0;
    uint32_t FFramesSent = 0;
    bool FFailureReported = false;
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFinished{false};
    std::thread FThread;
};

} // namespace sw
