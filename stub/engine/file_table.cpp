// Walking and checking the file table; the file checksum.
#include "file_table.h"

namespace zevrin {

namespace {

// An entry's bytes: its own NextOffset of them.
ByteCursor EntryBytes(const uint8_t* entry) { return ByteCursor(entry, ByteCursor(entry, 2).U16()); }

uint8_t FieldU8(ByteCursor entry, uint32_t field)
{
    entry.Skip(field);
    return entry.U8();
}

uint32_t FieldU32(ByteCursor entry, uint32_t field)
{
    entry.Skip(field);
    return entry.U32();
}

uint32_t StringsOffset(const ByteCursor& entry)
{
    uint8_t flags = FieldU8(entry, EntryFlags);
    uint32_t at = EntryFixedSize;
    if (flags & (FlagCheckVersion | FlagCheckLanguage))
        at += VersionBlockSize;
    if (flags & FlagHasFileTimes)
        at += FileTimesSize;
    if (flags & FlagSameAsEntry)
        at += SourceEntrySize;
    return at;
}

uint32_t SourceIndex(ByteCursor entry)
{
    entry.Skip(StringsOffset(entry) - SourceEntrySize);
    return entry.U32();
}

bool HasOwnStream(ByteCursor entry)
{
    return !(FieldU8(entry, EntryFlags) & FlagSameAsEntry) && FieldU8(entry, EntryUninstallMode) != UninstallExternal;
}

// A copy in itself (its source is checked with the whole table).
bool CheckCopy(ByteCursor entry, uint32_t index)
{
    return FieldU32(entry, EntryPackedSize) == 0 && FieldU8(entry, EntryUninstallMode) != UninstallExternal &&
           !(FieldU8(entry, EntryFlags) & FlagUninstallerFile) && SourceIndex(entry) < index;
}

bool CheckEntry(ByteCursor entry, uint32_t index, bool* copy)
{
    *copy = (FieldU8(entry, EntryFlags) & FlagSameAsEntry) != 0;
    if (*copy ? !CheckCopy(entry, index) : HasOwnStream(entry) && FieldU32(entry, EntryPackedSize) == 0)
        return false;
    entry.Skip(StringsOffset(entry));
    for (int n = 0; n < EntryStringCount; ++n)
        entry.Text();
    return !entry.Failed();
}

} // namespace

uint32_t EntryStringsOffset(const uint8_t* entry) { return StringsOffset(EntryBytes(entry)); }

const char* EntryString(const uint8_t* entry, int n)
{
    ByteCursor in = EntryBytes(entry);
    in.Skip(StringsOffset(in));
    for (int i = 0; i < n; ++i)
        in.Text();
    const char* text = in.Text();
    return text ? text : "";
}

const uint8_t* NextEntry(const uint8_t* entry) { return entry + ByteCursor(entry, 2).U16(); }

uint8_t EntryByte(const uint8_t* entry, uint32_t field) { return FieldU8(EntryBytes(entry), field); }

uint32_t EntryU32(const uint8_t* entry, uint32_t field) { return FieldU32(EntryBytes(entry), field); }

uint32_t EntrySourceIndex(const uint8_t* entry) { return SourceIndex(EntryBytes(entry)); }

namespace {

// Each copy against the entry it names: one with a stream of its own and
// the same size and checksum. Entries are found through a table of their
// offsets, so a long table of copies costs one walk.
bool CheckCopySources(const uint8_t* table, uint32_t count, uint32_t* badEntry)
{
    uint32_t* offsets = nullptr;
    if (!AllocWithRetry(count * 4, &offsets)) {
        *badEntry = 0;
        return false;
    }
    const uint8_t* entry = table + 4;
    bool ok = true;
    for (uint32_t i = 0; ok && i < count; ++i, entry = NextEntry(entry)) {
        offsets[i] = static_cast<uint32_t>(entry - table);
        if (!(EntryByte(entry, EntryFlags) & FlagSameAsEntry))
            continue;
        const uint8_t* source = table + offsets[EntrySourceIndex(entry)];
        ok = HasOwnStream(EntryBytes(source)) && !(EntryByte(source, EntryFlags) & FlagUninstallerFile) &&
             EntryU32(source, EntryFileSize) == EntryU32(entry, EntryFileSize) &&
             EntryU32(source, EntryChecksum) == EntryU32(entry, EntryChecksum);
        if (!ok)
            *badEntry = i;
    }
    FreeAndClear(&offsets);
    return ok;
}

} // namespace

bool CheckFileTable(const uint8_t* table, uint32_t size, uint32_t* badEntry)
{
    ByteCursor in(table, size);
    uint32_t count = in.U32();
    bool copies = false;
    for (uint32_t i = 0; !in.Failed() && i < count; ++i) {
        ByteCursor peek = in;
        bool copy = false;
        if (!CheckEntry(in.Sub(peek.U16()), i, &copy)) {
            if (badEntry)
                *badEntry = i;
            return false;
        }
        copies = copies || copy;
    }
    if (in.Failed() && badEntry)
        *badEntry = 0;
    if (in.Failed())
        return false;
    uint32_t bad = 0;
    if (copies && !CheckCopySources(table, count, &bad)) {
        if (badEntry)
            *badEntry = bad;
        return false;
    }
    return true;
}

} // namespace zevrin
