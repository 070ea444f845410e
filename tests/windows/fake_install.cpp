// The fake engine of fake_install.h. Its effects on the shared state are
// the ones the progress page relies on: InstallRunning, ErrorCode 16 on a
// failed start, the percentage after each file, and the move to the
// finish page in wizard mode.
#include "fake_install.h"

#include <cstring>

#include "../../stub/engine/win32/install.h"
#include "../../stub/shared/state.h"
#include "../../stub/shared/win32/window_state.h"

namespace zevrin {

FakeEngine Engine;

void ResetFakeEngine(int files)
{
    Engine = FakeEngine();
    Engine.files = files;
    InstallRunning = false;
}

bool StartInstallation()
{
    ++Engine.starts;
    Engine.startTime = GetTickCount();
    ErrorCode = 0;
    if (Engine.startFails) {
        ErrorCode = ErrorCannotOpen;
        std::strcpy(ErrorSubject, "D:\\SETUP.EXE");
        return false;
    }
    InstallRunning = true;
    return true;
}

int InstallNextFile(HWND)
{
    int call = ++Engine.installs;
    Engine.installTimes.push_back(GetTickCount());
    if (++Engine.depth > Engine.deepest)
        Engine.deepest = Engine.depth;
    if (Engine.onInstall)
        Engine.onInstall(call);
    --Engine.depth;
    if (call > Engine.files || Engine.abandoned)
        return 0;
    SetProgressPercent(static_cast<uint32_t>(call * 100 / Engine.files));
    return 1;
}

void FinishInstallation()
{
    ++Engine.finishes;
    if (StartPage == WizardMode)
        GoToPage(5);
    InstallRunning = false;
}

void FlushProgressPath() {}

void AbandonInstallation() {}

void SetProgressPercent(uint32_t p)
{
    ProgressPercent = p > 100 ? 100 : p;
    if (ProgressRepaint)
        ProgressRepaint();
}

} // namespace zevrin
