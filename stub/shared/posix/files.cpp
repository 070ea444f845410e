// File wrappers over POSIX descriptors, for host builds, tests and tools.
// The descriptor travels inside the FileHandle pointer.
#include "../platform.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

namespace zevrin {

namespace {

int Fd(FileHandle handle)
{
    return static_cast<int>(reinterpret_cast<intptr_t>(handle));
}

FileHandle Handle(int fd)
{
    return fd < 0 ? INVALID_FILE_HANDLE : reinterpret_cast<FileHandle>(static_cast<intptr_t>(fd));
}

// Like read(2) and write(2), but retries on interruption and keeps going
// until n bytes or end of file / failure.
long Transfer(int fd, void* buffer, uint32_t n, bool writing)
{
    uint32_t done = 0;
    while (done < n) {
        ssize_t got = writing ? ::write(fd, static_cast<const char*>(buffer) + done, n - done)
                              : ::read(fd, static_cast<char*>(buffer) + done, n - done);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return done ? static_cast<long>(done) : -1;
        }
        if (got == 0)
            break;
        done += static_cast<uint32_t>(got);
    }
    return static_cast<long>(done);
}

uint32_t Seek(FileHandle handle, int64_t distance, int whence)
{
    off_t at = ::lseek(Fd(handle), static_cast<off_t>(distance), whence);
    return at < 0 ? 0xFFFFFFFFu : static_cast<uint32_t>(at);
}

} // namespace

FileHandle OpenExisting(const char* path, int mode)
{
    int flags = mode == 1 ? O_WRONLY : mode == 2 ? O_RDWR : O_RDONLY;
    return Handle(::open(path, flags | O_CLOEXEC));
}

FileHandle CreateAlways(const char* path)
{
    return Handle(::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
}

int ReadExact(FileHandle handle, void* buffer, uint32_t n)
{
    return Transfer(Fd(handle), buffer, n, false) == static_cast<long>(n) ? 0 : 1;
}

uint32_t ReadSome(FileHandle handle, void* buffer, uint32_t n)
{
    long got = Transfer(Fd(handle), buffer, n, false);
    return got < 0 ? 0 : static_cast<uint32_t>(got);
}

int WriteExact(FileHandle handle, const void* buffer, uint32_t n)
{
    long put = Transfer(Fd(handle), const_cast<void*>(buffer), n, true);
    if (put < 0)
        return 2;
    return put == static_cast<long>(n) ? 0 : 3;
}

uint32_t Tell(FileHandle handle) { return Seek(handle, 0, SEEK_CUR); }
uint32_t SeekTo(FileHandle handle, uint32_t position) { return Seek(handle, position, SEEK_SET); }
uint32_t SeekBy(FileHandle handle, int32_t distance) { return Seek(handle, distance, SEEK_CUR); }
uint32_t SeekFromEnd(FileHandle handle, int32_t distance) { return Seek(handle, distance, SEEK_END); }

uint32_t FileLength(FileHandle handle)
{
    uint32_t at = Tell(handle);
    uint32_t length = SeekFromEnd(handle, 0);
    SeekTo(handle, at);
    return length;
}

void CloseFile(FileHandle handle)
{
    if (handle != INVALID_FILE_HANDLE)
        ::close(Fd(handle));
}

} // namespace zevrin
