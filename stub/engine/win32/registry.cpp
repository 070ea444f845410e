#include "registry.h"

#include <cstring>

#include "../../shared/state.h"

namespace zevrin {

const HKEY RootKeyTable[RootKeyCount] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS};

HKEY RootKey(uint32_t index) { return index < RootKeyCount ? RootKeyTable[index] : HKEY_CURRENT_USER; }

bool ReadRegistryPath(HKEY root, const char* key, const char* name, char* text)
{
    text[0] = 0;
    HKEY opened;
    if (RegOpenKeyExA(root, key, 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return false;
    char value[PathSize];
    DWORD type = 0;
    DWORD size = PathSize;
    LONG result = RegQueryValueExA(opened, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(opened);
    // ERROR_MORE_DATA (too long) leaves the buffer undefined: not used.
    if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || size > PathSize)
        return false;
    // A stored text need not end in NUL; one that fills the buffer without
    // it has 260 characters, one too many.
    if (size == 0 || value[size - 1] != 0) {
        if (size == PathSize)
            return false;
        value[size] = 0;
    }
    if (type == REG_EXPAND_SZ) {
        // The ANSI expansion may want one byte more than it stores.
        char expanded[PathSize + 1];
        DWORD length = ExpandEnvironmentStringsA(value, expanded, sizeof expanded);
        if (length == 0 || length > sizeof expanded || std::strlen(expanded) >= PathSize)
            return false;
        std::memcpy(value, expanded, std::strlen(expanded) + 1);
    }
    std::memcpy(text, value, std::strlen(value) + 1);
    return true;
}

} // namespace zevrin
