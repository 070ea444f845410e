// Replace and delete at the next restart, through both mechanisms: the
// NT family's MoveFileExA queue and the older family's WININIT.INI.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "../../stub/engine/win32/restart.h"
#include "../../stub/shared/state.h"
#include "pending_renames.h"

using namespace zevrin;

namespace {

std::string WindowsFile(const char* name)
{
    char folder[MAX_PATH];
    GetWindowsDirectoryA(folder, MAX_PATH);
    return std::string(folder) + "\\" + name;
}

std::string ReadText(const std::string& path)
{
    std::string text;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return text;
    char chunk[4096];
    DWORD got;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got)
        text.append(chunk, got);
    CloseHandle(file);
    return text;
}

std::string MakeFile(const char* name)
{
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    std::string path = std::string(folder) + name;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD put;
    WriteFile(file, "x", 1, &put, nullptr);
    CloseHandle(file);
    return path;
}

std::string ShortPath(const std::string& path)
{
    char out[MAX_PATH];
    return GetShortPathNameA(path.c_str(), out, MAX_PATH) ? out : path;
}

TEST(RestartTest, NtFamilyQueuesMoveFileEx)
{
    IsWindowsNT = true;
    std::string doomed = MakeFile("zevrin-doomed.tmp");
    std::string fresh = MakeFile("zevrin-fresh.tmp");
    std::string old = MakeFile("zevrin-old.tmp");
    EXPECT_TRUE(ScheduleAtRestart(nullptr, doomed.c_str()));
    EXPECT_TRUE(ScheduleAtRestart(old.c_str(), fresh.c_str()));

    std::vector<std::wstring> names = PendingRenames();
    bool deletion = false, replacement = false;
    for (size_t i = 0; i + 1 < names.size(); i += 2) {
        if (EndsWith(names[i], "zevrin-doomed.tmp") && names[i + 1].empty())
            deletion = true;
        if (EndsWith(names[i], "zevrin-fresh.tmp") && EndsWith(names[i + 1], "zevrin-old.tmp"))
            replacement = true;
    }
    EXPECT_TRUE(deletion) << "a deletion names no new file";
    EXPECT_TRUE(replacement);
    DeleteFileA(doomed.c_str());
    DeleteFileA(fresh.c_str());
    DeleteFileA(old.c_str());
}

TEST(RestartTest, OlderFamilyWritesWininit)
{
    IsWindowsNT = false;
    std::string ini = WindowsFile("WININIT.INI");
    DeleteFileA(ini.c_str());
    std::string first = MakeFile("zevrin-first-long-name.tmp");
    std::string second = MakeFile("zevrin-second-long-name.tmp");
    std::string fresh = MakeFile("zevrin-new-version.tmp");
    std::string old = MakeFile("zevrin-old-version.tmp");

    ScheduleAtRestart(nullptr, first.c_str());
    ScheduleAtRestart(nullptr, second.c_str());
    ScheduleAtRestart(old.c_str(), fresh.c_str());

    std::string text = ReadText(ini);
    EXPECT_NE(text.find("[Rename]"), std::string::npos) << text;
    EXPECT_NE(text.find("NUL=" + ShortPath(first)), std::string::npos) << text;
    EXPECT_NE(text.find("NUL=" + ShortPath(second)), std::string::npos) << "each deletion keeps its own line\n"
                                                                         << text;
    EXPECT_NE(text.find(ShortPath(old) + "=" + ShortPath(fresh)), std::string::npos) << text;
    EXPECT_EQ(text.find("xyz="), std::string::npos) << text;

    DeleteFileA(ini.c_str());
    for (const std::string& path : {first, second, fresh, old})
        DeleteFileA(path.c_str());
    IsWindowsNT = true;
}

} // namespace
