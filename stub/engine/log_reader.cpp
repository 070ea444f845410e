#include "log_reader.h"

#include <cstring>

#include "paths.h"
#include "../shared/state.h"

namespace zevrin {

uint32_t PeImageEnd(const uint8_t* file, uint32_t size)
{
    ByteCursor dos(file, size);
    if (dos.U16() != 0x5A4D) // "MZ"
        return 0;
    dos.Skip(0x3C - 2);
    uint32_t pe = dos.U32();
    if (dos.Failed() || pe > size)
        return 0;
    ByteCursor in(file + pe, size - pe);
    uint32_t signature = in.U32();
    in.Skip(2); // machine
    uint16_t sections = in.U16();
    in.Skip(12);
    uint16_t optionalSize = in.U16();
    in.Skip(2);
    in.Skip(optionalSize);
    if (in.Failed() || signature != 0x4550 || sections == 0)
        return 0;
    uint32_t end = pe + in.Offset() + sections * 40u;
    for (uint16_t i = 0; i < sections; ++i) {
        ByteCursor section = in.Sub(40);
        section.Skip(16);
        uint32_t rawSize = section.U32();
        uint32_t rawOffset = section.U32();
        if (in.Failed() || (rawSize && (rawOffset > size || rawSize > size - rawOffset)))
            return 0;
        if (rawSize && rawOffset + rawSize > end)
            end = rawOffset + rawSize;
    }
    return end <= size ? end : 0;
}

namespace {

bool ReadText(ByteCursor* in, LogText* text)
{
    uint16_t length = in->U16();
    const uint8_t* bytes = in->Bytes(length);
    if (in->Failed() || length >= PathSize || (length && std::memchr(bytes, 0, length)))
        return false;
    text->text = reinterpret_cast<const char*>(bytes);
    text->length = length;
    return true;
}

bool Equals(const LogText& text, const char* other)
{
    return std::strlen(other) == text.length && std::memcmp(text.text, other, text.length) == 0;
}

// No part of the path is "..": a log that climbs out of a folder names
// something the installation did not make.
bool HasNoParentPart(const LogText& text)
{
    size_t start = 0;
    for (size_t i = 0; i <= text.length; ++i) {
        if (i == text.length || text.text[i] == '\\' || text.text[i] == '/') {
            if (i - start == 2 && text.text[start] == '.' && text.text[start + 1] == '.')
                return false;
            start = i + 1;
        }
    }
    return true;
}

// A drive path "X:\..." or a network path "\\server\...".
bool IsFullPath(const LogText& text)
{
    const char* t = text.text;
    if (text.length >= 3 && ((t[0] | 0x20) >= 'a' && (t[0] | 0x20) <= 'z') && t[1] == ':' && t[2] == '\\')
        return true;
    return text.length >= 3 && t[0] == '\\' && t[1] == '\\' && t[2] != '\\';
}

bool IsRelative(const LogText& folder)
{
    return Equals(folder, ".") || (folder.length > 2 && folder.text[0] == '.' && folder.text[1] == '\\');
}

bool GoodFolder(const LogText& folder, bool relativeAllowed)
{
    if (!HasNoParentPart(folder))
        return false;
    if (relativeAllowed && IsRelative(folder)) {
        // Exactly one leading ".", and no drive or root behind it.
        return folder.length == 1 || (folder.text[2] != '\\' && folder.text[2] != '/' &&
                                      !std::memchr(folder.text, ':', folder.length));
    }
    return IsFullPath(folder);
}

bool GoodName(const LogText& name)
{
    if (name.length == 0 || Equals(name, ".") || Equals(name, ".."))
        return false;
    for (uint16_t i = 0; i < name.length; ++i)
        if (name.text[i] == '\\' || name.text[i] == '/' || name.text[i] == ':')
            return false;
    return true;
}

bool EndsWithLink(const LogText& name)
{
    return name.length > 4 && StartsWithFolded(name.text + name.length - 4, ".lnk");
}

bool ReadItem(ByteCursor* in, bool file, LogItem* item)
{
    if (!ReadText(in, &item->folder) || !ReadText(in, &item->name))
        return false;
    if (file)
        item->flags = in->U8();
    if (in->Failed() || !GoodName(item->name) || !GoodFolder(item->folder, file))
        return false;
    return file ? (item->flags & ~(LogItemShared | LogItemFont | LogItemSelfRegister)) == 0
                : EndsWithLink(item->name);
}

// A record body of a u32 count and exactly that many items.
bool ReadItems(ByteCursor body, bool file, ByteCursor* items, uint32_t* count)
{
    *count = body.U32();
    *items = ByteCursor(body.Bytes(0), body.Left());
    if (body.Failed())
        return false;
    // Each item takes at least five bytes: a count larger than that is a lie.
    if (*count > body.Left() / 4)
        return false;
    for (uint32_t i = 0; i < *count; ++i) {
        LogItem item;
        if (!ReadItem(&body, file, &item))
            return false;
    }
    return !body.Failed() && body.Left() == 0;
}

bool ReadHead(ByteCursor* in, RecordHead* head)
{
    head->tag = in->U16();
    head->flags = in->U8();
    head->reserved = in->U8();
    head->bodyLength = in->U32();
    return !in->Failed() && head->flags == 0 && head->reserved == 0;
}

bool ReadKey(ByteCursor body, UninstallLogView* log)
{
    uint32_t root = body.U32();
    if ((root != LogRootLocalMachine && root != LogRootCurrentUser) || !ReadText(&body, &log->key) ||
        body.Left() != 0)
        return false;
    log->perUser = root == LogRootCurrentUser;
    // Only a per-user log says its root without a key.
    if (log->perUser && log->key.length == 0)
        return true;
    // Only a product's own key below the uninstall list, never the list.
    size_t prefix = std::strlen(UninstallKeyPrefix);
    if (log->key.length <= prefix || !StartsWithFolded(log->key.text, UninstallKeyPrefix))
        return false;
    LogText rest = {log->key.text + prefix, static_cast<uint16_t>(log->key.length - prefix)};
    for (uint16_t i = 0; i < rest.length; ++i)
        if (rest.text[i] == '\\')
            return false;
    log->hasKey = true;
    return true;
}

bool ReadFolder(ByteCursor* in, LogText* folder)
{
    // A whole folder below a drive or share, never a root or a climb out.
    return ReadText(in, folder) && IsFullPath(*folder) && HasNoParentPart(*folder) && folder->length > 3 &&
           folder->text[folder->length - 1] != '\\' && folder->text[folder->length - 1] != '/';
}

bool ReadFolders(ByteCursor body, UninstallLogView* log)
{
    log->folderCount = body.U32();
    log->folders = ByteCursor(body.Bytes(0), body.Left());
    // Each folder takes at least six bytes.
    if (body.Failed() || log->folderCount > body.Left() / 6)
        return false;
    for (uint32_t i = 0; i < log->folderCount; ++i) {
        LogText folder;
        if (!ReadFolder(&body, &folder))
            return false;
    }
    log->hasFolders = true;
    return !body.Failed() && body.Left() == 0;
}

// A key below a root: parts without empty ones, no leading or final '\'.
bool GoodKey(const LogText& key)
{
    if (key.length == 0 || key.text[0] == '\\' || key.text[key.length - 1] == '\\')
        return false;
    for (uint16_t i = 1; i < key.length; ++i)
        if (key.text[i] == '\\' && key.text[i - 1] == '\\')
            return false;
    return true;
}

unsigned KeyParts(const LogText& key)
{
    unsigned parts = 1;
    for (uint16_t i = 0; i < key.length; ++i)
        parts += key.text[i] == '\\';
    return parts;
}

bool ReadRegistryValue(ByteCursor body, UninstallLogView* log)
{
    log->registryRoot = body.U32();
    if (body.Failed() || log->registryRoot < LogRootFirst || log->registryRoot > LogRootLast ||
        !ReadText(&body, &log->registryKey) || !ReadText(&body, &log->registryValue))
        return false;
    log->registryMadeParts = body.U8();
    if (body.Failed() || body.Left() != 0 || !GoodKey(log->registryKey) ||
        log->registryMadeParts > KeyParts(log->registryKey))
        return false;
    log->hasRegistryValue = true;
    return true;
}

bool ReadProfileEntry(ByteCursor body, UninstallLogView* log)
{
    if (!ReadText(&body, &log->profileFile) || !ReadText(&body, &log->profileSection) ||
        !ReadText(&body, &log->profileKey))
        return false;
    log->profileFlags = body.U8();
    if (body.Failed() || body.Left() != 0 || !log->profileFile.length || !HasNoParentPart(log->profileFile) ||
        !log->profileSection.length || !log->profileKey.length ||
        (log->profileFlags & ~(LogProfileNewSection | LogProfileNewFile)) != 0)
        return false;
    log->hasProfileEntry = true;
    return true;
}

// Exactly one pair per file item.
bool ReadSums(ByteCursor body, UninstallLogView* log)
{
    uint32_t count = body.U32();
    if (body.Failed() || count != log->fileCount || body.Left() != static_cast<uint64_t>(count) * 8)
        return false;
    log->sums = ByteCursor(body.Bytes(0), body.Left());
    log->hasSums = true;
    return true;
}

} // namespace

namespace {

// The records from an optional 4680 to the terminator, which ends `in`.
LogProblem ReadRecords(ByteCursor in, UninstallLogView* log)
{
    RecordHead head;
    if (!ReadHead(&in, &head))
        return LogDamaged;
    if (head.tag == LogTagTexts) {
        log->textsSize = head.bodyLength;
        log->texts = in.Bytes(head.bodyLength);
        if (in.Failed() || !ReadHead(&in, &head)) {
            log->texts = nullptr;
            return LogDamaged;
        }
    }
    if (head.tag == LogTagEnd && head.bodyLength == 0 && in.Left() == 0)
        return LogNotWritten;
    log->logStart = log->imageEnd + in.Offset() - LogHeadSize;
    log->fileSize = log->imageEnd + in.Offset() + in.Left();
    if (head.tag != LogTagFiles || !ReadItems(in.Sub(head.bodyLength), true, &log->files, &log->fileCount) ||
        !ReadHead(&in, &head))
        return LogDamaged;
    if (head.tag == LogTagShortcuts) {
        if (!ReadItems(in.Sub(head.bodyLength), false, &log->shortcuts, &log->shortcutCount) || !ReadHead(&in, &head))
            return LogDamaged;
    }
    if (head.tag == LogTagUninstallKey) {
        if (!ReadKey(in.Sub(head.bodyLength), log) || !ReadHead(&in, &head))
            return LogDamaged;
    }
    // The remembered folder comes only with the list of folders made.
    if (head.tag == LogTagFolders) {
        if (!ReadFolders(in.Sub(head.bodyLength), log) || !ReadHead(&in, &head))
            return LogDamaged;
        if (head.tag == LogTagRegistryValue &&
            (!ReadRegistryValue(in.Sub(head.bodyLength), log) || !ReadHead(&in, &head)))
            return LogDamaged;
        if (head.tag == LogTagProfileEntry &&
            (!ReadProfileEntry(in.Sub(head.bodyLength), log) || !ReadHead(&in, &head)))
            return LogDamaged;
    }
    if (head.tag == LogTagFileSums && (!ReadSums(in.Sub(head.bodyLength), log) || !ReadHead(&in, &head)))
        return LogDamaged;
    if (head.tag != LogTagEnd || head.bodyLength != 0 || in.Left() != 0)
        return LogDamaged;
    return LogOk;
}

// The whole file into a block of its own; null when it cannot be read.
uint8_t* ReadWholeFile(const char* path, uint32_t* size, bool* missing)
{
    *size = 0;
    *missing = false;
    FileHandle handle = OpenExisting(path, 0);
    if (handle == INVALID_FILE_HANDLE) {
        *missing = true;
        return nullptr;
    }
    uint8_t* bytes = nullptr;
    uint32_t length = FileLength(handle);
    // The program is small and the log a list of paths.
    bool read = length != 0xFFFFFFFFu && length < 0x10000000u && AllocWithRetry(length ? length : 1, &bytes) &&
                ReadExact(handle, bytes, length) == 0;
    CloseFile(handle);
    if (!read) {
        FreeAndClear(&bytes);
        return nullptr;
    }
    *size = length;
    return bytes;
}

} // namespace

bool PeHasSignature(const uint8_t* file, uint32_t size)
{
    ByteCursor dos(file, size);
    if (dos.U16() != 0x5A4D) // "MZ"
        return false;
    dos.Skip(0x3C - 2);
    uint32_t pe = dos.U32();
    if (dos.Failed() || pe > size)
        return false;
    ByteCursor in(file + pe, size - pe);
    uint32_t signature = in.U32();
    in.Skip(16);
    uint16_t optionalSize = in.U16();
    in.Skip(2);
    ByteCursor optional = in.Sub(optionalSize);
    uint16_t magic = optional.U16();
    // The data directories follow the fixed fields, longer in PE32+.
    uint32_t fixed = magic == 0x20B ? 108 : 92;
    optional.Skip(fixed - 2);
    uint32_t directories = optional.U32();
    optional.Skip(4 * 8); // export, import, resource, exception
    optional.Skip(4);     // the certificate table's file offset
    uint32_t certificates = optional.U32();
    return !in.Failed() && !optional.Failed() && signature == 0x4550 && (magic == 0x10B || magic == 0x20B) &&
           directories > 4 && certificates != 0;
}

LogProblem ReadUninstallLog(const uint8_t* file, uint32_t size, UninstallLogView* log)
{
    *log = UninstallLogView();
    log->imageEnd = PeImageEnd(file, size);
    if (!log->imageEnd)
        return LogNoImage;
    return ReadRecords(ByteCursor(file + log->imageEnd, size - log->imageEnd), log);
}

LogProblem ReadUninstallLogBeside(const uint8_t* beside, uint32_t size, UninstallLogView* log)
{
    *log = UninstallLogView();
    return ReadRecords(ByteCursor(beside, size), log);
}

LogProblem LoadUninstallLog(const char* uninstallerPath, InstalledLog* loaded, UninstallLogView* log)
{
    FreeInstalledLog(loaded);
    *log = UninstallLogView();
    bool missing;
    loaded->program = ReadWholeFile(uninstallerPath, &loaded->programSize, &missing);
    if (!loaded->program)
        return LogUnreadable;
    // A signature covers the whole file: the installer then wrote the log
    // beside it instead of appending it.
    if (!PeHasSignature(loaded->program, loaded->programSize))
        return ReadUninstallLog(loaded->program, loaded->programSize, log);
    loaded->beside = true;
    if (!UninstallLogBesidePath(uninstallerPath, loaded->besidePath))
        return LogDamaged;
    loaded->besideBytes = ReadWholeFile(loaded->besidePath, &loaded->besideSize, &missing);
    if (!loaded->besideBytes)
        return missing ? LogNotWritten : LogUnreadable;
    return ReadUninstallLogBeside(loaded->besideBytes, loaded->besideSize, log);
}

void FreeInstalledLog(InstalledLog* loaded)
{
    FreeAndClear(&loaded->program);
    FreeAndClear(&loaded->besideBytes);
    *loaded = InstalledLog();
}

LogItem NextLogFile(ByteCursor* items)
{
    LogItem item;
    ReadItem(items, true, &item);
    return item;
}

LogItem NextLogShortcut(ByteCursor* items)
{
    LogItem item;
    ReadItem(items, false, &item);
    return item;
}

LogText NextLogFolder(ByteCursor* items)
{
    LogText folder;
    ReadFolder(items, &folder);
    return folder;
}

LogText* LogFolderArray(const UninstallLogView& log)
{
    LogText* folders = nullptr;
    if (!log.folderCount || !AllocWithRetry(log.folderCount * static_cast<uint32_t>(sizeof(LogText)), &folders))
        return nullptr;
    ByteCursor items = log.folders;
    for (uint32_t i = 0; i < log.folderCount; ++i)
        folders[i] = NextLogFolder(&items);
    return folders;
}

LogSum NextLogSum(ByteCursor* sums)
{
    LogSum sum;
    sum.size = sums->U32();
    sum.sum = sums->U32();
    if (sums->Failed())
        sum = LogSum();
    return sum;
}

void LogTextCopy(const LogText& text, char* out)
{
    if (text.length)
        std::memcpy(out, text.text, text.length);
    out[text.length] = 0;
}

bool LogItemPath(const LogItem& item, const char* installDir, char* out)
{
    char folder[PathSize];
    char name[PathSize];
    if (IsRelative(item.folder)) {
        size_t dir = std::strlen(installDir);
        // ".\sub" becomes installDir + "sub"; "." installDir itself.
        size_t sub = item.folder.length > 2 ? item.folder.length - 2u : 0;
        if (!dir || dir + sub >= PathSize)
            return false;
        std::memcpy(folder, installDir, dir);
        std::memcpy(folder + dir, item.folder.text + 2, sub);
        folder[dir + sub] = 0;
    } else {
        std::memcpy(folder, item.folder.text, item.folder.length);
        folder[item.folder.length] = 0;
    }
    std::memcpy(name, item.name.text, item.name.length);
    name[item.name.length] = 0;
    return JoinPath(out, folder, name);
}

bool FindInstallDir(const UninstallLogView& log, const char* ownPath, const char* registered, char* installDir)
{
    installDir[0] = 0;
    bool relative = false;
    ByteCursor items = log.files;
    for (uint32_t i = 0; i < log.fileCount && !relative; ++i)
        relative = IsRelative(NextLogFile(&items).folder);
    if (!relative)
        return true;
    size_t length = std::strlen(registered);
    if (length >= 2 && registered[0] == '"' && registered[length - 1] == '"') {
        ++registered;
        length -= 2;
    }
    const char* name = PathFileName(ownPath);
    if (!log.hasKey || name == ownPath || length != std::strlen(ownPath) || !StartsWithFolded(registered, ownPath))
        return false;
    size_t folder = static_cast<size_t>(name - ownPath);
    std::memcpy(installDir, ownPath, folder);
    installDir[folder] = 0;
    return true;
}

} // namespace zevrin
