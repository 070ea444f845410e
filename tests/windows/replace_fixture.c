/* A DLL with nothing in it but, with replace_fixture.rc, a version
   resource: the existing file of the version questions. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
