// The text rules of the install folder proposal: folder macros, a
// recorded path that names a file, and the stored letter case of a path.
// The registry, profile and file-system side is win32/install_dir.h.
#pragma once

namespace zevrin {

// A folder text may begin with a macro, matched in any letter case.
enum FolderMacro {
    NoFolderMacro,      // no leading '#' or no second '#': the text stays
    UnknownFolderMacro, // "#...#" of no known name: removed
    WindowsFolderMacro, // "#Windows#"
    SystemFolderMacro,  // "#System#"
    ProgramFilesFolderMacro, // "#Program Files#"
    UserProgramFilesFolderMacro // "#User Program Files#": the user's own programs folder
};

// The macro a folder text begins with; unless NoFolderMacro, *rest is the
// text after the second '#', past one '\'.
FolderMacro SplitFolderMacro(const char* text, const char** rest);

// A recorded path that is no folder may name a file: when its last
// component holds a '.', cuts it to that file's folder and returns true
// (C:\App\app.exe -> C:\App; C:\app.exe -> C:\, the root, not the drive's
// current folder that "C:" would be; \app.exe -> \).
bool CutToFileFolder(char* path);

// Fills name (PathSize bytes) with the last component of an existing path
// as the file system stores it; false when there is no such path.
typedef bool (*StoredNameLookup)(const char* path, char* name);

// Replaces each component of an absolute path (X:\... or \...) by its
// stored name, folder by folder from the root; the drive letter keeps its
// case and a final '\' goes. The path stays as it is when a lookup fails,
// when it is relative, UNC, a root, holds a wildcard, or the result would
// not fit in PathSize bytes (long names may be longer than short ones).
void RewritePathCase(char* path, StoredNameLookup lookup);

} // namespace zevrin
