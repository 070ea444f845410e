// Lookup tables for canonical Huffman codes: a first-level table indexed
// by the next `width` bits, with sub-tables for longer codes. Codes are
// laid out in canonical order with their bits reversed (first bit in bit
// 0), so every entry of a code repeats at a stride of 2^(length - w).
//
// Every array has one extra leading slot that chains the arrays of one
// code in creation order, so FreeHuffmanTable can release them all.
#include <cstring>

#include "decoder.h"

namespace zevrin {

namespace {

const unsigned MaxCodeLength = 16;

HuffmanEntry* NewTableArray(unsigned entries, HuffmanEntry** chainTail)
{
    HuffmanEntry* array = nullptr;
    uint32_t bytes = (entries + 1) * static_cast<uint32_t>(sizeof(HuffmanEntry));
    // Every slot gets written while the code is laid out: no zeroing.
    if (!AllocWithRetry(bytes, &array))
        return nullptr;
    array->next = nullptr;
    if (*chainTail)
        (*chainTail)->next = array;
    *chainTail = array;
    return array + 1;
}

} // namespace

void FreeHuffmanTable(HuffmanEntry* table)
{
    if (!table)
        return;
    HuffmanEntry* link = table - 1;
    while (link) {
        HuffmanEntry* following = link->next;
        FreeAndClear(&link);
        link = following;
    }
}

int BuildHuffmanTable(const uint8_t* lengths, unsigned n, unsigned simpleCount,
                      const uint16_t* bases, const uint16_t* extras, unsigned width,
                      HuffmanEntry** table, unsigned* actualWidth, unsigned endLength)
{
    *table = nullptr;
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
    HuffmanEntry* levelTable[MaxCodeLength + 1] = {};
    unsigned levelWidth[MaxCodeLength + 1] = {};
    uint32_t levelStart[MaxCodeLength + 1] = {};
    int h = -1;
    unsigned w = 0;
    uint32_t code = 0;
    HuffmanEntry* chainTail = nullptr;
    HuffmanEntry* root = nullptr;

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
                HuffmanEntry* array = NewTableArray(1u << j, &chainTail);
                if (!array) {
                    FreeHuffmanTable(root);
                    return DecodeOutOfMemory;
                }
                ++h;
                levelTable[h] = array;
                levelWidth[h] = j;
                if (h == 0) {
                    root = array;
                    levelStart[0] = 0;
                } else {
                    levelStart[h] = code;
                    HuffmanEntry link;
                    link.op = static_cast<uint8_t>(16 + j);
                    link.bits = static_cast<uint8_t>(parentWidth);
                    link.next = array;
                    uint32_t index = (code & ((1u << w) - 1)) >> (w - parentWidth);
                    levelTable[h - 1][index] = link;
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

            uint32_t size = 1u << levelWidth[h];
            for (uint32_t i = code >> w; i < size; i += 1u << (k - w))
                levelTable[h][i] = entry;

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
