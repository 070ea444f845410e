// Walking and checking the file table; the file checksum.
#include "file_table.h"

#include <cstring>

namespace zevrin {

uint32_t EntryStringsOffset(const uint8_t* entry)
{
    uint32_t at = EntryFixedSize;
    if (entry[EntryFlags] & (FlagCheckVersion | FlagCheckLanguage))
        at += VersionBlockSize;
    if (entry[EntryFlags] & FlagHasFileTimes)
        at += FileTimesSize;
    return at;
}

const char* EntryString(const uint8_t* entry, int n)
{
    const char* text = reinterpret_cast<const char*>(entry + EntryStringsOffset(entry));
    for (int i = 0; i < n; ++i)
        text += std::strlen(text) + 1;
    return text;
}

const uint8_t* NextEntry(const uint8_t* entry) { return entry + ReadU16(entry + EntryNextOffset); }

bool CheckFileTable(const uint8_t* table, uint32_t size)
{
    if (!table || size < 4)
        return false;
    uint32_t count = ReadU32(table);
    uint32_t at = 4;
    for (uint32_t i = 0; i < count; ++i) {
        if (size - at < EntryFixedSize)
            return false;
        const uint8_t* entry = table + at;
        uint32_t length = ReadU16(entry + EntryNextOffset);
        uint32_t strings = EntryStringsOffset(entry);
        if (length < strings + EntryStringCount || length > size - at)
            return false;
        uint32_t s = strings;
        for (int n = 0; n < EntryStringCount; ++n) {
            const void* end = std::memchr(entry + s, 0, length - s);
            if (!end)
                return false;
            s = static_cast<uint32_t>(static_cast<const uint8_t*>(end) - entry) + 1;
        }
        at += length;
    }
    return true;
}

uint32_t RotateAddSum(const uint8_t* bytes, uint32_t length, uint32_t sum)
{
    uint32_t words = length / 4;
    for (uint32_t i = 0; i < words; ++i, bytes += 4)
        sum = ((sum << 1) | (sum >> 31)) + ReadU32(bytes);
    for (uint32_t i = 0; i < length % 4; ++i)
        sum = ((sum << 1) | (sum >> 31)) + bytes[i];
    return sum;
}

} // namespace zevrin
