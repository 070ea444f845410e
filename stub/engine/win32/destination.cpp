#include "destination.h"

#include <windows.h>

#include <shlobj.h>
#include <winver.h>

#include <cstring>

#include "../../shared/state.h"
#include "../file_table.h"
#include "../paths.h"
#include "shortcuts.h"

namespace zevrin {

namespace {

// The scratch block: the folder VerFindFileA names, the folder it finds
// the current copy in, the Windows folder.
struct SharedFileScratch {
    char destination[PathSize];
    char current[PathSize];
    char windows[PathSize];
};

// Location 2. DestPath holds the install folder, the application folder
// VerFindFileA is told of.
int ResolveSharedFile(const char* fileName, SharedFileScratch* scratch)
{
    const char* name = PathFileName(fileName);
    StripBackslash(DestPath);
    if (!WindowsFolder(scratch->windows))
        scratch->windows[0] = 0;
    scratch->destination[0] = 0;
    scratch->current[0] = 0;
    UINT currentLength = PathSize;
    UINT destinationLength = PathSize;
    // MinGW declares the name without const; it is only read.
    DWORD result = VerFindFileA(VFFF_ISSHAREDFILE, const_cast<LPSTR>(name), scratch->windows, DestPath, scratch->current,
                                &currentLength, scratch->destination, &destinationLength);
    // Too small a buffer: the length is what it would need.
    if ((result & VFF_BUFFTOOSMALL) && destinationLength > PathSize)
        return DestinationTooLong;
    scratch->destination[PathSize - 1] = 0;
    int inUse = (result & VFF_FILEINUSE) ? 1 : 0;

    char* folder = scratch->destination;
    if (!folder[0]) {
        folder = scratch->current;
        if (!SystemFolder(folder))
            return DestinationTooLong;
    }
    if (!JoinPath(DestPath, folder, name))
        return DestinationTooLong;
    DWORD attributes = GetFileAttributesA(DestPath);
    if (!inUse && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        inUse = 1;
    return inUse;
}

int Resolve(const uint8_t* entry)
{
    const char* fileName = EntryString(entry, FileNameString);
    std::memcpy(DestPath, InstallDir, std::strlen(InstallDir) + 1);
    if (EntryByte(entry, EntryUninstallMode) == UninstallExternal)
        return ReplaceFileName(DestPath, PackageSourcePath, fileName) ? 0 : DestinationTooLong;

    switch (EntryByte(entry, EntryLocation)) {
    case LocationWindows:
        if (!WindowsFolder(DestPath))
            return DestinationTooLong;
        break;
    case LocationFont:
        if (!SpecialFolderPath(CSIDL_FONTS, DestPath))
            return DestinationTooLong;
        break;
    case LocationShared: {
        SharedFileScratch* scratch = nullptr;
        // Without the block the file goes to the install folder.
        if (!AllocWithRetry(sizeof(SharedFileScratch), &scratch))
            break;
        int result = ResolveSharedFile(fileName, scratch);
        FreeAndClear(&scratch);
        return result;
    }
    default:
        break;
    }
    return JoinPath(DestPath, DestPath, fileName) ? 0 : DestinationTooLong;
}

} // namespace

bool WindowsFolder(char* folder)
{
    UINT length = GetWindowsDirectoryA(folder, PathSize);
    return length && length < PathSize;
}

bool SystemFolder(char* folder)
{
    UINT length = GetSystemDirectoryA(folder, PathSize);
    return length && length < PathSize;
}

int ResolveDestination(const uint8_t* entry)
{
    int result = Resolve(entry);
    if (result == DestinationTooLong)
        DestPath[0] = 0;
    return result;
}

} // namespace zevrin
