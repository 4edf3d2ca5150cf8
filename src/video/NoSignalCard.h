#pragma once

#include "video/Bitmap.h"

#include <cstdint>

namespace sw {

inline constexpr const char* kNoSignalText = "No signal";

// The picture viewers get while the capture device is gone: a plain dark card of the given size
// (24 bits) with "No signal" in the middle. False for a size a bitmap cannot have.
bool DrawNoSignalCard(TBitmap& bitmap, int32_t width, int32_t height);

} // namespace sw
