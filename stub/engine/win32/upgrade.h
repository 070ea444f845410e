// Upgrading the installed version of the product (install options bit
// 4): its log is read before the new files replace its uninstaller, and
// once the new version is installed and has written its own log, what it
// dropped is taken away and the two logs become one (../upgrade.h).
#pragma once

namespace zevrin {

// At the start of the installation: the log of the uninstaller the
// product's uninstall key names, kept when our reader accepts it. Without
// the option, an uninstall name, or such a log: nothing, and the run is as
// it always was.
void LoadPreviousInstall();

// Whether the installed version counted this shared file already: the
// new copy is then not counted a second time.
bool SharedCountedBefore(const char* path);

// After the new log was written and nothing failed: removes the files,
// shortcuts, fonts, libraries, shared counts and the remembered folder of
// the old version that the new one does not have (never a file the user
// changed since, or one the package keeps), and merges the old log into
// the new one. Frees what LoadPreviousInstall read.
void FinishUpgrade();

// Frees what LoadPreviousInstall read (a run that failed or was cancelled).
void ForgetPreviousInstall();

} // namespace zevrin
