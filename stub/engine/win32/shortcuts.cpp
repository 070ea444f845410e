#include "shortcuts.h"

#include <objidl.h>
#include <shlobj.h>

#include <cstring>

#include "../../shared/state.h"

namespace zevrin {

HRESULT CreateShellLink(const char* target, const char* link, const char* arguments, int icon)
{
    IShellLinkA* shellLink = nullptr;
    HRESULT result = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                      reinterpret_cast<void**>(&shellLink));
    if (FAILED(result))
        return result;
    shellLink->SetPath(target);
    const char* slash = std::strrchr(target, '\\');
    if (slash) {
        char folder[PathSize];
        size_t length = static_cast<size_t>(slash - target);
        if (length < PathSize) {
            std::memcpy(folder, target, length);
            folder[length] = 0;
            shellLink->SetWorkingDirectory(folder);
        }
    }
    if (arguments && *arguments)
        shellLink->SetArguments(arguments);
    if (icon != 0)
        shellLink->SetIconLocation(target, icon);

    IPersistFile* persist = nullptr;
    result = shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist));
    if (SUCCEEDED(result)) {
        WCHAR wide[PathSize];
        // A name that does not convert whole is not saved under a cut one.
        if (MultiByteToWideChar(CP_ACP, 0, link, -1, wide, PathSize) == 0)
            result = E_INVALIDARG;
        else
            result = persist->Save(wide, TRUE);
        persist->Release();
    }
    shellLink->Release();
    return result;
}

bool SpecialFolderPath(int folder, char* path)
{
    LPITEMIDLIST list = nullptr;
    if (SHGetSpecialFolderLocation(nullptr, folder, &list) != S_OK || !list)
        return false;
    bool found = SHGetPathFromIDListA(list, path) && path[0];
    CoTaskMemFree(list);
    return found;
}

} // namespace zevrin
