#pragma once

#include "platform/sound/WaveIn.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace sw {

// Where a device's samples come from. Begin and Halt run on the opening thread while the capture thread
// is not reading; Read runs on the capture thread only; Wake may be called from any thread.
class TSoundSource {
public:
    virtual ~TSoundSource() = default;
    // Starts producing frames; a waveform-audio result code.
    virtual uint32_t Begin() = 0;
    // Stops producing frames; frames not read yet are dropped.
    virtual void Halt() = 0;
    // Waits for frames and copies at most maxFrames whole frames to data. Returns the frame count,
    // 0 when woken or nothing arrived yet, -1 when the source failed for good.
    virtual long Read(uint8_t* data, uint32_t maxFrames) = 0;
    // Makes a waiting Read return soon.
    virtual void Wake() = 0;
};

// A sound input that fills the queued buffers in order on its own capture thread ("sound") and posts
// one MM_WIM_DATA notification per filled buffer, and MM_WIM_FAILED once when the source fails for good.
//
// Threads: the opening thread adds buffers and starts, stops, resets and closes; the capture thread
// reads from the source while started and a buffer is queued, and copies into the queue under FLock.
// Stop, Reset and Close wake the source and wait until the capture thread has left Read, so the source
// is never used by two threads at once, and a buffer handed back is never written again.
class TThreadedWaveIn : public TWaveIn {
public:
    TThreadedWaveIn(std::unique_ptr<TSoundSource> source, const TWaveFormatEx& format, QObject* callback);
    ~TThreadedWaveIn() override;

    uint32_t PrepareHeader(TWaveHdr* header) override;
    uint32_t UnprepareHeader(TWaveHdr* header) override;
    uint32_t AddBuffer(TWaveHdr* header) override;
    uint32_t Start() override;
    uint32_t Stop() override;
    uint32_t Reset() override;
    uint32_t Close() override;

private:
    void CaptureLoop();
    // FLock held: copies frames into the queued buffers, handing back each one that fills up.
    void Deliver(const uint8_t* data, size_t bytes);
    // FLock held: takes the front buffer off the queue and posts it.
    void Complete();
    // FLock held (by lock): stops the capture thread reading and halts the source.
    void Quiesce(std::unique_lock<std::mutex>& lock);
    void Post(uint32_t message, TWaveHdr* header);
    void StopThread();

    std::unique_ptr<TSoundSource> FSource;
    QObject* FCallback;
    uint32_t FBlockAlign;

    std::mutex FLock;
    std::condition_variable FWork; // queue, start or quit changed
    std::condition_variable FIdle; // the capture thread left Read
    std::deque<TWaveHdr*> FQueue;
    bool FStarted = false;
    bool FReading = false;
    bool FQuit = false;
    bool FSourceFailed = false;
    bool FClosed = false;
    std::thread FThread;
};

} // namespace sw
