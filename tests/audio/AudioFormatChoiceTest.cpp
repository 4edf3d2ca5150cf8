#include "audio/AudioFormatChoice.h"
#include "AudioTestSupport.h"
#include "audio/AudioCapture.h"

#include <QTemporaryDir>
#include <alsa/asoundlib.h>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>

namespace sw {
namespace {

using namespace sw::test;

TEST(AudioFormatChoiceTest, CandidatesCoverEveryRateWidthAndChannelCount) {
    const auto formats = CandidateFormats();
    ASSERT_EQ(formats.size(), 24u);
    for (const auto& format : formats) {
        EXPECT_EQ(WaveFormatProblem(format), "") << WaveFormatName(format);
    }
    EXPECT_EQ(WaveFormatName(PcmFormat(11025, 8, 1)), "11.025 kHz, 8 Bit, Mono");
    EXPECT_EQ(WaveFormatName(PcmFormat(48000, 16, 2)), "48.000 kHz, 16 Bit, Stereo");
    const TWaveFormatEx format = PcmFormat(44100, 16, 2);
    EXPECT_EQ(format.nBlockAlign, 4);
    EXPECT_EQ(format.nAvgBytesPerSec, 176400u);
}

TEST(AudioFormatChoiceTest, OnlyFormatsTheDeviceAcceptsAreOffered) {
    const TWaveInOpener monoOnly = [](std::unique_ptr<TWaveIn>*, int, const TWaveFormatEx* format, QObject*,
                                      uint32_t flags) -> uint32_t {
        EXPECT_EQ(flags, WAVE_FORMAT_QUERY);
        return format->nChannels == 1 && format->nSamplesPerSec <= 16000 ? MMSYSERR_NOERROR
                                                                         : WAVERR_BADFORMAT;
    };
    uint32_t failure = 99;
    const auto formats = RecordableFormats(monoOnly, 0, failure);
    EXPECT_EQ(formats.size(), 6u);
    EXPECT_EQ(failure, MMSYSERR_NOERROR);

    const TWaveInOpener none = [](std::unique_ptr<TWaveIn>*, int, const TWaveFormatEx*, QObject*,
                                  uint32_t) -> uint32_t { return MMSYSERR_NODRIVER; };
    EXPECT_TRUE(RecordableFormats(none, 0, failure).empty());
    EXPECT_EQ(failure, MMSYSERR_NODRIVER);
}

class AudioFormatChooserTest : public testing::Test {
protected:
    void SetUp() override {
        SetPrompts(&FPrompts);
        FConfig.Audio().SetDevice(FConfig.DeviceIndex(TestToneDeviceId()));
        FCapture = std::make_unique<TAudioCapture>(FConfig.Audio(), &FLog, FSink);
    }
    void TearDown() override {
        FCapture.reset();
        SetPrompts(nullptr);
    }

    TTestConfiguration FConfig;
    TLogCollector FLog;
    TRecordingSink FSink;
    TScriptedPrompts FPrompts;
    std::unique_ptr<TAudioCapture> FCapture;
};

TEST_F(AudioFormatChooserTest, ChosenFormatIsStoredAndLogged) {
    FCapture->InitializeAudio();
    FPrompts.Answer = 23; // 48 kHz, 16-bit stereo
    ASSERT_TRUE(FCapture->ChooseAudioFormat());
    ProcessEventsFor(20);
    EXPECT_EQ(FPrompts.ChooseTitle, "Audio Compression");
    ASSERT_EQ(FPrompts.ChooseItems.size(), 24u);
    EXPECT_EQ(FPrompts.ChooseItems[23], "48.000 kHz, 16 Bit, Stereo");
    EXPECT_EQ(FPrompts.ChooseCurrent, 0); // starts at the current format, 8 kHz 8-bit mono
    const TWaveFormatEx& format = FCapture->WaveFormat();
    EXPECT_EQ(format.nSamplesPerSec, 48000u);
    EXPECT_EQ(format.wBitsPerSample, 16);
    EXPECT_EQ(format.nChannels, 2);
    EXPECT_EQ(format.nBlockAlign, 4);
    EXPECT_EQ(format.nAvgBytesPerSec, 192000u);
    const auto entries = EntriesFor(FLog, lmAudioFormatChoose);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Level, llInformation);
    EXPECT_EQ(entries[0].Detail, "Ok");
    EXPECT_EQ(entries[0].Values, "");

    // Written through to the file: a fresh load sees the four values.
    TConfiguration reloaded(FConfig.Get().FileName());
    reloaded.Reload();
    EXPECT_EQ(reloaded.Audio().Format(), 1);
    EXPECT_EQ(reloaded.Audio().Frequency(), 48000);
    EXPECT_EQ(reloaded.Audio().Bits(), 16);
    EXPECT_EQ(reloaded.Audio().Channels(), 2);
}

TEST_F(AudioFormatChooserTest, CancelLeavesEverythingUnchanged) {
    FConfig.Audio().SetFrequency(22050);
    FCapture->InitializeAudio();
    FPrompts.Answer.reset();
    ASSERT_TRUE(FCapture->ChooseAudioFormat());
    ProcessEventsFor(20);
    EXPECT_EQ(FPrompts.ChooseCurrent, 12); // 22.050 kHz, 8 Bit, Mono
    EXPECT_EQ(FCapture->WaveFormat().nSamplesPerSec, 22050u);
    EXPECT_EQ(FConfig.Audio().Frequency(), 22050);
    const auto entries = EntriesFor(FLog, lmAudioFormatChoose);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Level, llWarning);
    EXPECT_EQ(entries[0].Detail, "Canceled");
}

TEST_F(AudioFormatChooserTest, HeadlessPromptsCancel) {
    SetPrompts(nullptr);
    FCapture->InitializeAudio();
    ASSERT_TRUE(FCapture->ChooseAudioFormat());
    ProcessEventsFor(20);
    const auto entries = EntriesFor(FLog, lmAudioFormatChoose);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Detail, "Canceled");
}

TEST_F(AudioFormatChooserTest, DeviceWithoutFormatsIsAnError) {
    FCapture->InitializeAudio();
    FCapture->SetOpener([](std::unique_ptr<TWaveIn>*, int, const TWaveFormatEx*, QObject*,
                           uint32_t) -> uint32_t { return MMSYSERR_ALLOCATED; });
    ASSERT_TRUE(FCapture->ChooseAudioFormat());
    ProcessEventsFor(20);
    EXPECT_EQ(FPrompts.ChooseCalls, 0);
    const auto entries = EntriesFor(FLog, lmAudioFormatChoose);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Level, llError);
    EXPECT_EQ(entries[0].Detail, "Failed (4)");
}

TEST_F(AudioFormatChooserTest, RunsOnlyWhenReady) {
    EXPECT_FALSE(FCapture->ChooseAudioFormat()); // idle
    FConfig.Audio().SetEnabled(true);
    FCapture->InitializeAudio();
    ASSERT_TRUE(FCapture->StartAudioCapture());
    EXPECT_FALSE(FCapture->ChooseAudioFormat()); // recording
    FCapture->StopAudioCapture();
    FPrompts.Answer.reset();
    EXPECT_TRUE(FCapture->ChooseAudioFormat());
    EXPECT_EQ(FPrompts.ChooseCalls, 1);
}

} // namespace
} // namespace sw
