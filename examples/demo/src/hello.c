/* Zevrin Demo: the program that the demo package installs. It greets the
 * user with the version it reads from its own version resource, so a look
 * at the installed copy shows which build the installer put there. */
#include <windows.h>

static void VersionOf(const char *path, char *text, int size)
{
    DWORD ignored = 0;
    DWORD length = GetFileVersionInfoSizeA(path, &ignored);
    void *data;
    VS_FIXEDFILEINFO *info;
    UINT infoLength;

    lstrcpynA(text, "(unknown version)", size);
    if (length == 0)
        return;
    data = HeapAlloc(GetProcessHeap(), 0, length);
    if (!data)
        return;
    if (GetFileVersionInfoA(path, 0, length, data) &&
        VerQueryValueA(data, "\\", (void **)&info, &infoLength) && infoLength >= sizeof *info)
        wsprintfA(text, "%u.%u.%u.%u", HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS),
                  HIWORD(info->dwFileVersionLS), LOWORD(info->dwFileVersionLS));
    HeapFree(GetProcessHeap(), 0, data);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show)
{
    char path[MAX_PATH];
    char version[64];
    char text[256];

    (void)instance;
    (void)previous;
    (void)commandLine;
    (void)show;
    if (!GetModuleFileNameA(NULL, path, sizeof path))
        path[0] = 0;
    VersionOf(path, version, sizeof version);
    wsprintfA(text, "Hello from Zevrin Demo %s.\n\nIt was installed by a Zevrin Setup package.", version);
    MessageBoxA(NULL, text, "Zevrin Demo", MB_OK | MB_ICONINFORMATION);
    return 0;
}
