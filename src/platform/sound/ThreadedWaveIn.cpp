#include "platform/sound/ThreadedWaveIn.h"

#include "platform/shell/ThreadHandOff.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstring>
#include <pthread.h>
#include <vector>

namespace sw {

namespace {

// One read covers at most this many frames, so a large buffer still fills in steps and a Stop
// finds the thread soon.
constexpr uint32_t kMaxReadFrames = 4096;

} // namespace

TThreadedWaveIn::TThreadedWaveIn(std::unique_ptr<TSoundSource> source, const TWaveFormatEx& format,
                                 QObject* callback)
    : FSource(std::move(source)), FCallback(callback),
      FBlockAlign(std::max<uint32_t>(1, format.nBlockAlign)) {
    FThread = std::thread([this] { CaptureLoop(); });
    Post(MM_WIM_OPEN, nullptr);
}

TThreadedWaveIn::~TThreadedWaveIn() {
    {
        std::unique_lock lock(FLock);
        if (!FClosed) {
            Quiesce(lock);
            for (TWaveHdr* header : FQueue) {
                header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
            }
            FQueue.clear();
        }
    }
    StopThread();
}

uint32_t TThreadedWaveIn::PrepareHeader(TWaveHdr* header) {
    if (!header || !header->lpData) {
        return MMSYSERR_INVALPARAM;
    }
    std::lock_guard lock(FLock);
    if (FClosed) {
        return MMSYSERR_INVALHANDLE;
    }
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

uint32_t TThreadedWaveIn::UnprepareHeader(TWaveHdr* header) {
    if (!header) {
        return MMSYSERR_INVALPARAM;
    }
    std::lock_guard lock(FLock);
    if (FClosed) {
        return MMSYSERR_INVALHANDLE;
    }
    if (header->dwFlags & WHDR_INQUEUE) {
        return WAVERR_STILLPLAYING;
    }
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

uint32_t TThreadedWaveIn::AddBuffer(TWaveHdr* header) {
    if (!header || !header->lpData) {
        return MMSYSERR_INVALPARAM;
    }
    std::lock_guard lock(FLock);
    if (FClosed) {
        return MMSYSERR_INVALHANDLE;
    }
    if (!(header->dwFlags & WHDR_PREPARED)) {
        return WAVERR_UNPREPARED;
    }
    if (header->dwFlags & WHDR_INQUEUE) {
        return WAVERR_STILLPLAYING;
    }
    // Only whole frames are recorded, so a buffer shorter than one frame could never fill.
    if (header->dwBufferLength < FBlockAlign) {
        return MMSYSERR_INVALPARAM;
    }
    header->dwBytesRecorded = 0;
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    header->lpNext = nullptr;
    FQueue.push_back(header);
    FWork.notify_all();
    return MMSYSERR_NOERROR;
}

uint32_t TThreadedWaveIn::Start() {
    std::lock_guard lock(FLock);
    if (FClosed) {
        return MMSYSERR_INVALHANDLE;
    }
    if (FStarted) {
        return MMSYSERR_NOERROR;
    }
    // The capture thread is idle while not started, so the source is ours alone here.
    const uint32_t result = FSource->Begin();
    if (result != MMSYSERR_NOERROR) {
        return result;
    }
    FStarted = true;
    FSourceFailed = false;
    FWork.notify_all();
    return MMSYSERR_NOERROR;
}

uint32_t TThreadedWaveIn::Stop() {
    std::unique_lock lock(FLock);
    if (FClosed) {
        return MMSYSERR_INVALHANDLE;
    }
    if (!FStarted) {
        return MMSYSERR_NOERROR;
    }
    Quiesce(lock);
    if (!FQueue.empty() && FQueue.front()->dwBytesRecorded > 0) {
        Complete();
    }
    return MMSYSERR_NOERROR;
}

uint32_t TThreadedWaveIn::Reset() {
    std::unique_lock lock(FLock);
    if (FClosed) {
        return MMSYSERR_INVALHANDLE;
    }
    if (FStarted) {
        Quiesce(lock);
    }
    while (!FQueue.empty()) {
        Complete();
    }
    return MMSYSERR_NOERROR;
}

uint32_t TThreadedWaveIn::Close() {
    {
        std::unique_lock lock(FLock);
        if (FClosed) {
            return MMSYSERR_INVALHANDLE;
        }
        if (!FQueue.empty()) {
            return WAVERR_STILLPLAYING;
        }
        if (FStarted) {
            Quiesce(lock);
        }
        FClosed = true;
    }
    StopThread();
    FSource.reset();
    Post(MM_WIM_CLOSE, nullptr);
    return MMSYSERR_NOERROR;
}

void TThreadedWaveIn::Quiesce(std::unique_lock<std::mutex>& lock) {
    const bool wasStarted = FStarted;
    FStarted = false;
    if (FReading) {
        FSource->Wake();
        FIdle.wait(lock, [this] { return !FReading; });
    }
    if (wasStarted) {
        FSource->Halt();
    }
}

void TThreadedWaveIn::StopThread() {
    {
        std::lock_guard lock(FLock);
        FQuit = true;
        FWork.notify_all();
    }
    if (FThread.joinable()) {
        FThread.join();
    }
}

void TThreadedWaveIn::Post(uint32_t message, TWaveHdr* header) {
    if (FCallback) {
        auto event = std::make_unique<TWaveInEvent>(message, Handle(), header);
        HandOffToThread(event.get());
        QCoreApplication::postEvent(FCallback, event.release());
    }
}

void TThreadedWaveIn::Complete() {
    TWaveHdr* header = FQueue.front();
    FQueue.pop_front();
    header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    Post(MM_WIM_DATA, header);
}

void TThreadedWaveIn::Deliver(const uint8_t* data, size_t bytes) {
    while (bytes > 0 && !FQueue.empty()) {
        TWaveHdr* header = FQueue.front();
        const uint32_t capacity = header->dwBufferLength / FBlockAlign * FBlockAlign;
        const size_t count = std::min<size_t>(capacity - header->dwBytesRecorded, bytes);
        std::memcpy(header->lpData + header->dwBytesRecorded, data, count);
        header->dwBytesRecorded += static_cast<uint32_t>(count);
        data += count;
        bytes -= count;
        if (header->dwBytesRecorded == capacity) {
            Complete();
        }
    }
}

void TThreadedWaveIn::CaptureLoop() {
    pthread_setname_np(pthread_self(), "sound");
    std::vector<uint8_t> scratch(static_cast<size_t>(kMaxReadFrames) * FBlockAlign);
    std::unique_lock lock(FLock);
    while (!FQuit) {
        if (!FStarted || FQueue.empty() || FSourceFailed) {
            if (FReading) {
                FReading = false;
                FIdle.notify_all();
            }
            FWork.wait(lock);
            continue;
        }
        FReading = true;
        const TWaveHdr* front = FQueue.front();
        const uint32_t roomFrames =
            (front->dwBufferLength / FBlockAlign) - front->dwBytesRecorded / FBlockAlign;
        const uint32_t frames = std::clamp<uint32_t>(roomFrames, 1, kMaxReadFrames);
        lock.unlock();
        const long got = FSource->Read(scratch.data(), frames);
        lock.lock();
        if (got < 0) {
            FSourceFailed = true;
            Post(MM_WIM_FAILED, nullptr);
        } else if (got > 0 && FStarted) {
            Deliver(scratch.data(), static_cast<size_t>(got) * FBlockAlign);
        }
    }
    FReading = false;
    FIdle.notify_all();
}

} // namespace sw
