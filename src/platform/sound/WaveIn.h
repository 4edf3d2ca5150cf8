#pragma once

#include "platform/sound/SoundInputTable.h"

#include <QEvent>
#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace sw {

constexpr uint16_t WAVE_FORMAT_PCM = 1;

// The 18-byte format record handed to the device and to the format chooser.
#pragma pack(push, 1)
struct TWaveFormatEx {
    uint16_t wFormatTag = 0;
    uint16_t nChannels = 0;
    uint32_t nSamplesPerSec = 0;
    uint32_t nAvgBytesPerSec = 0;
    uint16_t nBlockAlign = 0;
    uint16_t wBitsPerSample = 0;
    uint16_t cbSize = 0;
};
#pragma pack(pop)
static_assert(sizeof(TWaveFormatEx) == 18);

// One capture buffer as the device sees it. The buffer memory belongs to the caller; while the
// header is queued (WHDR_INQUEUE) only the device touches it.
struct TWaveHdr {
    uint8_t* lpData = nullptr;
    uint32_t dwBufferLength = 0;
    uint32_t dwBytesRecorded = 0;
    uintptr_t dwUser = 0;
    uint32_t dwFlags = 0;
    uint32_t dwLoops = 0;
    TWaveHdr* lpNext = nullptr;
    uintptr_t reserved = 0;
};

constexpr uint32_t WHDR_DONE = 0x01;
constexpr uint32_t WHDR_PREPARED = 0x02;
constexpr uint32_t WHDR_INQUEUE = 0x10;

// Open flags.
constexpr uint32_t WAVE_FORMAT_QUERY = 0x0001;
constexpr uint32_t WAVE_ALLOWSYNC = 0x0002;
constexpr uint32_t CALLBACK_NULL = 0x00000000;
constexpr uint32_t CALLBACK_WINDOW = 0x00010000;
constexpr uint32_t CALLBACK_TYPEMASK = 0x00070000;

// Notifications of an open device, posted to its callback object when opened with CALLBACK_WINDOW.
constexpr uint32_t MM_WIM_OPEN = 0x3BE;
constexpr uint32_t MM_WIM_CLOSE = 0x3BF;
constexpr uint32_t MM_WIM_DATA = 0x3C0;
// Not a waveform-audio message: the device failed for good (unplugged, a stream that recovery cannot
// restart). Buffers still queued stay queued until Reset or the device's destruction.
constexpr uint32_t MM_WIM_FAILED = 0x3C1;

// A device notification; its Qt event type is WaveInEventType(Message). Handle names the device that
// posted it, so a notification that outlives its device can be told apart from a newer device's.
class TWaveInEvent : public QEvent {
public:
    TWaveInEvent(uint32_t message, uint64_t handle, TWaveHdr* header);
    uint32_t Message;
    uint64_t Handle;
    TWaveHdr* Header; // the filled buffer of MM_WIM_DATA, else nullptr
};

QEvent::Type WaveInEventType(uint32_t message);

// An open sound input. Every operation runs on the thread that opened it; the filled buffers come back
// as MM_WIM_DATA notifications in the order they were added.
class TWaveIn {
public:
    TWaveIn();
    virtual ~TWaveIn() = default;
    TWaveIn(const TWaveIn&) = delete;
    TWaveIn& operator=(const TWaveIn&) = delete;

    // Unique for the process's lifetime; carried by every notification of this device.
    uint64_t Handle() const { return FHandle; }

    virtual uint32_t PrepareHeader(TWaveHdr* header) = 0;
    virtual uint32_t UnprepareHeader(TWaveHdr* header) = 0;
    virtual uint32_t AddBuffer(TWaveHdr* header) = 0;
    virtual uint32_t Start() = 0;
    // Stops recording; a partly filled buffer comes back, empty ones stay queued.
    virtual uint32_t Stop() = 0;
    // Stops recording and hands every queued buffer back.
    virtual uint32_t Reset() = 0;
    // Fails with WAVERR_STILLPLAYING while buffers are queued. Destroying an open device resets and
    // closes it without notifications.
    virtual uint32_t Close() = 0;

private:
    uint64_t FHandle;
};

// Opens device deviceId (an index of the sound input table or WAVE_MAPPER) for recording in format.
// With WAVE_FORMAT_QUERY only tells whether the device can record that format (device may be nullptr).
uint32_t waveInOpen(std::unique_ptr<TWaveIn>* device, int deviceId, const TWaveFormatEx* format,
                    QObject* callback, uint32_t flags);

// The signature of waveInOpen, so a caller can be handed another device source.
using TWaveInOpener =
    std::function<uint32_t(std::unique_ptr<TWaveIn>*, int, const TWaveFormatEx*, QObject*, uint32_t)>;

// Empty when the devices can record format; otherwise why not. Only 8-bit unsigned and 16-bit signed
// PCM with consistent block alignment and byte rate can be recorded.
std::string WaveFormatProblem(const TWaveFormatEx& format);

// The table index of the built-in test tone generator.
int TestToneDeviceId();

// Frequency of the test tone: the environment variable SW_TEST_TONE_HZ when it holds a whole number
// from 1 to 20000, else 1000.
int TestToneFrequency();

} // namespace sw
