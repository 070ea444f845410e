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

} // namespace zevrin
