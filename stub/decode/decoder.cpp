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

const uint32_t WindowMask = WindowSize - 1;

inline uint32_t Mask(unsigned n) { return (1u << n) - 1; }

// Frees a table when the block that built it ends, on every way out.
struct TableHolder {
    HuffmanEntry* table = nullptr;
    ~TableHolder() { FreeHuffmanTable(table); }
};

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

void StreamDecoder::FlushWindow()
{
    sink->Write(window, static_cast<uint16_t>(windowPos));
}

// The hot loop keeps the bit reader and window position in locals and
// writes them back only around calls that need the object (refill, flush).
int StreamDecoder::DecodeCodes(const HuffmanEntry* literals, const HuffmanEntry* distances,
                               unsigned literalWidth, unsigned distanceWidth)
{
    uint32_t bits = bitBuffer;
    unsigned count = bitCount;
    const uint8_t* in = cursor;
    uint32_t left = available;
    uint8_t* const win = window;
    uint32_t pos = windowPos;
    int result = DecodeOk;

#define SAVE_STATE() (bitBuffer = bits, bitCount = count, cursor = in, available = left, windowPos = pos)
#define LOAD_STATE() (bits = bitBuffer, count = bitCount, in = cursor, left = available, pos = windowPos)
#define NEED(n)                                                                                    \
    while (count < (n)) {                                                                          \
        if (left) {                                                                                \
            bits |= static_cast<uint32_t>(*in++) << count;                                         \
            --left;                                                                                \
            count += 8;                                                                            \
        } else {                                                                                   \
            SAVE_STATE();                                                                          \
            NeedBits(n);                                                                           \
            LOAD_STATE();                                                                          \
            break;                                                                                 \
        }                                                                                          \
    }
#define DROP(n)                                                                                    \
    do {                                                                                           \
        unsigned dropped_ = (n);                                                                   \
        if (dropped_ > count) {                                                                    \
            ranDry = true;                                                                         \
            result = DecodeBadData;                                                                \
            goto done;                                                                             \
        }                                                                                          \
        bits >>= dropped_;                                                                         \
        count -= dropped_;                                                                         \
    } while (0)
#define LOOKUP(table, width, entry)                                                                \
    do {                                                                                           \
        if (!(table)) {                                                                            \
            result = DecodeBadData;                                                                \
            goto done;                                                                             \
        }                                                                                          \
        NEED(width);                                                                               \
        entry = &(table)[bits & Mask(width)];                                                      \
        while (entry->op > OpLiteral) {                                                            \
            if (entry->op == OpInvalid) {                                                          \
                result = DecodeBadData;                                                            \
                goto done;                                                                         \
            }                                                                                      \
            DROP(entry->bits);                                                                     \
            unsigned sub_ = entry->op - 16u;                                                       \
            NEED(sub_);                                                                            \
            entry = &entry->next[bits & Mask(sub_)];                                               \
        }                                                                                          \
        DROP(entry->bits);                                                                         \
    } while (0)

    for (;;) {
        const HuffmanEntry* entry;
        LOOKUP(literals, literalWidth, entry);
        if (entry->op == OpLiteral) {
            win[pos++] = static_cast<uint8_t>(entry->value);
            if (pos == WindowSize) {
                SAVE_STATE();
                FlushWindow();
                windowPos = 0;
                LOAD_STATE();
            }
            continue;
        }
        if (entry->op == OpEndOfBlock)
            break;

        unsigned extra = entry->op;
        NEED(extra);
        uint32_t length = entry->value + (bits & Mask(extra));
        DROP(extra);

        LOOKUP(distances, distanceWidth, entry);
        extra = entry->op;
        NEED(extra);
        uint32_t from = pos - entry->value - (bits & Mask(extra));
        DROP(extra);

        from &= WindowMask;
        if (pos + length < WindowSize && from + length <= WindowSize) {
            // The common case: neither end wraps and no flush falls inside.
            // Copied in chunks when source and destination are at least a
            // chunk apart, never past the match: the window beyond it is
            // still history.
            uint8_t* to = win + pos;
            const uint8_t* src = win + from;
            uint32_t gap = from > pos ? from - pos : pos - from;
            pos += length;
            if (gap >= 8 && length >= 8) {
                // Whole chunks, then the last eight bytes again (rewriting
                // a few with the same values).
                uint8_t* last = to + length - 8;
                const uint8_t* lastSource = src + length - 8;
                do {
                    uint64_t chunk;
                    std::memcpy(&chunk, src, 8);
                    std::memcpy(to, &chunk, 8);
                    src += 8;
                    to += 8;
                    length -= 8;
                } while (length >= 8);
                uint64_t chunk;
                std::memcpy(&chunk, lastSource, 8);
                std::memcpy(last, &chunk, 8);
            } else if (gap >= 4 && length >= 4 && length <= 8) {
                // The tail is read after the head is written: with a gap
                // under the length it repeats bytes the head just wrote.
                uint32_t head, tail;
                std::memcpy(&head, src, 4);
                std::memcpy(to, &head, 4);
                std::memcpy(&tail, src + length - 4, 4);
                std::memcpy(to + length - 4, &tail, 4);
            } else {
                for (; length; --length)
                    *to++ = *src++;
            }
            length = 0;
        }
        while (length) {
            from &= WindowMask;
            uint32_t piece = WindowSize - (from > pos ? from : pos);
            if (piece > length)
                piece = length;
            length -= piece;
            if (pos - from >= piece) {
                // No overlap, or the source lies above the destination.
                std::memmove(win + pos, win + from, piece);
            } else {
                // Overlapping forward copy: repeats the last bytes written.
                uint8_t* to = win + pos;
                const uint8_t* src = win + from;
                for (uint32_t i = 0; i < piece; ++i)
                    to[i] = src[i];
            }
            pos += piece;
            from += piece;
            if (pos == WindowSize) {
                SAVE_STATE();
                FlushWindow();
                windowPos = 0;
                LOAD_STATE();
            }
        }
        if (ranDry) {
            result = DecodeBadData;
            goto done;
        }
    }

done:
    SAVE_STATE();
    if (ranDry)
        result = DecodeBadData;
    return result;

#undef SAVE_STATE
#undef LOAD_STATE
#undef NEED
#undef DROP
#undef LOOKUP
}

int StreamDecoder::DecodeFixedBlock()
{
    if (!fixedLiteralTable) {
        uint8_t lengths[288];
        std::memset(lengths, 8, 144);
        std::memset(lengths + 144, 9, 112);
        std::memset(lengths + 256, 7, 24);
        std::memset(lengths + 280, 8, 8);
        int status = BuildHuffmanTable(lengths, 288, 257, lengthBase, lengthExtra, 7, &fixedLiteralTable,
                                       &fixedLiteralWidth);
        if (status != 0) {
            FreeHuffmanTable(fixedLiteralTable);
            fixedLiteralTable = nullptr;
            return status;
        }
        std::memset(lengths, 5, 30);
        status = BuildHuffmanTable(lengths, 30, 0, distanceBase, distanceExtra, 5, &fixedDistanceTable,
                                   &fixedDistanceWidth);
        if (status > TableIncomplete) {
            FreeHuffmanTable(fixedLiteralTable);
            fixedLiteralTable = nullptr;
            return status;
        }
    }
    return DecodeCodes(fixedLiteralTable, fixedDistanceTable, fixedLiteralWidth, fixedDistanceWidth) ? 1 : 0;
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

    TableHolder lengthCode;
    unsigned lengthWidth;
    int status = BuildHuffmanTable(lengths, 19, 19, nullptr, nullptr, 7, &lengthCode.table, &lengthWidth);
    if (status != 0)
        return status;
    if (!lengthCode.table)
        return DecodeBadData; // no code to read the lengths with

    unsigned total = literalCount + distanceCount;
    unsigned previous = 0;
    for (unsigned i = 0; i < total;) {
        NeedBits(lengthWidth);
        const HuffmanEntry& entry = lengthCode.table[bitBuffer & Mask(lengthWidth)];
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
    FreeHuffmanTable(lengthCode.table);
    lengthCode.table = nullptr;

    TableHolder literals, distances;
    unsigned literalWidth, distanceWidth;
    status = BuildHuffmanTable(lengths, literalCount, 257, lengthBase, lengthExtra, 10, &literals.table, &literalWidth);
    if (status != 0)
        return status;
    status = BuildHuffmanTable(lengths + literalCount, distanceCount, 0, distanceBase, distanceExtra, 8,
                               &distances.table, &distanceWidth, lengths[256]);
    if (status != 0)
        return status;
    return DecodeCodes(literals.table, distances.table, literalWidth, distanceWidth) ? 1 : 0;
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
        if (windowPos == WindowSize) {
            FlushWindow();
            windowPos = 0;
        }
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
        if (piece > WindowSize - windowPos)
            piece = WindowSize - windowPos;
        std::memcpy(window + windowPos, cursor, piece);
        cursor += piece;
        available -= piece;
        windowPos += piece;
        length -= piece;
        if (windowPos == WindowSize) {
            FlushWindow();
            windowPos = 0;
        }
    }
    return ranDry ? DecodeBadData : DecodeOk;
}

int StreamDecoder::Decode()
{
    fixedLiteralTable = fixedDistanceTable = nullptr;
    fixedLiteralWidth = fixedDistanceWidth = 0;
    windowPos = 0;
    bitBuffer = 0;
    bitCount = 0;
    ranDry = false;
    FillTables();
    if (!AllocZeroedWithRetry(WindowSize + 8, &window))
        return DecodeOutOfMemory;

    // Releases the window and fixed tables on every way out.
    struct Cleanup {
        StreamDecoder* d;
        ~Cleanup()
        {
            FreeHuffmanTable(d->fixedLiteralTable);
            FreeHuffmanTable(d->fixedDistanceTable);
            d->fixedLiteralTable = d->fixedDistanceTable = nullptr;
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

} // namespace zevrin
