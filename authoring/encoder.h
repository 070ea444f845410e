// The encoder for the package's compressed stream format (decoder:
// stub/decode/decoder.h). libdeflate compresses to raw Deflate, and the
// transcoder rewrites the block framing into our variant; every stream
// handed out has been decoded again and compared with its input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

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

// Rewrites raw Deflate (RFC 1951) as our stream format, appending to `out`.
// False when the input is not valid Deflate: bad block type, NLEN
// mismatch, over-subscribed or unusable code, a symbol or distance out of
// range, data missing before the final block ends. Bytes after the final
// block are ignored.
bool TranscodeDeflate(const uint8_t* data, size_t size, std::vector<uint8_t>& out);

} // namespace zevrin
