// ShowMessage for the stub: every box is captioned with the installer title
// and owned by the frontmost window of ours that exists.
#include <windows.h>

#include "../platform.h"
#include "window_state.h"
#include "../messages.h"

namespace zevrin {

int ShowMessage(const char* text, unsigned type)
{
    HWND owner = FrameDialog ? FrameDialog : BackgroundWindow;
    return MessageBoxA(owner, text, GetMessageText(GroupMessages, MsgTitle), type);
}

} // namespace zevrin
