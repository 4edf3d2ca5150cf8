#pragma once

#include "platform/sound/WaveIn.h"

#include <cstddef>
#include <cstdint>

namespace sw {

// Receives every filled capture buffer as recorded, before mu-law encoding, with the capture format and
// the "Volume" gain the viewers' sound gets. Called on the main thread; data is valid only during the
// call, and the call must return at once.
class TPcmTap {
public:
    virtual ~TPcmTap() = default;
    virtual void PcmReady(const TWaveFormatEx& format, const uint8_t* data, size_t bytes, int32_t volume) = 0;
};

} // namespace sw
