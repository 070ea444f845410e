// The full-screen background's blue gradient, without the platform: the
// colour of each row and the dithered 8 x 8 pattern that paints a band of
// eight rows on true-colour displays.
#pragma once

#include <cstdint>

namespace zevrin {

// Colours are COLORREF values, 0x00BBGGRR.
//
// Row y of a client area clientHeight rows high: blue 255 at the top,
// falling quadratically to 0 at the bottom (blue = 255 - y*y*255/(h*h),
// truncated). Rows are clamped to 0..clientHeight. An empty client area
// gives the top colour instead of dividing by zero.
uint32_t GradientColour(int y, int clientHeight);

const int GradientBandRows = 8;

// Eight rows of eight indices 0..7 into a band's colours, in memory order
// (the first row in memory is the bottom row of the bottom-up pattern).
extern const uint8_t GradientDitherTable[64];

// The band starting at row bandTop mixes the colours of rows bandTop,
// bandTop + 8, ..., bandTop + 56, each clamped to the client height, so
// the last bands blend into the final colour.
void GradientBandColours(int bandTop, int clientHeight, uint32_t colours[8]);

// A packed DIB for a pattern brush: a 40-byte BITMAPINFOHEADER (8 x 8,
// 24 bits, 192 bytes of pixels) followed by the pixels, pixel n being the
// band colour GradientDitherTable[n] stored as blue, green, red.
const uint32_t DitherPatternSize = 40 + 8 * 8 * 3;
void BuildDitherPattern(int bandTop, int clientHeight, uint8_t pattern[DitherPatternSize]);

} // namespace zevrin
