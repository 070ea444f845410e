#include "install_dir.h"

#include <windows.h>

#include <direct.h>

#include <cstring>

#include "../../engine/paths.h"
#include "../../engine/win32/destination.h"
#include "../../engine/win32/registry.h"
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
    bool found = macro == WindowsFolderMacro  ? WindowsFolder(folder)
                 : macro == SystemFolderMacro ? SystemFolder(folder)
                 : macro == ProgramFilesFolderMacro &&
                       ReadRegistryPath(HKEY_LOCAL_MACHINE, CurrentVersionKey, "ProgramFilesDir", folder);
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
