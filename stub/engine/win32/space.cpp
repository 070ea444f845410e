#include "space.h"

#include <cstring>

#include "../../shared/platform.h"
#include "../../shared/state.h"
#include "../disk_space.h"
#include "../file_table.h"
#include "../paths.h"
#include "../uninstall_log.h"
#include "destination.h"

namespace zevrin {

DiskFreeSpaceCall GetDiskFreeSpaceHook = GetDiskFreeSpaceA;
const char* ExtendedFreeSpaceName = "GetDiskFreeSpaceExA";

namespace {

typedef BOOL(WINAPI* DiskFreeSpaceExCall)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);

// Folders the installation makes are remembered for its uninstaller,
// which removes them and no folder that was there before.
bool MakeFolder(const char* folder, bool remember)
{
    if (!CreateDirectoryA(folder, nullptr))
        return false;
    if (remember)
        RememberMadeFolder(folder);
    return true;
}

bool EnterFolder(const char* folder, bool remember)
{
    if (SetCurrentDirectoryA(folder))
        return true;
    return MakeFolder(folder, remember) && SetCurrentDirectoryA(folder);
}

} // namespace

uint32_t FreeDiskSpaceKB(const char* path, uint32_t* clusterKB)
{
    uint32_t result = FreeSpaceUnknown;
    if (clusterKB)
        *clusterKB = 1;
    if (!path || !path[0])
        return FreeSpaceUnknown;
    char copy[PathSize];
    lstrcpynA(copy, path, PathSize);
    bool network = copy[0] == '\\' && copy[1] == '\\';

    HMODULE kernel = LoadLibraryA("KERNEL32.DLL");
    if (kernel) {
        // Through void (*)(), which converts to any function type unwarned.
        auto extended = reinterpret_cast<DiskFreeSpaceExCall>(
            reinterpret_cast<void (*)()>(GetProcAddress(kernel, ExtendedFreeSpaceName)));
        if (extended) {
            // A share is asked about with its final '\', a folder without.
            if (network)
                AppendBackslash(copy);
            else
                StripBackslash(copy);
            ULARGE_INTEGER callerFree, total, totalFree;
            if (extended(copy, &callerFree, &total, &totalFree))
                result = FreeKBFromBytes(callerFree.QuadPart);
        }
        FreeLibrary(kernel);
        if (result != FreeSpaceUnknown && !clusterKB)
            return result;
    }

    // The older call takes only a root.
    if (!network && copy[1] == ':') {
        copy[2] = '\\';
        copy[3] = 0;
    }
    DWORD sectorsPerCluster, bytesPerSector, freeClusters, totalClusters;
    if (!GetDiskFreeSpaceHook(copy, &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters))
        return result;
    uint64_t clusterBytes = uint64_t(sectorsPerCluster) * bytesPerSector;
    if (result == FreeSpaceUnknown)
        result = FreeKBFromClusters(clusterBytes, freeClusters);
    if (clusterKB)
        *clusterKB = ClusterKB(clusterBytes);
    return result;
}

int MakeDirectories(const char* path, bool remember)
{
    uint32_t length = static_cast<uint32_t>(std::strlen(path));
    char* buf = nullptr;
    if (!AllocWithRetry(length + 4, &buf))
        return -1;
    std::memcpy(buf, path, length + 1);
    if (char* last = std::strrchr(buf, '\\'))
        last[1] = 0;

    size_t start = 0;
    if (buf[0] == '\\' && buf[1] == '\\')
        start = 2;
    else if (buf[0] && buf[1] == ':' && buf[2] == '\\')
        start = 3;
    char* pos = std::strchr(buf + start, '\\');

    // Never shorter than buf: a path past 259 characters must not overflow.
    char* acc = nullptr;
    if (!AllocZeroedWithRetry(length + 4 > PathSize ? length + 4 : PathSize, &acc)) {
        FreeAndClear(&buf);
        return -1;
    }
    int failed = 0;
    // Most files go to a folder that is already there: entering it leaves
    // the same current folder as the walk, at one call instead of one per
    // component; when it is the current folder already (the previous
    // file's), no call at all: reading it needs no system call, and a current
    // folder cannot be deleted. Only a drive path: a relative walk nests.
    bool entered = false;
    if (pos && start == 3) {
        std::strcpy(acc, buf);
        acc[std::strlen(acc) - 1] = 0;
        char current[PathSize];
        DWORD got = GetCurrentDirectoryA(PathSize, current);
        entered = (got && got < PathSize && std::strcmp(current, acc) == 0) || SetCurrentDirectoryA(acc);
        // A new folder whose parent is there (the next folder of a sorted
        // table, mostly) is made at once rather than walked to.
        if (!entered)
            entered = MakeFolder(acc, remember) && SetCurrentDirectoryA(acc);
    }
    if (entered) {
        // done
    } else if (pos) {
        const char* seg = buf;
        size_t accLength = 0;
        do {
            std::memcpy(acc + accLength, seg, pos - seg);
            accLength += pos - seg;
            acc[accLength] = 0;
            if (!EnterFolder(acc, remember))
                failed = 1;
            seg = pos;
            pos = std::strchr(pos + 1, '\\');
        } while (pos && !failed);
    } else {
        std::strcpy(acc, buf);
        StripBackslash(acc);
        if (!EnterFolder(acc, remember))
            failed = 1;
    }
    FreeAndClear(&buf);
    FreeAndClear(&acc);
    return failed;
}

namespace {

// An existing destination that will be overwritten: one whose attributes
// cannot be read, or that is read-only and cannot lose the attribute,
// blocks the installation. A read-only one is tried and keeps its
// attribute; ReadOnlyFilesFound tells the ready page of it.
bool AccessBlocked(const char* path)
{
    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_READONLY))
        return false;
    ReadOnlyFilesFound = true;
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return true;
    SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
    DWORD cleared = GetFileAttributesA(path);
    bool blocked = cleared == INVALID_FILE_ATTRIBUTES || (cleared & FILE_ATTRIBUTE_READONLY);
    SetFileAttributesA(path, attributes);
    return blocked;
}

} // namespace

int CheckDiskSpace()
{
    uint32_t clusterKB = 1;
    uint32_t freeKB = FreeDiskSpaceKB(InstallDir, &clusterKB);
    uint64_t clusterBytes = static_cast<uint64_t>(clusterKB) * 1024;
    ReadOnlyFilesFound = false;
    SpaceNeed need;
    uint8_t* entry = FirstEntry;
    for (uint32_t i = 0; i < EntryCount; ++i, entry = NextEntry(entry)) {
        int inUse = ResolveDestination(entry);
        uint32_t fileSize = EntryU32(entry, EntryFileSize);
        bool external = EntryByte(entry, EntryUninstallMode) == UninstallExternal;
        // A destination that cannot be named is counted as new; the
        // installation reports it.
        FileHandle existing = external || inUse == DestinationTooLong ? INVALID_FILE_HANDLE : OpenExisting(DestPath, 0);
        if (existing == INVALID_FILE_HANDLE) {
            CountEntrySpace(need, clusterBytes, fileSize, nullptr, external);
            continue;
        }
        uint64_t existingSize = FileLength(existing);
        CloseFile(existing);
        CountEntrySpace(need, clusterBytes, fileSize, &existingSize, false);
        // A font that is already there is not the package's to remove.
        if (EntryByte(entry, EntryLocation) == LocationFont) {
            if (EntryByte(entry, EntryUninstallMode) == UninstallRemove)
                entry[EntryUninstallMode] = UninstallLeave;
            continue;
        }
        // A file in use is replaced at restart, whatever its attributes.
        if (inUse)
            continue;
        if (AccessBlocked(DestPath)) {
            lstrcpynA(ErrorSubject, DestPath, PathSize);
            return ErrorAccessCheck;
        }
    }
    return freeKB == FreeSpaceUnknown ? 0 : CompareWithFreeSpace(need, freeKB);
}

} // namespace zevrin
