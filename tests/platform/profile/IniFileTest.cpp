#include "platform/profile/IniFile.h"
#include "common/TestSupport.h"
#include "platform/profile/AtomicFile.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace sw {
namespace {

using test::ReadFile;
using test::TTempDir;
using test::WriteFile;

const std::string kHandWritten = "; settings written by hand\r\n"
                                 "[Video]\r\n"
                                 "Enabled=1\r\n"
                                 "Port = 2001 \r\n"
                                 "; a comment inside\r\n"
                                 "\r\n"
                                 "[Web]\r\n"
                                 "Path=/srv/www\r\n"
                                 "Quoted=\"  spaced  \"\r\n";

TEST(IniFileTest, LooksUpSectionsAndKeysWithoutRegardToCase) {
    TTempDir dir;
    WriteFile(dir.File("a.ini"), kHandWritten);
    TIniFile file(dir.File("a.ini"));
    EXPECT_EQ(file.ReadString("video", "ENABLED", "x"), "1");
    EXPECT_EQ(file.ReadInteger("VIDEO", "port", 0), 2001);
    EXPECT_EQ(file.ReadString("Web", "Quoted", ""), "  spaced  ");
    EXPECT_EQ(file.ReadString("Web", "Missing", "fallback"), "fallback");
    EXPECT_EQ(file.ReadString("Nowhere", "Path", "d"), "d");
}

TEST(IniFileTest, MissingFileGivesDefaults) {
    TTempDir dir;
    TIniFile file(dir.File("none.ini"));
    EXPECT_EQ(file.ReadInteger("Video", "Port", 2001), 2001);
    EXPECT_TRUE(file.ReadBool("Log", "Error", true));
    EXPECT_FALSE(file.SectionExists("Video"));
}

TEST(IniFileTest, ReplacingAKeyKeepsEveryOtherByte) {
    TTempDir dir;
    WriteFile(dir.File("a.ini"), kHandWritten);
    TIniFile file(dir.File("a.ini"));
    ASSERT_TRUE(file.WriteString("VIDEO", "port", "8001"));
    ASSERT_TRUE(file.UpdateFile());
    std::string expected = kHandWritten;
    expected.replace(expected.find("Port = 2001 "), 12, "port=8001");
    EXPECT_EQ(ReadFile(dir.File("a.ini")), expected);
}

TEST(IniFileTest, NewKeyGoesToTheEndOfItsSectionAndNewSectionToTheEndOfTheFile) {
    TTempDir dir;
    WriteFile(dir.File("a.ini"), kHandWritten);
    TIniFile file(dir.File("a.ini"));
    file.WriteString("Video", "BufferSize", "32");
    file.WriteString("Audio", "Volume", "2");
    ASSERT_TRUE(file.UpdateFile());
    EXPECT_EQ(ReadFile(dir.File("a.ini")), "; settings written by hand\r\n"
                                           "[Video]\r\n"
                                           "Enabled=1\r\n"
                                           "Port = 2001 \r\n"
                                           "; a comment inside\r\n"
                                           "BufferSize=32\r\n"
                                           "\r\n"
                                           "[Web]\r\n"
                                           "Path=/srv/www\r\n"
                                           "Quoted=\"  spaced  \"\r\n"
                                           "[Audio]\r\n"
                                           "Volume=2\r\n");
}

TEST(IniFileTest, KeepsTheLineBreaksOfAFileWrittenWithLineFeeds) {
    TTempDir dir;
    WriteFile(dir.File("a.ini"), "[A]\nx=1\n");
    TIniFile file(dir.File("a.ini"));
    file.WriteString("A", "y", "2");
    ASSERT_TRUE(file.UpdateFile());
    EXPECT_EQ(ReadFile(dir.File("a.ini")), "[A]\nx=1\ny=2\n");
}

TEST(IniFileTest, EraseSectionRemovesItsLinesOnly) {
    TTempDir dir;
    WriteFile(dir.File("a.ini"),
              "[Blocked]\r\n10.0.0.1=1\r\n[Web]\r\nPort=80\r\n[blocked]\r\n10.0.0.2=1\r\n");
    TIniFile file(dir.File("a.ini"));
    file.EraseSection("BLOCKED");
    ASSERT_TRUE(file.UpdateFile());
    EXPECT_EQ(ReadFile(dir.File("a.ini")), "[Web]\r\nPort=80\r\n");
}

TEST(IniFileTest, KeyNamesFitTheBuffer) {
    TTempDir dir;
    WriteFile(dir.File("a.ini"), "[Blocked]\r\n10.0.0.1=1\r\n; note\r\n10.0.0.22=0\r\n192.168.100.200=1\r\n");
    TIniFile file(dir.File("a.ini"));
    EXPECT_EQ(file.ReadKeyNames("blocked"),
              (std::vector<std::string>{"10.0.0.1", "10.0.0.22", "192.168.100.200"}));
    // 9 + 10 characters with their zeros plus the final zero make 20: the third name does not fit.
    EXPECT_EQ(file.ReadKeyNames("Blocked", 20), (std::vector<std::string>{"10.0.0.1", "10.0.0.22"}));
    EXPECT_EQ(file.ReadKeyNames("Blocked", 19), (std::vector<std::string>{"10.0.0.1"}));
    EXPECT_TRUE(file.ReadKeyNames("Missing").empty());
}

TEST(IniFileTest, ParsesIntegersLikeTheSettingsExpect) {
    struct Case {
        const char* Text;
        std::optional<int32_t> Value;
    };
    const Case cases[] = {
        {"8001", 8001},
        {"0x1F41", 8001},
        {"0X1f41", 8001},
        {"$1F41", 8001},
        {"-5", -5},
        {"+7", 7},
        {"-16777211", -16777211},
        {"0xFF000005", -16777211},
        {"2147483647", 2147483647},
        {"2147483648", std::nullopt},
        {"-2147483648", INT32_MIN},
        {"0x", std::nullopt},
        {"$", std::nullopt},
        {"12abc", std::nullopt},
        {"", std::nullopt},
        {"abc", std::nullopt},
        {"0x1FFFFFFFF", std::nullopt},
        {" 42 ", 42},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseProfileInteger(c.Text), c.Value) << c.Text;
    }
}

TEST(IniFileTest, BooleansAreNonZeroIntegers) {
    TTempDir dir;
    WriteFile(dir.File("a.ini"), "[L]\r\na=2\r\nb=0\r\nc=junk\r\n");
    TIniFile file(dir.File("a.ini"));
    EXPECT_TRUE(file.ReadBool("L", "a", false));
    EXPECT_FALSE(file.ReadBool("L", "b", true));
    EXPECT_TRUE(file.ReadBool("L", "c", true));
    EXPECT_FALSE(file.ReadBool("L", "c", false));
}

TEST(IniFileTest, ValuesAndNamesNeverBreakTheLineStructure) {
    TTempDir dir;
    TIniFile file(dir.File("a.ini"));
    EXPECT_TRUE(file.WriteString("Text", "Custom", std::string("line1\r\n[Evil]\nx=1\0z", 19)));
    EXPECT_FALSE(file.WriteString("Te\nxt", "Custom", "v"));
    EXPECT_FALSE(file.WriteString("Text]", "Custom", "v"));
    EXPECT_FALSE(file.WriteString("Text", "a=b", "v"));
    EXPECT_FALSE(file.WriteString("Text", "", "v"));
    EXPECT_FALSE(file.WriteString("Text", std::string("k\0", 2), "v"));
    ASSERT_TRUE(file.UpdateFile());
    TIniFile again(dir.File("a.ini"));
    EXPECT_EQ(again.ReadString("Text", "Custom", ""), "line1[Evil]x=1z");
    EXPECT_EQ(again.ReadSectionNames(), std::vector<std::string>{"Text"});
}

TEST(IniFileTest, ReadOnlyFileIsLeftAlone) {
    TTempDir dir;
    const std::string path = dir.File("ro.ini");
    WriteFile(path, "[A]\r\nx=1\r\n");
    ::chmod(path.c_str(), 0444);
    TIniFile file(path);
    file.WriteString("A", "x", "2");
    EXPECT_FALSE(file.UpdateFile());
    EXPECT_EQ(ReadFile(path), "[A]\r\nx=1\r\n");
}

TEST(IniFileTest, FileKilledMidWriteKeepsItsOldContent) {
    TTempDir dir;
    const std::string path = dir.File("big.ini");
    const std::string old = "[A]\r\nx=1\r\n";
    WriteFile(path, old);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The kernel kills the writer with SIGXFSZ once the temporary file reaches 64 KiB.
        rlimit limit{65536, 65536};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        TIniFile file(path);
        file.WriteString("A", "x", std::string(1 << 20, 'v'));
        file.UpdateFile();
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGXFSZ);
    EXPECT_EQ(ReadFile(path), old);

    // The killed write's temporary file stays until the next start-up removes it.
    auto temporaries = [&] {
        std::vector<std::string> names;
        for (const auto& item : std::filesystem::directory_iterator(dir.Path())) {
            std::string name = item.path().filename().string();
            if (name.starts_with("big.ini.")) {
                names.push_back(name);
            }
        }
        return names;
    };
    ASSERT_EQ(temporaries().size(), 1u);
    for (const char* keep :
         {"big.ini.bak", "big.ini.1234567", "big.ini.12345", "big.ini.ab-cd_", "big.log.Ab3xZ9"}) {
        WriteFile(dir.File(keep), "keep");
    }
    EXPECT_EQ(RemoveStaleTempFiles(path), 1u);
    EXPECT_EQ(temporaries().size(), 4u) << "only what mkstemp makes of the name goes";
    EXPECT_EQ(ReadFile(path), old);
}

TEST(AtomicFileTest, WritesManyPiecesInOrder) {
    TTempDir dir;
    std::vector<std::string> texts;
    std::vector<std::string_view> pieces;
    std::string expected;
    for (int i = 0; i < 3000; ++i) {
        texts.push_back(i % 7 == 0
                            ? std::string()
                            : std::string(static_cast<size_t>(i % 50), static_cast<char>('a' + i % 26)));
    }
    for (const std::string& text : texts) {
        pieces.emplace_back(text);
        expected += text;
    }
    ASSERT_TRUE(ReplaceFileContent(dir.File("pieces"), pieces));
    EXPECT_EQ(ReadFile(dir.File("pieces")), expected);
}

TEST(AtomicFileTest, ReplacesThroughASymlinkAndKeepsTheMode) {
    TTempDir dir;
    const std::string target = dir.File("real.log");
    WriteFile(target, "old");
    ::chmod(target.c_str(), 0600);
    ASSERT_EQ(::symlink(target.c_str(), dir.File("link.log").c_str()), 0);
    ASSERT_TRUE(ReplaceFileContent(dir.File("link.log"), "new"));
    EXPECT_EQ(ReadFile(target), "new");
    struct stat st {};
    ASSERT_EQ(::lstat(dir.File("link.log").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

} // namespace
} // namespace sw
