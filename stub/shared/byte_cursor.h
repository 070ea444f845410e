// The one reader of package bytes: a cursor over (pointer, size) that
// checks every read against the end. The first read that does not fit
// sets a sticky error; from then on every read gives 0 or null and the
// cursor stays at its end, so a parser reads on and tests Failed() once.
#pragma once

#include <cstdint>

namespace zevrin {

class ByteCursor {
public:
    ByteCursor() {}
    ByteCursor(const void* data, uint32_t size)
        : data_(static_cast<const uint8_t*>(data)), size_(data ? size : 0)
    {
    }

    // Little-endian integers.
    uint8_t U8()
    {
        const uint8_t* p = Take(1);
        return p ? p[0] : 0;
    }
    uint16_t U16()
    {
        const uint8_t* p = Take(2);
        return p ? static_cast<uint16_t>(p[0] | p[1] << 8) : 0;
    }
    uint32_t U32()
    {
        const uint8_t* p = Take(4);
        return p ? p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24 : 0;
    }
    // The next n bytes, or null.
    const uint8_t* Bytes(uint32_t n) { return Take(n); }
    void Skip(uint32_t n) { Take(n); }

    // A NUL-terminated string: its start, the cursor moved past its NUL.
    // Null, and failed, when no NUL comes before the end.
    const char* Text();
    // Steps over a NUL-terminated UTF-16 string.
    void SkipWideText();
    // Moves to the next multiple of `unit` (2 or 4) counted from the
    // cursor's start, not from any address.
    void Align(uint32_t unit);
    // The next n bytes as a cursor of their own; this one moves past
    // them. When fewer remain both fail.
    ByteCursor Sub(uint32_t n);

    uint32_t Offset() const { return at_; }
    uint32_t Left() const { return size_ - at_; }
    bool Failed() const { return failed_; }

private:
    const uint8_t* Take(uint32_t n)
    {
        if (failed_ || n > size_ - at_) {
            Fail();
            return nullptr;
        }
        const uint8_t* p = data_ + at_;
        at_ += n;
        return p;
    }
    void Fail()
    {
        failed_ = true;
        at_ = size_;
    }

    const uint8_t* data_ = nullptr;
    uint32_t size_ = 0;
    uint32_t at_ = 0;
    bool failed_ = false;
};

} // namespace zevrin
