#include "web/HomeFile.h"

#include "WebTestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace sw {
namespace {

using test::WriteHomeFile;

TEST(HomeFileTest, UriPath) {
    EXPECT_EQ(UriPath("/index.htm"), "/index.htm");
    EXPECT_EQ(UriPath("http://host/index.htm"), "/index.htm");
    EXPECT_EQ(UriPath("HTTP://host:8080/a/b?c"), "/a/b?c");
    EXPECT_EQ(UriPath("http://host"), "/");
    EXPECT_EQ(UriPath("http://"), "/");
    EXPECT_EQ(UriPath("https://host/x"), "https://host/x");
    EXPECT_EQ(UriPath("/%2e%2e/x"), "/%2e%2e/x");
}

class HomeFileModes : public ::testing::TestWithParam<TResolveMode> {
protected:
    void SetUp() override {
        Home = Root.Path() + "/home";
        WriteHomeFile(Root, "secret.txt", "outside");
        WriteHomeFile(Root, "outdir/secret.txt", "outside too");
        WriteHomeFile(Root, "home/index.htm", "hello");
        WriteHomeFile(Root, "home/sub/page.htm", "sub page");
        WriteHomeFile(Root, "home/empty.txt", "");
        ASSERT_EQ(::symlink((Root.Path() + "/secret.txt").c_str(), (Home + "/link-out").c_str()), 0);
        ASSERT_EQ(::symlink("../secret.txt", (Home + "/rel-link-out").c_str()), 0);
        ASSERT_EQ(::symlink((Root.Path() + "/outdir").c_str(), (Home + "/dir-out").c_str()), 0);
        ASSERT_EQ(::symlink("sub/page.htm", (Home + "/link-in").c_str()), 0);
        ASSERT_EQ(::mkfifo((Home + "/fifo").c_str(), 0600), 0);
    }

    THomeFile Open(const std::string& path) { return OpenHomeFile(Home, path, GetParam()); }

    test::TTempDir Root;
    std::string Home;
};

TEST_P(HomeFileModes, ServesRegularFilesBeneathTheHome) {
    THomeFile file = Open("/index.htm");
    EXPECT_EQ(file.Status, 200);
    EXPECT_EQ(file.Size, 5u);
    EXPECT_EQ(Open("/sub/page.htm").Status, 200);
    EXPECT_EQ(Open("//sub//page.htm").Status, 200);
    EXPECT_EQ(Open("/sub/../index.htm").Status, 200);
    EXPECT_EQ(Open("/link-in").Status, 200);
    EXPECT_EQ(Open("/empty.txt").Size, 0u);
}

TEST_P(HomeFileModes, RefusesEverythingElseWith404) {
    for (const char* path :
         {"/", "/sub", "/sub/", "/missing", "/fifo", "/../secret.txt", "/sub/../../secret.txt",
          "/%2e%2e/secret.txt", "/..%2fsecret.txt", "/link-out", "/rel-link-out", "/dir-out/secret.txt",
          "/index.htm/x", "index.htm", "../secret.txt", "", "/..\\secret.txt", "/index.htm\\"}) {
        THomeFile file = Open(path);
        EXPECT_EQ(file.Status, 404) << path;
        EXPECT_FALSE(file.Fd.Valid()) << path;
    }
    EXPECT_EQ(Open(std::string("/index.htm\0/../../secret.txt", 28)).Status, 404);
    // An empty home must not turn "/etc/passwd" into the root's file.
    EXPECT_EQ(OpenHomeFile("", "/etc/passwd", GetParam()).Status, 404);
}

TEST_P(HomeFileModes, UnreadableFileIs403) {
    WriteHomeFile(Root, "home/locked.txt", "x");
    ASSERT_EQ(::chmod((Home + "/locked.txt").c_str(), 0), 0);
    if (::geteuid() != 0) {
        EXPECT_EQ(Open("/locked.txt").Status, 403);
        EXPECT_EQ(Open("/index.htm").Status, 200);
        return;
    }
    // Root reads every file, so the check runs in a child that has given up root.
    ASSERT_EQ(::chmod(Root.Path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(Home.c_str(), 0755), 0);
    ASSERT_EQ(::chmod((Home + "/index.htm").c_str(), 0644), 0);
    auto statusAsNobody = [this](const std::string& path) {
        pid_t child = ::fork();
        if (child == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
                ::_exit(255);
            }
            ::_exit(Open(path).Status % 256);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(statusAsNobody("/locked.txt"), 403 % 256);
    EXPECT_EQ(statusAsNobody("/index.htm"), 200);
}

TEST_P(HomeFileModes, FileContentSourceReadsTheWholeFile) {
    std::string text(200000, 'q');
    text[199999] = 'z';
    WriteHomeFile(Root, "home/big.bin", text);
    THomeFile file = Open("/big.bin");
    ASSERT_EQ(file.Status, 200);
    TFileContentSource source(std::move(file.Fd), file.Size);
    std::string out;
    ASSERT_TRUE(source.Read(out, 150000));
    ASSERT_TRUE(source.Read(out, 50000));
    EXPECT_EQ(out, text);
    EXPECT_FALSE(source.Read(out, 1)) << "reading past the end fails";
}

INSTANTIATE_TEST_SUITE_P(, HomeFileModes,
                         ::testing::Values(TResolveMode::Auto, TResolveMode::Beneath,
                                           TResolveMode::Canonical),
                         [](const auto& param) {
                             return param.param == TResolveMode::Auto      ? std::string("Auto")
                                    : param.param == TResolveMode::Beneath ? std::string("Beneath")
                                                                           : std::string("Canonical");
                         });

} // namespace
} // namespace sw
