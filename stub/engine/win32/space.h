// Free disk space and folder creation.
#pragma once

#include <windows.h>

#include <cstdint>

namespace zevrin {

// Free space in KB on the volume of path: a count, FreeSpaceUnknown or
// FreeSpacePlenty (disk_space.h). clusterKB, when given, receives the
// cluster size in KB, 1 when it cannot be learned. The extended call is
// looked up at run time (the first systems lack it); without its answer,
// and for the cluster size, the older call is asked about the drive root.
uint32_t FreeDiskSpaceKB(const char* path, uint32_t* clusterKB);

// Creates the folders of path up to its last '\' (all of path without
// one), entering each, so that the current folder is left in the deepest.
// 0 done, 1 a folder could not be created or entered (always on a network
// path: its server name is neither), -1 out of memory. The folders made
// are remembered for the uninstall log unless `remember` is false (a
// folder that is not the product's, such as the run log's).
int MakeDirectories(const char* path, bool remember = true);

// Before the installation: the space the file table needs on the install
// folder's volume (each file's growth over its existing copy, in whole
// clusters, plus room for the largest), and that every existing
// destination can be overwritten, clearing read-only attributes on the
// way (ReadOnlyFilesFound). 0 go on; ErrorAccessCheck (9) with the file in
// ErrorSubject; ErrorDiskSpace (11) not enough space. A font that already
// exists stops being removed at uninstall.
int CheckDiskSpace();

// Test hooks: the older call, and the name looked up for the extended one
// (a name KERNEL32 lacks stands for a system without it).
typedef BOOL(WINAPI* DiskFreeSpaceCall)(LPCSTR, LPDWORD, LPDWORD, LPDWORD, LPDWORD);
extern DiskFreeSpaceCall GetDiskFreeSpaceHook;
extern const char* ExtendedFreeSpaceName;

} // namespace zevrin
