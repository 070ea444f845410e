// Unattended runs. The answers a quiet run gives are those that keep what
// is on the disk: the folder is made, a newer or other-language file stays
// (message_box.cpp answers No), a file in use is replaced at the restart,
// and anything that would need a person (too little space, a missing
// volume, an error) ends the run with its exit code.
#include <windows.h>

#include <cstring>

#include "../../engine/paths.h"
#include "../../engine/win32/install.h"
#include "../../engine/win32/space.h"
#include "../../shared/messages.h"
#include "../../shared/state.h"
#include "../../shared/win32/run_log.h"
#include "unattended.h"

namespace zevrin {

namespace {

void MakeWhole(char* path)
{
    if (!path[0])
        return;
    char full[PathSize];
    DWORD length = GetFullPathNameA(path, PathSize, full, nullptr);
    // A longer result did not fit and was not written.
    if (length > 0 && length < PathSize)
        std::memcpy(path, full, length + 1);
}

const char* ModeName()
{
    switch (RunMode) {
    case RunQuiet: return "quiet (/Q)";
    case RunProgressOnly: return "progress only (/QP)";
    default: return "wizard";
    }
}

void FailPreparation(int error, const char* subject)
{
    ErrorCode = error;
    SetErrorSubject(subject);
    InstallOutcome = OutcomeFailed;
}

} // namespace

void MakeCommandLinePathsWhole()
{
    MakeWhole(PackageSourcePath);
    MakeWhole(CommandLineDir);
    MakeWhole(RunLogPath);
}

void OpenCommandLineLog()
{
    if (!RunLogPath[0] || OpenRunLog(RunLogPath))
        return;
    // MakeDirectories enters each folder it makes.
    char current[PathSize];
    DWORD length = GetCurrentDirectoryA(PathSize, current);
    MakeDirectories(RunLogPath, false);
    if (length > 0 && length < PathSize)
        SetCurrentDirectoryA(current);
    OpenRunLog(RunLogPath);
}

void LogRunStart(const char* commandLine)
{
    char program[PathSize];
    if (!GetModuleFileNameA(nullptr, program, PathSize))
        program[0] = 0;
    LogLine("Zevrin Setup: %s", program);
    LogLine("Command line: %.900s", commandLine ? commandLine : "");
    LogLine("Mode: %s", ModeName());
}

void LogPackage()
{
    LogLine("Package: %s", PackageSourcePath);
    LogLine("Product: %.900s", GetMessageText(GroupMessages, MsgTitle));
    // The version the publisher gave the program, when it carries one.
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(PackageSourcePath, &ignored);
    void* data = nullptr;
    if (size && AllocWithRetry(size, &data) && GetFileVersionInfoA(PackageSourcePath, 0, size, data)) {
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        if (VerQueryValueA(data, "\\", reinterpret_cast<void**>(&fixed), &length) && fixed &&
            length >= sizeof *fixed)
            LogLine("Version: %u.%u.%u.%u", HIWORD(fixed->dwProductVersionMS), LOWORD(fixed->dwProductVersionMS),
                    HIWORD(fixed->dwProductVersionLS), LOWORD(fixed->dwProductVersionLS));
    }
    FreeAndClear(&data);
}

void ApplyCommandLineDir()
{
    if (!CommandLineDir[0])
        return;
    if (!(HeaderFlags & FlagFolderEditable)) {
        LogLine("/DIR not used: this package installs into its own folder");
        return;
    }
    std::memcpy(InstallDir, CommandLineDir, PathSize);
    LogLine("/DIR: %s", InstallDir);
}

bool PrepareInstallDirQuietly()
{
    StripBackslash(InstallDir);
    MakeWhole(InstallDir);
    LogLine("Folder: %s", InstallDir);
    if (!SetCurrentDirectoryA(InstallDir)) {
        AppendBackslash(InstallDir);
        MakeDirectories(InstallDir);
        StripBackslash(InstallDir);
        if (!SetCurrentDirectoryA(InstallDir)) {
            FailPreparation(ErrorCannotCreate, InstallDir);
            LogLine("Failed: %s (the folder cannot be made)", InstallDir);
            return false;
        }
        LogLine("Folder created");
    }
    AppendBackslash(InstallDir);
    int result = CheckDiskSpace();
    if (result) {
        FailPreparation(result, result == ErrorAccessCheck ? ErrorSubject : InstallDir);
        LogLine("Failed: %s (%s)", ErrorSubject, DescribeError(result));
        return false;
    }
    if (ReadOnlyFilesFound)
        LogLine("Read-only files of an earlier installation are replaced");
    return true;
}

void InstallQuietly()
{
    if (!PrepareInstallDirQuietly())
        return;
    if (StartInstallation()) {
        while (InstallNextFile(nullptr)) {
        }
    }
    FinishInstallation();
    PendingViewEntry = PendingLaunchEntry = PendingScreenSaverEntry = nullptr;
}

int FinishRun(bool made)
{
    int code = ExitInstalled;
    if (!made) {
        code = ExitDamagedPackage;
        LogLine("Result: the package is damaged, or its windows cannot be made");
    } else if (InstallOutcome == OutcomeInstalled) {
        code = RebootNeeded ? ExitRestartNeeded : ExitInstalled;
        LogLine(RebootNeeded ? "Result: installed; files in use are replaced at the next restart"
                             : "Result: installed");
    } else if (InstallOutcome == OutcomeCancelled) {
        code = ExitCancelled;
        LogLine("Result: cancelled by the user");
    } else if (InstallOutcome == OutcomeFailed) {
        code = ExitFailed;
        LogLine("Result: failed: %s (%s)", DescribeError(ErrorCode), ErrorSubject);
    } else {
        LogLine("Result: nothing was installed");
    }
    LogLine("Exit code: %d", code);
    return code;
}

} // namespace zevrin
