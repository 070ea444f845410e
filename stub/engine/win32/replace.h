// The file already at the destination: asking before a newer or otherwise
// localised one is overwritten, and putting the unpacked temporary file in
// its place, or scheduling that for the next restart when it is in use.
#pragma once

#include <cstdint>

namespace zevrin {

// 1 = write the entry's file over DestPath, 0 = keep the existing file.
// Asks group 6 texts 29 and 30 as the entry's CheckVersion and
// CheckLanguage flags say. Missing or unreadable version data gives 1.
// With 0, *keptBecause (when given) says why, for the run log.
int CheckExistingVersion(const uint8_t* entry, const char** keptBecause = nullptr);

// Puts `temp` in place of DestPath and sets the entry's Status: 23 an
// existing file replaced (or found identical), 25 a new file, 500 waiting
// for the next restart, 27 when the rename failed; then `temp` is still
// there for the caller to delete.
void ReplaceFile(uint8_t* entry, const char* temp);

// For a DestPath that cannot be deleted: keeps it when its bytes equal
// `temp` (temp deleted, Status 23), otherwise schedules the replacement
// for the next restart (Status 500, RebootNeeded); where the restart may
// not be asked (a user without administrator rights), Status 27 with temp
// left for the caller to delete.
void CompareOrSchedule(uint8_t* entry, const char* temp);

} // namespace zevrin
