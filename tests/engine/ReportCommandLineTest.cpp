#include "common/ProgramRunner.h"
#include "common/TestSupport.h"
#include "engine/ViewerPage.h"

#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace sw {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

struct TRun {
    int Status = -1;
    std::string Out;
    std::string Err;
};

class ReportCommandLineTest : public ::testing::Test {
protected:
    TRun Run(const std::vector<std::string>& arguments) {
        TRun run;
        run.Status =
            test::RunProgram(test::BuiltProgram("src/app/streamwright"), arguments, &run.Err, &run.Out);
        return run;
    }

    std::string Ini() const { return FDir.File("demo.ini"); }

    test::TTempDir FDir;
};

TEST_F(ReportCommandLineTest, ReportPrintsTheRenderedLinesAndLeavesTheSettingsAlone) {
    const TRun run = Run({"--report", "--ini", Ini()});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_THAT(run.Out, StartsWith("Operating System\n  Version = "));
    EXPECT_THAT(run.Out, HasSubstr("\n\nJPEG\n  Company = "));
    EXPECT_THAT(run.Out, HasSubstr("\n\nAudio Devices\n"));
    EXPECT_THAT(run.Out, HasSubstr("\n\nVideo Devices\n"));
    EXPECT_THAT(run.Out, HasSubstr("\n\nIP Addresses\n"));
    EXPECT_THAT(run.Out, HasSubstr("  127.0.0.1\n"));
    EXPECT_FALSE(std::filesystem::exists(Ini()));
}

TEST_F(ReportCommandLineTest, UpdateHtmlRewritesTheShippedPage) {
    std::filesystem::create_directory(FDir.File("home"));
    const std::string page = FDir.File("home/index.htm");
    const std::string shipped = test::ReadFile(std::string(SW_SOURCE_DIR) + "/www/index.htm");
    ASSERT_FALSE(shipped.empty());
    test::WriteFile(page, shipped);
    test::WriteFile(Ini(), "[Video]\nPort=3001\n[Audio]\nPort=3002\n[Web]\nPath=" + FDir.File("home") +
                               "\nPage=/index.htm\n[Broadcast]\nHost=1\nHostAddress=cam.example.org\n");

    const TRun run = Run({"--update-html", "--ini", Ini()});
    EXPECT_EQ(run.Status, 0);
    EXPECT_THAT(run.Err, HasSubstr("HTML updated"));

    const size_t begin = shipped.find("<applet");
    const size_t end = shipped.find("</applet>") + 9;
    ASSERT_NE(begin, std::string::npos);
    EXPECT_EQ(test::ReadFile(page),
              shipped.substr(0, begin) + AppletElement("cam.example.org", 3001, 3002) + shipped.substr(end));
    EXPECT_THAT(shipped.substr(end), HasSubstr("streamwright-client --host"));
}

TEST_F(ReportCommandLineTest, UpdateHtmlFailsWithTheMessageOnStandardError) {
    test::WriteFile(Ini(), "[Web]\nPath=" + FDir.File("nowhere") + "\n");
    const TRun run = Run({"--update-html", "--ini", Ini()});
    EXPECT_EQ(run.Status, 1);
    EXPECT_THAT(run.Err, HasSubstr("Error locating \"" + FDir.File("nowhere") + "/index.htm\""));
    EXPECT_EQ(run.Out, "");
}

} // namespace
} // namespace sw
