#pragma once

#include "audio/AudioSink.h"
#include "audio/PcmTap.h"
#include "log/LogPost.h"
#include "platform/sound/WaveIn.h"

#include <QObject>
#include <QTimer>
#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sw {

class TAudioConfiguration;

enum TAudioState : uint8_t {
    AudioIdle = 0,      // no format prepared
    AudioReady = 1,     // format prepared, device closed
    AudioRecording = 2, // device open, capture started
};

constexpr int kWaveBufferCount = 8;
// Longest capture buffer accepted from the settings, in 16-bit units (2 MB).
constexpr int32_t kMaxFrameSize = 1 << 20;

using TWaveBuffer = std::vector<int16_t>;

// Sound capture for the broadcast: records the chosen input into eight rotating buffers and turns each
// filled buffer into 8000 mu-law bytes per second for the sink. Lives on the main thread, where the
// device's notifications arrive as events to this object; nothing here needs a lock.
//
// A device that fails for good while recording (unplugged, a stream recovery cannot restart) is lost:
// one "Device lost" entry, silence encoded and sent at the buffers' pace so audio viewers stay
// connected and in step, and the same input (by its identity, wherever it is in the table now) opened
// again with back-off; the first success ends the loss with one "Device restored" entry.
class TAudioCapture : public QObject {
public:
    static constexpr int kFirstRetryMs = 500;
    static constexpr int kMaxRetryMs = 4000;

    TAudioCapture(TAudioConfiguration& settings, TMessageWindow messageWindow, TAudioSink& sink,
                  QObject* parent = nullptr);
    ~TAudioCapture() override;

    // Where each filled buffer goes as recorded, before encoding (the publisher); none by default.
    void SetPcmTap(TPcmTap* tap) { FPcmTap = tap; }

    // Where devices are opened; waveInOpen unless replaced.
    void SetOpener(TWaveInOpener opener) { FOpen = std::move(opener); }

    TAudioState AudioState() const { return FAudioState; }
    TWaveIn* WaveIn() const { return FWaveIn.get(); }
    const TWaveFormatEx& WaveFormat() const { return FWaveFormat; }
    const std::array<TWaveBuffer, kWaveBufferCount>& WaveBuffers() const { return FWaveBuffers; }
    const std::array<TWaveHdr, kWaveBufferCount>& WaveHeaders() const { return FWaveHeaders; }
    const std::vector<uint8_t>& AudioOutput() const { return FAudioOutput; }
    bool DeviceLost() const { return FDeviceLost; }

    // Prepares WaveFormat from the settings.
    void InitializeAudio();
    void FinalizeAudio();
    // False when the device could not be opened or started; the broadcast then stops.
    bool StartAudioCapture();
    void StopAudioCapture();

    // Each calls one device operation and logs its outcome; true on success.
    bool AudioOpen();
    bool AudioClose();
    bool AudioStart();
    bool AudioStop();
    bool AudioReset();

    bool QueueWaveBuffer(TWaveHdr& header);
    // Encodes a filled buffer and hands the bytes to the sink.
    void ProcessWaveBuffer(TWaveHdr& header);

    // The audio "Compression..." action: lets the operator pick one of the formats the device can record
    // and stores it. Runs only in AudioReady; false when it did not run.
    bool ChooseAudioFormat();

    // The seven "label = value" lines of WaveFormat, as the open logs them.
    static std::string WaveFormatLines(const TWaveFormatEx& format);
    static std::string FailureText(uint32_t result);

protected:
    bool event(QEvent* event) override;

private:
    void LogAudio(uint8_t level, uint8_t message, const std::string& detail, const std::string& values = {});
    bool LogResult(uint8_t message, uint32_t result);
    uint32_t DeviceOperation(uint32_t (TWaveIn::*operation)());
    // Why the current format and buffer size cannot be captured, or "".
    std::string CaptureProblem() const;
    void WaveInData(const TWaveInEvent& event);
    // Sizes the eight buffers and queues them on the open device.
    void QueueAllBuffers();
    void DeviceFailed(const TWaveInEvent& event);
    void SendSilence();
    void ReopenDevice();

    TAudioConfiguration& FSettings;
    TMessageWindow FMessageWindow;
    TAudioSink& FSink;
    TPcmTap* FPcmTap = nullptr;
    TWaveInOpener FOpen;

    TAudioState FAudioState = AudioIdle;
    std::unique_ptr<TWaveIn> FWaveIn;
    TWaveFormatEx FWaveFormat;
    std::array<TWaveBuffer, kWaveBufferCount> FWaveBuffers;
    std::array<TWaveHdr, kWaveBufferCount> FWaveHeaders{};
    std::vector<uint8_t> FAudioOutput;

    int FDeviceId = 0;
    std::string FDeviceIdentity;
    bool FDeviceLost = false;
    int FRetryMs = kFirstRetryMs;
    std::chrono::steady_clock::time_point FLostSince;
    QTimer FRetryTimer;
    QTimer FSilenceTimer;
};

} // namespace sw
