#include "ReportTestSupport.h"
#include "engine/DataModuleMain.h"
#include "engine/ViewerPage.h"

#include <QCoreApplication>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

namespace sw {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

// Written line by line from the element's layout, independently of the generator.
const std::string kElement81 =
    "<applet name=\"Lumiclip\" code=\"Lumiclip.class\" codeBase=\"https://streamwright.example.org/applet/\" "
    "width=\"240\" height=\"160\" archive=\"lumiclip.jar\" alt=\"Your browser understands the &ltAPPLET&gt "
    "tag, "
    "but isn't running the applet for some reason.\">\r\n"
    "<param name=\"name\" value=\"Lumiclip\">\r\n"
    "<param name=\"code\" value=\"Lumiclip.class\">\r\n"
    "<param name=\"codeBase\" value=\"https://streamwright.example.org/applet/\">\r\n"
    "<param name=\"cabbase\" value=\"lumiclip.cab\">\r\n"
    "<param name=\"width\" value=\"240\">\r\n"
    "<param name=\"height\" value=\"160\">\r\n"
    "<param name=\"archive\" value=\"lumiclip.jar\">\r\n"
    "<param name=\"vport\" value=\"2001\">\r\n"
    "<param name=\"aport\" value=\"2002\">\r\n"
    "<param name=\"host\" value=\"81.2.3.4\">\r\n"
    "<param name=\"FPS\" value=\"30\">\r\n"
    "<param name=\"isJpeg\" value=\"1\">\r\n"
    "<param name=\"vidb\" value=\"10\">\r\n"
    "<param name=\"audb\" value=\"3\">\r\n"
    "<param name=\"compress\" value=\"1\">\r\n"
    "<param name=\"xxx\" value=\"240\">\r\n"
    "<param name=\"yyy\" value=\"160\">\r\n"
    "<param name=\"buffering\" value=\"0\">\r\n"
    "<param name=\"debug\" value=\"0\">\r\n"
    "<param name=\"sleep\" value=\"0\">\r\n"
    "Your browser is completely ignoring the &ltAPPLET&gt tag!\r\n"
    "</applet>";

TDateTime At(int year, int month, int day, int hour, int minute, int second) {
    TDateTimeParts parts;
    parts.Year = year;
    parts.Month = month;
    parts.Day = day;
    parts.Hour = hour;
    parts.Minute = minute;
    parts.Second = second;
    return EncodeDateTime(parts);
}

class ViewerPageUpdateTest : public ::testing::Test {
protected:
    ViewerPageUpdateTest() {
        FConfig.Config().Web().SetPath(FConfig.Dir().Path());
        FConfig.Config().Web().SetPage("/index.htm");
        FConfig.Config().Video().SetPort(2001);
        FConfig.Config().Audio().SetPort(2002);
        FConfig.Config().Broadcast().SetHost(0);
    }

    std::string Page() const { return FConfig.Dir().File("index.htm"); }
    TViewerPageSettings Settings() const { return {Page(), 2001, 2002, "81.2.3.4"}; }

    std::vector<std::string> FolderFiles() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(FConfig.Dir().Path())) {
            if (entry.path().filename() != "streamwright.ini") {
                names.push_back(entry.path().filename().string());
            }
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    void ExpectMessages(const std::vector<std::pair<std::string, TMessageKind>>& expected) {
        EXPECT_EQ(FPrompts.Messages, expected);
        FPrompts.Messages.clear();
    }

    test::TTestConfiguration FConfig;
    test::TRecordingPrompts FPrompts;
    const TDateTime FTime = At(2026, 12, 8, 14, 5, 9);
};

TEST_F(ViewerPageUpdateTest, GeneratedElementMatchesTheFixtureByteForByte) {
    EXPECT_EQ(AppletElement("81.2.3.4", 2001, 2002), kElement81);
}

TEST_F(ViewerPageUpdateTest, FileAndBackupNames) {
    EXPECT_EQ(ViewerPageFileName("/web", "/index.htm"), "/web/index.htm");
    EXPECT_EQ(ViewerPageFileName("/web/", "index.htm"), "/web/index.htm");
    EXPECT_EQ(ViewerPageFileName("/web", "sub\\view.htm"), "/web/sub/view.htm");
    EXPECT_EQ(ViewerPageFileName("/web", "\\index.htm"), "/web/index.htm");
    EXPECT_EQ(ViewerPageFileName("/", "/index.htm"), "/index.htm");
    EXPECT_EQ(ViewerPageBackupName("/web/index.htm", FTime), "/web/index.20261208.140509.htm");
    EXPECT_EQ(ViewerPageBackupName("/web/index.htm", At(2026, 1, 2, 3, 4, 5)),
              "/web/index.20260102.030405.htm");
    EXPECT_EQ(ViewerPageBackupName("/we.b/index", FTime), "/we.b/index.20261208.140509");
}

TEST_F(ViewerPageUpdateTest, OnlyTheElementNamingTheViewerIsReplaced) {
    const std::string before =
        "<html>\r\n<body>\n<applet code=\"Other.class\">\r\n<param name=\"x\" value=\"1\">\r\n"
        "</applet>\r\n<p>between</p>\n";
    const std::string viewer =
        "<APPLET NAME=\"LUMICLIP\" code=\"old\">\n<param name=\"vport\" value=\"9\">\n</APPLET>";
    const std::string after = "\r\n</body>\r\n</html>";
    WriteFile(Page(), before + viewer + after);
    ::chmod(Page().c_str(), 0640);

    EXPECT_EQ(UpdateViewerPage(Settings(), FTime), TViewerPageResult::Updated);
    EXPECT_EQ(ReadFile(Page()), before + kElement81 + after);
    ExpectMessages({{"HTML updated", TMessageKind::Information}});
    EXPECT_EQ(ReadFile(FConfig.Dir().File("index.20261208.140509.htm")), before + viewer + after);
    EXPECT_EQ(FolderFiles(), (std::vector<std::string>{"index.20261208.140509.htm", "index.htm"}));
    struct stat st {};
    ASSERT_EQ(::stat(Page().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(ViewerPageUpdateTest, ElementWithoutClosingTagIsAnErrorButTheBackupStays) {
    const std::string content =
        "<html><applet name=\"other\"></applet>\n<applet name=\"Lumiclip\">\n<param>\n</html>";
    WriteFile(Page(), content);
    EXPECT_EQ(UpdateViewerPage(Settings(), FTime), TViewerPageResult::NoAppletTag);
    ExpectMessages({{"Error locating APPLET tag", TMessageKind::Error}});
    EXPECT_EQ(ReadFile(Page()), content);
    EXPECT_EQ(ReadFile(FConfig.Dir().File("index.20261208.140509.htm")), content);
}

TEST_F(ViewerPageUpdateTest, PageWithoutTheViewerElementIsAnError) {
    WriteFile(Page(), "<html><applet code=\"Other.class\"></applet></html>");
    EXPECT_EQ(UpdateViewerPage(Settings(), FTime), TViewerPageResult::NoAppletTag);
    ExpectMessages({{"Error locating APPLET tag", TMessageKind::Error}});
}

TEST_F(ViewerPageUpdateTest, RunsInOneSecondShareOneBackupAndLaterRunsFindTheNewElement) {
    const std::string original = "<p>top</p>\n<applet name=lumiclip></applet>\n<p>end</p>\n";
    WriteFile(Page(), original);
    EXPECT_EQ(UpdateViewerPage(Settings(), FTime), TViewerPageResult::Updated);
    const std::string first = ReadFile(Page());

    TViewerPageSettings changed = Settings();
    changed.VideoPort = 3001;
    EXPECT_EQ(UpdateViewerPage(changed, FTime), TViewerPageResult::Updated);
    EXPECT_EQ(FolderFiles(), (std::vector<std::string>{"index.20261208.140509.htm", "index.htm"}));
    EXPECT_EQ(ReadFile(FConfig.Dir().File("index.20261208.140509.htm")), first);

    changed.Host = "cam.example.org";
    EXPECT_EQ(UpdateViewerPage(changed, At(2026, 12, 8, 14, 5, 10)), TViewerPageResult::Updated);
    EXPECT_EQ(FolderFiles(), (std::vector<std::string>{"index.20261208.140509.htm",
                                                       "index.20261208.140510.htm", "index.htm"}));
    EXPECT_EQ(ReadFile(Page()),
              "<p>top</p>\n" + AppletElement("cam.example.org", 3001, 2002) + "\n<p>end</p>\n");
    ExpectMessages({{"HTML updated", TMessageKind::Information},
                    {"HTML updated", TMessageKind::Information},
                    {"HTML updated", TMessageKind::Information}});
}

TEST_F(ViewerPageUpdateTest, SettingsComeFromTheConfiguration) {
    FConfig.Config().Web().SetPage("sub\\view.htm");
    FConfig.Config().Video().SetPort(4001);
    FConfig.Config().Audio().SetPort(4002);
    TViewerPageSettings settings = ViewerPageSettings();
    EXPECT_EQ(settings.FileName, FConfig.Dir().Path() + "/sub/view.htm");
    EXPECT_EQ(settings.VideoPort, 4001);
    EXPECT_EQ(settings.AudioPort, 4002);
    EXPECT_EQ(settings.Host, "81.2.3.4"); // the first public address

    FConfig.SetAddresses({});
    EXPECT_EQ(ViewerPageSettings().Host, "127.0.0.1");

    FConfig.Config().Broadcast().SetHost(1);
    FConfig.Config().Broadcast().SetHostAddress("cam.example.org");
    EXPECT_EQ(ViewerPageSettings().Host, "cam.example.org");
}

TEST_F(ViewerPageUpdateTest, UpdateFromTheConfigurationWritesTheDefaultHost) {
    WriteFile(Page(), "<applet name=\"Lumiclip\"></applet>");
    EXPECT_EQ(UpdateViewerPage(), TViewerPageResult::Updated);
    EXPECT_EQ(ReadFile(Page()), kElement81);
    FConfig.SetAddresses({"10.0.0.2"});
    EXPECT_EQ(UpdateViewerPage(), TViewerPageResult::Updated);
    EXPECT_NE(ReadFile(Page()).find("<param name=\"host\" value=\"10.0.0.2\">\r\n"), std::string::npos);
}

TEST_F(ViewerPageUpdateTest, EmptyPageIsBackedUpAndLeftAloneSilently) {
    WriteFile(Page(), "");
    struct stat before {};
    ASSERT_EQ(::stat(Page().c_str(), &before), 0);
    EXPECT_EQ(UpdateViewerPage(Settings(), FTime), TViewerPageResult::Empty);
    ExpectMessages({});
    struct stat after {};
    ASSERT_EQ(::stat(Page().c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(ReadFile(Page()), "");
    EXPECT_EQ(FolderFiles(), (std::vector<std::string>{"index.20261208.140509.htm", "index.htm"}));
}

TEST_F(ViewerPageUpdateTest, MissingPageIsReportedByName) {
    EXPECT_EQ(UpdateViewerPage(Settings(), FTime), TViewerPageResult::NotFound);
    ExpectMessages({{"Error locating \"" + Page() + "\"", TMessageKind::Error}});
    EXPECT_TRUE(FolderFiles().empty());

    fs::create_directory(Page());
    EXPECT_EQ(UpdateViewerPage(Settings(), FTime), TViewerPageResult::NotFound);
    ExpectMessages({{"Error locating \"" + Page() + "\"", TMessageKind::Error}});
}

TEST_F(ViewerPageUpdateTest, ReadOnlyPageCannotBeOpenedForWriting) {
    const std::string content = "<applet name=\"Lumiclip\"></applet>";
    WriteFile(Page(), content);
    ::chmod(Page().c_str(), 0444);
    EXPECT_EQ(UpdateViewerPage(Settings(), FTime), TViewerPageResult::CreateFailed);
    ExpectMessages({{"Error opening \"" + Page() + "\"", TMessageKind::Error}});
    EXPECT_EQ(ReadFile(Page()), content);
    EXPECT_EQ(FolderFiles(), (std::vector<std::string>{"index.20261208.140509.htm", "index.htm"}));
}

// Regression: the page used to be rewritten in place, so a write failing halfway left it truncated.
TEST_F(ViewerPageUpdateTest, FailedWriteLeavesThePageWhole) {
    const std::string content = "<applet name=\"Lumiclip\"></applet>";
    WriteFile(Page(), content);
    struct sigaction ignore {};
    struct sigaction previous {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &previous);
    rlimit oldLimit{};
    ::getrlimit(RLIMIT_FSIZE, &oldLimit);
    rlimit small = oldLimit;
    small.rlim_cur = 200; // room for the backup, not for the new element
    ::setrlimit(RLIMIT_FSIZE, &small);
    const TViewerPageResult result = UpdateViewerPage(Settings(), FTime);
    ::setrlimit(RLIMIT_FSIZE, &oldLimit);
    ::sigaction(SIGXFSZ, &previous, nullptr);

    EXPECT_EQ(result, TViewerPageResult::WriteFailed);
    ExpectMessages({{"Error writing \"" + Page() + "\"", TMessageKind::Error}});
    EXPECT_EQ(ReadFile(Page()), content);
    EXPECT_EQ(FolderFiles(), (std::vector<std::string>{"index.20261208.140509.htm", "index.htm"}));
}

TEST_F(ViewerPageUpdateTest, SymbolicLinkKeepsPointingAtTheUpdatedFile) {
    const std::string target = FConfig.Dir().File("real.htm");
    WriteFile(target, "<applet name=\"Lumiclip\"></applet>");
    fs::create_symlink(target, Page());
    EXPECT_EQ(UpdateViewerPage(Settings(), FTime), TViewerPageResult::Updated);
    EXPECT_TRUE(fs::is_symlink(Page()));
    EXPECT_EQ(ReadFile(target), kElement81);
}

TEST_F(ViewerPageUpdateTest, EngineOperationLogsNothing) {
    TDataModuleMain engine(FConfig.Dir().File("streamwright.log"));
    QCoreApplication::sendPostedEvents();
    const size_t lines = engine.LogLines().size();
    ASSERT_GE(lines, 1u); // "Starting" was recorded, so entries do reach the log

    WriteFile(Page(), "<applet name=\"Lumiclip\"></applet>");
    engine.UpdateViewerPage();
    fs::remove(Page());
    engine.UpdateViewerPage();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(engine.LogLines().size(), lines);
    ASSERT_EQ(FPrompts.Messages.size(), 2u);
    EXPECT_EQ(FPrompts.Messages[0].first, "HTML updated");
}

} // namespace
} // namespace sw
