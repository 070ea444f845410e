#include "registry.h"

#include <cstring>

#include "../../shared/state.h"

namespace zevrin {

const HKEY RootKeyTable[RootKeyCount] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS};

const char SharedDllsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

HKEY RootKey(uint32_t index) { return index < RootKeyCount ? RootKeyTable[index] : HKEY_CURRENT_USER; }

const char* RootKeyName(uint32_t index)
{
    static const char* const Names[RootKeyCount] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                                                     "HKEY_USERS"};
    return index < RootKeyCount ? Names[index] : Names[1];
}

HKEY ProductRoot() { return PerUserInstall() ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }

const char* ProductRootName() { return RootKeyName(PerUserInstall() ? 1 : 2); }

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

bool ReadSharedCount(DWORD type, const BYTE* data, DWORD size, DWORD* count)
{
    if ((type == REG_DWORD || type == REG_BINARY) && size == 4) {
        std::memcpy(count, data, 4);
        return true;
    }
    if ((type != REG_SZ && type != REG_EXPAND_SZ) || size == 0)
        return false;
    DWORD value = 0;
    DWORD i = 0;
    for (; i < size && data[i] >= '0' && data[i] <= '9'; ++i) {
        if (value > 0xFFFFFFFFu / 10 - 1)
            return false;
        value = value * 10 + (data[i] - '0');
    }
    if (i == 0 || (i < size && data[i] != 0))
        return false;
    *count = value;
    return true;
}

} // namespace zevrin
