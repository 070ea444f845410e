#include "paths.h"

#include <cstring>

#include "../shared/state.h"

namespace zevrin {

void AppendBackslash(char* path)
{
    size_t length = std::strlen(path);
    if (length && path[length - 1] != '\\' && length + 1 < PathSize) {
        path[length] = '\\';
        path[length + 1] = 0;
    }
}

void StripBackslash(char* path)
{
    size_t length = std::strlen(path);
    if (length > 3 && path[length - 1] == '\\')
        path[length - 1] = 0;
}

namespace {

// out = the first folderLength bytes of folder, a '\' if wanted, name.
bool Join(char* out, const char* folder, size_t folderLength, const char* name)
{
    size_t nameLength = std::strlen(name);
    size_t slash = folderLength && folder[folderLength - 1] != '\\' ? 1 : 0;
    if (folderLength + slash + nameLength >= PathSize)
        return false;
    // out may be the folder itself (the name moves first, behind it).
    std::memmove(out + folderLength + slash, name, nameLength + 1);
    std::memmove(out, folder, folderLength);
    if (slash)
        out[folderLength] = '\\';
    return true;
}

} // namespace

bool JoinPath(char* out, const char* folder, const char* name)
{
    return Join(out, folder, std::strlen(folder), name);
}

bool ReplaceFileName(char* out, const char* path, const char* name)
{
    return Join(out, path, static_cast<size_t>(PathFileName(path) - path), name);
}

bool LaunchCommand(char* command, const char* shortPath, uint32_t length)
{
    if (length == 0 || length >= PathSize || std::strlen(shortPath) != length)
        return false;
    bool quoted = std::strchr(shortPath, ' ') != nullptr;
    char* at = command;
    if (quoted)
        *at++ = '"';
    std::memcpy(at, shortPath, length);
    at += length;
    if (quoted)
        *at++ = '"';
    *at = '\0';
    return true;
}

const char* PathFileName(const char* path)
{
    const char* last = std::strrchr(path, '\\');
    return last ? last + 1 : path;
}

void AbbreviatePath(char* text, unsigned maximum)
{
    size_t length = std::strlen(text);
    char* first = std::strchr(text, '\\');
    char* last = std::strrchr(text, '\\');
    if (length <= maximum || !first || last - first < 4)
        return;
    size_t tail = std::strlen(last);
    char* cut = first + 1;
    char* current = first;
    while (current && last - current >= 4 && tail + static_cast<size_t>(current - text) < maximum) {
        cut = current + 1;
        current = std::strchr(cut, '\\');
    }
    // cut is at least 3 before last, so "..." and the tail only move left.
    std::memcpy(cut, "...", 3);
    std::memmove(cut + 3, last, tail + 1);
}

} // namespace zevrin
