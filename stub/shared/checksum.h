// RotateAddSum, the checksum every packaged file carries: kept here, below
// the decoder's sinks and the file table, since both sum installed bytes.
#pragma once

#include <cstdint>

#include "platform.h"

namespace zevrin {

// Checksum of a file's bytes: rotate left by one and add, per 4-byte
// little-endian word, then per remaining byte.
uint32_t RotateAddSum(const uint8_t* bytes, uint32_t length, uint32_t sum);
// RotateAddSum of an open file from its position to its end, read in
// ChecksumChunk pieces; 0 when the chunk buffer cannot be had.
const uint32_t ChecksumChunk = 16384; // a multiple of 4: chunks fold like one pass
uint32_t FileChecksum(FileHandle file);

// RotateAddSum of bytes that arrive in pieces of any length: a piece that
// ends inside a word leaves its bytes pending for the next one.
class RunningSum {
public:
    void Add(const uint8_t* data, uint32_t size);
    uint32_t Value() const { return RotateAddSum(carry_, held_, sum_); }
    uint32_t Length() const { return length_; }

private:
    uint32_t sum_ = 0;
    uint32_t length_ = 0;
    uint8_t carry_[4] = {};
    uint32_t held_ = 0;
};

} // namespace zevrin
