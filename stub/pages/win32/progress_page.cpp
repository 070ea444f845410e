// The progress page (page 4): drives the installation one file per timer
// tick, so the window stays responsive, and draws the block progress bar.
#include <windows.h>

#include "../../engine/win32/install.h"
#include "../../shared/messages.h"
#include "../../shared/platform.h"
#include "../../shared/state.h"
#include "../../shared/win32/window_state.h"
#include "pages.h"

namespace zevrin {

namespace {

// Controls of template 4 (1008, the file's path, is the engine's).
const int IdProgressBar = 1009; // only its rectangle is used
const int IdProgressPercent = 1010;

const UINT_PTR ProgressTimerId = 11;
const UINT FirstTickMs = 100;
const UINT NextTickMs = 50;

UINT_PTR ProgressTimer; // what SetTimer returned; 0 = no timer running
// Set while the cancel question is on screen: its message loop keeps
// delivering ticks. Left set after a confirmed cancel, so no file starts
// before the page goes.
bool CancelQuestionOpen;

void RepaintProgress()
{
    PaintProgressBar(ProgressPageWindow, nullptr);
}

// Without a timer the installation runs to its end here.
void InstallRemainingFiles(HWND page)
{
    while (InstallNextFile(page)) {
    }
    FinishInstallation();
}

INT_PTR ProgressOnInitDialog(HWND page)
{
    ProgressPageWindow = page;
    ProgressRepaint = RepaintProgress;
    ApplyPageChrome(page, ButtonCancel);
    SetButtonText(ButtonCancel, CaptionStop);
    if (StartInstallation()) {
        ProgressTimer = SetTimer(page, ProgressTimerId, FirstTickMs, nullptr);
        CancelQuestionOpen = false;
        if (!ProgressTimer)
            InstallRemainingFiles(page);
    }
    return TRUE;
}

void ProgressOnTimer(HWND page)
{
    if (!InstallRunning || CancelQuestionOpen)
        return;
    // No tick may arrive while a file is in progress (its prompts run
    // message loops).
    KillTimer(page, ProgressTimerId);
    ProgressTimer = 0;
    if (!InstallNextFile(page)) {
        FinishInstallation();
        return;
    }
    ProgressTimer = SetTimer(page, ProgressTimerId, NextTickMs, nullptr);
    if (!ProgressTimer)
        InstallRemainingFiles(page);
}

INT_PTR ProgressOnCancel(HWND page)
{
    // A second press while the question is open would stack another one.
    if (CancelQuestionOpen)
        return ConsumeCommand(page);
    CancelQuestionOpen = true;
    if (ShowMessage(GetMessageText(GroupMessages, MsgCancelInstalling), MessageYesNo) == AnswerYes) {
        ShowMessage(GetMessageText(GroupMessages, MsgNotCompleted), MessageInformation);
        PageResult = PageCancel;
        PendingViewEntry = nullptr;
        PendingLaunchEntry = nullptr;
        PendingScreenSaverEntry = nullptr;
    } else {
        CancelQuestionOpen = false;
    }
    return ConsumeCommand(page);
}

void ProgressOnDestroy(HWND page)
{
    if (ProgressTimer) {
        KillTimer(page, ProgressTimerId);
        ProgressTimer = 0;
    }
    if (ProgressPageWindow == page) {
        ProgressPageWindow = nullptr;
        ProgressRepaint = nullptr;
    }
}

// Solid fills go through FillSolid (ExtTextOutA, ETO_OPAQUE).
void DrawBar(HDC dc, int w, int h)
{
    FillSolid(dc, 0, 0, w, h, GetSysColor(COLOR_BTNFACE));
    COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
    COLORREF highlight = GetSysColor(COLOR_BTNHIGHLIGHT);
    FillSolid(dc, 0, 0, w, 1, shadow);
    FillSolid(dc, 0, 0, 1, h, shadow);
    FillSolid(dc, w - 1, 0, 1, h, highlight);
    FillSolid(dc, 0, h - 1, w, 1, highlight);
}

// Blocks half the bar's height wide, 2 pixels apart; the first one even
// at 0 percent. Every step moves `left` on, so the loop ends for any size.
void DrawBlocks(HDC dc, HBRUSH brush, int w, int h)
{
    int half = h / 2;
    int left = 1;
    int right = half + 1;
    unsigned filled = static_cast<unsigned>(w) * ProgressPercent / 100;
    do {
        RECT block = {left, 2, right, h - 2};
        FillRect(dc, &block, brush);
        left = left + half + 2;
        right = left + half;
    } while (right < w && static_cast<unsigned>(right) < filled);
}

} // namespace

void PaintProgressBar(HWND page, HDC dc)
{
    // No page: GetDC would hand out the whole screen.
    if (!page)
        return;
    HDC windowDc = nullptr;
    if (!dc) {
        windowDc = GetDC(page);
        if (!windowDc)
            return;
        dc = windowDc;
    }
    char percent[16];
    wsprintfA(percent, "%d%%", static_cast<int>(ProgressPercent));
    SetDlgItemTextA(page, IdProgressPercent, percent);

    HWND bar = GetDlgItem(page, IdProgressBar);
    RECT r;
    if (bar && GetWindowRect(bar, &r) && r.right > r.left && r.bottom > r.top) {
        int w = r.right - r.left;
        int h = r.bottom - r.top;
        POINT corner = {r.left, r.top};
        ScreenToClient(page, &corner);
        HDC memory = CreateCompatibleDC(dc);
        HBITMAP bitmap = memory ? CreateCompatibleBitmap(dc, w, h) : nullptr;
        HGDIOBJ old = bitmap ? SelectObject(memory, bitmap) : nullptr;
        if (old) {
            DrawBar(memory, w, h);
            HBRUSH brush = CreateSolidBrush(GetSysColor(COLOR_ACTIVECAPTION));
            if (brush) {
                DrawBlocks(memory, brush, w, h);
                BitBlt(dc, corner.x, corner.y, w, h, memory, 0, 0, SRCCOPY);
                DeleteObject(brush);
            }
            SelectObject(memory, old);
        }
        if (bitmap)
            DeleteObject(bitmap);
        if (memory)
            DeleteDC(memory);
    }
    if (windowDc)
        ReleaseDC(page, windowDc);
}

INT_PTR CALLBACK ProgressPageProc(HWND page, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: return ProgressOnInitDialog(page);
    case WM_TIMER: ProgressOnTimer(page); break;
    case WM_COMMAND:
        // Alone, the page leaves Cancel to the frame's quiet cancel.
        if (LOWORD(wParam) == IdCancel && StartPage == WizardMode)
            return ProgressOnCancel(page);
        break;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(page, &paint);
        if (dc)
            PaintProgressBar(page, dc);
        EndPaint(page, &paint);
        break;
    }
    case WM_DESTROY: ProgressOnDestroy(page); break;
    default: break;
    }
    return DefaultPageHandler(message, wParam);
}

} // namespace zevrin
