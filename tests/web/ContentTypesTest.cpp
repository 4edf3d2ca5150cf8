#include "web/ContentTypes.h"
#include "platform/mime/MimeSources.h"

#include "WebTestSupport.h"

#include <gtest/gtest.h>
#include <sstream>
#include <thread>

namespace sw {
namespace {

using test::WriteHomeFile;

using TPairs = std::vector<std::pair<std::string, std::string>>;

TAddContentType Into(TPairs& pairs) {
    return [&pairs](const std::string& type, const std::string& extension) {
        pairs.emplace_back(type, extension);
    };
}

TEST(ContentTypesTest, FirstRegistrationWinsAndLookupIgnoresCase) {
    TContentTypes types;
    types.Add("text/html", ".htm");
    types.Add("text/plain", ".HTM");
    types.Add("", ".x");
    types.Add("a/b", "");
    types.Add("image/png", ".png");
    ASSERT_EQ(types.Count(), 2);
    EXPECT_EQ(types.IndexOf(".HTM"), 0);
    EXPECT_EQ(types.Items(types.IndexOf(".Htm")).ContentType, "text/html");
    EXPECT_EQ(types.IndexOf(".png"), 1);
    EXPECT_EQ(types.IndexOf(".gif"), -1);
    EXPECT_EQ(types.IndexOf(""), -1);
}

TEST(ContentTypesTest, ExtractFileExt) {
    EXPECT_EQ(ExtractFileExt("/srv/www/index.htm"), ".htm");
    EXPECT_EQ(ExtractFileExt("/srv/www/a.b.JPG"), ".JPG");
    EXPECT_EQ(ExtractFileExt("/srv/w.w/readme"), "");
    EXPECT_EQ(ExtractFileExt("/srv/www/a.htm?x=1"), ".htm?x=1");
    EXPECT_EQ(ExtractFileExt("c.d:stream"), "");
    EXPECT_EQ(ExtractFileExt("noext"), "");
}

TEST(ContentTypesTest, ProcessTableHasTheWebsOwnTypesAndIsBuiltOnce) {
    const TContentTypes* seen[4] = {};
    std::vector<std::thread> threads;
    for (auto& slot : seen) {
        threads.emplace_back([&slot] { slot = &ContentTypes(); });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (const TContentTypes* table : seen) {
        EXPECT_EQ(table, &ContentTypes());
    }
    for (const char* extension : {".htm", ".HTML", ".css", ".js", ".json", ".txt", ".jpg", ".jpeg", ".png",
                                  ".gif", ".ico", ".svg", ".wav", ".jar", ".class", ".cab", ".wasm"}) {
        EXPECT_GE(ContentTypes().IndexOf(extension), 0) << extension;
    }
}

TEST(MimeSourcesTest, MimeTypesFile) {
    std::istringstream input("# comment line\n"
                             "text/html\t\thtml htm  # trailing comment\n"
                             "application/x-empty\n"
                             "\n"
                             "image/png png\r\n"
                             "application/odd a*b good\n");
    TPairs pairs;
    ReadMimeTypes(input, Into(pairs));
    EXPECT_EQ(pairs, (TPairs{{"text/html", ".html"},
                             {"text/html", ".htm"},
                             {"image/png", ".png"},
                             {"application/odd", ".good"}}));
}

TEST(MimeSourcesTest, Globs2File) {
    std::istringstream input("# generated\n"
                             "80:text/html:*.html\n"
                             "50:text/x-readme:README*\n"
                             "50:application/x-compressed-tar:*.tar.gz\n"
                             "50:text/x-c:*.C:cs\n"
                             "50:text/x-odd:*.[ch]\n"
                             "40:image/png:*.png\n"
                             "broken line\n");
    TPairs pairs;
    ReadGlobs2(input, Into(pairs));
    EXPECT_EQ(pairs, (TPairs{{"text/html", ".html"}, {"text/x-c", ".C"}, {"image/png", ".png"}}));
}

TEST(MimeSourcesTest, PassesInOrderOfPrecedence) {
    test::TTempDir dir;
    WriteHomeFile(dir, "mime.types", "text/from-mime-types htm\n");
    WriteHomeFile(dir, "globs2", "50:text/from-globs:*.htm\n50:text/from-globs:*.only-globs\n");
    TContentTypes types;
    auto add = [&types](const std::string& type, const std::string& extension) {
        types.Add(type, extension);
    };
    EnumerateContentTypes(add, dir.File("mime.types"), {dir.File("missing"), dir.File("globs2")});
    EXPECT_EQ(types.Items(types.IndexOf(".HTM")).ContentType, "text/from-mime-types");
    EXPECT_EQ(types.Items(types.IndexOf(".only-globs")).ContentType, "text/from-globs");
    EXPECT_EQ(types.Items(types.IndexOf(".wasm")).ContentType, "application/wasm");

    TContentTypes bare;
    EnumerateContentTypes([&bare](const std::string& t, const std::string& e) { bare.Add(t, e); },
                          dir.File("none"), {});
    EXPECT_EQ(bare.Count(), 17);
    EXPECT_EQ(bare.Items(bare.IndexOf(".htm")).ContentType, "text/html");
}

} // namespace
} // namespace sw
