// Lookup tables for canonical Huffman codes: a first-level table indexed
// by the next `width` bits, with sub-tables for longer codes. Codes are
// laid out in canonical order with their bits reversed (first bit in bit
// 0), so every entry of a code repeats at a stride of 2^(length - w).
//
// All tables of one decode share one array (TableSpace), taken from its
// end and given back in reverse order; a sub-table is found by its offset
// from its code's first-level table.
#include <cstring>

#include "decoder.h"

namespace zevrin {

namespace {

const unsigned MaxCodeLength = 16;
// What a decode's array starts with: the fixed codes' tables and one
// block's dynamic ones, with room to spare.
const uint32_t InitialTableEntries = 4096;
// Sub-table offsets are 16-bit.
const uint32_t MaxCodeEntries = 65536;

// Room for `entries` more; the array grows (and moves) when it has none.
bool MakeRoom(TableSpace* space, uint32_t entries)
{
    if (space->used + entries <= space->size)
        return true;
    uint32_t size = space->size ? space->size : InitialTableEntries;
    while (size < space->used + entries)
        size *= 2;
    HuffmanEntry* grown = nullptr;
    if (!AllocWithRetry(size * static_cast<uint32_t>(sizeof(HuffmanEntry)), &grown))
        return false;
    if (space->used)
        std::memcpy(grown, space->entries, space->used * sizeof(HuffmanEntry));
    FreeAndClear(&space->entries);
    space->entries = grown;
    space->size = size;
    return true;
}

} // namespace

bool ReserveTableSpace(TableSpace* space)
{
    return MakeRoom(space, InitialTableEntries);
}

void ReleaseTableSpace(TableSpace* space)
{
    FreeAndClear(&space->entries);
    space->size = space->used = 0;
}

int BuildHuffmanTable(const uint8_t* lengths, unsigned n, unsigned simpleCount,
                      const uint16_t* bases, const uint16_t* extras, unsigned width,
                      TableSpace* space, uint32_t* table, unsigned* actualWidth, unsigned endLength)
{
    *table = NoTable;
    *actualWidth = 0;

    // The end-of-block code must end on a table boundary, so that looking
    // it up never asks for bits beyond it (the stream may end there).
    unsigned endOfBlockLength = n > 256 ? lengths[256] : MaxCodeLength;
    // The stream may end with any code of this table followed by the
    // end-of-block code (`endLength` bits; for the literal code its own).
    // A table at offset w opened for a code of length k is therefore at
    // most k - w + endLength wide, so that a lookup never asks for bits
    // past that end.
    if (n > 256)
        endLength = lengths[256];

    unsigned count[MaxCodeLength + 1] = {};
    for (unsigned i = 0; i < n; ++i)
        ++count[lengths[i] <= MaxCodeLength ? lengths[i] : 0];
    if (count[0] == n)
        return 0;

    unsigned minLen = 1;
    while (count[minLen] == 0)
        ++minLen;
    unsigned maxLen = MaxCodeLength;
    while (count[maxLen] == 0)
        --maxLen;
    if (width < minLen)
        width = minLen;
    if (width > maxLen)
        width = maxLen;

    long left = 1L << minLen;
    for (unsigned len = minLen; len < maxLen; ++len) {
        left -= count[len];
        if (left < 0)
            return TableOverSubscribed;
        left *= 2;
    }
    left -= count[maxLen];
    if (left < 0)
        return TableOverSubscribed;
    unsigned realCount[MaxCodeLength + 1];
    std::memcpy(realCount, count, sizeof count);
    // Unused patterns are laid out like codes and decode as invalid.
    count[maxLen] += static_cast<unsigned>(left);

    // Symbols by length, then value (a counting sort).
    uint16_t symbols[320];
    unsigned offsets[MaxCodeLength + 2];
    offsets[1] = 0;
    for (unsigned len = 1; len <= MaxCodeLength; ++len)
        offsets[len + 1] = offsets[len] + realCount[len];
    unsigned symbolCount = offsets[MaxCodeLength + 1];
    for (unsigned i = 0; i < n; ++i)
        if (lengths[i] != 0 && lengths[i] <= MaxCodeLength)
            symbols[offsets[lengths[i]]++] = static_cast<uint16_t>(i);
    unsigned nextSymbol = 0;

    // Stack of open tables. levelWidth[h] is the width of level h, w the
    // bits covered by the levels above the current one.
    uint32_t levelTable[MaxCodeLength + 1] = {}; // offsets from the first level
    unsigned levelWidth[MaxCodeLength + 1] = {};
    uint32_t levelStart[MaxCodeLength + 1] = {};
    int h = -1;
    unsigned w = 0;
    uint32_t code = 0;
    const uint32_t root = space->used;

    for (unsigned k = minLen; k <= maxLen; ++k) {
        unsigned a = count[k];
        while (a--) {
            // Open tables until this code's length fits.
            while (k > w + (h >= 0 ? levelWidth[h] : 0)) {
                unsigned parentWidth = h >= 0 ? levelWidth[h] : 0;
                w += parentWidth;
                unsigned z = maxLen - w < width ? maxLen - w : width;
                unsigned j = k - w;
                uint32_t f = 1u << j;
                if (f > a + 1) {
                    // Too few codes of this length to fill a j-bit table:
                    // widen it while the longer codes still fit.
                    f -= a + 1;
                    unsigned len = k;
                    if (j < z) {
                        while (++j < z) {
                            f <<= 1;
                            if (f <= count[++len])
                                break;
                            f -= count[len];
                        }
                    }
                }
                if (w + j > endOfBlockLength && w < endOfBlockLength)
                    j = endOfBlockLength - w;
                if (endLength && j > k - w + endLength)
                    j = k - w + endLength;
                uint32_t offset = space->used - root;
                if (offset + (1u << j) > MaxCodeEntries || !MakeRoom(space, 1u << j)) {
                    space->used = root;
                    return DecodeOutOfMemory;
                }
                space->used += 1u << j;
                ++h;
                levelTable[h] = offset;
                levelWidth[h] = j;
                if (h == 0) {
                    levelStart[0] = 0;
                } else {
                    levelStart[h] = code;
                    HuffmanEntry link;
                    link.op = static_cast<uint8_t>(16 + j);
                    link.bits = static_cast<uint8_t>(parentWidth);
                    link.value = static_cast<uint16_t>(offset);
                    uint32_t index = (code & ((1u << w) - 1)) >> (w - parentWidth);
                    space->entries[root + levelTable[h - 1] + index] = link;
                }
            }

            HuffmanEntry entry;
            entry.bits = static_cast<uint8_t>(k - w);
            entry.value = 0;
            if (nextSymbol >= symbolCount) {
                entry.op = OpInvalid;
            } else {
                unsigned symbol = symbols[nextSymbol++];
                if (symbol < simpleCount) {
                    entry.op = symbol < 256 ? OpLiteral : OpEndOfBlock;
                    entry.value = static_cast<uint16_t>(symbol);
                } else {
                    entry.op = static_cast<uint8_t>(extras[symbol - simpleCount]);
                    entry.value = bases[symbol - simpleCount];
                }
            }

            HuffmanEntry* level = space->entries + root + levelTable[h];
            uint32_t size = 1u << levelWidth[h];
            for (uint32_t i = code >> w; i < size; i += 1u << (k - w))
                level[i] = entry;

            // Next code in bit-reversed counting.
            uint32_t bit = 1u << (k - 1);
            while (code & bit) {
                code ^= bit;
                bit >>= 1;
            }
            code ^= bit;

            while (h > 0 && (code & ((1u << w) - 1)) != levelStart[h]) {
                --h;
                w -= levelWidth[h];
            }
        }
    }

    *table = root;
    *actualWidth = levelWidth[0];
    return (left != 0 && maxLen != 1) ? TableIncomplete : 0;
}

} // namespace zevrin
