#include "common/TestSupport.h"
#include "platform/profile/fuzz/IniFileFuzzCheck.h"

#include <gtest/gtest.h>

namespace sw::test {
namespace {

TEST(IniFileFuzzReplayTest, CorpusHoldsEveryInvariant) {
    EXPECT_EQ(ReplayCorpus(SW_INI_FUZZ_CORPUS, 6, CheckIniFileInput), "");
}

} // namespace
} // namespace sw::test
