// Path helpers. Paths are ANSI, at most 259 characters in a 260-byte
// buffer; InstallDir is shown without and handed on with its final '\'.
#pragma once

namespace zevrin {

// Adds '\' to a non-empty path that lacks one (never past 259 characters).
void AppendBackslash(char* path);
// Removes a final '\' from paths longer than 3 characters, so that a
// drive root such as C:\ keeps it.
void StripBackslash(char* path);

} // namespace zevrin
