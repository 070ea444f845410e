// Entry point of the stub. For now it reads the package header appended to
// its own file and reports through the exit code; the wizard follows.
#include <windows.h>

#include "../shared/state.h"
#include "header.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    using namespace zevrin;
    if (!GetModuleFileNameA(nullptr, PackageSourcePath, PathSize))
        return -1;
    int code = ReadPackageHeader() ? 0 : -1;
    FreeHeaderData();
    return code;
}
