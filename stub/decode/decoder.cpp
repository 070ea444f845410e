// The stream decoder: blocks, Huffman-coded data and the output window.
//
// Decode() results:
//   0  the stream decoded; the sink has had every byte.
//   1  bad data: an invalid code, HLIT above 286 or HDIST above 30, a
//      code-length run past its count, an incomplete code, or a stream
//      that ends (its source runs dry) before its final block does.
//   2  a block kind other than 5, 6, 7, or an over-subscribed code.
//   3  out of memory.
// After an error the sink has had only the full windows before it.
#include <cstring>

#include "decoder.h"

namespace zevrin {

namespace {

// The window is a ring of twice the history: the 32 KiB behind the newest
// byte are history, the rest is free, so match copies may run a few bytes
// past their end (a word at a time). The sink still gets 32 KiB pieces,
// one per half.
const uint32_t WindowMask = WindowSize - 1;
const uint32_t RingSize = 2 * WindowSize;
const uint32_t RingMask = RingSize - 1;
const uint32_t WindowSlack = 16; // behind the ring, for copies that run over
const uint32_t MaxMatch = 258;

// The fast path's bit buffer and copy unit: a machine word.
typedef uintptr_t Word;
const unsigned WordBytes = sizeof(Word);
const unsigned WordBits = 8 * WordBytes;
// The fast path runs while this many input bytes are at hand: one
// symbol with its match takes at most 6 bytes, and a refill reads a word.
const uint32_t FastInputMargin = 16;
// What the fast loop returns besides DecodeBadData.
const int FastStopped = -1;    // the careful loop takes over
const int FastEndOfBlock = -2;

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "bits are read from words in little-endian order");

inline uint32_t Mask(unsigned n) { return (1u << n) - 1; }

inline Word LoadWord(const uint8_t* p)
{
    Word w;
    std::memcpy(&w, p, WordBytes);
    return w;
}

inline void StoreWord(uint8_t* p, Word w) { std::memcpy(p, &w, WordBytes); }

// Copies a match of `length` bytes from `distance` back, writing whole
// words: up to WordBytes - 1 bytes past the end.
inline void CopyMatch(uint8_t* to, uint32_t distance, uint32_t length)
{
    const uint8_t* from = to - distance;
    uint8_t* const end = to + length;
    if (distance == 1) {
        Word pattern = *from * (~Word(0) / 255);
        do {
            StoreWord(to, pattern);
            to += WordBytes;
        } while (to < end);
        return;
    }
    if (distance < WordBytes) {
        // One period byte by byte, then words from a whole number of
        // periods back, at least a word away.
        uint32_t period = distance;
        while (period < WordBytes)
            period += distance;
        uint8_t* periodEnd = to + period;
        do
            *to++ = *from++;
        while (to < periodEnd && to < end);
        from = to - period;
    }
    while (to < end) {
        StoreWord(to, LoadWord(from));
        to += WordBytes;
        from += WordBytes;
    }
}

// The window of the last decode, kept for the next one: a 64 KiB block
// taken from the heap and given back for every file costs more than
// decoding a small file (heaps return such blocks to the system).
uint8_t* SpareWindow = nullptr;

// Gives back the tables a block built when it ends, on every way out.
struct TableMark {
    TableSpace* space;
    uint32_t used;
    explicit TableMark(TableSpace* s) : space(s), used(s->used) {}
    ~TableMark() { space->used = used; }
};

inline const HuffmanEntry* TableAt(const TableSpace& space, uint32_t table)
{
    return table == NoTable ? nullptr : space.entries + table;
}

} // namespace

void StreamDecoder::FillTables()
{
    static const uint8_t order[19] = {18, 17, 16, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    for (int i = 0; i < 19; ++i)
        codeLengthOrder[i] = order[i];

    // Length symbols 257..284 come in groups of four per extra bit count
    // (after eight with none); 285 is 258 with no extra bits.
    unsigned base = 3;
    for (unsigned i = 0; i < 28; ++i) {
        unsigned extra = i < 8 ? 0 : (i - 4) / 4;
        lengthBase[i] = static_cast<uint16_t>(base);
        lengthExtra[i] = static_cast<uint16_t>(extra);
        base += 1u << extra;
    }
    lengthBase[28] = 258;
    lengthExtra[28] = 0;
    lengthBase[29] = lengthBase[30] = lengthBase[31] = 0;
    lengthExtra[29] = lengthExtra[30] = OpInvalid; // symbols 286, 287
    lengthExtra[31] = 0;

    base = 1;
    for (unsigned i = 0; i < 30; ++i) {
        unsigned extra = i < 4 ? 0 : (i - 2) / 2;
        distanceBase[i] = static_cast<uint16_t>(base);
        distanceExtra[i] = static_cast<uint16_t>(extra);
        base += 1u << extra;
    }
    distanceBase[30] = distanceBase[31] = 0;
}

inline void StreamDecoder::NeedBits(unsigned n)
{
    while (bitCount < n) {
        uint8_t byte;
        if (available) {
            byte = *cursor++;
            --available;
        } else if (!NextByte(&byte)) {
            return; // the missing bits read as zero
        }
        bitBuffer |= static_cast<uint32_t>(byte) << bitCount;
        bitCount += 8;
    }
}

inline void StreamDecoder::DropBits(unsigned n)
{
    if (n > bitCount) {
        // Bits the source never had were used: the stream is cut short.
        ranDry = true;
        bitBuffer = 0;
        bitCount = 0;
        return;
    }
    bitBuffer >>= n;
    bitCount -= n;
}

// The bytes of the current half so far.
void StreamDecoder::FlushWindow()
{
    sink->Write(window + (windowPos & ~WindowMask), static_cast<uint16_t>(windowPos & WindowMask));
}

// After bytes were added up to a half's end: that half goes to the sink.
inline uint32_t StreamDecoder::FlushHalf(uint32_t pos)
{
    sink->Write(window + pos - WindowSize, static_cast<uint16_t>(WindowSize));
    if (pos == RingSize)
        wrapped = true;
    return pos & RingMask;
}

namespace {

// The fast loop's refill: whole bytes up to at least WordBits - 8 bits
// (`have` < WordBits before). The word may hold bits of bytes not yet
// counted above `have`; they are the same bytes the next refill puts there.
__attribute__((always_inline)) inline void Refill(Word* word, unsigned* have, const uint8_t** in)
{
    *word |= LoadWord(*in) << *have;
    *in += (WordBits - 1 - *have) >> 3;
    *have |= WordBits - 8;
}

// The fast loop reads a table entry as one 32-bit word: op in the low
// byte, then bits, then value.
static_assert(sizeof(HuffmanEntry) == 4, "an entry is read as one word");
inline uint32_t LoadEntry(const HuffmanEntry* entry)
{
    uint32_t word;
    std::memcpy(&word, entry, 4);
    return word;
}
inline unsigned EntryOp(uint32_t entry) { return entry & 0xFF; }
inline unsigned EntryBits(uint32_t entry) { return (entry >> 8) & 0xFF; }
inline uint32_t EntryValue(uint32_t entry) { return entry >> 16; }

// Follows an entry's sub-table links to the entry of the code's symbol
// (or an invalid one), whose bits then count the links' bits too. Out of
// line: long codes are rare, and the fast loop keeps its registers.
__attribute__((noinline)) uint32_t FollowLinks(const HuffmanEntry* table, uint32_t entry, uint32_t bits)
{
    unsigned used = 0;
    while (EntryOp(entry) > OpLiteral && EntryOp(entry) != OpInvalid) {
        used += EntryBits(entry);
        entry = LoadEntry(&table[EntryValue(entry) + ((bits >> used) & Mask(EntryOp(entry) - 16u))]);
    }
    return entry + (used << 8);
}

} // namespace

// The fast loop, for the stretches where neither the input buffer nor the
// current half of the window can run out within one symbol: while at
// least FastInputMargin bytes are in the input buffer and a whole match
// fits before the half's end. It keeps the bit buffer in a machine word
// refilled without a byte loop, checks the ends once per symbol and copies
// matches a word at a time. It stops where those conditions end, at the
// block's end or at an invalid code, gives back the whole bytes it read
// ahead, and leaves the rest to the careful loop.
//
// A code is at most 15 bits, a length's extra bits 5, a distance's 13. A
// refill leaves at least WordBits - 8 bits: on 64-bit targets one refill
// covers a whole match, on 32-bit ones one covers a code and the loop
// refills again before any extra bits or code that the bits at hand may
// not hold.
int StreamDecoder::DecodeFast(const HuffmanEntry* literals, const HuffmanEntry* distances, unsigned literalWidth,
                              unsigned distanceWidth)
{
    const unsigned CodeBits = 15;
    const unsigned SymbolBits = WordBits == 64 ? 48 : CodeBits; // a whole match, or one code
    const uint32_t literalMask = Mask(literalWidth);
    const uint32_t distanceMask = Mask(distanceWidth);
    const uint8_t* in = cursor;
    const uint8_t* const inEnd = cursor + available - FastInputMargin;
    uint8_t* const win = window;
    uint8_t* out = win + windowPos;
    uint8_t* const outEnd = win + ((windowPos | WindowMask) + 1 - MaxMatch);
    Word word = bitBuffer;
    unsigned have = bitCount;
    int result = FastStopped;

    do {
        if (have < SymbolBits)
            Refill(&word, &have, &in);
        uint32_t entry = LoadEntry(&literals[word & literalMask]);
        if (EntryOp(entry) > OpLiteral) {
            entry = FollowLinks(literals, entry, static_cast<uint32_t>(word));
            if (EntryOp(entry) == OpInvalid) {
                result = DecodeBadData;
                break;
            }
        }
        word >>= EntryBits(entry);
        have -= EntryBits(entry);
        if (EntryOp(entry) == OpLiteral) {
            *out++ = static_cast<uint8_t>(EntryValue(entry));
            continue;
        }
        if (EntryOp(entry) == OpEndOfBlock) {
            result = FastEndOfBlock;
            break;
        }
        if (WordBits < 64 && have < EntryOp(entry))
            Refill(&word, &have, &in);
        uint32_t length = EntryValue(entry) + (static_cast<uint32_t>(word) & Mask(EntryOp(entry)));
        word >>= EntryOp(entry);
        have -= EntryOp(entry);

        if (WordBits < 64 && have < CodeBits)
            Refill(&word, &have, &in);
        entry = LoadEntry(&distances[word & distanceMask]);
        if (EntryOp(entry) > OpLiteral) {
            entry = FollowLinks(distances, entry, static_cast<uint32_t>(word));
            if (EntryOp(entry) == OpInvalid) {
                result = DecodeBadData;
                break;
            }
        }
        word >>= EntryBits(entry);
        have -= EntryBits(entry);
        if (WordBits < 64 && have < EntryOp(entry))
            Refill(&word, &have, &in);
        uint32_t distance = EntryValue(entry) + (static_cast<uint32_t>(word) & Mask(EntryOp(entry)));
        word >>= EntryOp(entry);
        have -= EntryOp(entry);

        if (distance > static_cast<uint32_t>(out - win)) {
            uint32_t piece = CopyFromOlderHalf(out, distance, length);
            out += piece;
            length -= piece;
        }
        if (length) {
            CopyMatch(out, distance, length);
            out += length;
        }
    } while (in <= inEnd && out <= outEnd);

    // Whole bytes not used go back to the input buffer (they are still in
    // it, unless they came from before its last fill).
    unsigned back = have >> 3;
    if (back > static_cast<uint32_t>(in - buffer))
        back = static_cast<uint32_t>(in - buffer);
    in -= back;
    have -= back << 3;
    available -= static_cast<uint32_t>(in - cursor);
    cursor = in;
    bitBuffer = static_cast<uint32_t>(word & ((Word(1) << have) - 1));
    bitCount = have;
    windowPos = static_cast<uint32_t>(out - win);
    return result;
}

// The fast loop's copy of the part of a match that lies in the older half
// (zeros before the first byte): from there up to the ring's end, where
// the older half ends; the rest follows from the ring's start. Returns
// the bytes copied. Out of line: rare, and it would take the fast loop's
// registers.
__attribute__((noinline)) uint32_t StreamDecoder::CopyFromOlderHalf(uint8_t* out, uint32_t distance, uint32_t length)
{
    uint32_t from = static_cast<uint32_t>(out - window) - distance + RingSize;
    uint32_t piece = RingSize - from < length ? RingSize - from : length;
    if (wrapped)
        std::memcpy(out, window + from, piece);
    else
        std::memset(out, 0, piece);
    return piece;
}

// One symbol's entry, read with no bit more than its code has: null for
// an invalid code, or for a stream that ran dry inside it.
const HuffmanEntry* StreamDecoder::CarefulLookup(const HuffmanEntry* table, unsigned width)
{
    if (!table)
        return nullptr; // a code with no symbols: nothing is valid
    NeedBits(width);
    const HuffmanEntry* entry = &table[bitBuffer & Mask(width)];
    while (entry->op > OpLiteral) {
        if (entry->op == OpInvalid)
            return nullptr;
        DropBits(entry->bits);
        unsigned subWidth = entry->op - 16u;
        NeedBits(subWidth);
        entry = &table[entry->value + (bitBuffer & Mask(subWidth))];
    }
    DropBits(entry->bits);
    return ranDry ? nullptr : entry;
}

// Extra bits of a length or distance, or 0 with ranDry set.
inline uint32_t StreamDecoder::ExtraBits(unsigned n)
{
    NeedBits(n);
    uint32_t value = bitBuffer & Mask(n);
    DropBits(n);
    return value;
}

// The careful loop: one symbol at a time, every bit through NeedBits, so
// that it takes no byte the stream does not need and can meet the end of
// the input buffer (refills, volume changes) and of the window's half
// (flushes) anywhere. It hands over to the fast loop wherever that can run.
int StreamDecoder::DecodeCodes(const HuffmanEntry* literals, const HuffmanEntry* distances,
                               unsigned literalWidth, unsigned distanceWidth)
{
    const bool fastPossible = literals && distances;
    for (;;) {
        if (fastPossible && available >= FastInputMargin && (windowPos & WindowMask) <= WindowSize - MaxMatch) {
            int fast = DecodeFast(literals, distances, literalWidth, distanceWidth);
            if (fast == FastEndOfBlock)
                return DecodeOk;
            if (fast != FastStopped)
                return fast;
            if ((windowPos & WindowMask) == 0)
                windowPos = FlushHalf(windowPos);
            continue;
        }

        const HuffmanEntry* entry = CarefulLookup(literals, literalWidth);
        if (!entry)
            return DecodeBadData;
        if (entry->op == OpLiteral) {
            window[windowPos++] = static_cast<uint8_t>(entry->value);
            if ((windowPos & WindowMask) == 0)
                windowPos = FlushHalf(windowPos);
            continue;
        }
        if (entry->op == OpEndOfBlock)
            return DecodeOk;

        uint32_t length = entry->value;
        length += ExtraBits(entry->op);
        entry = CarefulLookup(distances, distanceWidth);
        if (!entry)
            return DecodeBadData;
        uint32_t from = windowPos - entry->value;
        from -= ExtraBits(entry->op);
        if (ranDry)
            return DecodeBadData;

        // In pieces that end at the ring's end (source) and at a half's
        // end (destination, which is flushed there).
        while (length) {
            from &= RingMask;
            uint32_t piece = (windowPos | WindowMask) + 1 - windowPos;
            if (piece > RingSize - from)
                piece = RingSize - from;
            if (piece > length)
                piece = length;
            length -= piece;
            uint8_t* to = window + windowPos;
            if (from > windowPos && !wrapped) {
                // Before the first byte: never written, reads as zeros.
                std::memset(to, 0, piece);
            } else if (windowPos - from >= piece) {
                // No overlap: the source is far enough behind, or in the
                // older half.
                std::memmove(to, window + from, piece);
            } else {
                // Overlapping forward copy: repeats the last bytes written.
                const uint8_t* source = window + from;
                for (uint32_t i = 0; i < piece; ++i)
                    to[i] = source[i];
            }
            windowPos += piece;
            from += piece;
            if ((windowPos & WindowMask) == 0)
                windowPos = FlushHalf(windowPos);
        }
    }
}

int StreamDecoder::DecodeFixedBlock()
{
    if (fixedLiteralTable == NoTable) {
        // Built once, below every dynamic block's tables, kept to the end.
        TableMark mark(&tables);
        uint8_t lengths[288];
        std::memset(lengths, 8, 144);
        std::memset(lengths + 144, 9, 112);
        std::memset(lengths + 256, 7, 24);
        std::memset(lengths + 280, 8, 8);
        uint32_t literals, distances;
        int status = BuildHuffmanTable(lengths, 288, 257, lengthBase, lengthExtra, 7, &tables, &literals,
                                       &fixedLiteralWidth);
        if (status != 0)
            return status;
        std::memset(lengths, 5, 30);
        status = BuildHuffmanTable(lengths, 30, 0, distanceBase, distanceExtra, 5, &tables, &distances,
                                   &fixedDistanceWidth);
        if (status > TableIncomplete)
            return status;
        fixedLiteralTable = literals;
        fixedDistanceTable = distances;
        mark.used = tables.used;
    }
    return DecodeCodes(TableAt(tables, fixedLiteralTable), TableAt(tables, fixedDistanceTable), fixedLiteralWidth,
                       fixedDistanceWidth)
               ? 1
               : 0;
}

int StreamDecoder::DecodeDynamicBlock()
{
    NeedBits(5);
    unsigned literalCount = 257 + (bitBuffer & 31);
    DropBits(5);
    NeedBits(5);
    unsigned distanceCount = 1 + (bitBuffer & 31);
    DropBits(5);
    NeedBits(4);
    unsigned codeLengthCount = 4 + (bitBuffer & 15);
    DropBits(4);
    if (literalCount > 286 || distanceCount > 30)
        return DecodeBadData;

    uint8_t lengths[286 + 30];
    for (unsigned i = 0; i < 19; ++i) {
        unsigned length = 0;
        if (i < codeLengthCount) {
            NeedBits(3);
            length = bitBuffer & 7;
            DropBits(3);
        }
        lengths[codeLengthOrder[i]] = static_cast<uint8_t>(length);
    }

    TableMark mark(&tables);
    uint32_t lengthTable;
    unsigned lengthWidth;
    int status = BuildHuffmanTable(lengths, 19, 19, nullptr, nullptr, 7, &tables, &lengthTable, &lengthWidth);
    if (status != 0)
        return status;
    if (lengthTable == NoTable)
        return DecodeBadData; // no code to read the lengths with
    const HuffmanEntry* lengthCode = tables.entries + lengthTable;

    unsigned total = literalCount + distanceCount;
    unsigned previous = 0;
    for (unsigned i = 0; i < total;) {
        NeedBits(lengthWidth);
        const HuffmanEntry& entry = lengthCode[bitBuffer & Mask(lengthWidth)];
        // A single one-bit code leaves its other pattern unassigned.
        if (entry.op == OpInvalid)
            return DecodeBadData;
        DropBits(entry.bits);
        unsigned symbol = entry.value;
        if (symbol < 16) {
            lengths[i++] = static_cast<uint8_t>(symbol);
            previous = symbol;
            continue;
        }
        unsigned repeat, value;
        if (symbol == 16) {
            NeedBits(2);
            repeat = 3 + (bitBuffer & 3);
            DropBits(2);
            value = previous;
        } else if (symbol == 17) {
            NeedBits(3);
            repeat = 3 + (bitBuffer & 7);
            DropBits(3);
            value = previous = 0;
        } else {
            NeedBits(7);
            repeat = 11 + (bitBuffer & 127);
            DropBits(7);
            value = previous = 0;
        }
        if (i + repeat > total)
            return DecodeBadData;
        while (repeat--)
            lengths[i++] = static_cast<uint8_t>(value);
    }
    if (ranDry)
        return DecodeBadData;
    tables.used = mark.used; // the code-length table is done with

    uint32_t literals, distances;
    unsigned literalWidth, distanceWidth;
    status = BuildHuffmanTable(lengths, literalCount, 257, lengthBase, lengthExtra, 10, &tables, &literals,
                               &literalWidth);
    if (status != 0)
        return status;
    status = BuildHuffmanTable(lengths + literalCount, distanceCount, 0, distanceBase, distanceExtra, 8, &tables,
                               &distances, &distanceWidth, lengths[256]);
    if (status != 0)
        return status;
    return DecodeCodes(TableAt(tables, literals), TableAt(tables, distances), literalWidth, distanceWidth) ? 1 : 0;
}

int StreamDecoder::DecodeStoredBlock()
{
    DropBits(bitCount & 7);
    NeedBits(16);
    uint32_t length = bitBuffer & 0xFFFF;
    DropBits(16);
    // Whole bytes still in the bit buffer come first, then straight copies
    // from the input buffer: the same bytes, taken in the same order.
    while (length && bitCount >= 8) {
        window[windowPos++] = static_cast<uint8_t>(bitBuffer);
        DropBits(8);
        --length;
        if ((windowPos & WindowMask) == 0)
            windowPos = FlushHalf(windowPos);
    }
    while (length) {
        if (!available) {
            uint8_t byte;
            if (!NextByte(&byte)) {
                ranDry = true;
                return DecodeBadData;
            }
            --cursor;
            ++available;
        }
        uint32_t piece = length;
        if (piece > available)
            piece = available;
        if (piece > (windowPos | WindowMask) + 1 - windowPos)
            piece = (windowPos | WindowMask) + 1 - windowPos;
        std::memcpy(window + windowPos, cursor, piece);
        cursor += piece;
        available -= piece;
        windowPos += piece;
        length -= piece;
        if ((windowPos & WindowMask) == 0)
            windowPos = FlushHalf(windowPos);
    }
    return ranDry ? DecodeBadData : DecodeOk;
}

int StreamDecoder::Decode()
{
    fixedLiteralTable = fixedDistanceTable = NoTable;
    fixedLiteralWidth = fixedDistanceWidth = 0;
    windowPos = 0;
    bitBuffer = 0;
    bitCount = 0;
    ranDry = false;
    FillTables();
    tables.used = 0;
    wrapped = false;
    // Not zeroed: until the ring wraps, what lies ahead of the newest byte
    // is read as zeros without being read.
    if (SpareWindow) {
        window = SpareWindow;
        SpareWindow = nullptr;
    } else if (!AllocWithRetry(RingSize + WindowSlack, &window)) {
        return DecodeOutOfMemory;
    }
    if (!ReserveTableSpace(&tables)) {
        FreeAndClear(&window);
        return DecodeOutOfMemory;
    }

    // Releases the window and fixed tables on every way out.
    struct Cleanup {
        StreamDecoder* d;
        ~Cleanup()
        {
            ReleaseTableSpace(&d->tables);
            d->fixedLiteralTable = d->fixedDistanceTable = NoTable;
            if (!SpareWindow) {
                SpareWindow = d->window;
                d->window = nullptr;
            }
            FreeAndClear(&d->window);
        }
    } cleanup{this};

    int result;
    unsigned head;
    do {
        NeedBits(4);
        head = bitBuffer & 15;
        DropBits(4);
        if (ranDry)
            return DecodeBadData;
        switch (head & 7) {
        case 5: result = DecodeFixedBlock(); break;
        case 6: result = DecodeDynamicBlock(); break;
        case 7: result = DecodeStoredBlock(); break;
        default: result = DecodeBadBlock; break;
        }
        if (result == DecodeOk && ranDry)
            result = DecodeBadData;
    } while (result == DecodeOk && !(head & 8));

    if (result == DecodeOk)
        FlushWindow();
    return result;
}

void ReleaseSpareWindow()
{
    FreeAndClear(&SpareWindow);
}

} // namespace zevrin
