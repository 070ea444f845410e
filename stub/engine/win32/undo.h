// Rolling an installation back, for packages that ask (OptionRollBack):
// while the files go in, each change is kept in the journal (rollback.h)
// and what cannot be taken back later waits: a replaced file is set aside
// beside itself, a replacement at the restart is not scheduled yet. A run
// that succeeds commits (schedules, deletes what was set aside); a
// cancelled or failed one is rolled back. Without the option every call
// here does nothing and the installation is as it always was.
#pragma once

#include <windows.h>

namespace zevrin {

// Opens the journal when the package asks for rollback.
void BeginJournal();

enum { AsideNothing = 0, AsideDone = 1, AsideDoneReadOnly = 2, AsideInUse = -1, AsideFailed = -2 };
// Before a file is put at path: an existing one is renamed beside itself
// (BackupName) and journalled (AsideDoneReadOnly: it was read-only, and
// its replacement is to be). AsideNothing when nothing (or a folder) is there,
// AsideInUse when it cannot be renamed (the caller treats it as in use),
// AsideFailed (ErrorCode set) when no free name or no memory.
int SetAside(const char* path);
// A file the run put where nothing was. False (the file deleted again,
// ErrorCode set) when it cannot be journalled.
bool NoteFileMade(const char* path);
// Before a file of the run's own is written at path (a desktop
// shortcut): set aside or journalled as made. False: leave it unwritten.
bool PrepareWrite(const char* path);

// ScheduleAtRestart(target, source), or, while journalling, the promise
// to do so at the commit. False as ScheduleAtRestart.
bool ScheduleOrDefer(const char* target, const char* source);

// Before a shared count (value `name` of `key`) or a font's value (empty
// name: none) is changed: what was there; for the font, whether this run
// loaded it.
void NoteSharedCount(HKEY key, const char* name);
void NoteFont(const char* path, const char* valueName, bool added);

// The files are all in: the deferred restarts are scheduled and the set
// aside files deleted. False (ErrorCode set) when a schedule is refused;
// the run is then to be rolled back.
bool CommitRun();
// Takes back every journalled change, newest first, then removes the
// folders the run made (those that are empty). Does nothing unless the
// package asks for rollback.
void RollBack();

} // namespace zevrin
