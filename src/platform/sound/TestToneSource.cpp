#include "platform/sound/TestToneSource.h"

#include <cmath>
#include <numbers>

namespace sw {

namespace {

constexpr double kAmplitude = 0.5 * 32767.0;
constexpr int64_t kNanosPerSecond = 1000000000;

} // namespace

TTestToneFaults& TestToneFaults() {
    static TTestToneFaults faults;
    return faults;
}

TTestToneSource::TTestToneSource(const TWaveFormatEx& format, int frequencyHz)
    : FFormat(format), FFrequencyHz(frequencyHz), FUnplugs(TestToneFaults().Unplugs) {}

int16_t TTestToneSource::Sample(uint64_t frame, uint32_t rate, int frequencyHz) {
    // The phase is taken modulo one period in whole numbers, so hours of tone lose no precision.
    const uint64_t phase = (frame % rate) * static_cast<uint64_t>(frequencyHz) % rate;
    const double angle = 2.0 * std::numbers::pi * static_cast<double>(phase) / static_cast<double>(rate);
    return static_cast<int16_t>(std::lround(kAmplitude * std::sin(angle)));
}

uint32_t TTestToneSource::Begin() {
    FStartTime = TClock::now();
    FNextFrame = 0;
    return MMSYSERR_NOERROR;
}

void TTestToneSource::Halt() {}

uint64_t TTestToneSource::FramesDue(TClock::time_point now) const {
    const int64_t elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(now - FStartTime).count();
    if (elapsed <= 0) {
        return 0;
    }
    const uint64_t rate = FFormat.nSamplesPerSec;
    const uint64_t seconds = static_cast<uint64_t>(elapsed / kNanosPerSecond);
    const uint64_t nanos = static_cast<uint64_t>(elapsed % kNanosPerSecond);
    return seconds * rate + nanos * rate / kNanosPerSecond;
}

TTestToneSource::TClock::time_point TTestToneSource::DueTime(uint64_t frame) const {
    const uint64_t rate = FFormat.nSamplesPerSec;
    const uint64_t seconds = frame / rate;
    const uint64_t rest = frame % rate;
    const uint64_t nanos = (rest * kNanosPerSecond + rate - 1) / rate;
    return FStartTime + std::chrono::seconds(seconds) + std::chrono::nanoseconds(nanos);
}

long TTestToneSource::Read(uint8_t* data, uint32_t maxFrames) {
    std::unique_lock lock(FLock);
    for (;;) {
        if (FWakeRequested) {
            FWakeRequested = false;
            return 0;
        }
        if (TestToneFaults().Unplugged || TestToneFaults().Unplugs != FUnplugs) {
            return -1;
        }
        const uint64_t due = FramesDue(TClock::now());
        if (due > FNextFrame + FFormat.nSamplesPerSec) {
            FNextFrame = due - FFormat.nSamplesPerSec;
        }
        if (due >= FNextFrame + maxFrames) {
            break;
        }
        FWakeSignal.wait_until(lock, DueTime(FNextFrame + maxFrames));
    }
    lock.unlock();
    Generate(data, maxFrames);
    return static_cast<long>(maxFrames);
}

void TTestToneSource::Wake() {
    std::lock_guard lock(FLock);
    FWakeRequested = true;
    FWakeSignal.notify_all();
}

void TTestToneSource::Generate(uint8_t* data, uint32_t frames) {
    const uint32_t channels = FFormat.nChannels;
    for (uint32_t i = 0; i < frames; ++i, ++FNextFrame) {
        const int16_t value = Sample(FNextFrame, FFormat.nSamplesPerSec, FFrequencyHz);
        for (uint32_t c = 0; c < channels; ++c) {
            if (FFormat.wBitsPerSample == 8) {
                *data++ = static_cast<uint8_t>((static_cast<uint16_t>(value) >> 8) ^ 0x80);
            } else {
                const uint16_t bits = static_cast<uint16_t>(value);
                *data++ = static_cast<uint8_t>(bits & 0xFF);
                *data++ = static_cast<uint8_t>(bits >> 8);
            }
        }
    }
}

} // namespace sw
