#include "association.h"

#include <shellapi.h>

#include <cstring>

#include "../../shared/state.h"
#include "../open_command.h"
#include "destination.h"

namespace zevrin {

LONG ReadRegistryDefault(HKEY root, const char* subKey, char* out)
{
    HKEY key;
    LONG result = RegOpenKeyExA(root, subKey, 0, KEY_QUERY_VALUE, &key);
    if (result != ERROR_SUCCESS)
        return result;
    // Only now: out may be subKey. A failed read leaves out undefined.
    LONG size = PathSize;
    if (RegQueryValueA(key, nullptr, out, &size) != ERROR_SUCCESS)
        out[0] = 0;
    out[PathSize - 1] = 0;
    RegCloseKey(key);
    return 0;
}

namespace {

bool OpenedWithAssociation(const char* file, const char* extension)
{
    if (reinterpret_cast<INT_PTR>(ShellExecuteA(nullptr, "open", file, nullptr, nullptr, SW_SHOW)) > 32)
        return true;
    char command[PathSize];
    if (ReadRegistryDefault(HKEY_CLASSES_ROOT, extension, command) != 0 || !command[0])
        return false;
    static const char OpenKey[] = "\\shell\\open\\command";
    size_t length = std::strlen(command);
    if (length + sizeof OpenKey > PathSize)
        return false;
    std::memcpy(command + length, OpenKey, sizeof OpenKey);
    // An empty command would run the file itself.
    if (ReadRegistryDefault(HKEY_CLASSES_ROOT, command, command) != 0 || !command[0])
        return false;
    return BuildOpenCommand(command, file) && WinExec(command, SW_SHOW) > 31;
}

// The system's "Open with" choice, so the user can pick a program. Shells
// that lack the verb still have the dialog in shell32.
void OpenWithChoice(const char* file)
{
    if (reinterpret_cast<INT_PTR>(ShellExecuteA(nullptr, "openas", file, nullptr, nullptr, SW_SHOW)) > 32)
        return;
    char command[PathSize + 40];
    static const char OpenAs[] = "rundll32.exe shell32.dll,OpenAs_RunDLL ";
    size_t length = std::strlen(file);
    if (length + sizeof OpenAs > sizeof command)
        return;
    std::memcpy(command, OpenAs, sizeof OpenAs - 1);
    std::memcpy(command + sizeof OpenAs - 1, file, length + 1);
    WinExec(command, SW_SHOW);
}

} // namespace

void OpenWithAssociation(const char* file, const char* extension)
{
    if (!OpenedWithAssociation(file, extension))
        OpenWithChoice(file);
}

void ViewInstalledFile()
{
    if (!PendingViewEntry || ResolveDestination(PendingViewEntry) == DestinationTooLong)
        return;
    FileHandle file = OpenExisting(DestPath, 0);
    if (file == INVALID_FILE_HANDLE)
        return;
    CloseFile(file);
    // The file's own extension: a dot in a folder name is none.
    const char* dot = std::strrchr(DestPath, '.');
    OpenWithAssociation(DestPath, dot && !std::strchr(dot, '\\') ? dot : ".");
}

} // namespace zevrin
