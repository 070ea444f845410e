// The encoder for the package's compressed stream format (decoder:
// stub/decode/decoder.h). libdeflate compresses to raw Deflate, and the
// transcoder rewrites the block framing into our variant; every stream
// handed out has been decoded again and compared with its input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct libdeflate_compressor;

namespace zevrin {

// Reads fields LSB first out of a buffer. Reading past the end yields zero
// bits and sets the sticky `error` flag, so a parser can check once after a
// run of reads instead of after each one.
class BitReader {
public:
    BitReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    // n <= 32. Bits beyond the end read as zero; only dropping them is an
    // error.
    uint32_t Peek(unsigned n);
    void Drop(unsigned n);
    uint32_t Read(unsigned n)
    {
        uint32_t value = Peek(n);
        Drop(n);
        return value;
    }
    void AlignToByte();
    // Only on a byte boundary: the next n bytes, or null (and error) when
    // fewer are left.
    const uint8_t* TakeBytes(size_t n);

    size_t BitPosition() const { return consumed_; }
    bool error() const { return error_; }

private:
    void Refill(unsigned n);

    const uint8_t* data_;
    size_t size_;
    size_t next_ = 0;     // next byte to load into bits_
    uint64_t bits_ = 0;
    unsigned count_ = 0;  // bits held in bits_
    size_t consumed_ = 0; // bits dropped so far
    bool error_ = false;
};

// Appends fields LSB first to a byte vector. Misuse (a field wider than 32
// bits, raw bytes off a byte boundary) sets the sticky `error` flag and
// writes nothing.
class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}

    void Write(uint32_t value, unsigned n);
    // Pads the current byte with zero bits.
    void AlignToByte();
    void WriteBytes(const uint8_t* data, size_t n);
    // Pads and flushes the last partial byte; call once at the end.
    void Finish() { AlignToByte(); }

    uint64_t BitPosition() const { return written_; }
    bool error() const { return error_; }

    // A place to come back to: what was written after it is taken back,
    // as long as the bytes since are still in the vector.
    struct Mark {
        size_t size;
        uint64_t bits;
        unsigned count;
        uint64_t written;
    };
    Mark Place() const { return Mark{out_.size(), bits_, count_, written_}; }
    void Return(const Mark& mark)
    {
        out_.resize(mark.size);
        bits_ = mark.bits;
        count_ = mark.count;
        written_ = mark.written;
    }

private:
    std::vector<uint8_t>& out_;
    uint64_t bits_ = 0;
    unsigned count_ = 0;
    uint64_t written_ = 0;
    bool error_ = false;
};

// Compression levels: 0 stores only (blocks of at most 65535 bytes);
// 1..12 are libdeflate's levels (1 fastest, 6 its default, 9 like zlib -9,
// 10..12 its slow near-optimal parser). Whatever the level, the stream
// returned is never larger than the stored-only one.
const int MaxEncodeLevel = 12;

// Throws std::invalid_argument for a level outside 0..12,
// std::length_error for an input above 4 GiB - 256 KiB (the decoder counts
// in 32 bits, stored framing included), std::bad_alloc when memory runs
// out, and std::logic_error if even the stored stream fails to decode back
// (a decoder defect: nothing unverified is ever returned).
std::vector<uint8_t> EncodeStream(const uint8_t* data, size_t size, int level);

// What one encode did, for tests and the authoring tool's statistics.
struct EncodeReport {
    bool transcoded = false;      // the result came from libdeflate's output
    bool fellBackToStored = false; // that output failed to verify
    size_t zeroBytesAppended = 0; // the decoder read that far past the end
};
// Test hook: gets the transcoded stream before it is verified, to damage it.
typedef void (*TamperHook)(std::vector<uint8_t>& stream);

std::vector<uint8_t> EncodeStream(const uint8_t* data, size_t size, int level,
                                  EncodeReport* report, TamperHook tamper = nullptr);

// Stored blocks only; always valid.
std::vector<uint8_t> EncodeStored(const uint8_t* data, size_t size);
// Its size for `size` input bytes.
size_t StoredStreamSize(size_t size);
// How far past a stream's end the decoder may read (zero bits); verifying
// a stream offers it that many zero bytes.
const size_t StreamReadAhead = 8;

// One stream made of input that arrives in pieces, so that a file of any
// size is compressed in bounded memory. Each piece is compressed apart
// (no match reaches back into the piece before) and its blocks follow the
// previous piece's; a piece that does not shrink is stored. A stream of
// one piece has the bytes EncodeStream gives before verification. The
// caller verifies the whole stream (the decoder may read a few bytes past
// its end: see EncodeStream).
class PieceEncoder {
public:
    // A multiple of the stored block size, so that level 0 stores the same
    // blocks as in one piece.
    static const size_t MaxPiece = 128 * 65535;

    explicit PieceEncoder(int level);
    ~PieceEncoder();
    PieceEncoder(const PieceEncoder&) = delete;
    PieceEncoder& operator=(const PieceEncoder&) = delete;

    // The next piece, at most MaxPiece bytes (0 only as the one piece of an
    // empty input); `last` ends the stream. The stream's complete bytes so
    // far are appended to `out`.
    void Add(const uint8_t* data, size_t size, bool last, std::vector<uint8_t>& out);

private:
    int level_;
    ::libdeflate_compressor* compressor_ = nullptr;
    std::vector<uint8_t> deflated_;
    std::vector<uint8_t> bytes_;
    BitWriter writer_{bytes_};
};

// Rewrites raw Deflate (RFC 1951) as our stream format, appending to `out`.
// False when the input is not valid Deflate: bad block type, NLEN
// mismatch, over-subscribed or unusable code, a symbol or distance out of
// range, data missing before the final block ends. Bytes after the final
// block are ignored.
bool TranscodeDeflate(const uint8_t* data, size_t size, std::vector<uint8_t>& out);

} // namespace zevrin
