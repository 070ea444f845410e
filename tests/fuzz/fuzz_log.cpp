// The uninstaller's log reader on arbitrary bytes. Input byte 0 picks the
// mode: odd, the rest is the whole uninstaller file (its PE headers too);
// even, the rest follows a small stand-in image. A log the reader accepts
// must walk item by item within its records, and every path it resolves
// must stay inside the install folder or be a full path without "..".
#include <cstring>

#include "fuzz_support.h"
#include "log_input.h"
#include "stub/shared/state.h"
#include "stub/engine/log_reader.h"

using namespace zevrin;

namespace {

bool ClimbsOut(const char* path)
{
    for (const char* p = path; (p = std::strstr(p, "..")) != nullptr; p += 2)
        if ((p == path || p[-1] == '\\' || p[-1] == '/') && (p[2] == 0 || p[2] == '\\' || p[2] == '/'))
            return true;
    return false;
}

void CheckPath(const LogItem& item, const char* installDir)
{
    char path[PathSize];
    if (!LogItemPath(item, installDir, path))
        return;
    FUZZ_CHECK(std::strlen(path) < PathSize);
    FUZZ_CHECK(!ClimbsOut(path));
    if (item.folder.text[0] == '.')
        FUZZ_CHECK(std::strncmp(path, installDir, std::strlen(installDir)) == 0);
}

void Walk(const UninstallLogView& log)
{
    const char* installDir = "C:\\Program Files\\App\\";
    ByteCursor items = log.files;
    for (uint32_t i = 0; i < log.fileCount; ++i)
        CheckPath(NextLogFile(&items), installDir);
    FUZZ_CHECK(!items.Failed() && items.Left() == 0);
    items = log.shortcuts;
    for (uint32_t i = 0; i < log.shortcutCount; ++i)
        CheckPath(NextLogShortcut(&items), "");
    FUZZ_CHECK(!items.Failed() && items.Left() == 0);
    char found[PathSize];
    FindInstallDir(log, "C:\\Program Files\\App\\uninst.exe", "C:\\Program Files\\App\\uninst.exe", found);
    FUZZ_CHECK(!*found || std::strcmp(found, installDir) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > (1u << 20))
        return 0;
    loginput::Bytes file;
    if (!(data[0] & 1))
        file = loginput::Image();
    file.insert(file.end(), data + 1, data + size);
    // A block of exactly the file's size, so that a read past it faults.
    uint8_t* bytes = new uint8_t[file.size() ? file.size() : 1];
    if (!file.empty())
        std::memcpy(bytes, file.data(), file.size());
    UninstallLogView log;
    LogProblem problem = ReadUninstallLog(bytes, static_cast<uint32_t>(file.size()), &log);
    if (log.texts)
        FUZZ_CHECK(log.texts >= bytes && log.texts + log.textsSize <= bytes + file.size());
    if (problem == LogOk)
        Walk(log);
    delete[] bytes;
    return 0;
}
