// The encoder: bit I/O, the Deflate transcoder on hand-made input, round
// trips through the decoder at several levels, streams back to back, and
// the fall-back to stored blocks when a transcoded stream fails to verify.
#ifdef ZEVRIN_HAVE_AUTHORING

#include <gtest/gtest.h>

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "authoring/encoder.h"
#include "stream_builder.h"
#include "stub/decode/decoder.h"
#include "test_support.h"

using namespace zevrin;

namespace {

typedef std::vector<uint8_t> Bytes;

Bytes FromString(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Hex(const char* text)
{
    Bytes out;
    unsigned value;
    int used;
    while (std::sscanf(text, " %2x%n", &value, &used) == 1) {
        out.push_back(static_cast<uint8_t>(value));
        text += used;
    }
    return out;
}

// What a stored-only encoding of n bytes takes: 3 bytes per block of up to
// 65535, and 2 for the empty stream.
size_t StoredSize(size_t n) { return n == 0 ? 2 : n + 3 * ((n + 65534) / 65535); }

struct Decoded {
    int result;
    Bytes output;
    uint32_t consumed;
};

// Decodes the stream at the start of `input`; room for one byte more than
// expected, so an overlong output shows.
Decoded DecodeAt(const uint8_t* input, size_t size, size_t expected)
{
    Decoded d;
    d.output.resize(expected + 1);
    uint32_t produced = 0;
    d.consumed = 0;
    d.result = DecodeBuffer(input, static_cast<uint32_t>(size), d.output.data(),
                            static_cast<uint32_t>(d.output.size()), &produced, &d.consumed);
    d.output.resize(produced);
    return d;
}

// RFC 1951 input for the transcoder. StreamBuilder writes LSB-first fields
// and MSB-first codes the same way in both formats; only the heads differ.
struct Deflate {
    StreamBuilder bits;

    Deflate& Head(bool final, unsigned type)
    {
        bits.Put(final ? 1 : 0, 1).Put(type, 2);
        return *this;
    }
    Deflate& Stored(bool final, const std::string& data, uint16_t nlen)
    {
        Head(final, 0);
        bits.Align().Put(static_cast<uint32_t>(data.size()), 16).Put(nlen, 16);
        for (unsigned char c : data)
            bits.Put(c, 8);
        return *this;
    }
    // A dynamic head in RFC order, trimmed as an RFC encoder would.
    Deflate& DynamicHead(bool final, unsigned hlit, unsigned hdist,
                         const std::vector<uint8_t>& codeLengthLengths,
                         const std::vector<std::pair<unsigned, unsigned>>& sequence)
    {
        static const unsigned order[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                           11, 4,  12, 3, 13, 2, 14, 1, 15};
        unsigned hclen = 19;
        while (hclen > 4 && codeLengthLengths[order[hclen - 1]] == 0)
            --hclen;
        Head(final, 2);
        bits.Put(hlit - 257, 5).Put(hdist - 1, 5).Put(hclen - 4, 4);
        for (unsigned i = 0; i < hclen; ++i)
            bits.Put(codeLengthLengths[order[i]], 3);
        std::vector<uint32_t> codes = StreamBuilder::CanonicalCodes(codeLengthLengths);
        static const unsigned extraBits[19] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                               0, 0, 0, 0, 0, 0, 2, 3, 7};
        for (auto [symbol, extra] : sequence)
            bits.PutCode(codes[symbol], codeLengthLengths[symbol]).Put(extra, extraBits[symbol]);
        return *this;
    }
    Bytes Done() const { return bits.Bytes(); }
};

// Code-length code used by the hand-made dynamic blocks: 18 is one bit,
// 0 and 1 two bits each.
std::vector<uint8_t> SmallLengthCode()
{
    std::vector<uint8_t> lengths(19, 0);
    lengths[18] = 1;
    lengths[0] = 2;
    lengths[1] = 2;
    return lengths;
}

// Lengths for a block whose literal code holds 'a' and end-of-block (one
// bit each) and whose distance code is one 1-bit code: 97 zeros, a 1, 158
// zeros, a 1, then the distance length 1.
const std::vector<std::pair<unsigned, unsigned>> SmallSequence = {
    {18, 97 - 11}, {1, 0}, {18, 138 - 11}, {18, 20 - 11}, {1, 0}, {1, 0}};

// ---------------------------------------------------------------- bit I/O

TEST(BitIoTest, FieldsRoundTripAndReadingPastTheEndSticks)
{
    const std::pair<uint32_t, unsigned> fields[] = {
        {1, 1}, {0, 0}, {5, 3}, {0xABCD, 16}, {0xFFFFFFFF, 32}, {0x12345678, 32}, {0x3F, 7}, {0, 2}};
    Bytes buffer;
    BitWriter writer(buffer);
    for (auto [value, width] : fields)
        writer.Write(value, width);
    writer.Finish();
    ASSERT_FALSE(writer.error());
    EXPECT_EQ(buffer.size(), (1 + 3 + 16 + 32 + 32 + 7 + 2 + 7) / 8u);

    BitReader reader(buffer.data(), buffer.size());
    for (auto [value, width] : fields)
        EXPECT_EQ(reader.Read(width), value) << width;
    EXPECT_FALSE(reader.error());
    reader.AlignToByte();
    EXPECT_EQ(reader.BitPosition(), buffer.size() * 8);
    EXPECT_FALSE(reader.error());

    EXPECT_EQ(reader.Peek(8), 0u); // peeking past the end is harmless
    EXPECT_FALSE(reader.error());
    EXPECT_EQ(reader.Read(1), 0u);
    EXPECT_TRUE(reader.error());
    EXPECT_EQ(reader.TakeBytes(0), nullptr);
    EXPECT_TRUE(reader.error());
}

TEST(BitIoTest, RawBytesNeedAByteBoundaryAndEnoughData)
{
    const Bytes data = {0x81, 'x', 'y', 'z'};
    {
        BitReader reader(data.data(), data.size());
        reader.Read(3);
        EXPECT_EQ(reader.TakeBytes(1), nullptr);
        EXPECT_TRUE(reader.error());
    }
    {
        BitReader reader(data.data(), data.size());
        EXPECT_EQ(reader.Read(8), 0x81u);
        EXPECT_EQ(reader.TakeBytes(4), nullptr);
        EXPECT_TRUE(reader.error());
    }
    {
        // Bytes already buffered for bit reads are handed out, and reading
        // goes on after them.
        BitReader reader(data.data(), data.size());
        reader.Peek(32);
        reader.Read(1);
        reader.AlignToByte();
        const uint8_t* taken = reader.TakeBytes(2);
        ASSERT_EQ(taken, data.data() + 1);
        EXPECT_EQ(reader.Read(8), uint32_t('z'));
        EXPECT_FALSE(reader.error());
    }

    Bytes buffer;
    BitWriter writer(buffer);
    writer.Write(1, 1);
    writer.WriteBytes(data.data(), data.size());
    EXPECT_TRUE(writer.error());
    writer.Write(0, 33);
    EXPECT_TRUE(writer.error());
    writer.Finish();
    EXPECT_EQ(buffer, Bytes{0x01});
}

// ------------------------------------------------------------- transcoder

TEST(TranscodeTest, HandMadeDeflateBecomesOurFormat)
{
    struct Case {
        const char* name;
        Bytes deflate;
        Bytes expected;
        std::string text;
    };
    const Case cases[] = {
        {"fixed abc", Hex("4b 4c 4a 06 00"), Hex("9d 98 94 0c 00"), "abc"},
        {"fixed abc, match", [] {
             Deflate d;
             d.Head(true, 1);
             d.bits.FixedLiterals("abc").FixedMatch(6, 3).FixedEnd();
             return d.Done();
         }(),
         Hex("9d 98 94 0c 41 00"), "abcabcabc"},
        {"stored abc", Hex("01 03 00 fc ff 61 62 63"), Hex("0f 03 00 61 62 63"), "abc"},
        {"empty fixed", Hex("03 00"), Hex("0d 00"), ""},
        {"stored then fixed", Hex("00 01 00 fe ff 78 03 00"), Hex("07 01 00 78 0d 00"), "x"},
        {"dynamic: code-length lengths reordered", [] {
             Deflate d;
             d.DynamicHead(true, 257, 1, SmallLengthCode(), SmallSequence);
             d.bits.PutCode(0, 1).PutCode(0, 1).PutCode(1, 1); // a a end
             return d.Done();
         }(),
         [] {
             // In our order 0 and 1 come right after 18 17 16: five fields
             // instead of the RFC's eighteen.
             StreamBuilder b;
             b.DynamicHead(true, 257, 1, 5, SmallLengthCode(), SmallSequence);
             b.PutCode(0, 1).PutCode(0, 1).PutCode(1, 1);
             return b.Bytes();
         }(),
         "aa"},
        {"bytes after the final block are left", Hex("4b 4c 4a 06 00 ff ff"), Hex("9d 98 94 0c 00"),
         "abc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes out = {0xEE}; // appended to, never replaced
        ASSERT_TRUE(TranscodeDeflate(c.deflate.data(), c.deflate.size(), out));
        Bytes expected = c.expected;
        expected.insert(expected.begin(), 0xEE);
        EXPECT_EQ(out, expected);

        Decoded d = DecodeAt(c.expected.data(), c.expected.size(), c.text.size());
        EXPECT_EQ(d.result, DecodeOk);
        EXPECT_EQ(d.output, FromString(c.text));
        EXPECT_EQ(d.consumed, c.expected.size());
    }
}

TEST(TranscodeTest, MalformedDeflateIsRejected)
{
    auto fixed = [](void (*body)(StreamBuilder&)) {
        Deflate d;
        d.Head(true, 1);
        body(d.bits);
        return d.Done();
    };
    auto dynamic = [](unsigned hlit, unsigned hdist, std::vector<uint8_t> codeLengthLengths,
                      std::vector<std::pair<unsigned, unsigned>> sequence) {
        Deflate d;
        d.DynamicHead(true, hlit, hdist, codeLengthLengths, sequence);
        d.bits.PutCode(0, 1).PutCode(1, 1).Put(0, 16);
        return d.Done();
    };
    std::vector<uint8_t> zeroAndRun(19, 0); // 0 -> "0", 18 -> "1"
    zeroAndRun[0] = 1;
    zeroAndRun[18] = 1;

    struct Case {
        const char* name;
        Bytes deflate;
    };
    const Case cases[] = {
        {"empty input", Bytes()},
        {"reserved block type", Hex("07 00 00 00")},
        {"stored NLEN mismatch", Hex("01 03 00 00 00 61 62 63")},
        {"stored data cut short", Hex("01 03 00 fc ff 61")},
        {"fixed block without end", Hex("4b 4c")},
        {"no final block", Hex("02 00")},
        {"match before the first byte",
         fixed([](StreamBuilder& b) { b.FixedLiterals("a").FixedMatch(3, 2).FixedEnd(); })},
        {"length symbol 286", fixed([](StreamBuilder& b) { b.FixedSymbol(286).FixedEnd(); })},
        {"distance symbol 30", fixed([](StreamBuilder& b) {
             b.FixedLiterals("a").FixedSymbol(257).PutCode(30, 5).FixedEnd();
         })},
        {"HLIT 287", dynamic(287, 1, SmallLengthCode(), SmallSequence)},
        {"HDIST 31", dynamic(257, 31, SmallLengthCode(), SmallSequence)},
        {"over-subscribed code-length code",
         dynamic(257, 1, {1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, SmallSequence)},
        {"incomplete code-length code",
         dynamic(257, 1, {2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2}, SmallSequence)},
        {"repeat with no previous length",
         [] {
             std::vector<uint8_t> lengths(19, 0);
             lengths[16] = 1;
             lengths[0] = 1;
             Deflate d;
             d.DynamicHead(true, 257, 1, lengths, {{16, 0}});
             return d.Done();
         }()},
        {"run past the length count", dynamic(257, 1, zeroAndRun, {{18, 127}, {18, 127}})},
        {"no end-of-block code", dynamic(257, 1, zeroAndRun, {{18, 127}, {18, 108}, {0, 0}})},
        {"over-subscribed literal code",
         dynamic(257, 1, SmallLengthCode(),
                 {{1, 0}, {1, 0}, {18, 127}, {18, 105}, {1, 0}, {1, 0}})},
        {"incomplete literal code", [] {
             // 'a' and end-of-block two bits each: half the patterns unused.
             std::vector<uint8_t> lengths(19, 0);
             lengths[18] = 1;
             lengths[0] = 2;
             lengths[2] = 2;
             Deflate d;
             d.DynamicHead(true, 257, 1, lengths,
                           {{18, 97 - 11}, {2, 0}, {18, 138 - 11}, {18, 20 - 11}, {2, 0}, {2, 0}});
             d.bits.PutCode(0, 2).PutCode(1, 2);
             return d.Done();
         }()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes out = {1, 2, 3};
        EXPECT_FALSE(TranscodeDeflate(c.deflate.data(), c.deflate.size(), out));
        EXPECT_EQ(out, (Bytes{1, 2, 3})) << "failure must leave the output as it was";
    }
}

// ---------------------------------------------------------------- encoder

Bytes RandomBytes(size_t n, unsigned seed)
{
    std::mt19937 random(seed);
    Bytes out(n);
    for (uint8_t& b : out)
        b = static_cast<uint8_t>(random());
    return out;
}

Bytes Text(size_t n)
{
    static const char* const words[] = {"the ",   "installer ", "copies ",  "files ", "into ",
                                        "a ",     "folder ",    "and ",     "asks ",  "for ",
                                        "disk ",  "two ",       "setup\n", "of ",    "program "};
    std::mt19937 random(7);
    std::string text;
    while (text.size() < n)
        text += words[random() % (sizeof words / sizeof words[0])];
    text.resize(n);
    return FromString(text);
}

Bytes ReadFileOrEmpty(const char* path)
{
    FILE* file = std::fopen(path, "rb");
    if (!file)
        return Bytes();
    Bytes out;
    uint8_t chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        out.insert(out.end(), chunk, chunk + got);
    std::fclose(file);
    return out;
}

const char* const MachineBinary = "/bin/ls";

enum class Kind { Any, Incompressible };
struct Input {
    const char* name;
    Kind kind;
    Bytes (*make)();
};
const Input Inputs[] = {
    {"empty", Kind::Any, [] { return Bytes(); }},
    {"one_byte", Kind::Any, [] { return Bytes{'Z'}; }},
    {"block_minus_one", Kind::Any, [] { return Text(65535); }},
    {"block", Kind::Any, [] { return Text(65536); }},
    {"block_plus_one", Kind::Any, [] { return Text(65537); }},
    {"run_1mb", Kind::Any, [] { return Bytes(1 << 20, 0x5A); }},
    {"random_200k", Kind::Incompressible, [] { return RandomBytes(200000, 1); }},
    {"random_block_plus_one", Kind::Incompressible, [] { return RandomBytes(65537, 2); }},
    {"text_300k", Kind::Any, [] { return Text(300000); }},
    {"machine_binary", Kind::Any, [] { return ReadFileOrEmpty(MachineBinary); }},
};

const Bytes& InputData(const Input& input)
{
    static std::map<std::string, Bytes> made;
    auto found = made.find(input.name);
    if (found == made.end())
        found = made.emplace(input.name, input.make()).first;
    return found->second;
}

class EncoderRoundTrip : public testing::TestWithParam<std::tuple<Input, int>> {};

TEST_P(EncoderRoundTrip, DecodesBackExactlyAndNeverOutgrowsStored)
{
    const Input& input = std::get<0>(GetParam());
    int level = std::get<1>(GetParam());
    const Bytes& data = InputData(input);
    if (data.empty() && std::string(input.name) == "machine_binary")
        GTEST_SKIP() << MachineBinary << " is not readable here";

    EncodeReport report;
    Bytes stream = EncodeStream(data.data(), data.size(), level, &report);
    EXPECT_FALSE(report.fellBackToStored);

    Decoded d = DecodeAt(stream.data(), stream.size(), data.size());
    ASSERT_EQ(d.result, DecodeOk);
    EXPECT_EQ(d.consumed, stream.size());
    EXPECT_TRUE(d.output == data);

    if (level == 0 || input.kind == Kind::Incompressible) {
        EXPECT_EQ(stream.size(), StoredSize(data.size()));
    } else {
        EXPECT_LE(stream.size(), StoredSize(data.size()));
    }
    if (level > 0 && input.kind == Kind::Any && data.size() >= 1000) {
        EXPECT_LT(stream.size(), data.size() * 9 / 10) << "compressible input barely compressed";
    }
}

INSTANTIATE_TEST_SUITE_P(Levels, EncoderRoundTrip,
                         testing::Combine(testing::ValuesIn(Inputs), testing::Values(0, 1, 6, 9, 12)),
                         [](const testing::TestParamInfo<std::tuple<Input, int>>& info) {
                             return std::string(std::get<0>(info.param).name) + "_level" +
                                    std::to_string(std::get<1>(info.param));
                         });

// Input in pieces: one piece gives EncodeStream's bytes (before its
// look-ahead padding); several pieces chain into one stream that decodes
// back, a piece that does not shrink stored in the middle of it.
TEST(PieceEncoderTest, OnePieceIsEncodeStreamAndManyChainIntoOneStream)
{
    const size_t piece = PieceEncoder::MaxPiece;
    Bytes mixed = Text(2 * piece + 3000);
    Bytes noise = RandomBytes(piece, 3);
    std::copy(noise.begin(), noise.end(), mixed.begin() + piece); // the second piece
    struct Case {
        const char* name;
        Bytes data;
        int level;
    } cases[] = {
        {"empty", Bytes(), 9},
        {"one byte", Bytes{'Z'}, 6},
        {"text", Text(300000), 12},
        {"random", RandomBytes(70000, 4), 9},
        {"text, stored", Text(300000), 0},
        {"three pieces", mixed, 1},
        {"three pieces, stored", mixed, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PieceEncoder encoder(c.level);
        Bytes stream;
        size_t at = 0;
        do {
            size_t n = std::min(piece, c.data.size() - at);
            encoder.Add(c.data.data() + at, n, at + n == c.data.size(), stream);
            at += n;
        } while (at < c.data.size());

        EncodeReport report;
        Bytes whole = EncodeStream(c.data.data(), c.data.size(), c.level, &report);
        if (c.data.size() <= piece) {
            EXPECT_TRUE(stream == Bytes(whole.begin(), whole.end() - report.zeroBytesAppended));
        }
        if (c.level == 0) {
            EXPECT_TRUE(stream == whole) << "stored blocks do not depend on the pieces";
        }
        stream.resize(stream.size() + 8, 0); // the decoder's look-ahead
        Decoded d = DecodeAt(stream.data(), stream.size(), c.data.size());
        ASSERT_EQ(d.result, DecodeOk);
        EXPECT_TRUE(d.output == c.data);
        EXPECT_LE(d.consumed, stream.size());
        if (c.level > 0 && c.data.size() > piece) {
            EXPECT_LT(stream.size(), StoredSize(c.data.size()) - piece / 2) << "the text pieces are compressed";
        }
    }
}

TEST(EncoderTest, StoredBlocksAreFramedAsDocumented)
{
    EXPECT_EQ(EncodeStream(nullptr, 0, 0), Hex("0d 00"));
    const Bytes abc = FromString("abc");
    EXPECT_EQ(EncodeStream(abc.data(), abc.size(), 0), Hex("0f 03 00 61 62 63"));

    // Blocks of 65535 with a non-final head, then the rest in a final one.
    struct Case {
        size_t size;
        std::vector<std::pair<size_t, Bytes>> heads; // offset, head + LEN
    };
    const Case cases[] = {
        {65535, {{0, Hex("0f ff ff")}}},
        {65536, {{0, Hex("07 ff ff")}, {65538, Hex("0f 01 00")}}},
        {131070, {{0, Hex("07 ff ff")}, {65538, Hex("0f ff ff")}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        Bytes data = RandomBytes(c.size, 3);
        Bytes stream = EncodeStream(data.data(), data.size(), 0);
        ASSERT_EQ(stream.size(), StoredSize(c.size));
        for (const auto& [offset, head] : c.heads)
            EXPECT_EQ(Bytes(stream.begin() + offset, stream.begin() + offset + 3), head) << offset;
    }
}

TEST(EncoderTest, BadArgumentsThrow)
{
    uint8_t byte = 0;
    EXPECT_THROW(EncodeStream(&byte, 1, -1), std::invalid_argument);
    EXPECT_THROW(EncodeStream(&byte, 1, 13), std::invalid_argument);
    // Checked before the data is touched.
    EXPECT_THROW(EncodeStream(&byte, size_t(1) << 32, 1), std::length_error);
}

// Streams sit back to back in a package: each decode must stop at its own
// last byte, whatever follows.
TEST(EncoderTest, StreamsBackToBackDecodeOneAfterAnother)
{
    struct Piece {
        Bytes data;
        int level;
    };
    std::vector<Piece> pieces = {
        {Text(100000), 9},         {Bytes(), 6},         {FromString("abc"), 0},
        {RandomBytes(70000, 4), 6}, {Bytes(5000, 0), 1},  {Text(3), 12},
        {FromString("abcabcabc"), 12}, {Text(65536), 0}, {Bytes{0xFF}, 1},
    };
    Bytes package;
    std::vector<size_t> starts;
    for (const Piece& p : pieces) {
        starts.push_back(package.size());
        Bytes stream = EncodeStream(p.data.data(), p.data.size(), p.level);
        package.insert(package.end(), stream.begin(), stream.end());
    }
    starts.push_back(package.size());
    package.insert(package.end(), 16, 0xFF); // whatever follows the last one

    for (size_t i = 0; i < pieces.size(); ++i) {
        SCOPED_TRACE(i);
        Decoded d = DecodeAt(package.data() + starts[i], package.size() - starts[i],
                             pieces[i].data.size());
        ASSERT_EQ(d.result, DecodeOk);
        EXPECT_EQ(d.consumed, starts[i + 1] - starts[i]);
        EXPECT_TRUE(d.output == pieces[i].data);
    }

#ifdef ZEVRIN_TEST_HOST
    // The same through a file, the way the stub reads its package: after
    // each decode the handle stands at the next stream.
    TempDir dir;
    std::string path = dir.File("package.bin");
    WriteBytes(path, package);
    FileHandle handle = OpenExisting(path.c_str(), 0);
    ASSERT_NE(handle, INVALID_FILE_HANDLE);
    for (size_t i = 0; i < pieces.size(); ++i) {
        SCOPED_TRACE(i);
        Bytes out(pieces[i].data.size() + 1);
        uint8_t* destination = nullptr;
        ASSERT_TRUE(AllocWithRetry(static_cast<uint32_t>(out.size()), &destination));
        EXPECT_TRUE(DecodeToMemory(destination, static_cast<uint32_t>(out.size()), handle, 0));
        EXPECT_EQ(std::memcmp(destination, pieces[i].data.data(), pieces[i].data.size()), 0);
        FreeAndClear(&destination);
        EXPECT_EQ(Tell(handle), starts[i + 1]);
    }
    CloseFile(handle);
#endif
}

// -------------------------------------------------------------- fall-back

Bytes Repeated(const std::string& text, int times)
{
    std::string out;
    while (times-- > 0)
        out += text;
    return FromString(out);
}

TEST(EncoderFallbackTest, DamagedTranscodeFallsBackToStoredOrIsRepaired)
{
    struct Case {
        const char* name;
        Bytes data;
        TamperHook tamper;
        bool fellBack;
        size_t zeroBytesAppended;
    };
    const Case cases[] = {
        {"bit flipped", Text(20000), [](Bytes& s) { s[s.size() / 2] ^= 0x10; }, true, 0},
        {"cut in half", Text(20000), [](Bytes& s) { s.resize(s.size() / 2); }, true, 0},
        {"byte after the end", Text(20000), [](Bytes& s) { s.push_back(0xAA); }, true, 0},
        {"block kind damaged", Text(20000), [](Bytes& s) { s[0] &= 0xF8; }, true, 0},
        // The decoder takes the missing byte as zero bits: the encoder puts
        // it back.
        {"last zero byte dropped", Repeated("abc", 100),
         [](Bytes& s) {
             if (!s.empty() && s.back() == 0)
                 s.pop_back();
         },
         false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EncodeReport report;
        Bytes stream = EncodeStream(c.data.data(), c.data.size(), 9, &report, c.tamper);
        EXPECT_EQ(report.fellBackToStored, c.fellBack);
        EXPECT_EQ(report.transcoded, !c.fellBack);
        EXPECT_EQ(report.zeroBytesAppended, c.zeroBytesAppended);
        int sameAsLevel = c.fellBack ? 0 : 9;
        EXPECT_EQ(stream, EncodeStream(c.data.data(), c.data.size(), sameAsLevel));

        Decoded d = DecodeAt(stream.data(), stream.size(), c.data.size());
        EXPECT_EQ(d.result, DecodeOk);
        EXPECT_EQ(d.consumed, stream.size());
        EXPECT_TRUE(d.output == c.data);
    }
}

} // namespace

#endif // ZEVRIN_HAVE_AUTHORING
