#include "upgrade.h"

#include <windows.h>

#include <cstring>

#include "../../shared/state.h"
#include "../../shared/win32/run_log.h"
#include "../file_table.h"
#include "../paths.h"
#include "../upgrade.h"
#include "destination.h"
#include "fonts.h"
#include "library.h"
#include "registry.h"

namespace zevrin {

namespace {

PreviousInstall Previous;

// One user fewer of a shared file the new version dropped. True when it
// was the last one, so that the file goes; false when others still count
// it or it has no count (then it is not ours to delete).
bool ReleaseShared(const char* path)
{
    HKEY key;
    if (RegOpenKeyExA(ProductRoot(), SharedDllsKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return false;
    BYTE data[32];
    DWORD size = sizeof data;
    DWORD type = 0;
    DWORD count = 0;
    bool last = false;
    if (RegQueryValueExA(key, path, nullptr, &type, data, &size) == ERROR_SUCCESS &&
        ReadSharedCount(type, data, size, &count)) {
        if (count > 1) {
            --count;
            RegSetValueExA(key, path, 0, type == REG_BINARY ? REG_BINARY : REG_DWORD,
                           reinterpret_cast<const BYTE*>(&count), 4);
            LogLine("Upgrade: shared file count: %s = %lu", path, static_cast<unsigned long>(count));
        } else {
            RegDeleteValueA(key, path);
            last = true;
        }
    }
    RegCloseKey(key);
    return last;
}

// Takes a dropped file away as the uninstaller would. False when it is
// still there afterwards: then it stays listed.
bool RemoveDroppedFile(const char* path, uint8_t flags)
{
    if ((flags & LogItemShared) && !ReleaseShared(path))
        return true; // others' now, or never ours: not listed any more
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return true;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return false;
    if (flags & LogItemSelfRegister)
        CallLibraryFunction(path, "DllUnregisterServer");
    if (flags & LogItemFont)
        UnregisterFont(path);
    if (attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
    if (DeleteFileA(path) || GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) {
        LogLine("Upgrade: removed %s", path);
        return true;
    }
    LogLine("Upgrade: cannot remove %s, kept in the log", path);
    return false;
}

// The destinations of every entry of the new file table, NUL-separated,
// ending with an empty one; null when memory runs out.
char* TableDestinations()
{
    char* list = nullptr;
    if (EntryCount >= 0xFFFFFFFFu / PathSize || !AllocWithRetry(EntryCount * PathSize + 1, &list))
        return nullptr;
    uint32_t used = 0;
    const uint8_t* entry = FirstEntry;
    for (uint32_t i = 0; i < EntryCount && entry; ++i, entry = NextEntry(entry)) {
        if (EntryByte(entry, EntryFlags) & FlagUninstallerFile)
            continue;
        if (ResolveDestination(entry) == DestinationTooLong)
            continue;
        size_t length = std::strlen(DestPath);
        std::memcpy(list + used, DestPath, length + 1);
        used += static_cast<uint32_t>(length) + 1;
    }
    list[used] = 0;
    return list;
}

void ApplyToFiles(UpgradePlan* plan)
{
    const UninstallLogView& old = Previous.log;
    ByteCursor items = old.files;
    for (uint32_t i = 0; i < old.fileCount; ++i) {
        LogItem item = NextLogFile(&items);
        if (plan->files[i] != FateRemove)
            continue;
        char path[PathSize];
        if (!LogItemPath(item, Previous.installDir, path)) {
            plan->files[i] = FateKeep;
            continue;
        }
        // Not shared: a shared file another product replaced is counted.
        if (!(item.flags & LogItemShared) && ChangedSince(path, OldFileSum(Previous, i))) {
            LogLine("Upgrade: changed since the installation, kept: %s", path);
            plan->files[i] = FateKeep;
        } else if (!RemoveDroppedFile(path, item.flags)) {
            plan->files[i] = FateKeep;
        }
    }
    items = old.shortcuts;
    for (uint32_t i = 0; i < old.shortcutCount; ++i) {
        LogItem item = NextLogShortcut(&items);
        char path[PathSize];
        if (plan->shortcuts[i] != FateRemove || !LogItemPath(item, "", path))
            continue;
        if (DeleteFileA(path) || GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
            LogLine("Upgrade: removed %s", path);
        else
            plan->shortcuts[i] = FateKeep;
    }
}

// The old version's uninstaller, when the new one lies elsewhere.
void RemoveOldUninstaller()
{
    if (!Previous.uninstaller[0] || lstrcmpiA(Previous.uninstaller, UninstallerPath) == 0)
        return;
    if (DeleteFileA(Previous.uninstaller) || MoveFileExA(Previous.uninstaller, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        LogLine("Upgrade: removed %s", Previous.uninstaller);
}

// Folders the old version made that nothing is in any more, the deepest
// first; those that stay are merged into the new log.
void RemoveEmptyOldFolders(UpgradePlan* plan)
{
    const UninstallLogView& old = Previous.log;
    LogText* folders = LogFolderArray(old);
    if (!folders)
        return;
    for (uint32_t i = old.folderCount; i-- > 0;) {
        char path[PathSize];
        LogTextCopy(folders[i], path);
        if (RemoveDirectoryA(path)) {
            LogLine("Upgrade: removed %s\\", path);
            plan->folders[i] = 0;
        } else if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) {
            plan->folders[i] = 0;
        }
    }
    FreeAndClear(&folders);
}

// The old remembered folder where the new version remembers it elsewhere
// (or not at all): its value and the empty keys it made; its profile entry.
void UndoOldRemembered(const UpgradePlan& plan)
{
    const UninstallLogView& old = Previous.log;
    if (old.hasRegistryValue && !plan.sameRegistryValue) {
        HKEY root = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(old.registryRoot));
        char path[PathSize];
        char value[PathSize];
        LogTextCopy(old.registryKey, path);
        LogTextCopy(old.registryValue, value);
        HKEY key;
        if (RegOpenKeyExA(root, path, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            RegDeleteValueA(key, value);
            RegCloseKey(key);
            LogLine("Upgrade: registry value removed: %s, \"%s\"", path, value);
        }
        for (uint8_t part = 0; part < old.registryMadeParts; ++part) {
            DWORD keys = 1, values = 1;
            if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
                break;
            RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &keys, nullptr, nullptr, &values, nullptr, nullptr,
                             nullptr, nullptr);
            RegCloseKey(key);
            if (keys || values || RegDeleteKeyA(root, path) != ERROR_SUCCESS)
                break;
            char* slash = std::strrchr(path, '\\');
            if (!slash)
                break;
            *slash = 0;
        }
    }
    if (old.hasProfileEntry && !plan.sameProfileEntry) {
        char file[PathSize], section[PathSize], key[PathSize];
        LogTextCopy(old.profileFile, file);
        LogTextCopy(old.profileSection, section);
        LogTextCopy(old.profileKey, key);
        WritePrivateProfileStringA(section, key, nullptr, file);
        char probe[4];
        if ((old.profileFlags & LogProfileNewSection) && GetPrivateProfileSectionA(section, probe, sizeof probe, file) == 0)
            WritePrivateProfileStringA(section, nullptr, nullptr, file);
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, file);
        LogLine("Upgrade: profile entry removed: %s [%s] %s", file, section, key);
    }
}

// The merged log in place of the new one, from where that begins.
bool WriteMergedLog(const InstalledLog& where, const UninstallLogView& fresh, const uint8_t* merged, uint32_t size)
{
    FileHandle log = OpenExisting(where.beside ? where.besidePath : UninstallLogPath, 2);
    if (log == INVALID_FILE_HANDLE)
        return false;
    bool written = SeekTo(log, fresh.logStart) == fresh.logStart && WriteExact(log, merged, size) == 0 &&
                   SetEndOfFile(static_cast<HANDLE>(log));
    CloseFile(log);
    return written;
}

} // namespace

void LoadPreviousInstall()
{
    ForgetPreviousInstall();
    if (!Upgrades() || !UninstallName || !*UninstallName)
        return;
    size_t prefix = std::strlen(UninstallKeyPrefix);
    size_t name = std::strlen(UninstallName);
    if (prefix + name >= PathSize)
        return;
    char key[PathSize];
    std::memcpy(key, UninstallKeyPrefix, prefix);
    std::memcpy(key + prefix, UninstallName, name + 1);
    char registered[PathSize];
    if (!ReadRegistryPath(ProductRoot(), key, "UninstallString", registered))
        return;
    char path[PathSize];
    size_t length = std::strlen(registered);
    if (length >= 2 && registered[0] == '"' && registered[length - 1] == '"') {
        std::memcpy(path, registered + 1, length - 2);
        path[length - 2] = 0;
    } else {
        std::memcpy(path, registered, length + 1);
    }
    InstalledLog installed;
    UninstallLogView view;
    if (LoadUninstallLog(path, &installed, &view) != LogOk) {
        FreeInstalledLog(&installed);
        LogLine("Upgrade: no installed log at %s", path);
        return;
    }
    // The bytes that hold the log go to Previous, which reads them again.
    bool beside = installed.beside;
    uint8_t*& held = beside ? installed.besideBytes : installed.program;
    uint8_t* bytes = held;
    uint32_t size = beside ? installed.besideSize : installed.programSize;
    held = nullptr;
    FreeInstalledLog(&installed);
    if (AcceptPrevious(&Previous, bytes, size, beside, path, registered, key, PerUserInstall()))
        LogLine("Upgrade: the installed version's log: %s", path);
    else
        LogLine("Upgrade: the installed log at %s is not one to upgrade, installing as new", path);
}

bool SharedCountedBefore(const char* path) { return CountedBefore(Previous, path); }

void ForgetPreviousInstall() { ForgetPrevious(&Previous); }

void FinishUpgrade()
{
    if (!Previous.bytes)
        return;
    InstalledLog freshLog;
    UninstallLogView fresh;
    UpgradePlan plan;
    char* table = nullptr;
    uint8_t* merged = nullptr;
    uint32_t mergedSize = 0;
    // Without the new log there is nothing to merge into: the old
    // version's files then stay as they are.
    if (LoadUninstallLog(UninstallLogPath, &freshLog, &fresh) != LogOk) {
        LogLine("Upgrade: the new log cannot be read back; the old version's files stay");
    } else if ((table = TableDestinations()) == nullptr ||
               !PlanUpgrade(Previous, fresh, InstallDir, table, UpgradeKeep, &plan)) {
        LogLine("Upgrade: out of memory; the old version's files stay");
    } else {
        ApplyToFiles(&plan);
        RemoveOldUninstaller();
        RemoveEmptyOldFolders(&plan);
        UndoOldRemembered(plan);
        if (BuildMergedLog(Previous, fresh, InstallDir, plan, &merged, &mergedSize) &&
            WriteMergedLog(freshLog, fresh, merged, mergedSize))
            LogLine("Upgrade: one log for both versions");
        else
            LogLine("Upgrade: the merged log could not be written");
    }
    FreeAndClear(&merged);
    FreeAndClear(&table);
    ForgetPlan(&plan);
    FreeInstalledLog(&freshLog);
    ForgetPreviousInstall();
}

} // namespace zevrin
