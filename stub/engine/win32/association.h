// Opening a file with the program registered for its type.
#pragma once

#include <windows.h>

namespace zevrin {

// Reads the default value of root\subKey into out (PathSize bytes; it may
// be subKey itself): 0, or the error of opening the key. A value that
// cannot be read (missing, too long) leaves out empty.
LONG ReadRegistryDefault(HKEY root, const char* subKey, char* out);

// Opens file through the shell; when that fails, runs the open command
// registered under HKEY_CLASSES_ROOT for extension (".txt") with the file
// in place of "%1" (open_command.h); when no program opens it, the
// system's "Open with" choice for the file. Nothing is reported.
void OpenWithAssociation(const char* file, const char* extension);

// Opens the installed file marked for viewing (PendingViewEntry), when
// it exists, with the program registered for its extension.
void ViewInstalledFile();

} // namespace zevrin
