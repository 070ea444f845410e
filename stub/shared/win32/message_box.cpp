// ShowMessage for the stub: every box is captioned with the installer
// title and owned by the frontmost window of ours that exists. An
// unattended run shows none: each question gets the answer that keeps
// what is on the disk (No, Cancel), and goes to the log.
#include <windows.h>

#include "../platform.h"
#include "../state.h"
#include "run_log.h"
#include "shown_text.h"
#include "window_state.h"

namespace zevrin {

namespace {

int QuietAnswer(const char* text, unsigned type)
{
    int answer = AnswerOk;
    const char* said = "OK";
    if ((type & 0xF) == MB_YESNO) {
        answer = AnswerNo;
        said = "No";
    } else if ((type & 0xF) == MB_OKCANCEL) {
        answer = AnswerCancel;
        said = "Cancel";
    }
    LogLine("Message, answered %s: %.900s", said, text ? text : "");
    return answer;
}

} // namespace

int ShowMessage(const char* text, unsigned type)
{
    if (AnswerQuestionsQuietly)
        return QuietAnswer(text, type);
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
