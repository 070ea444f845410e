// Program-wide window state (Win32 side only).
#pragma once

#include <windows.h>

namespace zevrin {

extern HINSTANCE ModuleInstance;
extern HWND BackgroundWindow; // the top-level window, "ZevrinClass"
extern HWND FrameDialog;      // hosts the pages and the three buttons
extern HWND CurrentPageWindow;

// The progress page while it is open (null otherwise): the engine shows
// the file being installed in its control 1008 and reports the percentage
// through ProgressRepaint, which the page sets to redraw its bar at once.
extern HWND ProgressPageWindow;
extern unsigned ProgressPercent; // 0..100
extern void (*ProgressRepaint)();
// Called by the engine while one file is being unpacked, often: lets the
// page repaint and answer Cancel inside a long file. False: the user gave
// the installation up, and the file is abandoned.
extern bool (*ProgressPulse)();
extern int ScreenWidth, ScreenHeight;
extern int ScreenCentreX, ScreenCentreY;

// Shared drawing resources of the pages, released at exit.
extern HFONT PageFont;
extern HBRUSH FaceBrush;
extern bool FaceBrushOwned;

} // namespace zevrin
