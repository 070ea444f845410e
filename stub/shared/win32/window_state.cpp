// Definitions of the window state declared in window_state.h.
#include "window_state.h"

namespace zevrin {

HINSTANCE ModuleInstance;
HWND BackgroundWindow;
HWND FrameDialog;
HWND CurrentPageWindow;
HWND ProgressPageWindow;
unsigned ProgressPercent;
void (*ProgressRepaint)();
bool (*ProgressPulse)();
int ScreenWidth, ScreenHeight;
int ScreenCentreX, ScreenCentreY;
HFONT PageFont;
HBRUSH FaceBrush;
bool FaceBrushOwned;

} // namespace zevrin
