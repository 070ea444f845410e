// The run log: unbuffered writes through one handle, shared for reading
// so that the log can be watched while the run goes on.
#include "run_log.h"

#include <windows.h>

#include <cstdarg>

namespace zevrin {

namespace {

HANDLE LogFile = INVALID_HANDLE_VALUE;

void Write(const char* text, int length)
{
    DWORD written = 0;
    // A failed write (a full disk) drops the log rather than the run.
    if (length > 0 && !WriteFile(LogFile, text, static_cast<DWORD>(length), &written, nullptr))
        CloseRunLog();
}

} // namespace

bool OpenRunLog(const char* path)
{
    CloseRunLog();
    if (!path || !*path)
        return false;
    LogFile = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                          nullptr);
    return LogFile != INVALID_HANDLE_VALUE;
}

void CloseRunLog()
{
    if (LogFile != INVALID_HANDLE_VALUE)
        CloseHandle(LogFile);
    LogFile = INVALID_HANDLE_VALUE;
}

bool RunLogOpen() { return LogFile != INVALID_HANDLE_VALUE; }

void LogLine(const char* format, ...)
{
    if (LogFile == INVALID_HANDLE_VALUE)
        return;
    // wvsprintfA writes at most 1024 characters and the terminator.
    char line[1024 + 1 + 16 + 2];
    SYSTEMTIME now;
    GetLocalTime(&now);
    int length = wsprintfA(line, "%02u:%02u:%02u.%03u ", now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
    va_list arguments;
    va_start(arguments, format);
    length += wvsprintfA(line + length, format, arguments);
    va_end(arguments);
    line[length++] = '\r';
    line[length++] = '\n';
    Write(line, length);
}

} // namespace zevrin
