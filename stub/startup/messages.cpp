// A group is a u16 count followed by that many NUL-terminated strings,
// found by walking; the walk is bounded by the group's buffer so that a
// damaged count or a missing terminator never reads past it.
#include "messages.h"

#include <cstring>

#include "../shared/state.h"

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
