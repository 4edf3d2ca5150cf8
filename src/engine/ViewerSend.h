#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace sw {

class TServerClientSocket;

// One packet (an audio block, or a video header and its JPEG) offered whole to every eligible viewer
// of a server. The packet is sent straight from the caller's buffers, without a copy unless a
// viewer's socket takes only part of it.
struct TViewerPacket {
    const uint8_t* Data = nullptr;
    size_t Size = 0;
    const uint8_t* More = nullptr; // a second piece sent right after Data in the same call
    size_t MoreSize = 0;
    // The bytes shown in each viewer's "Socket write" hex dump.
    const uint8_t* Dump = nullptr;
    size_t DumpCount = 0;
    // A stream where the newest packet wins: each viewer's send buffer grows to hold a whole packet,
    // and a viewer that ViewerBehind finds behind skips the packet whole, so a slow viewer gets the
    // newest packet once it has nearly caught up rather than packets that waited in its queue.
    bool SkipWhenBehind = false;
    // Asked for each registered, unblocked viewer before anything is offered to it; false passes it
    // over for this packet (a rate limit of its own, a header it must get first).
    std::function<bool(TServerClientSocket&)> Admit;
};

// What became of a packet, counted over the connections of the server.
struct TViewerSendCounts {
    int Eligible = 0; // open, registered and not blocked
    int Sent = 0;     // taken whole by the socket
    int Queued = 0;   // taken in part; the rest follows when the socket drains
    int Skipped = 0;  // dropped whole: the viewer is still behind with an earlier packet
    int Failed = 0;   // a send error; the connection was logged and closed
};

} // namespace sw
