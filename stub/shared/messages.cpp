// A group is a u16 count followed by that many NUL-terminated strings,
// found by walking; the walk is bounded by the group's buffer so that a
// damaged count or a missing terminator never reads past it.
#include "messages.h"

#include "byte_cursor.h"
#include "state.h"

namespace zevrin {

const char* GetMessageText(unsigned group, unsigned index)
{
    static const char empty[1] = "";
    if (group >= static_cast<unsigned>(MessageGroupCount) || !MessageGroups[group])
        return empty;
    ByteCursor in(MessageGroups[group], BlockSize(MessageGroups[group]));
    unsigned count = in.U16();
    if (in.Failed() || index >= count)
        return empty;
    for (unsigned i = 0; i < index; ++i)
        in.Text();
    // The string itself must end inside the buffer too.
    const char* text = in.Text();
    return text ? text : empty;
}

void ShowInvalidData()
{
    const char* text = GetMessageText(GroupMessages, MsgInvalidData);
    if (*text)
        ShowMessage(text, MessageInformation);
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
