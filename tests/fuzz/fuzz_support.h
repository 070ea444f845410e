// Helpers shared by the fuzz targets: a check that survives NDEBUG, an
// in-memory file to feed the file-based entry points, and a count of open
// descriptors to catch handles left behind.
#pragma once

#include <dirent.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "stub/shared/platform.h"

// The replay build is compiled with -DNDEBUG, so assert() would vanish.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);    \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

namespace fuzz {

inline uint32_t U24(const uint8_t* p) { return p[0] | p[1] << 8 | static_cast<uint32_t>(p[2]) << 16; }
inline uint32_t U32(const uint8_t* p) { return U24(p) | static_cast<uint32_t>(p[3]) << 24; }

// One anonymous file per process, rewritten for each input: no disk
// traffic, and the decoder sees an ordinary descriptor.
inline zevrin::FileHandle MemoryFile(const uint8_t* data, size_t size)
{
    static int fd = -1;
    if (fd < 0)
        fd = memfd_create("zevrin-fuzz", MFD_CLOEXEC);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(ftruncate(fd, 0) == 0);
    size_t done = 0;
    while (done < size) {
        ssize_t put = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        FUZZ_CHECK(put > 0);
        done += static_cast<size_t>(put);
    }
    FUZZ_CHECK(lseek(fd, 0, SEEK_SET) == 0);
    return reinterpret_cast<zevrin::FileHandle>(static_cast<intptr_t>(fd));
}

inline int OpenDescriptorCount()
{
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        return -1;
    int count = 0;
    while (readdir(dir))
        ++count;
    closedir(dir);
    return count;
}

} // namespace fuzz
