#pragma once

#include "audio/AudioSink.h"
#include "common/TestSupport.h"
#include "config/Configuration.h"
#include "log/LogFormat.h"
#include "log/LogPost.h"
#include "platform/shell/OperatorPrompts.h"
#include "platform/sound/WaveIn.h"

#include <QCoreApplication>
#include <QObject>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <deque>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace sw::test {

// The entries of one message number, in arrival order.
inline std::vector<TAMLog> EntriesFor(const TLogCollector& log, uint8_t message) {
    std::vector<TAMLog> found;
    for (const auto& entry : log.Entries) {
        if (entry.Message == message) {
            found.push_back(entry);
        }
    }
    return found;
}

// Stands in for the engine's audio sending.
class TRecordingSink : public TAudioSink {
public:
    std::vector<uint8_t> Bytes;
    std::vector<int> Counts;
    std::vector<std::chrono::steady_clock::time_point> Times;
    bool Throw = false;

    void SendAudio(const uint8_t* buffer, int count) override {
        Bytes.insert(Bytes.end(), buffer, buffer + count);
        Counts.push_back(count);
        Times.push_back(std::chrono::steady_clock::now());
        if (Throw) {
            throw std::runtime_error("viewer gone");
        }
    }
};

class TScriptedPrompts : public TOperatorPrompts {
public:
    std::vector<std::string> Messages;
    std::optional<int> Answer;
    std::string ChooseTitle;
    std::vector<std::string> ChooseItems;
    int ChooseCurrent = -2;
    int ChooseCalls = 0;

    void ShowMessage(const std::string& text, TMessageKind) override { Messages.push_back(text); }
    bool Confirm(const std::string&) override { return false; }
    std::optional<int> ChooseItem(const std::string& title, const std::string&,
                                  const std::vector<std::string>& items, int current) override {
        ++ChooseCalls;
        ChooseTitle = title;
        ChooseItems = items;
        ChooseCurrent = current;
        return Answer;
    }
    bool EditValues(const std::string&, std::vector<TValueField>&) override { return false; }
};

// A device whose results are scripted; buffers are filled on request and come back as notifications
// exactly as a real device hands them back.
class TFakeWaveIn : public TWaveIn {
public:
    QObject* Callback = nullptr;
    uint32_t StartResult = MMSYSERR_NOERROR;
    uint32_t StopResult = MMSYSERR_NOERROR;
    uint32_t ResetResult = MMSYSERR_NOERROR;
    uint32_t CloseResult = MMSYSERR_NOERROR;
    std::deque<TWaveHdr*> Queue;
    std::vector<std::string> Calls;
    int AddCount = 0;
    bool* Destroyed = nullptr;

    ~TFakeWaveIn() override {
        if (Destroyed) {
            *Destroyed = true;
        }
    }

    uint32_t PrepareHeader(TWaveHdr* header) override {
        header->dwFlags |= WHDR_PREPARED;
        return MMSYSERR_NOERROR;
    }
    uint32_t UnprepareHeader(TWaveHdr* header) override {
        if (header->dwFlags & WHDR_INQUEUE) {
            return WAVERR_STILLPLAYING;
        }
        header->dwFlags &= ~WHDR_PREPARED;
        return MMSYSERR_NOERROR;
    }
    uint32_t AddBuffer(TWaveHdr* header) override {
        ++AddCount;
        header->dwFlags |= WHDR_INQUEUE;
        header->dwBytesRecorded = 0;
        Queue.push_back(header);
        return MMSYSERR_NOERROR;
    }
    uint32_t Start() override {
        Calls.push_back("Start");
        return StartResult;
    }
    uint32_t Stop() override {
        Calls.push_back("Stop");
        return StopResult;
    }
    uint32_t Reset() override {
        Calls.push_back("Reset");
        while (!Queue.empty()) {
            HandBack(0);
        }
        return ResetResult;
    }
    uint32_t Close() override {
        Calls.push_back("Close");
        return CloseResult;
    }

    // Fills the front buffer with bytes and hands it back.
    TWaveHdr* Fill(const std::vector<uint8_t>& bytes) {
        TWaveHdr* header = Queue.front();
        std::copy(bytes.begin(), bytes.end(), header->lpData);
        return HandBack(static_cast<uint32_t>(bytes.size()));
    }

private:
    TWaveHdr* HandBack(uint32_t bytes) {
        TWaveHdr* header = Queue.front();
        Queue.pop_front();
        header->dwBytesRecorded = bytes;
        header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
        QCoreApplication::postEvent(Callback, new TWaveInEvent(MM_WIM_DATA, Handle(), header));
        return header;
    }
};

// Goertzel power of one frequency in samples taken at rate.
inline double ToneMagnitude(const std::vector<double>& samples, double frequency, double rate) {
    const double coefficient = 2.0 * std::cos(2.0 * 3.14159265358979323846 * frequency / rate);
    double s1 = 0.0;
    double s2 = 0.0;
    for (double sample : samples) {
        const double s0 = sample + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return std::sqrt(std::max(0.0, s1 * s1 + s2 * s2 - coefficient * s1 * s2)) /
           static_cast<double>(samples.size());
}

// The same through a Hann window, scaled back by its coherent gain of one half: short blocks whose
// length is no whole number of periods then leak next to nothing into other frequencies.
inline double WindowedToneMagnitude(const std::vector<double>& samples, double frequency, double rate) {
    std::vector<double> windowed(samples.size());
    const double n = static_cast<double>(samples.size());
    for (size_t i = 0; i < samples.size(); ++i) {
        windowed[i] =
            samples[i] * (0.5 - 0.5 * std::cos(2.0 * 3.14159265358979323846 * static_cast<double>(i) / n));
    }
    return 2.0 * ToneMagnitude(windowed, frequency, rate);
}

// A configuration of its own in a temporary folder, installed as the process's configuration.
class TTestConfiguration {
public:
    TTestConfiguration() : FConfiguration((FDir.path() + QStringLiteral("/streamwright.ini")).toStdString()) {
        FConfiguration.Reload();
        SetConfiguration(&FConfiguration);
    }
    ~TTestConfiguration() { SetConfiguration(nullptr); }

    TConfiguration& Get() { return FConfiguration; }
    TAudioConfiguration& Audio() { return FConfiguration.Audio(); }

    // The index of the device list entry with this identifier, or -1.
    int DeviceIndex(int32_t deviceId) {
        for (int i = 0; i < Audio().DeviceCount(); ++i) {
            if (Audio().DeviceIds(i) == deviceId) {
                return i;
            }
        }
        return -1;
    }

private:
    QTemporaryDir FDir;
    TConfiguration FConfiguration;
};

} // namespace sw::test
