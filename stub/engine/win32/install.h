// The installation: one file-table entry per call, each unpacked into a
// temporary file beside its destination, verified, then moved into place.
#pragma once

#include <windows.h>

#include <cstdint>

namespace zevrin {

// Opens the package at its file-data region. false: ErrorCode 16 with the
// package path in ErrorSubject.
bool StartInstallation();

// Handles the next entry. 1: done without error, more may follow; 0: the
// table is exhausted, an error is in ErrorCode (with ErrorSubject), or the
// installation is being abandoned (PageResult 2). Files already installed
// stay; the temporary file of the entry that failed is deleted. The window
// is not used: progress goes to ProgressPageWindow.
int InstallNextFile(HWND page);

// After InstallNextFile returned 0: closes the package; when no error is
// set, appends the uninstall log to the installed uninstaller, makes the
// start-menu shortcuts, writes the uninstall key and the install-folder
// record, and registers self-registering libraries (follow_up.cpp); then
// moves the wizard to the finish page and clears InstallRunning. InstallDir
// ends in '\' after a run without error.
void FinishInstallation();

// The installation ends without FinishInstallation (Cancel on the
// progress page): when the package asks for rollback, the package is
// closed and everything the run changed is taken back (undo.h); else
// nothing happens, as before.
void AbandonInstallation();

// Closes (and so deletes) the temporary file of the bytes that several
// entries share; FinishInstallation does it.
void CloseStash();

// Numbers the RunOnce values of libraries registered at the next start;
// never reset, so one run never gives two libraries the same value.
extern int RegCtrlCounter;

// The entry being handled (0xFFFFFFFF before the first) and the next one.
extern uint32_t EntryIndex;
extern uint8_t* EntryCursor;

// An English description of an error number, for the run log.
const char* DescribeError(int error);

// ErrorSubject = path, cut (with "...") to fit.
void SetErrorSubject(const char* path);
// Shows the path, shortened to 30 characters, on the progress page: at
// once, or with time slices when the page next calls FlushProgressPath.
void ShowProgressPath(const char* path);
void FlushProgressPath();
// ProgressPercent = p (at most 100), then the bar is redrawn.
void SetProgressPercent(uint32_t p);

} // namespace zevrin
