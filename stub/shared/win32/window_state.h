// Program-wide window state (Win32 side only).
#pragma once

#include <windows.h>

namespace zevrin {

extern HINSTANCE ModuleInstance;
extern HWND BackgroundWindow; // the top-level window, "ZevrinClass"
extern HWND FrameDialog;      // hosts the pages and the three buttons
extern HWND CurrentPageWindow;
extern int ScreenWidth, ScreenHeight;
extern int ScreenCentreX, ScreenCentreY;

// Shared drawing resources of the pages, released at exit.
extern HFONT PageFont;
extern HBRUSH FaceBrush;
extern bool FaceBrushOwned;

} // namespace zevrin
