#include "platform/shell/SoundPlayer.h"

#include "common/TestSupport.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>

namespace sw {
namespace {

std::string Le32(uint32_t v) {
    return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
            static_cast<char>(v >> 24)};
}

std::string PcmWav(size_t samples, uint16_t bits = 16) {
    const uint16_t align = bits / 8;
    std::string data;
    for (size_t i = 0; i < samples * align; ++i) {
        data.push_back(static_cast<char>(i * 13));
    }
    return "RIFF" + Le32(static_cast<uint32_t>(36 + data.size())) + "WAVEfmt " + Le32(16) +
           Le32(1 | (1 << 16)) + Le32(8000) + Le32(8000u * align) + Le32(align | (uint32_t{bits} << 16)) +
           "data" + Le32(static_cast<uint32_t>(data.size())) + data;
}

class SoundPlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        Output = Dir.File("out.raw");
        Sound = Dir.File("sound.wav");
        Player.SetDevice("file:'" + Output + "',raw");
    }

    test::TTempDir Dir;
    std::string Output;
    std::string Sound;
    TSoundPlayer Player;
};

// ALSA's file plugin writes what the device was given: the samples of the data chunk, in order.
TEST_F(SoundPlayerTest, ThePcmDataReachesTheDevice) {
    for (uint16_t bits : {8, 16, 24, 32}) {
        SCOPED_TRACE(bits);
        const std::string wav = PcmWav(2000, bits);
        test::WriteFile(Sound, wav);
        std::remove(Output.c_str());
        ASSERT_TRUE(Player.PlayAsync(Sound));
        Player.Wait();
        EXPECT_EQ(Player.LastResult(), TSoundPlayer::TResult::Played);
        const std::string played = test::ReadFile(Output);
        ASSERT_GE(played.size(), wav.size() - 44);
        EXPECT_EQ(played.substr(0, wav.size() - 44), wav.substr(44));
    }
}

TEST_F(SoundPlayerTest, UnplayableFilesPlayNothing) {
    test::WriteFile(Sound, "RIFF....WAVEfmt garbage");
    ASSERT_TRUE(Player.PlayAsync(Sound));
    Player.Wait();
    EXPECT_EQ(Player.LastResult(), TSoundPlayer::TResult::NotPcmWav);
    ASSERT_TRUE(Player.PlayAsync(Sound + ".missing"));
    Player.Wait();
    EXPECT_EQ(Player.LastResult(), TSoundPlayer::TResult::Unreadable);
    ASSERT_TRUE(Player.PlayAsync(Dir.Path()));
    Player.Wait();
    EXPECT_EQ(Player.LastResult(), TSoundPlayer::TResult::Unreadable);
    EXPECT_TRUE(test::ReadFile(Output).empty()) << "the device is not even opened";

    test::WriteFile(Sound, PcmWav(100));
    Player.SetDevice("no_such_device_here");
    ASSERT_TRUE(Player.PlayAsync(Sound));
    Player.Wait();
    EXPECT_EQ(Player.LastResult(), TSoundPlayer::TResult::DeviceFailed);
}

} // namespace
} // namespace sw
