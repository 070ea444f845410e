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

// After InstallNextFile returned 0: closes the package, moves the wizard
// to the finish page and clears InstallRunning.
void FinishInstallation();

// The entry being handled (0xFFFFFFFF before the first) and the next one.
extern uint32_t EntryIndex;
extern uint8_t* EntryCursor;

// ErrorSubject = path, cut (with "...") to fit.
void SetErrorSubject(const char* path);
// Shows the path, shortened to 30 characters, on the progress page.
void ShowProgressPath(const char* path);
// ProgressPercent = p (at most 100), then the bar is redrawn.
void SetProgressPercent(uint32_t p);

} // namespace zevrin
