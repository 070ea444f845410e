// Replacing and deleting files at the next restart.
#pragma once

namespace zevrin {

// With a target, source replaces target at the next restart; without one
// (null), source is deleted then. The NT family uses MoveFileExA, the older
// family the "Rename" section of WININIT.INI. False only when the NT
// family refused (the list of pending renames is the machine's: a user
// without administrator rights may not add to it).
bool ScheduleAtRestart(const char* target, const char* source);

} // namespace zevrin
