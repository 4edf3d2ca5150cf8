#include "web/fuzz/WebRequestFuzzCheck.h"

#include "common/FuzzReplay.h"

namespace sw::test {
namespace {

TEST(WebRequestFuzzReplayTest, CorpusHoldsEveryInvariant) {
    ReplayFuzzCorpus(SW_WEB_FUZZ_CORPUS, CheckWebRequestInput);
}

} // namespace
} // namespace sw::test
