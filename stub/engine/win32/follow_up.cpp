// What the installation does after the files: the uninstall log appended
// to the installed uninstaller, start-menu shortcuts, the uninstall key,
// the install folder written back for the next installation, and
// self-registering libraries.
#include <windows.h>

#include <cstring>

#include "../../shared/state.h"
#include "../../shared/win32/run_log.h"
#include "../file_table.h"
#include "../paths.h"
#include "../uninstall_log.h"
#include "destination.h"
#include "install.h"
#include "library.h"
#include "registry.h"
#include "shortcuts.h"
#include "undo.h"
#include "upgrade.h"

namespace zevrin {

int RegCtrlCounter = 0;

namespace {

const char RunOnceKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const int RegCtrlLimit = 100;

uint8_t LogItemFlags(const uint8_t* entry)
{
    uint8_t flags = 0;
    if (CountsAsShared(entry))
        flags |= LogItemShared;
    if (EntryByte(entry, EntryLocation) == LocationFont)
        flags |= LogItemFont;
    if (EntryByte(entry, EntrySpecialKind) == SpecialSelfRegister)
        flags |= LogItemSelfRegister;
    return flags;
}

// Record 4661: every installed file to remove at uninstall, and every
// desktop shortcut.
void LogInstalledFiles(FileHandle log)
{
    uint32_t head = BeginLogRecord(log, LogTagFiles);
    uint32_t count = 0;
    const uint8_t* entry = FirstEntry;
    for (uint32_t i = 0; i < EntryCount && entry; ++i, entry = NextEntry(entry)) {
        if (ResolveDestination(entry) != DestinationTooLong) {
            uint16_t status = EntryStatusOf(entry);
            bool installed = status == StatusReplaced || status == StatusCreated || status == StatusAtRestart;
            if (installed && EntryByte(entry, EntryUninstallMode) == UninstallRemove &&
                WriteLogFile(log, DestPath, InstallDir, LogItemFlags(entry))) {
                ++count;
                if (Upgrades())
                    RememberLoggedSum(EntryU32(entry, EntryFileSize), EntryU32(entry, EntryChecksum));
            }
        }
        // Listed whatever the entry's status, under the name
        // MakeDesktopShortcut saved it as.
        const char* link = EntryString(entry, DesktopLinkNameString);
        if (*link && DesktopLinkPath(link, DestPath) && WriteLogFile(log, DestPath, InstallDir, 0)) {
            ++count;
            if (Upgrades())
                RememberLoggedSum(LogNoSum, 0);
        }
    }
    EndLogRecord(log, head, LogTagFiles, count);
}

void SetText(HKEY key, const char* name, const char* text, DWORD length)
{
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), length);
}

// Record 4664: the key (empty: none) below the installation's root.
void LogUninstallKey(FileHandle log, const char* key)
{
    if (log != INVALID_FILE_HANDLE)
        WriteLogKey(log, PerUserInstall() ? LogRootCurrentUser : LogRootLocalMachine, key);
}

// The uninstall key, and record 4664 naming it so the uninstaller removes
// it. True when the record was written.
bool RegisterUninstaller(FileHandle log)
{
    size_t prefixLength = std::strlen(UninstallKeyPrefix);
    size_t nameLength = std::strlen(UninstallName);
    size_t keyLength = prefixLength + nameLength;
    // A key too long for a counted string could only be written cut, and
    // the uninstaller would then remove another key.
    if (keyLength > CountedStringMaximum)
        return false;
    char* key = nullptr;
    if (!AllocWithRetry(static_cast<uint32_t>(keyLength + 1), reinterpret_cast<void**>(&key)))
        return false;
    std::memcpy(key, UninstallKeyPrefix, prefixLength);
    std::memcpy(key + prefixLength, UninstallName, nameLength + 1);
    HKEY handle;
    if (RegCreateKeyA(ProductRoot(), key, &handle) == ERROR_SUCCESS) {
        SetText(handle, "DisplayName", UninstallName, static_cast<DWORD>(nameLength));
        SetText(handle, "UninstallString", UninstallerPath, static_cast<DWORD>(std::strlen(UninstallerPath)));
        RegCloseKey(handle);
        LogLine("Registry: %s\\%s (DisplayName, UninstallString)", ProductRootName(), key);
    } else {
        LogLine("Registry failed: %s\\%s", ProductRootName(), key);
    }
    LogUninstallKey(log, key);
    FreeAndClear(&key);
    return true;
}

// What RecordInstallDir wrote, for records 4691 and 4692.
struct Remembered {
    bool registry = false;
    uint8_t madeParts = 0; // the key's last parts that were not there
    bool profile = false;
    uint8_t profileFlags = 0;
};

// How many of key's last parts do not exist below root yet.
uint8_t MissingKeyParts(HKEY root, const char* key)
{
    char path[PathSize];
    lstrcpynA(path, key, PathSize);
    uint8_t missing = 0;
    for (;;) {
        HKEY opened;
        if (RegOpenKeyExA(root, path, 0, KEY_READ, &opened) == ERROR_SUCCESS) {
            RegCloseKey(opened);
            return missing;
        }
        ++missing;
        char* slash = std::strrchr(path, '\\');
        if (!slash)
            return missing;
        *slash = 0;
    }
}

// The profile file as the system resolves it: a bare name lies in the
// Windows folder.
bool ProfilePath(const char* file, char* path)
{
    if (std::strchr(file, '\\') || std::strchr(file, '/'))
        return lstrcpynA(path, file, PathSize) != nullptr;
    char windows[PathSize];
    UINT length = GetWindowsDirectoryA(windows, PathSize);
    return length && length < PathSize && JoinPath(path, windows, file);
}

// The install folder, for the next installation's proposal.
Remembered RecordInstallDir()
{
    Remembered done;
    if ((HeaderFlags & FlagRecordInRegistry) && PrevDirKey) {
        HKEY root = RootKey(PrevDirRootIndex);
        uint8_t missing = std::strlen(PrevDirKey) < PathSize ? MissingKeyParts(root, PrevDirKey) : 0;
        HKEY key;
        if (RegCreateKeyA(root, PrevDirKey, &key) == ERROR_SUCCESS) {
            done.registry = RegSetValueExA(key, PrevDirValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(InstallDir),
                                           static_cast<DWORD>(std::strlen(InstallDir) + 1)) == ERROR_SUCCESS;
            done.madeParts = missing;
            RegCloseKey(key);
            LogLine("Registry: %s\\%s, value \"%s\" = %s", RootKeyName(PrevDirRootIndex), PrevDirKey,
                    PrevDirValue ? PrevDirValue : "", InstallDir);
        }
    }
    if ((HeaderFlags & FlagRecordInProfile) && PrevDirIniFile && PrevDirIniSection && PrevDirIniKey) {
        char path[PathSize];
        char probe[4];
        if (ProfilePath(PrevDirIniFile, path) && GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
            done.profileFlags = LogProfileNewFile | LogProfileNewSection;
        else if (GetPrivateProfileSectionA(PrevDirIniSection, probe, sizeof probe, PrevDirIniFile) == 0)
            done.profileFlags = LogProfileNewSection;
        done.profile = WritePrivateProfileStringA(PrevDirIniSection, PrevDirIniKey, InstallDir, PrevDirIniFile) != 0;
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, PrevDirIniFile);
        LogLine("Profile: %s [%s] %s = %s", PrevDirIniFile, PrevDirIniSection, PrevDirIniKey, InstallDir);
    }
    return done;
}

bool FitsLog(const char* text) { return std::strlen(text) < PathSize; }

// Records 4690 to 4692: what the uninstaller removes beyond the files.
void LogFoldersAndRemembered(FileHandle log, const Remembered& done)
{
    WriteLogFolders(log);
    const char* value = PrevDirValue ? PrevDirValue : "";
    uint32_t root = LogRootFirst + (PrevDirRootIndex < RootKeyCount ? PrevDirRootIndex : 1);
    if (done.registry && FitsLog(PrevDirKey) && FitsLog(value))
        WriteLogRegistryValue(log, root, PrevDirKey, value, done.madeParts);
    if (done.profile && FitsLog(PrevDirIniFile) && FitsLog(PrevDirIniSection) && FitsLog(PrevDirIniKey))
        WriteLogProfileEntry(log, PrevDirIniFile, PrevDirIniSection, PrevDirIniKey, done.profileFlags);
}

void WriteUninstallLog()
{
    // A signed uninstaller stays as it was signed: its log is a file of its
    // own beside it, next to the final place even while a copy in use waits
    // for the restart.
    FileHandle log = LogBeside() ? CreateUninstallLogBeside(UninstallerPath, UninstallerTexts,
                                                            UninstallerTexts ? BlockSize(UninstallerTexts) : 0)
                                 : OpenUninstallLog(UninstallLogPath);
    AppendBackslash(InstallDir);
    if (log != INVALID_FILE_HANDLE)
        LogInstalledFiles(log);
    CreateMenuShortcuts(log);
    bool keyLogged = UninstallName && *UninstallName && RegisterUninstaller(log);
    // A per-user log always says its root; a machine-wide one without a
    // key stays as it always was.
    if (!keyLogged && PerUserInstall())
        LogUninstallKey(log, "");
    StripBackslash(InstallDir);
    Remembered done = RecordInstallDir();
    AppendBackslash(InstallDir);
    if (log != INVALID_FILE_HANDLE) {
        if (LogFolders())
            LogFoldersAndRemembered(log, done);
        // Sums let a later upgrade and the uninstaller tell a file the
        // user changed.
        if (Upgrades())
            WriteLogSums(log);
        WriteLogHead(log, LogTagEnd, 0);
        CloseFile(log);
    }
    ForgetLoggedSums();
}

// A library whose new copy waits for the restart registers itself at the
// next start, through a RunOnce value of its own.
void RegisterAtNextStart()
{
    HKEY key;
    if (RegCreateKeyA(ProductRoot(), RunOnceKey, &key) != ERROR_SUCCESS)
        return;
    while (RegCtrlCounter < RegCtrlLimit) {
        char name[16];
        wsprintfA(name, "%s%3.3d", "RegCtrl", RegCtrlCounter);
        ++RegCtrlCounter;
        char existing[360];
        DWORD size = sizeof existing;
        LONG found = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(existing), &size);
        // A value too long for the buffer is there all the same.
        if (found == ERROR_SUCCESS || found == ERROR_MORE_DATA)
            continue;
        char shortPath[PathSize];
        DWORD length = GetShortPathNameA(DestPath, shortPath, PathSize);
        char path[PathSize + 2];
        // Without a whole short form the long path stands in; either is
        // quoted when it has blanks, or regsvr32 would get pieces of it.
        if (!LaunchCommand(path, shortPath, length))
            LaunchCommand(path, DestPath, static_cast<uint32_t>(std::strlen(DestPath)));
        char command[sizeof path + 16];
        wsprintfA(command, "regsvr32 /s %s", path);
        SetText(key, name, command, static_cast<DWORD>(std::strlen(command)));
        LogLine("Library registered at the next start: %s", DestPath);
        break;
    }
    RegCloseKey(key);
}

void RegisterLibraries()
{
    const uint8_t* entry = FirstEntry;
    for (uint32_t i = 0; i < EntryCount && entry; ++i, entry = NextEntry(entry)) {
        if (EntryByte(entry, EntrySpecialKind) != SpecialSelfRegister)
            continue;
        if (ResolveDestination(entry) == DestinationTooLong)
            continue;
        if (EntryStatusOf(entry) == StatusAtRestart)
            RegisterAtNextStart();
        else if (CallLibraryFunction(DestPath, "DllRegisterServer") >= 0)
            LogLine("Library registered: %s", DestPath);
        else
            LogLine("Library registration failed: %s", DestPath);
    }
}

} // namespace

void FinishInstallation()
{
    CloseFile(PackageHandle);
    PackageHandle = INVALID_FILE_HANDLE;
    CloseStash();
    // Nothing after the files is done unless they all went in: a run that
    // may be rolled back is, else it is committed here.
    if (ErrorCode == 0)
        CommitRun();
    if (ErrorCode != 0)
        RollBack();
    if (ErrorCode == 0) {
        if (UninstallerPath[0]) {
            WriteUninstallLog();
            FinishUpgrade();
        } else {
            AppendBackslash(InstallDir);
            CreateMenuShortcuts(INVALID_FILE_HANDLE);
            StripBackslash(InstallDir);
            RecordInstallDir();
            AppendBackslash(InstallDir);
        }
        RegisterLibraries();
    }
    ForgetPreviousInstall();
    // A cancel at the disk prompt ends here too, with its error.
    if (InstallOutcome != OutcomeCancelled)
        InstallOutcome = ErrorCode ? OutcomeFailed : OutcomeInstalled;
    if (StartPage == WizardMode)
        GoToPage(5);
    else if (RunMode == RunProgressOnly)
        PageResult = PageNext; // the run ends with its only page
    InstallRunning = false;
}

} // namespace zevrin
