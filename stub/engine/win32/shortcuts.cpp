#include "shortcuts.h"

#include <objidl.h>
#include <shlobj.h>

#include <cstring>

#include "../../shared/state.h"
#include "../../shared/win32/run_log.h"
#include "../file_table.h"
#include "../paths.h"
#include "../uninstall_log.h"
#include "destination.h"
#include "space.h"

namespace zevrin {

HRESULT CreateShellLink(const char* target, const char* link, const char* arguments, int icon)
{
    IShellLinkA* shellLink = nullptr;
    HRESULT result = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                      reinterpret_cast<void**>(&shellLink));
    if (FAILED(result)) {
        LogLine("Shortcut failed: %s -> %s", link, target);
        return result;
    }
    shellLink->SetPath(target);
    const char* slash = std::strrchr(target, '\\');
    if (slash) {
        char folder[PathSize];
        size_t length = static_cast<size_t>(slash - target);
        if (length < PathSize) {
            std::memcpy(folder, target, length);
            folder[length] = 0;
            shellLink->SetWorkingDirectory(folder);
        }
    }
    if (arguments && *arguments)
        shellLink->SetArguments(arguments);
    if (icon != 0)
        shellLink->SetIconLocation(target, icon);

    IPersistFile* persist = nullptr;
    result = shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist));
    if (SUCCEEDED(result)) {
        WCHAR wide[PathSize];
        // A name that does not convert whole is not saved under a cut one.
        if (MultiByteToWideChar(CP_ACP, 0, link, -1, wide, PathSize) == 0)
            result = E_INVALIDARG;
        else
            result = persist->Save(wide, TRUE);
        persist->Release();
    }
    shellLink->Release();
    LogLine(SUCCEEDED(result) ? "Shortcut: %s -> %s" : "Shortcut failed: %s -> %s", link, target);
    return result;
}

bool SpecialFolderPath(int folder, char* path)
{
    LPITEMIDLIST list = nullptr;
    if (SHGetSpecialFolderLocation(nullptr, folder, &list) != S_OK || !list)
        return false;
    bool found = SHGetPathFromIDListA(list, path) && path[0];
    CoTaskMemFree(list);
    return found;
}

namespace {

bool EnterFolder(const char* path) { return SetCurrentDirectoryA(path) != 0; }

} // namespace

bool DesktopLinkPath(const char* name, char* link)
{
    char desktop[PathSize];
    size_t length = std::strlen(name);
    if (!SpecialFolderPath(CSIDL_DESKTOP, desktop) || length + sizeof ".lnk" > PathSize)
        return false;
    char file[PathSize];
    std::memcpy(file, name, length);
    std::memcpy(file + length, ".lnk", sizeof ".lnk");
    return JoinPath(link, desktop, file);
}

bool CreateMenuShortcut(const char* target, const char* folderSpec, const char* name, const char* arguments, int icon,
                        FileHandle log)
{
    int folder = CSIDL_PROGRAMS;
    const char* sub = folderSpec;
    if (lstrcmpiA(folderSpec, "#Start Menu#") == 0) {
        folder = CSIDL_STARTMENU;
        sub = "";
    } else if (lstrcmpiA(folderSpec, "#Startup#") == 0) {
        folder = CSIDL_STARTUP;
        sub = "";
    }
    // The package names a folder of the start menu, never one elsewhere.
    if (!StaysInside(sub))
        return false;
    char path[PathSize];
    if (!SpecialFolderPath(folder, path))
        return false;
    if (*sub && !JoinPath(path, path, sub))
        return false;
    StripBackslash(path);
    if (!EnterFolder(path)) {
        AppendBackslash(path);
        MakeDirectories(path);
        if (!EnterFolder(path))
            return false;
    }
    AppendBackslash(path);
    size_t at = std::strlen(path);
    size_t nameLength = std::strlen(name);
    // A cut name would be another shortcut.
    if (at + nameLength + sizeof ".lnk" > PathSize)
        return false;
    std::memcpy(path + at, name, nameLength);
    std::memcpy(path + at + nameLength, ".lnk", sizeof ".lnk");
    CreateShellLink(target, path, arguments, icon);
    if (log == INVALID_FILE_HANDLE)
        return false;
    char fileName[PathSize];
    std::memcpy(fileName, path + at, nameLength + sizeof ".lnk");
    path[at - 1] = 0;
    WriteCountedString(log, path);
    WriteCountedString(log, fileName);
    return true;
}

void CreateMenuShortcuts(FileHandle log)
{
    bool started = false;
    uint32_t head = 0;
    uint32_t count = 0;
    const uint8_t* entry = FirstEntry;
    for (uint32_t i = 0; i < EntryCount && entry; ++i, entry = NextEntry(entry)) {
        const char* name = EntryString(entry, MenuLinkNameString);
        if (!*name)
            continue;
        // A destination that does not fit leaves DestPath empty: no target.
        if (ResolveDestination(entry) == DestinationTooLong)
            continue;
        if (log != INVALID_FILE_HANDLE && !started) {
            head = BeginLogRecord(log, LogTagShortcuts);
            started = true;
        }
        // The parts are copied out: the entry's own bytes stay as they are.
        const char* folders = EntryString(entry, MenuFoldersString);
        const char* arguments = EntryString(entry, MenuLinkArgsString);
        int icon = ReadU16(entry + EntryIconIndex);
        const char* part = folders;
        for (;;) {
            const char* end = std::strchr(part, ';');
            size_t length = end ? static_cast<size_t>(end - part) : std::strlen(part);
            char folderSpec[PathSize];
            // A folder name that does not fit a path never makes one.
            if (length < PathSize) {
                std::memcpy(folderSpec, part, length);
                folderSpec[length] = 0;
                if (CreateMenuShortcut(DestPath, folderSpec, name, arguments, icon, log))
                    ++count;
            }
            if (!end || !end[1])
                break;
            part = end + 1;
        }
    }
    if (started)
        EndLogRecord(log, head, LogTagShortcuts, count);
}

} // namespace zevrin
