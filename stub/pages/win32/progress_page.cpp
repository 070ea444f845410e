// The progress page (page 4): drives the installation on its timer, so the
// window stays responsive, and draws the block progress bar. Packages
// made for it install files in time slices; older ones one file a tick.
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

// Timed pacing: files are installed for this long, then the page goes back
// to its message loop. About a frame: the bar and Cancel keep up, and the
// loop's own cost stays small beside the files'.
const DWORD SliceMs = 25;
// Inside one long file the page's messages are let through this often.
const DWORD PulseMs = 30;
// The next slice, when nothing else waits: a posted message comes back at
// once, where even the shortest timer waits a clock tick.
const UINT ContinueMessage = WM_APP + 11;

UINT_PTR ProgressTimer; // what SetTimer returned; 0 = no timer running
// Set while the cancel question is on screen: its message loop keeps
// delivering ticks. Left set after a confirmed cancel, so no file starts
// before the page goes.
bool CancelQuestionOpen;
// Set while files are being installed: a message loop run inside a file
// (a prompt, a pulse) must not start another one.
bool TurnRunning;
DWORD LastPulse; // when the page's messages last ran

void RepaintProgress()
{
    PaintProgressBar(ProgressPageWindow, nullptr);
}

// Inside a long file: the messages waiting now (paint, input, Cancel and
// its question), as the page's own loop would handle them. A quit is left
// for the outer loop. False once the installation is being given up.
bool PulseProgress()
{
    DWORD now = GetTickCount();
    if (now - LastPulse < PulseMs)
        return PageResult == PageRunning;
    HWND page = ProgressPageWindow;
    FlushProgressPath();
    MSG message;
    // Bounded: what arrives while these are handled waits for the next pulse.
    for (int i = 0; i < 64 && page && PageResult == PageRunning; ++i) {
        if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            break;
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        DispatchPageMessage(page, &message);
    }
    LastPulse = GetTickCount();
    return PageResult == PageRunning;
}

void EndInstallation()
{
    // Alone, the page stays with the last file's path (or the failed one).
    FlushProgressPath();
    // A confirmed Cancel inside a file: the user gave the installation up,
    // and nothing follows (as when Cancel comes between two files).
    if (PageResult == PageCancel && ErrorCode == 0)
        return;
    FinishInstallation();
}

// Without a timer the installation runs to its end here.
void InstallRemainingFiles(HWND page)
{
    TurnRunning = true;
    while (InstallNextFile(page)) {
    }
    TurnRunning = false;
    EndInstallation();
}

// The next turn: 50 ms on for one file a tick; at once for timed pacing,
// unless input or painting waits, which a posted message would overtake.
void ScheduleTurn(HWND page)
{
    if (TimedPacing()) {
        // What the files just changed is painted now rather than after
        // the installation.
        FlushProgressPath();
        RedrawWindow(page, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        if (!HIWORD(GetQueueStatus(QS_INPUT | QS_PAINT)) && PostMessageA(page, ContinueMessage, 0, 0))
            return;
        ProgressTimer = SetTimer(page, ProgressTimerId, USER_TIMER_MINIMUM, nullptr);
    } else {
        ProgressTimer = SetTimer(page, ProgressTimerId, NextTickMs, nullptr);
    }
    if (!ProgressTimer)
        InstallRemainingFiles(page);
}

INT_PTR ProgressOnInitDialog(HWND page)
{
    ProgressPageWindow = page;
    ProgressRepaint = RepaintProgress;
    ProgressPulse = PulseProgress;
    ApplyPageChrome(page, ButtonCancel);
    SetButtonText(ButtonCancel, CaptionStop);
    TurnRunning = false;
    if (StartInstallation()) {
        // A tick comes after the page has painted: one file a tick waits
        // as it always did; time slices start as soon as they may.
        ProgressTimer = SetTimer(page, ProgressTimerId, TimedPacing() ? USER_TIMER_MINIMUM : FirstTickMs, nullptr);
        CancelQuestionOpen = false;
        if (!ProgressTimer)
            InstallRemainingFiles(page);
    }
    return TRUE;
}

// One turn: a file, or files for a slice of time.
void ProgressOnTick(HWND page, bool posted)
{
    if (!InstallRunning || CancelQuestionOpen || TurnRunning) {
        // A posted turn that cannot run now must not be lost: ticks go on
        // until it can.
        if (posted && InstallRunning && !ProgressTimer)
            ProgressTimer = SetTimer(page, ProgressTimerId, NextTickMs, nullptr);
        return;
    }
    // No tick may arrive while a file is in progress (its prompts run
    // message loops).
    if (ProgressTimer) {
        KillTimer(page, ProgressTimerId);
        ProgressTimer = 0;
    }
    TurnRunning = true;
    DWORD start = GetTickCount();
    LastPulse = start;
    bool more;
    do {
        more = InstallNextFile(page) != 0;
    } while (more && TimedPacing() && !CancelQuestionOpen && PageResult == PageRunning &&
             GetTickCount() - start < SliceMs);
    TurnRunning = false;
    if (!more) {
        EndInstallation();
        return;
    }
    ScheduleTurn(page);
}

INT_PTR ProgressOnCancel(HWND page)
{
    // A second press while the question is open would stack another one.
    if (CancelQuestionOpen)
        return ConsumeCommand(page);
    CancelQuestionOpen = true;
    // The user asked: this question is shown even in a progress-only run.
    bool quietly = AnswerQuestionsQuietly;
    AnswerQuestionsQuietly = false;
    bool confirmed = ShowMessage(GetMessageText(GroupMessages, MsgCancelInstalling), MessageYesNo) == AnswerYes;
    if (confirmed && !quietly)
        ShowMessage(GetMessageText(GroupMessages, MsgNotCompleted), MessageInformation);
    AnswerQuestionsQuietly = quietly;
    if (confirmed) {
        InstallOutcome = OutcomeCancelled;
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
    // Cancelled, between files or inside one: what was installed goes.
    AbandonInstallation();
    if (ProgressPageWindow == page) {
        ProgressPageWindow = nullptr;
        ProgressRepaint = nullptr;
        ProgressPulse = nullptr;
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
    case WM_TIMER: ProgressOnTick(page, false); break;
    case ContinueMessage: ProgressOnTick(page, true); break;
    case WM_COMMAND:
        // Alone, the page leaves Cancel to the frame's quiet cancel; a
        // progress-only run asks, as the wizard does.
        if (LOWORD(wParam) == IdCancel && (StartPage == WizardMode || RunMode == RunProgressOnly))
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
