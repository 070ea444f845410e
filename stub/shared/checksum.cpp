// The file checksum, summed in one pass or as the bytes arrive.
#include "checksum.h"

namespace zevrin {

// Every byte of every installed file goes through here: the words are
// read straight from the buffer (its length bounds the loop), which the
// compiler turns into one load each.
uint32_t RotateAddSum(const uint8_t* bytes, uint32_t length, uint32_t sum)
{
    const uint8_t* end = bytes + (length & ~3u);
    for (; bytes != end; bytes += 4) {
        uint32_t word = bytes[0] | (uint32_t(bytes[1]) << 8) | (uint32_t(bytes[2]) << 16) | (uint32_t(bytes[3]) << 24);
        sum = ((sum << 1) | (sum >> 31)) + word;
    }
    for (uint32_t i = 0; i < length % 4; ++i)
        sum = ((sum << 1) | (sum >> 31)) + bytes[i];
    return sum;
}

void RunningSum::Add(const uint8_t* data, uint32_t size)
{
    length_ += size;
    while (size && held_) {
        carry_[held_++] = *data++;
        --size;
        if (held_ == 4) {
            sum_ = RotateAddSum(carry_, 4, sum_);
            held_ = 0;
        }
    }
    uint32_t whole = size & ~3u;
    sum_ = RotateAddSum(data, whole, sum_);
    for (uint32_t i = whole; i < size; ++i)
        carry_[held_++] = data[i];
}

uint32_t FileChecksum(FileHandle file)
{
    uint8_t* chunk = nullptr;
    if (!AllocWithRetry(ChecksumChunk, &chunk))
        return 0;
    uint32_t at = Tell(file);
    uint32_t length = FileLength(file);
    uint32_t left = length > at ? length - at : 0;
    uint32_t sum = 0;
    while (left) {
        uint32_t got = ReadSome(file, chunk, left < ChecksumChunk ? left : ChecksumChunk);
        // A file that shrank under us ends the sum rather than the loop never.
        if (!got)
            break;
        sum = RotateAddSum(chunk, got, sum);
        left -= got;
    }
    FreeAndClear(&chunk);
    return sum;
}

} // namespace zevrin
