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

static_assert(sizeof(HuffmanEntry) == 4, "entries are stored as one word");
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
    // A table that starts after `coveredBits` bits, opened for a code of
    // `length` bits, is therefore at most length - coveredBits + endLength
    // wide, so that a lookup never asks for bits past that end.
    if (n > 256)
        endLength = lengths[256];

    // Codes of each length; [0] counts the unused symbols. Later the
    // unused patterns are added to the longest length.
    unsigned codesOfLength[MaxCodeLength + 1] = {};
    for (unsigned i = 0; i < n; ++i)
        ++codesOfLength[lengths[i] <= MaxCodeLength ? lengths[i] : 0];
    if (codesOfLength[0] == n)
        return 0;

    unsigned shortest = 1; // the shortest and longest code lengths in use
    while (codesOfLength[shortest] == 0)
        ++shortest;
    unsigned longest = MaxCodeLength;
    while (codesOfLength[longest] == 0)
        --longest;
    if (width < shortest)
        width = shortest;
    if (width > longest)
        width = longest;

    // Patterns of the current length no code has taken: negative means
    // over-subscribed; at the end, the patterns of the longest length left
    // over (an incomplete code).
    long unusedPatterns = 1L << shortest;
    for (unsigned longer = shortest; longer < longest; ++longer) {
        unusedPatterns -= codesOfLength[longer];
        if (unusedPatterns < 0)
            return TableOverSubscribed;
        unusedPatterns *= 2;
    }
    unusedPatterns -= codesOfLength[longest];
    if (unusedPatterns < 0)
        return TableOverSubscribed;
    unsigned symbolsOfLength[MaxCodeLength + 1]; // real symbols only, without the unused patterns
    std::memcpy(symbolsOfLength, codesOfLength, sizeof codesOfLength);
    // Unused patterns are laid out like codes and decode as invalid.
    codesOfLength[longest] += static_cast<unsigned>(unusedPatterns);

    // Symbols by length, then value (a counting sort): canonical order.
    uint16_t sortedSymbols[320];
    unsigned slotOfLength[MaxCodeLength + 2]; // where the next symbol of each length goes
    slotOfLength[1] = 0;
    for (unsigned longer = 1; longer <= MaxCodeLength; ++longer)
        slotOfLength[longer + 1] = slotOfLength[longer] + symbolsOfLength[longer];
    unsigned symbolCount = slotOfLength[MaxCodeLength + 1];
    for (unsigned i = 0; i < n; ++i)
        if (lengths[i] != 0 && lengths[i] <= MaxCodeLength)
            sortedSymbols[slotOfLength[lengths[i]]++] = static_cast<uint16_t>(i);
    unsigned nextSymbol = 0; // in sortedSymbols; past symbolCount come the unused patterns

    // The stack of open tables: the first level, then one sub-table below
    // another for ever longer codes.
    uint32_t levelTable[MaxCodeLength + 1] = {}; // each table's offset from the first level
    unsigned levelWidth[MaxCodeLength + 1] = {}; // each table's index bits
    uint32_t levelStart[MaxCodeLength + 1] = {}; // the code bits that lead to each sub-table
    int level = -1;                              // the current table; -1 before the first
    unsigned coveredBits = 0; // code bits consumed by the tables above the current one
    uint32_t code = 0;        // the current code, bit-reversed (first bit in bit 0)
    const uint32_t firstLevel = space->used; // where this code's tables begin in `space`

    for (unsigned length = shortest; length <= longest; ++length) {
        unsigned codesLeft = codesOfLength[length]; // of this length, unused patterns included
        while (codesLeft--) {
            // Open tables until this code's length fits.
            while (length > coveredBits + (level >= 0 ? levelWidth[level] : 0)) {
                unsigned parentWidth = level >= 0 ? levelWidth[level] : 0; // the link's own bits
                coveredBits += parentWidth;
                // The new table's width: at least this code's remaining
                // bits, at most `width` and no wider than the longest code needs.
                unsigned widestAllowed = longest - coveredBits < width ? longest - coveredBits : width;
                unsigned tableBits = length - coveredBits;
                uint32_t patternsLeft = 1u << tableBits; // of the table, after the codes placed so far
                if (patternsLeft > codesLeft + 1) {
                    // Too few codes of this length to fill a tableBits-bit table:
                    // widen it while the longer codes still fit.
                    patternsLeft -= codesLeft + 1;
                    unsigned longer = length; // the length whose codes would fill the next bit
                    if (tableBits < widestAllowed) {
                        while (++tableBits < widestAllowed) {
                            patternsLeft <<= 1;
                            if (patternsLeft <= codesOfLength[++longer])
                                break;
                            patternsLeft -= codesOfLength[longer];
                        }
                    }
                }
                if (coveredBits + tableBits > endOfBlockLength && coveredBits < endOfBlockLength)
                    tableBits = endOfBlockLength - coveredBits;
                if (endLength && tableBits > length - coveredBits + endLength)
                    tableBits = length - coveredBits + endLength;
                uint32_t offset = space->used - firstLevel; // the new table's
                if (offset + (1u << tableBits) > MaxCodeEntries || !MakeRoom(space, 1u << tableBits)) {
                    space->used = firstLevel;
                    return DecodeOutOfMemory;
                }
                space->used += 1u << tableBits;
                ++level;
                levelTable[level] = offset;
                levelWidth[level] = tableBits;
                if (level == 0) {
                    levelStart[0] = 0;
                } else {
                    levelStart[level] = code;
                    HuffmanEntry link;
                    link.op = static_cast<uint8_t>(16 + tableBits);
                    link.bits = static_cast<uint8_t>(parentWidth);
                    link.value = static_cast<uint16_t>(offset);
                    uint32_t index = (code & ((1u << coveredBits) - 1)) >> (coveredBits - parentWidth);
                    space->entries[firstLevel + levelTable[level - 1] + index] = link;
                }
            }

            HuffmanEntry entry;
            entry.bits = static_cast<uint8_t>(length - coveredBits);
            entry.value = 0;
            if (nextSymbol >= symbolCount) {
                entry.op = OpInvalid;
            } else {
                unsigned symbol = sortedSymbols[nextSymbol++];
                if (symbol < simpleCount) {
                    entry.op = symbol < 256 ? OpLiteral : OpEndOfBlock;
                    entry.value = static_cast<uint16_t>(symbol);
                } else {
                    entry.op = static_cast<uint8_t>(extras[symbol - simpleCount]);
                    entry.value = bases[symbol - simpleCount];
                }
            }

            // The entry repeats wherever the table's index bits above the
            // code's own vary. Stored as one word: a byte-wise struct copy
            // costs this loop (the hottest of a block's set-up) three stores.
            uint32_t entryWord;
            std::memcpy(&entryWord, &entry, sizeof entryWord);
            HuffmanEntry* slot = space->entries + firstLevel + levelTable[level] + (code >> coveredBits);
            HuffmanEntry* const levelEnd = slot - (code >> coveredBits) + (1u << levelWidth[level]);
            const uint32_t stride = 1u << (length - coveredBits);
            do {
                std::memcpy(slot, &entryWord, sizeof entryWord);
                slot += stride;
            } while (slot < levelEnd);

            // Next code in bit-reversed counting.
            uint32_t bit = 1u << (length - 1); // the last bit of the code, counted from
            while (code & bit) {
                code ^= bit;
                bit >>= 1;
            }
            code ^= bit;

            while (level > 0 && (code & ((1u << coveredBits) - 1)) != levelStart[level]) {
                --level;
                coveredBits -= levelWidth[level];
            }
        }
    }

    *table = firstLevel;
    *actualWidth = levelWidth[0];
    return (unusedPatterns != 0 && longest != 1) ? TableIncomplete : 0;
}

} // namespace zevrin
