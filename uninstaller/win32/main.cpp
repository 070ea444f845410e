// The uninstaller: reads the log the installer appended to this program's
// own file and takes away what the installation made: files (shared ones
// by their usage count, fonts, self-registering libraries), start-menu
// shortcuts, the uninstall key (under HKEY_CURRENT_USER for a per-user
// installation), the remembered install folder, and the folders that are
// left empty: those the installation made, when its log lists them, else
// those of its files and shortcuts. A user's own files are never deleted:
// folders go only when empty, and never the shell's own folders.
//
// Usage: uninstall.exe [/quiet | /Q] [/LOG="file"]. Quiet: no questions,
// shared files whose count reaches 0 are kept. Exit codes: 0 everything
// removed (some files perhaps at the next restart), 1 something is left
// (listed), 2 the log is missing or damaged (nothing removed), 3 the user
// said No. /Q is as quiet, with the installer's exit codes: 0 removed
// (what is left is the user's, or shared files kept), 3010 removed once
// Windows restarts, 1603 the log is missing or damaged, or the uninstall
// entry could not be removed. /LOG writes what was done to a plain-text
// file.
#include <windows.h>

#include <cstring>

#include "stub/engine/paths.h"
#include "stub/engine/upgrade.h"
#include "stub/engine/win32/fonts.h"
#include "stub/engine/win32/library.h"
#include "stub/engine/win32/registry.h"
#include "stub/engine/win32/restart.h"
#include "stub/engine/win32/shortcuts.h"
#include "stub/shared/messages.h"
#include "stub/shared/state.h"
#include "stub/shared/win32/run_log.h"
#include "stub/startup/command_line.h"
#include "stub/engine/log_reader.h"
#include "uninstaller/texts.h"

namespace zevrin {

namespace {

enum : int { ExitRemoved = 0, ExitLeft = 1, ExitRefused = 2, ExitDeclined = 3 };
// The installer's codes, for /Q.
enum : int { StandardRemoved = 0, StandardRestartNeeded = 3010, StandardCancelled = 1602, StandardFailed = 1603 };

bool Quiet = false;
bool StandardCodes = false; // /Q
bool KeyLeft = false;       // the uninstall entry is still there
char OwnPath[PathSize];
char Product[PathSize];
InstalledLog Loaded; // the log and the bytes its view points into

// What is left, one line each; cut with "..." when it grows too long for a
// message box.
const unsigned LeftSize = 1800;
char Left[LeftSize + 4];
bool Leftover = false;
bool LeftFull = false; // the rest is not looked for

const char* Text(unsigned index)
{
    const char* text = GetMessageText(GroupMessages, index);
    return *text ? text : UninstallTexts[index].text;
}

void Show(unsigned index, const char* argument, unsigned type)
{
    char text[MaxShownText + 1];
    FormatText(text, sizeof text, Text(index), argument, 0);
    ShowMessage(text, type);
}

// Quiet runs tell on standard output, when there is one.
void Print(const char* text)
{
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD written;
    if (out && out != INVALID_HANDLE_VALUE) {
        WriteFile(out, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
        WriteFile(out, "\r\n", 2, &written, nullptr);
    }
}

void Tell(unsigned index, const char* argument)
{
    if (Quiet) {
        char text[MaxShownText + 1];
        FormatText(text, sizeof text, Text(index), argument, 0);
        Print(text);
    } else {
        Show(index, argument, MessageInformation);
    }
}

void AddLeft(const char* what)
{
    LogLine("Left: %s", what);
    Leftover = true;
    size_t used = std::strlen(Left);
    size_t length = std::strlen(what);
    if (used + length + 2 > LeftSize) {
        if (!LeftFull)
            std::strcat(Left, "...");
        LeftFull = true;
        return;
    }
    std::memcpy(Left + used, what, length);
    std::memcpy(Left + used + length, "\r\n", 3);
}

bool Exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

// Where the installation registered itself and counted shared files: a
// per-user one never touched HKEY_LOCAL_MACHINE, nor needs rights for it.
HKEY Root = HKEY_LOCAL_MACHINE;

// Files in use, deleted at the next restart: not left, and their folders
// go after them then.
// (A block of its own: the program's data is part of every download.)
const unsigned ScheduledMaximum = 64;
char (*Scheduled)[PathSize] = nullptr;
unsigned ScheduledCount = 0;

bool IsScheduled(const char* path)
{
    for (unsigned i = 0; i < ScheduledCount; ++i)
        if (lstrcmpiA(Scheduled[i], path) == 0)
            return true;
    return false;
}

// Deletes a file; one in use goes at the next restart. Listed as left
// when it is not a file, or in use and the restart cannot take it.
void RemoveFile(const char* path)
{
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        AddLeft(path);
        return;
    }
    if (attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
    if (DeleteFileA(path) || !Exists(path)) {
        LogLine("Removed: %s", path);
        return;
    }
    // Without administrator rights (a per-user product) the restart may
    // not be asked to delete it: then it is left, and said so.
    if (!ScheduleAtRestart(nullptr, path)) {
        AddLeft(path);
        return;
    }
    LogLine("In use, removed at the next restart: %s", path);
    RebootNeeded = true;
    if (!Scheduled)
        AllocZeroedWithRetry(ScheduledMaximum * PathSize, &Scheduled);
    if (Scheduled && ScheduledCount < ScheduledMaximum)
        lstrcpynA(Scheduled[ScheduledCount++], path, PathSize);
}

// The folders of the files deleted at the restart, from theirs up to the
// install folder, go after them (the NT family removes a folder at the
// restart only when it is empty by then).
void ScheduleFolders(const char* installDir)
{
    // WININIT.INI of the older family deletes files only.
    if (!IsWindowsNT)
        return;
    size_t top = std::strlen(installDir);
    for (unsigned i = 0; i < ScheduledCount; ++i) {
        if (!StartsWithFolded(Scheduled[i], installDir))
            continue;
        char folder[PathSize];
        lstrcpynA(folder, Scheduled[i], PathSize);
        for (char* slash = std::strrchr(folder, '\\'); slash && static_cast<size_t>(slash - folder) + 1 >= top;
             slash = std::strrchr(folder, '\\')) {
            *slash = 0;
            ScheduleAtRestart(nullptr, folder);
        }
    }
}

// One user fewer of a shared file. True when the file should go: its
// count reached 0 and the user agreed. Kept at 0 otherwise, and listed.
bool ReleaseSharedFile(const char* path)
{
    HKEY key;
    if (RegOpenKeyExA(Root, SharedDllsKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
        if (Exists(path))
            AddLeft(path);
        return false;
    }
    BYTE data[32];
    DWORD size = sizeof data;
    DWORD type = 0;
    DWORD count = 0;
    // A file without a count is someone else's to account for.
    if (RegQueryValueExA(key, path, nullptr, &type, data, &size) != ERROR_SUCCESS ||
        !ReadSharedCount(type, data, size, &count)) {
        RegCloseKey(key);
        if (Exists(path))
            AddLeft(path);
        return false;
    }
    if (count > 1) {
        --count;
    } else if (!Exists(path)) {
        // Nothing left to keep: the count goes with the file.
        RegDeleteValueA(key, path);
        RegCloseKey(key);
        return false;
    } else {
        count = 0;
        if (!Quiet) {
            char text[MaxShownText + 1];
            FormatText(text, sizeof text, Text(UninstallSharedQuestion), path, 0);
            if (ShowMessage(text, MessageYesNoDefaultNo) == AnswerYes) {
                RegDeleteValueA(key, path);
                RegCloseKey(key);
                return true;
            }
        }
        AddLeft(path);
    }
    RegSetValueExA(key, path, 0, type == REG_BINARY ? REG_BINARY : REG_DWORD, reinterpret_cast<const BYTE*>(&count),
                   4);
    RegCloseKey(key);
    return false;
}

// The shell's own folders, each without its final '\': never removed,
// nor any folder above them, even when empty and named by an old log.
const unsigned ShellFolderMaximum = 24;
char (*ShellFolders)[PathSize] = nullptr;
unsigned ShellFolderCount = 0;

void FindShellFolders()
{
    static const int Folders[] = {
        CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_STARTMENU,   CSIDL_COMMON_STARTMENU,
        CSIDL_PROGRAMS,         CSIDL_COMMON_PROGRAMS,         CSIDL_STARTUP,     CSIDL_COMMON_STARTUP,
        CSIDL_FONTS,            CSIDL_PROGRAM_FILES,           CSIDL_PROGRAM_FILESX86, CSIDL_PROGRAM_FILES_COMMON,
        CSIDL_WINDOWS,          CSIDL_SYSTEM,                  CSIDL_SYSTEMX86,   CSIDL_PROFILE,
        CSIDL_APPDATA,          CSIDL_LOCAL_APPDATA,           CSIDL_COMMON_APPDATA, CSIDL_PERSONAL,
    };
    if (!AllocZeroedWithRetry(ShellFolderMaximum * PathSize, &ShellFolders))
        return;
    for (int folder : Folders)
        if (SpecialFolderPath(folder, ShellFolders[ShellFolderCount]))
            StripBackslash(ShellFolders[ShellFolderCount++]);
    // Shells that know neither of these still have the calls.
    UINT length = GetWindowsDirectoryA(ShellFolders[ShellFolderCount], PathSize);
    if (length && length < PathSize)
        StripBackslash(ShellFolders[ShellFolderCount++]);
    length = GetSystemDirectoryA(ShellFolders[ShellFolderCount], PathSize);
    if (length && length < PathSize)
        StripBackslash(ShellFolders[ShellFolderCount++]);
}

// A shell folder, or a folder above one. Without the list (no memory)
// every folder counts as one: nothing is removed rather than too much.
bool IsShellFolder(const char* path)
{
    if (!ShellFolders)
        return true;
    char folder[PathSize];
    lstrcpynA(folder, path, PathSize);
    StripBackslash(folder);
    size_t length = std::strlen(folder);
    for (unsigned i = 0; i < ShellFolderCount; ++i) {
        const char* shell = ShellFolders[i];
        if (StartsWithFolded(shell, folder) && (shell[length] == 0 || shell[length] == '\\'))
            return true;
    }
    return false;
}

bool RemoveFolder(const char* path)
{
    if (IsShellFolder(path) || !RemoveDirectoryA(path))
        return false;
    LogLine("Removed: %s\\", path);
    return true;
}

// Removes folder and its parents while they are empty, as long as they
// lie strictly inside `top` (which ends in '\'); `top` itself when
// `withTop`. True when anything went.
bool RemoveEmptyFolders(const char* folder, const char* top, bool withTop)
{
    char path[PathSize];
    lstrcpynA(path, folder, PathSize);
    StripBackslash(path);
    size_t topLength = std::strlen(top);
    bool removed = false;
    for (;;) {
        size_t length = std::strlen(path);
        bool inside = length >= topLength && StartsWithFolded(path, top);
        bool isTop = length + 1 == topLength && StartsWithFolded(top, path);
        if (!inside && !(withTop && isTop))
            return removed;
        if (!RemoveFolder(path))
            return removed;
        removed = true;
        if (isTop)
            return removed;
        char* slash = std::strrchr(path, '\\');
        if (!slash)
            return removed;
        *slash = 0;
    }
}

void FolderOf(const char* path, char* folder)
{
    lstrcpynA(folder, path, PathSize);
    char* slash = std::strrchr(folder, '\\');
    if (slash)
        slash[1] = 0;
}

// A profile file the installation made goes when nothing but blanks is
// left in it. A bare name lies in the Windows folder.
void RemoveEmptyProfile(const char* file)
{
    char path[PathSize];
    if (std::strchr(file, '\\') || std::strchr(file, '/')) {
        lstrcpynA(path, file, PathSize);
    } else {
        char windows[PathSize];
        UINT length = GetWindowsDirectoryA(windows, PathSize);
        if (!length || length >= PathSize || !JoinPath(path, windows, file))
            return;
    }
    FileHandle handle = OpenExisting(path, 0);
    if (handle == INVALID_FILE_HANDLE)
        return;
    uint8_t bytes[64];
    uint32_t length = FileLength(handle);
    bool blank = length <= sizeof bytes && ReadExact(handle, bytes, length) == 0;
    for (uint32_t i = 0; blank && i < length; ++i)
        blank = bytes[i] == ' ' || bytes[i] == '\t' || bytes[i] == '\r' || bytes[i] == '\n';
    CloseFile(handle);
    if (blank && DeleteFileA(path))
        LogLine("Removed: %s", path);
}

void RemoveFiles(const UninstallLogView& log, const char* installDir)
{
    ByteCursor items = log.files;
    ByteCursor sums = log.sums;
    for (uint32_t i = 0; i < log.fileCount; ++i) {
        LogItem item = NextLogFile(&items);
        LogSum installed = log.hasSums ? NextLogSum(&sums) : LogSum();
        char path[PathSize];
        if (!LogItemPath(item, installDir, path))
            continue;
        // A file the user changed since is kept and said so; in the
        // install folder the list of what is left names it.
        if (!(item.flags & LogItemShared) && ChangedSince(path, installed)) {
            LogLine("Changed since the installation, kept: %s", path);
            if (!*installDir || !StartsWithFolded(path, installDir))
                AddLeft(path);
            continue;
        }
        if ((item.flags & LogItemShared) && !ReleaseSharedFile(path))
            continue;
        if (!Exists(path))
            continue;
        if (item.flags & LogItemSelfRegister)
            CallLibraryFunction(path, "DllUnregisterServer");
        if (item.flags & LogItemFont)
            UnregisterFont(path);
        RemoveFile(path);
    }
    // A folder goes once the folders below it have: repeat until a pass
    // removes nothing. A log that lists the folders made says which.
    if (!*installDir || log.hasFolders)
        return;
    for (bool again = true; again;) {
        again = false;
        items = log.files;
        for (uint32_t i = 0; i < log.fileCount; ++i) {
            LogItem item = NextLogFile(&items);
            char path[PathSize];
            if (item.folder.length > 1 && LogItemPath(item, installDir, path)) {
                FolderOf(path, path);
                again |= RemoveEmptyFolders(path, installDir, false);
            }
        }
    }
}

void RemoveShortcuts(const UninstallLogView& log)
{
    char programs[PathSize];
    bool menu = SpecialFolderPath(CSIDL_PROGRAMS, programs);
    if (menu)
        AppendBackslash(programs);
    ByteCursor items = log.shortcuts;
    for (uint32_t i = 0; i < log.shortcutCount; ++i) {
        LogItem item = NextLogShortcut(&items);
        char path[PathSize];
        if (!LogItemPath(item, "", path))
            continue;
        RemoveFile(path);
        // Folders of the Programs menu that are now empty; never the menu.
        if (menu && !log.hasFolders) {
            FolderOf(path, path);
            RemoveEmptyFolders(path, programs, false);
        }
    }
}

// The folders the installation made, the deepest first (the log lists a
// parent before its children), each only when empty. The folders of files
// deleted at the restart are deleted then too, when empty by then (the
// NT family; WININIT.INI of the older one deletes files only).
void RemoveMadeFolders(const UninstallLogView& log)
{
    LogText* folders = LogFolderArray(log);
    if (!folders)
        return;
    for (uint32_t i = log.folderCount; i-- > 0;) {
        char path[PathSize];
        LogTextCopy(folders[i], path);
        if (RemoveFolder(path) || !Exists(path) || !IsWindowsNT || IsShellFolder(path))
            continue;
        AppendBackslash(path);
        for (unsigned f = 0; f < ScheduledCount; ++f) {
            if (StartsWithFolded(Scheduled[f], path)) {
                StripBackslash(path);
                ScheduleAtRestart(nullptr, path);
                break;
            }
        }
    }
    FreeAndClear(&folders);
}

HKEY LogRoot(uint32_t root) { return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(root)); }

bool KeyIsEmpty(HKEY root, const char* path)
{
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    DWORD keys = 1, values = 1;
    bool empty = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &keys, nullptr, nullptr, &values, nullptr, nullptr,
                                  nullptr, nullptr) == ERROR_SUCCESS &&
                 keys == 0 && values == 0;
    RegCloseKey(key);
    return empty;
}

// The install folder the installation remembered for the next one: the
// value, the keys it made when empty; the profile entry, its section
// and file when the installation added them and nothing else is there.
void RemoveRemembered(const UninstallLogView& log)
{
    if (log.hasRegistryValue) {
        HKEY root = LogRoot(log.registryRoot);
        char path[PathSize];
        char value[PathSize];
        LogTextCopy(log.registryKey, path);
        LogTextCopy(log.registryValue, value);
        HKEY key;
        if (RegOpenKeyExA(root, path, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            if (RegDeleteValueA(key, value) == ERROR_SUCCESS)
                LogLine("Registry removed: %s, value \"%s\"", path, value);
            RegCloseKey(key);
        }
        for (uint8_t part = 0; part < log.registryMadeParts && KeyIsEmpty(root, path); ++part) {
            if (RegDeleteKeyA(root, path) != ERROR_SUCCESS)
                break;
            LogLine("Registry removed: %s", path);
            char* slash = std::strrchr(path, '\\');
            if (!slash)
                break;
            *slash = 0;
        }
    }
    if (log.hasProfileEntry) {
        char file[PathSize];
        char section[PathSize];
        char key[PathSize];
        LogTextCopy(log.profileFile, file);
        LogTextCopy(log.profileSection, section);
        LogTextCopy(log.profileKey, key);
        WritePrivateProfileStringA(section, key, nullptr, file);
        char probe[4];
        if ((log.profileFlags & LogProfileNewSection) && GetPrivateProfileSectionA(section, probe, sizeof probe, file) == 0)
            WritePrivateProfileStringA(section, nullptr, nullptr, file);
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, file);
        LogLine("Profile removed: %s [%s] %s", file, section, key);
        if (log.profileFlags & LogProfileNewFile)
            RemoveEmptyProfile(file);
    }
}

// The key the log names, as text (PathSize bytes).
void KeyOf(const UninstallLogView& log, char* key)
{
    std::memcpy(key, log.key.text, log.key.length);
    key[log.key.length] = 0;
}

void RemoveUninstallKey(const UninstallLogView& log)
{
    if (!log.hasKey)
        return;
    char key[PathSize];
    KeyOf(log, key);
    HKEY opened;
    if (RegDeleteKeyA(Root, key) != ERROR_SUCCESS && RegOpenKeyExA(Root, key, 0, KEY_READ, &opened) == ERROR_SUCCESS) {
        RegCloseKey(opened);
        AddLeft(key);
        KeyLeft = true;
    } else {
        LogLine("Registry removed: %s\\%s", Root == HKEY_CURRENT_USER ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE", key);
    }
}

// A running program cannot be deleted, but it can be moved on its volume:
// it goes to the temporary folder, deleted there at the next restart, so
// the install folder can go now and a new installation into it is never
// hit by a pending deletion. Where it cannot move, it is deleted at the
// next restart where it is.
void RemoveSelf()
{
    // The log beside a signed program was read whole: it goes now.
    if (Loaded.beside)
        RemoveFile(Loaded.besidePath);
    char folder[PathSize];
    char moved[PathSize];
    if (GetTempPathA(PathSize, folder) && GetTempFileNameA(folder, "zun", 0, moved)) {
        if (MoveFileExA(OwnPath, moved, MOVEFILE_REPLACE_EXISTING)) {
            ScheduleAtRestart(nullptr, moved);
            return;
        }
        DeleteFileA(moved);
    }
    ScheduleAtRestart(nullptr, OwnPath);
}

// Lists what is left inside a folder, files and folders, depth first.
void ListLeft(const char* folder, int depth)
{
    char pattern[PathSize];
    // An install folder shared with much else (a drive's root) is not
    // walked further than the message can show.
    if (depth > 8 || LeftFull || !JoinPath(pattern, folder, "*"))
        return;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if (std::strcmp(found.cFileName, ".") == 0 || std::strcmp(found.cFileName, "..") == 0)
            continue;
        char path[PathSize];
        if (!JoinPath(path, folder, found.cFileName))
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ListLeft(path, depth + 1);
        else if (!IsScheduled(path))
            AddLeft(path);
    } while (!LeftFull && FindNextFileA(search, &found));
    FindClose(search);
}

void ProductName(const UninstallLogView& log)
{
    size_t prefix = std::strlen(UninstallKeyPrefix);
    if (log.hasKey) {
        size_t length = log.key.length - prefix;
        std::memcpy(Product, log.key.text + prefix, length);
        Product[length] = 0;
    } else {
        lstrcpynA(Product, Text(UninstallTitle), PathSize);
    }
}

// The UninstallString of the key the log names ("" when there is none).
const char* RegisteredPath(const UninstallLogView& log)
{
    static char path[PathSize];
    char key[PathSize];
    path[0] = 0;
    if (log.hasKey) {
        KeyOf(log, key);
        ReadRegistryPath(Root, key, "UninstallString", path);
    }
    return path;
}

int Refuse(unsigned index)
{
    Tell(index, nullptr);
    return ExitRefused;
}

bool QuietOption(const char* line)
{
    char word[PathSize];
    // The program's own name, quoted or not, comes first.
    const char* at = ReadOptionArgument(line, word, PathSize);
    // /Q and /LOG as the installer reads them.
    ParseCommandLine(at);
    while (*at) {
        at = ReadOptionArgument(at, word, PathSize);
        if ((word[0] == '/' || word[0] == '-') && lstrcmpiA(word + 1, "quiet") == 0)
            return true;
    }
    return false;
}

int Uninstall()
{
    IsWindowsNT = (GetVersion() & 0x80000000u) == 0;
    bool quietWord = QuietOption(GetCommandLineA());
    StandardCodes = RunMode != RunInteractive && !quietWord;
    Quiet = quietWord || StandardCodes;
    OpenRunLog(RunLogPath);
    LogLine("Zevrin uninstaller: %s", GetCommandLineA());
    DWORD ownLength = GetModuleFileNameA(nullptr, OwnPath, PathSize);
    if (ownLength == 0 || ownLength >= PathSize)
        return Refuse(UninstallDamaged);

    UninstallLogView log;
    LogProblem problem = LoadUninstallLog(OwnPath, &Loaded, &log);
    if (log.texts && log.textsSize && AllocWithRetry(log.textsSize, &MessageGroups[GroupMessages]))
        std::memcpy(MessageGroups[GroupMessages], log.texts, log.textsSize);
    if (problem != LogOk)
        return Refuse(problem == LogNotWritten ? UninstallNoLog : UninstallDamaged);
    if (log.perUser)
        Root = HKEY_CURRENT_USER;
    char installDir[PathSize];
    if (!FindInstallDir(log, OwnPath, RegisteredPath(log), installDir))
        return Refuse(UninstallMoved);
    // Every path must be whole before anything is touched.
    ByteCursor items = log.files;
    for (uint32_t i = 0; i < log.fileCount; ++i) {
        char path[PathSize];
        if (!LogItemPath(NextLogFile(&items), installDir, path))
            return Refuse(UninstallDamaged);
    }
    ProductName(log);

    if (!Quiet) {
        char text[MaxShownText + 1];
        FormatText(text, sizeof text, Text(UninstallConfirm), Product, 0);
        if (ShowMessage(text, MessageYesNo) != AnswerYes)
            return ExitDeclined;
    }
    FindShellFolders();
    RemoveFiles(log, installDir);
    RemoveShortcuts(log);
    RemoveUninstallKey(log);
    RemoveRemembered(log);
    RemoveSelf();
    if (log.hasFolders) {
        RemoveMadeFolders(log);
        if (*installDir && Exists(installDir))
            ListLeft(installDir, 0);
    } else if (*installDir) {
        char ownFolder[PathSize];
        FolderOf(OwnPath, ownFolder);
        RemoveEmptyFolders(ownFolder, installDir, true);
        RemoveEmptyFolders(installDir, installDir, true);
        if (Exists(installDir)) {
            ListLeft(installDir, 0);
            if (!Leftover)
                ScheduleFolders(installDir);
        }
    }
    FreeInstalledLog(&Loaded);
    FreeAndClear(&ShellFolders);

    if (RebootNeeded)
        Tell(UninstallRestart, nullptr);
    if (Leftover) {
        if (Quiet) {
            Print(Text(UninstallLeft));
            Print(Left);
        } else {
            char text[MaxShownText + 1];
            FormatText(text, sizeof text, Text(UninstallLeft), nullptr, 0);
            size_t used = std::strlen(text);
            lstrcpynA(text + used, "\r\n\r\n", static_cast<int>(sizeof text - used));
            used = std::strlen(text);
            lstrcpynA(text + used, Left, static_cast<int>(sizeof text - used));
            ShowMessage(text, MessageInformation);
        }
        return ExitLeft;
    }
    Tell(UninstallDone, Product);
    return ExitRemoved;
}

} // namespace

} // namespace zevrin

namespace zevrin {

namespace {

// The run's code as /Q gives it.
int StandardCode(int code)
{
    switch (code) {
    case ExitRemoved:
    case ExitLeft: return KeyLeft ? StandardFailed : RebootNeeded ? StandardRestartNeeded : StandardRemoved;
    case ExitDeclined: return StandardCancelled;
    default: return StandardFailed;
    }
}

int Finish(int code)
{
    static const char* const Results[] = {"removed", "removed, something is left",
                                          "refused: the log is missing or damaged, or the program was moved",
                                          "declined by the user"};
    LogLine("Result: %s%s", Results[code], RebootNeeded ? " (files in use go at the next restart)" : "");
    if (StandardCodes)
        code = StandardCode(code);
    LogLine("Exit code: %d", code);
    CloseRunLog();
    return code;
}

} // namespace

} // namespace zevrin

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    int code = zevrin::Finish(zevrin::Uninstall());
    zevrin::FreeAndClear(&zevrin::MessageGroups[zevrin::GroupMessages]);
    ExitProcess(static_cast<UINT>(code));
}
