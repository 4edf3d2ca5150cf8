#include "common/PatternReader.h"

#include <algorithm>
#include <string>

namespace sw::test {

namespace {

// The device's digits, rows top-down, bit 4 the leftmost column.
constexpr uint8_t kGlyphs[10][7] = {
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},
};

constexpr uint8_t kBarRgb[8][3] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                                   {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};

} // namespace

long ReadPatternCounter(const uint8_t* pixels, int width, int height, std::ptrdiff_t stride) {
    const int scale = std::max(1, height / 120);
    const int left = 4 * scale;
    const int top = 4 * scale;
    auto lit = [&](int gx, int gy) {
        const int x = left + (gx + 1) * scale + scale / 2;
        const int y = top + (gy + 1) * scale + scale / 2;
        if (x >= width || y >= height) {
            return false;
        }
        const uint8_t* p = pixels + y * stride + x * 3;
        return p[0] + p[1] + p[2] > 3 * 128;
    };
    std::string digits;
    for (int d = 0; d < 10; ++d) {
        int found = -1;
        for (int digit = 0; digit < 10 && found < 0; ++digit) {
            bool same = true;
            for (int row = 0; row < 7 && same; ++row) {
                for (int column = 0; column < 5 && same; ++column) {
                    same = lit(d * 6 + column, row) == (((kGlyphs[digit][row] >> (4 - column)) & 1) != 0);
                }
            }
            if (same) {
                found = digit;
            }
        }
        if (found < 0) {
            break;
        }
        digits += static_cast<char>('0' + found);
    }
    return digits.empty() ? -1 : std::stol(digits);
}

std::array<uint8_t, 3> PatternBarColour(uint32_t number, int x, int width) {
    const uint32_t shift = (number * 4u) % static_cast<uint32_t>(width);
    const uint32_t xs = (static_cast<uint32_t>(x) + shift) % static_cast<uint32_t>(width);
    const uint8_t* rgb = kBarRgb[xs * 8 / static_cast<uint32_t>(width)];
    return {rgb[0], rgb[1], rgb[2]};
}

int PatternBarCentre(uint32_t number, int bar, int width) {
    const int shift = static_cast<int>((number * 4u) % static_cast<uint32_t>(width));
    const int centre = bar * width / 8 + width / 16;
    return ((centre - shift) % width + width) % width;
}

} // namespace sw::test
