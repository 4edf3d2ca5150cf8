#include "config/Configuration.h"
#include "common/TestSupport.h"
#include "platform/capture/CaptureDriverTable.h"
#include "platform/profile/IniFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace sw {
namespace {

using test::ReadFile;
using test::TTempDir;
using test::WriteFile;

class ConfigurationTest : public ::testing::Test {
protected:
    std::unique_ptr<TConfiguration> Load(const std::string& content = {}) {
        if (!content.empty()) {
            WriteFile(Ini(), content);
        }
        auto config = std::make_unique<TConfiguration>(Ini());
        config->Reload();
        return config;
    }
    std::string Ini() const { return Dir.File("streamwright.ini"); }
    std::vector<std::string> Sections() const { return TIniFile(Ini()).ReadSectionNames(); }

    TTempDir Dir;
};

TEST_F(ConfigurationTest, DefaultsWithoutAFile) {
    auto config = Load();
    EXPECT_FALSE(config->Video().Enabled());
    EXPECT_EQ(config->Video().Device(), -1);
    EXPECT_EQ(config->Video().Port(), 2001);
    EXPECT_EQ(config->Video().BufferSize(), 32);
    EXPECT_EQ(config->Video().SourcePort(), 2001);
    EXPECT_EQ(config->Audio().Device(), -1);
    EXPECT_EQ(config->Audio().Port(), 2002);
    EXPECT_EQ(config->Audio().Volume(), 1);
    EXPECT_EQ(config->Audio().FramesPerSecond(), 10);
    EXPECT_EQ(config->Audio().FrameSize(), 1000);
    EXPECT_EQ(config->Audio().Format(), 1);
    EXPECT_EQ(config->Audio().Frequency(), 8000);
    EXPECT_EQ(config->Audio().Bits(), 8);
    EXPECT_EQ(config->Audio().Channels(), 1);
    EXPECT_EQ(config->Audio().SourcePort(), 2002);
    EXPECT_FALSE(config->Web().Enabled());
    EXPECT_EQ(config->Web().Port(), 80);
    EXPECT_EQ(config->Web().Page(), "/index.htm");
    EXPECT_EQ(config->Web().SourcePort(), 8002);
    EXPECT_EQ(config->Web().Path() + "/", ExtractFilePath(ExecutablePath()));
    EXPECT_EQ(config->Text().Format(), 0);
    EXPECT_EQ(config->Text().AlignmentVertical(), 2);
    EXPECT_EQ(config->Text().Size(), 8);
    EXPECT_EQ(config->Text().Font(), "MS Sans Serif");
    EXPECT_FALSE(config->Text().Time24Hour());
    EXPECT_EQ(config->Broadcast().Host(), 0);
    EXPECT_TRUE(config->Log().Information());
    EXPECT_TRUE(config->Log().MessageEnabled(51));
    EXPECT_TRUE(config->Log().MessageEnabled(61)) << "added messages are on without a key";
    EXPECT_FALSE(config->Log().MessageEnabled(62));
    EXPECT_FALSE(config->Publish().Enabled());
    EXPECT_EQ(config->Publish().Url(), "");
    EXPECT_EQ(config->Publish().VideoBitrate(), 0);
    EXPECT_EQ(config->Publish().Keyframe(), 2);
    EXPECT_EQ(config->Publish().EffectiveUrl(), "");
    EXPECT_EQ(config->BackgroundColor(), -16777211);
    EXPECT_EQ(config->JpegQuality(), 75);
    EXPECT_FALSE(test::FileExists(Ini())) << "loading never saves";
}

TEST_F(ConfigurationTest, StartUpLeavesOnlyTheRootSections) {
    auto config = Load();
    config->StoreRunTimeValues();
    EXPECT_EQ(Sections(), (std::vector<std::string>{"Transfer", "Sound", "Application"}));
    EXPECT_EQ(ReadFile(Ini()),
              "[Transfer]\r\nSize=1024\r\nDelay=55\r\n"
              "[Sound]\r\nConnect=0\r\nConnectFile=\r\n"
              "[Application]\r\nMinimizeTray=0\r\nBackgroundColor=-16777211\r\nJpegQuality=75\r\n");
    EXPECT_EQ(config->WebAddress(), config->GetString(2));
    EXPECT_FALSE(config->SupportAddress().empty());
}

TEST_F(ConfigurationTest, CorrectsVolumeAndPathOnly) {
    auto config = Load("[Audio]\r\nVolume=-5\r\n[Web]\r\nPath=/srv/web//\r\nPort=99999\r\n[Application]\r\n"
                       "JpegQuality=500\r\n[Text]\r\nSize=-3\r\n");
    EXPECT_EQ(config->Audio().Volume(), 1);
    EXPECT_EQ(config->Web().Path(), "/srv/web/");
    EXPECT_EQ(config->Web().Port(), 99999);
    EXPECT_EQ(config->JpegQuality(), 500);
    EXPECT_EQ(config->Text().Size(), -3);
    auto zero = Load("[Audio]\r\nVolume=0\r\n[Web]\r\nPath=/srv/web/\r\n");
    EXPECT_EQ(zero->Audio().Volume(), 1);
    EXPECT_EQ(zero->Web().Path(), "/srv/web");
}

TEST_F(ConfigurationTest, ReadsHexadecimalAndFallsBackOnJunk) {
    auto config = Load("[Video]\r\nPort=0x1F41\r\n[Audio]\r\nPort=$1F41\r\n[Web]\r\nPort=eighty\r\n");
    EXPECT_EQ(config->Video().Port(), 8001);
    EXPECT_EQ(config->Audio().Port(), 8001);
    EXPECT_EQ(config->Web().Port(), 80);
}

TEST_F(ConfigurationTest, BooleanTwoIsTrueAndSavesAsOne) {
    auto config = Load("[Video]\r\nEnabled=2\r\n");
    EXPECT_TRUE(config->Video().Enabled());
    config->Video().SetPort(2001);
    EXPECT_EQ(TIniFile(Ini()).ReadString("Video", "Enabled", ""), "1");
}

TEST_F(ConfigurationTest, DeviceNameMatchesWithoutRegardToCase) {
    auto config = Load("[Video]\r\nDevice=TEST pattern\r\n[Audio]\r\nDevice=test TONE\r\n");
    ASSERT_GE(config->Video().Device(), 0);
    EXPECT_EQ(config->Video().DeviceNames(config->Video().Device()), kTestPatternName);
    ASSERT_GE(config->Audio().Device(), 0);
    EXPECT_EQ(config->Audio().DeviceNames(config->Audio().Device()), "Test Tone");
    EXPECT_EQ(config->Audio().DeviceIds(config->Audio().DeviceCount() - 1), -1)
        << "the wave mapper comes last";
    config->Video().SetEnabled(true);
    EXPECT_EQ(TIniFile(Ini()).ReadString("Video", "Device", ""), kTestPatternName);
}

TEST_F(ConfigurationTest, UnknownDeviceSavesAsEmpty) {
    auto config = Load("[Video]\r\nDevice=Unplugged Camera\r\n");
    EXPECT_EQ(config->Video().Device(), -1);
    EXPECT_EQ(config->Video().DeviceNames(-1), "");
    EXPECT_EQ(config->Video().DeviceIds(99), TDeviceConfiguration::kNoDeviceId);
    config->Video().SetEnabled(false);
    EXPECT_EQ(TIniFile(Ini()).ReadString("Video", "Device", "x"), "");
}

TEST_F(ConfigurationTest, OneSetterRewritesExactlyItsSection) {
    auto config = Load();
    config->Video().SetBufferSize(64);
    EXPECT_EQ(ReadFile(Ini()), "[Video]\r\nEnabled=0\r\nDevice=\r\nPort=2001\r\nBufferSize=64\r\n"
                               "SourceAddress=\r\nSourcePort=2001\r\n");
}

TEST_F(ConfigurationTest, BracketWritesEverySectionOnceInOrder) {
    auto config = Load();
    config->BeginUpdate();
    config->Video().SetPort(3001);
    config->Audio().SetPort(3002);
    config->Log().SetMessageEnabled(33, false);
    config->SetJpegQuality(80);
    EXPECT_FALSE(test::FileExists(Ini())) << "nothing is written inside the bracket";
    config->EndUpdate();
    EXPECT_EQ(Sections(), (std::vector<std::string>{"Log", "Broadcast", "Text", "Web", "Audio", "Video",
                                                    "Transfer", "Sound", "Application"}));
    TIniFile file(Ini());
    EXPECT_EQ(file.ReadInteger("Video", "Port", 0), 3001);
    EXPECT_EQ(file.ReadInteger("Log", "33", 1), 0);
    EXPECT_EQ(file.ReadInteger("Application", "JpegQuality", 0), 80);
    EXPECT_EQ(file.ReadKeyNames("Log").size(), 55u);
}

TEST_F(ConfigurationTest, PublishSectionIsAppendedAndLeavesEveryOtherByteAlone) {
    const std::string existing = "[Video]\r\nEnabled=1\r\nPort=2001\r\n; a comment\r\n"
                                 "[Log]\r\nInformation=1\r\n33=0\r\n"
                                 "[Application]\r\nJpegQuality=80\r\n";
    auto config = Load(existing);
    config->BeginUpdate();
    config->EndUpdate();
    const std::string afterApply = ReadFile(Ini());
    EXPECT_EQ(std::count(afterApply.begin(), afterApply.end(), '['), 9)
        << "an Apply writes the sections it always did";
    EXPECT_EQ(afterApply.find("[Publish]"), std::string::npos);
    EXPECT_EQ(TIniFile(Ini()).ReadKeyNames("Log").size(), 55u) << "keys 52 and up are kept only while off";

    WriteFile(Ini(), existing);
    config->Publish().BeginUpdate();
    config->Publish().SetEnabled(true);
    config->Publish().SetUrl("rtmp://server/live/key");
    config->Publish().SetVideoBitrate(1500);
    config->Publish().EndUpdate();
    EXPECT_EQ(ReadFile(Ini()), existing + "[Publish]\r\nEnabled=1\r\nUrl=rtmp://server/live/key\r\n"
                                          "VideoBitrate=1500\r\nKeyframe=2\r\n");
    auto reloaded = Load();
    EXPECT_EQ(reloaded->Publish().EffectiveUrl(), "rtmp://server/live/key");
    reloaded->Publish().SetRunUrl("srt://other:9000");
    EXPECT_EQ(reloaded->Publish().EffectiveUrl(), "srt://other:9000")
        << "the command line's URL wins for the run";
    EXPECT_EQ(TIniFile(Ini()).ReadString("Publish", "Url", ""), "rtmp://server/live/key")
        << "and is never written";
}

TEST_F(ConfigurationTest, CaptureFormatKeysAreAbsentUntilSetAndAppendedAfterTheOthers) {
    const std::string existing = "[Video]\r\nEnabled=1\r\nDevice=\r\nPort=2001\r\nBufferSize=32\r\n"
                                 "SourceAddress=\r\nSourcePort=2001\r\n[Audio]\r\nPort=2002\r\n";
    auto config = Load(existing);
    EXPECT_EQ(config->Video().Width(), 0);
    EXPECT_EQ(config->Video().FrameRate(), 0);
    EXPECT_EQ(config->Video().PixelFormat(), "");
    config->Video().SetEnabled(true);
    EXPECT_EQ(ReadFile(Ini()), existing) << "a file without the keys stays byte for byte";

    config->Video().BeginUpdate();
    config->Video().SetWidth(1280);
    config->Video().SetHeight(720);
    config->Video().SetFrameRate(15);
    config->Video().SetPixelFormat("YUYV");
    config->Video().EndUpdate();
    const std::string withFormat = "[Video]\r\nEnabled=1\r\nDevice=\r\nPort=2001\r\nBufferSize=32\r\n"
                                   "SourceAddress=\r\nSourcePort=2001\r\nWidth=1280\r\nHeight=720\r\n"
                                   "FrameRate=15\r\nPixelFormat=YUYV\r\n[Audio]\r\nPort=2002\r\n";
    EXPECT_EQ(ReadFile(Ini()), withFormat);
    auto reloaded = Load();
    EXPECT_EQ(reloaded->Video().Width(), 1280);
    EXPECT_EQ(reloaded->Video().Height(), 720);
    EXPECT_EQ(reloaded->Video().FrameRate(), 15);
    EXPECT_EQ(reloaded->Video().PixelFormat(), "YUYV");

    // Cleared again, the keys leave the file.
    reloaded->Video().BeginUpdate();
    reloaded->Video().SetWidth(0);
    reloaded->Video().SetHeight(0);
    reloaded->Video().SetFrameRate(0);
    reloaded->Video().SetPixelFormat("");
    reloaded->Video().EndUpdate();
    EXPECT_EQ(ReadFile(Ini()), existing);
}

TEST_F(ConfigurationTest, AddedMessageSwitchesAreStoredOnlyWhileOff) {
    auto config = Load();
    config->Log().SetMessageEnabled(55, false);
    EXPECT_EQ(TIniFile(Ini()).ReadString("Log", "55", ""), "0");
    EXPECT_FALSE(Load()->Log().MessageEnabled(55)) << "it survives a restart";
    config->Log().SetMessageEnabled(55, true);
    EXPECT_EQ(TIniFile(Ini()).ReadString("Log", "55", "none"), "none");
    EXPECT_EQ(TIniFile(Ini()).ReadKeyNames("Log").size(), 55u);
}

TEST_F(ConfigurationTest, NestedAndUnbalancedBrackets) {
    auto config = Load();
    TWebConfiguration& web = config->Web();
    web.BeginUpdate();
    web.BeginUpdate();
    web.SetPort(8080);
    web.EndUpdate();
    EXPECT_FALSE(test::FileExists(Ini()));
    web.EndUpdate();
    EXPECT_EQ(TIniFile(Ini()).ReadInteger("Web", "Port", 0), 8080);
    web.EndUpdate();
    EXPECT_EQ(web.UpdateCount(), -1);
    web.SetPort(8081);
    EXPECT_EQ(TIniFile(Ini()).ReadInteger("Web", "Port", 0), 8081) << "a negative count saves at once";
}

TEST_F(ConfigurationTest, OutOfRangeSlots) {
    auto config = Load();
    TBroadcastConfiguration& broadcast = config->Broadcast();
    const size_t before = broadcast.IntegerCount();
    EXPECT_EQ(broadcast.GetInteger(12), 0);
    EXPECT_EQ(broadcast.GetInteger(-1), 0);
    EXPECT_EQ(broadcast.GetString(40), "");
    EXPECT_FALSE(broadcast.GetBoolean(3));
    EXPECT_EQ(broadcast.GetFloat(0), 0.0);
    EXPECT_EQ(broadcast.IntegerCount(), before);
    broadcast.SetInteger(12, 5);
    EXPECT_EQ(broadcast.IntegerCount(), 13u);
    EXPECT_EQ(broadcast.GetInteger(12), 5);
    EXPECT_EQ(broadcast.GetInteger(11), 0);
}

TEST_F(ConfigurationTest, ReadOnlyFileNeitherThrowsNorChangesMemory) {
    WriteFile(Ini(), "[Video]\r\nPort=2001\r\n");
    ::chmod(Ini().c_str(), 0444);
    auto config = Load();
    EXPECT_NO_THROW(config->Video().SetPort(4000));
    EXPECT_EQ(config->Video().Port(), 4000);
    EXPECT_EQ(ReadFile(Ini()), "[Video]\r\nPort=2001\r\n");
}

TEST_F(ConfigurationTest, ReloadDoesNotSave) {
    auto config = Load("[Web]\r\nPath=/srv/x/\r\n");
    config->Web().Reload();
    EXPECT_EQ(ReadFile(Ini()), "[Web]\r\nPath=/srv/x/\r\n");
    EXPECT_FALSE(config->Web().Loading());
}

TEST(FileNameTest, ExtensionRule) {
    EXPECT_EQ(ChangeFileExt("/opt/sw/streamwright", ".ini"), "/opt/sw/streamwright.ini");
    EXPECT_EQ(ChangeFileExt("/opt/sw/streamwright.bin", ".ini"), "/opt/sw/streamwright.ini");
    EXPECT_EQ(ChangeFileExt("/opt/sw.d/streamwright", ".log"), "/opt/sw.d/streamwright.log");
    EXPECT_EQ(ChangeFileExt("/tmp/my.settings.ini", ".log"), "/tmp/my.settings.log");
}

} // namespace
} // namespace sw

namespace sw {
namespace {

TEST(ListenAddressTest, AbsentFromTheFileUntilSetAndRemovedWhenCleared) {
    test::TTempDir dir;
    const std::string ini = dir.File("streamwright.ini");
    TConfiguration config(ini);
    config.Reload();
    config.Broadcast().SetHost(0);
    EXPECT_EQ(test::ReadFile(ini).find("ListenAddress"), std::string::npos);
    config.Broadcast().SetListenAddress("::1");
    EXPECT_EQ(TIniFile(ini).ReadString("Broadcast", "ListenAddress", ""), "::1");
    EXPECT_EQ(TIniFile(ini).ReadKeyNames("Broadcast").back(), "ListenAddress")
        << "appended after the design's keys";
    config.Broadcast().SetListenAddress("");
    EXPECT_EQ(test::ReadFile(ini).find("ListenAddress"), std::string::npos);
}

TEST(ListenAddressTest, RunValueWinsAndIsNeverSaved) {
    test::TTempDir dir;
    const std::string ini = dir.File("streamwright.ini");
    test::WriteFile(ini, "[Broadcast]\r\nListenAddress=192.0.2.7\r\n");
    TConfiguration config(ini);
    config.Reload();
    EXPECT_EQ(config.Broadcast().EffectiveListenAddress(), "192.0.2.7");
    config.Broadcast().SetRunListenAddress("127.0.0.1");
    config.Broadcast().SetHost(1);
    EXPECT_EQ(config.Broadcast().EffectiveListenAddress(), "127.0.0.1");
    EXPECT_EQ(TIniFile(ini).ReadString("Broadcast", "ListenAddress", ""), "192.0.2.7");
}

TEST(WebDefaultPathTest, StartUpMayMoveTheDefaultButNotAStoredPath) {
    test::TTempDir dir;
    const std::string ini = dir.File("streamwright.ini");
    TConfiguration config(ini);
    config.Web().SetDefaultPath("/home/ann/.local/share/streamwright/www");
    config.Reload();
    EXPECT_EQ(config.Web().Path(), "/home/ann/.local/share/streamwright/www");
    test::WriteFile(ini, "[Web]\r\nPath=/srv/www/\r\n");
    config.Reload();
    EXPECT_EQ(config.Web().Path(), "/srv/www");
}

} // namespace
} // namespace sw
