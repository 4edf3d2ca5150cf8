#include "platform/profile/fuzz/IniFileFuzzCheck.h"

#include "common/FuzzReplay.h"

namespace sw::test {
namespace {

TEST(IniFileFuzzReplayTest, CorpusHoldsEveryInvariant) {
    ReplayFuzzCorpus(SW_INI_FUZZ_CORPUS, CheckIniFileInput);
}

} // namespace
} // namespace sw::test
