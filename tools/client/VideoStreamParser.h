#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sw::client {

// Reads the video port's stream: packets of 0x01, frame number (32-bit big-endian), 0x02, JPEG
// length L (32-bit big-endian) and L bytes of JPEG, back to back. Bytes may arrive in any split.
class TVideoStreamParser {
public:
    static constexpr size_t kHeaderBytes = 10;
    static constexpr uint8_t kNumberTag = 0x01;
    static constexpr uint8_t kLengthTag = 0x02;
    static constexpr size_t kDefaultMaxJpegBytes = 64u << 20;

    using TFrameHandler = std::function<void(uint32_t number, const uint8_t* jpeg, size_t size)>;

    explicit TVideoStreamParser(size_t maxJpegBytes = kDefaultMaxJpegBytes) : FMaxJpegBytes(maxJpegBytes) {}

    // Feeds received bytes; onFrame runs for every complete packet whose JPEG is well formed (starts
    // with FF D8, ends with FF D9). False at the first malformed packet; Error() then says what and
    // where, and later calls fail at once.
    bool Feed(const uint8_t* data, size_t size, const TFrameHandler& onFrame);
    // For the end of the stream: false, with Error() set, when it ended inside a packet.
    bool Finish();

    bool Failed() const { return !FError.empty(); }
    const std::string& Error() const { return FError; }
    // Stream bytes consumed so far.
    uint64_t Offset() const { return FOffset; }
    uint64_t Packets() const { return FPackets; }

private:
    bool Fail(const std::string& message);
    bool HeaderComplete();

    size_t FMaxJpegBytes;
    uint8_t FHeader[kHeaderBytes] = {};
    size_t FHeaderHave = 0;
    uint32_t FNumber = 0;
    uint32_t FLength = 0;
    std::vector<uint8_t> FJpeg;
    bool FInBody = false;
    uint64_t FOffset = 0;
    uint64_t FPacketOffset = 0;
    uint64_t FPackets = 0;
    std::string FError;
};

// Frame-number bookkeeping: gaps (numbers skipped forward) and numbers that went back or repeated.
struct TFrameCounter {
    uint64_t Frames = 0;
    uint64_t Gaps = 0;
    uint64_t Missed = 0;     // frame numbers skipped over by the gaps
    uint64_t OutOfOrder = 0; // a number equal to or behind the previous one
    uint32_t First = 0;
    uint32_t Last = 0;

    void Add(uint32_t number);
};

} // namespace sw::client
