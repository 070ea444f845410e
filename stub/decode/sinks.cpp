// The two output sinks.
#include <cstring>

#include "sink.h"

namespace zevrin {

int MemorySink::Write(const uint8_t* data, uint16_t length)
{
    uint32_t fits = length <= room ? length : room;
    if (fits < length)
        overflowed = true;
    if (fits) {
        std::memcpy(destination, data, fits);
        destination += fits;
        room -= fits;
    }
    return overflowed ? 1 : 0;
}

int FileSink::Write(const uint8_t* data, uint16_t length)
{
    if (handle == INVALID_FILE_HANDLE)
        return 0;
    if (failed)
        return failed;
    failed = WriteExact(handle, data, length);
    if (!failed && written)
        written->Add(data, length);
    return failed;
}

} // namespace zevrin
