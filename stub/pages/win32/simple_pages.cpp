// The welcome, information and ready pages, and the end marker.
#include <windows.h>

#include "../../engine/paths.h"
#include "../../shared/state.h"
#include "../../shared/win32/window_state.h"
#include "../../shared/messages.h"
#include "pages.h"

namespace zevrin {

namespace {

const unsigned ReadyTextSize = 1024;

bool InfoPageHasText()
{
    return *GetMessageText(1, TextInformation) != 0;
}

// --- welcome (page 0) ---

INT_PTR WelcomeOnInitDialog(HWND page)
{
    ApplyPageChrome(page, ButtonNext | ButtonCancel);
    return TRUE;
}

INT_PTR WelcomeOnCommand(HWND page, WPARAM wParam)
{
    // Without text the information page is skipped; the frame dialog's
    // Next would land on it.
    if (LOWORD(wParam) == IdNext && !InfoPageHasText()) {
        GoToPage(2);
        return ConsumeCommand(page);
    }
    return DefaultPageHandler(WM_COMMAND, wParam);
}

// --- ready (page 3) ---

void ShowInstallDir(HWND page)
{
    char text[ReadyTextSize];
    StripBackslash(InstallDir);
    FormatText(text, sizeof text, GetMessageText(3, TextReadyFolderFormat), InstallDir, 0);
    AppendBackslash(InstallDir);
    SetDlgItemTextA(page, IdPageText0 + 1, text);
}

INT_PTR ReadyOnInitDialog(HWND page)
{
    ApplyPageChrome(page, ButtonBack | ButtonNext | ButtonCancel);
    ShowInstallDir(page);
    SetButtonText(ButtonNext, CaptionStart);
    SetFocus(GetDlgItem(FrameDialog, IdNext));
    return FALSE; // the focus is set
}

INT_PTR ReadyOnCommand(HWND page, WPARAM wParam)
{
    if (LOWORD(wParam) != IdNext || !ReadOnlyFilesFound)
        return DefaultPageHandler(WM_COMMAND, wParam);
    const char* question = GetMessageText(GroupMessages, MsgOverwriteProtected);
    if (*question && ShowMessage(question, MessageYesNo) == AnswerNo)
        return ConsumeCommand(page);
    return DefaultPageHandler(WM_COMMAND, wParam);
}

} // namespace

INT_PTR CALLBACK WelcomePageProc(HWND page, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: return WelcomeOnInitDialog(page);
    case WM_COMMAND: return WelcomeOnCommand(page, wParam);
    default: return DefaultPageHandler(message, wParam);
    }
}

INT_PTR CALLBACK InfoPageProc(HWND page, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        ApplyPageChrome(page, ButtonBack | ButtonNext | ButtonCancel);
        // The dialog manager focuses the text field and selects all of it;
        // the selection is dropped once that has happened.
        PostMessageA(GetDlgItem(page, IdPageText0), EM_SETSEL, 0, 0);
        return TRUE;
    default: return DefaultPageHandler(message, wParam);
    }
}

INT_PTR CALLBACK ReadyPageProc(HWND page, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: return ReadyOnInitDialog(page);
    case WM_COMMAND: return ReadyOnCommand(page, wParam);
    default: return DefaultPageHandler(message, wParam);
    }
}

// Page 6 has no dialog; the sequencer ends the wizard on reaching it.
INT_PTR CALLBACK EndPageProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

} // namespace zevrin
