#include "library.h"

#include <windows.h>

namespace zevrin {

void CallLibraryFunction(const char* path, const char* name)
{
    HMODULE library = LoadLibraryA(path);
    if (!library)
        return;
    typedef HRESULT(WINAPI * ServerFunction)();
    ServerFunction function =
        reinterpret_cast<ServerFunction>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
    if (function)
        function();
    FreeLibrary(library);
}

} // namespace zevrin
