// Validation of stored bitmaps. Every size is worked out in 64 bits so
// that a hostile count cannot wrap round into a small, "fitting" one.
#include "stored_bitmap.h"

#include <cstring>

#include "../shared/byte_cursor.h"

namespace zevrin {

namespace {

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
    ByteCursor in(bitmap, size);
    in.Skip(BitmapFileHeaderSize);
    uint32_t infoSize = in.U32();
    int32_t width = static_cast<int32_t>(in.U32());
    int32_t height = static_cast<int32_t>(in.U32());
    in.Skip(2); // planes
    uint16_t bitCount = in.U16();
    uint32_t compression = in.U32();
    in.Skip(12); // image size, resolution
    uint32_t coloursUsed = in.U32();
    in.Skip(4); // important colours
    // A later header version puts the table somewhere else: not this format.
    if (in.Failed() || infoSize != BitmapInfoHeaderSize)
        return false;

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
    if (tableBytes + bitsSize > in.Left())
        return false;
    const uint8_t* table = in.Bytes(static_cast<uint32_t>(tableBytes));
    const uint8_t* bits = in.Bytes(static_cast<uint32_t>(bitsSize));

    out->width = width;
    out->height = height;
    out->rows = rows;
    out->bitCount = bitCount;
    if (bitCount <= 8) {
        uint64_t usable = uint64_t(1) << bitCount;
        uint64_t present = tableBytes / 4;
        out->tableEntries = static_cast<uint32_t>(present < usable ? present : usable);
        out->table = table;
    }
    out->bits = bits;
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
