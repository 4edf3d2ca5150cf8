#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace sw {

// The video port's packet: 0x01, the frame number, 0x02, the JPEG length (both unsigned 32-bit
// big-endian), then the JPEG.
inline constexpr size_t kVideoPacketHeaderBytes = 10;
using TVideoPacketHeader = std::array<uint8_t, kVideoPacketHeaderBytes>;

inline TVideoPacketHeader VideoPacketHeader(uint32_t frameNumber, uint32_t jpegBytes) {
    return {0x01,
            static_cast<uint8_t>(frameNumber >> 24),
            static_cast<uint8_t>(frameNumber >> 16),
            static_cast<uint8_t>(frameNumber >> 8),
            static_cast<uint8_t>(frameNumber),
            0x02,
            static_cast<uint8_t>(jpegBytes >> 24),
            static_cast<uint8_t>(jpegBytes >> 16),
            static_cast<uint8_t>(jpegBytes >> 8),
            static_cast<uint8_t>(jpegBytes)};
}

// Where the video thread hands each frame's packet: the engine's video server, which offers it whole
// to every registered, unblocked viewer. Called on the main thread; the bytes are valid for the call.
class TVideoPacketSink {
public:
    virtual ~TVideoPacketSink() = default;
    virtual void SendFrame(const TVideoPacketHeader& header, const uint8_t* jpeg, size_t jpegBytes) = 0;
};

} // namespace sw
