#pragma once

#include <cstddef>
#include <cstdint>

namespace sw {

// What a viewer's socket still holds when the next packet of a stream is offered to it.
struct TViewerBacklog {
    size_t PendingBytes = 0;         // rest of an earlier packet still waiting in our own queue
    int64_t UnsentBytes = -1;        // not yet acknowledged by the viewer (SIOCOUTQ); -1 unknown
    int64_t UntransmittedBytes = -1; // of those, not even sent on the wire (SIOCOUTQNSD); -1 unknown
};

// Newest-packet-wins freshness for a stream of whole packets (video frames, MJPEG parts): a viewer is
// behind, and skips this packet whole, while an earlier packet's rest waits in our queue, or while it
// has not yet taken half a packet's worth of what it was sent and some of that has not even left (its
// receive window is closed). So a new packet waits behind less than half of an old one. Bytes only in
// flight do not count: a fast viewer on a long link still gets every packet.
bool ViewerBehind(const TViewerBacklog& backlog, size_t packetBytes);

// The send buffer to ask for so that a packet fits whole next to what ViewerBehind lets remain, with
// room to spare: the operator's floor, or room for two packets, rounded up to 64 KiB so a
// stream of slightly growing packets does not resize the buffer every time.
int64_t StreamSendBufferBytes(int64_t floorBytes, size_t packetBytes);

} // namespace sw
