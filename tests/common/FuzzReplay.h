#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>

namespace sw::test {

// Replays a fuzz target's corpus through its check, which returns "" when every invariant held.
template <typename Check>
void ReplayFuzzCorpus(const std::string& folder, Check check) {
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::ifstream input(entry.path(), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(input)), std::istreambuf_iterator<char>());
        EXPECT_EQ(check(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), "") << entry.path();
        ++files;
    }
    EXPECT_GE(files, 8);
}

} // namespace sw::test
