// Path helpers. Paths are ANSI, at most 259 characters in a 260-byte
// buffer; InstallDir is shown without and handed on with its final '\'.
#pragma once

#include <cstdint>

namespace zevrin {

// Adds '\' to a non-empty path that lacks one (never past 259 characters).
void AppendBackslash(char* path);
// Removes a final '\' from paths longer than 3 characters, so that a
// drive root such as C:\ keeps it.
void StripBackslash(char* path);

// out = folder, '\' when the folder is not empty and lacks one, name. out
// holds PathSize bytes and may be the folder itself. False, and out
// untouched, when the result would not fit: a path cut short would name
// another file.
bool JoinPath(char* out, const char* folder, const char* name);
// out = path with everything after its last '\' replaced by name (all of
// it without a '\'). False, out untouched, when it would not fit.
bool ReplaceFileName(char* out, const char* path, const char* name);
// The part of a path after its last '\' (all of it without one).
const char* PathFileName(const char* path);

// ASCII letters in upper case, every other byte as it is: the letter case
// the platform ignores in names and options.
char FoldCase(char c);
// Whether text begins with prefix, without regard to ASCII letter case.
bool StartsWithFolded(const char* text, const char* prefix);

// Splits a path into the folder and name of an uninstall-log item. Inside
// installDir (which ends in '\'; compared without regard to ASCII case)
// the folder is "." or ".\sub"; elsewhere it is the path up to its last
// '\'. folder holds PathSize bytes. False, folder empty, when the path is
// not shorter than PathSize or has no '\' outside installDir; an empty
// installDir contains nothing.
bool SplitLogPath(const char* path, const char* installDir, char* folder, const char** name);

// Whether a folder named relative to another stays inside it: no drive
// (no ':'), no leading '\' or '/', no ".." part between either. Empty
// stays inside.
bool StaysInside(const char* subFolder);

// The command line that starts the program at `shortPath`, as
// GetShortPathNameA gave it with its result `length`, into command
// (PathSize + 2 bytes). False when there is no whole path to start (0, or
// a length that did not fit PathSize): a cut path would start another
// file or none. A path with blanks (a volume without short names) is
// quoted, or WinExec would split it.
bool LaunchCommand(char* command, const char* shortPath, uint32_t length);

// Shortens a path for one line of text: when it is longer than maximum,
// the folders after the first '\' are replaced by "..." as far as needed
// (C:\Program Files\...\file.exe). Never makes the text longer.
void AbbreviatePath(char* text, unsigned maximum);

} // namespace zevrin
