// Package texts cut to a length the platform handles before windows get
// them.
#include <cstring>

#include "../platform.h"
#include "shown_text.h"

namespace zevrin {

const char* BoundedText(const char* text, unsigned limit, char* scratch, unsigned scratchSize, char** owned)
{
    *owned = nullptr;
    unsigned length = static_cast<unsigned>(ShownLength(text, limit));
    if (!text[length])
        return text;
    char* copy = scratch;
    if (length >= scratchSize) {
        if (!AllocWithRetry(length + 1, owned))
            return "";
        copy = *owned;
    }
    std::memcpy(copy, text, length);
    copy[length] = 0;
    return copy;
}

int ShownLength(const char* text, unsigned limit)
{
    unsigned length = 0;
    while (length < limit && text[length])
        ++length;
    return static_cast<int>(length);
}

void SetShownText(HWND window, const char* text, unsigned limit)
{
    char scratch[MaxShownText + 1];
    char* owned;
    SetWindowTextA(window, BoundedText(text, limit, scratch, sizeof scratch, &owned));
    FreeAndClear(&owned);
}

void SetShownItemText(HWND dialog, int id, const char* text, unsigned limit)
{
    if (HWND item = GetDlgItem(dialog, id))
        SetShownText(item, text, limit);
}

} // namespace zevrin
