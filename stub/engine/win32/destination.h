// Where a file-table entry goes.
#pragma once

#include <cstdint>

namespace zevrin {

// A destination that cannot be made: the path would not fit in DestPath's
// 260 bytes (or the platform gave no folder for it). DestPath is then
// empty; the caller reports the entry's FileName.
const int DestinationTooLong = -1;

// The Windows and System folders into a PathSize buffer; false when the
// platform gives none or it would not fit.
bool WindowsFolder(char* folder);
bool SystemFolder(char* folder);

// Fills DestPath with the destination of an entry, afresh from its
// Location, UninstallMode and FileName and the current InstallDir:
//   external file (UninstallMode 2): beside PackageSourcePath;
//   Location 1: the Windows folder; 3: the fonts folder; 0 and any other:
//   InstallDir; each followed by FileName with its sub-folders;
//   Location 2 (shared system file): FileName's last component in the
//   folder VerFindFileA names, else the System folder.
// Returns 1 only for Location 2 when the existing file is in use or
// read-only (it must be replaced at restart), otherwise 0; or
// DestinationTooLong.
int ResolveDestination(const uint8_t* entry);

} // namespace zevrin
