// A group is a u16 count followed by that many NUL-terminated strings,
// found by walking; the walk is bounded by the group's buffer so that a
// damaged count or a missing terminator never reads past it.
#include "messages.h"

#include <cstring>

#include "state.h"

namespace zevrin {

const char* GetMessageText(unsigned group, unsigned index)
{
    static const char empty[1] = "";
    if (group >= static_cast<unsigned>(MessageGroupCount) || !MessageGroups[group])
        return empty;
    const char* slot = MessageGroups[group];
    uint32_t size = BlockSize(slot);
    if (size < 2)
        return empty;
    unsigned count = static_cast<unsigned char>(slot[0]) | static_cast<unsigned char>(slot[1]) << 8;
    if (index >= count)
        return empty;
    uint32_t at = 2;
    for (unsigned i = 0; i < index; ++i) {
        const void* end = std::memchr(slot + at, 0, size - at);
        if (!end)
            return empty;
        at = static_cast<uint32_t>(static_cast<const char*>(end) - slot) + 1;
        if (at >= size)
            return empty;
    }
    // The string itself must end inside the buffer too.
    if (!std::memchr(slot + at, 0, size - at))
        return empty;
    return slot + at;
}

void FormatText(char* out, unsigned size, const char* format, const char* text, long number)
{
    if (size == 0)
        return;
    unsigned used = 0;
    bool textDone = false, numberDone = false;
    auto put = [&](char c) {
        if (used + 1 < size)
            out[used++] = c;
    };
    for (const char* p = format; *p; ++p) {
        if (*p != '%') {
            put(*p);
            continue;
        }
        const char* after = p + 1;
        if (*after == '%') {
            put('%');
            p = after;
            continue;
        }
        const char* letter = *after == 'l' ? after + 1 : after;
        if (*letter == 's' && !textDone && text) {
            for (const char* t = text; *t; ++t)
                put(*t);
            textDone = true;
            p = letter;
        } else if ((*letter == 'd' || *letter == 'i' || *letter == 'u') && !numberDone) {
            char digits[24];
            unsigned n = 0;
            unsigned long magnitude = number < 0 && *letter != 'u' ? 0ul - static_cast<unsigned long>(number)
                                                                    : static_cast<unsigned long>(number);
            if (*letter == 'u')
                magnitude &= 0xFFFFFFFFul;
            do {
                digits[n++] = static_cast<char>('0' + magnitude % 10);
                magnitude /= 10;
            } while (magnitude);
            if (number < 0 && *letter != 'u')
                put('-');
            while (n)
                put(digits[--n]);
            numberDone = true;
            p = letter;
        } else {
            put('%');
        }
    }
    out[used] = 0;
}

} // namespace zevrin
