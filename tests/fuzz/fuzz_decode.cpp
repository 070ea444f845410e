// Arbitrary bytes into the decoder, through every source it has.
//
// Input: u24 capacity (up to 1 MiB; above that, its low 16 bits), u8
// cut, u8 allocation failure (bit 7 on: that many allocations succeed,
// then all fail), then the stream.
//
// The stream is decoded
//   1. from memory (DecodeBuffer) into a block of `capacity` bytes that
//      ends where its allocation ends, so that ASan faults on the first
//      byte written past it;
//   2. from a file holding the whole input, starting after the five-byte
//      head, through the unbounded 4096-byte source that gives back what
//      it did not use (DecodeToMemory);
//   3. from the same file through a bounded source whose limit stops
//      `cut` bytes short of the end;
//   4. from memory again with allocations failing part way, when asked.
// The sources differ only in how bytes reach the bit reader, so every run
// must hand over the same bytes and stop at the same input position as the
// memory decode of the same bytes.
#include <cstdlib>
#include <cstring>

#include "fuzz_support.h"
#include "stub/decode/decoder.h"
#include "stub/shared/state.h"

using namespace zevrin;

namespace {

const uint32_t HeadSize = 5;
const uint32_t MaxCapacity = 1u << 20;

struct MemoryRun {
    int result;
    uint32_t produced;
    uint32_t consumed;
};

MemoryRun DecodeFromMemory(const uint8_t* stream, uint32_t size, uint8_t* output, uint32_t capacity)
{
    MemoryRun run{};
    run.produced = run.consumed = 0xFFFFFFFF;
    run.result = DecodeBuffer(stream, size, output, capacity, &run.produced, &run.consumed);
    FUZZ_CHECK(run.result >= DecodeOk && run.result <= DecodeOutOfMemory);
    FUZZ_CHECK(run.produced <= capacity);
    FUZZ_CHECK(run.consumed <= size);
    return run;
}

// Output blocks end exactly where their allocation ends, so ASan faults on
// the first byte written past them. The allocations are made once: a
// megabyte from malloc for every input would dominate the run time.
// Filled with a pattern so that bytes never written compare equal too.
uint8_t* PatternBlock(int which, uint32_t capacity)
{
    static uint8_t* pool[3];
    if (!pool[which]) {
        pool[which] = static_cast<uint8_t*>(std::malloc(MaxCapacity));
        FUZZ_CHECK(pool[which]);
    }
    uint8_t* block = pool[which] + (MaxCapacity - capacity);
    std::memset(block, 0xA5, capacity);
    return block;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < HeadSize || size > 0x7FFFFFFF)
        return 0;
    // Up to 1 MiB, mostly below 64 KiB: most streams here are small, and
    // small blocks make overflows likely.
    uint32_t capacity = fuzz::U24(data);
    if (capacity > MaxCapacity)
        capacity &= 0xFFFF;
    uint32_t cut = data[3];
    int failAfter = data[4] & 0x80 ? data[4] & 0x7F : -1;
    const uint8_t* stream = data + HeadSize;
    uint32_t streamSize = static_cast<uint32_t>(size - HeadSize);

    uint8_t* expected = PatternBlock(0, capacity);
    MemoryRun reference = DecodeFromMemory(stream, streamSize, expected, capacity);

    // Unbounded file source.
    FileHandle file = fuzz::MemoryFile(data, size);
    FUZZ_CHECK(SeekTo(file, HeadSize) == HeadSize);
    uint8_t* viaFile = PatternBlock(1, capacity);
    bool ok = DecodeToMemory(viaFile, capacity, file, 0);
    uint32_t at = Tell(file);
    FUZZ_CHECK(at <= size);
    FUZZ_CHECK(ok == (reference.result == DecodeOk));
    FUZZ_CHECK(at == HeadSize + reference.consumed);
    FUZZ_CHECK(std::memcmp(viaFile, expected, capacity) == 0);

    // Bounded file source over a prefix; the file holds more than the
    // limit, so it never has to change volumes.
    uint32_t limit = streamSize > cut ? streamSize - cut : streamSize;
    if (limit > 0) {
        uint8_t* prefixExpected = PatternBlock(2, capacity);
        MemoryRun prefix = DecodeFromMemory(stream, limit, prefixExpected, capacity);
        std::memset(viaFile, 0xA5, capacity);
        FUZZ_CHECK(SeekTo(file, HeadSize) == HeadSize);
        uint32_t volumeNumber = VolumeNumber;
        VolumeBytesLeft = VolumeDataLength = limit;
        ok = DecodeToMemory(viaFile, capacity, file, limit);
        at = Tell(file);
        FUZZ_CHECK(ok == (prefix.result == DecodeOk));
        FUZZ_CHECK(at == HeadSize + prefix.consumed);
        FUZZ_CHECK(std::memcmp(viaFile, prefixExpected, capacity) == 0);
        FUZZ_CHECK(VolumeNumber == volumeNumber);
    }

    // Allocation failures: the decode either ends as before or stops with
    // out-of-memory, having handed over a prefix of the same output.
    if (failAfter >= 0) {
        std::memset(viaFile, 0xA5, capacity);
        AllocationFailureCountdown = failAfter;
        MemoryRun starved = DecodeFromMemory(stream, streamSize, viaFile, capacity);
        AllocationFailureCountdown = -1;
        if (starved.result != DecodeOutOfMemory) {
            FUZZ_CHECK(starved.result == reference.result);
            FUZZ_CHECK(starved.produced == reference.produced);
        }
        FUZZ_CHECK(starved.produced <= reference.produced);
        FUZZ_CHECK(std::memcmp(viaFile, expected, starved.produced) == 0);
    }

    return 0;
}
