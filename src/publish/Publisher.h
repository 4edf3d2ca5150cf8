#pragma once

#include "audio/PcmTap.h"
#include "log/LogPost.h"
#include "publish/PublishQueue.h"
#include "publish/PublishSession.h"
#include "publish/PublishUrl.h"
#include "video/FrameTap.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace sw {

// What Start publishes: the URL and the "Publish" settings, and the broadcast's picture and sound.
struct TPublishSettings {
    std::string Url;
    int32_t VideoBitrateKbps = 0;
    int32_t KeyframeSeconds = 2;
    bool Video = false;
    int32_t Width = 0;
    int32_t Height = 0;
    uint32_t MicroSecPerFrame = 33333;
    bool Audio = false;
    TWaveFormatEx AudioFormat;
};

// Sends the broadcast to a media server next to the built-in ports. The video thread's frames and the
// sound buffers are handed over through TPublishQueue (main thread, never waiting); the publisher's own
// thread, "publish", encodes, connects and sends, and reconnects with a growing pause (1, 2, 4 ... 30 s)
// while the broadcast runs. Whatever happens there, the broadcast to the built-in ports goes on.
class TPublisher : public TFrameTap, public TPcmTap {
public:
    explicit TPublisher(TMessageWindow logWindow);
    ~TPublisher() override;
    TPublisher(const TPublisher&) = delete;
    TPublisher& operator=(const TPublisher&) = delete;

    // Main thread. Logs "Start" and starts the thread; a URL that cannot work is one Error entry and no
    // thread. Returns whether publishing runs.
    bool Start(const TPublishSettings& settings);
    // Main thread: ends the thread (its network calls give up at once) and logs "Stop" with the counts.
    // Nothing when not running.
    void Stop();
    bool Running() const { return FRunning; }

    void FrameReady(const TBitmap& frame, uint32_t frameNumber) override;
    void PcmReady(const TWaveFormatEx& format, const uint8_t* data, size_t bytes, int32_t volume) override;

    struct TCounts {
        uint64_t FramesIn = 0;
        uint64_t FramesPublished = 0;
        uint64_t PcmIn = 0;
        uint64_t PcmPublished = 0;
        uint64_t Connects = 0;
    };
    // Of the current or the last run.
    TCounts Counts() const;

    // The pause before reconnect attempt n (from 1): 1, 2, 4, 8, 16, then 30 s.
    static int BackoffSeconds(int attempt);

private:
    void Execute();
    // Waits up to seconds, or until Stop.
    void Pause(int seconds);
    void Discard();
    bool Stream(TPublishSession& session, std::string& error, bool& slowEncoder);
    void LogEntry(uint8_t level, uint8_t message, const std::string& values = {});

    TMessageWindow FLogWindow;
    TPublishQueue FQueue;
    TPublishTarget FTarget;
    TPublishFormat FFormat;
    std::atomic<bool> FRunning{false};
    std::atomic<bool> FStop{false};
    std::atomic<uint64_t> FFramesPublished{0};
    std::atomic<uint64_t> FPcmPublished{0};
    std::atomic<uint64_t> FConnects{0};
    std::thread FThread;
};

} // namespace sw
