// Shell shortcuts (.lnk files).
#pragma once

#include <windows.h>

#include <shlobj.h> // the CSIDL_ folder numbers

#include "../../shared/platform.h"

namespace zevrin {

// A shortcut at `link` to `target`, started in the target's folder, with
// `arguments` (null or empty: none) and the target's icon number `icon`
// (0: left unset). The platform's result code; S_OK when saved.
HRESULT CreateShellLink(const char* target, const char* link, const char* arguments, int icon);

// The path of a shell folder (CSIDL_DESKTOP, CSIDL_PROGRAMS, ...) into a
// PathSize buffer; false when the platform has none.
bool SpecialFolderPath(int folder, char* path);

// link = the desktop folder's path, '\\', name, ".lnk"; false when the
// platform has no desktop folder or the path would not fit PathSize.
bool DesktopLinkPath(const char* name, char* link);

// A start-menu shortcut `name`.lnk to `target`. folderSpec picks the folder,
// compared without regard to case: "#Start Menu#" the start menu itself,
// "#Startup#" the startup folder, anything else that sub-folder of the
// Programs folder (empty: Programs itself); a missing folder is created.
// With a log (not the invalid handle) the shortcut's folder and file name
// are written as two counted strings. True when that item was written; no
// shortcut and no item when the folder cannot be had or entered, or the
// path would not fit PathSize. The current folder is left in the
// shortcut's folder.
bool CreateMenuShortcut(const char* target, const char* folderSpec, const char* name, const char* arguments, int icon,
                        FileHandle log);

// The start-menu shortcuts of every entry with a MenuLinkName, one per
// ';'-separated part of its MenuFolders (an empty part after a final ';'
// is none). With a log, appends record 4662 listing the items written, when
// at least one entry names a shortcut.
void CreateMenuShortcuts(FileHandle log);

} // namespace zevrin
