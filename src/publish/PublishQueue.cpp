#include "publish/PublishQueue.h"

#include <cstring>

namespace sw {

TPublishQueue::TPublishQueue(size_t maxPcmBuffers)
    : FSpare(std::make_unique<TQueuedFrame>()), FReady(std::make_unique<TQueuedFrame>()),
      FMaxPcm(maxPcmBuffers == 0 ? 1 : maxPcmBuffers) {}

void TPublishQueue::PutFrame(const TBitmap& frame, uint32_t number, TPublishClock::time_point time) {
    TQueuedFrame& spare = *FSpare;
    // The buffers keep their size from frame to frame, so this copies without allocating.
    spare.Pixels.resize(frame.ImageBytes());
    std::memcpy(spare.Pixels.data(), frame.Bits(), frame.ImageBytes());
    spare.Width = frame.Width();
    spare.Height = frame.Height();
    spare.Stride = frame.Stride();
    spare.BitsPerPixel = frame.BitsPerPixel();
    spare.Number = number;
    spare.Time = time;
    {
        std::lock_guard lock(FLock);
        FSpare.swap(FReady);
        ++FCounts.FramesIn;
        if (FReadyNew) {
            ++FCounts.FramesReplaced;
        }
        FReadyNew = true;
    }
    FChanged.notify_one();
}

void TPublishQueue::PutPcm(const TWaveFormatEx& format, const uint8_t* data, size_t bytes, int32_t volume,
                           TPublishClock::time_point time) {
    TQueuedPcm pcm;
    pcm.Bytes.assign(data, data + bytes);
    pcm.Format = format;
    pcm.Volume = volume;
    pcm.Time = time;
    {
        std::lock_guard lock(FLock);
        ++FCounts.PcmIn;
        if (FPcm.size() >= FMaxPcm) {
            FPcm.pop_front();
            ++FCounts.PcmDropped;
        }
        FPcm.push_back(std::move(pcm));
    }
    FChanged.notify_one();
}

void TPublishQueue::WaitUntil(TPublishClock::time_point deadline) {
    std::unique_lock lock(FLock);
    FChanged.wait_until(lock, deadline, [this] { return FWoken || FReadyNew || !FPcm.empty(); });
}

bool TPublishQueue::TakeFrame(std::unique_ptr<TQueuedFrame>& frame) {
    std::lock_guard lock(FLock);
    if (!FReadyNew) {
        return false;
    }
    if (!frame) {
        frame = std::make_unique<TQueuedFrame>();
    }
    frame.swap(FReady);
    FReadyNew = false;
    return true;
}

bool TPublishQueue::TakePcm(TQueuedPcm& pcm) {
    std::lock_guard lock(FLock);
    if (FPcm.empty()) {
        return false;
    }
    pcm = std::move(FPcm.front());
    FPcm.pop_front();
    return true;
}

void TPublishQueue::Wake() {
    {
        std::lock_guard lock(FLock);
        FWoken = true;
    }
    FChanged.notify_all();
}

void TPublishQueue::Reset() {
    std::lock_guard lock(FLock);
    FWoken = false;
    FReadyNew = false;
    FPcm.clear();
    FCounts = TCounts{};
}

bool TPublishQueue::Woken() const {
    std::lock_guard lock(FLock);
    return FWoken;
}

TPublishQueue::TCounts TPublishQueue::Counts() const {
    std::lock_guard lock(FLock);
    return FCounts;
}

} // namespace sw
