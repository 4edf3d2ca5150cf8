#include "platform/paths/ProgramFolders.h"

#include "common/TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sys/stat.h>

namespace sw {
namespace {

using test::FileExists;
using test::ReadFile;
using test::TTempDir;
using test::WriteFile;

struct TFakeMachine {
    std::map<std::string, std::string> Variables;
    std::set<std::string> WritableFolders;

    TProgramFoldersInput Input(const std::string& exe, const std::string& ini = {}) const {
        TProgramFoldersInput input;
        input.ExecutablePath = exe;
        input.IniOption = ini;
        input.Environment = [this](const char* name) -> const char* {
            auto it = Variables.find(name);
            return it == Variables.end() ? nullptr : it->second.c_str();
        };
        input.FolderWritable = [this](const std::string& folder) {
            return WritableFolders.count(folder) > 0;
        };
        input.InstalledDataDir = "/usr/share";
        return input;
    }
};

class ProgramFoldersTest : public ::testing::Test {
protected:
    TFakeMachine Machine{{{"HOME", "/home/ann"}}, {}};
};

TEST_F(ProgramFoldersTest, WritableExecutableFolderKeepsEverythingBesideIt) {
    Machine.WritableFolders = {"/opt/sw/bin"};
    TProgramFolders folders = ChooseProgramFolders(Machine.Input("/opt/sw/bin/streamwright"));
    EXPECT_TRUE(folders.Portable);
    EXPECT_EQ(folders.IniFile, "/opt/sw/bin/streamwright.ini");
    EXPECT_EQ(folders.LogFile, "/opt/sw/bin/streamwright.log");
    EXPECT_EQ(folders.WebHome, "/opt/sw/bin");
    EXPECT_TRUE(folders.InstalledWeb.empty()) << "a portable copy's web home is never seeded";
}

TEST_F(ProgramFoldersTest, ReadOnlyExecutableFolderUsesXdgDefaultsUnderHome) {
    TProgramFolders folders = ChooseProgramFolders(Machine.Input("/opt/sw/bin/streamwright"));
    EXPECT_FALSE(folders.Portable);
    EXPECT_EQ(folders.IniFile, "/home/ann/.config/streamwright/streamwright.ini");
    EXPECT_EQ(folders.LogFile, "/home/ann/.local/state/streamwright/streamwright.log");
    EXPECT_EQ(folders.WebHome, "/home/ann/.local/share/streamwright/www");
    EXPECT_EQ(folders.InstalledWeb, "/usr/share/streamwright/www")
        << "no share/ beside the executable: the configured data folder";
}

TEST_F(ProgramFoldersTest, XdgVariablesWinOverHomeUnlessRelative) {
    Machine.Variables["XDG_CONFIG_HOME"] = "/cfg";
    Machine.Variables["XDG_STATE_HOME"] = "/state";
    Machine.Variables["XDG_DATA_HOME"] = "relative/data";
    TProgramFolders folders = ChooseProgramFolders(Machine.Input("/opt/sw/bin/streamwright"));
    EXPECT_EQ(folders.IniFile, "/cfg/streamwright/streamwright.ini");
    EXPECT_EQ(folders.LogFile, "/state/streamwright/streamwright.log");
    EXPECT_EQ(folders.WebHome, "/home/ann/.local/share/streamwright/www");
}

TEST_F(ProgramFoldersTest, SystemFoldersAreNeverUsedEvenWhenWritable) {
    Machine.WritableFolders = {"/usr/bin", "/usr/local/bin"};
    EXPECT_FALSE(ChooseProgramFolders(Machine.Input("/usr/bin/streamwright")).Portable);
    EXPECT_FALSE(ChooseProgramFolders(Machine.Input("/usr/local/bin/streamwright")).Portable);
    Machine.WritableFolders = {"/usrx/bin"};
    EXPECT_TRUE(ChooseProgramFolders(Machine.Input("/usrx/bin/streamwright")).Portable);
}

TEST_F(ProgramFoldersTest, FileNamesFollowTheExecutableName) {
    TProgramFolders folders = ChooseProgramFolders(Machine.Input("/opt/sw/bin/cam2.bin"));
    EXPECT_EQ(folders.IniFile, "/home/ann/.config/streamwright/cam2.ini");
    EXPECT_EQ(folders.LogFile, "/home/ann/.local/state/streamwright/cam2.log");
}

TEST_F(ProgramFoldersTest, IniOptionWinsAndTakesTheLogAlongWhenItsFolderIsWritable) {
    Machine.WritableFolders = {"/opt/sw/bin", "/srv/cam"};
    TProgramFolders folders =
        ChooseProgramFolders(Machine.Input("/opt/sw/bin/streamwright", "/srv/cam/a.ini"));
    EXPECT_EQ(folders.IniFile, "/srv/cam/a.ini");
    EXPECT_EQ(folders.LogFile, "/srv/cam/a.log");
    EXPECT_EQ(folders.WebHome, "/opt/sw/bin") << "the web home default does not move with --ini";
}

TEST_F(ProgramFoldersTest, IniOptionInReadOnlyFolderLogsToTheStateFolder) {
    TProgramFolders folders =
        ChooseProgramFolders(Machine.Input("/usr/bin/streamwright", "/etc/streamwright/streamwright.ini"));
    EXPECT_EQ(folders.IniFile, "/etc/streamwright/streamwright.ini");
    EXPECT_EQ(folders.LogFile, "/home/ann/.local/state/streamwright/streamwright.log");
}

TEST_F(ProgramFoldersTest, WithoutAHomeTheExecutableFolderIsTheOnlyChoice) {
    Machine.Variables.clear();
    TProgramFolders folders = ChooseProgramFolders(Machine.Input("/usr/bin/streamwright"));
    EXPECT_TRUE(folders.Portable);
    EXPECT_EQ(folders.IniFile, "/usr/bin/streamwright.ini");
}

TEST(FolderWritableTest, ProbesTheFolderForReal) {
    TTempDir dir;
    EXPECT_TRUE(FolderWritable(dir.Path()));
    EXPECT_TRUE(FolderWritable(dir.File("not/yet/there"))) << "created on first use below a writable folder";
    WriteFile(dir.File("plain"), "x");
    EXPECT_FALSE(FolderWritable(dir.File("plain")));
    EXPECT_FALSE(FolderWritable(dir.File("plain/below")));
    // Permission bits allow root to write into /proc, but nothing can be created there.
    EXPECT_FALSE(FolderWritable("/proc"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1) << "no probe left";
}

class PrepareProgramFoldersTest : public ::testing::Test {
protected:
    TTempDir Dir;
    TProgramFolders Folders;

    void SetUp() override {
        std::filesystem::create_directories(Dir.File("share/www/img"));
        WriteFile(Dir.File("share/www/index.htm"), "<applet>");
        WriteFile(Dir.File("share/www/img/a.png"), "png");
        // Installed content is read-only, folders included.
        ::chmod(Dir.File("share/www/index.htm").c_str(), 0444);
        ::chmod(Dir.File("share/www/img").c_str(), 0555);
        Folders.IniFile = Dir.File("config/streamwright/streamwright.ini");
        Folders.LogFile = Dir.File("state/streamwright/streamwright.log");
        Folders.WebHome = Dir.File("data/streamwright/www");
        Folders.InstalledWeb = Dir.File("share/www");
    }
    void TearDown() override { ::chmod(Dir.File("share/www/img").c_str(), 0755); }
};

TEST_F(PrepareProgramFoldersTest, CreatesTheFoldersAndCopiesTheWebContentWritable) {
    std::string error;
    ASSERT_TRUE(PrepareProgramFolders(Folders, &error)) << error;
    EXPECT_TRUE(std::filesystem::is_directory(Dir.File("config/streamwright")));
    EXPECT_TRUE(std::filesystem::is_directory(Dir.File("state/streamwright")));
    EXPECT_EQ(ReadFile(Folders.WebHome + "/index.htm"), "<applet>");
    EXPECT_EQ(ReadFile(Folders.WebHome + "/img/a.png"), "png");
    struct stat info {};
    ASSERT_EQ(::stat((Folders.WebHome + "/index.htm").c_str(), &info), 0);
    EXPECT_TRUE(info.st_mode & S_IWUSR) << "the viewer page updater rewrites the copy";
    ASSERT_EQ(::stat((Folders.WebHome + "/img").c_str(), &info), 0);
    EXPECT_TRUE(info.st_mode & S_IWUSR) << "regression: folders were copied read-only and stayed empty";
    EXPECT_FALSE(FileExists(Folders.WebHome + ".partial"));
}

TEST_F(PrepareProgramFoldersTest, NeverOverwritesAnExistingWebHome) {
    std::filesystem::create_directories(Folders.WebHome);
    WriteFile(Folders.WebHome + "/index.htm", "mine");
    ASSERT_TRUE(PrepareProgramFolders(Folders, nullptr));
    EXPECT_EQ(ReadFile(Folders.WebHome + "/index.htm"), "mine");
    EXPECT_FALSE(FileExists(Folders.WebHome + "/img/a.png"));
}

TEST_F(PrepareProgramFoldersTest, ReportsAFolderThatCannotBeCreated) {
    WriteFile(Dir.File("config"), "a file in the way");
    std::string error;
    EXPECT_FALSE(PrepareProgramFolders(Folders, &error));
    EXPECT_NE(error.find(Dir.File("config/streamwright")), std::string::npos) << error;
}

} // namespace
} // namespace sw
