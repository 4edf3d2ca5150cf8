#include "WaveInEvents.h"
#include "platform/sound/WaveIn.h"

#include <QTemporaryDir>
#include <alsa/asoundlib.h>
#include <array>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <vector>

namespace sw {
namespace {

using test::Pcm;
using test::TBuffer;
using test::TWaveInEvents;

// Points ALSA at a configuration of our own whose default PCM is the given definition, so the system
// default device (WAVE_MAPPER) reads exact, repeatable samples without a sound card.
class AlsaWaveInTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(FDir.isValid()); }
    void TearDown() override {
        unsetenv("ALSA_CONFIG_PATH");
        snd_config_update_free_global();
    }

    std::string Path(const char* name) const {
        return (FDir.path() + QLatin1Char('/') + QLatin1String(name)).toStdString();
    }

    void UseConfig(const std::string& text) {
        const std::string path = Path("asound.conf");
        std::ofstream(path) << text;
        setenv("ALSA_CONFIG_PATH", path.c_str(), 1);
        snd_config_update_free_global();
    }

    // The default PCM reads infile; once the file is used up, the null slave leaves the bytes unwritten.
    void UseInputFile(const std::vector<uint8_t>& samples) {
        const std::string input = Path("input.raw");
        std::ofstream(input, std::ios::binary)
            .write(reinterpret_cast<const char*>(samples.data()),
                   static_cast<std::streamsize>(samples.size()));
        UseConfig("pcm.!default {\n type file\n slave.pcm \"silence\"\n file \"/dev/null\"\n infile \"" +
                  input + "\"\n format \"raw\"\n}\npcm.silence {\n type null\n}\n");
    }

    QTemporaryDir FDir;
};

TEST_F(AlsaWaveInTest, DefaultDeviceDeliversTheInputInOrder) {
    std::vector<uint8_t> samples(6000);
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<uint8_t>(i * 7 + i / 256);
    }
    UseInputFile(samples);
    TWaveInEvents events;
    std::unique_ptr<TWaveIn> device;
    const TWaveFormatEx format = Pcm(8000, 8, 1);
    ASSERT_EQ(waveInOpen(&device, WAVE_MAPPER, &format, &events, CALLBACK_WINDOW | WAVE_ALLOWSYNC),
              MMSYSERR_NOERROR);
    // Eight 1000-byte buffers circulate; the bytes must come back exactly once each, in order.
    std::array<TBuffer, 8> buffers{TBuffer(1000), TBuffer(1000), TBuffer(1000), TBuffer(1000),
                                   TBuffer(1000), TBuffer(1000), TBuffer(1000), TBuffer(1000)};
    std::vector<uint8_t> received;
    events.OnData = [&](TWaveHdr* header) {
        received.insert(received.end(), header->lpData, header->lpData + header->dwBytesRecorded);
        device->UnprepareHeader(header);
        device->PrepareHeader(header);
        device->AddBuffer(header);
    };
    for (auto& buffer : buffers) {
        ASSERT_EQ(device->PrepareHeader(&buffer.Header), MMSYSERR_NOERROR);
        ASSERT_EQ(device->AddBuffer(&buffer.Header), MMSYSERR_NOERROR);
    }
    ASSERT_EQ(device->Start(), MMSYSERR_NOERROR);
    ASSERT_TRUE(events.WaitForData(20));
    events.OnData = nullptr;
    EXPECT_EQ(device->Reset(), MMSYSERR_NOERROR);
    EXPECT_EQ(device->Close(), MMSYSERR_NOERROR);
    ASSERT_GE(received.size(), 20000u);
    EXPECT_TRUE(std::equal(samples.begin(), samples.end(), received.begin()));
}

TEST_F(AlsaWaveInTest, SixteenBitStereoFramesArriveWhole) {
    std::vector<uint8_t> samples(4 * 3000);
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<uint8_t>(i % 251);
    }
    UseInputFile(samples);
    TWaveInEvents events;
    std::unique_ptr<TWaveIn> device;
    const TWaveFormatEx format = Pcm(44100, 16, 2);
    ASSERT_EQ(waveInOpen(&device, WAVE_MAPPER, &format, &events, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    // 4002 bytes hold 1000 whole frames; the last two bytes stay unused.
    std::array<TBuffer, 3> buffers{TBuffer(4002), TBuffer(4002), TBuffer(4002)};
    for (auto& buffer : buffers) {
        device->PrepareHeader(&buffer.Header);
        device->AddBuffer(&buffer.Header);
    }
    ASSERT_EQ(device->Start(), MMSYSERR_NOERROR);
    ASSERT_TRUE(events.WaitForData(3));
    for (size_t i = 0; i < buffers.size(); ++i) {
        ASSERT_EQ(buffers[i].Header.dwBytesRecorded, 4000u);
        EXPECT_TRUE(
            std::equal(buffers[i].Data.begin(), buffers[i].Data.begin() + 4000, samples.begin() + i * 4000))
            << i;
    }
    EXPECT_EQ(device->Reset(), MMSYSERR_NOERROR);
}

TEST_F(AlsaWaveInTest, NullDeviceFillsWholeBuffers) {
    UseConfig("pcm.!default {\n type null\n}\n");
    TWaveInEvents events;
    std::unique_ptr<TWaveIn> device;
    const TWaveFormatEx format = Pcm(22050, 8, 1);
    ASSERT_EQ(waveInOpen(&device, WAVE_MAPPER, &format, &events, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    TBuffer buffer(512);
    device->PrepareHeader(&buffer.Header);
    device->AddBuffer(&buffer.Header);
    ASSERT_EQ(device->Start(), MMSYSERR_NOERROR);
    ASSERT_TRUE(events.WaitForData(1));
    EXPECT_EQ(buffer.Header.dwBytesRecorded, 512u);
    EXPECT_EQ(device->Stop(), MMSYSERR_NOERROR);
    EXPECT_EQ(device->Close(), MMSYSERR_NOERROR);
}

TEST_F(AlsaWaveInTest, StartStopStartResumesRecording) {
    UseConfig("pcm.!default {\n type null\n}\n");
    TWaveInEvents events;
    std::unique_ptr<TWaveIn> device;
    const TWaveFormatEx format = Pcm(8000, 16, 1);
    ASSERT_EQ(waveInOpen(&device, WAVE_MAPPER, &format, &events, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    std::array<TBuffer, 2> buffers{TBuffer(200), TBuffer(200)};
    device->PrepareHeader(&buffers[0].Header);
    device->AddBuffer(&buffers[0].Header);
    ASSERT_EQ(device->Start(), MMSYSERR_NOERROR);
    ASSERT_TRUE(events.WaitForData(1));
    ASSERT_EQ(device->Stop(), MMSYSERR_NOERROR);
    device->PrepareHeader(&buffers[1].Header);
    device->AddBuffer(&buffers[1].Header);
    ASSERT_EQ(device->Start(), MMSYSERR_NOERROR);
    ASSERT_TRUE(events.WaitForData(2));
    EXPECT_EQ(buffers[1].Header.dwBytesRecorded, 200u);
    EXPECT_EQ(device->Close(), MMSYSERR_NOERROR);
}

TEST_F(AlsaWaveInTest, MissingDeviceFailsToOpen) {
    UseConfig("pcm.other {\n type null\n}\n");
    std::unique_ptr<TWaveIn> device;
    const TWaveFormatEx format = Pcm(8000, 8, 1);
    const uint32_t result = waveInOpen(&device, WAVE_MAPPER, &format, nullptr, CALLBACK_WINDOW);
    EXPECT_EQ(result, MMSYSERR_NODRIVER);
    EXPECT_FALSE(device);
    EXPECT_EQ(waveInOpen(nullptr, WAVE_MAPPER, &format, nullptr, WAVE_FORMAT_QUERY), MMSYSERR_NODRIVER);
}

} // namespace
} // namespace sw
