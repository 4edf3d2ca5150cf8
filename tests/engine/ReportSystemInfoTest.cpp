#include "ReportTestSupport.h"
#include "engine/DataModuleMain.h"
#include "engine/JpegLibrary.h"
#include "engine/Reports.h"
#include "log/CommaText.h"
#include "log/LogPost.h"
#include "platform/shell/ThreadHandOff.h"

#include <QCoreApplication>
#include <QEvent>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace sw {
namespace {

using ::testing::ElementsAre;

TSystemInfoSources ExampleSources() {
    TSystemInfoSources sources;
    sources.OperatingSystem = {
        {"Version", "5.1"}, {"Build", "2600"}, {"Platform", "Windows NT"}, {"Information", ""}};
    sources.Jpeg = {{"Company", "Intel"}, {"Version", "1.5.4"}};
    sources.VideoDevices = {{"USB Camera", "Version 2.1"}, {"Test Pattern", ""}};
    sources.Addresses = {"81.2.3.4", "127.0.0.1"};
    return sources;
}

TEST(ReportSystemInfoTest, LinesAreCommaTextOfGroupLevelNameValue) {
    EXPECT_THAT(SystemInfoLines(ExampleSources()),
                ElementsAre("1,0,\"Operating System\",", "0,1,Version,5.1", "0,1,Build,2600",
                            "0,1,Platform,\"Windows NT\"", "0,1,Information,", "2,0,JPEG,",
                            "0,1,Company,Intel", "0,1,Version,1.5.4", "3,0,\"Audio Devices\",",
                            "4,0,\"Video Devices\",", "0,1,\"USB Camera\",\"Version 2.1\"",
                            "0,1,\"Test Pattern\",", "5,0,\"IP Addresses\",", "0,1,81.2.3.4,",
                            "0,1,127.0.0.1,"));
}

TEST(ReportSystemInfoTest, ReportSeparatesGroupsAndDropsEmptyValues) {
    std::vector<std::string> strings{"stale"};
    RenderSystemInfo(SystemInfoLines(ExampleSources()), strings);
    EXPECT_THAT(strings, ElementsAre("Operating System", "  Version = 5.1", "  Build = 2600",
                                     "  Platform = Windows NT", "  Information", "", "JPEG",
                                     "  Company = Intel", "  Version = 1.5.4", "", "Audio Devices", "",
                                     "Video Devices", "  USB Camera = Version 2.1", "  Test Pattern", "",
                                     "IP Addresses", "  81.2.3.4", "  127.0.0.1"));
}

TEST(ReportSystemInfoTest, RenderReadsLevelsLeniently) {
    std::vector<std::string> strings;
    RenderSystemInfo(
        {"0,x,\"not a number\",v", "9,2,deep,", "0,1", "", "7,0,\"head, with comma\",\"a \"\"q\"\"\""},
        strings);
    EXPECT_THAT(strings,
                ElementsAre("not a number = v", "    deep", "  ", "", "", "", "head, with comma = a \"q\""));
}

TEST(ReportSystemInfoTest, ConfigurationReportEndsEveryLineWithCrLf) {
    EXPECT_EQ(ConfigurationReport({"1,0,\"Operating System\",", "0,1,Version,5.1", "2,0,JPEG,"}),
              "Operating System\r\n  Version = 5.1\r\n\r\nJPEG\r\n");
    EXPECT_EQ(ConfigurationReport({}), "");
}

class ReportEngineTest : public ::testing::Test {
protected:
    test::TTestConfiguration FConfig;
};

// Collects the window messages posted to the main window.
class TMessageSink : public QObject {
public:
    bool event(QEvent* event) override {
        TakeOverFromThread(event);
        Messages.push_back(static_cast<int>(event->type()));
        return true;
    }
    std::vector<int> Messages;
};

TEST_F(ReportEngineTest, EngineBuildsTheFiveGroupsAtCreation) {
    SetJpegLibrarySource([] { return TJpegLibraryInfo{false, "Maker", "9.8.7"}; });
    TDataModuleMain engine(FConfig.Dir().File("streamwright.log"));
    SetJpegLibrarySource(nullptr);

    std::vector<std::string> headings;
    std::vector<std::string> expectedAudio;
    const TAudioConfiguration& audio = FConfig.Config().Audio();
    for (int i = 0; i < audio.DeviceCount(); ++i) {
        expectedAudio.push_back(ToCommaText({"0", "1", audio.DeviceNames(i), audio.DeviceVersions(i)}));
    }
    for (const std::string& line : engine.SystemInfo) {
        std::vector<std::string> items = FromCommaText(line);
        ASSERT_EQ(items.size(), 4u) << line;
        if (items[1] == "0") {
            headings.push_back(items[0] + " " + items[2]);
        }
    }
    EXPECT_THAT(headings, ElementsAre("1 Operating System", "2 JPEG", "3 Audio Devices", "4 Video Devices",
                                      "5 IP Addresses"));
    const auto& info = engine.SystemInfo;
    auto audioHeading = std::find(info.begin(), info.end(), "3,0,\"Audio Devices\",");
    ASSERT_NE(audioHeading, info.end());
    EXPECT_EQ(std::vector<std::string>(audioHeading + 1,
                                       audioHeading + 1 + static_cast<long>(expectedAudio.size())),
              expectedAudio);
    EXPECT_THAT(std::vector<std::string>(info.end() - 4, info.end()),
                ElementsAre("5,0,\"IP Addresses\",", "0,1,81.2.3.4,", "0,1,192.168.1.5,", "0,1,127.0.0.1,"));
    auto jpeg = std::find(info.begin(), info.end(), "2,0,JPEG,");
    ASSERT_NE(jpeg, info.end());
    EXPECT_THAT(std::vector<std::string>(jpeg + 1, jpeg + 3),
                ElementsAre("0,1,Company,Maker", "0,1,Version,9.8.7"));
    // The operating system entries are named, in order, whatever their values.
    EXPECT_EQ(FromCommaText(info[1])[2], "Version");
    EXPECT_EQ(FromCommaText(info[2])[2], "Build");
    EXPECT_EQ(FromCommaText(info[3])[2], "Platform");
    EXPECT_EQ(FromCommaText(info[4])[2], "Information");

    std::vector<std::string> rendered;
    engine.RenderSystemInfo(rendered);
    EXPECT_EQ(rendered.front(), "Operating System");
    EXPECT_EQ(engine.ConfigurationReport(), ConfigurationReport(engine.SystemInfo));
}

TEST_F(ReportEngineTest, RebuildingPostsSystemInfoChangedToTheMainWindowOnly) {
    TDataModuleMain engine(FConfig.Dir().File("streamwright.log"));
    TMessageSink window;
    QCoreApplication::sendPostedEvents();
    engine.SetMainWindow(&window);
    FConfig.SetAddresses({"81.2.3.4", "8.8.8.8"});
    engine.BuildSystemInfo();
    QCoreApplication::sendPostedEvents(&window);
    EXPECT_THAT(window.Messages, ElementsAre(WM_SYSTEMINFOCHANGED));
    EXPECT_EQ(engine.SystemInfo.end()[-3], "0,1,8.8.8.8,");
    engine.SetMainWindow(nullptr);
}

TEST_F(ReportEngineTest, LinkFollowsTheWebSettings) {
    TWebConfiguration& web = FConfig.Config().Web();
    EXPECT_EQ(EmailLinkText(),
              "\r\nPlease click the following link to view my broadcast:\r\n\r\nhttp://81.2.3.4/index.htm");

    web.SetPort(8080);
    web.SetHost(1);
    web.SetHostAddress("10.1.2.3");
    EXPECT_EQ(ViewerPageLink(), "http://10.1.2.3:8080/index.htm");

    web.SetPage("sub\\view.htm");
    EXPECT_EQ(ViewerPageLink(), "http://10.1.2.3:8080/sub/view.htm");
    web.SetPage("\\sub\\view.htm");
    EXPECT_EQ(ViewerPageLink(), "http://10.1.2.3:8080/sub/view.htm");

    web.SetPort(80);
    web.SetHost(0);
    FConfig.SetAddresses({});
    EXPECT_EQ(ViewerPageLink(), "http://127.0.0.1/sub/view.htm");
}

} // namespace
} // namespace sw
