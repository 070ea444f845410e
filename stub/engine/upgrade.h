// Upgrading an installed version (install options bit 4): the old
// version's uninstall log, read before the new files replace its
// uninstaller, is compared with the log the new version wrote, and the
// two become one log that covers everything of the product on the
// machine. Portable: the decisions and the merged log are worked out on
// log bytes in memory; the Win32 side (win32/upgrade.cpp) removes what
// the new version dropped and writes the result.
#pragma once

#include <cstdint>

#include "../shared/state.h"
#include "log_reader.h"

namespace zevrin {

// The installed version: its uninstaller's bytes, their log and the
// folder its relative items name.
struct PreviousInstall {
    uint8_t* bytes = nullptr; // owned, freed by ForgetPrevious
    uint32_t size = 0;
    UninstallLogView log;
    char installDir[PathSize] = {}; // ends in '\\'; empty when no item is relative
    char uninstaller[PathSize] = {};
};

// Takes `bytes` (of the uninstaller at `path`, which the product's key
// `key` names as `registered`, or of the log file beside it when
// `beside`: LoadUninstallLog says which) for `previous` when they hold a log our
// reader accepts, written for that very key under the same root
// (perUser), with the uninstaller where it was installed. False, with
// the bytes freed and `previous` empty, otherwise: then there is no
// upgrade and the installation runs as it always did.
bool AcceptPrevious(PreviousInstall* previous, uint8_t* bytes, uint32_t size, bool beside, const char* path,
                    const char* registered, const char* key, bool perUser);
void ForgetPrevious(PreviousInstall* previous);

// Whether `previous` counted `path` as a shared file: the new version's
// copy of it is then not counted again.
bool CountedBefore(const PreviousInstall& previous, const char* path);

// What becomes of an old file or shortcut.
enum OldFate : uint8_t {
    FateShipped = 0, // the new version has it too: its log lists it
    FateRemove = 1,  // dropped: removed, unless the user changed it since
    FateKeep = 2,    // dropped but kept, and listed in the merged log
};

struct UpgradePlan {
    uint8_t* files = nullptr;     // OldFate per old 4661 item
    uint8_t* shortcuts = nullptr; // OldFate per old 4662 item
    uint8_t* folders = nullptr;   // per old 4690 folder: 1 while it stays listed
    // The old remembered folder is the one the new version wrote, or
    // (when not) must be undone.
    bool sameRegistryValue = false;
    bool sameProfileEntry = false;
};

// Compares the old log with `fresh`, the new version's, whose relative
// items lie in freshDir (the install folder, ending in '\\'). An old file
// that is among `tablePaths` (the destinations of the new file table,
// NUL-separated, ending with an empty one; null for none) but not in
// fresh (the new copy was not written: the one there is newer, or the
// same) is the product's still and stays listed. A dropped
// file whose path inside the old install folder matches one of `keep`
// ('|'-separated patterns, null or "" for none) is kept; so is every
// dropped file of an old log without sums (whether the user changed it
// cannot be told). False when memory runs out.
bool PlanUpgrade(const PreviousInstall& previous, const UninstallLogView& fresh, const char* freshDir,
                 const char* tablePaths, const char* keep, UpgradePlan* plan);
void ForgetPlan(UpgradePlan* plan);

// A pattern of the keep list against a path inside the install folder:
// letters in any case, '*' any run of characters ('\\' included), '?' any
// one character.
bool MatchesKeep(const char* keep, const char* relative);

// The full path of the old log's file item `index` into out (PathSize).
bool OldFilePath(const PreviousInstall& previous, uint32_t index, char* out);
// The size and checksum the old version installed item `index` with
// (size LogNoSum when not known).
LogSum OldFileSum(const PreviousInstall& previous, uint32_t index);
// True when the file at path is not what was installed (size or checksum
// differ); false when it is, when it is gone, or the sum is unknown.
bool ChangedSince(const char* path, const LogSum& installed);

// The merged log: fresh's records with the old items the plan keeps
// (files and their sums, shortcuts), the old folders still listed before
// the new ones, the remembered folder with what the old version made of
// it, through the terminator. A new buffer (FreeAndClear) of *size bytes,
// to be written at fresh.logStart; false when memory runs out.
bool BuildMergedLog(const PreviousInstall& previous, const UninstallLogView& fresh, const char* freshDir,
                    const UpgradePlan& plan, uint8_t** out, uint32_t* size);

} // namespace zevrin
