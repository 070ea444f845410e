// Where decoded bytes go: memory, a file, or nowhere (a skipped file).
#pragma once

#include <cstdint>

#include "../shared/checksum.h"
#include "../shared/platform.h"

namespace zevrin {

class OutputSink {
public:
    virtual ~OutputSink() {}
    virtual bool IsReady() const = 0;
    // The decoder hands over at most 32768 bytes at a time.
    virtual int Write(const uint8_t* data, uint16_t length) = 0;
    // True once the output is no longer wanted: the decode stops reading.
    virtual bool Stopped() const { return false; }
};

// Fills a buffer of known capacity. Output beyond the capacity is dropped
// and remembered in `overflowed`: a damaged stream must never write past
// the block it was given, and the decode that overflowed counts as failed.
class MemorySink : public OutputSink {
public:
    MemorySink(uint8_t* destination, uint32_t capacity)
        : destination(destination), room(capacity)
    {
    }
    bool IsReady() const override { return destination != nullptr; }
    int Write(const uint8_t* data, uint16_t length) override;

    uint8_t* destination; // next byte to fill
    uint32_t room;        // bytes left before the end of the block
    bool overflowed = false;
};

// Writes into an open file; with the invalid handle the output is thrown
// away, which is how a file that needs no installing is read past. After
// a failed write (a full disk) nothing more is written, so the file never
// gets a gap, but the stream is still read to its end.
//
// An observer, when given, is told after every write how many bytes the
// stream has produced so far (thrown away or not), so a long file can keep
// a window alive; when it answers false the output is abandoned: nothing
// more is written and the decode stops without reading the rest.
typedef bool (*WriteObserver)(uint32_t produced);

class FileSink : public OutputSink {
public:
    explicit FileSink(FileHandle handle) : handle(handle) {}
    bool IsReady() const override { return true; }
    // 0 all written, 2 write failed, 3 short write.
    int Write(const uint8_t* data, uint16_t length) override;
    bool Stopped() const override { return stopped; }

    FileHandle handle;
    int failed = 0; // the first failing Write's result
    // When given, the bytes the file took, summed as they go (no re-read).
    RunningSum* written = nullptr;
    WriteObserver observer = nullptr;
    uint32_t produced = 0;
    bool stopped = false;
};

} // namespace zevrin
