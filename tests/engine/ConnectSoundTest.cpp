#include "engine/ViewerFixture.h"

#include "engine/ConnectSound.h"

#include <gtest/gtest.h>

namespace sw::test {
namespace {

// A mono 16-bit 8000 Hz PCM WAV image.
std::string PcmWav(size_t samples) {
    std::string data;
    for (size_t i = 0; i < samples; ++i) {
        const int16_t value = static_cast<int16_t>(i * 37);
        data.push_back(static_cast<char>(value & 0xFF));
        data.push_back(static_cast<char>((value >> 8) & 0xFF));
    }
    auto le32 = [](uint32_t v) {
        return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                           static_cast<char>(v >> 24)};
    };
    std::string fmt = le32(1 | (1 << 16)) + le32(8000) + le32(16000) + le32(2 | (16 << 16));
    return "RIFF" + le32(static_cast<uint32_t>(36 + data.size())) + "WAVEfmt " + le32(16) + fmt + "data" +
           le32(static_cast<uint32_t>(data.size())) + data;
}

class ConnectSoundTest : public TViewerFixture {
protected:
    void SetUp() override {
        TViewerFixture::SetUp();
        SoundFile = Dir.File("ding.wav");
        OutputFile = Dir.File("played.raw");
        WriteFile(SoundFile, PcmWav(800));
        Engine->ConnectSoundPlayer().SetDevice("file:'" + OutputFile + "',raw");
        Configuration().SetSoundConnect(true);
        Configuration().SetSoundConnectFile(SoundFile);
    }

    std::string SoundFile;
    std::string OutputFile;
};

TEST_F(ConnectSoundTest, TheFirstConnectOfAnAddressPlaysTheFile) {
    TUniqueFd video = ConnectViewer(VideoPort);
    ASSERT_TRUE(WaitFor([&] { return HasEntries(3); }));
    Engine->ConnectSoundPlayer().Wait();
    EXPECT_EQ(Engine->ConnectSoundPlayer().LastResult(), TSoundPlayer::TResult::Played);
    const std::string played = ReadFile(OutputFile);
    const std::string wav = ReadFile(SoundFile);
    ASSERT_GE(played.size(), 1600u);
    EXPECT_EQ(played.substr(0, 1600), wav.substr(44, 1600));

    // The second stream of the same address is no new viewer: no sound.
    std::remove(OutputFile.c_str());
    TUniqueFd audio = ConnectViewer(AudioPort);
    ASSERT_TRUE(WaitFor([&] { return !EntriesOf(lmAudioSocketConnect).empty(); }));
    Engine->ConnectSoundPlayer().Wait();
    EXPECT_TRUE(ReadFile(OutputFile).empty());
}

TEST_F(ConnectSoundTest, NothingPlaysWhenSwitchedOffOrTheFileIsMissing) {
    Configuration().SetSoundConnect(false);
    EXPECT_FALSE(PlayConnectSound(Engine->ConnectSoundPlayer()));
    Configuration().SetSoundConnect(true);
    Configuration().SetSoundConnectFile(SoundFile + ".missing");
    EXPECT_FALSE(PlayConnectSound(Engine->ConnectSoundPlayer()));
    Configuration().SetSoundConnectFile(Dir.Path());
    EXPECT_FALSE(PlayConnectSound(Engine->ConnectSoundPlayer()));
    EXPECT_EQ(Engine->ConnectSoundPlayer().LastResult(), TSoundPlayer::TResult::None);
}

TEST_F(ConnectSoundTest, AFileThatIsNoWavPlaysNothingAndTheViewerIsServed) {
    WriteFile(SoundFile, "this is not a sound");
    TUniqueFd video = ConnectViewer(VideoPort);
    ASSERT_TRUE(WaitFor([&] { return HasEntries(3); }));
    Engine->ConnectSoundPlayer().Wait();
    EXPECT_EQ(Engine->ConnectSoundPlayer().LastResult(), TSoundPlayer::TResult::NotPcmWav);
    EXPECT_TRUE(ReadFile(OutputFile).empty());
    EXPECT_EQ(Engine->ServerSocketVideo.ConnectionCount(), 1u);
}

} // namespace
} // namespace sw::test
