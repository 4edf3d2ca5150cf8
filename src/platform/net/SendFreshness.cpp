#include "platform/net/SendFreshness.h"

#include <algorithm>
#include <climits>

namespace sw {

bool ViewerBehind(const TViewerBacklog& backlog, size_t packetBytes) {
    if (backlog.PendingBytes > 0) {
        return true;
    }
    if (backlog.UnsentBytes < 0 || backlog.UntransmittedBytes == 0) {
        return false;
    }
    return 2 * static_cast<uint64_t>(backlog.UnsentBytes) >= std::max<uint64_t>(packetBytes, 1);
}

int64_t StreamSendBufferBytes(int64_t floorBytes, size_t packetBytes) {
    constexpr int64_t kStep = 64 * 1024;
    constexpr int64_t kLargest = INT_MAX / 2; // the kernel doubles what it is asked for
    const int64_t twoPackets = 2 * static_cast<int64_t>(std::min<size_t>(packetBytes, kLargest));
    const int64_t rounded = std::min((twoPackets + kStep - 1) / kStep * kStep, kLargest);
    return std::max(floorBytes, rounded);
}

} // namespace sw
