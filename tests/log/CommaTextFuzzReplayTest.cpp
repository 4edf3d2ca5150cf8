#include "common/TestSupport.h"
#include "log/fuzz/CommaTextFuzzCheck.h"

#include <gtest/gtest.h>

namespace sw::test {
namespace {

TEST(CommaTextFuzzReplayTest, CorpusHoldsEveryInvariant) {
    EXPECT_EQ(ReplayCorpus(SW_COMMA_TEXT_FUZZ_CORPUS, 6, CheckCommaTextInput), "");
}

} // namespace
} // namespace sw::test
