// ShowMessage for the stub: every box is captioned with the installer
// title and owned by the frontmost window of ours that exists.
#include <windows.h>

#include "../platform.h"
#include "shown_text.h"
#include "window_state.h"

namespace zevrin {

int ShowMessage(const char* text, unsigned type)
{
    HWND owner = FrameDialog ? FrameDialog : BackgroundWindow;
    char shown[MaxShownText + 1];
    char caption[MaxShownText + 1];
    char* ownedText;
    char* ownedCaption;
    const char* boundedText = BoundedText(text, MaxShownText, shown, sizeof shown, &ownedText);
    const char* boundedCaption =
        BoundedText(GetMessageText(GroupMessages, MsgTitle), MaxShownText, caption, sizeof caption, &ownedCaption);
    int answer = MessageBoxA(owner, boundedText, boundedCaption, type);
    FreeAndClear(&ownedText);
    FreeAndClear(&ownedCaption);
    return answer;
}

} // namespace zevrin
