#include "platform.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <algorithm>

#include "package_writer.h"

#ifndef _WIN32
#include <sys/mman.h>

std::string zevrin::ExecutablePath()
{
    char buffer[4096];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

bool zevrin::RenameOver(const char* from, const char* to) { return std::rename(from, to) == 0; }

int zevrin::MakeTemporary(char* nameTemplate) { return ::mkstemp(nameTemplate); }

bool zevrin::SameFile(const std::string& a, const std::string& b)
{
    struct stat first, second;
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

uint64_t zevrin::WriteTimeOf(int, const struct stat& info)
{
    return zevrin::FileTimeFromUnix(info.st_mtim.tv_sec, info.st_mtim.tv_nsec);
}

bool zevrin::TruncateFile(int fd, uint64_t size) { return ::ftruncate(fd, static_cast<off_t>(size)) == 0; }

// The host file layer carries the descriptor in the handle.
zevrin::FileHandle zevrin::DecoderHandle(int fd) { return reinterpret_cast<FileHandle>(static_cast<intptr_t>(fd)); }

const uint8_t* zevrin::MapFile(int fd, size_t size)
{
    void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    return map == MAP_FAILED ? nullptr : static_cast<const uint8_t*>(map);
}

void zevrin::UnmapFile(const uint8_t* data, size_t size) { ::munmap(const_cast<uint8_t*>(data), size); }

#else
#include <windows.h>

namespace {

HANDLE Handle(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

// pread and pwrite: the position goes in an OVERLAPPED; callers loop over
// short transfers.
OVERLAPPED At(int64_t offset)
{
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
    return at;
}
DWORD Chunk(size_t size) { return size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size); }

void SetErrno(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: errno = ENOENT; break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: errno = EACCES; break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: errno = EEXIST; break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: errno = ENOSPC; break;
    default: errno = EIO; break;
    }
}

uint64_t Combined(const FILETIME& time)
{
    return static_cast<uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

int OpenShared(const char* name, DWORD disposition, DWORD flags)
{
    HANDLE file = CreateFileA(name, GENERIC_READ | GENERIC_WRITE | DELETE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, disposition,
                              flags, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        SetErrno(GetLastError());
        return -1;
    }
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_BINARY);
    if (fd < 0)
        CloseHandle(file);
    return fd;
}

}  // namespace

std::string zevrin::ExecutablePath()
{
    char buffer[MAX_PATH * 4];
    DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    if (n == 0 || n >= sizeof buffer)
        return std::string();
    std::string path(buffer, n);
    for (char& c : path)
        if (c == '\\')
            c = '/';
    return path;
}

bool zevrin::RenameOver(const char* from, const char* to)
{
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    SetErrno(GetLastError());
    return false;
}

bool zevrin::SameFile(const std::string& a, const std::string& b)
{
    BY_HANDLE_FILE_INFORMATION info[2];
    const std::string* names[2] = {&a, &b};
    for (int i = 0; i < 2; ++i) {
        HANDLE file = CreateFileA(names[i]->c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return false;
        BOOL ok = GetFileInformationByHandle(file, &info[i]);
        CloseHandle(file);
        if (!ok)
            return false;
    }
    return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
           info[0].nFileIndexHigh == info[1].nFileIndexHigh && info[0].nFileIndexLow == info[1].nFileIndexLow;
}

uint64_t zevrin::WriteTimeOf(int fd, const struct stat& info)
{
    FILETIME written;
    if (GetFileTime(Handle(fd), nullptr, nullptr, &written))
        return Combined(written);
    return zevrin::FileTimeFromUnix(info.st_mtime, 0);
}

bool zevrin::TruncateFile(int fd, uint64_t size) { return _chsize_s(fd, static_cast<int64_t>(size)) == 0; }

zevrin::FileHandle zevrin::DecoderHandle(int fd) { return reinterpret_cast<FileHandle>(_get_osfhandle(fd)); }

const uint8_t* zevrin::MapFile(int fd, size_t size)
{
    HANDLE mapping = CreateFileMappingA(Handle(fd), nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (!mapping) {
        SetErrno(GetLastError());
        return nullptr;
    }
    void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, size);
    if (!view)
        SetErrno(GetLastError());
    // The view keeps the mapping alive.
    CloseHandle(mapping);
    return static_cast<const uint8_t*>(view);
}

void zevrin::UnmapFile(const uint8_t* data, size_t) { UnmapViewOfFile(data); }

ssize_t pread(int fd, void* data, size_t size, int64_t offset)
{
    OVERLAPPED at = At(offset);
    DWORD got = 0;
    if (!ReadFile(Handle(fd), data, Chunk(size), &got, &at)) {
        DWORD error = GetLastError();
        if (error == ERROR_HANDLE_EOF)
            return 0;
        SetErrno(error);
        return -1;
    }
    return static_cast<ssize_t>(got);
}

ssize_t pwrite(int fd, const void* data, size_t size, int64_t offset)
{
    OVERLAPPED at = At(offset);
    DWORD put = 0;
    if (!WriteFile(Handle(fd), data, Chunk(size), &put, &at)) {
        SetErrno(GetLastError());
        return -1;
    }
    return static_cast<ssize_t>(put);
}

char* realpath(const char* path, char* resolved)
{
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        SetErrno(GetLastError());
        return nullptr;
    }
    return _fullpath(resolved, path, PATH_MAX);
}

namespace {

// mktemp's names, opened with CREATE_NEW: a name taken meanwhile is tried
// again.
int CreateNew(char* nameTemplate, DWORD flags)
{
    std::string pattern = nameTemplate;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = pattern;
        if (!_mktemp(&name[0]))
            break;
        int fd = OpenShared(name.c_str(), CREATE_NEW, flags);
        if (fd >= 0 || errno != EEXIST) {
            std::copy(name.begin(), name.end(), nameTemplate);
            return fd;
        }
    }
    errno = EEXIST;
    return -1;
}

}  // namespace

const DWORD WorkFlags = FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE;

int zevrin::MakeTemporary(char* nameTemplate) { return CreateNew(nameTemplate, FILE_ATTRIBUTE_NORMAL); }
int CreateWorkFile(char* nameTemplate) { return CreateNew(nameTemplate, WorkFlags); }
int OpenSecondReader(const char* name) { return OpenShared(name, OPEN_EXISTING, WorkFlags); }
#endif
