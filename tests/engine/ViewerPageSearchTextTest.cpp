#include "engine/ViewerPage.h"

#include <gtest/gtest.h>
#include <random>

namespace sw {
namespace {

// The plain definition: try every position in turn.
size_t NaiveSearch(const std::string& pattern, const std::string& text, size_t start, bool caseSensitive) {
    if (pattern.empty()) {
        return 1;
    }
    auto same = [caseSensitive](char a, char b) {
        auto upper = [](unsigned char c) {
            return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 32) : c;
        };
        auto x = static_cast<unsigned char>(a);
        auto y = static_cast<unsigned char>(b);
        return caseSensitive ? x == y : upper(x) == upper(y);
    };
    for (size_t p = start < 1 ? 1 : start; p + pattern.size() - 1 <= text.size(); ++p) {
        bool match = true;
        for (size_t k = 0; k < pattern.size() && match; ++k) {
            match = same(text[p - 1 + k], pattern[k]);
        }
        if (match) {
            return p;
        }
    }
    return 0;
}

TEST(ViewerPageSearchTextTest, AgreesWithNaiveSearchOnRandomTexts) {
    std::mt19937 random(20261208);
    const std::string alphabet = "aAbBzZ<>/\xE4\xC4\x7B\x5B";
    auto randomText = [&](size_t maxLength) {
        std::string text(std::uniform_int_distribution<size_t>(0, maxLength)(random), ' ');
        for (char& c : text) {
            c = alphabet[std::uniform_int_distribution<size_t>(0, alphabet.size() - 1)(random)];
        }
        return text;
    };
    for (int round = 0; round < 20000; ++round) {
        const std::string text = randomText(40);
        std::string pattern = randomText(5);
        if (pattern.empty() && round % 2 == 0) {
            pattern.push_back('a'); // not = "a": GCC's optimised build warns of a false overlap there
        }
        const size_t start = std::uniform_int_distribution<size_t>(0, text.size() + 2)(random);
        const bool caseSensitive = round % 3 == 0;
        ASSERT_EQ(SearchText(pattern, text, start, caseSensitive),
                  NaiveSearch(pattern, text, start, caseSensitive))
            << "pattern \"" << pattern << "\" text \"" << text << "\" start " << start << " case "
            << caseSensitive;
    }
}

TEST(ViewerPageSearchTextTest, PositionsAreOneBased) {
    EXPECT_EQ(SearchText("<applet", "<APPLET x>", 1, false), 1u);
    EXPECT_EQ(SearchText("<applet", "<APPLET x>", 1, true), 0u);
    EXPECT_EQ(SearchText("ab", "xxabxxab", 1, true), 3u);
    EXPECT_EQ(SearchText("ab", "xxabxxab", 3, true), 3u);
    EXPECT_EQ(SearchText("ab", "xxabxxab", 4, true), 7u);
    EXPECT_EQ(SearchText("ab", "xxabxxab", 8, true), 0u);
    EXPECT_EQ(SearchText("ab", "xxabxxab", 0, true), 3u);
    EXPECT_EQ(SearchText("ab", "ab", 100, true), 0u);
    EXPECT_EQ(SearchText("abc", "ab", 1, true), 0u);
}

TEST(ViewerPageSearchTextTest, EmptyPatternGivesOne) {
    EXPECT_EQ(SearchText("", "", 1, false), 1u);
    EXPECT_EQ(SearchText("", "text", 3, true), 1u);
}

TEST(ViewerPageSearchTextTest, OnlyAsciiLettersFold) {
    EXPECT_EQ(SearchText("lumiclip", "xLUMICLIPx", 1, false), 2u);
    // Latin-1 a-umlaut and A-umlaut, "{" and "[" differ by the same bit as a and A but do not fold.
    EXPECT_EQ(SearchText("\xE4", "\xC4", 1, false), 0u);
    EXPECT_EQ(SearchText("{", "[", 1, false), 0u);
    EXPECT_EQ(SearchText("@", "`", 1, false), 0u);
}

} // namespace
} // namespace sw
