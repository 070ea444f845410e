#include "install_folder.h"

#include <cstring>

#include "../engine/paths.h"
#include "../shared/state.h"

namespace zevrin {

namespace {

// The macro text, '#' to '#', against a name, in any letter case.
bool SameMacro(const char* text, size_t length, const char* name)
{
    return std::strlen(name) == length && StartsWithFolded(text, name);
}

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

} // namespace

FolderMacro SplitFolderMacro(const char* text, const char** rest)
{
    if (text[0] != '#')
        return NoFolderMacro;
    const char* close = std::strchr(text + 1, '#');
    if (!close)
        return NoFolderMacro;
    size_t length = static_cast<size_t>(close - text) + 1;
    *rest = close + 1;
    if (**rest == '\\')
        ++*rest;
    if (SameMacro(text, length, "#Windows#"))
        return WindowsFolderMacro;
    if (SameMacro(text, length, "#System#"))
        return SystemFolderMacro;
    if (SameMacro(text, length, "#Program Files#"))
        return ProgramFilesFolderMacro;
    if (SameMacro(text, length, "#User Program Files#"))
        return UserProgramFilesFolderMacro;
    return UnknownFolderMacro;
}

bool CutToFileFolder(char* path)
{
    char* last = std::strrchr(path, '\\');
    if (!last || !std::strchr(last, '.'))
        return false;
    if (last == path || (last == path + 2 && path[1] == ':'))
        ++last;
    *last = 0;
    return true;
}

void RewritePathCase(char* path, StoredNameLookup lookup)
{
    // UNC paths cannot be searched component by component.
    if (std::strpbrk(path, "*?") || (path[0] == '\\' && path[1] == '\\'))
        return;
    char out[PathSize];
    size_t used = 0;
    const char* p = path;
    if (IsDriveLetter(p[0]) && p[1] == ':') {
        out[used++] = *p++;
        out[used++] = *p++;
    }
    // Relative paths (and X:name) would be looked up from the root.
    if (p[0] != '\\')
        return;
    while (*p == '\\')
        ++p;
    char name[PathSize];
    for (;;) {
        const char* end = std::strchr(p, '\\');
        size_t length = end ? static_cast<size_t>(end - p) : std::strlen(p);
        if (used + 1 + length >= PathSize)
            return;
        size_t start = used + 1;
        out[used] = '\\';
        std::memcpy(out + start, p, length);
        out[start + length] = 0;
        if (!end) {
            StripBackslash(out);
            // After a final '\' the last component is the one before it.
            start = static_cast<size_t>(PathFileName(out) - out);
        }
        if (!out[start] || !lookup(out, name))
            return;
        size_t nameLength = std::strlen(name);
        if (start + nameLength >= PathSize)
            return;
        std::memcpy(out + start, name, nameLength + 1);
        used = start + nameLength;
        if (!end)
            break;
        p = end + 1;
    }
    std::memcpy(path, out, used + 1);
}

} // namespace zevrin
