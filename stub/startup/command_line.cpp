// Command-line parsing. Only the space counts as a blank; an argument
// longer than its buffer is cut, the rest of it skipped.
#include "command_line.h"

#include "../engine/paths.h"
#include "../shared/state.h"

namespace zevrin {

namespace {

const char* SkipBlanks(const char* p)
{
    while (*p == ' ')
        ++p;
    return p;
}

} // namespace

const char* ReadOptionArgument(const char* position, char* destination, unsigned capacity)
{
    const char* p = SkipBlanks(position);
    unsigned stored = 0;
    bool quoted = *p == '"';
    if (quoted)
        ++p;
    while (*p && (quoted ? *p != '"' : *p != ' ')) {
        if (stored + 1 < capacity)
            destination[stored++] = *p;
        ++p;
    }
    if (capacity)
        destination[stored] = 0;
    if (quoted && *p == '"')
        ++p;
    return p;
}

void ParseCommandLine(const char* text)
{
    if (!text || !*text)
        return;
    const char* p = SkipBlanks(text);
    while (*p == '-' || *p == '/') {
        if (!p[1])
            break;
        char option = FoldCase(p[1]);
        p += 2;
        if (option == 'D') {
            if (FoldCase(p[0]) == 'E' && FoldCase(p[1]) == 'L')
                DeleteSelfMode = true;
        } else if (option == 'S') {
            p = ReadOptionArgument(p, PackageSourcePath, PathSize);
        }
        while (*p && *p != ' ' && *p != '-' && *p != '/')
            ++p;
        p = SkipBlanks(p);
    }
}

} // namespace zevrin
