/* A self-registering library whose DllRegisterServer leaves a marker
   file beside itself, "<its path>.registered", and whose
   DllUnregisterServer removes it. */
#include <windows.h>

static HINSTANCE Self;

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH)
        Self = instance;
    return TRUE;
}

/* The marker's path into path (MAX_PATH + 16 bytes). */
static BOOL MarkerPath(char* path)
{
    DWORD length = GetModuleFileNameA(Self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return FALSE;
    lstrcpyA(path + length, ".registered");
    return TRUE;
}

__declspec(dllexport) HRESULT WINAPI DllRegisterServer(void)
{
    char path[MAX_PATH + 16];
    if (!MarkerPath(path))
        return E_FAIL;
    HANDLE marker = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (marker == INVALID_HANDLE_VALUE)
        return E_FAIL;
    CloseHandle(marker);
    return S_OK;
}

/* Takes the marker away again. */
__declspec(dllexport) HRESULT WINAPI DllUnregisterServer(void)
{
    char path[MAX_PATH + 16];
    return MarkerPath(path) && DeleteFileA(path) ? S_OK : E_FAIL;
}
