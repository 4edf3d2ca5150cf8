#include "audio/AudioCapture.h"

#include "audio/AudioFormatChoice.h"
#include "audio/MuLaw.h"
#include "config/Configuration.h"
#include "platform/shell/OperatorPrompts.h"
#include "platform/shell/ThreadHandOff.h"

#include <algorithm>

namespace sw {

namespace {

// As the 16-bit and 32-bit fields of the format record hold them, wrapping instead of overflowing.
void ComputeBlockAlign(TWaveFormatEx& format) {
    format.nBlockAlign = static_cast<uint16_t>(uint32_t{format.nChannels} * format.wBitsPerSample / 8);
    format.nAvgBytesPerSec = uint32_t{format.nBlockAlign} * format.nSamplesPerSec;
    format.cbSize = 0;
}

} // namespace

TAudioCapture::TAudioCapture(TAudioConfiguration& settings, TMessageWindow messageWindow, TAudioSink& sink,
                             QObject* parent)
    : QObject(parent), FSettings(settings), FMessageWindow(messageWindow), FSink(sink), FOpen(waveInOpen) {
    FRetryTimer.setSingleShot(true);
    connect(&FRetryTimer, &QTimer::timeout, this, [this] { ReopenDevice(); });
    connect(&FSilenceTimer, &QTimer::timeout, this, [this] { SendSilence(); });
}

TAudioCapture::~TAudioCapture() {
    // An open device is reset and closed by its destructor without notifications.
    FWaveIn.reset();
}

void TAudioCapture::LogAudio(uint8_t level, uint8_t message, const std::string& detail,
                             const std::string& values) {
    Log(FMessageWindow, level, message, Now(), detail, values);
}

std::string TAudioCapture::FailureText(uint32_t result) {
    return "Failed (" + std::to_string(result) + ")";
}

bool TAudioCapture::LogResult(uint8_t message, uint32_t result) {
    if (result == MMSYSERR_NOERROR) {
        LogAudio(llInformation, message, "Ok");
        return true;
    }
    LogAudio(llError, message, FailureText(result));
    return false;
}

std::string TAudioCapture::WaveFormatLines(const TWaveFormatEx& format) {
    return "wFormatTag      = " + std::to_string(format.wFormatTag) + "\n" +
           "nChannels       = " + std::to_string(format.nChannels) + "\n" +
           "nSamplesPerSec  = " + std::to_string(format.nSamplesPerSec) + "\n" +
           "wBitsPerSample  = " + std::to_string(format.wBitsPerSample) + "\n" +
           "nBlockAlign     = " + std::to_string(format.nBlockAlign) + "\n" +
           "nAvgBytesPerSec = " + std::to_string(format.nAvgBytesPerSec) + "\n" +
           "cbSize          = " + std::to_string(format.cbSize);
}

void TAudioCapture::InitializeAudio() {
    if (FAudioState == AudioReady) {
        FinalizeAudio();
    }
    FWaveFormat = TWaveFormatEx();
    LogAudio(llInformation, lmAudioInitializing, FSettings.DeviceNames(FSettings.Device()));
    FWaveFormat.wFormatTag = static_cast<uint16_t>(FSettings.Format());
    FWaveFormat.nSamplesPerSec = static_cast<uint32_t>(FSettings.Frequency());
    FWaveFormat.wBitsPerSample = static_cast<uint16_t>(FSettings.Bits());
    FWaveFormat.nChannels = static_cast<uint16_t>(FSettings.Channels());
    ComputeBlockAlign(FWaveFormat);
    FAudioState = AudioReady;
}

void TAudioCapture::FinalizeAudio() {
    // Leaving AudioRecording without Stop would strand an open device that no Stop closes any more.
    if (FAudioState == AudioRecording) {
        StopAudioCapture();
    }
    FAudioState = AudioIdle;
}

std::string TAudioCapture::CaptureProblem() const {
    std::string problem = WaveFormatProblem(FWaveFormat);
    if (!problem.empty()) {
        return problem;
    }
    const int32_t frameSize = FSettings.FrameSize();
    if (frameSize < 1 || frameSize > kMaxFrameSize || 2 * frameSize < FWaveFormat.nBlockAlign) {
        return "FrameSize " + std::to_string(frameSize) + " cannot hold a whole frame (1 to " +
               std::to_string(kMaxFrameSize) + ")";
    }
    return {};
}

bool TAudioCapture::AudioOpen() {
    const std::string problem = CaptureProblem();
    uint32_t result = WAVERR_BADFORMAT;
    if (problem.empty()) {
        const int deviceId = FSettings.DeviceIds(FSettings.Device());
        result = FOpen(&FWaveIn, deviceId, &FWaveFormat, this, CALLBACK_WINDOW | WAVE_ALLOWSYNC);
    }
    if (result == MMSYSERR_NOERROR && FWaveIn) {
        FDeviceId = FSettings.DeviceIds(FSettings.Device());
        FDeviceIdentity = SoundInputIdentity(FDeviceId);
    }
    if (result != MMSYSERR_NOERROR || !FWaveIn) {
        FWaveIn.reset();
        if (result == MMSYSERR_NOERROR) {
            result = MMSYSERR_ERROR;
        }
        Prompts().ShowMessage("Error opening audio device", TMessageKind::Error);
        LogAudio(llError, lmAudioOpen, FailureText(result),
                 problem.empty() ? std::string() : problem + "\n" + WaveFormatLines(FWaveFormat));
        return false;
    }
    LogAudio(llInformation, lmAudioOpen, "Ok", WaveFormatLines(FWaveFormat));
    return true;
}

uint32_t TAudioCapture::DeviceOperation(uint32_t (TWaveIn::*operation)()) {
    return FWaveIn ? (FWaveIn.get()->*operation)() : MMSYSERR_INVALHANDLE;
}

bool TAudioCapture::AudioClose() {
    return LogResult(lmAudioClose, DeviceOperation(&TWaveIn::Close));
}

bool TAudioCapture::AudioStart() {
    return LogResult(lmAudioStart, DeviceOperation(&TWaveIn::Start));
}

bool TAudioCapture::AudioStop() {
    return LogResult(lmAudioStop, DeviceOperation(&TWaveIn::Stop));
}

bool TAudioCapture::AudioReset() {
    return LogResult(lmAudioReset, DeviceOperation(&TWaveIn::Reset));
}

bool TAudioCapture::StartAudioCapture() {
    if (!FSettings.Enabled()) {
        return true;
    }
    if (FAudioState == AudioRecording) {
        return true;
    }
    if (!AudioOpen()) {
        return false;
    }
    if (!AudioStart()) {
        // A device left open outside AudioRecording would never be closed by Stop.
        AudioClose();
        FWaveIn.reset();
        return false;
    }
    FAudioState = AudioRecording;

    const size_t bufferBytes = 2 * static_cast<size_t>(FSettings.FrameSize());
    const size_t maxSamples = bufferBytes * 8 / FWaveFormat.wBitsPerSample;
    // Below 8000 Hz one buffer encodes to more bytes than it holds.
    FAudioOutput.assign(std::max(bufferBytes, EncodedByteCount(maxSamples, FWaveFormat.nSamplesPerSec,
                                                               FWaveFormat.nChannels)),
                        0);
    QueueAllBuffers();
    return true;
}

void TAudioCapture::QueueAllBuffers() {
    const size_t bufferBytes = 2 * static_cast<size_t>(FSettings.FrameSize());
    for (int i = 0; i < kWaveBufferCount; ++i) {
        TWaveBuffer& buffer = FWaveBuffers[i];
        buffer.assign(static_cast<size_t>(FSettings.FrameSize()), 0);
        TWaveHdr& header = FWaveHeaders[i];
        header = TWaveHdr();
        header.lpData = reinterpret_cast<uint8_t*>(buffer.data());
        header.dwBufferLength = static_cast<uint32_t>(bufferBytes);
        QueueWaveBuffer(header);
    }
}

void TAudioCapture::DeviceFailed(const TWaveInEvent& event) {
    if (FAudioState != AudioRecording || FDeviceLost || !FWaveIn || event.Handle != FWaveIn->Handle()) {
        return;
    }
    FDeviceLost = true;
    FLostSince = std::chrono::steady_clock::now();
    LogAudio(llError, lmAudioDeviceLost, "", FSettings.DeviceNames(FSettings.Device()));
    // Destroying the device hands its queued buffers back without notifications.
    FWaveIn.reset();
    FRetryMs = kFirstRetryMs;
    FRetryTimer.start(FRetryMs);
    const uint32_t frames =
        2 * static_cast<uint32_t>(FSettings.FrameSize()) / std::max<uint32_t>(1, FWaveFormat.nBlockAlign);
    const uint64_t bufferMs = uint64_t{frames} * 1000 / std::max<uint32_t>(1, FWaveFormat.nSamplesPerSec);
    FSilenceTimer.start(static_cast<int>(std::clamp<uint64_t>(bufferMs, 10, 2000)));
}

void TAudioCapture::SendSilence() {
    if (!FDeviceLost || FWaveBuffers[0].empty()) {
        return;
    }
    TWaveHdr& header = FWaveHeaders[0];
    std::fill_n(header.lpData, header.dwBufferLength, FWaveFormat.wBitsPerSample == 8 ? 0x80 : 0x00);
    header.dwBytesRecorded = header.dwBufferLength;
    ProcessWaveBuffer(header);
}

void TAudioCapture::ReopenDevice() {
    if (!FDeviceLost) {
        return;
    }
    const std::optional<int> deviceId =
        FDeviceIdentity.empty() ? std::optional<int>(FDeviceId) : SoundInputByIdentity(FDeviceIdentity);
    std::unique_ptr<TWaveIn> device;
    if (deviceId &&
        FOpen(&device, *deviceId, &FWaveFormat, this, CALLBACK_WINDOW | WAVE_ALLOWSYNC) == MMSYSERR_NOERROR &&
        device && device->Start() == MMSYSERR_NOERROR) {
        FWaveIn = std::move(device);
        FDeviceLost = false;
        FSilenceTimer.stop();
        QueueAllBuffers();
        const auto seconds =
            std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - FLostSince)
                .count();
        LogAudio(llInformation, lmAudioDeviceRestored, "",
                 "Sound resumed after " + std::to_string(seconds) + " s of silence");
        return;
    }
    device.reset();
    FRetryMs = std::min(2 * FRetryMs, kMaxRetryMs);
    FRetryTimer.start(FRetryMs);
}

void TAudioCapture::StopAudioCapture() {
    if (FAudioState != AudioRecording) {
        return;
    }
    FRetryTimer.stop();
    FSilenceTimer.stop();
    if (FDeviceLost) {
        // The device is gone: there is nothing to reset, stop or close.
        FDeviceLost = false;
    } else {
        AudioReset();
        AudioStop();
        AudioClose();
    }
    FAudioOutput.clear();
    FAudioOutput.shrink_to_fit();
    FWaveIn.reset();
    FAudioState = AudioReady;
}

bool TAudioCapture::QueueWaveBuffer(TWaveHdr& header) {
    if (!FWaveIn) {
        return false;
    }
    return FWaveIn->PrepareHeader(&header) == MMSYSERR_NOERROR &&
           FWaveIn->AddBuffer(&header) == MMSYSERR_NOERROR;
}

void TAudioCapture::ProcessWaveBuffer(TWaveHdr& header) {
    if (FWaveIn) {
        FWaveIn->UnprepareHeader(&header);
    }
    const uint32_t bits = FWaveFormat.wBitsPerSample;
    if (bits == 0) {
        return;
    }
    const size_t recorded = std::min(header.dwBytesRecorded, header.dwBufferLength);
    const size_t sampleCount = recorded * 8 / bits;
    const int32_t volume = FSettings.Volume();
    if (FPcmTap) {
        FPcmTap->PcmReady(FWaveFormat, header.lpData, sampleCount * bits / 8, volume);
    }
    size_t count = 0;
    if (bits == 8) {
        count = EncodeWave8(header.lpData, sampleCount, FWaveFormat.nSamplesPerSec, FWaveFormat.nChannels,
                            volume, FAudioOutput.data(), FAudioOutput.size());
    } else {
        count = EncodeWave16(reinterpret_cast<const int16_t*>(header.lpData), sampleCount,
                             FWaveFormat.nSamplesPerSec, FWaveFormat.nChannels, volume, FAudioOutput.data(),
                             FAudioOutput.size());
    }
    try {
        FSink.SendAudio(FAudioOutput.data(), static_cast<int>(count));
    } catch (...) {
        // A failed send must not stop the buffer from circulating.
    }
}

void TAudioCapture::WaveInData(const TWaveInEvent& event) {
    if (FAudioState != AudioRecording || !FWaveIn || event.Handle != FWaveIn->Handle()) {
        return;
    }
    TWaveHdr* header = event.Header;
    const auto owned = std::find_if(FWaveHeaders.begin(), FWaveHeaders.end(),
                                    [header](const TWaveHdr& candidate) { return &candidate == header; });
    if (owned == FWaveHeaders.end()) {
        return;
    }
    ProcessWaveBuffer(*header);
    QueueWaveBuffer(*header);
}

bool TAudioCapture::event(QEvent* event) {
    if (event->type() >= WaveInEventType(MM_WIM_OPEN) && event->type() <= WaveInEventType(MM_WIM_FAILED)) {
        TakeOverFromThread(event);
    }
    if (event->type() == WaveInEventType(MM_WIM_DATA)) {
        WaveInData(static_cast<const TWaveInEvent&>(*event));
        return true;
    }
    if (event->type() == WaveInEventType(MM_WIM_FAILED)) {
        DeviceFailed(static_cast<const TWaveInEvent&>(*event));
        return true;
    }
    if (event->type() == WaveInEventType(MM_WIM_OPEN) || event->type() == WaveInEventType(MM_WIM_CLOSE)) {
        return true;
    }
    return QObject::event(event);
}

bool TAudioCapture::ChooseAudioFormat() {
    if (FAudioState != AudioReady) {
        return false;
    }
    const int deviceId = FSettings.DeviceIds(FSettings.Device());
    uint32_t failure = MMSYSERR_NOERROR;
    const std::vector<TWaveFormatEx> formats = RecordableFormats(FOpen, deviceId, failure);
    if (formats.empty()) {
        LogAudio(llError, lmAudioFormatChoose, FailureText(failure));
        return true;
    }
    std::vector<std::string> names;
    int current = 0;
    for (size_t i = 0; i < formats.size(); ++i) {
        names.push_back(WaveFormatName(formats[i]));
        const TWaveFormatEx& format = formats[i];
        if (format.wFormatTag == FWaveFormat.wFormatTag &&
            format.nSamplesPerSec == FWaveFormat.nSamplesPerSec &&
            format.wBitsPerSample == FWaveFormat.wBitsPerSample &&
            format.nChannels == FWaveFormat.nChannels) {
            current = static_cast<int>(i);
        }
    }
    const std::optional<int> chosen = Prompts().ChooseItem("Audio Compression", "Format:", names, current);
    if (!chosen) {
        LogAudio(llWarning, lmAudioFormatChoose, "Canceled");
        return true;
    }
    if (*chosen < 0 || static_cast<size_t>(*chosen) >= formats.size()) {
        LogAudio(llError, lmAudioFormatChoose, FailureText(MMSYSERR_INVALPARAM));
        return true;
    }
    const TWaveFormatEx& format = formats[static_cast<size_t>(*chosen)];
    FSettings.SetFormat(format.wFormatTag);
    FSettings.SetFrequency(static_cast<int32_t>(format.nSamplesPerSec));
    FSettings.SetBits(format.wBitsPerSample);
    FSettings.SetChannels(format.nChannels);
    FWaveFormat.wFormatTag = format.wFormatTag;
    FWaveFormat.nSamplesPerSec = format.nSamplesPerSec;
    FWaveFormat.wBitsPerSample = format.wBitsPerSample;
    FWaveFormat.nChannels = format.nChannels;
    ComputeBlockAlign(FWaveFormat);
    LogAudio(llInformation, lmAudioFormatChoose, "Ok");
    return true;
}

} // namespace sw
