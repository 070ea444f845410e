// The frame dialog around the pages: placement over the background, the
// panel and picture, and the turning of its buttons into page results.
// Also the drawing helpers it shares with the background window.
#include <windows.h>

#include "../../shared/state.h"
#include "../../shared/win32/window_state.h"
#include "../../shared/messages.h"
#include "pages.h"

namespace zevrin {

namespace {

// Centred on the screen's centre, but never off the background's left or
// top edge, and off its right or bottom edge only when it cannot fit.
int PlaceAlong(int centre, int size, int room)
{
    int position = centre - size / 2;
    int furthest = room - size;
    if (position < 0 || furthest < 0)
        return 0;
    return position < furthest ? position : furthest;
}

// Enter reaches the frame as Next even while Next is greyed out (the
// dialog manager falls back to IDOK), so a disabled button never acts.
bool ButtonActs(HWND dialog, int id)
{
    HWND button = GetDlgItem(dialog, id);
    return !button || IsWindowEnabled(button);
}

void CancelWizard()
{
    if (!(ButtonState & ButtonQuietCancel)) {
        if (ShowMessage(GetMessageText(GroupMessages, MsgCancelWizard), MessageYesNo) != AnswerYes)
            return;
        ShowMessage(GetMessageText(GroupMessages, MsgNotCompleted), MessageInformation);
        PendingViewEntry = nullptr;
        PendingLaunchEntry = nullptr;
        PendingScreenSaverEntry = nullptr;
    }
    PageResult = PageCancel;
}

INT_PTR FrameOnInitDialog(HWND dialog)
{
    RECT background = {}, own = {};
    GetWindowRect(BackgroundWindow, &background);
    GetWindowRect(dialog, &own);
    int x = PlaceAlong(ScreenCentreX, own.right - own.left, background.right - background.left);
    int y = PlaceAlong(ScreenCentreY, own.bottom - own.top, background.bottom - background.top);
    SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ApplyDialogFont(dialog);
    // A child window's caption is otherwise drawn inactive.
    PostMessageA(dialog, WM_NCACTIVATE, 1, 0);
    return TRUE;
}

INT_PTR FrameOnPaint(HWND dialog)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(dialog, &paint);
    if (dc) {
        DrawControlEdge(dialog, dc, IdFramePanel, true);
        if (FrameBitmap)
            DrawStoredBitmap(dialog, dc, IdFramePicture, FrameBitmap);
    }
    EndPaint(dialog, &paint);
    return DefaultPageHandler(WM_PAINT, 0);
}

INT_PTR FrameOnCommand(HWND dialog, WPARAM wParam, LPARAM lParam)
{
    // The page sees every command first and may consume it.
    if (CurrentPageWindow && SendMessageA(CurrentPageWindow, WM_COMMAND, wParam, lParam))
        return DefaultPageHandler(WM_COMMAND, wParam);
    int id = LOWORD(wParam);
    if (!ButtonActs(dialog, id))
        return DefaultPageHandler(WM_COMMAND, wParam);
    switch (id) {
    case IdNext: PageResult = PageNext; break;
    case IdBack: PageResult = PageBack; break;
    case IdCancel: CancelWizard(); break;
    default: break;
    }
    return DefaultPageHandler(WM_COMMAND, wParam);
}

INT_PTR FrameOnSysCommand(WPARAM wParam)
{
    switch (wParam & 0xFFF0) {
    case SC_MINIMIZE: ShowWindow(BackgroundWindow, SW_MINIMIZE); break;
    case SC_CLOSE: PageResult = PageCancel; break;
    default: break;
    }
    return DefaultPageHandler(WM_SYSCOMMAND, wParam);
}

} // namespace

INT_PTR CALLBACK FrameDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: return FrameOnInitDialog(dialog);
    case WM_PAINT: return FrameOnPaint(dialog);
    case WM_COMMAND: return FrameOnCommand(dialog, wParam, lParam);
    case WM_SYSCOMMAND: return FrameOnSysCommand(wParam);
    default: return DefaultPageHandler(message, wParam);
    }
}

void FillSolid(HDC dc, int x, int y, int width, int height, COLORREF colour)
{
    if (width <= 0 || height <= 0)
        return;
    RECT r = {x, y, x + width, y + height};
    SetBkColor(dc, colour);
    ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
}

void DrawSunkenEdge(HDC dc, const RECT& r, bool fill)
{
    int w = r.right - r.left;
    int h = r.bottom - r.top;
    if (fill)
        FillSolid(dc, r.left + 1, r.top + 1, w - 2, h - 2, GetSysColor(COLOR_BTNFACE));
    COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
    FillSolid(dc, r.left, r.top, w - 1, 1, shadow);
    FillSolid(dc, r.left, r.top, 1, h - 1, shadow);
    COLORREF highlight = GetSysColor(COLOR_BTNHIGHLIGHT);
    FillSolid(dc, r.left, r.bottom - 1, w, 1, highlight);
    FillSolid(dc, r.right - 1, r.top, 1, h, highlight);
}

void DrawControlEdge(HWND window, HDC dc, int id, bool fill)
{
    HWND control = GetDlgItem(window, id);
    if (!control)
        return;
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
    DrawSunkenEdge(dc, r, fill);
}

HPALETTE CreateBitmapPalette(HDC dc, const uint8_t* bitmap)
{
    StoredBitmapView view;
    if (!ReadStoredBitmap(bitmap, BlockSize(bitmap), &view))
        return nullptr;
    return CreateBitmapPalette(dc, view);
}

HPALETTE CreateBitmapPalette(HDC dc, const StoredBitmapView& view)
{
    if (view.bitCount != 8)
        return nullptr;
    alignas(BITMAPINFOHEADER) uint8_t info[BitmapInfoBlockSize];
    BuildBitmapInfo(view, info);
    const uint8_t* table = info + BitmapInfoHeaderSize;

    struct {
        WORD version;
        WORD count;
        PALETTEENTRY entries[256];
    } palette;
    palette.version = 0x300;
    palette.count = 256;
    for (int i = 0; i < 256; ++i) {
        PALETTEENTRY& entry = palette.entries[i];
        entry.peBlue = table[4 * i];
        entry.peGreen = table[4 * i + 1];
        entry.peRed = table[4 * i + 2];
        // The ends of the table are where the system keeps its own colours.
        entry.peFlags = i < 10 || i > 245 ? PC_NOCOLLAPSE : 0;
    }
    int depth = GetDeviceCaps(dc, PLANES) * GetDeviceCaps(dc, BITSPIXEL);
    if (depth == 8 && (GetDeviceCaps(dc, RASTERCAPS) & RC_PALETTE)) {
        GetSystemPaletteEntries(dc, 0, 10, palette.entries);
        GetSystemPaletteEntries(dc, 246, 10, palette.entries + 246);
    }
    return CreatePalette(reinterpret_cast<LOGPALETTE*>(&palette));
}

void CopyStoredBitmap(HDC dc, int x, int y, const StoredBitmapView& view)
{
    alignas(BITMAPINFOHEADER) uint8_t info[BitmapInfoBlockSize];
    BuildBitmapInfo(view, info);
    // Positive sizes on both sides: a top-down picture is said so by its
    // header's negative height and comes out upright, not mirrored.
    StretchDIBits(dc, x, y, view.width, view.rows, 0, 0, view.width, view.rows, view.bits,
                  reinterpret_cast<const BITMAPINFO*>(info), DIB_RGB_COLORS, SRCCOPY);
}

void DrawStoredBitmap(HWND window, HDC dc, int id, const uint8_t* bitmap)
{
    HWND control = GetDlgItem(window, id);
    if (!control)
        return;
    RECT r;
    GetWindowRect(control, &r);
    int w = r.right - r.left;
    int h = r.bottom - r.top;
    POINT corner = {r.left, r.top};
    ScreenToClient(window, &corner);
    IntersectClipRect(dc, corner.x, corner.y, corner.x + w, corner.y + h);

    StoredBitmapView view;
    if (!bitmap || !ReadStoredBitmap(bitmap, BlockSize(bitmap), &view))
        return;
    HPALETTE palette = CreateBitmapPalette(dc, view);
    HPALETTE previous = nullptr;
    if (palette) {
        previous = SelectPalette(dc, palette, FALSE);
        RealizePalette(dc);
    }
    // Centred; a picture larger than the control is clipped to it.
    int x = corner.x + (w - view.width) / 2;
    int y = corner.y + (h - view.rows) / 2;
    CopyStoredBitmap(dc, x, y, view);
    if (palette) {
        SelectPalette(dc, previous, TRUE);
        DeleteObject(palette);
    }
    RECT edge = {x, y, x + view.width, y + view.rows};
    DrawSunkenEdge(dc, edge, false);
}

} // namespace zevrin
