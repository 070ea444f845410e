#include "fonts.h"

#include <windows.h>

#include <cstring>

#include "../font_name.h"
#include "../../shared/state.h"
#include "../../shared/win32/run_log.h"
#include "../paths.h"
#include "undo.h"

namespace zevrin {

const char FontsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts";

void RegisterFont(const char* path)
{
    char name[FontNameSize];
    bool named = ReadFontValueName(path, name);
    bool added = AddFontResourceA(path) != 0;
    if (added)
        SendMessageA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0);
    LogLine(added ? "Font: %s (%s)" : "Font not loaded: %s (%s)", path, named ? name : "no name in the file");
    NoteFont(path, named ? name : "", added);
    if (!named)
        return;
    const char* file = PathFileName(path);
    HKEY key = nullptr;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, FontsKey, &key) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(file), static_cast<DWORD>(std::strlen(file)));
    RegCloseKey(key);
}

void UnregisterFont(const char* path)
{
    char name[FontNameSize];
    bool named = ReadFontValueName(path, name);
    if (RemoveFontResourceA(path))
        SendMessageA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0);
    HKEY key = nullptr;
    if (!named || RegOpenKeyA(HKEY_LOCAL_MACHINE, FontsKey, &key) != ERROR_SUCCESS)
        return;
    // Only the value that still names this file: another font may have
    // taken the name since.
    char file[PathSize];
    DWORD size = sizeof file - 1;
    DWORD type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(file), &size) == ERROR_SUCCESS &&
        type == REG_SZ) {
        file[size] = 0;
        if (lstrcmpiA(file, PathFileName(path)) == 0)
            RegDeleteValueA(key, name);
    }
    RegCloseKey(key);
}

} // namespace zevrin
