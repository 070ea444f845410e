#include "library.h"

#include <windows.h>

namespace zevrin {

long CallLibraryFunction(const char* path, const char* name)
{
    HMODULE library = LoadLibraryA(path);
    if (!library)
        return E_FAIL;
    typedef HRESULT(WINAPI * ServerFunction)();
    ServerFunction function =
        reinterpret_cast<ServerFunction>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
    HRESULT result = function ? function() : E_FAIL;
    FreeLibrary(library);
    return result;
}

} // namespace zevrin
