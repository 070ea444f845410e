#include "open_command.h"

#include <cstring>

#include "../shared/state.h"

namespace zevrin {

bool BuildOpenCommand(char* command, const char* file)
{
    const char* found = std::strstr(command, "\"%1\"");
    if (!found)
        found = std::strstr(command, "%1");
    size_t kept = found ? static_cast<size_t>(found - command) : std::strlen(command);
    size_t fileLength = std::strlen(file);
    if (kept + 1 + fileLength >= PathSize)
        return false;
    command[kept] = ' ';
    std::memcpy(command + kept + 1, file, fileLength + 1);
    return true;
}

} // namespace zevrin
