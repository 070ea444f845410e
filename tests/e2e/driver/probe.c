/* A program the installer under test starts (the launched program, or the
 * viewer of a file type): it appends its current folder and command line
 * to C:\probe.txt and ends, so a test can see how it was started. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show)
{
    char line[2 * MAX_PATH + 1024];
    char folder[MAX_PATH];
    DWORD written;
    HANDLE out;
    int length;

    (void)instance;
    (void)previous;
    (void)commandLine;
    (void)show;
    if (!GetCurrentDirectoryA(sizeof folder, folder))
        folder[0] = 0;
    /* The whole command line, program name included. */
    length = wsprintfA(line, "%s|%.1000s\r\n", folder, GetCommandLineA());
    out = CreateFileA("C:\\probe.txt", FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                      NULL);
    if (out == INVALID_HANDLE_VALUE)
        return 1;
    WriteFile(out, line, (DWORD)length, &written, NULL);
    CloseHandle(out);
    return 0;
}
