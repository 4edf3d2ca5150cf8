#include "engine/JpegLibrary.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

namespace sw {
namespace {

// "2", "2.1" or "2.1.5": numbers joined by single dots, at most three.
bool IsDottedVersion(const std::string& text) {
    int parts = 0;
    size_t i = 0;
    while (i < text.size()) {
        const size_t begin = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            ++i;
        }
        if (i == begin || ++parts > 3) {
            return false;
        }
        if (i < text.size() && (text[i] != '.' || ++i == text.size())) {
            return false;
        }
    }
    return parts >= 2;
}

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

TEST(ReportJpegLibraryTest, ProbeReportsTheLibraryThatIsPresent) {
    void* handle = ::dlopen(kTurboJpegLibrary, RTLD_NOW | RTLD_LOCAL);
    const bool turboPresent = handle != nullptr;
    if (handle) {
        ::dlclose(handle);
    }
    const TJpegLibraryInfo info = ProbeJpegLibrary();
    EXPECT_EQ(info.TurboJpeg, turboPresent);
    EXPECT_EQ(info.Company, turboPresent ? kTurboJpegCompany : kLibjpegCompany);
    EXPECT_TRUE(IsDottedVersion(info.Version)) << info.Version;
}

} // namespace
} // namespace sw
