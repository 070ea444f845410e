// The command line: /S "path" to read the package from another file,
// /DEL to delete the running file at the next restart. Options start with
// '/' or '-' and are matched in any letter case.
#pragma once

namespace zevrin {

// Sets PackageSourcePath and DeleteSelfMode from the text after the
// program name.
void ParseCommandLine(const char* text);

// Copies one argument (quoted, or up to the next blank) into destination,
// at most capacity - 1 characters; returns the position behind it.
const char* ReadOptionArgument(const char* position, char* destination, unsigned capacity);

} // namespace zevrin
