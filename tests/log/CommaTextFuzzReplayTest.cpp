#include "log/fuzz/CommaTextFuzzCheck.h"

#include "common/FuzzReplay.h"

namespace sw::test {
namespace {

TEST(CommaTextFuzzReplayTest, CorpusHoldsEveryInvariant) {
    ReplayFuzzCorpus(SW_COMMA_TEXT_FUZZ_CORPUS, CheckCommaTextInput);
}

} // namespace
} // namespace sw::test
