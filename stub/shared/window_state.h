// Program-wide window handles (Win32 side only).
#pragma once

#include <windows.h>

namespace zevrin {

extern HWND FrameDialogWindow; // the wizard's frame dialog, once it exists
extern HWND BackgroundWindow;  // the top-level background window

} // namespace zevrin
