#pragma once

#include "platform/sound/WaveIn.h"
#include "video/Bitmap.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace sw {

using TPublishClock = std::chrono::steady_clock;

// One overlaid frame as the video thread handed it over: the bitmap's rows, bottom row first.
struct TQueuedFrame {
    std::vector<uint8_t> Pixels;
    int32_t Width = 0;
    int32_t Height = 0;
    size_t Stride = 0;
    int BitsPerPixel = 0;
    uint32_t Number = 0;
    TPublishClock::time_point Time;
};

// One capture buffer as recorded; Time is when it was handed over, so its last sample.
struct TQueuedPcm {
    std::vector<uint8_t> Bytes;
    TWaveFormatEx Format;
    int32_t Volume = 1;
    TPublishClock::time_point Time;
};

// The hand-off between the main thread (producer) and the publisher's thread (consumer). Video is a
// mailbox where the newest frame wins; sound a bounded queue that drops its oldest buffer when full.
// A producer never waits for the consumer: the frame is copied into a spare buffer outside the lock,
// and the lock only swaps buffers.
class TPublishQueue {
public:
    explicit TPublishQueue(size_t maxPcmBuffers = 64);

    // Main thread.
    void PutFrame(const TBitmap& frame, uint32_t number, TPublishClock::time_point time);
    void PutPcm(const TWaveFormatEx& format, const uint8_t* data, size_t bytes, int32_t volume,
                TPublishClock::time_point time);

    // Consumer: waits until something is queued, the queue is woken, or the deadline passes.
    void WaitUntil(TPublishClock::time_point deadline);
    // Swaps the newest frame into frame (whose old buffer becomes the spare); false when none is new.
    bool TakeFrame(std::unique_ptr<TQueuedFrame>& frame);
    bool TakePcm(TQueuedPcm& pcm);
    // Ends any wait at once (Stop).
    void Wake();
    // Forgets the wake-up, for the next run.
    void Reset();
    bool Woken() const;

    // Frames handed over, and those a newer frame replaced before the consumer took them; sound
    // buffers handed over, and those the full queue dropped.
    struct TCounts {
        uint64_t FramesIn = 0;
        uint64_t FramesReplaced = 0;
        uint64_t PcmIn = 0;
        uint64_t PcmDropped = 0;
    };
    TCounts Counts() const;

private:
    mutable std::mutex FLock;
    std::condition_variable FChanged;
    // The producer's buffer; only PutFrame touches it, outside the lock.
    std::unique_ptr<TQueuedFrame> FSpare;
    std::unique_ptr<TQueuedFrame> FReady;
    bool FReadyNew = false;
    std::deque<TQueuedPcm> FPcm;
    size_t FMaxPcm;
    bool FWoken = false;
    TCounts FCounts;
};

} // namespace sw
