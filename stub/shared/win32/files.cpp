// File wrappers over Win32 handles, for the stub and Windows-side tests.
#include "../platform.h"

#include <windows.h>

namespace zevrin {

FileHandle OpenExisting(const char* path, int mode)
{
    DWORD access = GENERIC_READ;
    DWORD share = FILE_SHARE_READ;
    if (mode == 1) {
        access = GENERIC_WRITE;
        share = 0;
    } else if (mode == 2) {
        access = GENERIC_READ | GENERIC_WRITE;
    }
    return CreateFileA(path, access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

FileHandle CreateAlways(const char* path)
{
    return CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

int ReadExact(FileHandle handle, void* buffer, uint32_t n)
{
    DWORD got = 0;
    if (!ReadFile(handle, buffer, n, &got, nullptr) || got != n)
        return 1;
    return 0;
}

uint32_t ReadSome(FileHandle handle, void* buffer, uint32_t n)
{
    DWORD got = 0;
    if (!ReadFile(handle, buffer, n, &got, nullptr))
        return 0;
    return got;
}

int WriteExact(FileHandle handle, const void* buffer, uint32_t n)
{
    DWORD put = 0;
    if (!WriteFile(handle, buffer, n, &put, nullptr))
        return 2;
    return put == n ? 0 : 3;
}

uint32_t Tell(FileHandle handle) { return SetFilePointer(handle, 0, nullptr, FILE_CURRENT); }
uint32_t SeekTo(FileHandle handle, uint32_t position)
{
    return SetFilePointer(handle, static_cast<LONG>(position), nullptr, FILE_BEGIN);
}
uint32_t SeekBy(FileHandle handle, int32_t distance) { return SetFilePointer(handle, distance, nullptr, FILE_CURRENT); }
uint32_t SeekFromEnd(FileHandle handle, int32_t distance) { return SetFilePointer(handle, distance, nullptr, FILE_END); }

uint32_t FileLength(FileHandle handle)
{
    uint32_t at = Tell(handle);
    uint32_t length = SeekFromEnd(handle, 0);
    SeekTo(handle, at);
    return length;
}

void CloseFile(FileHandle handle)
{
    if (handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
}

} // namespace zevrin
