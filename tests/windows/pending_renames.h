// What the Windows tests read back of restart scheduling.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The queue MoveFileExA keeps for the next start: pairs of NUL-terminated
// wide names, an empty second name meaning "delete".
inline std::vector<std::wstring> PendingRenames()
{
    std::vector<std::wstring> names;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager", 0, KEY_READ,
                      &key) != ERROR_SUCCESS)
        return names;
    DWORD size = 0, type = 0;
    if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        size) {
        std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, 0);
        RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                         &size);
        for (size_t at = 0; at < size / sizeof(wchar_t);) {
            std::wstring name(&data[at]);
            names.push_back(name);
            at += name.size() + 1;
        }
    }
    RegCloseKey(key);
    return names;
}

inline bool EndsWith(const std::wstring& text, const std::string& tail)
{
    std::wstring wide(tail.begin(), tail.end());
    return text.size() >= wide.size() && text.compare(text.size() - wide.size(), wide.size(), wide) == 0;
}
