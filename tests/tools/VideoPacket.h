#pragma once

#include <cstdint>
#include <string>

namespace sw::client {

// One packet of the video stream: the tagged frame number, then the tagged length and the JPEG.
inline std::string Packet(uint32_t number, const std::string& jpeg) {
    std::string p;
    p += '\x01';
    for (int shift = 24; shift >= 0; shift -= 8) {
        p += static_cast<char>(number >> shift);
    }
    p += '\x02';
    const uint32_t length = static_cast<uint32_t>(jpeg.size());
    for (int shift = 24; shift >= 0; shift -= 8) {
        p += static_cast<char>(length >> shift);
    }
    return p + jpeg;
}

} // namespace sw::client
