#include "engine/JpegLibrary.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <regex>

namespace sw {
namespace {

TEST(ReportJpegLibraryTest, VersionMarkIsFoundInsideALibraryImage) {
    using namespace std::string_literals;
    EXPECT_EQ(
        LibjpegTurboVersionMark("\x7f"s + "ELF\0\0junk\0libjpeg-turbo version 2.1.5 (build 20230203)\0"s),
        "2.1.5");
    EXPECT_EQ(LibjpegTurboVersionMark("libjpeg-turbo version 3.0.90"), "3.0.90");
    EXPECT_EQ(LibjpegTurboVersionMark("libjpeg-turbo version %s\0libjpeg-turbo version 2.0.6."s), "2.0.6");
    EXPECT_EQ(LibjpegTurboVersionMark("no mark here"), "");
    EXPECT_EQ(LibjpegTurboVersionMark("libjpeg-turbo version "), "");
}

TEST(ReportJpegLibraryTest, HeaderVersionIsDotted) {
    EXPECT_TRUE(std::regex_match(LinkedLibjpegHeaderVersion(), std::regex("[0-9]+\\.[0-9]+(\\.[0-9]+)?")));
}

TEST(ReportJpegLibraryTest, ProbeReportsTheLibraryThatIsPresent) {
    void* handle = ::dlopen(kTurboJpegLibrary, RTLD_NOW | RTLD_LOCAL);
    const bool turboPresent = handle != nullptr;
    if (handle) {
        ::dlclose(handle);
    }
    const TJpegLibraryInfo info = ProbeJpegLibrary();
    EXPECT_EQ(info.TurboJpeg, turboPresent);
    EXPECT_EQ(info.Company, turboPresent ? kTurboJpegCompany : kLibjpegCompany);
    EXPECT_TRUE(std::regex_match(info.Version, std::regex("[0-9]+\\.[0-9]+(\\.[0-9]+)?"))) << info.Version;
}

TEST(ReportJpegLibraryTest, InstalledSourceReplacesTheProbe) {
    SetJpegLibrarySource([] { return TJpegLibraryInfo{true, "Encoder", "1.2.3"}; });
    const TJpegLibraryInfo info = JpegLibraryInfo();
    SetJpegLibrarySource(nullptr);
    EXPECT_EQ(info.Company, "Encoder");
    EXPECT_EQ(info.Version, "1.2.3");
    EXPECT_EQ(JpegLibraryInfo().Company, ProbeJpegLibrary().Company);
}

} // namespace
} // namespace sw
