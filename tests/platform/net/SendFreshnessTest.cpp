#include "platform/net/SendFreshness.h"

#include <gtest/gtest.h>

namespace sw {
namespace {

constexpr size_t kFrame = 120 * 1024;

struct TCase {
    const char* Name;
    TViewerBacklog Backlog;
    bool Behind;
};

class SendFreshnessTest : public ::testing::TestWithParam<TCase> {};

TEST_P(SendFreshnessTest, DecidesWhetherTheViewerSkipsThePacket) {
    EXPECT_EQ(ViewerBehind(GetParam().Backlog, kFrame), GetParam().Behind) << GetParam().Name;
}

INSTANTIATE_TEST_SUITE_P(
    Backlogs, SendFreshnessTest,
    ::testing::Values(
        TCase{"nothing left: a fast viewer gets the frame", {0, 0, 0}, false},
        TCase{"the tail of the last frame still on its way", {0, 40000, 40000}, false},
        TCase{"half a frame not yet taken", {0, static_cast<int64_t>(kFrame) / 2, 1000}, true},
        // A fast viewer on a long link: a whole frame unacknowledged but already on the wire.
        TCase{"a frame in flight only", {0, 3 * kFrame, 0}, false},
        TCase{"a whole frame not yet taken, some still here", {0, static_cast<int64_t>(kFrame), 1}, true},
        TCase{"several frames queued at a closed window", {0, 3 * kFrame, 2 * kFrame}, true},
        TCase{
            "just under half a frame not yet taken", {0, static_cast<int64_t>(kFrame) / 2 - 1, 5000}, false},
        // Never part of one packet followed by another.
        TCase{"an earlier packet's rest in our queue", {1, 0, 0}, true},
        TCase{"the socket cannot tell", {0, -1, -1}, false},
        TCase{"unsent known, untransmitted not", {0, 2 * kFrame, -1}, true}));

TEST(SendFreshnessBufferTest, KeepsTheOperatorsFloorAndMakesRoomForTwoPackets) {
    EXPECT_EQ(StreamSendBufferBytes(0, 119000), 256 * 1024);
    EXPECT_EQ(StreamSendBufferBytes(32 * 1024, 1000), 64 * 1024);
    EXPECT_EQ(StreamSendBufferBytes(4 << 20, 119000), 4 << 20);
    EXPECT_EQ(StreamSendBufferBytes(0, 0), 0);
    // A packet size beyond what the socket option can hold asks for the largest it can.
    EXPECT_LE(StreamSendBufferBytes(0, size_t{1} << 40), INT32_MAX / 2);
    EXPECT_GT(StreamSendBufferBytes(0, size_t{1} << 40), 0);
}

} // namespace
} // namespace sw
