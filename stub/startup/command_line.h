// The command line: /S "path" to read the package from another file,
// /DEL to delete the running file at the next restart, /Q (quiet) and /QP
// (progress only) for unattended runs, /DIR="folder" for the install
// folder and /LOG="file" for a plain-text log. Options start with '/' or
// '-' and are matched in any letter case; unknown ones are skipped.
#pragma once

namespace zevrin {

// Sets PackageSourcePath, DeleteSelfMode, RunMode, CommandLineDir and
// RunLogPath from the text after the program name.
void ParseCommandLine(const char* text);

// Copies one argument (quoted, or up to the next blank) into destination,
// at most capacity - 1 characters; returns the position behind it.
const char* ReadOptionArgument(const char* position, char* destination, unsigned capacity);

} // namespace zevrin
