#include "web/fuzz/WebRequestFuzzCheck.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

namespace sw::test {
namespace {

TEST(WebRequestFuzzReplayTest, CorpusHoldsEveryInvariant) {
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(SW_WEB_FUZZ_CORPUS)) {
        std::ifstream input(entry.path(), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(input)), std::istreambuf_iterator<char>());
        EXPECT_EQ(CheckWebRequestInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), "")
            << entry.path();
        ++files;
    }
    EXPECT_GE(files, 8);
}

} // namespace
} // namespace sw::test
