// Command-line parsing. Only the space counts as a blank; an argument
// longer than its buffer is cut, the rest of it skipped. A word that is no
// option ends the options.
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

namespace {

// True when the letters after the option's first one begin with `rest`
// (in any case); `p` then moves past them.
bool Continues(const char*& p, const char* rest)
{
    const char* q = p;
    for (; *rest; ++rest, ++q)
        if (FoldCase(*q) != *rest)
            return false;
    p = q;
    return true;
}

// An option's argument. An option wrapped in quotes as a whole
// ("/DIR=C:\My Folder", as programs that quote each argument write it)
// takes the rest of its quotes, blanks and all.
const char* ReadArgument(const char* p, char* destination, bool wrapped)
{
    if (!wrapped)
        return ReadOptionArgument(p, destination, PathSize);
    unsigned stored = 0;
    for (p = SkipBlanks(p); *p && *p != '"'; ++p)
        if (stored + 1 < PathSize)
            destination[stored++] = *p;
    destination[stored] = 0;
    return p;
}

// The value of /DIR= or /LOG=: '=' or blanks, then one argument. A longer
// word (/DIRECTORY) is another option, and unknown.
const char* ReadValue(const char* p, char* destination, bool wrapped)
{
    if (*p == '=')
        ++p;
    else if (*p != ' ' && *p != '"')
        return p;
    return ReadArgument(p, destination, wrapped);
}

} // namespace

void ParseCommandLine(const char* text)
{
    if (!text || !*text)
        return;
    const char* p = SkipBlanks(text);
    for (;;) {
        bool wrapped = p[0] == '"' && (p[1] == '-' || p[1] == '/');
        if (wrapped)
            ++p;
        if ((*p != '-' && *p != '/') || !p[1])
            break;
        char option = FoldCase(p[1]);
        p += 2;
        if (option == 'D') {
            if (Continues(p, "IR"))
                p = ReadValue(p, CommandLineDir, wrapped);
            else if (Continues(p, "EL"))
                DeleteSelfMode = true;
        } else if (option == 'S') {
            p = ReadArgument(p, PackageSourcePath, wrapped);
        } else if (option == 'L') {
            if (Continues(p, "OG"))
                p = ReadValue(p, RunLogPath, wrapped);
        } else if (option == 'Q') {
            RunMode = Continues(p, "P") ? RunProgressOnly : RunQuiet;
        }
        if (wrapped) {
            while (*p && *p != '"')
                ++p;
            if (*p == '"')
                ++p;
        } else {
            while (*p && *p != ' ' && *p != '-' && *p != '/')
                ++p;
        }
        p = SkipBlanks(p);
    }
}

} // namespace zevrin
