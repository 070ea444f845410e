// The uninstall log appended to the installed uninstaller: records in the
// package header's framing, read back by the separate uninstaller. Portable:
// written through the file wrappers only.
#pragma once

#include <cstdint>

#include "../shared/platform.h"
#include "../shared/record_head.h"

namespace zevrin {

enum : uint16_t {
    LogTagFiles = 4661,
    LogTagShortcuts = 4662,
    LogTagUninstallKey = 4664,
    // Written when the package asks (OptionLogFolders): the folders the
    // installation made, and where it remembered the install folder.
    LogTagFolders = 4690,
    LogTagRegistryValue = 4691,
    LogTagProfileEntry = 4692,
    // Written by packages that upgrade (OptionUpgrade): the size and
    // checksum each 4661 item was installed with, so that a later upgrade
    // or the uninstaller can tell a file the user changed since.
    LogTagFileSums = 4694,
    // Before the log: the uninstaller's own texts, one message group, put
    // there by the authoring tool.
    LogTagTexts = 4680,
    LogTagEnd = TagTerminator,
};
// Record 4664 names a key below one of these roots and the prefix. A
// per-user install writes the record with its root even without a key
// (an empty key text): the uninstaller must know where the counts were.
const uint32_t LogRootCurrentUser = 0x80000001;
const uint32_t LogRootLocalMachine = 0x80000002;
extern const char UninstallKeyPrefix[]; // "Software\...\CurrentVersion\Uninstall\"

const uint32_t LogHeadSize = RecordHeadSize; // the package header's framing
const uint32_t CountedStringMaximum = 0xFFFF;

// Record 4691 names its root as a registry handle value.
const uint32_t LogRootFirst = 0x80000000; // HKEY_CLASSES_ROOT
const uint32_t LogRootLast = 0x80000003;  // HKEY_USERS
// Flags of record 4692: what the installation added besides the entry.
enum : uint8_t { LogProfileNewSection = 1, LogProfileNewFile = 2 };

// The size of a 4661 item without a known sum (a shortcut, which the
// system writes): never compared.
const uint32_t LogNoSum = 0xFFFFFFFF;

// Item flags of a 4661 record.
enum : uint8_t { LogItemShared = 1, LogItemFont = 2, LogItemSelfRegister = 4 };

// Opens the uninstaller at path for its log, positioned on its last 8
// bytes, which must be the terminator head the stock uninstaller ends with;
// the log replaces it. The invalid handle when the file does not open or
// does not end so: a file we do not know the end of is left as it is.
FileHandle OpenUninstallLog(const char* path);

// Where a signed uninstaller's log lies: the file beside it, its name with
// ".log" appended. False when that path would not fit PathSize.
bool UninstallLogBesidePath(const char* uninstallerPath, char* out);

// Makes the log file beside a signed uninstaller, replacing an earlier
// one, and writes the uninstaller's texts record (record 4680 holding the
// message group `texts`, when given) at its start; the log follows. The
// invalid handle when it cannot be made.
FileHandle CreateUninstallLogBeside(const char* uninstallerPath, const uint8_t* texts, uint32_t textsSize);

int WriteLogU32(FileHandle log, uint32_t value);
int WriteLogHead(FileHandle log, uint16_t tag, uint32_t length);
// u16 length, then the bytes without terminator. A text longer than
// CountedStringMaximum is not written at all (result 4): a wrapped length
// with the whole text behind it would leave the rest of the log unreadable.
int WriteCountedString(FileHandle log, const char* text);

// Record 4664: root (LogRootCurrentUser or LogRootLocalMachine), then the
// key as a counted string (empty: the root alone).
void WriteLogKey(FileHandle log, uint32_t root, const char* key);

// The item for path: folder and name as SplitLogPath gives them, then the
// flags byte. False, nothing written, for a path that does not split.
bool WriteLogFile(FileHandle log, const char* path, const char* installDir, uint8_t flags);

// A record whose length and u32 count are known only at its end: the head
// and count are written as zeros and patched by EndLogRecord, which
// leaves the file at its end. BeginLogRecord gives the head's position.
uint32_t BeginLogRecord(FileHandle log, uint16_t tag);
void EndLogRecord(FileHandle log, uint32_t head, uint16_t tag, uint32_t count);

// Folders made during the installation, in the order they were made
// (a parent before its children): the uninstaller removes them, once
// empty, in the opposite order. Only full paths are kept, without the
// final '\\'.
void RememberMadeFolder(const char* path);
void ForgetMadeFolders();
uint32_t MadeFolderCount();
// The folders remembered, one after the other, each with its terminator;
// *used: their bytes.
const char* MadeFolderList(uint32_t* used);

// Record 4690: u32 count, then each folder remembered, as a counted string.
void WriteLogFolders(FileHandle log);

// The sums of the 4661 items, in their order, for record 4694.
void RememberLoggedSum(uint32_t size, uint32_t sum);
void ForgetLoggedSums();
uint32_t LoggedSumCount();
// Record 4694: u32 count, then per item u32 size and u32 checksum; not
// written when memory ran out for one of them.
void WriteLogSums(FileHandle log);

// Record 4691: u32 root, key and value name as counted strings, u8 the
// number of the key's last parts the installation made (0: the key was
// there).
void WriteLogRegistryValue(FileHandle log, uint32_t root, const char* key, const char* value, uint8_t madeParts);

// Record 4692: file, section, key as counted strings, then u8 flags
// (LogProfileNewSection, LogProfileNewFile).
void WriteLogProfileEntry(FileHandle log, const char* file, const char* section, const char* key, uint8_t flags);

} // namespace zevrin
