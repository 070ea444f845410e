// The portable core's only contact with the platform: file and memory
// wrappers and the message box. stub/shared/platform_win32.cpp implements
// them for the stub, platform_posix.cpp for host builds and tests.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zevrin {

// A Win32 HANDLE in the stub; on the host a file descriptor carried in a
// pointer. INVALID_FILE_HANDLE has the value of INVALID_HANDLE_VALUE.
typedef void* FileHandle;
#define INVALID_FILE_HANDLE ((::zevrin::FileHandle)(intptr_t)-1)


// mode 1: write, no sharing; mode 2: read and write, others may read;
// anything else: read, others may read.
FileHandle OpenExisting(const char* path, int mode);
FileHandle CreateAlways(const char* path);

// 0 when exactly n bytes were read; 1 on failure or a short read.
int ReadExact(FileHandle handle, void* buffer, uint32_t n);
// Number of bytes read, 0 on failure or at end of file.
uint32_t ReadSome(FileHandle handle, void* buffer, uint32_t n);
// 0 when all were written; 3 on a short write; 2 on failure.
int WriteExact(FileHandle handle, const void* buffer, uint32_t n);

// Positions are 32-bit: packages never reach 4 GB.
uint32_t Tell(FileHandle handle);
uint32_t SeekTo(FileHandle handle, uint32_t position);
uint32_t SeekBy(FileHandle handle, int32_t distance);
uint32_t SeekFromEnd(FileHandle handle, int32_t distance);
uint32_t FileLength(FileHandle handle);
void CloseFile(FileHandle handle);

// Allocation with one retry after compacting the heap. `out` receives the
// block or null. BlockSize gives back exactly the size asked for.
bool AllocWithRetry(uint32_t size, void** out);
bool AllocZeroedWithRetry(uint32_t size, void** out);
void FreeAndClear(void** block);
uint32_t BlockSize(const void* block);

template <typename T>
inline bool AllocWithRetry(uint32_t size, T** out)
{
    return AllocWithRetry(size, reinterpret_cast<void**>(out));
}
template <typename T>
inline bool AllocZeroedWithRetry(uint32_t size, T** out)
{
    return AllocZeroedWithRetry(size, reinterpret_cast<void**>(out));
}
template <typename T>
inline void FreeAndClear(T** block)
{
    FreeAndClear(reinterpret_cast<void**>(block));
}

// Message-box types and answers, with the values of the Win32 constants.
enum : unsigned {
    MessageInformation = 0x40,    // MB_ICONINFORMATION
    MessageYesNo = 0x24,          // MB_YESNO | MB_ICONQUESTION
    MessageOkCancel = 0x41,       // MB_OKCANCEL | MB_ICONINFORMATION
    MessageYesNoDefaultNo = 0x124 // MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2
};
enum : int { AnswerOk = 1, AnswerCancel = 2, AnswerYes = 6, AnswerNo = 7 };

// Shows a message box captioned with the installer title (group 6, index 0)
// and returns the button pressed.
int ShowMessage(const char* text, unsigned type);

// Test hook for out-of-memory paths: when >= 0, this many more allocations
// succeed and every one after them fails, retries included. -1 = off.
extern int AllocationFailureCountdown;

} // namespace zevrin
