#pragma once

#include "platform/sound/ThreadedWaveIn.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace sw {

// Failures a test can inject into the test tone device; process-wide, off by default.
struct TTestToneFaults {
    // Pulled out: open devices fail for good, as an unplugged sound card's stream does, and opening
    // fails until Replug.
    std::atomic<bool> Unplugged{false};
    std::atomic<uint32_t> Unplugs{0};

    void Unplug() {
        ++Unplugs;
        Unplugged = true;
    }
    void Replug() { Unplugged = false; }
};
TTestToneFaults& TestToneFaults();

// The built-in test tone: a sine of a fixed frequency at half of full scale, the same on every
// channel, produced at the format's rate as the clock advances. Frame n is always sin(2 pi f n / rate)
// counted from Begin, and the frames due are computed from the start time, so the rate cannot drift.
// Frames that nobody reads for longer than a second are dropped, as a sound card overruns.
class TTestToneSource : public TSoundSource {
public:
    TTestToneSource(const TWaveFormatEx& format, int frequencyHz);

    uint32_t Begin() override;
    void Halt() override;
    long Read(uint8_t* data, uint32_t maxFrames) override;
    void Wake() override;

    // The 16-bit sample of frame n; the 8-bit sample is its high byte with the top bit flipped.
    static int16_t Sample(uint64_t frame, uint32_t rate, int frequencyHz);

private:
    using TClock = std::chrono::steady_clock;

    uint64_t FramesDue(TClock::time_point now) const;
    TClock::time_point DueTime(uint64_t frame) const;
    void Generate(uint8_t* data, uint32_t frames);

    TWaveFormatEx FFormat;
    int FFrequencyHz;
    uint32_t FUnplugs;
    TClock::time_point FStartTime;
    uint64_t FNextFrame = 0;

    std::mutex FLock;
    std::condition_variable FWakeSignal;
    bool FWakeRequested = false;
};

} // namespace sw
