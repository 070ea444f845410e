// On the older family a deletion is a "NUL=file" line in WININIT.INI. The
// profile functions cannot write a key named NUL that is kept apart from
// other NUL lines, so the line is written with the key "xyz" and the key
// is then changed in the file itself: every deletion keeps its own line.
#include <windows.h>

#include <cstring>

#include "../../shared/platform.h"
#include "../../shared/state.h"
#include "restart.h"

namespace zevrin {

namespace {

const char RenameSection[] = "Rename";
const char PlaceholderKey[] = "xyz";

// The 8.3 form of a path; the path itself when it has none to give.
void ShortForm(const char* path, char* out)
{
    DWORD length = GetShortPathNameA(path, out, PathSize);
    if (length == 0 || length >= PathSize)
        lstrcpynA(out, path, PathSize);
}

void FlushProfile(const char* ini) { WritePrivateProfileStringA(nullptr, nullptr, nullptr, ini); }

// Turns the "xyz=<source>" line just written into "NUL=<source>".
void MarkDeletion(const char* ini, const char* shortSource)
{
    FileHandle file = OpenExisting(ini, 2);
    if (file == INVALID_FILE_HANDLE)
        return;
    uint32_t size = FileLength(file);
    char* text = nullptr;
    if (size < 0x7FFFFFFF - 512 && AllocWithRetry(size + 512, &text) && ReadExact(file, text, size) == 0) {
        size_t sourceLength = std::strlen(shortSource);
        for (uint32_t p = 0; p + 4 < size; ++p) {
            if (std::memcmp(text + p, PlaceholderKey, 3) == 0 && text[p + 3] == '=' &&
                sourceLength <= size - (p + 4) && std::memcmp(text + p + 4, shortSource, sourceLength) == 0) {
                std::memcpy(text + p, "NUL", 3);
                SeekTo(file, 0);
                WriteExact(file, text, size);
                break;
            }
        }
    }
    FreeAndClear(&text);
    CloseFile(file);
}

} // namespace

bool ScheduleAtRestart(const char* target, const char* source)
{
    if (IsWindowsNT) {
        if (target)
            return MoveFileExA(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
        return MoveFileExA(source, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
    }

    char shortSource[PathSize] = "";
    char shortTarget[PathSize] = "";
    char ini[PathSize] = "";
    ShortForm(source, shortSource);
    if (target)
        ShortForm(target, shortTarget);
    UINT length = GetWindowsDirectoryA(ini, PathSize);
    if (length == 0 || length + sizeof "\\WININIT.INI" > PathSize)
        return true;
    std::strcat(ini, "\\WININIT.INI");

    if (target) {
        WritePrivateProfileStringA(RenameSection, shortTarget, shortSource, ini);
        FlushProfile(ini);
        return true;
    }
    WritePrivateProfileStringA(RenameSection, PlaceholderKey, shortSource, ini);
    FlushProfile(ini);
    MarkDeletion(ini, shortSource);
    return true;
}

} // namespace zevrin
