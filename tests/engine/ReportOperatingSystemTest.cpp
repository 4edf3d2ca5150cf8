#include "platform/shell/OperatingSystem.h"

#include <gtest/gtest.h>

namespace sw {
namespace {

TEST(ReportOperatingSystemTest, PrettyNameIsUnquotedAndUnescaped) {
    EXPECT_EQ(
        OsReleasePrettyName("NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n"),
        "Debian GNU/Linux 12 (bookworm)");
    EXPECT_EQ(OsReleasePrettyName("PRETTY_NAME='Single $quoted'\n"), "Single $quoted");
    EXPECT_EQ(OsReleasePrettyName("PRETTY_NAME=\"Say \\\"hi\\\" \\\\ \\$x\"\n"), "Say \"hi\" \\ $x");
    EXPECT_EQ(OsReleasePrettyName("PRETTY_NAME=Bare\n"), "Bare");
    EXPECT_EQ(OsReleasePrettyName("# PRETTY_NAME=\"commented\"\nXPRETTY_NAME=no\nPRETTY_NAME=\"yes\""),
              "yes");
}

TEST(ReportOperatingSystemTest, PrettyNameFallsBackToNameAndVersion) {
    EXPECT_EQ(OsReleasePrettyName("NAME=\"Fedora Linux\"\nVERSION=\"40 (Workstation)\"\n"),
              "Fedora Linux 40 (Workstation)");
    EXPECT_EQ(OsReleasePrettyName("NAME=Alpine\n"), "Alpine");
    EXPECT_EQ(OsReleasePrettyName(""), "");
}

TEST(ReportOperatingSystemTest, KernelVersionIsMajorDotMinor) {
    EXPECT_EQ(KernelMajorMinor("6.1.0-18-amd64"), "6.1");
    EXPECT_EQ(KernelMajorMinor("5.15.153.1-microsoft-standard-WSL2"), "5.15");
    EXPECT_EQ(KernelMajorMinor("6"), "6");
    EXPECT_EQ(KernelMajorMinor("6-rc1"), "6");
    EXPECT_EQ(KernelMajorMinor("6.x"), "6");
    EXPECT_EQ(KernelMajorMinor("unknown"), "");
}

TEST(ReportOperatingSystemTest, DescriptionFillsTheFourEntries) {
    TOperatingSystem os = DescribeOperatingSystem("Linux", "6.1.0-18-amd64", "x86_64",
                                                  "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n");
    EXPECT_EQ(os.Version, "6.1");
    EXPECT_EQ(os.Build, "6.1.0-18-amd64");
    EXPECT_EQ(os.Platform, "Linux x86_64");
    EXPECT_EQ(os.Information, "Debian GNU/Linux 12 (bookworm)");
}

TEST(ReportOperatingSystemTest, InformationIsCutWithoutSplittingACharacter) {
    const std::string name = std::string(127, 'a') + "\xC3\xA9" + "tail";
    TOperatingSystem os = DescribeOperatingSystem("Linux", "6.1", "", "PRETTY_NAME=\"" + name + "\"");
    EXPECT_EQ(os.Information, std::string(127, 'a'));
    EXPECT_EQ(os.Platform, "Linux");
    os = DescribeOperatingSystem("Linux", "6.1", "", "PRETTY_NAME=" + std::string(200, 'b'));
    EXPECT_EQ(os.Information, std::string(kMaxInformation, 'b'));
}

TEST(ReportOperatingSystemTest, RunningSystemIsDescribed) {
    TOperatingSystem os = OperatingSystemDescription();
    EXPECT_FALSE(os.Version.empty());
    EXPECT_FALSE(os.Build.empty());
    EXPECT_EQ(os.Platform.rfind("Linux", 0), 0u);
}

} // namespace
} // namespace sw
