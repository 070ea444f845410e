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
    if (stopped)
        return failed;
    if (handle != INVALID_FILE_HANDLE && !failed) {
        failed = WriteExact(handle, data, length);
        if (!failed && written)
            written->Add(data, length);
    }
    produced += length;
    if (observer && !observer(produced))
        stopped = true;
    return failed;
}

} // namespace zevrin
