// Validation of stored bitmaps. Every size is worked out in 64 bits so
// that a hostile count cannot wrap round into a small, "fitting" one.
#include "stored_bitmap.h"

#include <cstring>

namespace zevrin {

namespace {

uint32_t Le32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint16_t Le16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

void PutLe32(uint8_t* p, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(value >> (8 * i));
}

bool SupportedDepth(uint16_t bits)
{
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

} // namespace

bool ReadStoredBitmap(const uint8_t* bitmap, uint32_t size, StoredBitmapView* out)
{
    *out = StoredBitmapView();
    if (!bitmap || size < BitmapTableOffset)
        return false;
    const uint8_t* info = bitmap + BitmapFileHeaderSize;
    // A later header version puts the table somewhere else: not this format.
    if (Le32(info) != BitmapInfoHeaderSize)
        return false;
    int32_t width = static_cast<int32_t>(Le32(info + 4));
    int32_t height = static_cast<int32_t>(Le32(info + 8));
    uint16_t bitCount = Le16(info + 14);
    uint32_t compression = Le32(info + 16);
    uint32_t coloursUsed = Le32(info + 32);

    // Compressed rows have no size that could be checked before the
    // platform decodes them.
    if (compression != 0 || !SupportedDepth(bitCount))
        return false;
    if (width <= 0 || width > MaxBitmapSide || height == 0 || height < -MaxBitmapSide ||
        height > MaxBitmapSide)
        return false;
    int32_t rows = height < 0 ? -height : height;

    uint64_t tableBytes = coloursUsed ? uint64_t(coloursUsed) * 4 : bitCount <= 8 ? uint64_t(4) << bitCount : 0;
    uint64_t rowBytes = (uint64_t(width) * bitCount + 31) / 32 * 4;
    uint64_t bitsSize = rowBytes * uint64_t(rows);
    uint64_t needed = uint64_t(BitmapTableOffset) + tableBytes + bitsSize;
    if (needed > size)
        return false;

    out->width = width;
    out->height = height;
    out->rows = rows;
    out->bitCount = bitCount;
    if (bitCount <= 8) {
        uint64_t usable = uint64_t(1) << bitCount;
        uint64_t present = tableBytes / 4;
        out->tableEntries = static_cast<uint32_t>(present < usable ? present : usable);
        out->table = bitmap + BitmapTableOffset;
    }
    out->bits = bitmap + BitmapTableOffset + tableBytes;
    out->rowBytes = static_cast<uint32_t>(rowBytes);
    out->bitsSize = static_cast<uint32_t>(bitsSize);
    return true;
}

void BuildBitmapInfo(const StoredBitmapView& view, uint8_t out[BitmapInfoBlockSize])
{
    std::memset(out, 0, BitmapInfoBlockSize);
    PutLe32(out, BitmapInfoHeaderSize);
    PutLe32(out + 4, static_cast<uint32_t>(view.width));
    PutLe32(out + 8, static_cast<uint32_t>(view.height));
    out[12] = 1; // planes
    out[14] = static_cast<uint8_t>(view.bitCount);
    PutLe32(out + 20, view.bitsSize);
    if (view.table && view.tableEntries)
        std::memcpy(out + BitmapInfoHeaderSize, view.table, view.tableEntries * 4u);
}

} // namespace zevrin
