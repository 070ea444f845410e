// Stored bitmaps: the frame picture and the background picture of a
// package, each the memory image of a .bmp file. The colour table starts
// right behind a 40-byte info header and the pixel rows right behind the
// table; the file header's bit offset is not consulted.
//
// The record comes from the package, so nothing is drawn from it before
// ReadStoredBitmap has checked that every byte the drawing will touch lies
// inside the record, and the platform is handed a header built here
// (BuildBitmapInfo) rather than the package's own.
#pragma once

#include <cstdint>

namespace zevrin {

const uint32_t BitmapFileHeaderSize = 14;
const uint32_t BitmapInfoHeaderSize = 40;
const uint32_t BitmapTableOffset = BitmapFileHeaderSize + BitmapInfoHeaderSize; // 54

// Wider or taller than this is refused: far beyond any screen, and it keeps
// the centring and tiling arithmetic inside the 16-bit coordinates of the
// older Windows family.
const int32_t MaxBitmapSide = 32767;

struct StoredBitmapView {
    int32_t width = 0;         // > 0
    int32_t height = 0;        // as stored: negative for a top-down picture
    int32_t rows = 0;          // |height|: the drawn height either way
    uint16_t bitCount = 0;     // 1, 4, 8, 16, 24 or 32
    uint32_t tableEntries = 0; // usable colour-table entries present
    const uint8_t* table = nullptr; // RGBQUAD entries (blue, green, red, 0)
    const uint8_t* bits = nullptr;  // the pixel rows
    uint32_t rowBytes = 0;     // one row, padded to 4 bytes
    uint32_t bitsSize = 0;     // rowBytes * rows, all inside the record
};

// Checks the record of `size` bytes and describes it. False, and nothing
// to draw, for a record that is too short for its headers, table or rows,
// an info header that is not the 40-byte kind, compressed pixels, a depth
// other than 1, 4, 8, 16, 24 or 32 bits, a zero, negative or oversized
// width, or a zero or oversized height. A negative height (rows stored
// top-down) is accepted: the picture is drawn upright, |height| rows high.
// The table holds biClrUsed entries, or 2^bits for 1, 4 and 8 bits when
// biClrUsed is 0, and none is used above 8 bits (a table there is only
// skipped); for 8 bits and less at most 2^bits entries are used.
bool ReadStoredBitmap(const uint8_t* bitmap, uint32_t size, StoredBitmapView* out);

// A BITMAPINFO for the platform's drawing calls: a plain 40-byte header
// (no compression, the record's size and depth, biClrUsed 0) and a table of
// 256 entries, of which the record's own come first and the rest are
// black. With biClrUsed 0 the platform reads 2^bits entries for 1, 4 and 8
// bits and none above, all of them inside this block, so neither a short
// table nor a pixel value beyond it makes the platform read the package's
// bytes. CreateBitmapPalette builds an 8-bit picture's palette from the
// same 256 entries.
const uint32_t BitmapInfoBlockSize = BitmapInfoHeaderSize + 256 * 4;
void BuildBitmapInfo(const StoredBitmapView& view, uint8_t out[BitmapInfoBlockSize]);

} // namespace zevrin
