#include "font_name.h"

#include <cstring>

#include "../shared/platform.h"

namespace zevrin {

namespace {

const uint32_t MaxTables = 40;
const uint16_t PlatformMacintosh = 1;
const uint16_t NameFullName = 4;

// TrueType is big-endian.
uint16_t Big16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint32_t Big32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

// Offset of the "name" table, or false.
bool FindNameTable(FileHandle file, uint32_t* offset)
{
    uint8_t head[12];
    if (ReadExact(file, head, sizeof head))
        return false;
    uint32_t tables = Big16(head + 4);
    for (uint32_t i = 0; i < tables && i < MaxTables; ++i) {
        uint8_t record[16];
        if (ReadExact(file, record, sizeof record))
            return false;
        if (std::memcmp(record, "name", 4) == 0) {
            *offset = Big32(record + 8);
            return true;
        }
    }
    return false;
}

// Reads the text of one record into name; positions past the file or a
// short read leave name as it was.
void ReadRecordText(FileHandle file, uint64_t at, uint32_t length, uint32_t fileLength, char* name)
{
    if (length > FontNameMaxLength)
        length = FontNameMaxLength;
    if (at + length > fileLength)
        return;
    char text[FontNameMaxLength + 1];
    if (SeekTo(file, static_cast<uint32_t>(at)) != at || ReadExact(file, text, length))
        return;
    text[length] = '\0';
    std::memcpy(name, text, length + 1);
}

void ReadNames(FileHandle file, uint32_t table, char* name)
{
    uint32_t fileLength = FileLength(file);
    uint8_t head[6];
    if (table > fileLength || SeekTo(file, table) != table || ReadExact(file, head, sizeof head))
        return;
    uint32_t count = Big16(head + 2);
    uint64_t strings = static_cast<uint64_t>(table) + Big16(head + 4);
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t record[12];
        if (ReadExact(file, record, sizeof record))
            return;
        if (Big16(record) != PlatformMacintosh || Big16(record + 6) != NameFullName)
            continue;
        uint32_t next = Tell(file);
        ReadRecordText(file, strings + Big16(record + 10), Big16(record + 8), fileLength, name);
        if (SeekTo(file, next) != next)
            return;
    }
}

} // namespace

bool ReadFontValueName(const char* path, char* name)
{
    name[0] = '\0';
    FileHandle file = OpenExisting(path, 0);
    if (file == INVALID_FILE_HANDLE)
        return false;
    uint32_t table;
    if (FindNameTable(file, &table))
        ReadNames(file, table, name);
    CloseFile(file);
    if (!name[0])
        return false;
    std::strcat(name, " (TrueType)");
    return true;
}

} // namespace zevrin
