#include "video/CaptureControl.h"

#include "config/Configuration.h"
#include "log/CommaText.h"
#include "platform/capture/ScriptedPrompts.h"
#include "platform/capture/TestPatternDriver.h"
#include "platform/shell/ThreadHandOff.h"
#include "video/VideoImageStream.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace sw {
namespace {

// Collects the log entries posted to it, as the engine's message window receives them.
class TLogCollector : public QObject {
public:
    struct TEntry {
        int Level;
        int Message;
        std::string Detail;
        std::vector<std::string> Values;
    };

    bool event(QEvent* event) override {
        TakeOverFromThread(event);
        if (event->type() == static_cast<QEvent::Type>(WM_LOGENTRY)) {
            const TAMLog& entry = *static_cast<TLogEntryEvent*>(event)->Record();
            Entries.push_back({entry.Level, entry.Message, entry.Detail, FromCommaText(entry.Values)});
            return true;
        }
        return QObject::event(event);
    }

    std::vector<TEntry> Take() {
        QCoreApplication::sendPostedEvents(this, WM_LOGENTRY);
        return std::exchange(Entries, {});
    }

    std::vector<TEntry> Entries;
};

// "message level detail" of each entry, for comparing sequences at a glance.
std::vector<std::string> Summary(const std::vector<TLogCollector::TEntry>& entries) {
    std::vector<std::string> lines;
    for (const auto& entry : entries) {
        lines.push_back(std::string(MessageText(static_cast<uint8_t>(entry.Message))) + " " +
                        LevelName(static_cast<uint8_t>(entry.Level)) + " " + entry.Detail);
    }
    return lines;
}

class CaptureControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Directory.isValid());
        Config =
            std::make_unique<TConfiguration>(Directory.filePath(QStringLiteral("test.ini")).toStdString());
        Config->Load();
        SetConfiguration(Config.get());
        std::vector<std::string> names = Config->Video().DeviceNameList();
        auto pattern = std::find(names.begin(), names.end(), "Test Pattern");
        ASSERT_NE(pattern, names.end());
        PatternDevice = static_cast<int32_t>(pattern - names.begin());
        Config->Video().SetDevice(PatternDevice);
        Config->Audio().SetFrameSize(1024);
        Control = std::make_unique<TCaptureControl>(&Collector);
        Control->SetPanelSize(200, 100);
    }
    void TearDown() override {
        Control.reset();
        SetConfiguration(nullptr);
        TestPatternFaults().Reset();
    }

    QTemporaryDir Directory;
    std::unique_ptr<TConfiguration> Config;
    int32_t PatternDevice = -1;
    TLogCollector Collector;
    test::TScriptedPrompts Prompts;
    std::unique_ptr<TCaptureControl> Control;
};

TEST_F(CaptureControlTest, GoodInitialisationLogsEachStepWithItsDump) {
    ASSERT_TRUE(Control->InitializeVideo());
    EXPECT_EQ(Control->VideoState(), vsInitialized);
    EXPECT_TRUE(Prompts.Messages.empty());
    std::vector<TLogCollector::TEntry> entries = Collector.Take();
    EXPECT_EQ(Summary(entries), (std::vector<std::string>{
                                    "Initializing Information Test Pattern",
                                    "Create capture window Information Ok",
                                    "Driver connect Information Ok",
                                    "Driver get capabilities Information Ok",
                                    "Get status Information Ok",
                                    "Get status Information Ok",
                                    "Capture get setup Information Ok",
                                    "Capture set setup Information Ok",
                                    "Get video format Information Ok",
                                }));
    ASSERT_EQ(entries.size(), 9u);
    EXPECT_TRUE(entries[0].Values.empty());
    EXPECT_TRUE(entries[1].Values.empty());
    EXPECT_EQ(entries[3].Values, (std::vector<std::string>{
                                     "wDeviceIndex                = " + std::to_string(PatternDevice),
                                     "fHasOverlay                 = No",
                                     "fHasDlgVideoSource          = Yes",
                                     "fHasDlgVideoFormat          = Yes",
                                     "fHasDlgVideoDisplay         = No",
                                     "fCaptureInitialized         = Yes",
                                     "fDriverSuppliesPalettes     = No",
                                     "hVideoIn                    = 0",
                                     "hVideoOut                   = 0",
                                     "hVideoExtIn                 = 0",
                                     "hVideoExtOut                = 0",
                                 }));
    ASSERT_EQ(entries[4].Values.size(), 19u);
    EXPECT_EQ(entries[4].Values[0], "uiImageWidth                = 640");
    EXPECT_EQ(entries[4].Values[1], "uiImageHeight               = 480");
    EXPECT_EQ(entries[4].Values[5], "ptScroll.X                  = 0");
    EXPECT_EQ(entries[4].Values[11].rfind("dwCurrentVideoFramesDropped = ", 0), 0u);
    EXPECT_EQ(entries[4].Values[18], "wNumAudioAllocated          = 0");
    ASSERT_EQ(entries[6].Values.size(), 24u);
    EXPECT_EQ(entries[6].Values[0], "dwRequestMicroSecPerFrame   = 33333");
    EXPECT_EQ(entries[6].Values[10], "vKeyAbort                   = 27");
    EXPECT_EQ(entries[6].Values[21], "dwAudioBufferSize           = 0");
    EXPECT_EQ(entries[6].Values[23], "AVStreamMaster              = 0");
    EXPECT_TRUE(entries[7].Values.empty());
    EXPECT_EQ(entries[8].Values, (std::vector<std::string>{
                                     "biSize                      = 40",
                                     "biWidth                     = 640",
                                     "biHeight                    = 480",
                                     "biPlanes                    = 1",
                                     "biBitCount                  = 16",
                                     "biCompression               = 1498831189",
                                     "biSizeImage                 = 614400",
                                     "biXPelsPerMeter             = 0",
                                     "biYPelsPerMeter             = 0",
                                     "biClrUsed                   = 0",
                                     "biClrImportant              = 0",
                                 }));

    // The settings went back with twice "FrameSize" as the audio buffer size.
    EXPECT_EQ(Control->CaptureParms().dwAudioBufferSize, 2048u);
    TCaptureParms written{};
    ASSERT_TRUE(Control->CaptureWindow()->GetSequenceSetup(written));
    EXPECT_EQ(written.dwAudioBufferSize, 2048u);
    EXPECT_EQ(InfoHeaderOf(Control->VideoFormat().data()).biWidth, 640);
    EXPECT_EQ(Control->DriverCaps().fHasDlgVideoFormat, 1);

    // A panel smaller than the window gives negative offsets; the window is created all the same.
    TWindowRect rect = Control->CaptureWindow()->Rect();
    EXPECT_EQ(rect.X, -60);
    EXPECT_EQ(rect.Y, -30);
    EXPECT_EQ(rect.Width, 320);
    EXPECT_EQ(rect.Height, 160);
    EXPECT_FALSE(Control->CaptureWindow()->Visible());
    EXPECT_EQ(Control->CaptureWindow()->Title(), "Streamwright Capture Window");

    Control->SetPanelSize(501, 401);
    ASSERT_TRUE(Control->PositionCaptureWindow());
    rect = Control->CaptureWindow()->Rect();
    EXPECT_EQ(rect.X, -69);
    EXPECT_EQ(rect.Y, -39);
    EXPECT_EQ(rect.Width, 640);
    EXPECT_EQ(rect.Height, 480);
}

TEST_F(CaptureControlTest, DeviceIndexOutOfRangeReachesTheDriverAs65535) {
    Config->Video().SetDevice(PatternDevice + 5);
    EXPECT_FALSE(Control->InitializeVideo());
    EXPECT_EQ(Control->VideoState(), vsNone);
    EXPECT_EQ(Control->CaptureWindow(), nullptr);
    EXPECT_EQ(Summary(Collector.Take()), (std::vector<std::string>{
                                             "Initializing Information ",
                                             "Create capture window Information Ok",
                                             "Driver connect Error Failed",
                                             "Destroy window Information Ok",
                                         }));
    EXPECT_EQ(Prompts.Messages, (std::vector<std::string>{"Unable to initialize video!"}));
}

TEST_F(CaptureControlTest, StatusFailingAfterAGoodConnectUndoesTheConnection) {
    TestPatternFaults().FailStatus = true;
    EXPECT_FALSE(Control->InitializeVideo());
    EXPECT_EQ(Control->VideoState(), vsNone);
    std::vector<TLogCollector::TEntry> entries = Collector.Take();
    EXPECT_EQ(Summary(entries), (std::vector<std::string>{
                                    "Initializing Information Test Pattern",
                                    "Create capture window Information Ok",
                                    "Driver connect Information Ok",
                                    "Driver get capabilities Information Ok",
                                    "Get status Error Failed",
                                    "Driver disconnect Information Ok",
                                    "Destroy window Information Ok",
                                }));
    ASSERT_EQ(entries.size(), 7u);
    EXPECT_EQ(entries[4].Values, (std::vector<std::string>{"00000000 (0)"}));
    EXPECT_EQ(Prompts.Messages, (std::vector<std::string>{"Unable to initialize video!"}));
}

TEST_F(CaptureControlTest, ConnectFailureShowsTheMessage) {
    TestPatternFaults().FailConnect = true;
    EXPECT_FALSE(Control->InitializeVideo());
    EXPECT_EQ(Summary(Collector.Take()).at(2), "Driver connect Error Failed");
    EXPECT_EQ(Prompts.Messages.size(), 1u);
}

TEST_F(CaptureControlTest, DialogsAreFollowedByTheRefresh) {
    EXPECT_FALSE(Control->VideoFormatDialog()); // nothing to show before initialisation
    EXPECT_TRUE(Collector.Take().empty());
    ASSERT_TRUE(Control->InitializeVideo());
    Collector.Take();

    const std::vector<std::string> refresh = {
        "Get status Information Ok",
        "Capture get setup Information Ok",
        "Capture set setup Information Ok",
        "Get video format Information Ok",
    };
    Prompts.Choices.push_back(std::nullopt);
    EXPECT_FALSE(Control->VideoFormatDialog());
    ASSERT_FALSE(Prompts.LastItems.empty());
    auto wanted = std::find(Prompts.LastItems.begin(), Prompts.LastItems.end(), "320 x 240, YV12");
    ASSERT_NE(wanted, Prompts.LastItems.end());
    EXPECT_EQ(Summary(Collector.Take()), refresh);

    Prompts.Choices.push_back(static_cast<int>(wanted - Prompts.LastItems.begin()));
    EXPECT_TRUE(Control->VideoFormatDialog());
    std::vector<TLogCollector::TEntry> entries = Collector.Take();
    EXPECT_EQ(Summary(entries), refresh);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].Values[0], "uiImageWidth                = 320");
    EXPECT_EQ(entries[1].Values[21], "dwAudioBufferSize           = 2048");
    EXPECT_EQ(entries[3].Values[5], "biCompression               = 842094169");
    EXPECT_EQ(Control->CaptureStatus().uiImageWidth, 320u);
    // The choice is kept for the next initialisation, with or without windows.
    EXPECT_EQ(Config->Video().Width(), 320);
    EXPECT_EQ(Config->Video().Height(), 240);
    EXPECT_EQ(Config->Video().PixelFormat(), "YV12");

    Prompts.Choices.push_back(TTestPatternDriver::GreyRamp);
    EXPECT_TRUE(Control->VideoSourceDialog());
    EXPECT_EQ(Summary(Collector.Take()), refresh);

    // The test pattern has no display dialog: nothing is asked, the refresh still runs.
    size_t asked = Prompts.Titles.size();
    EXPECT_FALSE(Control->VideoDisplayDialog());
    EXPECT_EQ(Prompts.Titles.size(), asked);
    EXPECT_EQ(Summary(Collector.Take()), refresh);

    EXPECT_TRUE(Control->VideoCompressionDialog());
    EXPECT_EQ(Prompts.Messages.size(), 1u);
    EXPECT_EQ(Summary(Collector.Take()), refresh);
}

TEST_F(CaptureControlTest, ConfiguredFormatIsAppliedWhenTheDeviceIsInitialised) {
    Config->Video().SetWidth(1280);
    Config->Video().SetHeight(720);
    Config->Video().SetFrameRate(15);
    ASSERT_TRUE(Control->InitializeVideo());
    std::vector<TLogCollector::TEntry> entries = Collector.Take();
    for (const auto& entry : entries) {
        EXPECT_NE(entry.Level, llWarning) << entry.Detail;
    }
    EXPECT_EQ(Control->CaptureStatus().uiImageWidth, 1280u);
    EXPECT_EQ(Control->CaptureStatus().uiImageHeight, 720u);
    EXPECT_EQ(Control->CaptureParms().dwRequestMicroSecPerFrame, 66666u);
    EXPECT_EQ(InfoHeaderOf(Control->VideoFormat().data()).biWidth, 1280);
}

TEST_F(CaptureControlTest, FormatTheDeviceCannotGiveIsLoggedWithWhatItOffers) {
    Config->Video().SetWidth(1001);
    Config->Video().SetHeight(3000);
    Config->Video().SetPixelFormat("MJPG");
    ASSERT_TRUE(Control->InitializeVideo());
    std::vector<TLogCollector::TEntry> entries = Collector.Take();
    auto warning = std::find_if(entries.begin(), entries.end(),
                                [](const auto& entry) { return entry.Level == llWarning; });
    ASSERT_NE(warning, entries.end());
    EXPECT_EQ(warning->Message, lmVideoError);
    EXPECT_EQ(warning->Detail, "Format 1001 x 3000 MJPG not offered, using 1000 x 1080 UYVY at 30 fps");
    ASSERT_EQ(warning->Values.size(), 1u);
    EXPECT_NE(warning->Values[0].find("any even size from 160 x 120 to 1920 x 1080"), std::string::npos);
    EXPECT_EQ(Control->CaptureStatus().uiImageWidth, 1000u) << "the nearest format is used";
    EXPECT_EQ(Control->VideoState(), vsInitialized);
}

TEST_F(CaptureControlTest, FinalizeAndReinitialize) {
    EXPECT_TRUE(Control->FinalizeVideo());
    EXPECT_TRUE(Collector.Take().empty());
    ASSERT_TRUE(Control->InitializeVideo());
    Collector.Take();

    ASSERT_TRUE(Control->InitializeVideo());
    std::vector<std::string> summary = Summary(Collector.Take());
    ASSERT_GE(summary.size(), 3u);
    EXPECT_EQ(summary[0], "Driver disconnect Information Ok");
    EXPECT_EQ(summary[1], "Destroy window Information Ok");
    EXPECT_EQ(summary[2], "Initializing Information Test Pattern");

    EXPECT_TRUE(Control->FinalizeVideo());
    EXPECT_EQ(Summary(Collector.Take()), (std::vector<std::string>{
                                             "Driver disconnect Information Ok",
                                             "Destroy window Information Ok",
                                         }));
    EXPECT_EQ(Control->VideoState(), vsNone);
    EXPECT_EQ(Control->CaptureWindow(), nullptr);
}

TEST_F(CaptureControlTest, RefreshStopsAtTheFirstFailure) {
    ASSERT_TRUE(Control->InitializeVideo());
    Collector.Take();
    TestPatternFaults().FailStatus = true;
    EXPECT_FALSE(Control->RefreshCaptureSettings());
    EXPECT_EQ(Summary(Collector.Take()), (std::vector<std::string>{"Get status Error Failed"}));
    EXPECT_EQ(Control->VideoState(), vsInitialized);
    EXPECT_TRUE(Prompts.Messages.empty());
}

// Every format of the test pattern, presented as a bitmap, shows the picture upright: the counter box
// (black) at the top left, the white bar at the bottom left.
TEST_F(CaptureControlTest, TestPatternPresentsUprightInEveryFormat) {
    for (uint32_t compression : TTestPatternDriver::Compressions()) {
        TBitmapInfoHeader format = TTestPatternDriver::FormatOf(320, 240, compression);
        TVideoFormatBuffer formatBuffer = VideoFormatOf(format);
        std::vector<uint8_t> frame(format.biSizeImage);
        TTestPatternDriver::Render(format, TTestPatternDriver::StillBars, 0, frame.data());
        TVideoHdr header;
        header.lpData = frame.data();
        header.dwBufferLength = header.dwBytesUsed = static_cast<uint32_t>(frame.size());
        TVideoImageStream stream(formatBuffer);
        stream.SetFrame(&header);
        std::vector<uint8_t> bmp(stream.FileSize());
        ASSERT_EQ(stream.Read(bmp.data(), static_cast<int32_t>(bmp.size())),
                  static_cast<int32_t>(bmp.size()));
        auto pixel = [&](int x, int pictureRow) { return bmp[54 + (239 - pictureRow) * 960 + 3 * x + 1]; };
        EXPECT_LT(pixel(9, 9), 40) << compression;
        EXPECT_GT(pixel(9, 230), 215) << compression;
    }
}

} // namespace
} // namespace sw
