// The finish page (page 5): the installation's outcome. After an error it
// shows the error text and drops every follow-up; Cancel, the default
// button, ends the wizard without a question.
// Not yet: the view button, launch box, restart notice and restart button;
// after a success the page keeps its package texts.
#include <windows.h>

#include "../../engine/file_table.h"
#include "../../shared/messages.h"
#include "../../shared/state.h"
#include "../../shared/win32/shown_text.h"
#include "../../shared/win32/window_state.h"
#include "pages.h"

namespace zevrin {

namespace {

// Controls of template 6.
const int IdViewButton = 1014;
const int IdLaunchCheck = 1015;

const unsigned ErrorTextSize = 2048; // the format's result, then at 1024 the error text
const unsigned ErrorTextOffset = 1024;

void HideItem(HWND page, int id)
{
    if (HWND control = GetDlgItem(page, id))
        ShowWindow(control, SW_HIDE);
}

// A file that could be neither installed nor scheduled is an error even
// when the installation itself ran to its end.
void FindFailedEntry()
{
    const uint8_t* entry = FirstEntry;
    for (uint32_t i = 0; entry && i < EntryCount; ++i, entry = NextEntry(entry)) {
        if (ReadU16(entry + EntryStatus) == StatusFailed) {
            ErrorCode = ErrorNotReplaced;
            return;
        }
    }
}

// The main text grows down over 1001 and 1002, which go.
void StretchMainText(HWND page)
{
    HWND text = GetDlgItem(page, IdPageText0);
    HWND last = GetDlgItem(page, IdPageText0 + 2);
    HideItem(page, IdPageText0 + 1);
    HideItem(page, IdPageText0 + 2);
    if (!text || !last)
        return;
    RECT textRect, lastRect;
    GetWindowRect(text, &textRect);
    GetWindowRect(last, &lastRect);
    int height = lastRect.bottom - textRect.top;
    if (height > 0)
        SetWindowPos(text, nullptr, 0, 0, textRect.right - textRect.left, height,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void ShowError(HWND page)
{
    StretchMainText(page);
    if (ErrorCode == ErrorNotCompleted) {
        SetShownItemText(page, IdPageText0, GetMessageText(GroupMessages, MsgNotCompleted));
    } else {
        char* text = nullptr;
        if (AllocWithRetry(ErrorTextSize, &text)) {
            FormatErrorText(text + ErrorTextOffset, ErrorTextSize - ErrorTextOffset, ErrorCode);
            FormatText(text, ErrorTextOffset, GetMessageText(5, TextFinishErrorFormat), text + ErrorTextOffset, 0);
            SetShownItemText(page, IdPageText0, text);
            FreeAndClear(&text);
        }
    }
    PendingViewEntry = nullptr;
    PendingLaunchEntry = nullptr;
    PendingScreenSaverEntry = nullptr;
}

// Enter ends the wizard: Cancel takes the default style from Next.
void MakeCancelDefault()
{
    HWND next = GetDlgItem(FrameDialog, IdNext);
    HWND cancel = GetDlgItem(FrameDialog, IdCancel);
    if (next)
        SendMessageA(next, BM_SETSTYLE, GetWindowLongA(next, GWL_STYLE) & ~BS_DEFPUSHBUTTON & 0xFFFF, TRUE);
    if (cancel) {
        SendMessageA(cancel, BM_SETSTYLE, (GetWindowLongA(cancel, GWL_STYLE) | BS_DEFPUSHBUTTON) & 0xFFFF, TRUE);
        SetFocus(cancel);
    }
}

INT_PTR FinishOnInitDialog(HWND page)
{
    if (ErrorCode)
        RebootNeeded = false;
    ApplyPageChrome(page, ButtonCancel | ButtonQuietCancel | (RebootNeeded ? ButtonBack : 0u));
    SetDlgItemTextA(page, IdPageText0 + 3, "");
    if (RebootNeeded)
        SetButtonText(ButtonBack, CaptionRestart);
    HideItem(page, IdViewButton);
    if (GetDlgItem(page, IdLaunchCheck)) {
        CheckDlgButton(page, IdLaunchCheck, LaunchChecked ? BST_CHECKED : BST_UNCHECKED);
        HideItem(page, IdLaunchCheck);
    }
    if (!ErrorCode)
        FindFailedEntry();
    if (ErrorCode)
        ShowError(page);
    MakeCancelDefault();
    return FALSE; // the focus is set
}

} // namespace

INT_PTR CALLBACK FinishPageProc(HWND page, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: return FinishOnInitDialog(page);
    case WM_COMMAND:
        if (LOWORD(wParam) == IdNext || LOWORD(wParam) == IdCancel) {
            PageResult = PageCancel;
            return ConsumeCommand(page);
        }
        // Not yet: the restart. Meanwhile the enabled button must not act
        // as Back, which would run the installation again.
        if (LOWORD(wParam) == IdBack)
            return ConsumeCommand(page);
        return DefaultPageHandler(message, wParam);
    default: return DefaultPageHandler(message, wParam);
    }
}

} // namespace zevrin
