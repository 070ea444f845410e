#include "gradient.h"

#include <cstring>

namespace zevrin {

const uint8_t GradientDitherTable[64] = {
    0, 3, 1, 4, 2, 5, 3, 6,
    7, 4, 6, 3, 5, 2, 4, 1,
    2, 5, 3, 6, 4, 7, 5, 0,
    1, 6, 0, 5, 7, 4, 6, 3,
    4, 7, 5, 0, 6, 1, 7, 2,
    3, 0, 2, 7, 1, 6, 0, 5,
    6, 1, 7, 2, 0, 3, 1, 4,
    5, 2, 4, 1, 3, 0, 2, 7,
};

uint32_t GradientColour(int y, int clientHeight)
{
    if (clientHeight <= 0)
        return 0x00FF0000;
    if (y < 0)
        y = 0;
    if (y > clientHeight)
        y = clientHeight;
    // 64 bits: y*y*255 leaves 32 bits from about 2900 rows on.
    int64_t h = clientHeight;
    int64_t v = int64_t(y) * y * 255 / (h * h);
    uint32_t blue = static_cast<uint32_t>(255 - v) & 0xFF;
    return blue << 16;
}

void GradientBandColours(int bandTop, int clientHeight, uint32_t colours[8])
{
    for (int k = 0; k < 8; ++k) {
        int64_t row = int64_t(bandTop) + GradientBandRows * k;
        if (row > clientHeight)
            row = clientHeight;
        colours[k] = GradientColour(static_cast<int>(row), clientHeight);
    }
}

void BuildDitherPattern(int bandTop, int clientHeight, uint8_t pattern[DitherPatternSize])
{
    std::memset(pattern, 0, DitherPatternSize);
    pattern[0] = 40;    // biSize
    pattern[4] = 8;     // biWidth
    pattern[8] = 8;     // biHeight
    pattern[12] = 1;    // biPlanes
    pattern[14] = 24;   // biBitCount
    pattern[20] = 192;  // biSizeImage
    uint32_t colours[8];
    GradientBandColours(bandTop, clientHeight, colours);
    uint8_t* pixel = pattern + 40;
    for (int n = 0; n < 64; ++n, pixel += 3) {
        uint32_t c = colours[GradientDitherTable[n]];
        pixel[0] = static_cast<uint8_t>(c >> 16);
        pixel[1] = static_cast<uint8_t>(c >> 8);
        pixel[2] = static_cast<uint8_t>(c);
    }
}

} // namespace zevrin
