#include "platform/sound/WaveIn.h"

#include "platform/shell/CustomEvents.h"
#include "platform/sound/AlsaSoundSource.h"
#include "platform/sound/TestToneSource.h"
#include "platform/sound/ThreadedWaveIn.h"

#include <atomic>
#include <charconv>
#include <cstdlib>
#include <cstring>

namespace sw {

namespace {

std::atomic<uint64_t> gNextHandle{1};

// The PCM name a table entry opens: hardware through the plug layer, so that any rate, width and
// channel count the caller asks for is converted from what the card delivers.
std::string PcmName(const TSoundInputEntry& entry) {
    if (entry.Kind == TSoundInputKind::Alsa && entry.AlsaName.rfind("hw:", 0) == 0) {
        return "plug" + entry.AlsaName;
    }
    return entry.AlsaName;
}

} // namespace

TWaveInEvent::TWaveInEvent(uint32_t message, uint64_t handle, TWaveHdr* header)
    : QEvent(WaveInEventType(message)), Message(message), Handle(handle), Header(header) {}

static_assert(kEventWaveInBase + MM_WIM_OPEN == kEventWaveInFirst &&
              kEventWaveInBase + MM_WIM_FAILED == kEventWaveInLast);

QEvent::Type WaveInEventType(uint32_t message) {
    return static_cast<QEvent::Type>(kEventWaveInBase + static_cast<int>(message));
}

TWaveIn::TWaveIn() : FHandle(gNextHandle.fetch_add(1)) {}

std::string WaveFormatProblem(const TWaveFormatEx& format) {
    if (format.wFormatTag != WAVE_FORMAT_PCM) {
        return "Format tag " + std::to_string(format.wFormatTag) + " is not PCM";
    }
    if (format.wBitsPerSample != 8 && format.wBitsPerSample != 16) {
        return std::to_string(format.wBitsPerSample) + " bits per sample cannot be recorded (8 or 16)";
    }
    if (format.nChannels == 0) {
        return "No channels";
    }
    if (format.nSamplesPerSec == 0) {
        return "No samples per second";
    }
    const uint32_t blockAlign = static_cast<uint32_t>(format.nChannels) * format.wBitsPerSample / 8;
    if (format.nBlockAlign != blockAlign) {
        return "Block alignment " + std::to_string(format.nBlockAlign) +
               " does not match the channels and bits";
    }
    if (static_cast<uint64_t>(format.nAvgBytesPerSec) !=
        static_cast<uint64_t>(blockAlign) * format.nSamplesPerSec) {
        return "Bytes per second " + std::to_string(format.nAvgBytesPerSec) + " do not match the rate";
    }
    return {};
}

int TestToneDeviceId() {
    const auto entries = SoundInputEntries();
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].Kind == TSoundInputKind::TestTone) {
            return static_cast<int>(i);
        }
    }
    return -2;
}

int TestToneFrequency() {
    constexpr int kDefault = 1000;
    const char* text = std::getenv("SW_TEST_TONE_HZ");
    if (!text) {
        return kDefault;
    }
    int value = 0;
    const char* end = text + std::strlen(text);
    const auto [last, error] = std::from_chars(text, end, value);
    if (error != std::errc() || last != end || value < 1 || value > 20000) {
        return kDefault;
    }
    return value;
}

uint32_t waveInOpen(std::unique_ptr<TWaveIn>* device, int deviceId, const TWaveFormatEx* format,
                    QObject* callback, uint32_t flags) {
    const bool query = (flags & WAVE_FORMAT_QUERY) != 0;
    const uint32_t callbackType = flags & CALLBACK_TYPEMASK;
    if (!format || (!query && !device)) {
        return MMSYSERR_INVALPARAM;
    }
    if (callbackType != CALLBACK_NULL && callbackType != CALLBACK_WINDOW) {
        return MMSYSERR_INVALFLAG;
    }
    TSoundInputEntry entry;
    if (!SoundInputEntry(deviceId, entry)) {
        return MMSYSERR_BADDEVICEID;
    }
    if (!WaveFormatProblem(*format).empty()) {
        return WAVERR_BADFORMAT;
    }
    std::unique_ptr<TSoundSource> source;
    if (entry.Kind == TSoundInputKind::TestTone) {
        if (TestToneFaults().Unplugged) {
            return MMSYSERR_NODRIVER;
        }
        if (query) {
            return MMSYSERR_NOERROR;
        }
        source = std::make_unique<TTestToneSource>(*format, TestToneFrequency());
    } else {
        if (query) {
            return TAlsaSoundSource::Query(PcmName(entry), *format);
        }
        std::unique_ptr<TAlsaSoundSource> alsa;
        if (const uint32_t result = TAlsaSoundSource::Open(PcmName(entry), *format, alsa);
            result != MMSYSERR_NOERROR) {
            return result;
        }
        source = std::move(alsa);
    }
    *device = std::make_unique<TThreadedWaveIn>(std::move(source), *format,
                                                callbackType == CALLBACK_WINDOW ? callback : nullptr);
    return MMSYSERR_NOERROR;
}

} // namespace sw
