#include "fonts.h"

#include <windows.h>

#include <cstring>

#include "../font_name.h"
#include "../paths.h"

namespace zevrin {

void RegisterFont(const char* path)
{
    char name[FontNameSize];
    bool named = ReadFontValueName(path, name);
    if (AddFontResourceA(path))
        SendMessageA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0);
    if (!named)
        return;
    const char* file = PathFileName(path);
    HKEY key = nullptr;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts", &key) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(file), static_cast<DWORD>(std::strlen(file)));
    RegCloseKey(key);
}

} // namespace zevrin
