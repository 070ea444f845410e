// Entry point and the order of one run: single instance, platform, command
// line, delete-self or relaunch from removable media, header, the proposed
// install folder, windows, the wizard (or an unattended run), and what
// must wait until the wizard is gone.
//
// Exit codes (unattended.h): 0 installed, or a run that installs nothing
// and was not cancelled; 3010 installed, a restart finishes it; 1602
// cancelled; 1603 failed; 1618 another instance runs; -1 when the package
// header cannot be read, the background window cannot be created, or a
// dialog of the wizard cannot be made. A wizard started from a removable
// drive ends with 0 once its copy runs; an unattended one waits for the
// copy and ends with its code. 0 also when the window class cannot be
// registered.
#include <windows.h>
#include <commctrl.h>

#include <cstring>

#include "../../background/win32/background.h"
#include "../../engine/paths.h"
#include "../../engine/win32/destination.h"
#include "../../engine/win32/restart.h"
#include "../../pages/win32/pages.h"
#include "../../shared/state.h"
#include "../../shared/win32/run_log.h"
#include "../../shared/win32/shown_text.h"
#include "../../shared/win32/window_state.h"
#include "../command_line.h"
#include "../header.h"
#include "../templates.h"
#include "../../shared/messages.h"
#include "install_dir.h"
#include "sequencer.h"
#include "unattended.h"

namespace zevrin {

namespace {

const int IconResource = 800;
const int RelaunchNames = 999; // _inst0.exe .. _inst998.exe
// Held while an installer runs, so that a quiet one, which has no window
// to find, is found too.
const char InstanceMutexName[] = "Zevrin Setup is running";
HANDLE InstanceMutex;

// Another instance's background window comes to the front instead, unless
// this run is unattended (which must not steal the focus).
bool ProgramStartup(HINSTANCE instance, bool unattended)
{
    HWND other = FindWindowA(BackgroundClassName, nullptr);
    if (other && unattended)
        return false;
    if (other) {
        HWND popup = GetLastActivePopup(other);
        BringWindowToTop(other);
        if (IsIconic(other))
            ShowWindow(other, SW_RESTORE);
        if (popup != other)
            BringWindowToTop(popup);
        return false;
    }
    ModuleInstance = instance;
    OleInitialize(nullptr);
    // The common controls a package's templates may use (templates.h).
    InitCommonControls();
    CreateFaceBrush();
    return true;
}

void ReadPlatform()
{
    OSVERSIONINFOA version;
    std::memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    IsWindowsNT = version.dwPlatformId == VER_PLATFORM_WIN32_NT;
    IsWindowsNT4 = IsWindowsNT && version.dwMajorVersion == 4;
}

// The root GetDriveTypeA is asked about: "A:\" for a drive path, the whole
// path for anything else (UNC paths included).
void DriveRoot(char* path)
{
    if (path[0] == '\\' && path[1] == '\\')
        return;
    if (path[0] && path[1] == ':')
        path[3] = 0;
}

// Fills the fresh copy with the program's own image (never the package).
bool CopyOwnImage(FileHandle copy)
{
    FileHandle source = OpenExisting(PackageSourcePath, 0);
    if (source == INVALID_FILE_HANDLE)
        return false;
    uint8_t* image = nullptr;
    bool copied = AllocWithRetry(StubLength(), &image) && ReadExact(source, image, StubLength()) == 0 &&
                  WriteExact(copy, image, StubLength()) == 0;
    FreeAndClear(&image);
    CloseFile(source);
    return copied;
}

// False when another run holds the instance mutex.
bool ClaimInstance()
{
    InstanceMutex = CreateMutexA(nullptr, FALSE, InstanceMutexName);
    if (InstanceMutex && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(InstanceMutex);
        InstanceMutex = nullptr;
        return false;
    }
    return true;
}

// The options a relaunched copy keeps: " /Q", " /DIR="...", " /LOG="...".
void AppendRunOptions(char* commandLine)
{
    if (RunMode == RunQuiet)
        std::strcat(commandLine, " /Q");
    else if (RunMode == RunProgressOnly)
        std::strcat(commandLine, " /QP");
    if (CommandLineDir[0])
        wsprintfA(commandLine + std::strlen(commandLine), " /DIR=\"%s\"", CommandLineDir);
    if (RunLogPath[0])
        wsprintfA(commandLine + std::strlen(commandLine), " /LOG=\"%s\"", RunLogPath);
}

// Starts the copy; an unattended run waits for it and takes its exit code.
bool StartCopy(char* commandLine, int showCommand, int* exitCode)
{
    *exitCode = 0;
    if (!Unattended())
        return WinExec(commandLine, showCommand) > 31;
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = static_cast<DWORD>(ExitFailed);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    *exitCode = static_cast<int>(code);
    return true;
}

// Started from a floppy or other removable drive: copy the program's own
// image to the temporary folder and start that copy with /S pointing back
// at the package, so the disk can be changed. Any failure on the way
// removes the copy, and the program goes on from the removable drive.
bool RelaunchFromRemovable(int showCommand, int* exitCode)
{
    GetModuleFileNameA(ModuleInstance, DestPath, PathSize);
    char root[PathSize];
    std::memcpy(root, DestPath, PathSize);
    DriveRoot(root);
    if (GetDriveTypeA(root) != DRIVE_REMOVABLE)
        return false;

    FileHandle copy = INVALID_FILE_HANDLE;
    for (int n = 0; n < RelaunchNames && copy == INVALID_FILE_HANDLE; ++n) {
        if (!GetTempPathA(PathSize, TempPath))
            return false;
        AppendBackslash(TempPath);
        char name[32];
        wsprintfA(name, "_inst%d.exe", n);
        if (std::strlen(TempPath) + std::strlen(name) >= PathSize)
            return false;
        std::strcat(TempPath, name);
        FileHandle existing = OpenExisting(TempPath, 0);
        if (existing != INVALID_FILE_HANDLE) {
            CloseFile(existing);
            continue;
        }
        copy = CreateAlways(TempPath);
    }
    if (copy == INVALID_FILE_HANDLE)
        return false;
    bool filled = CopyOwnImage(copy);
    CloseFile(copy);

    // "<copy>" /S"<package>" /DEL and the run's options. The copy's path
    // is quoted: unquoted, a temporary folder with a blank ("C:\my temp")
    // would start C:\my.exe.
    char commandLine[PathSize * 4 + 48];
    bool started = false;
    if (filled) {
        wsprintfA(commandLine, "\"%s\" /S\"%s\" /DEL", TempPath, PackageSourcePath);
        AppendRunOptions(commandLine);
        started = StartCopy(commandLine, showCommand, exitCode);
    }
    if (!started)
        DeleteFileA(TempPath);
    return started;
}

bool RegisterBackgroundClass()
{
    WNDCLASSA windowClass;
    std::memset(&windowClass, 0, sizeof windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = BackgroundWndProc;
    windowClass.hInstance = ModuleInstance;
    windowClass.hIcon = LoadIconA(ModuleInstance, MAKEINTRESOURCEA(IconResource));
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
    windowClass.lpszClassName = BackgroundClassName;
    return RegisterClassA(&windowClass) != 0;
}

bool CreateBackgroundWindow()
{
    DWORD style = (HeaderFlags & FlagFullScreen) ? WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN
                                                 : WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    BackgroundWindow = CreateWindowExA(0, BackgroundClassName, "", style, 0, 0, ScreenWidth, ScreenHeight, nullptr,
                                       nullptr, ModuleInstance, nullptr);
    if (!BackgroundWindow)
        return false;
    SetShownText(BackgroundWindow, GetMessageText(GroupMessages, MsgTitle));
    ScreenCentreX = ScreenWidth / 2;
    ScreenCentreY = ScreenHeight / 2;
    return true;
}

// In windowed mode the background becomes a captioned window exactly
// around the frame dialog, where the dialog placed itself.
void FitBackgroundAroundFrame()
{
    RECT frame;
    GetWindowRect(FrameDialog, &frame);
    AdjustWindowRectEx(&frame, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, FALSE, 0);
    SetWindowPos(BackgroundWindow, nullptr, frame.left, frame.top, frame.right - frame.left,
                 frame.bottom - frame.top, SWP_NOZORDER);
    SetWindowPos(FrameDialog, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

// False when a dialog of the run, sound in form, still makes no dialog
// (a window class the platform lacks, say) or one without a control its
// page needs: the user is told, as for any damaged package, and nothing
// that waits for the end of the wizard follows. Every page is tried
// before the first one runs, so that nothing is installed then.
bool RunFrameAndWizard()
{
    unsigned number = (HeaderFlags & FlagFullScreen) ? TemplateFrameFullScreen : TemplateFrameWindowed;
    void* frameTemplate = LoadTemplate(number);
    if (frameTemplate)
        FrameDialog = CreateDialogIndirectParamA(ModuleInstance, static_cast<LPCDLGTEMPLATEA>(frameTemplate),
                                                 BackgroundWindow, FrameDialogProc, 0);
    bool made = !frameTemplate || (FrameDialog && HasNeededControls(FrameDialog, number) && PagesCanBeMade());
    if (made && FrameDialog) {
        if (!(HeaderFlags & FlagFullScreen))
            FitBackgroundAroundFrame();
        ShowWindow(BackgroundWindow, SW_SHOWNORMAL);
        UpdateWindow(BackgroundWindow);
        made = RunWizard();
    }
    if (FrameDialog) {
        DestroyWindow(FrameDialog);
        FrameDialog = nullptr;
    }
    FreeTemplate(frameTemplate);
    if (!made) {
        PendingViewEntry = nullptr;
        PendingLaunchEntry = nullptr;
        PendingScreenSaverEntry = nullptr;
        ShowInvalidData();
    }
    return made;
}

// Handed to the control panel while the background window still stands.
void InstallScreenSaver()
{
    if (!PendingScreenSaverEntry || ResolveDestination(PendingScreenSaverEntry) == DestinationTooLong)
        return;
    char command[520];
    wsprintfA(command, "rundll32 desk.cpl,InstallScreenSaver %s", DestPath);
    WinExec(command, SW_SHOWNORMAL);
}

// The installed program, started from the install folder by its short
// path; without a whole one nothing is started (LaunchCommand).
void LaunchInstalledProgram()
{
    if (!LaunchChecked || !PendingLaunchEntry || ResolveDestination(PendingLaunchEntry) == DestinationTooLong)
        return;
    StripBackslash(InstallDir);
    SetCurrentDirectoryA(InstallDir);
    DWORD length = GetShortPathNameA(DestPath, TempPath, PathSize);
    char command[PathSize + 2];
    if (LaunchCommand(command, TempPath, length))
        WinExec(command, SW_SHOWNORMAL);
}

void DrainMessages()
{
    DestroyWindow(BackgroundWindow);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0)
        DispatchMessageA(&message);
    BackgroundWindow = nullptr;
}

void ProgramTeardown()
{
    OleUninitialize();
    if (FaceBrushOwned && FaceBrush)
        DeleteObject(FaceBrush);
    FaceBrush = nullptr;
    if (PageFont)
        DeleteObject(PageFont);
    PageFont = nullptr;
}

// An unattended run installs without the wizard's pages: /Q without any
// window, /QP with the progress page alone. A package made to run one
// other page alone has no progress page to show: /QP installs it quietly.
bool ShowsProgressPage()
{
    return RunMode == RunProgressOnly && (StartPage == WizardMode || StartPage == ProgressPage);
}

int EndRun(int code)
{
    CloseRunLog();
    if (InstanceMutex)
        CloseHandle(InstanceMutex);
    InstanceMutex = nullptr;
    ProgramTeardown();
    return code;
}

int Run(HINSTANCE instance, const char* commandLine, int showCommand)
{
    GetModuleFileNameA(instance, PackageSourcePath, PathSize);
    ParseCommandLine(commandLine);
    AnswerQuestionsQuietly = Unattended();
    if (!ProgramStartup(instance, Unattended()))
        return ExitAnotherInstance;
    ReadPlatform();
    MakeCommandLinePathsWhole();
    if (DeleteSelfMode) {
        GetModuleFileNameA(ModuleInstance, DestPath, PathSize);
        ScheduleAtRestart(nullptr, DestPath);
    } else {
        int copyExitCode = 0;
        if (RelaunchFromRemovable(showCommand, &copyExitCode))
            return EndRun(copyExitCode);
    }
    OpenCommandLineLog();
    LogRunStart(commandLine);
    if (!ClaimInstance()) {
        LogLine("Another installation is running");
        LogLine("Exit code: %d", ExitAnotherInstance);
        return EndRun(ExitAnotherInstance);
    }
    if (RunMode != RunQuiet && !RegisterBackgroundClass())
        return EndRun(0);
    ScreenWidth = GetSystemMetrics(SM_CXSCREEN);
    ScreenHeight = GetSystemMetrics(SM_CYSCREEN);
    if (!ReadPackageHeader())
        return EndRun(FinishRun(false));
    LogPackage();
    ResolveInstallDir();
    ApplyCommandLineDir();
    bool made = true;
    if (Unattended() && !ShowsProgressPage()) {
        InstallQuietly();
    } else if (!Unattended() || PrepareInstallDirQuietly()) {
        if (Unattended())
            StartPage = ProgressPage;
        if (!CreateBackgroundWindow())
            return EndRun(FinishRun(false));
        made = RunFrameAndWizard();
        if (Unattended())
            PendingViewEntry = PendingLaunchEntry = PendingScreenSaverEntry = nullptr;
        InstallScreenSaver();
        DrainMessages();
        LaunchInstalledProgram();
    }
    FreeHeaderData();
    return EndRun(FinishRun(made));
}

} // namespace

} // namespace zevrin

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand)
{
    return zevrin::Run(instance, commandLine, showCommand);
}
