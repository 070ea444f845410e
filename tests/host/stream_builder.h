// Hand-made streams for decoder tests: a bit writer and the few block
// shapes the tests need, each field written as the format lays it out.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class StreamBuilder {
public:
    // `bits` bits of value, least significant first.
    StreamBuilder& Put(uint32_t value, unsigned bits)
    {
        for (unsigned i = 0; i < bits; ++i)
            PutBit((value >> i) & 1);
        return *this;
    }
    // A Huffman code: its first bit is its most significant.
    StreamBuilder& PutCode(uint32_t code, unsigned length)
    {
        for (unsigned i = length; i > 0; --i)
            PutBit((code >> (i - 1)) & 1);
        return *this;
    }
    StreamBuilder& Align()
    {
        while (used_ != 0)
            PutBit(0);
        return *this;
    }
    StreamBuilder& Head(unsigned kind, bool final) { return Put(kind | (final ? 8u : 0u), 4); }

    // Kind 7: align, LEN, the bytes.
    StreamBuilder& Stored(const std::string& data, bool final)
    {
        Head(7, final).Align().Put(static_cast<uint32_t>(data.size()), 16);
        for (unsigned char c : data)
            Put(c, 8);
        return *this;
    }

    // Fixed-code symbols (RFC 1951 3.2.6).
    StreamBuilder& FixedSymbol(unsigned symbol)
    {
        if (symbol < 144)
            return PutCode(0x30 + symbol, 8);
        if (symbol < 256)
            return PutCode(0x190 + symbol - 144, 9);
        if (symbol < 280)
            return PutCode(symbol - 256, 7);
        return PutCode(0xC0 + symbol - 280, 8);
    }
    StreamBuilder& FixedLiterals(const std::string& text)
    {
        for (unsigned char c : text)
            FixedSymbol(c);
        return *this;
    }
    // A match in a fixed-code block: length 3..258, distance 1..32768.
    StreamBuilder& FixedMatch(unsigned length, unsigned distance)
    {
        unsigned symbol = 0, extra = 0, base = 0;
        LengthSymbol(length, &symbol, &extra, &base);
        FixedSymbol(symbol).Put(length - base, extra);
        DistanceSymbol(distance, &symbol, &extra, &base);
        return PutCode(symbol, 5).Put(distance - base, extra);
    }
    StreamBuilder& FixedEnd() { return FixedSymbol(256); }

    static void LengthSymbol(unsigned length, unsigned* symbol, unsigned* extra, unsigned* base)
    {
        if (length == 258) {
            *symbol = 285, *extra = 0, *base = 258;
            return;
        }
        unsigned b = 3;
        for (unsigned i = 0; i < 28; ++i) {
            unsigned e = i < 8 ? 0 : (i - 4) / 4;
            if (length < b + (1u << e)) {
                *symbol = 257 + i, *extra = e, *base = b;
                return;
            }
            b += 1u << e;
        }
    }
    static void DistanceSymbol(unsigned distance, unsigned* symbol, unsigned* extra, unsigned* base)
    {
        unsigned b = 1;
        for (unsigned i = 0; i < 30; ++i) {
            unsigned e = i < 4 ? 0 : (i - 2) / 2;
            if (distance < b + (1u << e)) {
                *symbol = i, *extra = e, *base = b;
                return;
            }
            b += 1u << e;
        }
    }

    // Canonical codes for a set of lengths (RFC 1951 3.2.2).
    static std::vector<uint32_t> CanonicalCodes(const std::vector<uint8_t>& lengths)
    {
        unsigned count[17] = {}, next[17] = {};
        for (uint8_t l : lengths)
            ++count[l];
        count[0] = 0;
        unsigned code = 0;
        for (unsigned bits = 1; bits <= 16; ++bits) {
            code = (code + count[bits - 1]) << 1;
            next[bits] = code;
        }
        std::vector<uint32_t> codes(lengths.size());
        for (size_t i = 0; i < lengths.size(); ++i)
            if (lengths[i])
                codes[i] = next[lengths[i]]++;
        return codes;
    }

    // Head of a dynamic-code block. `codeLengthLengths` is indexed by
    // code-length symbol (0..18); `sequence` is the coded run of lengths as
    // (symbol, extra bits value) pairs. Counts may lie, to make bad blocks.
    StreamBuilder& DynamicHead(bool final, unsigned hlit, unsigned hdist, unsigned hclen,
                               const std::vector<uint8_t>& codeLengthLengths,
                               const std::vector<std::pair<unsigned, unsigned>>& sequence)
    {
        static const unsigned order[19] = {18, 17, 16, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
        Head(6, final).Put(hlit - 257, 5).Put(hdist - 1, 5).Put(hclen - 4, 4);
        for (unsigned i = 0; i < hclen; ++i)
            Put(codeLengthLengths[order[i]], 3);
        std::vector<uint32_t> codes = CanonicalCodes(codeLengthLengths);
        for (auto [symbol, extra] : sequence) {
            PutCode(codes[symbol], codeLengthLengths[symbol]);
            if (symbol == 16)
                Put(extra, 2);
            else if (symbol == 17)
                Put(extra, 3);
            else if (symbol == 18)
                Put(extra, 7);
        }
        return *this;
    }

    // A whole dynamic block whose lengths are sent one by one with a flat
    // 4-bit code-length code; `symbols` are literal/length symbols sent
    // with the literal code (no matches).
    StreamBuilder& Dynamic(bool final, const std::vector<uint8_t>& literalLengths,
                           const std::vector<uint8_t>& distanceLengths, const std::vector<unsigned>& symbols)
    {
        std::vector<uint8_t> flat(19, 0);
        for (unsigned i = 0; i < 16; ++i)
            flat[i] = 4;
        std::vector<std::pair<unsigned, unsigned>> sequence;
        for (uint8_t l : literalLengths)
            sequence.push_back({l, 0});
        for (uint8_t l : distanceLengths)
            sequence.push_back({l, 0});
        DynamicHead(final, static_cast<unsigned>(literalLengths.size()),
                    static_cast<unsigned>(distanceLengths.size()), 19, flat, sequence);
        std::vector<uint32_t> codes = CanonicalCodes(literalLengths);
        for (unsigned s : symbols)
            PutCode(codes[s], literalLengths[s]);
        return *this;
    }

    std::vector<uint8_t> Bytes() const
    {
        std::vector<uint8_t> out = bytes_;
        if (used_)
            out.push_back(current_);
        return out;
    }

private:
    void PutBit(unsigned bit)
    {
        current_ |= static_cast<uint8_t>(bit << used_);
        if (++used_ == 8) {
            bytes_.push_back(current_);
            current_ = 0;
            used_ = 0;
        }
    }

    std::vector<uint8_t> bytes_;
    uint8_t current_ = 0;
    unsigned used_ = 0;
};
