// Header records: an 8-byte head (u16 tag, flags with bit 0 = compressed,
// reserved byte, u32 body length) and a body, plain or a u32 unpacked size
// followed by one compressed stream. The next head is always found by the
// body length, whatever reading the body consumed.
//
// ReadPackageHeader's internal errors (never shown): 1 read failure or a
// damaged record, 5 out of memory for a body, 12 out of memory for a
// message group.
#include "header.h"

#include <cstring>

#include "../decode/decoder.h"
#include "../engine/file_table.h"
#include "../shared/state.h"
#include "../shared/messages.h"

namespace zevrin {

namespace {

enum BodyKind { RawU32, RawU16, Text, Buffer, InstallDirText, Groups, Files, Style, Terminator };

struct TagRule {
    uint16_t tag;
    BodyKind kind;
    void* target;
};

const TagRule TagTable[] = {
    {TagHeaderFlags, RawU32, &HeaderFlags},
    {TagDefaultInstallDir, InstallDirText, nullptr},
    {TagFrameBitmap, Buffer, &FrameBitmap},
    {TagBackgroundBitmap, Buffer, &BackgroundBitmap},
    {TagUninstallName, Text, &UninstallName},
    {TagBackgroundTitle, Text, &BackgroundTitle},
    {TagMessageGroups, Groups, nullptr},
    {TagPrevDirRoot, RawU32, &PrevDirRootIndex},
    {TagPrevDirKey, Text, &PrevDirKey},
    {TagPrevDirValue, Text, &PrevDirValue},
    {TagPrevDirIniFile, Text, &PrevDirIniFile},
    {TagPrevDirIniSection, Text, &PrevDirIniSection},
    {TagPrevDirIniKey, Text, &PrevDirIniKey},
    {TagTemplateBlob, Buffer, &TemplateBlob},
    {TagFileTable, Files, nullptr},
    {TagStartPage, RawU16, &StartPage},
    {TagTitleStyle, Style, &TitleStyle},
    {TagTerminator, Terminator, nullptr},
};

const TagRule* FindTag(uint16_t tag)
{
    for (const TagRule& rule : TagTable)
        if (rule.tag == tag)
            return &rule;
    return nullptr;
}

// A stream can unpack to at most 258 bytes per code of one bit or more,
// so about 1032 times its own size. A record that announces more than its
// bytes could hold is damaged; believing it would ask for gigabytes.
bool PlausibleUnpackedSize(uint32_t size, uint32_t packedBytes)
{
    return size <= static_cast<uint64_t>(packedBytes) * 1032 + 1024;
}

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

// Texts are used as C strings everywhere: make sure one ends inside its
// buffer, growing it by a terminator when the package left it out.
int TerminateText(uint8_t** text)
{
    uint32_t size = BlockSize(*text);
    if (size && std::memchr(*text, 0, size))
        return 0;
    uint8_t* longer = nullptr;
    if (!AllocWithRetry(size + 1, &longer))
        return 5;
    std::memcpy(longer, *text, size);
    longer[size] = 0;
    FreeAndClear(text);
    *text = longer;
    return 0;
}

// A body into its variable; the later of two records with one tag wins.
int ReadInto(FileHandle handle, const RecordHead& head, uint8_t** target)
{
    uint8_t* body = nullptr;
    int error = ReadRecordBody(handle, head, &body);
    if (error)
        return error;
    FreeAndClear(target);
    *target = body;
    return 0;
}

int ReadGroups(FileHandle handle, uint32_t bodyLength)
{
    uint8_t field[4] = {};
    ReadExact(handle, field, 2);
    uint16_t count = static_cast<uint16_t>(field[0] | field[1] << 8);
    unsigned n = count < MessageGroupCount ? count : MessageGroupCount;
    for (unsigned i = 0; i < n; ++i) {
        std::memset(field, 0, sizeof field);
        ReadExact(handle, field, 4);
        FreeAndClear(&MessageGroups[i]);
        if (!PlausibleUnpackedSize(Le32(field), bodyLength))
            return 1;
        if (!AllocZeroedWithRetry(Le32(field), &MessageGroups[i]))
            return 12;
        DecodeToMemory(reinterpret_cast<uint8_t*>(MessageGroups[i]), handle, 0);
    }
    return 0;
}

int ReadFileTable(FileHandle handle, const RecordHead& head)
{
    int error = ReadInto(handle, head, &FileTable);
    if (error)
        return error;
    // Everything that walks the table later trusts its shape.
    if (!CheckFileTable(FileTable, BlockSize(FileTable))) {
        FreeAndClear(&FileTable);
        return 1;
    }
    EntryCount = Le32(FileTable);
    FirstEntry = FileTable + 4;
    return 0;
}

int ReadTitleStyle(FileHandle handle, const RecordHead& head)
{
    int error = ReadInto(handle, head, &TitleStyle);
    if (error || BlockSize(TitleStyle) >= TitleStyleSize)
        return error;
    // A short record is padded with zeros rather than read past.
    uint8_t* full = nullptr;
    if (!AllocZeroedWithRetry(TitleStyleSize, &full))
        return 5;
    std::memcpy(full, TitleStyle, BlockSize(TitleStyle));
    FreeAndClear(&TitleStyle);
    TitleStyle = full;
    return 0;
}

int ReadTerminator(FileHandle handle, uint32_t fileLength)
{
    DataLengthOffset = Tell(handle);
    uint8_t field[4];
    if (ReadExact(handle, field, 4))
        return 1;
    VolumeDataLength = Le32(field);
    // 64-bit sum: a huge declared length must not wrap round and pass.
    if (static_cast<uint64_t>(DataLengthOffset) + 4 + VolumeDataLength <= fileLength)
        PackageComplete = true;
    VolumeBytesLeft = VolumeDataLength;
    return 0;
}

int HandleRecord(FileHandle handle, const RecordHead& head, uint32_t fileLength)
{
    const TagRule* rule = FindTag(head.tag);
    if (!rule)
        return 0;
    uint8_t field[4] = {};
    switch (rule->kind) {
    case RawU32:
        // A short raw read changes nothing that matters: go on.
        if (ReadExact(handle, field, 4) == 0)
            *static_cast<uint32_t*>(rule->target) = Le32(field);
        return 0;
    case RawU16:
        if (ReadExact(handle, field, 2))
            return 1;
        StartPage = static_cast<uint16_t>(field[0] | field[1] << 8);
        PackageComplete = true;
        return 0;
    case Text: {
        uint8_t** target = static_cast<uint8_t**>(rule->target);
        int error = ReadInto(handle, head, target);
        return error ? error : TerminateText(target);
    }
    case Buffer:
        if (int error = ReadInto(handle, head, static_cast<uint8_t**>(rule->target)))
            return error;
        if (head.tag == TagTemplateBlob)
            TemplateBlobSize = BlockSize(TemplateBlob);
        return 0;
    case InstallDirText: {
        uint8_t* body = nullptr;
        if (int error = ReadRecordBody(handle, head, &body))
            return error;
        // At most 259 characters fit; the authoring tool refuses longer.
        uint32_t size = BlockSize(body);
        uint32_t length = 0;
        while (length < size && length < PathSize - 1 && body[length])
            ++length;
        std::memcpy(InstallDir, body, length);
        InstallDir[length] = 0;
        FreeAndClear(&body);
        return 0;
    }
    case Groups: return ReadGroups(handle, head.bodyLength);
    case Files: return ReadFileTable(handle, head);
    case Style: return ReadTitleStyle(handle, head);
    case Terminator: return ReadTerminator(handle, fileLength);
    }
    return 0;
}

} // namespace

int ReadRecordBody(FileHandle handle, const RecordHead& head, uint8_t** out)
{
    uint32_t size = head.bodyLength;
    bool compressed = head.flags & RecordCompressed;
    if (compressed) {
        uint8_t field[4];
        if (ReadExact(handle, field, 4))
            return 1;
        size = Le32(field);
        if (!PlausibleUnpackedSize(size, head.bodyLength))
            return 1;
    }
    // Zero-filled when compressed: a stream that yields less than it
    // announced leaves zeros, not old heap contents.
    if (!(compressed ? AllocZeroedWithRetry(size, out) : AllocWithRetry(size, out)))
        return 5;
    if (compressed) {
        DecodeToMemory(*out, handle, 0);
        return 0;
    }
    if (ReadExact(handle, *out, head.bodyLength)) {
        FreeAndClear(out);
        return 1;
    }
    return 0;
}

bool ReadPackageHeader()
{
    uint32_t stubLength = StubLength();
    if (stubLength == 0)
        return false;
    std::memcpy(PackagePath, PackageSourcePath, PathSize);
    PackagePath[PathSize - 1] = 0;
    FileHandle handle = OpenExisting(PackagePath, 0);
    if (handle == INVALID_FILE_HANDLE)
        return false;
    uint32_t fileLength = FileLength(handle);
    SeekTo(handle, stubLength);
    PackageComplete = false;

    int error = 0;
    for (;;) {
        uint8_t raw[RecordHeadSize];
        if (ReadExact(handle, raw, RecordHeadSize)) {
            error = 1;
            break;
        }
        RecordHead head{static_cast<uint16_t>(raw[0] | raw[1] << 8), raw[2], raw[3], Le32(raw + 4)};
        if (head.bodyLength == 0) {
            if (head.tag == TagTerminator)
                break;
            continue;
        }
        uint32_t at = Tell(handle);
        // A record that claims more than the file holds is damaged (and its
        // end could wrap round to an earlier record). The terminator's
        // length is only a marker; the completeness test judges it.
        if (head.tag != TagTerminator && (at > fileLength || head.bodyLength > fileLength - at)) {
            error = 1;
            break;
        }
        uint32_t next = at + head.bodyLength;
        error = HandleRecord(handle, head, fileLength);
        if (error || head.tag == TagTerminator)
            break;
        SeekTo(handle, next);
    }
    CloseFile(handle);

    if (error)
        return false;
    if (PackageComplete)
        return true;
    const char* text = GetMessageText(GroupMessages, MsgInvalidData);
    if (*text)
        ShowMessage(text, MessageInformation);
    return false;
}

void ForgetPackageHeader()
{
    FreeHeaderData();
    HeaderFlags = 0;
    PrevDirRootIndex = 0;
    StartPage = StampStartPage();
    InstallDir[0] = 0;
    PackageComplete = false;
    DataLengthOffset = 0;
    VolumeNumber = VolumeDataLength = VolumeBytesLeft = 0;
}

void FreeHeaderData()
{
    FreeAndClear(&FrameBitmap);
    FreeAndClear(&BackgroundBitmap);
    FreeAndClear(&UninstallName);
    FreeAndClear(&BackgroundTitle);
    FreeAndClear(&PrevDirKey);
    FreeAndClear(&PrevDirValue);
    FreeAndClear(&PrevDirIniFile);
    FreeAndClear(&PrevDirIniSection);
    FreeAndClear(&PrevDirIniKey);
    FreeAndClear(&TemplateBlob);
    TemplateBlobSize = 0;
    FreeAndClear(&FileTable);
    EntryCount = 0;
    FirstEntry = nullptr;
    FreeAndClear(&TitleStyle);
    for (int i = 0; i < MessageGroupCount; ++i)
        FreeAndClear(&MessageGroups[i]);
}

} // namespace zevrin
