// The byte cursor's walks: strings and alignment.
#include "byte_cursor.h"

#include <cstring>

namespace zevrin {

const char* ByteCursor::Text()
{
    if (failed_ || at_ == size_) {
        Fail();
        return nullptr;
    }
    const void* end = std::memchr(data_ + at_, 0, size_ - at_);
    if (!end) {
        Fail();
        return nullptr;
    }
    const char* text = reinterpret_cast<const char*>(data_ + at_);
    at_ = static_cast<uint32_t>(static_cast<const uint8_t*>(end) - data_) + 1;
    return text;
}

void ByteCursor::SkipWideText()
{
    while (!failed_ && U16() != 0) {
    }
}

void ByteCursor::Align(uint32_t unit)
{
    Skip((unit - at_ % unit) % unit);
}

ByteCursor ByteCursor::Sub(uint32_t n)
{
    const uint8_t* p = Take(n);
    ByteCursor part(p, n);
    if (!p)
        part.Fail();
    return part;
}

} // namespace zevrin
