#include "common/TestSupport.h"
#include "web/fuzz/WebRequestFuzzCheck.h"

#include <gtest/gtest.h>

namespace sw::test {
namespace {

TEST(WebRequestFuzzReplayTest, CorpusHoldsEveryInvariant) {
    EXPECT_EQ(ReplayCorpus(SW_WEB_FUZZ_CORPUS, 8, CheckWebRequestInput), "");
}

} // namespace
} // namespace sw::test
