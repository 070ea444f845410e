// The install folder the directory page proposes (the text rules are in
// ../install_folder.h).
#pragma once

namespace zevrin {

// Called once after the header has been read, before any window. A folder
// recorded by an earlier installation (the PrevDirKey registry value, or
// else the PrevDirIni* profile key) that still exists, or whose named file
// lies in one that does, replaces the package default in InstallDir, in
// the letter case the file system stores, and becomes the current
// directory. Then a leading folder macro of InstallDir is expanded.
// Anything missing, unreadable or too long for a path buffer falls back
// quietly: to the default, and for a macro to an empty folder.
void ResolveInstallDir();

// Rewrites an existing absolute path in place with the names the file
// system stores (letter case, long form); see RewritePathCase.
void NormalizePathCase(char* path);

// Replaces a leading "#Windows#", "#System#" or "#Program Files#" (any
// case) by that folder and a '\'; an unknown macro is dropped, and so is a
// folder that cannot be had or would not fit with the rest.
void ExpandFolderMacro(char* folderText);

} // namespace zevrin
