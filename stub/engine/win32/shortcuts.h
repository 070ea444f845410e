// Shell shortcuts (.lnk files).
#pragma once

#include <windows.h>

#include <shlobj.h> // the CSIDL_ folder numbers

namespace zevrin {

// A shortcut at `link` to `target`, started in the target's folder, with
// `arguments` (null or empty: none) and the target's icon number `icon`
// (0: left unset). The platform's result code; S_OK when saved.
HRESULT CreateShellLink(const char* target, const char* link, const char* arguments, int icon);

// The path of a shell folder (CSIDL_DESKTOP, CSIDL_PROGRAMS, ...) into a
// PathSize buffer; false when the platform has none.
bool SpecialFolderPath(int folder, char* path);

} // namespace zevrin
