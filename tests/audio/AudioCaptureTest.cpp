#include "audio/AudioCapture.h"
#include "AudioTestSupport.h"
#include "MuLawReference.h"
#include "audio/AudioFormatChoice.h"
#include "audio/MuLaw.h"
#include "log/CommaText.h"
#include "platform/sound/TestToneSource.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace sw {
namespace {

using namespace sw::test;

class AudioCaptureTest : public testing::Test {
protected:
    void SetUp() override {
        SetPrompts(&FPrompts);
        FToneIndex = FConfig.DeviceIndex(TestToneDeviceId());
        ASSERT_GE(FToneIndex, 0);
        FConfig.Audio().SetDevice(FToneIndex);
        FConfig.Audio().SetEnabled(true);
    }
    void TearDown() override {
        FCapture.reset();
        TestToneFaults().Replug();
        SetPrompts(nullptr);
    }

    TAudioCapture& Capture() {
        if (!FCapture) {
            FCapture = std::make_unique<TAudioCapture>(FConfig.Audio(), &FLog, FSink);
        }
        return *FCapture;
    }

    // Makes the capture open fake devices; the last one opened stays reachable through FFake.
    void UseFakeDevice(std::function<void(TFakeWaveIn&)> script = {}) {
        Capture().SetOpener([this, script](std::unique_ptr<TWaveIn>* device, int deviceId,
                                           const TWaveFormatEx*, QObject* callback,
                                           uint32_t flags) -> uint32_t {
            FOpenedIds.push_back(deviceId);
            FOpenFlags = flags;
            auto fake = std::make_unique<TFakeWaveIn>();
            fake->Callback = callback;
            if (script) {
                script(*fake);
            }
            FFake = fake.get();
            *device = std::move(fake);
            return MMSYSERR_NOERROR;
        });
    }

    void Flush() { ProcessEventsFor(20); }

    std::string Values(const std::string& lines) const { return ValuesFromText(lines); }

    TTestConfiguration FConfig;
    TLogCollector FLog;
    TRecordingSink FSink;
    TScriptedPrompts FPrompts;
    std::unique_ptr<TAudioCapture> FCapture;
    TFakeWaveIn* FFake = nullptr;
    std::vector<int> FOpenedIds;
    uint32_t FOpenFlags = 0;
    int FToneIndex = -1;
};

TEST_F(AudioCaptureTest, InitializePreparesTheFormatFromTheSettings) {
    FConfig.Audio().SetFrequency(22050);
    FConfig.Audio().SetBits(16);
    FConfig.Audio().SetChannels(2);
    EXPECT_EQ(Capture().AudioState(), AudioIdle);
    Capture().InitializeAudio();
    Flush();
    EXPECT_EQ(Capture().AudioState(), AudioReady);
    const TWaveFormatEx& format = Capture().WaveFormat();
    EXPECT_EQ(format.wFormatTag, 1);
    EXPECT_EQ(format.nSamplesPerSec, 22050u);
    EXPECT_EQ(format.wBitsPerSample, 16);
    EXPECT_EQ(format.nChannels, 2);
    EXPECT_EQ(format.nBlockAlign, 4);
    EXPECT_EQ(format.nAvgBytesPerSec, 88200u);
    EXPECT_EQ(format.cbSize, 0);
    ASSERT_EQ(FLog.Entries.size(), 1u);
    EXPECT_EQ(FLog.Entries[0].Message, lmAudioInitializing);
    EXPECT_EQ(FLog.Entries[0].Level, llInformation);
    EXPECT_EQ(FLog.Entries[0].Detail, kTestToneName);
    EXPECT_EQ(FLog.Entries[0].Values, "");

    Capture().FinalizeAudio();
    EXPECT_EQ(Capture().AudioState(), AudioIdle);
}

TEST_F(AudioCaptureTest, DisabledAudioOpensNothingAndSucceeds) {
    UseFakeDevice();
    FConfig.Audio().SetEnabled(false);
    Capture().InitializeAudio();
    EXPECT_TRUE(Capture().StartAudioCapture());
    Flush();
    EXPECT_TRUE(FOpenedIds.empty());
    EXPECT_EQ(Capture().AudioState(), AudioReady);
    EXPECT_EQ(Capture().WaveIn(), nullptr);
    EXPECT_TRUE(EntriesFor(FLog, lmAudioOpen).empty());
}

TEST_F(AudioCaptureTest, GoodStartLogsTheFormatAndQueuesEightBuffers) {
    UseFakeDevice();
    FConfig.Audio().SetFrameSize(600);
    Capture().InitializeAudio();
    ASSERT_TRUE(Capture().StartAudioCapture());
    Flush();
    EXPECT_EQ(FOpenedIds, std::vector<int>{TestToneDeviceId()});
    EXPECT_EQ(FOpenFlags, CALLBACK_WINDOW | WAVE_ALLOWSYNC);
    EXPECT_EQ(Capture().AudioState(), AudioRecording);
    const auto open = EntriesFor(FLog, lmAudioOpen);
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(open[0].Level, llInformation);
    EXPECT_EQ(open[0].Detail, "Ok");
    EXPECT_EQ(open[0].Values, Values("wFormatTag      = 1\nnChannels       = 1\nnSamplesPerSec  = 8000\n"
                                     "wBitsPerSample  = 8\nnBlockAlign     = 1\nnAvgBytesPerSec = 8000\n"
                                     "cbSize          = 0"));
    EXPECT_EQ(FromCommaText(open[0].Values).size(), 7u);
    const auto start = EntriesFor(FLog, lmAudioStart);
    ASSERT_EQ(start.size(), 1u);
    EXPECT_EQ(start[0].Detail, "Ok");
    EXPECT_EQ(start[0].Values, "");

    ASSERT_EQ(FFake->Queue.size(), 8u);
    for (int i = 0; i < kWaveBufferCount; ++i) {
        EXPECT_EQ(FFake->Queue[i], &Capture().WaveHeaders()[i]);
        EXPECT_EQ(Capture().WaveHeaders()[i].dwBufferLength, 1200u);
        EXPECT_EQ(Capture().WaveBuffers()[i].size(), 600u);
    }
    EXPECT_EQ(Capture().AudioOutput().size(), 1200u);
}

TEST_F(AudioCaptureTest, FilledBufferIsEncodedSentAndQueuedAgain) {
    UseFakeDevice();
    FConfig.Audio().SetFrameSize(1000);
    Capture().InitializeAudio();
    ASSERT_TRUE(Capture().StartAudioCapture());
    std::vector<uint8_t> bytes(2000);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(i);
    }
    TWaveHdr* header = FFake->Fill(bytes);
    Flush();
    ASSERT_EQ(FSink.Counts, std::vector<int>{2000});
    for (size_t i = 0; i < bytes.size(); ++i) {
        ASSERT_EQ(FSink.Bytes[i], ReferenceMuLaw(static_cast<int16_t>((bytes[i] ^ 0x80) << 8))) << i;
    }
    EXPECT_EQ(FFake->Queue.size(), 8u);
    EXPECT_EQ(FFake->Queue.back(), header);
    EXPECT_EQ(FFake->AddCount, 9);
}

TEST_F(AudioCaptureTest, VolumeIsAppliedWithSixteenBitWrap) {
    UseFakeDevice();
    FConfig.Audio().SetBits(16);
    FConfig.Audio().SetVolume(2);
    Capture().InitializeAudio();
    ASSERT_TRUE(Capture().StartAudioCapture());
    const int16_t sample = 20000;
    std::vector<uint8_t> bytes{static_cast<uint8_t>(sample & 0xFF), static_cast<uint8_t>(sample >> 8)};
    FFake->Fill(bytes);
    Flush();
    ASSERT_EQ(FSink.Bytes.size(), 1u);
    EXPECT_EQ(FSink.Bytes[0], ReferenceMuLaw(-25536));
}

TEST_F(AudioCaptureTest, FailedSendStillRequeuesTheBuffer) {
    UseFakeDevice();
    Capture().InitializeAudio();
    ASSERT_TRUE(Capture().StartAudioCapture());
    FSink.Throw = true;
    TWaveHdr* header = FFake->Fill(std::vector<uint8_t>(100, 0x80));
    Flush();
    EXPECT_EQ(FSink.Counts.size(), 1u);
    EXPECT_EQ(FFake->Queue.back(), header);
    EXPECT_EQ(Capture().AudioState(), AudioRecording);
}

TEST_F(AudioCaptureTest, OpenFailureShowsTheMessageAndLogsTheCode) {
    Capture().SetOpener([](std::unique_ptr<TWaveIn>*, int, const TWaveFormatEx*, QObject*,
                           uint32_t) -> uint32_t { return MMSYSERR_ALLOCATED; });
    Capture().InitializeAudio();
    EXPECT_FALSE(Capture().StartAudioCapture());
    Flush();
    EXPECT_EQ(FPrompts.Messages, std::vector<std::string>{"Error opening audio device"});
    const auto open = EntriesFor(FLog, lmAudioOpen);
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(open[0].Level, llError);
    EXPECT_EQ(open[0].Detail, "Failed (4)");
    EXPECT_EQ(open[0].Values, "");
    EXPECT_TRUE(EntriesFor(FLog, lmAudioStart).empty());
    EXPECT_EQ(Capture().AudioState(), AudioReady);
    EXPECT_EQ(Capture().WaveIn(), nullptr);
}

TEST_F(AudioCaptureTest, DeviceIndexOutsideTheListFailsToOpen) {
    FConfig.Audio().SetDevice(FConfig.Audio().DeviceCount() + 3);
    Capture().InitializeAudio();
    EXPECT_FALSE(Capture().StartAudioCapture());
    Flush();
    const auto open = EntriesFor(FLog, lmAudioOpen);
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(open[0].Detail, "Failed (2)");
}

TEST_F(AudioCaptureTest, FormatsTheEncodersCannotTakeAreRefusedBeforeTheDevice) {
    struct TCase {
        int32_t Format;
        int32_t Bits;
        int32_t Channels;
        int32_t Frequency;
        int32_t FrameSize;
    };
    const TCase cases[] = {{2, 16, 1, 8000, 1000},    {1, 24, 1, 8000, 1000}, {1, 0, 1, 8000, 1000},
                           {1, 8, 0, 8000, 1000},     {1, 8, 1, 0, 1000},     {1, 16, 2, 8000, 0},
                           {1, 16, 2, 8000, 1 << 22}, {1, 16, 4, 8000, 3},    {1, 16, 65535, 8000, 1000},
                           {1, 8, -1, 8000, 1000}};
    UseFakeDevice();
    for (const TCase& c : cases) {
        FConfig.Audio().SetFormat(c.Format);
        FConfig.Audio().SetBits(c.Bits);
        FConfig.Audio().SetChannels(c.Channels);
        FConfig.Audio().SetFrequency(c.Frequency);
        FConfig.Audio().SetFrameSize(c.FrameSize);
        Capture().InitializeAudio();
        Flush();
        FLog.Entries.clear();
        EXPECT_FALSE(Capture().StartAudioCapture());
        Flush();
        const auto open = EntriesFor(FLog, lmAudioOpen);
        ASSERT_EQ(open.size(), 1u);
        EXPECT_EQ(open[0].Level, llError);
        EXPECT_EQ(open[0].Detail, "Failed (32)");
        // The reason first, then the format that was refused.
        EXPECT_EQ(FromCommaText(open[0].Values).size(), 8u);
    }
    EXPECT_TRUE(FOpenedIds.empty());
    EXPECT_EQ(FPrompts.Messages.size(), std::size(cases));
}

TEST_F(AudioCaptureTest, DeviceThatFailsToStartIsClosedAtOnce) {
    bool destroyed = false;
    UseFakeDevice([&](TFakeWaveIn& fake) {
        fake.StartResult = MMSYSERR_NOMEM;
        fake.Destroyed = &destroyed;
    });
    Capture().InitializeAudio();
    EXPECT_FALSE(Capture().StartAudioCapture());
    Flush();
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(Capture().WaveIn(), nullptr);
    EXPECT_EQ(Capture().AudioState(), AudioReady);
    const auto start = EntriesFor(FLog, lmAudioStart);
    ASSERT_EQ(start.size(), 1u);
    EXPECT_EQ(start[0].Level, llError);
    EXPECT_EQ(start[0].Detail, "Failed (7)");
    const auto close = EntriesFor(FLog, lmAudioClose);
    ASSERT_EQ(close.size(), 1u);
    EXPECT_EQ(close[0].Detail, "Ok");
}

TEST_F(AudioCaptureTest, StopFailuresAreLoggedAndStopCompletes) {
    bool destroyed = false;
    UseFakeDevice([&](TFakeWaveIn& fake) {
        fake.ResetResult = MMSYSERR_ERROR;
        fake.StopResult = MMSYSERR_INVALHANDLE;
        fake.CloseResult = WAVERR_STILLPLAYING;
        fake.Destroyed = &destroyed;
    });
    Capture().InitializeAudio();
    ASSERT_TRUE(Capture().StartAudioCapture());
    Flush();
    FLog.Entries.clear();
    Capture().StopAudioCapture();
    EXPECT_TRUE(destroyed);
    Flush();
    EXPECT_EQ(FLog.Messages(), (std::vector<uint8_t>{lmAudioReset, lmAudioStop, lmAudioClose}));
    EXPECT_EQ(FLog.Entries[0].Detail, "Failed (1)");
    EXPECT_EQ(FLog.Entries[1].Detail, "Failed (5)");
    EXPECT_EQ(FLog.Entries[2].Detail, "Failed (33)");
    for (const auto& entry : FLog.Entries) {
        EXPECT_EQ(entry.Level, llError);
    }
    EXPECT_EQ(Capture().AudioState(), AudioReady);
    EXPECT_EQ(Capture().WaveIn(), nullptr);
    EXPECT_TRUE(Capture().AudioOutput().empty());
    EXPECT_EQ(Capture().WaveBuffers()[0].size(), 1000u);
}

TEST_F(AudioCaptureTest, DataAfterStopIsIgnoredAndNotQueued) {
    UseFakeDevice();
    Capture().InitializeAudio();
    ASSERT_TRUE(Capture().StartAudioCapture());
    // One buffer filled just before Stop; the reset hands back the other seven. All eight notifications
    // arrive after Stop.
    FFake->Fill(std::vector<uint8_t>(100, 0x80));
    Capture().StopAudioCapture();
    Flush();
    EXPECT_TRUE(FSink.Counts.empty());
    for (const TWaveHdr& header : Capture().WaveHeaders()) {
        // Not unprepared by processing, not queued again.
        EXPECT_EQ(header.dwFlags, WHDR_PREPARED | WHDR_DONE);
    }
    EXPECT_EQ(Capture().AudioState(), AudioReady);
}

TEST_F(AudioCaptureTest, NotificationFromAnEarlierDeviceIsIgnored) {
    UseFakeDevice();
    Capture().InitializeAudio();
    ASSERT_TRUE(Capture().StartAudioCapture());
    Capture().StopAudioCapture();
    // Start again before the reset's notifications are delivered: they belong to the closed device.
    ASSERT_TRUE(Capture().StartAudioCapture());
    Flush();
    EXPECT_TRUE(FSink.Counts.empty());
    EXPECT_EQ(FFake->AddCount, 8);
    EXPECT_EQ(FFake->Queue.size(), 8u);
}

TEST_F(AudioCaptureTest, FinalizeWhileRecordingClosesTheDevice) {
    bool destroyed = false;
    UseFakeDevice([&](TFakeWaveIn& fake) { fake.Destroyed = &destroyed; });
    Capture().InitializeAudio();
    ASSERT_TRUE(Capture().StartAudioCapture());
    Capture().FinalizeAudio();
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(Capture().AudioState(), AudioIdle);
}

TEST_F(AudioCaptureTest, LowCaptureRateOutputFitsTheBuffer) {
    FConfig.Audio().SetFrequency(4000);
    FConfig.Audio().SetFrameSize(500);
    Capture().InitializeAudio();
    ASSERT_TRUE(Capture().StartAudioCapture());
    EXPECT_EQ(Capture().AudioOutput().size(), 2000u);
    ASSERT_TRUE(ProcessEventsUntil([&] { return FSink.Counts.size() >= 2; }));
    Capture().StopAudioCapture();
    EXPECT_EQ(FSink.Counts[0], 2000);
    EXPECT_EQ(FSink.Counts[1], 2000);
}

// The real test tone through the real device, event loop and encoder, at every rate the chooser offers.
TEST_F(AudioCaptureTest, TestToneReachesTheSinkAtItsFrequency) {
    setenv("SW_TEST_TONE_HZ", "1000", 1);
    for (const TWaveFormatEx& format : CandidateFormats()) {
        SCOPED_TRACE(WaveFormatName(format));
        // One save for the four settings: each save syncs the file, which a loaded disk makes slow.
        FConfig.Audio().BeginUpdate();
        FConfig.Audio().SetFrequency(static_cast<int32_t>(format.nSamplesPerSec));
        FConfig.Audio().SetBits(format.wBitsPerSample);
        FConfig.Audio().SetChannels(format.nChannels);
        // About 25 ms per buffer.
        FConfig.Audio().SetFrameSize(static_cast<int32_t>(format.nAvgBytesPerSec / 80));
        FConfig.Audio().EndUpdate();
        FSink.Bytes.clear();
        FSink.Counts.clear();
        Capture().InitializeAudio();
        ASSERT_TRUE(Capture().StartAudioCapture());
        ASSERT_TRUE(ProcessEventsUntil([&] { return FSink.Counts.size() >= 6; }));
        Capture().StopAudioCapture();

        const size_t bufferBytes = 2 * static_cast<size_t>(FConfig.Audio().FrameSize());
        const size_t wholeFrameBytes = bufferBytes / format.nBlockAlign * format.nBlockAlign;
        const size_t perBuffer = EncodedByteCount(wholeFrameBytes * 8 / format.wBitsPerSample,
                                                  format.nSamplesPerSec, format.nChannels);
        for (int count : FSink.Counts) {
            EXPECT_EQ(static_cast<size_t>(count), perBuffer);
        }
        // Each buffer on its own: a loaded machine may make the source skip between two buffers, and
        // the phase jump would cancel the tone in a measurement across them.
        std::vector<std::vector<double>> buffers;
        size_t offset = 0;
        for (int count : FSink.Counts) {
            std::vector<double>& decoded = buffers.emplace_back();
            for (int i = 0; i < count; ++i) {
                decoded.push_back(MuLawDecode(FSink.Bytes[offset + static_cast<size_t>(i)]));
            }
            offset += static_cast<size_t>(count);
        }
        auto median = [&](double frequency) {
            std::vector<double> magnitudes;
            for (const std::vector<double>& decoded : buffers) {
                magnitudes.push_back(WindowedToneMagnitude(decoded, frequency, 8000));
            }
            std::nth_element(magnitudes.begin(), magnitudes.begin() + magnitudes.size() / 2,
                             magnitudes.end());
            return magnitudes[magnitudes.size() / 2];
        };
        const double tone = median(1000);
        EXPECT_GT(tone, 5000.0); // half of full scale gives about 8000
        // 20 dB down: a 50 ms buffer resampled from 11.025 kHz keeps a spur about 22 dB down at 2 kHz.
        for (double other : {250.0, 500.0, 1500.0, 2000.0, 3000.0}) {
            EXPECT_LT(median(other), tone / 10) << other;
        }
    }
    unsetenv("SW_TEST_TONE_HZ");
}

TEST_F(AudioCaptureTest, UnpluggedInputSendsSilenceAndIsOpenedAgainWhenItReturns) {
    FConfig.Audio().SetFrameSize(400); // 100 ms per buffer at the 8-bit mono default
    Capture().InitializeAudio();
    ASSERT_TRUE(Capture().StartAudioCapture());
    ASSERT_TRUE(ProcessEventsUntil([&] { return FSink.Bytes.size() >= 1600; }));

    TestToneFaults().Unplug();
    ASSERT_TRUE(ProcessEventsUntil([&] { return Capture().DeviceLost(); }));
    const size_t lostAt = FSink.Bytes.size();
    // Reopening fails while the device is away; silence keeps coming at the buffers' pace.
    ASSERT_TRUE(ProcessEventsUntil([&] { return FSink.Bytes.size() >= lostAt + 2400; }));
    EXPECT_TRUE(Capture().DeviceLost());
    EXPECT_TRUE(std::all_of(FSink.Bytes.begin() + static_cast<std::ptrdiff_t>(lostAt), FSink.Bytes.end(),
                            [](uint8_t code) { return code == 0xFF; }))
        << "mu-law silence";

    TestToneFaults().Replug();
    ASSERT_TRUE(ProcessEventsUntil([&] { return !Capture().DeviceLost(); }));
    const size_t back = FSink.Bytes.size();
    ASSERT_TRUE(ProcessEventsUntil([&] { return FSink.Bytes.size() >= back + 1600; }));
    EXPECT_TRUE(std::any_of(FSink.Bytes.begin() + static_cast<std::ptrdiff_t>(back), FSink.Bytes.end(),
                            [](uint8_t code) { return code != 0xFF; }))
        << "the tone again";
    Capture().StopAudioCapture();
    Flush();

    EXPECT_EQ(EntriesFor(FLog, lmAudioDeviceLost).size(), 1u);
    ASSERT_EQ(EntriesFor(FLog, lmAudioDeviceRestored).size(), 1u);
    EXPECT_EQ(EntriesFor(FLog, lmAudioDeviceRestored)[0].Level, llInformation);
    EXPECT_EQ(EntriesFor(FLog, lmAudioOpen).size(), 1u) << "reopening is not another Open entry";
    for (uint8_t message : {lmAudioReset, lmAudioStop, lmAudioClose}) {
        const std::vector<TAMLog> entries = EntriesFor(FLog, message);
        ASSERT_EQ(entries.size(), 1u) << int(message);
        EXPECT_EQ(entries[0].Detail, "Ok") << "Stop closes the reopened device";
    }
    EXPECT_TRUE(FPrompts.Messages.empty());
}

TEST_F(AudioCaptureTest, StopWhileTheInputIsGoneTouchesNoDevice) {
    Capture().InitializeAudio();
    ASSERT_TRUE(Capture().StartAudioCapture());
    TestToneFaults().Unplug();
    ASSERT_TRUE(ProcessEventsUntil([&] { return Capture().DeviceLost(); }));
    Capture().StopAudioCapture();
    TestToneFaults().Replug();
    EXPECT_EQ(Capture().AudioState(), AudioReady);
    EXPECT_EQ(Capture().WaveIn(), nullptr);
    ProcessEventsFor(1500);
    EXPECT_EQ(Capture().WaveIn(), nullptr) << "no reopening after Stop";
    EXPECT_TRUE(EntriesFor(FLog, lmAudioReset).empty());
    EXPECT_TRUE(EntriesFor(FLog, lmAudioClose).empty());
    ASSERT_TRUE(Capture().StartAudioCapture()) << "the next broadcast opens the device as usual";
    Capture().StopAudioCapture();
}

} // namespace
} // namespace sw
