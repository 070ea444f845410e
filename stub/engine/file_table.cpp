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
    return at;
}

bool CheckEntry(ByteCursor entry)
{
    if (FieldU8(entry, EntryUninstallMode) != UninstallExternal && FieldU32(entry, EntryPackedSize) == 0)
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

bool CheckFileTable(const uint8_t* table, uint32_t size, uint32_t* badEntry)
{
    ByteCursor in(table, size);
    uint32_t count = in.U32();
    for (uint32_t i = 0; !in.Failed() && i < count; ++i) {
        ByteCursor peek = in;
        if (!CheckEntry(in.Sub(peek.U16()))) {
            if (badEntry)
                *badEntry = i;
            return false;
        }
    }
    if (in.Failed() && badEntry)
        *badEntry = 0;
    return !in.Failed();
}

// Every byte of every installed file goes through here: the words are
// read straight from the buffer (its length bounds the loop), which the
// compiler turns into one load each.
uint32_t RotateAddSum(const uint8_t* bytes, uint32_t length, uint32_t sum)
{
    const uint8_t* end = bytes + (length & ~3u);
    for (; bytes != end; bytes += 4) {
        uint32_t word = bytes[0] | (uint32_t(bytes[1]) << 8) | (uint32_t(bytes[2]) << 16) | (uint32_t(bytes[3]) << 24);
        sum = ((sum << 1) | (sum >> 31)) + word;
    }
    for (uint32_t i = 0; i < length % 4; ++i)
        sum = ((sum << 1) | (sum >> 31)) + bytes[i];
    return sum;
}

void RunningSum::Add(const uint8_t* data, uint32_t size)
{
    length_ += size;
    while (size && held_) {
        carry_[held_++] = *data++;
        --size;
        if (held_ == 4) {
            sum_ = RotateAddSum(carry_, 4, sum_);
            held_ = 0;
        }
    }
    uint32_t whole = size & ~3u;
    sum_ = RotateAddSum(data, whole, sum_);
    for (uint32_t i = whole; i < size; ++i)
        carry_[held_++] = data[i];
}

uint32_t FileChecksum(FileHandle file)
{
    uint8_t* chunk = nullptr;
    if (!AllocWithRetry(ChecksumChunk, &chunk))
        return 0;
    uint32_t at = Tell(file);
    uint32_t length = FileLength(file);
    uint32_t left = length > at ? length - at : 0;
    uint32_t sum = 0;
    while (left) {
        uint32_t got = ReadSome(file, chunk, left < ChecksumChunk ? left : ChecksumChunk);
        // A file that shrank under us ends the sum rather than the loop never.
        if (!got)
            break;
        sum = RotateAddSum(chunk, got, sum);
        left -= got;
    }
    FreeAndClear(&chunk);
    return sum;
}

} // namespace zevrin
