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

char FoldCase(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool StartsWithFolded(const char* text, const char* prefix)
{
    for (; *prefix; ++text, ++prefix)
        if (FoldCase(*text) != FoldCase(*prefix))
            return false;
    return true;
}

bool SplitLogPath(const char* path, const char* installDir, char* folder, const char** name)
{
    folder[0] = 0;
    *name = path;
    size_t length = std::strlen(path);
    if (length >= PathSize)
        return false;
    size_t inside = std::strlen(installDir);
    if (inside && StartsWithFolded(path, installDir)) {
        const char* rest = path + inside;
        const char* last = std::strrchr(rest, '\\');
        folder[0] = '.';
        folder[1] = 0;
        *name = rest;
        if (last) {
            // ".\" is two bytes longer than the installDir it stands for
            // when that is a bare '\'.
            size_t sub = static_cast<size_t>(last - rest);
            if (sub + 2 >= PathSize) {
                folder[0] = 0;
                return false;
            }
            folder[1] = '\\';
            std::memcpy(folder + 2, rest, sub);
            folder[2 + sub] = 0;
            *name = last + 1;
        }
        return true;
    }
    const char* last = std::strrchr(path, '\\');
    if (!last)
        return false;
    std::memcpy(folder, path, static_cast<size_t>(last - path));
    folder[last - path] = 0;
    *name = last + 1;
    return true;
}

bool StaysInside(const char* subFolder)
{
    // The platform takes '/' for '\' too.
    if (*subFolder == '\\' || *subFolder == '/' || std::strchr(subFolder, ':'))
        return false;
    for (const char* part = subFolder; part;) {
        const char* end = std::strpbrk(part, "\\/");
        size_t length = end ? static_cast<size_t>(end - part) : std::strlen(part);
        if (length == 2 && part[0] == '.' && part[1] == '.')
            return false;
        part = end ? end + 1 : nullptr;
    }
    return true;
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
