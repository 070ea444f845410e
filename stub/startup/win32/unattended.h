// Unattended runs (/Q, /QP) and what every run shares with them: the
// folder from /DIR, the run log, and the exit code.
#pragma once

namespace zevrin {

// Exit codes, the same in every mode.
enum : int {
    ExitInstalled = 0,
    ExitRestartNeeded = 3010,
    ExitCancelled = 1602,
    ExitFailed = 1603,
    ExitAnotherInstance = 1618,
    ExitDamagedPackage = -1,
};

// Makes the paths of /S, /DIR and /LOG whole, against the folder the
// program was started in, before anything changes that folder.
void MakeCommandLinePathsWhole();

// Opens /LOG's file, making its folder when it is missing; the current
// folder is left as it was. Nothing when there is no /LOG or it cannot
// be had.
void OpenCommandLineLog();

// The first lines of the log: the program, the command line, the mode.
// And, once the header is read, the product and its version.
void LogRunStart(const char* commandLine);
void LogPackage();

// After ResolveInstallDir: /DIR replaces the proposed folder, unless the
// package's folder cannot be changed.
void ApplyCommandLineDir();

// What the directory page does on Next, without the page or its
// questions: the folder made when missing, then the space and access
// check. False with ErrorCode (and InstallOutcome failed) when the
// installation cannot go on.
bool PrepareInstallDirQuietly();

// /Q: every file and the follow-ups, with no window; InstallOutcome says
// how it ended.
void InstallQuietly();

// The exit code of a run that read its package (made: the wizard's
// dialogs could be made), logged with the result.
int FinishRun(bool made);

} // namespace zevrin
