#include "encoder.h"

#include <libdeflate.h>

#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>

#include "../stub/decode/decoder.h"

namespace zevrin {

// ---------------------------------------------------------------- bit I/O

void BitReader::Refill(unsigned n)
{
    while (count_ < n) {
        uint64_t byte = next_ < size_ ? data_[next_] : 0;
        ++next_;
        bits_ |= byte << count_;
        count_ += 8;
    }
}

uint32_t BitReader::Peek(unsigned n)
{
    if (count_ < n)
        Refill(56);
    return static_cast<uint32_t>(bits_ & ((uint64_t(1) << n) - 1));
}

void BitReader::Drop(unsigned n)
{
    if (count_ < n)
        Refill(56);
    bits_ >>= n;
    count_ -= n;
    consumed_ += n;
    if (consumed_ > size_ * 8)
        error_ = true;
}

void BitReader::AlignToByte()
{
    if (consumed_ % 8)
        Drop(8 - consumed_ % 8);
}

const uint8_t* BitReader::TakeBytes(size_t n)
{
    size_t at = consumed_ / 8;
    if (consumed_ % 8 || error_ || at > size_ || size_ - at < n) {
        error_ = true;
        return nullptr;
    }
    consumed_ += n * 8;
    // Bytes already pulled into bits_ belong to the block: start over.
    next_ = at + n;
    bits_ = 0;
    count_ = 0;
    return data_ + at;
}

void BitWriter::Write(uint32_t value, unsigned n)
{
    if (n > 32) {
        error_ = true;
        return;
    }
    bits_ |= (uint64_t(value) & ((uint64_t(1) << n) - 1)) << count_;
    count_ += n;
    written_ += n;
    while (count_ >= 8) {
        out_.push_back(static_cast<uint8_t>(bits_));
        bits_ >>= 8;
        count_ -= 8;
    }
}

void BitWriter::AlignToByte()
{
    if (count_ == 0)
        return;
    out_.push_back(static_cast<uint8_t>(bits_));
    written_ += 8 - count_;
    bits_ = 0;
    count_ = 0;
}

void BitWriter::WriteBytes(const uint8_t* data, size_t n)
{
    if (count_ != 0) {
        error_ = true;
        return;
    }
    out_.insert(out_.end(), data, data + n);
    written_ += uint64_t(n) * 8;
}

// ------------------------------------------------------------- transcoder

namespace {

enum : unsigned { KindFixed = 5, KindDynamic = 6, KindStored = 7 };

const unsigned MaxBits = 15;
const unsigned FastBits = 9;

// RFC 1951's order of the code-length code lengths, and ours.
const uint8_t DeflateOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
const uint8_t StreamOrder[19] = {18, 17, 16, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

const uint16_t LengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t LengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t DistanceBase[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,
                                   33,   49,   65,   97,   129,  193,   257,   385,   513,   769,
                                   1025, 1537, 2049, 3073, 4097, 6145,  8193,  12289, 16385, 24577};
const uint8_t DistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                   6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// A canonical code for reading Deflate. Codes up to FastBits long come
// from one lookup; longer ones are walked length by length.
class Code {
public:
    // False when the lengths over-subscribe the code, or leave it
    // incomplete other than as a single one-bit code (which zlib accepts
    // too). All-zero lengths give an empty code that matches nothing.
    bool Build(const uint8_t* lengths, unsigned n)
    {
        std::memset(count_, 0, sizeof count_);
        std::memset(fast_, 0, sizeof fast_);
        for (unsigned i = 0; i < n; ++i)
            ++count_[lengths[i]];
        count_[0] = 0;

        int left = 1;
        unsigned maxLength = 0;
        for (unsigned len = 1; len <= MaxBits; ++len) {
            left = left * 2 - count_[len];
            if (left < 0)
                return false;
            if (count_[len])
                maxLength = len;
        }
        if (left > 0 && maxLength > 1)
            return false;

        uint16_t offsets[MaxBits + 2];
        offsets[1] = 0;
        for (unsigned len = 1; len <= MaxBits; ++len)
            offsets[len + 1] = offsets[len] + count_[len];
        for (unsigned i = 0; i < n; ++i)
            if (lengths[i])
                symbols_[offsets[lengths[i]]++] = static_cast<uint16_t>(i);

        // Fast entries: canonical codes in order, bit-reversed because the
        // stream sends a code's first bit in bit 0.
        unsigned code = 0;
        unsigned index = 0;
        for (unsigned len = 1; len <= FastBits; ++len) {
            for (unsigned k = 0; k < count_[len]; ++k, ++code, ++index) {
                unsigned reversed = 0;
                for (unsigned b = 0; b < len; ++b)
                    reversed |= ((code >> b) & 1) << (len - 1 - b);
                uint16_t entry = static_cast<uint16_t>(symbols_[index] << 4 | len);
                for (unsigned i = reversed; i < (1u << FastBits); i += 1u << len)
                    fast_[i] = entry;
            }
            code <<= 1;
        }
        return true;
    }

    // Symbol of the next code, and its length; -1 when the bits match no
    // code.
    int Decode(BitReader& in, unsigned* length) const
    {
        uint32_t bits = in.Peek(MaxBits);
        uint16_t entry = fast_[bits & ((1u << FastBits) - 1)];
        if (entry) {
            *length = entry & 15;
            return entry >> 4;
        }
        int code = 0;
        int first = 0;
        int index = 0;
        for (unsigned len = 1; len <= MaxBits; ++len) {
            code |= (bits >> (len - 1)) & 1;
            int count = count_[len];
            if (code - first < count) {
                *length = len;
                return symbols_[index + code - first];
            }
            index += count;
            first = (first + count) << 1;
            code <<= 1;
        }
        return -1;
    }

private:
    uint16_t count_[MaxBits + 1];
    uint16_t symbols_[288];
    uint16_t fast_[1u << FastBits]; // symbol << 4 | length; 0 = slow path
};

// Moves n bits from the reader to the writer unchanged.
inline void CopyBits(BitReader& in, BitWriter& out, unsigned n)
{
    out.Write(in.Read(n), n);
}

// Reads one symbol and re-emits its code bits; -1 on a bad code.
inline int CopySymbol(const Code& code, BitReader& in, BitWriter& out)
{
    unsigned length;
    int symbol = code.Decode(in, &length);
    if (symbol >= 0)
        CopyBits(in, out, length);
    return symbol;
}

// The Huffman-coded part of a block, up to and including end-of-block.
bool CopyCodes(const Code& literals, const Code& distances, BitReader& in, BitWriter& out,
               uint64_t* produced)
{
    for (;;) {
        int symbol = CopySymbol(literals, in, out);
        if (symbol < 0 || in.error())
            return false;
        if (symbol < 256) {
            ++*produced;
            continue;
        }
        if (symbol == 256)
            return true;
        if (symbol > 285)
            return false;
        unsigned lengthCode = symbol - 257;
        uint32_t length = LengthBase[lengthCode] + in.Peek(LengthExtra[lengthCode]);
        CopyBits(in, out, LengthExtra[lengthCode]);

        int distanceCode = CopySymbol(distances, in, out);
        if (distanceCode < 0 || distanceCode >= 30)
            return false;
        uint32_t distance = DistanceBase[distanceCode] + in.Peek(DistanceExtra[distanceCode]);
        CopyBits(in, out, DistanceExtra[distanceCode]);
        if (distance > *produced)
            return false;
        *produced += length;
        if (in.error())
            return false;
    }
}

void WriteHead(BitWriter& out, unsigned kind, bool final)
{
    out.Write(kind | (final ? 8u : 0u), 4);
}

bool TranscodeStored(BitReader& in, BitWriter& out, bool final, uint64_t* produced)
{
    in.AlignToByte();
    uint32_t length = in.Read(16);
    uint32_t complement = in.Read(16);
    if (in.error() || length != (~complement & 0xFFFF))
        return false;
    const uint8_t* bytes = in.TakeBytes(length);
    if (!bytes)
        return false;
    WriteHead(out, KindStored, final);
    out.AlignToByte();
    out.Write(length, 16);
    out.WriteBytes(bytes, length);
    *produced += length;
    return true;
}

bool TranscodeFixed(BitReader& in, BitWriter& out, bool final, uint64_t* produced)
{
    static Code literals, distances;
    static bool built = [] {
        uint8_t lengths[288];
        std::memset(lengths, 8, 144);
        std::memset(lengths + 144, 9, 112);
        std::memset(lengths + 256, 7, 24);
        std::memset(lengths + 280, 8, 8);
        literals.Build(lengths, 288);
        std::memset(lengths, 5, 32);
        distances.Build(lengths, 32);
        return true;
    }();
    (void)built;
    WriteHead(out, KindFixed, final);
    return CopyCodes(literals, distances, in, out, produced);
}

bool TranscodeDynamic(BitReader& in, BitWriter& out, bool final, uint64_t* produced)
{
    unsigned literalCount = in.Read(5) + 257;
    unsigned distanceCount = in.Read(5) + 1;
    unsigned lengthCodeCount = in.Read(4) + 4;
    if (in.error() || literalCount > 286 || distanceCount > 30)
        return false;

    uint8_t lengthCodeLengths[19] = {};
    for (unsigned i = 0; i < lengthCodeCount; ++i)
        lengthCodeLengths[DeflateOrder[i]] = static_cast<uint8_t>(in.Read(3));
    // Our order ends on the longest code lengths, which are rarely used,
    // so the trimmed count is usually no larger.
    unsigned ourCount = 19;
    while (ourCount > 4 && lengthCodeLengths[StreamOrder[ourCount - 1]] == 0)
        --ourCount;

    Code lengthCode;
    if (in.error() || !lengthCode.Build(lengthCodeLengths, 19))
        return false;

    WriteHead(out, KindDynamic, final);
    out.Write(literalCount - 257, 5);
    out.Write(distanceCount - 1, 5);
    out.Write(ourCount - 4, 4);
    for (unsigned i = 0; i < ourCount; ++i)
        out.Write(lengthCodeLengths[StreamOrder[i]], 3);

    uint8_t lengths[286 + 30];
    unsigned total = literalCount + distanceCount;
    unsigned filled = 0;
    while (filled < total) {
        int symbol = CopySymbol(lengthCode, in, out);
        if (symbol < 0 || in.error())
            return false;
        if (symbol < 16) {
            lengths[filled++] = static_cast<uint8_t>(symbol);
            continue;
        }
        uint8_t value = 0;
        unsigned repeat;
        if (symbol == 16) {
            if (filled == 0)
                return false;
            value = lengths[filled - 1];
            repeat = 3 + in.Peek(2);
            CopyBits(in, out, 2);
        } else if (symbol == 17) {
            repeat = 3 + in.Peek(3);
            CopyBits(in, out, 3);
        } else {
            repeat = 11 + in.Peek(7);
            CopyBits(in, out, 7);
        }
        if (repeat > total - filled)
            return false;
        std::memset(lengths + filled, value, repeat);
        filled += repeat;
    }
    if (lengths[256] == 0)
        return false;

    Code literals, distances;
    if (!literals.Build(lengths, literalCount) ||
        !distances.Build(lengths + literalCount, distanceCount))
        return false;
    return CopyCodes(literals, distances, in, out, produced);
}

} // namespace

namespace {

// Appends the blocks of raw Deflate to `writer`; the final one is marked
// final only when `last`. False (and the writer as it was) when the input
// is not valid Deflate.
bool TranscodeInto(const uint8_t* data, size_t size, BitWriter& writer, bool last)
{
    BitWriter::Mark mark = writer.Place();
    BitReader in(data, size);
    uint64_t produced = 0;
    bool final = false;
    while (!final) {
        final = in.Read(1) != 0;
        unsigned type = in.Read(2);
        if (in.error())
            break;
        bool ok = false;
        if (type == 0)
            ok = TranscodeStored(in, writer, final && last, &produced);
        else if (type == 1)
            ok = TranscodeFixed(in, writer, final && last, &produced);
        else if (type == 2)
            ok = TranscodeDynamic(in, writer, final && last, &produced);
        if (!ok || in.error() || writer.error()) {
            final = false;
            break;
        }
    }
    if (!final) {
        writer.Return(mark);
        return false;
    }
    return true;
}

} // namespace

bool TranscodeDeflate(const uint8_t* data, size_t size, std::vector<uint8_t>& out)
{
    BitWriter writer(out);
    if (!TranscodeInto(data, size, writer, true))
        return false;
    writer.Finish();
    return true;
}

// ---------------------------------------------------------------- encoder

namespace {

const size_t StoredBlockMax = 65535;
// Leaves room for stored-block overhead below the decoder's 32-bit sizes.
const size_t MaxEncodeInput = UINT32_MAX - (size_t(1) << 18);
// Past-the-end bytes offered to the decoder when verifying: it reads ahead
// at most a few bytes of zero bits.
const size_t VerifyPadding = StreamReadAhead;

size_t StoredSize(size_t size)
{
    if (size == 0)
        return 2;
    return size + 3 * ((size + StoredBlockMax - 1) / StoredBlockMax);
}

// Decodes `stream` and compares with the input. On a match *consumed is
// the number of bytes the decoder took, which may run past the stream into
// zero padding.
bool DecodesTo(std::vector<uint8_t>& stream, const uint8_t* data, size_t size, size_t* consumed)
{
    size_t streamSize = stream.size();
    stream.insert(stream.end(), VerifyPadding, 0);
    std::unique_ptr<uint8_t[]> output(new uint8_t[size ? size : 1]);
    uint32_t produced = 0;
    uint32_t used = 0;
    int result = DecodeBuffer(stream.data(), static_cast<uint32_t>(stream.size()), output.get(),
                              static_cast<uint32_t>(size), &produced, &used);
    stream.resize(streamSize);
    *consumed = used;
    return result == DecodeOk && produced == size && used < streamSize + VerifyPadding &&
           (size == 0 || std::memcmp(output.get(), data, size) == 0);
}

// Verifies in place; a decoder that read zero bits past the end gets those
// bytes appended. True when the stream (as adjusted) is exact.
bool Verify(std::vector<uint8_t>& stream, const uint8_t* data, size_t size, size_t* appended)
{
    *appended = 0;
    size_t consumed;
    if (!DecodesTo(stream, data, size, &consumed))
        return false;
    if (consumed == stream.size())
        return true;
    if (consumed < stream.size())
        return false;
    *appended = consumed - stream.size();
    stream.insert(stream.end(), *appended, 0);
    return DecodesTo(stream, data, size, &consumed) && consumed == stream.size();
}

struct CompressorDeleter {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

} // namespace

namespace {

// Stored blocks of `data`; the last one final when `last`.
void WriteStored(BitWriter& writer, const uint8_t* data, size_t size, bool last)
{
    if (size == 0 && last) {
        // A fixed block holding only end-of-block is a byte shorter than an
        // empty stored block.
        WriteHead(writer, KindFixed, true);
        writer.Write(0, 7);
    }
    for (size_t at = 0; at < size;) {
        size_t length = size - at < StoredBlockMax ? size - at : StoredBlockMax;
        WriteHead(writer, KindStored, last && at + length == size);
        writer.AlignToByte();
        writer.Write(static_cast<uint32_t>(length), 16);
        writer.WriteBytes(data + at, length);
        at += length;
    }
}

} // namespace

size_t StoredStreamSize(size_t size) { return StoredSize(size); }

std::vector<uint8_t> EncodeStored(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> out;
    out.reserve(StoredSize(size) + VerifyPadding);
    BitWriter writer(out);
    WriteStored(writer, data, size, true);
    writer.Finish();
    return out;
}

PieceEncoder::PieceEncoder(int level) : level_(level)
{
    if (level < 0 || level > MaxEncodeLevel)
        throw std::invalid_argument("compression level " + std::to_string(level) + " is outside 0.." +
                                    std::to_string(MaxEncodeLevel));
    if (level > 0) {
        compressor_ = libdeflate_alloc_compressor(level);
        if (!compressor_)
            throw std::bad_alloc();
    }
}

PieceEncoder::~PieceEncoder()
{
    if (compressor_)
        libdeflate_free_compressor(compressor_);
}

void PieceEncoder::Add(const uint8_t* data, size_t size, bool last, std::vector<uint8_t>& out)
{
    if (size > MaxPiece)
        throw std::length_error("a piece of " + std::to_string(size) + " bytes is larger than " +
                                std::to_string(MaxPiece));
    bool done = false;
    if (compressor_ && size > 0) {
        deflated_.resize(libdeflate_deflate_compress_bound(compressor_, size));
        size_t deflatedSize = libdeflate_deflate_compress(compressor_, data, size, deflated_.data(), deflated_.size());
        BitWriter::Mark mark = writer_.Place();
        if (deflatedSize > 0 && TranscodeInto(deflated_.data(), deflatedSize, writer_, last)) {
            // Kept only when shorter than storing the piece, as EncodeStream
            // judges a whole stream.
            if ((writer_.BitPosition() - mark.written + 7) / 8 < StoredSize(size))
                done = true;
            else
                writer_.Return(mark);
        }
    }
    if (!done)
        WriteStored(writer_, data, size, last);
    if (last)
        writer_.Finish();
    out.insert(out.end(), bytes_.begin(), bytes_.end());
    bytes_.clear();
}

std::vector<uint8_t> EncodeStream(const uint8_t* data, size_t size, int level)
{
    return EncodeStream(data, size, level, nullptr);
}

std::vector<uint8_t> EncodeStream(const uint8_t* data, size_t size, int level,
                                  EncodeReport* report, TamperHook tamper)
{
    if (level < 0 || level > MaxEncodeLevel)
        throw std::invalid_argument("compression level " + std::to_string(level) +
                                    " is outside 0.." + std::to_string(MaxEncodeLevel));
    if (size > MaxEncodeInput)
        throw std::length_error("input of " + std::to_string(size) +
                                " bytes is too large for one stream");
    EncodeReport local;
    EncodeReport& r = report ? *report : local;
    r = EncodeReport();

    if (level > 0) {
        std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor(
            libdeflate_alloc_compressor(level));
        if (!compressor)
            throw std::bad_alloc();
        std::vector<uint8_t> deflated(libdeflate_deflate_compress_bound(compressor.get(), size));
        size_t deflatedSize = libdeflate_deflate_compress(compressor.get(), data, size,
                                                          deflated.data(), deflated.size());
        deflated.resize(deflatedSize);

        std::vector<uint8_t> stream;
        stream.reserve(deflatedSize + deflatedSize / 64 + 64);
        bool transcoded = deflatedSize > 0 && TranscodeDeflate(deflated.data(), deflatedSize, stream);
        deflated = std::vector<uint8_t>();
        if (transcoded && tamper)
            tamper(stream);
        if (!transcoded) {
            r.fellBackToStored = true;
        } else if (stream.size() < StoredSize(size)) {
            size_t appended;
            if (!Verify(stream, data, size, &appended)) {
                r.fellBackToStored = true;
            } else if (stream.size() < StoredSize(size)) {
                r.transcoded = true;
                r.zeroBytesAppended = appended;
                return stream;
            }
        }
    }

    std::vector<uint8_t> stored = EncodeStored(data, size);
    size_t appended;
    if (!Verify(stored, data, size, &appended) || appended != 0)
        throw std::logic_error("stored stream does not decode back to its input");
    return stored;
}

} // namespace zevrin
