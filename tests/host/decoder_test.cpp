// The stream decoder on hand-made streams: documented byte sequences,
// every error result, and the shape of the output it hands its sink.
#include <algorithm>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "../../stub/decode/decoder.h"
#include "stream_builder.h"

using namespace zevrin;

namespace {

std::vector<uint8_t> Hex(const std::string& text)
{
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < text.size(); i += 3)
        out.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    return out;
}

struct Outcome {
    int result;
    std::string output;
    uint32_t consumed;
};

Outcome DecodeAll(const std::vector<uint8_t>& stream, uint32_t capacity = 1 << 20)
{
    std::vector<uint8_t> out(capacity);
    uint32_t produced = 0, consumed = 0;
    int result = DecodeBuffer(stream.data(), static_cast<uint32_t>(stream.size()), out.data(), capacity,
                              &produced, &consumed);
    return {result, std::string(out.begin(), out.begin() + produced), consumed};
}

// Records the length of every write the decoder makes.
class RecordingSink : public OutputSink {
public:
    bool IsReady() const override { return true; }
    int Write(const uint8_t* data, uint16_t length) override
    {
        writes.push_back(length);
        bytes.append(reinterpret_cast<const char*>(data), length);
        return 0;
    }
    std::vector<unsigned> writes;
    std::string bytes;
};

int RunRecording(const std::vector<uint8_t>& stream, RecordingSink* sink)
{
    StreamDecoder decoder;
    decoder.OpenMemorySource(stream.data(), static_cast<uint32_t>(stream.size()));
    decoder.sink = sink;
    return decoder.Decode();
}

std::vector<uint8_t> Lengths(std::initializer_list<std::pair<unsigned, uint8_t>> runs)
{
    std::vector<uint8_t> out;
    for (auto [count, length] : runs)
        out.insert(out.end(), count, length);
    return out;
}

TEST(DecoderTest, DocumentedSequences)
{
    struct Case {
        const char* hex;
        const char* why;
        std::string output;
        uint32_t consumed;
    } cases[] = {
        {"0F 03 00 61 62 63", "final stored block, LEN 3", "abc", 6},
        {"9D 98 94 0C 00", "final fixed block: three literals, end", "abc", 5},
        {"9D 98 94 0C 41 00", "literals then length 6 at distance 3", "abcabcabc", 6},
        {"0D 00", "final fixed block holding only end of block", "", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Outcome o = DecodeAll(Hex(c.hex));
        EXPECT_EQ(o.result, DecodeOk);
        EXPECT_EQ(o.output, c.output);
        EXPECT_EQ(o.consumed, c.consumed);
    }
}

// Streams that end with a short code right after one looked up in a wide
// table (a distance code, a long literal code): the lookup must not take
// a byte past the end, or the next stream in the file starts one late.
TEST(DecoderTest, ShortEndAfterWideLookupTakesNoExtraByte)
{
    struct Case {
        const char* hex;
        std::string output;
        uint32_t size;
    } cases[] = {
        {"1E 8C 09 D8 B6 91 58 53 FE 20 5C A7 BB FF 0E", "aaaa", 15},
        {"0E 80 09 12 46 80 59 0F DE DF DF DF DF DF 4A 0F C3 10", "dda", 18},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hex);
        std::vector<uint8_t> stream = Hex(c.hex);
        ASSERT_EQ(stream.size(), c.size);
        stream.push_back(0x77); // whatever follows in the file
        Outcome o = DecodeAll(stream);
        EXPECT_EQ(o.result, DecodeOk);
        EXPECT_EQ(o.output, c.output);
        EXPECT_EQ(o.consumed, c.size);
    }
}

TEST(DecoderTest, StoredBlockOfTenBytesOccupiesThirteen)
{
    std::vector<uint8_t> stream = StreamBuilder().Stored("0123456789", true).Bytes();
    ASSERT_EQ(stream.size(), 13u);
    Outcome o = DecodeAll(stream);
    EXPECT_EQ(o.result, DecodeOk);
    EXPECT_EQ(o.output, "0123456789");
    EXPECT_EQ(o.consumed, 13u);
}

TEST(DecoderTest, BlocksOfEveryKindConcatenate)
{
    std::vector<uint8_t> literal(286, 0), distance{1};
    for (unsigned s : {unsigned('x'), unsigned('y'), 256u})
        literal[s] = 2;
    literal['z'] = 2; // four 2-bit codes: complete
    StreamBuilder b;
    b.Stored("ab", false).Head(5, false).FixedLiterals("cd").FixedMatch(4, 2).FixedEnd();
    b.Dynamic(true, literal, distance, {'x', 'y', 'z', 256});
    b.Put(0xFF, 8); // after the final block: must not be read
    std::vector<uint8_t> stream = b.Bytes();
    Outcome o = DecodeAll(stream);
    EXPECT_EQ(o.result, DecodeOk);
    EXPECT_EQ(o.output, "abcdcdcdxyz");
    EXPECT_EQ(o.consumed, stream.size() - 1);
}

TEST(DecoderTest, MatchesCopyAcrossWindowAndBeforeStart)
{
    // Distance 1, length 258, after one literal: 259 of that byte.
    Outcome run = DecodeAll(StreamBuilder().Head(5, true).FixedLiterals("q").FixedMatch(258, 1).FixedEnd().Bytes());
    EXPECT_EQ(run.result, DecodeOk);
    EXPECT_EQ(run.output, std::string(259, 'q'));

    // Reaching before the first byte reads the zero-filled window.
    Outcome zeros = DecodeAll(StreamBuilder().Head(5, true).FixedLiterals("a").FixedMatch(3, 5).FixedEnd().Bytes());
    EXPECT_EQ(zeros.result, DecodeOk);
    EXPECT_EQ(zeros.output, std::string("a\0\0\0", 4));

    // A match that crosses the end of the window is split and still right.
    std::string head;
    for (int i = 0; i < 32760; ++i)
        head += static_cast<char>('A' + i % 23);
    StreamBuilder b;
    b.Stored(head, false).Head(5, true).FixedMatch(40, 23).FixedMatch(258, 32768 - 5).FixedEnd();
    std::string expected = head;
    for (int i = 0; i < 40; ++i)
        expected += expected[expected.size() - 23];
    for (int i = 0; i < 258; ++i)
        expected += expected[expected.size() - (32768 - 5)];
    Outcome cross = DecodeAll(b.Bytes());
    EXPECT_EQ(cross.result, DecodeOk);
    EXPECT_EQ(cross.output, expected);
}

// Long streams take the fast path, which copies matches a word at a time
// into a ring of twice the window: every distance up to the window's size
// and every short length, overlapping or not, reaching before the first
// byte (zeros) or across the ring's end, over several laps of the ring.
TEST(DecoderTest, LongStreamsMatchAPlainReplay)
{
    uint32_t seed = 12345;
    auto next = [&seed](uint32_t range) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % range;
    };
    StreamBuilder b;
    b.Head(5, true);
    std::string expected;
    while (expected.size() < 200000) {
        unsigned kind = next(4);
        if (kind == 0) {
            std::string text(1 + next(6), ' ');
            for (char& c : text)
                c = static_cast<char>('a' + next(26));
            b.FixedLiterals(text);
            expected += text;
            continue;
        }
        unsigned length = kind == 1 ? 3 + next(256) : 3 + next(14);
        unsigned distance = kind == 3 ? 1 + next(12) : 1 + next(32768);
        b.FixedMatch(length, distance);
        for (unsigned i = 0; i < length; ++i) {
            size_t at = expected.size();
            expected += at >= distance ? expected[at - distance] : '\0';
        }
    }
    b.FixedEnd();
    std::vector<uint8_t> stream = b.Bytes();
    Outcome o = DecodeAll(stream);
    EXPECT_EQ(o.result, DecodeOk);
    EXPECT_EQ(o.consumed, stream.size());
    ASSERT_EQ(o.output.size(), expected.size());
    EXPECT_TRUE(o.output == expected) << "first difference at "
                                      << std::mismatch(o.output.begin(), o.output.end(), expected.begin()).first -
                                             o.output.begin();
}

TEST(DecoderTest, SinkGetsWholeWindowsThenTheRest)
{
    struct Case {
        const char* why;
        std::vector<uint8_t> stream;
        std::vector<unsigned> writes;
    };
    StreamBuilder big;
    big.Stored(std::string(65535, 'x'), false).Stored("y", true);
    Case cases[] = {
        {"only end of block: one write of 0 bytes", Hex("0D 00"), {0}},
        {"65536 bytes: two windows and an empty last write", big.Bytes(), {32768, 32768, 0}},
        {"three literals", Hex("9D 98 94 0C 00"), {3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        RecordingSink sink;
        EXPECT_EQ(RunRecording(c.stream, &sink), DecodeOk);
        EXPECT_EQ(sink.writes, c.writes);
    }
}

TEST(DecoderTest, ErrorResults)
{
    std::vector<uint8_t> flat(19, 0);
    for (unsigned i = 0; i < 16; ++i)
        flat[i] = 4;
    std::vector<uint8_t> literal(257, 0);
    literal[0] = literal[256] = 1;
    std::vector<uint8_t> lopsided = literal;
    lopsided[1] = 1; // three one-bit codes
    std::vector<uint8_t> sparse(257, 0);
    sparse[0] = 1;
    sparse[256] = 2; // a two-bit pattern left over

    std::vector<uint8_t> all286(286, 0);
    for (unsigned s = 0; s < 256; ++s)
        all286[s] = 9;
    for (unsigned s = 256; s < 286; ++s)
        all286[s] = 9; // 286 nine-bit codes of 512: incomplete

    std::vector<uint8_t> oneCode(19, 0);
    oneCode[0] = 1; // a single one-bit code-length code
    std::vector<uint8_t> tooMany(19, 0);
    tooMany[0] = tooMany[1] = tooMany[2] = 1;
    std::vector<uint8_t> tooFew(19, 0);
    tooFew[0] = 1;
    tooFew[1] = 2;

    struct Case {
        const char* why;
        std::vector<uint8_t> stream;
        int result;
    } cases[] = {
        {"block kind 0, not final", Hex("00"), DecodeBadBlock},
        {"block kind 1", StreamBuilder().Head(1, true).Bytes(), DecodeBadBlock},
        {"block kind 4", StreamBuilder().Head(4, true).Bytes(), DecodeBadBlock},
        {"bad kind after a good block", StreamBuilder().Stored("ok", false).Head(3, true).Bytes(), DecodeBadBlock},
        {"HLIT field 30", StreamBuilder().Head(6, true).Put(30, 5).Put(0, 5).Put(15, 4).Bytes(), DecodeBadData},
        {"HLIT field 31", StreamBuilder().Head(6, true).Put(31, 5).Put(0, 5).Put(15, 4).Bytes(), DecodeBadData},
        {"HDIST field 30", StreamBuilder().Head(6, true).Put(0, 5).Put(30, 5).Put(15, 4).Bytes(), DecodeBadData},
        {"code-length code over-subscribed",
         StreamBuilder().DynamicHead(true, 257, 1, 19, tooMany, {}).Bytes(), DecodeBadBlock},
        {"code-length code incomplete", StreamBuilder().DynamicHead(true, 257, 1, 19, tooFew, {}).Bytes(),
         DecodeBadData},
        {"code-length code all zero", StreamBuilder().DynamicHead(true, 257, 1, 19, std::vector<uint8_t>(19, 0), {}).Bytes(),
         DecodeBadData},
        {"unassigned pattern of a one-bit code-length code",
         StreamBuilder().DynamicHead(true, 257, 1, 19, oneCode, {}).Put(1, 1).Bytes(), DecodeBadData},
        {"run of zeros past HLIT + HDIST",
         StreamBuilder().DynamicHead(true, 257, 1, 19, flat, {{18, 127}, {18, 127}, {18, 0}}).Bytes(),
         DecodeBadData},
        {"literal code over-subscribed", StreamBuilder().Dynamic(true, lopsided, {1}, {}).Bytes(), DecodeBadBlock},
        {"literal code incomplete", StreamBuilder().Dynamic(true, sparse, {1}, {}).Bytes(), DecodeBadData},
        {"literal code of 286 nine-bit codes", StreamBuilder().Dynamic(true, all286, {1}, {}).Bytes(),
         DecodeBadData},
        {"length symbol with an empty distance code",
         StreamBuilder().Dynamic(true, Lengths({{257, 0}, {1, 1}}), {0}, {}).Put(0, 8).Bytes(), DecodeBadData},
        {"fixed literal/length symbol 286", StreamBuilder().Head(5, true).FixedSymbol(286).FixedEnd().Bytes(),
         DecodeBadData},
        {"fixed distance symbol 30",
         StreamBuilder().Head(5, true).FixedLiterals("a").FixedSymbol(257).PutCode(30, 5).FixedEnd().Bytes(),
         DecodeBadData},
        {"no final block: the source runs dry", StreamBuilder().Stored("abc", false).Bytes(), DecodeBadData},
        {"stored block longer than its data", Hex("0F 10 00 61"), DecodeBadData},
        {"empty input", {}, DecodeBadData},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        RecordingSink sink;
        EXPECT_EQ(RunRecording(c.stream, &sink), c.result);
        EXPECT_TRUE(sink.writes.empty()) << "no final write after an error";
    }
}

// The all-zero pattern of this literal code is a literal, so a decoder
// that read missing bits as zeros for ever would never stop.
TEST(DecoderTest, TruncatedDynamicBlockEndsAsBadData)
{
    std::vector<uint8_t> literal(257, 0);
    literal['a'] = 1;
    literal[256] = 1;
    std::vector<uint8_t> stream = StreamBuilder().Dynamic(true, literal, {1}, {'a', 'a', 'a'}).Bytes();
    RecordingSink sink;
    EXPECT_EQ(RunRecording(stream, &sink), DecodeBadData);
}

TEST(DecoderTest, EveryPrefixOfAStreamFails)
{
    StreamBuilder b;
    b.Stored("stored", false).Head(5, true).FixedLiterals("fixed!").FixedMatch(12, 6).FixedEnd();
    std::vector<uint8_t> stream = b.Bytes();
    ASSERT_EQ(DecodeAll(stream).result, DecodeOk);
    for (size_t cut = 0; cut < stream.size(); ++cut) {
        SCOPED_TRACE(cut);
        std::vector<uint8_t> prefix(stream.begin(), stream.begin() + cut);
        EXPECT_NE(DecodeAll(prefix).result, DecodeOk);
    }
}

TEST(DecoderTest, RepeatAsFirstCodeLengthRepeatsZero)
{
    // Code-length code: 0..15 and 16. Fifteen 4-bit codes and two 5-bit.
    std::vector<uint8_t> codeLengths(19, 0);
    for (unsigned i = 0; i < 15; ++i)
        codeLengths[i] = 4;
    codeLengths[15] = codeLengths[16] = 5;
    // 16 first: six zeros (symbols 0..5); then 'a'..'c' and 256 get 2 bits.
    std::vector<std::pair<unsigned, unsigned>> sequence{{16, 3}};
    std::vector<uint8_t> literal(257, 0);
    literal['a'] = literal['b'] = literal['c'] = literal[256] = 2;
    for (unsigned s = 6; s < 257; ++s)
        sequence.push_back({literal[s], 0});
    sequence.push_back({1, 0}); // one distance length
    StreamBuilder b;
    b.DynamicHead(true, 257, 1, 19, codeLengths, sequence);
    std::vector<uint32_t> codes = StreamBuilder::CanonicalCodes(literal);
    for (unsigned s : {unsigned('c'), unsigned('a'), unsigned('b'), 256u})
        b.PutCode(codes[s], 2);
    Outcome o = DecodeAll(b.Bytes());
    EXPECT_EQ(o.result, DecodeOk);
    EXPECT_EQ(o.output, "cab");
}

TEST(DecoderTest, OutOfMemoryIsResultThree)
{
    std::vector<uint8_t> fixed = Hex("9D 98 94 0C 00");
    // Allocation 0 is the window (unless an earlier decode left one), 1
    // the array of all tables.
    for (int failing : {0, 1}) {
        SCOPED_TRACE(failing);
        ReleaseSpareWindow();
        AllocationFailureCountdown = failing;
        RecordingSink sink;
        EXPECT_EQ(RunRecording(fixed, &sink), DecodeOutOfMemory);
        AllocationFailureCountdown = -1;
    }
}

TEST(DecoderTest, MemoryOutputNeverPassesItsCapacity)
{
    std::vector<uint8_t> stream = Hex("9D 98 94 0C 41 00"); // 9 bytes of output
    std::vector<uint8_t> out(16, 0xEE);
    uint32_t produced = 0, consumed = 0;
    EXPECT_EQ(DecodeBuffer(stream.data(), 6, out.data(), 4, &produced, &consumed), DecodeBadData);
    EXPECT_EQ(produced, 4u);
    EXPECT_EQ(std::string(out.begin(), out.begin() + 4), "abca");
    EXPECT_EQ(out[4], 0xEE);
    EXPECT_EQ(consumed, 6u) << "the whole stream is still read";
}

TEST(HuffmanTableTest, StatusesAndWidths)
{
    struct Case {
        const char* why;
        std::vector<uint8_t> lengths;
        unsigned requested;
        int status;
        unsigned width;
    } cases[] = {
        {"all zero: no table", {0, 0, 0}, 7, 0, 0},
        {"complete", {1, 2, 3, 3}, 7, 0, 3},
        {"width raised to the shortest", {2, 2, 2, 2}, 1, 0, 2},
        {"single one-bit code is accepted", {0, 1, 0}, 7, 0, 1},
        {"incomplete", {2, 2, 2}, 7, TableIncomplete, 2},
        {"over-subscribed", {1, 1, 1}, 7, TableOverSubscribed, 0},
    };
    TableSpace space;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        uint32_t table = 12345;
        unsigned width = 99;
        space.used = 0;
        int status = BuildHuffmanTable(c.lengths.data(), static_cast<unsigned>(c.lengths.size()), 19, nullptr,
                                       nullptr, c.requested, &space, &table, &width);
        EXPECT_EQ(status, c.status);
        if (status <= TableIncomplete) {
            EXPECT_EQ(width, c.width);
            EXPECT_EQ(table, c.width ? 0u : NoTable);
            EXPECT_EQ(space.used, c.width ? 1u << c.width : 0u) << "one level, nothing else";
        }
    }
    ReleaseTableSpace(&space);
}

// A table that does not fit the array's rest moves the array: the tables
// already in it come along, found at the same offsets.
TEST(HuffmanTableTest, ArrayGrowsKeepingEarlierTables)
{
    TableSpace space;
    ASSERT_TRUE(ReserveTableSpace(&space));
    space.entries[0] = HuffmanEntry{OpLiteral, 7, 'x'};
    space.used = space.size - 2;
    uint8_t lengths[4] = {2, 2, 2, 2};
    uint32_t table;
    unsigned width;
    ASSERT_EQ(BuildHuffmanTable(lengths, 4, 19, nullptr, nullptr, 7, &space, &table, &width), 0);
    EXPECT_EQ(table, space.used - 4);
    EXPECT_GE(space.size, space.used);
    EXPECT_EQ(space.entries[0].value, 'x');
    for (unsigned i = 0; i < 4; ++i) // bit-reversed codes 00 10 01 11
        EXPECT_EQ(space.entries[table + i].value, (i >> 1 | (i & 1) << 1));
    ReleaseTableSpace(&space);
}

// Long codes go to sub-tables; every code must still decode to its symbol.
TEST(HuffmanTableTest, SubTablesDecodeEveryCode)
{
    std::vector<uint8_t> lengths(257, 0);
    for (unsigned s = 0; s < 15; ++s)
        lengths[s] = static_cast<uint8_t>(s + 1); // 1, 2, ..., 15
    lengths[256] = 15;                            // completes the code
    std::vector<unsigned> symbols;
    for (unsigned s = 0; s < 15; ++s)
        symbols.push_back(s);
    symbols.push_back(256);
    StreamBuilder b;
    b.Dynamic(true, lengths, {1}, symbols);
    Outcome o = DecodeAll(b.Bytes());
    ASSERT_EQ(o.result, DecodeOk);
    std::string expected;
    for (unsigned s = 0; s < 15; ++s)
        expected += static_cast<char>(s);
    EXPECT_EQ(o.output, expected);
}

} // namespace
