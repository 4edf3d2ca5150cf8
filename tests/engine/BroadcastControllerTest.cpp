#include "engine/BroadcastController.h"
#include "engine/Clients.h"
#include "engine/EngineFixture.h"
#include "platform/capture/CaptureDriverTable.h"
#include "platform/profile/IniFile.h"
#include "platform/shell/OperatorPrompts.h"
#include "platform/sound/SoundInputTable.h"

#include "log/CommaText.h"

#include <algorithm>
#include <map>
#include <set>
#include <sstream>

namespace sw {
namespace {

using test::EngineFixture;
using test::ProcessEventsUntil;

using A = TMainAction;

// The actions whose rule is "always".
const std::set<A> kAlways = {
    A::ViewBroadcast,
    A::ViewConnections,
    A::ViewLog,
    A::ViewConfiguration,
    A::ViewAbout,
    A::Minimize,
    A::Close,
    A::Open,
    A::Options,
    A::Email,
    A::Html,
    A::MenuStreamwright,
    A::VideoEnabled,
    A::AudioEnabled,
    A::ConfigurationEmail,
};

struct TRuleCase {
    const char* Name;
    bool Broadcasting;
    TVideoState Video;
    TAudioState Audio;
    bool Source, Format, Display; // the driver's dialog flags
    bool VideoEnabled, AudioEnabled;
    std::set<A> Enabled; // of the state-dependent actions below; the rest must be off
};

const std::set<A> kStateDependent = {A::Start,           A::Stop,        A::MenuVideo,        A::MenuAudio,
                                     A::VideoSource,     A::VideoFormat, A::VideoCompression, A::VideoDisplay,
                                     A::AudioCompression};

const TRuleCase kRuleCases[] = {
    {"nothing initialised, both off",
     false,
     vsNone,
     AudioIdle,
     false,
     false,
     false,
     false,
     false,
     {A::Start, A::MenuVideo, A::MenuAudio}},
    {"video on without a device",
     false,
     vsNone,
     AudioIdle,
     true,
     true,
     true,
     true,
     false,
     {A::MenuVideo, A::MenuAudio}},
    {"audio on without a format",
     false,
     vsInitialized,
     AudioIdle,
     false,
     false,
     false,
     false,
     true,
     {A::MenuVideo, A::MenuAudio, A::VideoCompression}},
    {"both ready, source dialog only",
     false,
     vsInitialized,
     AudioReady,
     true,
     false,
     false,
     true,
     true,
     {A::Start, A::MenuVideo, A::MenuAudio, A::VideoSource, A::VideoCompression, A::AudioCompression}},
    {"both ready, format and display",
     false,
     vsInitialized,
     AudioReady,
     false,
     true,
     true,
     true,
     true,
     {A::Start, A::MenuVideo, A::MenuAudio, A::VideoFormat, A::VideoDisplay, A::VideoCompression,
      A::AudioCompression}},
    {"broadcasting with every dialog",
     true,
     vsRunning,
     AudioRecording,
     true,
     true,
     true,
     true,
     true,
     {A::Stop}},
    {"broadcasting, video left initialised",
     true,
     vsInitialized,
     AudioReady,
     true,
     true,
     true,
     false,
     false,
     {A::Stop}},
};

using BroadcastControllerTest = EngineFixture;

TEST_F(BroadcastControllerTest, EnablingRulesFollowTheTable) {
    TVideoState video = vsNone;
    TAudioState audio = AudioIdle;
    TCapDriverCaps caps{};
    Controller->Devices.VideoState = [&video] { return video; };
    Controller->Devices.AudioState = [&audio] { return audio; };
    Controller->Devices.DriverCaps = [&caps] { return caps; };
    Controller->Devices.StartVideo = [] { return true; };
    Controller->Devices.StartAudioCapture = [] { return true; };
    Controller->Devices.StopVideo = nullptr;
    Controller->Devices.StopAudioCapture = nullptr;
    for (const TRuleCase& row : kRuleCases) {
        SCOPED_TRACE(row.Name);
        if (Controller->Broadcasting()) {
            Controller->Stop();
        }
        video = row.Broadcasting ? vsNone : row.Video;
        audio = row.Broadcasting ? AudioIdle : row.Audio;
        caps = TCapDriverCaps{};
        caps.fHasDlgVideoSource = row.Source;
        caps.fHasDlgVideoFormat = row.Format;
        caps.fHasDlgVideoDisplay = row.Display;
        Config->Video().SetEnabled(false);
        Config->Audio().SetEnabled(false);
        if (row.Broadcasting) {
            ASSERT_TRUE(Controller->Start());
            video = row.Video;
            audio = row.Audio;
        }
        Config->Video().SetEnabled(row.VideoEnabled);
        Config->Audio().SetEnabled(row.AudioEnabled);
        for (int i = 0; i < kMainActionCount; ++i) {
            const A action = static_cast<A>(i);
            if (kAlways.count(action)) {
                EXPECT_TRUE(Controller->ActionEnabled(action)) << "action " << i;
            } else if (kStateDependent.count(action)) {
                EXPECT_EQ(Controller->ActionEnabled(action), row.Enabled.count(action) == 1)
                    << "action " << i;
            }
        }
        EXPECT_EQ(Controller->ActionChecked(A::VideoEnabled), row.VideoEnabled);
        EXPECT_EQ(Controller->ActionChecked(A::AudioEnabled), row.AudioEnabled);
    }
    Controller->Stop();
    Controller->Devices.VideoState = [] { return vsNone; };
    Controller->Devices.AudioState = [] { return AudioIdle; };
    Controller->Devices.DriverCaps = nullptr;
}

TEST_F(BroadcastControllerTest, ClientAndLogRulesFollowTheRegistryAndTheLines) {
    Clients().Block("10.0.0.1");
    Clients().VideoConnect("10.0.0.2");
    struct TClientCase {
        const char* Selected;
        bool Blocked, Checked, Disconnect;
    };
    for (const TClientCase& row : {TClientCase{"", false, false, false},
                                   {"10.0.0.9", false, false, false},
                                   {"10.0.0.1", true, true, false},
                                   {"10.0.0.2", true, false, true}}) {
        SCOPED_TRACE(row.Selected);
        EXPECT_EQ(Controller->ActionEnabled(A::ClientBlocked, row.Selected), row.Blocked);
        EXPECT_EQ(Controller->ActionChecked(A::ClientBlocked, row.Selected), row.Checked);
        EXPECT_EQ(Controller->ActionEnabled(A::ClientDisconnect, row.Selected), row.Disconnect);
    }
    ASSERT_FALSE(Engine->LogLines().empty());
    EXPECT_TRUE(Controller->ActionEnabled(A::LogClear));
    EXPECT_TRUE(Controller->ActionEnabled(A::LogEmail));
    EXPECT_TRUE(Controller->Execute(A::LogClear));
    EXPECT_FALSE(Controller->ActionEnabled(A::LogClear));
    EXPECT_FALSE(Controller->ActionEnabled(A::LogEmail));
    EXPECT_FALSE(Controller->Execute(A::LogClear)) << "a disabled action does not run";
    Clients().Reset("10.0.0.2");
}

TEST_F(BroadcastControllerTest, DisabledActionsDoNotRunAndTheWindowsOwnAreLeftToIt) {
    EXPECT_FALSE(Controller->Execute(A::Stop));
    Config->Video().SetEnabled(true);
    EXPECT_FALSE(Controller->Execute(A::Start)) << "video enabled without a device";
    EXPECT_FALSE(Controller->Execute(A::VideoSource));
    EXPECT_FALSE(Controller->Execute(A::ViewLog));
    EXPECT_FALSE(Controller->Execute(A::Options));
    Settle();
    EXPECT_EQ(RecordedMessages(), (std::vector<uint8_t>{lmStarting, lmFiles}));
}

TEST_F(BroadcastControllerTest, EnabledTogglesStoreAtOnceAndLeaveARunningBroadcast) {
    const std::string ini = Dir.File("streamwright.ini");
    EXPECT_TRUE(Controller->Execute(A::AudioEnabled));
    EXPECT_TRUE(Config->Audio().Enabled());
    EXPECT_EQ(TIniFile(ini).ReadInteger("Audio", "Enabled", 0), 1);
    EXPECT_TRUE(Controller->Execute(A::AudioEnabled));
    EXPECT_EQ(TIniFile(ini).ReadInteger("Audio", "Enabled", 1), 0);

    Controller->Devices.StartVideo = [] { return true; };
    int videoStops = 0;
    Controller->Devices.StopVideo = [&videoStops] { ++videoStops; };
    ASSERT_TRUE(Controller->Start());
    EXPECT_TRUE(Controller->Execute(A::VideoEnabled));
    EXPECT_TRUE(Controller->Broadcasting()) << "the running broadcast is not changed";
    EXPECT_EQ(videoStops, 0);
    EXPECT_EQ(TIniFile(ini).ReadInteger("Video", "Enabled", 0), 1);
    Controller->Stop();
    Controller->Devices.StopVideo = nullptr;
}

class TBlockPrompts : public TConsolePrompts {
public:
    TBlockPrompts() { SetPrompts(this); }
    ~TBlockPrompts() override { SetPrompts(nullptr); }
    bool Confirm(const std::string& text) override {
        Questions.push_back(text);
        return Answer;
    }
    bool Answer = false;
    std::vector<std::string> Questions;
};

TEST_F(BroadcastControllerTest, BlockTogglesTheSelectedClientAndDisconnectAsksFirst) {
    Clients().VideoConnect("10.0.0.5");
    int changes = 0;
    QObject counting;
    QObject::connect(Controller, &TBroadcastController::ConnectionsChanged, &counting,
                     [&changes] { ++changes; });
    EXPECT_TRUE(Controller->Execute(A::ClientBlocked, "10.0.0.5"));
    EXPECT_TRUE(Clients().Find("10.0.0.5", false)->Blocked);
    EXPECT_TRUE(Controller->Execute(A::ClientBlocked, "10.0.0.5"));
    EXPECT_FALSE(Clients().Find("10.0.0.5", false)->Blocked);
    ASSERT_TRUE(ProcessEventsUntil([&] { return changes >= 2; }));
    ASSERT_GE(Recorded.size(), 3u);
    EXPECT_EQ(Recorded[Recorded.size() - 2].Message, lmClientBlock);
    EXPECT_EQ(Recorded[Recorded.size() - 2].Level, llWarning);
    EXPECT_EQ(Recorded.back().Message, lmClientUnblock);
    EXPECT_EQ(Recorded.back().Detail, "10.0.0.5");

    TBlockPrompts prompts;
    EXPECT_TRUE(Controller->Execute(A::ClientDisconnect, "10.0.0.5"));
    EXPECT_EQ(prompts.Questions, std::vector<std::string>{"Disconnect 10.0.0.5?"});
    Clients().Reset("10.0.0.5");
}

TEST_F(BroadcastControllerTest, DeviceChoiceStoresTheIndexAndReinitialises) {
    const std::vector<std::string> videoNames = Config->Video().DeviceNameList();
    const int pattern = static_cast<int>(std::find(videoNames.begin(), videoNames.end(), kTestPatternName) -
                                         videoNames.begin());
    ASSERT_LT(pattern, static_cast<int>(videoNames.size()));
    std::vector<int> videoStates;
    QObject listening;
    QObject::connect(Controller, &TBroadcastController::VideoStateChanged, &listening,
                     [&videoStates](int state) { videoStates.push_back(state); });

    ASSERT_TRUE(Controller->ChooseVideoDevice(pattern));
    EXPECT_EQ(Config->Video().Device(), pattern);
    EXPECT_EQ(TIniFile(Dir.File("streamwright.ini")).ReadString("Video", "Device", ""), kTestPatternName);
    EXPECT_EQ(Controller->VideoState(), vsInitialized);
    ASSERT_TRUE(Controller->ChooseVideoDevice(pattern));
    EXPECT_EQ(Controller->VideoState(), vsInitialized);
    EXPECT_EQ(videoStates, std::vector<int>{vsInitialized}) << "reconnecting ends where it began";
    Settle();
    const std::vector<uint8_t> messages = RecordedMessages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(), lmVideoInitializing), 2);
    EXPECT_EQ(std::count(messages.begin(), messages.end(), lmDriverDisconnect), 1) << "the second choice";

    EXPECT_FALSE(Controller->ChooseVideoDevice(static_cast<int>(videoNames.size())));
    EXPECT_FALSE(Controller->ChooseVideoDevice(-1));
    EXPECT_EQ(Config->Video().Device(), pattern);

    const std::vector<std::string> audioNames = Config->Audio().DeviceNameList();
    const int tone =
        static_cast<int>(std::find(audioNames.begin(), audioNames.end(), kTestToneName) - audioNames.begin());
    ASSERT_LT(tone, static_cast<int>(audioNames.size()));
    ASSERT_TRUE(Controller->ChooseAudioDevice(tone));
    EXPECT_EQ(Controller->AudioState(), AudioReady);
    EXPECT_EQ(TIniFile(Dir.File("streamwright.ini")).ReadString("Audio", "Device", ""), kTestToneName);

    Config->Video().SetEnabled(true);
    ASSERT_TRUE(Controller->Start());
    EXPECT_FALSE(Controller->ChooseVideoDevice(pattern)) << "the device menus are closed while broadcasting";
    EXPECT_FALSE(Controller->ChooseAudioDevice(tone));
    EXPECT_EQ(Controller->VideoState(), vsRunning);
    Controller->Stop();
}

// Everything a window, the tray and the headless runner follow, seen by two listeners at once.
TEST(BroadcastControllerSignalsTest, TwoListenersBothReceiveEveryNotification) {
    test::TTempDir dir;
    TProgramLifecycle program(dir.File("streamwright.ini"));
    program.Configuration().Video().SetPort(test::FreePort());
    program.Configuration().Audio().SetPort(test::FreePort());
    const std::vector<std::string> names = program.Configuration().Video().DeviceNameList();
    program.Configuration().Video().SetDevice(
        static_cast<int>(std::find(names.begin(), names.end(), kTestPatternName) - names.begin()));
    program.Configuration().Video().SetEnabled(true);
    program.CreateEngine();
    TBroadcastController& controller = program.Controller();

    struct TListener {
        std::map<std::string, int> Seen;
        QObject Context;
    } first, second;
    for (TListener* listener : {&first, &second}) {
        std::map<std::string, int>& seen = listener->Seen;
        QObject* context = &listener->Context;
        using C = TBroadcastController;
        QObject::connect(&controller, &C::BroadcastingChanged, context, [&seen] { ++seen["broadcasting"]; });
        QObject::connect(&controller, &C::Stopped, context, [&seen] { ++seen["stopped"]; });
        QObject::connect(&controller, &C::VideoStateChanged, context, [&seen] { ++seen["video"]; });
        QObject::connect(&controller, &C::AudioStateChanged, context, [&seen] { ++seen["audio"]; });
        QObject::connect(&controller, &C::InitializedDevices, context, [&seen] { ++seen["devices"]; });
        QObject::connect(&controller, &C::FrameRateChanged, context, [&seen] { ++seen["fps"]; });
        QObject::connect(&controller, &C::ConnectionsChanged, context, [&seen] { ++seen["connections"]; });
        QObject::connect(&controller, &C::LogChanged, context, [&seen] { ++seen["log"]; });
        QObject::connect(&controller, &C::SystemInfoChanged, context, [&seen] { ++seen["systeminfo"]; });
        QObject::connect(&program.Engine(), &TDataModuleMain::LogRecorded, context,
                         [&seen] { ++seen["entry"]; });
    }
    ASSERT_TRUE(ProcessEventsUntil([&] { return controller.DevicesInitialized(); }));
    ASSERT_TRUE(controller.Start());
    controller.Stop();
    const std::vector<std::string> audioNames = program.Configuration().Audio().DeviceNameList();
    ASSERT_TRUE(controller.ChooseAudioDevice(static_cast<int>(
        std::find(audioNames.begin(), audioNames.end(), kTestToneName) - audioNames.begin())));
    program.Engine().BuildSystemInfo();
    ASSERT_TRUE(ProcessEventsUntil([&] { return first.Seen["systeminfo"] >= 2 && first.Seen["log"] >= 2; }));
    test::ProcessEventsFor(50);

    for (const char* kind : {"broadcasting", "stopped", "video", "audio", "devices", "fps", "connections",
                             "log", "systeminfo", "entry"}) {
        EXPECT_GE(first.Seen[kind], 1) << kind;
    }
    EXPECT_EQ(first.Seen, second.Seen);
    EXPECT_EQ(first.Seen["broadcasting"], 2);
    EXPECT_EQ(first.Seen["devices"], 1);
}

// What the main window's destruction does, through the one owner of the shut-down order.
TEST(ProgramLifecycleTest, DestructionWhileBroadcastingRecordsStopBeforeTheDevicesAreReleased) {
    for (const bool broadcasting : {true, false}) {
        SCOPED_TRACE(broadcasting ? "broadcasting" : "stopped");
        test::TTempDir dir;
        std::vector<uint8_t> messages;
        QObject listening;
        {
            TProgramLifecycle program(dir.File("streamwright.ini"));
            TConfiguration& config = program.Configuration();
            config.BeginUpdate();
            config.Video().SetPort(test::FreePort());
            config.Audio().SetPort(test::FreePort());
            const std::vector<std::string> names = config.Video().DeviceNameList();
            config.Video().SetDevice(
                static_cast<int>(std::find(names.begin(), names.end(), kTestPatternName) - names.begin()));
            config.Video().SetEnabled(true);
            config.EndUpdate();
            program.CreateEngine();
            QObject::connect(&program.Engine(), &TDataModuleMain::LogRecorded, &listening,
                             [&messages](const TAMLog& entry) { messages.push_back(entry.Message); });
            ASSERT_TRUE(
                ProcessEventsUntil([&] { return program.Controller().VideoState() == vsInitialized; }));
            if (broadcasting) {
                ASSERT_TRUE(program.Controller().Start());
                ASSERT_TRUE(ProcessEventsUntil(
                    [&] { return std::count(messages.begin(), messages.end(), lmSetUserData) > 0; }));
            }
        }
        const auto stop = std::find(messages.begin(), messages.end(), lmStop);
        const auto disconnect = std::find(messages.rbegin(), messages.rend(), lmDriverDisconnect);
        ASSERT_NE(disconnect, messages.rend()) << "the capture device is released";
        if (broadcasting) {
            ASSERT_NE(stop, messages.end());
            EXPECT_LT(stop - messages.begin(), messages.rend() - disconnect - 1);
            EXPECT_EQ(std::count(messages.begin(), messages.end(), lmStop), 1);
        } else {
            EXPECT_EQ(stop, messages.end()) << "closing while stopped records no Stop";
        }
        std::vector<std::string> fileMessages;
        std::istringstream log(test::ReadFile(dir.File("streamwright.log")));
        for (std::string line; std::getline(log, line);) {
            fileMessages.push_back(FromCommaText(line).at(3));
        }
        EXPECT_EQ(fileMessages.back(), std::to_string(messages.back())) << "the file holds them all";
    }
}

} // namespace
} // namespace sw
