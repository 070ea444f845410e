#include "space.h"

#include <cstring>

#include "../../shared/platform.h"
#include "../../shared/state.h"
#include "../disk_space.h"
#include "../paths.h"

namespace zevrin {

DiskFreeSpaceCall GetDiskFreeSpaceHook = GetDiskFreeSpaceA;
const char* ExtendedFreeSpaceName = "GetDiskFreeSpaceExA";

namespace {

typedef BOOL(WINAPI* DiskFreeSpaceExCall)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);

bool EnterFolder(const char* folder)
{
    if (SetCurrentDirectoryA(folder))
        return true;
    return CreateDirectoryA(folder, nullptr) && SetCurrentDirectoryA(folder);
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

int MakeDirectories(const char* path)
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
    if (pos) {
        const char* seg = buf;
        size_t accLength = 0;
        do {
            std::memcpy(acc + accLength, seg, pos - seg);
            accLength += pos - seg;
            acc[accLength] = 0;
            if (!EnterFolder(acc))
                failed = 1;
            seg = pos;
            pos = std::strchr(pos + 1, '\\');
        } while (pos && !failed);
    } else {
        std::strcpy(acc, buf);
        StripBackslash(acc);
        if (!EnterFolder(acc))
            failed = 1;
    }
    FreeAndClear(&buf);
    FreeAndClear(&acc);
    return failed;
}

} // namespace zevrin
