// What the tool needs from the system beyond standard C++: POSIX on the
// host; on Windows the same names, made here from the CRT and Win32, plus
// the few things that differ in kind (renaming over a file, where the
// program is, whether two names are one file).
#pragma once

#include <cstdint>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include "../stub/shared/platform.h"

namespace zevrin {

// The program's own path, empty when unknown.
std::string ExecutablePath();
// Renames FROM to TO, replacing TO if it exists.
bool RenameOver(const char* from, const char* to);
// Whether both names lead to one existing file.
bool SameFile(const std::string& a, const std::string& b);
// The last write time of an open file, as a FILETIME.
uint64_t WriteTimeOf(int fd, const struct stat& info);
// Cuts an open file to SIZE bytes.
bool TruncateFile(int fd, uint64_t size);
// mkstemp; on Windows the file may be removed while open.
int MakeTemporary(char* nameTemplate);
// What the decoder reads through for an open descriptor.
FileHandle DecoderHandle(int fd);
// The first SIZE bytes of an open file, mapped read-only; null on failure.
const uint8_t* MapFile(int fd, size_t size);
void UnmapFile(const uint8_t* data, size_t size);

}  // namespace zevrin

#ifdef _WIN32
#include <direct.h>
#include <io.h>

// Descriptors are never inherited by child programs and never translate
// line ends.
#define O_CLOEXEC (_O_NOINHERIT | _O_BINARY)
#define S_ISLNK(mode) 0
inline int lstat(const char* path, struct stat* info) { return stat(path, info); }
inline int mkdir(const char* path, int) { return _mkdir(path); }
inline int fsync(int fd) { return _commit(fd); }
ssize_t pread(int fd, void* data, size_t size, int64_t offset);
ssize_t pwrite(int fd, const void* data, size_t size, int64_t offset);
char* realpath(const char* path, char* resolved);
// A work file removed when its last descriptor closes, even if the tool
// is killed; a second descriptor with its own position may be opened with
// OpenSecondReader.
int CreateWorkFile(char* nameTemplate);
int OpenSecondReader(const char* name);
#endif
