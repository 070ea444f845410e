// Header records: an 8-byte head (u16 tag, flags with bit 0 = compressed,
// reserved byte, u32 body length) and a body, plain or a u32 unpacked size
// followed by one compressed stream. The next head is always found by the
// body length, whatever reading the body consumed.
//
// The header is the one place where the package is judged: every record
// as it is read, and after the last one what the run will use (the
// data region, the start page, the templates it loads), so that nothing
// later meets a damaged package. Each refusal is described in
// LastHeaderFault.
#include "header.h"

#include <cstring>

#include "../decode/decoder.h"
#include "../engine/file_table.h"
#include "../shared/byte_cursor.h"
#include "../shared/messages.h"
#include "../shared/state.h"
#include "templates.h"

namespace zevrin {

HeaderFault LastHeaderFault;

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
    {TagInstallOptions, RawU32, &InstallOptions},
    {TagUpgradeKeep, Text, &UpgradeKeep},
    {TagUninstallerTexts, Buffer, &UninstallerTexts},
    {TagTerminator, Terminator, nullptr},
};

const TagRule* FindTag(uint16_t tag)
{
    for (const TagRule& rule : TagTable)
        if (rule.tag == tag)
            return &rule;
    return nullptr;
}

// Where the records judged after the loop were found, to name them.
struct RecordPlaces {
    uint32_t terminator = 0;
    uint32_t templates = 0;
    uint32_t startPage = 0;
    bool startPageRecord = false;
    bool dataLength = false; // the terminator had a body
};

HeaderProblem Refuse(HeaderFault& fault, HeaderProblem problem, uint32_t number = 0, uint32_t limit = 0)
{
    fault.problem = problem;
    fault.number = number;
    fault.limit = limit;
    return problem;
}

// The user is told of damage; a missing package, a file that cannot be
// opened and a lack of memory are not the package's fault.
bool IsDamage(HeaderProblem problem)
{
    return problem != HeaderNoStub && problem != HeaderCannotOpen && problem != HeaderOutOfMemory;
}

// A stream can unpack to at most 258 bytes per code of one bit or more,
// so about 1032 times its own size. A record that announces more than its
// bytes could hold is damaged; believing it would ask for gigabytes.
bool PlausibleUnpackedSize(uint32_t size, uint32_t packedBytes)
{
    return size <= static_cast<uint64_t>(packedBytes) * 1032 + 1024;
}

// One stream from the handle into its zero-filled buffer. Fewer bytes
// than announced leave zeros; more, or a stream that does not decode, is
// damage. A damaged buffer is freed.
HeaderProblem DecodeInto(FileHandle handle, uint8_t** buffer, HeaderFault& fault)
{
    uint32_t size = BlockSize(*buffer);
    int result = DecodeToMemoryResult(*buffer, size, handle, 0);
    if (result == DecodeOk)
        return HeaderOk;
    FreeAndClear(buffer);
    return Refuse(fault, result == DecodeOutOfMemory ? HeaderOutOfMemory : HeaderStreamDamaged, size);
}

HeaderProblem ReadBody(FileHandle handle, const RecordHead& head, uint8_t** out, HeaderFault& fault)
{
    *out = nullptr;
    uint32_t size = head.bodyLength;
    bool compressed = head.flags & RecordCompressed;
    if (compressed) {
        uint8_t field[4];
        if (ReadExact(handle, field, sizeof field))
            return Refuse(fault, HeaderCutShort);
        size = ByteCursor(field, sizeof field).U32();
        if (!PlausibleUnpackedSize(size, head.bodyLength))
            return Refuse(fault, HeaderStreamTooLarge, size, head.bodyLength);
    }
    // Zero-filled when compressed: a stream that yields less than it
    // announced leaves zeros, not old heap contents.
    if (!(compressed ? AllocZeroedWithRetry(size, out) : AllocWithRetry(size, out)))
        return Refuse(fault, HeaderOutOfMemory, size);
    if (compressed)
        return DecodeInto(handle, out, fault);
    if (ReadExact(handle, *out, head.bodyLength)) {
        FreeAndClear(out);
        return Refuse(fault, HeaderCutShort);
    }
    return HeaderOk;
}

// Texts are used as C strings everywhere: make sure one ends inside its
// buffer, growing it by a terminator when the package left it out.
HeaderProblem TerminateText(uint8_t** text, HeaderFault& fault)
{
    uint32_t size = BlockSize(*text);
    if (ByteCursor(*text, size).Text())
        return HeaderOk;
    uint8_t* longer = nullptr;
    if (!AllocWithRetry(size + 1, &longer))
        return Refuse(fault, HeaderOutOfMemory, size + 1);
    std::memcpy(longer, *text, size);
    longer[size] = 0;
    FreeAndClear(text);
    *text = longer;
    return HeaderOk;
}

// A body into its variable; the later of two records with one tag wins.
HeaderProblem ReadInto(FileHandle handle, const RecordHead& head, uint8_t** target, HeaderFault& fault)
{
    uint8_t* body = nullptr;
    if (HeaderProblem problem = ReadBody(handle, head, &body, fault))
        return problem;
    FreeAndClear(target);
    *target = body;
    return HeaderOk;
}

HeaderProblem ReadGroups(FileHandle handle, uint32_t bodyLength, HeaderFault& fault)
{
    // The reads of the count and the sizes are not examined: what a short
    // read leaves (zeros) is judged with the stream.
    uint8_t field[4] = {};
    ReadExact(handle, field, 2);
    uint16_t count = ByteCursor(field, 2).U16();
    unsigned n = count < MessageGroupCount ? count : MessageGroupCount;
    for (unsigned i = 0; i < n; ++i) {
        std::memset(field, 0, sizeof field);
        ReadExact(handle, field, 4);
        uint32_t size = ByteCursor(field, 4).U32();
        FreeAndClear(&MessageGroups[i]);
        fault.group = static_cast<int>(i);
        if (!PlausibleUnpackedSize(size, bodyLength))
            return Refuse(fault, HeaderStreamTooLarge, size, bodyLength);
        if (!AllocZeroedWithRetry(size, &MessageGroups[i]))
            return Refuse(fault, HeaderOutOfMemory, size);
        // A damaged group is freed, so no text is shown from it.
        uint8_t* group = reinterpret_cast<uint8_t*>(MessageGroups[i]);
        HeaderProblem problem = DecodeInto(handle, &group, fault);
        MessageGroups[i] = reinterpret_cast<char*>(group);
        if (problem)
            return problem;
    }
    fault.group = -1;
    return HeaderOk;
}

HeaderProblem ReadFileTable(FileHandle handle, const RecordHead& head, HeaderFault& fault)
{
    // This record's table replaces an earlier one's; one that fails
    // leaves no table at all, not pointers into a freed one.
    FreeAndClear(&FileTable);
    EntryCount = 0;
    FirstEntry = nullptr;
    if (HeaderProblem problem = ReadBody(handle, head, &FileTable, fault))
        return problem;
    // Everything that walks the table later trusts its shape.
    uint32_t bad = 0;
    if (!CheckFileTable(FileTable, BlockSize(FileTable), &bad)) {
        FreeAndClear(&FileTable);
        return Refuse(fault, HeaderFileTableDamaged, bad);
    }
    EntryCount = ByteCursor(FileTable, BlockSize(FileTable)).U32();
    FirstEntry = FileTable + 4;
    return HeaderOk;
}

HeaderProblem ReadTitleStyle(FileHandle handle, const RecordHead& head, HeaderFault& fault)
{
    if (HeaderProblem problem = ReadInto(handle, head, &TitleStyle, fault))
        return problem;
    if (BlockSize(TitleStyle) >= TitleStyleSize)
        return HeaderOk;
    // A short record is padded with zeros rather than read past.
    uint8_t* full = nullptr;
    if (!AllocZeroedWithRetry(TitleStyleSize, &full))
        return Refuse(fault, HeaderOutOfMemory, TitleStyleSize);
    std::memcpy(full, TitleStyle, BlockSize(TitleStyle));
    FreeAndClear(&TitleStyle);
    TitleStyle = full;
    return HeaderOk;
}

HeaderProblem ReadInstallDir(FileHandle handle, const RecordHead& head, HeaderFault& fault)
{
    uint8_t* body = nullptr;
    if (HeaderProblem problem = ReadBody(handle, head, &body, fault))
        return problem;
    // At most 259 characters fit; the authoring tool refuses longer. The
    // cursor gives 0 at the end of a text without terminator.
    ByteCursor in(body, BlockSize(body));
    uint32_t length = 0;
    while (length < PathSize - 1) {
        uint8_t c = in.U8();
        if (!c)
            break;
        InstallDir[length++] = static_cast<char>(c);
    }
    InstallDir[length] = 0;
    FreeAndClear(&body);
    return HeaderOk;
}

HeaderProblem ReadTerminator(FileHandle handle, uint32_t fileLength, HeaderFault& fault)
{
    DataLengthOffset = Tell(handle);
    uint8_t field[4];
    if (ReadExact(handle, field, sizeof field))
        return Refuse(fault, HeaderCutShort);
    VolumeDataLength = ByteCursor(field, sizeof field).U32();
    // 64-bit sum: a huge declared length must not wrap round and pass.
    if (static_cast<uint64_t>(DataLengthOffset) + 4 + VolumeDataLength <= fileLength)
        PackageComplete = true;
    VolumeBytesLeft = VolumeDataLength;
    return HeaderOk;
}

HeaderProblem HandleRecord(FileHandle handle, const RecordHead& head, uint32_t fileLength, HeaderFault& fault)
{
    const TagRule* rule = FindTag(head.tag);
    if (!rule)
        return HeaderOk;
    uint8_t field[4] = {};
    switch (rule->kind) {
    case RawU32:
        // A short raw read changes nothing that matters: go on.
        if (ReadExact(handle, field, 4) == 0)
            *static_cast<uint32_t*>(rule->target) = ByteCursor(field, 4).U32();
        return HeaderOk;
    case RawU16:
        if (ReadExact(handle, field, 2))
            return Refuse(fault, HeaderCutShort);
        StartPage = ByteCursor(field, 2).U16();
        PackageComplete = true;
        return HeaderOk;
    case Text: {
        uint8_t** target = static_cast<uint8_t**>(rule->target);
        HeaderProblem problem = ReadInto(handle, head, target, fault);
        return problem ? problem : TerminateText(target, fault);
    }
    case Buffer:
        if (HeaderProblem problem = ReadInto(handle, head, static_cast<uint8_t**>(rule->target), fault))
            return problem;
        if (head.tag == TagTemplateBlob)
            TemplateBlobSize = BlockSize(TemplateBlob);
        return HeaderOk;
    case InstallDirText: return ReadInstallDir(handle, head, fault);
    case Groups: return ReadGroups(handle, head.bodyLength, fault);
    case Files: return ReadFileTable(handle, head, fault);
    case Style: return ReadTitleStyle(handle, head, fault);
    case Terminator: return ReadTerminator(handle, fileLength, fault);
    }
    return HeaderOk;
}

// The record loop, up to and including the terminator.
HeaderProblem ReadRecords(FileHandle handle, uint32_t fileLength, RecordPlaces& places, HeaderFault& fault)
{
    for (;;) {
        uint32_t headAt = Tell(handle);
        fault.tag = 0;
        fault.offset = headAt;
        uint8_t raw[RecordHeadSize];
        if (ReadExact(handle, raw, RecordHeadSize))
            return Refuse(fault, HeaderCutShort);
        ByteCursor in(raw, RecordHeadSize);
        RecordHead head;
        head.tag = in.U16();
        head.flags = in.U8();
        head.reserved = in.U8();
        head.bodyLength = in.U32();
        fault.tag = head.tag;
        if (head.tag == TagTerminator)
            places.terminator = headAt;
        if (head.bodyLength == 0) {
            // A terminator without a body ends the header untested.
            if (head.tag == TagTerminator)
                return HeaderOk;
            continue;
        }
        uint32_t at = Tell(handle);
        // A record that claims more than the file holds is damaged (and its
        // end could wrap round to an earlier record). The terminator's
        // length is only a marker; the completeness test judges it.
        if (head.tag != TagTerminator && (at > fileLength || head.bodyLength > fileLength - at))
            return Refuse(fault, HeaderRecordTooLong, head.bodyLength, at > fileLength ? 0 : fileLength - at);
        uint32_t next = at + head.bodyLength;
        if (HeaderProblem problem = HandleRecord(handle, head, fileLength, fault))
            return problem;
        if (head.tag == TagTemplateBlob)
            places.templates = headAt;
        if (head.tag == TagStartPage) {
            places.startPage = headAt;
            places.startPageRecord = true;
        }
        if (head.tag == TagTerminator) {
            places.dataLength = true;
            return HeaderOk;
        }
        SeekTo(handle, next);
    }
}

// What the run uses, judged once the records are in.
HeaderProblem CheckWhatTheRunUses(const RecordPlaces& places, uint32_t fileLength, HeaderFault& fault)
{
    fault = HeaderFault();
    if (!PackageComplete) {
        fault.tag = TagTerminator;
        fault.offset = places.terminator;
        if (!places.dataLength)
            return Refuse(fault, HeaderIncomplete);
        return Refuse(fault, HeaderIncomplete, VolumeDataLength, fileLength - DataLengthOffset - 4);
    }
    // Page 6 only marks the end of the wizard: a run that starts there
    // shows and installs nothing.
    if (StartPage != WizardMode && StartPage >= EndPage) {
        if (places.startPageRecord) {
            fault.tag = TagStartPage;
            fault.offset = places.startPage;
        }
        return Refuse(fault, HeaderStartPageInvalid, StartPage);
    }
    TemplateFault bad;
    if (!CheckTemplateBlob(TemplateBlob, TemplateBlobSize, HeaderFlags & FlagFullScreen, StartPage, &bad)) {
        if (TemplateBlob) {
            fault.tag = TagTemplateBlob;
            fault.offset = places.templates;
        }
        fault.templates = bad;
        return Refuse(fault, HeaderTemplatesDamaged, bad.number);
    }
    return HeaderOk;
}

HeaderProblem ReadHeader(HeaderFault& fault)
{
    uint32_t stubLength = StubLength();
    if (stubLength == 0)
        return Refuse(fault, HeaderNoStub);
    // The stamp gives the start page; record 4676 may overwrite it.
    StartPage = StampStartPage();
    std::memcpy(PackagePath, PackageSourcePath, PathSize);
    PackagePath[PathSize - 1] = 0;
    FileHandle handle = OpenExisting(PackagePath, 0);
    if (handle == INVALID_FILE_HANDLE)
        return Refuse(fault, HeaderCannotOpen);
    uint32_t fileLength = FileLength(handle);
    SeekTo(handle, stubLength);
    PackageComplete = false;
    RecordPlaces places;
    HeaderProblem problem = ReadRecords(handle, fileLength, places, fault);
    CloseFile(handle);
    return problem ? problem : CheckWhatTheRunUses(places, fileLength, fault);
}

} // namespace

int ReadRecordBody(FileHandle handle, const RecordHead& head, uint8_t** out)
{
    HeaderFault ignored;
    HeaderProblem problem = ReadBody(handle, head, out, ignored);
    return problem == HeaderOk ? 0 : problem == HeaderOutOfMemory ? 5 : 1;
}

bool ReadPackageHeader()
{
    LastHeaderFault = HeaderFault();
    HeaderProblem problem = ReadHeader(LastHeaderFault);
    if (problem == HeaderOk)
        return true;
    if (IsDamage(problem))
        ShowInvalidData();
    return false;
}

void ForgetPackageHeader()
{
    FreeHeaderData();
    HeaderFlags = 0;
    InstallOptions = 0;
    PrevDirRootIndex = 0;
    StartPage = StampStartPage();
    InstallDir[0] = 0;
    PackageComplete = false;
    DataLengthOffset = 0;
    VolumeNumber = VolumeDataLength = VolumeBytesLeft = 0;
    LastHeaderFault = HeaderFault();
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
    FreeAndClear(&UpgradeKeep);
    FreeAndClear(&TemplateBlob);
    TemplateBlobSize = 0;
    FreeAndClear(&FileTable);
    EntryCount = 0;
    FirstEntry = nullptr;
    FreeAndClear(&TitleStyle);
    FreeAndClear(&UninstallerTexts);
    for (int i = 0; i < MessageGroupCount; ++i)
        FreeAndClear(&MessageGroups[i]);
}

} // namespace zevrin
