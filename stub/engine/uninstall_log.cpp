#include "uninstall_log.h"

#include <cstring>

#include "../shared/state.h"
#include "paths.h"

namespace zevrin {

const char UninstallKeyPrefix[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

namespace {

void PutU32(uint8_t* at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}

} // namespace

FileHandle OpenUninstallLog(const char* path)
{
    FileHandle log = OpenExisting(path, 2);
    if (log == INVALID_FILE_HANDLE)
        return log;
    static const uint8_t terminator[LogHeadSize] = {0x7F, 0x7F, 0, 0, 0, 0, 0, 0};
    uint8_t last[LogHeadSize];
    uint32_t length = FileLength(log);
    if (length >= LogHeadSize && length != 0xFFFFFFFFu && SeekTo(log, length - LogHeadSize) == length - LogHeadSize &&
        ReadExact(log, last, LogHeadSize) == 0 && std::memcmp(last, terminator, LogHeadSize) == 0 &&
        SeekTo(log, length - LogHeadSize) == length - LogHeadSize)
        return log;
    CloseFile(log);
    return INVALID_FILE_HANDLE;
}

bool UninstallLogBesidePath(const char* uninstallerPath, char* out)
{
    static const char Suffix[] = ".log";
    size_t length = std::strlen(uninstallerPath);
    if (!length || length + sizeof Suffix > PathSize)
        return false;
    std::memcpy(out, uninstallerPath, length);
    std::memcpy(out + length, Suffix, sizeof Suffix);
    return true;
}

FileHandle CreateUninstallLogBeside(const char* uninstallerPath, const uint8_t* texts, uint32_t textsSize)
{
    char path[PathSize];
    if (!UninstallLogBesidePath(uninstallerPath, path))
        return INVALID_FILE_HANDLE;
    FileHandle log = CreateAlways(path);
    if (log == INVALID_FILE_HANDLE || !texts)
        return log;
    if (WriteLogHead(log, LogTagTexts, textsSize) != 0 || (textsSize && WriteExact(log, texts, textsSize) != 0)) {
        CloseFile(log);
        return INVALID_FILE_HANDLE;
    }
    return log;
}

int WriteLogU32(FileHandle log, uint32_t value)
{
    uint8_t bytes[4];
    PutU32(bytes, value);
    return WriteExact(log, bytes, 4);
}

int WriteLogHead(FileHandle log, uint16_t tag, uint32_t length)
{
    uint8_t head[LogHeadSize] = {static_cast<uint8_t>(tag), static_cast<uint8_t>(tag >> 8), 0, 0};
    PutU32(head + 4, length);
    return WriteExact(log, head, LogHeadSize);
}

int WriteCountedString(FileHandle log, const char* text)
{
    size_t length = std::strlen(text);
    if (length > CountedStringMaximum)
        return 4;
    uint8_t count[2] = {static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8)};
    int result = WriteExact(log, count, 2);
    if (result == 0 && length)
        result = WriteExact(log, text, static_cast<uint32_t>(length));
    return result;
}

void WriteLogKey(FileHandle log, uint32_t root, const char* key)
{
    WriteLogHead(log, LogTagUninstallKey, static_cast<uint32_t>(std::strlen(key) + 6));
    WriteLogU32(log, root);
    WriteCountedString(log, key);
}

bool WriteLogFile(FileHandle log, const char* path, const char* installDir, uint8_t flags)
{
    char folder[PathSize];
    const char* name;
    if (!SplitLogPath(path, installDir, folder, &name))
        return false;
    WriteCountedString(log, folder);
    WriteCountedString(log, name);
    WriteExact(log, &flags, 1);
    return true;
}

uint32_t BeginLogRecord(FileHandle log, uint16_t tag)
{
    uint32_t head = Tell(log);
    WriteLogHead(log, tag, 0);
    WriteLogU32(log, 0);
    return head;
}

void EndLogRecord(FileHandle log, uint32_t head, uint16_t tag, uint32_t count)
{
    uint32_t end = Tell(log);
    SeekTo(log, head);
    WriteLogHead(log, tag, end - head - LogHeadSize);
    WriteLogU32(log, count);
    SeekTo(log, end);
}

namespace {

// The made folders, NUL-terminated one after the other.
char* MadeFolders = nullptr;
uint32_t MadeFoldersUsed = 0;
uint32_t MadeFoldersSize = 0;
uint32_t MadeFoldersCount = 0;

bool IsFullFolder(const char* path)
{
    if (((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') && path[1] == ':' && path[2] == '\\')
        return path[3] != 0;
    return path[0] == '\\' && path[1] == '\\' && path[2] && path[2] != '\\';
}

} // namespace

void RememberMadeFolder(const char* path)
{
    uint32_t length = static_cast<uint32_t>(std::strlen(path));
    while (length && path[length - 1] == '\\')
        --length;
    // The reader takes only whole paths that fit the system's limit.
    if (length >= PathSize || !IsFullFolder(path))
        return;
    if (MadeFoldersUsed + length + 1 > MadeFoldersSize) {
        uint32_t size = MadeFoldersSize ? MadeFoldersSize * 2 : 4096;
        char* grown = nullptr;
        if (!AllocWithRetry(size, &grown))
            return;
        if (MadeFoldersUsed)
            std::memcpy(grown, MadeFolders, MadeFoldersUsed);
        FreeAndClear(&MadeFolders);
        MadeFolders = grown;
        MadeFoldersSize = size;
    }
    std::memcpy(MadeFolders + MadeFoldersUsed, path, length);
    MadeFolders[MadeFoldersUsed + length] = 0;
    MadeFoldersUsed += length + 1;
    ++MadeFoldersCount;
}

void ForgetMadeFolders()
{
    FreeAndClear(&MadeFolders);
    MadeFoldersUsed = MadeFoldersSize = MadeFoldersCount = 0;
}

uint32_t MadeFolderCount() { return MadeFoldersCount; }

const char* MadeFolderList(uint32_t* used)
{
    *used = MadeFoldersUsed;
    return MadeFolders;
}

void WriteLogFolders(FileHandle log)
{
    uint32_t head = BeginLogRecord(log, LogTagFolders);
    for (uint32_t at = 0; at < MadeFoldersUsed; at += static_cast<uint32_t>(std::strlen(MadeFolders + at)) + 1)
        WriteCountedString(log, MadeFolders + at);
    EndLogRecord(log, head, LogTagFolders, MadeFoldersCount);
}

namespace {

uint8_t* LoggedSums = nullptr;
uint32_t LoggedSumsUsed = 0;
uint32_t LoggedSumsSize = 0;
bool LoggedSumsLost = false; // one was not kept: the record would not match 4661

} // namespace

void RememberLoggedSum(uint32_t size, uint32_t sum)
{
    if (LoggedSumsUsed + 8 > LoggedSumsSize) {
        uint32_t grown = LoggedSumsSize ? LoggedSumsSize * 2 : 2048;
        uint8_t* bigger = nullptr;
        if (!AllocWithRetry(grown, &bigger)) {
            LoggedSumsLost = true;
            return;
        }
        if (LoggedSumsUsed)
            std::memcpy(bigger, LoggedSums, LoggedSumsUsed);
        FreeAndClear(&LoggedSums);
        LoggedSums = bigger;
        LoggedSumsSize = grown;
    }
    PutU32(LoggedSums + LoggedSumsUsed, size);
    PutU32(LoggedSums + LoggedSumsUsed + 4, sum);
    LoggedSumsUsed += 8;
}

void ForgetLoggedSums()
{
    FreeAndClear(&LoggedSums);
    LoggedSumsUsed = LoggedSumsSize = 0;
    LoggedSumsLost = false;
}

uint32_t LoggedSumCount() { return LoggedSumsUsed / 8; }

void WriteLogSums(FileHandle log)
{
    if (LoggedSumsLost)
        return;
    WriteLogHead(log, LogTagFileSums, 4 + LoggedSumsUsed);
    WriteLogU32(log, LoggedSumCount());
    if (LoggedSumsUsed)
        WriteExact(log, LoggedSums, LoggedSumsUsed);
}

void WriteLogRegistryValue(FileHandle log, uint32_t root, const char* key, const char* value, uint8_t madeParts)
{
    WriteLogHead(log, LogTagRegistryValue, static_cast<uint32_t>(4 + 2 + std::strlen(key) + 2 + std::strlen(value) + 1));
    WriteLogU32(log, root);
    WriteCountedString(log, key);
    WriteCountedString(log, value);
    WriteExact(log, &madeParts, 1);
}

void WriteLogProfileEntry(FileHandle log, const char* file, const char* section, const char* key, uint8_t flags)
{
    WriteLogHead(log, LogTagProfileEntry,
                 static_cast<uint32_t>(6 + std::strlen(file) + std::strlen(section) + std::strlen(key) + 1));
    WriteCountedString(log, file);
    WriteCountedString(log, section);
    WriteCountedString(log, key);
    WriteExact(log, &flags, 1);
}

} // namespace zevrin
