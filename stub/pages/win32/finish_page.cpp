// The finish page (page 5): the installation's outcome. After a success it
// offers the file to view, the launch box and, when files wait for the
// next start, the restart in place of Back; after an error it shows the
// error text and drops every follow-up. Cancel, the default button, ends
// the wizard without a question.
#include <windows.h>

#include "../../engine/file_table.h"
#include "../../engine/win32/association.h"
#include "../../shared/messages.h"
#include "../../shared/state.h"
#include "../../shared/win32/shown_text.h"
#include "../../shared/win32/window_state.h"
#include "pages.h"

namespace zevrin {

ExitWindowsCall ExitWindowsHook = ExitWindowsEx;
ViewFileCall ViewInstalledFileHook = ViewInstalledFile;

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
        if (EntryStatusOf(entry) == StatusFailed) {
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

const char* FinishText(unsigned index) { return GetMessageText(5, index); }

void ShowItemWithText(HWND page, int id, const char* text)
{
    SetShownItemText(page, id, text);
    if (HWND control = GetDlgItem(page, id))
        ShowWindow(control, SW_SHOW);
}

// The launch box moves up to where the view button would be.
void MoveLaunchUp(HWND page)
{
    HWND view = GetDlgItem(page, IdViewButton);
    HWND check = GetDlgItem(page, IdLaunchCheck);
    if (!view || !check)
        return;
    RECT viewRect, checkRect;
    GetWindowRect(view, &viewRect);
    GetWindowRect(check, &checkRect);
    MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&viewRect), 2);
    MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&checkRect), 2);
    SetWindowPos(check, nullptr, checkRect.left, viewRect.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// In single-page mode the button and the box are offered whenever they
// have captions.
void ShowSuccess(HWND page)
{
    bool singlePage = zevrin::StartPage != WizardMode;
    bool secondEmpty = !FinishText(2)[0];
    bool viewShown = false;
    if (PendingViewEntry || singlePage) {
        if (FinishText(TextFinishViewCaption)[0]) {
            ShowItemWithText(page, IdViewButton, FinishText(TextFinishViewCaption));
            viewShown = true;
        } else {
            ViewInstalledFileHook();
        }
    }
    bool launchShown = false, moved = false;
    if ((PendingLaunchEntry || singlePage) && FinishText(TextFinishLaunchCaption)[0]) {
        ShowItemWithText(page, IdLaunchCheck, FinishText(TextFinishLaunchCaption));
        launchShown = true;
        if (!viewShown && secondEmpty) {
            MoveLaunchUp(page);
            SetShownItemText(page, IdPageText0 + 1, FinishText(3));
            SetDlgItemTextA(page, IdPageText0 + 2, "");
            moved = true;
        }
    }
    SetDlgItemTextA(page, IdPageText0 + 3, "");
    if (!RebootNeeded)
        return;
    int notice;
    if (launchShown)
        notice = moved ? IdPageText0 + 2 : IdPageText0 + 3;
    else if (!viewShown && secondEmpty)
        notice = IdPageText0 + 1;
    else
        notice = FinishText(3)[0] ? IdPageText0 + 3 : IdPageText0 + 2;
    SetShownItemText(page, notice, FinishText(TextFinishRestartNotice));
}

// A restart the system refuses changes nothing. On the NT family the
// process needs the shutdown privilege first.
void Restart()
{
    if (IsWindowsNT) {
        HANDLE token;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
            return;
        TOKEN_PRIVILEGES privileges = {};
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        if (LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid))
            AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
        CloseHandle(token);
    }
    ExitWindowsHook(EWX_REBOOT, 0);
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
    else
        ShowSuccess(page);
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
        switch (LOWORD(wParam)) {
        case IdBack:
            // Never Back: that would run the installation again.
            if (RebootNeeded)
                Restart();
            return ConsumeCommand(page);
        case IdViewButton:
            ViewInstalledFileHook();
            return ConsumeCommand(page);
        case IdLaunchCheck:
            LaunchChecked = IsDlgButtonChecked(page, IdLaunchCheck) == BST_CHECKED;
            return ConsumeCommand(page);
        }
        return DefaultPageHandler(message, wParam);
    default: return DefaultPageHandler(message, wParam);
    }
}

} // namespace zevrin
