#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace sw::test {

// Reads the test pattern device's picture back, independently of its generator: the frame number in
// 5 x 7 digits in the top-left corner and the eight moving colour bars.

// The number drawn in the corner, or -1 when none can be read. Pixels are top-down rows of 3 bytes per
// pixel in either colour order (only the brightness counts); a negative stride reads bottom-up rows.
long ReadPatternCounter(const uint8_t* pixels, int width, int height, std::ptrdiff_t stride);
// RGB of the bar at column x in frame `number` (the bars move 4 pixels per frame).
std::array<uint8_t, 3> PatternBarColour(uint32_t number, int x, int width);
// The column at the middle of bar `bar` (0 white ... 7 black) in frame `number`.
int PatternBarCentre(uint32_t number, int bar, int width);

} // namespace sw::test
