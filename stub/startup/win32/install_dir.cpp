#include "install_dir.h"

#include <windows.h>

#include <direct.h>
#include <shlobj.h>

#include <cstring>

#include "../../engine/paths.h"
#include "../../engine/win32/destination.h"
#include "../../engine/win32/registry.h"
#include "../../engine/win32/shortcuts.h"
#include "../../shared/state.h"
#include "../install_folder.h"

namespace zevrin {

namespace {

const char CurrentVersionKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";

bool FindStoredName(const char* path, char* name)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    found.cFileName[MAX_PATH - 1] = 0;
    std::memcpy(name, found.cFileName, std::strlen(found.cFileName) + 1);
    return true;
}

// A profile text of 260 characters or more is too long, not cut: the
// buffer is one byte larger so that a cut one shows.
void ReadProfilePath(char* text)
{
    char value[PathSize + 1];
    DWORD length = GetPrivateProfileStringA(PrevDirIniSection, PrevDirIniKey, "", value, sizeof value, PrevDirIniFile);
    if (length < PathSize)
        std::memcpy(text, value, length + 1);
}

bool ProgramFilesFolder(char* folder)
{
    return ReadRegistryPath(HKEY_LOCAL_MACHINE, CurrentVersionKey, "ProgramFilesDir", folder);
}

typedef HRESULT(WINAPI* KnownFolderCall)(const GUID&, DWORD, HANDLE, PWSTR*);

// FOLDERID_UserProgramFiles, Windows 7 and later.
const GUID UserProgramFilesId = {0x5CD7AEE2, 0x2219, 0x4A67, {0xB8, 0x5D, 0x6C, 0x9C, 0xE1, 0x56, 0x60, 0xCB}};
const DWORD KnownFolderDontVerify = 0x4000; // the folder need not exist yet: the installation makes it

// The known folder, when the shell has the call and the path has an ANSI
// form that names the same folder.
bool KnownUserProgramFiles(char* folder)
{
    HMODULE shell = GetModuleHandleA("shell32.dll");
    KnownFolderCall call = shell ? reinterpret_cast<KnownFolderCall>(reinterpret_cast<void (*)()>(
                                       GetProcAddress(shell, "SHGetKnownFolderPath")))
                                 : nullptr;
    PWSTR wide = nullptr;
    if (!call || call(UserProgramFilesId, KnownFolderDontVerify, nullptr, &wide) != S_OK || !wide) {
        CoTaskMemFree(wide);
        return false;
    }
    BOOL lossy = FALSE;
    int length = WideCharToMultiByte(CP_ACP, 0, wide, -1, folder, PathSize, nullptr, &lossy);
    CoTaskMemFree(wide);
    return length > 1 && !lossy;
}

// The user's own programs folder: the shell's known folder; before it,
// "Programs" in the user's local application data, where that folder is
// also on later systems; on a system with neither (no per-user folders,
// nor rights to keep users apart), the Program Files folder.
bool UserProgramFilesFolder(char* folder)
{
    if (KnownUserProgramFiles(folder))
        return true;
    char local[PathSize];
    if (SpecialFolderPath(CSIDL_LOCAL_APPDATA, local) && JoinPath(folder, local, "Programs"))
        return true;
    return ProgramFilesFolder(folder);
}

} // namespace

void NormalizePathCase(char* path) { RewritePathCase(path, FindStoredName); }

void ExpandFolderMacro(char* folderText)
{
    const char* rest = nullptr;
    FolderMacro macro = SplitFolderMacro(folderText, &rest);
    if (macro == NoFolderMacro)
        return;
    // An unrecognised macro, or a folder that cannot be had, is empty: only
    // the rest is kept.
    char folder[PathSize] = "";
    bool found = macro == WindowsFolderMacro            ? WindowsFolder(folder)
                 : macro == SystemFolderMacro           ? SystemFolder(folder)
                 : macro == ProgramFilesFolderMacro     ? ProgramFilesFolder(folder)
                 : macro == UserProgramFilesFolderMacro && UserProgramFilesFolder(folder);
    if (!found)
        folder[0] = 0;
    // The rest alone always fits: it is part of the text.
    char expanded[PathSize];
    if (!JoinPath(expanded, folder, rest))
        JoinPath(expanded, "", rest);
    std::memcpy(folderText, expanded, std::strlen(expanded) + 1);
}

void ResolveInstallDir()
{
    TempPath[0] = 0;
    if (PrevDirKey)
        ReadRegistryPath(RootKey(PrevDirRootIndex), PrevDirKey, PrevDirValue, TempPath);
    if (!TempPath[0] && PrevDirIniFile && PrevDirIniSection && PrevDirIniKey)
        ReadProfilePath(TempPath);
    if (TempPath[0] && _chdir(TempPath) != 0 && (!CutToFileFolder(TempPath) || _chdir(TempPath) != 0))
        TempPath[0] = 0;
    if (TempPath[0]) {
        std::memcpy(InstallDir, TempPath, std::strlen(TempPath) + 1);
        NormalizePathCase(InstallDir);
    }
    ExpandFolderMacro(InstallDir);
}

} // namespace zevrin
