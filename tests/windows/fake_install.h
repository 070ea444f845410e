// A stand-in for the installation engine's entry points the progress page
// calls (install.h), so the page can be driven without a package: it
// counts calls, installs `files` files, and can refuse to start.
#pragma once

#include <windows.h>

#include <functional>
#include <vector>

namespace zevrin {

struct FakeEngine {
    bool startFails = false;
    int files = 0; // InstallNextFile returns 1 this many times, then 0
    int starts = 0, installs = 0, finishes = 0;
    int depth = 0, deepest = 0; // InstallNextFile calls inside one another
    std::vector<DWORD> installTimes; // GetTickCount at each InstallNextFile
    DWORD startTime = 0;
    // Called inside each InstallNextFile with its number (1, 2, ...).
    std::function<void(int)> onInstall;
    // Set by onInstall when its file was given up: InstallNextFile
    // returns 0, as the engine does then.
    bool abandoned = false;
};

extern FakeEngine Engine;

// A fresh engine that will install `files` files.
void ResetFakeEngine(int files = 0);

} // namespace zevrin
