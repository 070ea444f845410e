// The background window. In full-screen mode it paints the package's
// picture as tiles, or the blue gradient, under the shadowed title; in
// windowed mode it is only the caption around the frame dialog. It relays
// activation and window commands to the frame dialog, and closing it ends
// the wizard rather than the window.
#include <windows.h>

#include <cstring>

#include "../../pages/win32/pages.h"
#include "../../shared/byte_cursor.h"
#include "../../shared/state.h"
#include "../../shared/win32/shown_text.h"
#include "../../shared/win32/window_state.h"
#include "background.h"
#include "../gradient.h"

namespace zevrin {

const char BackgroundClassName[] = "ZevrinClass";

namespace {

const int ShadowOffset = 14;
const int TitleOffset = 10;

// A palette display would map the dithered blues back onto its few
// colours, so it gets solid rows; so does NT 4.
bool UseSolidRows(HDC dc)
{
    return GetDeviceCaps(dc, PLANES) * GetDeviceCaps(dc, BITSPIXEL) <= 8 || IsWindowsNT4;
}

void PaintSolidRows(HDC dc, const RECT& client, const RECT& paint)
{
    int height = client.bottom - client.top;
    HBRUSH brush = nullptr;
    HGDIOBJ original = nullptr;
    uint32_t colour = 0;
    for (int y = paint.top; y < paint.bottom; ++y) {
        uint32_t wanted = GradientColour(y - client.top, height);
        if (!brush || wanted != colour) {
            HBRUSH next = CreateSolidBrush(wanted);
            if (!next)
                continue;
            HGDIOBJ replaced = SelectObject(dc, next);
            if (brush)
                DeleteObject(replaced);
            else
                original = replaced;
            brush = next;
            colour = wanted;
        }
        PatBlt(dc, paint.left, y, paint.right - paint.left, 1, PATCOPY);
    }
    if (brush) {
        SelectObject(dc, original);
        DeleteObject(brush);
    }
}

void PaintDitheredBands(HDC dc, const RECT& client, const RECT& paint)
{
    int height = client.bottom - client.top;
    alignas(BITMAPINFOHEADER) uint8_t pattern[DitherPatternSize];
    for (int top = 0; top < height; top += GradientBandRows) {
        int y = client.top + top;
        if (y + GradientBandRows <= paint.top || y >= paint.bottom)
            continue;
        BuildDitherPattern(top, height, pattern);
        HBRUSH brush = CreateDIBPatternBrushPt(pattern, DIB_RGB_COLORS);
        if (!brush)
            continue;
        HGDIOBJ previous = SelectObject(dc, brush);
        PatBlt(dc, client.left, y, client.right - client.left, GradientBandRows, PATCOPY);
        SelectObject(dc, previous);
        DeleteObject(brush);
    }
}

LRESULT BackgroundOnDestroy(HWND window, WPARAM wParam, LPARAM lParam)
{
    PostQuitMessage(0);
    return DefWindowProcA(window, WM_DESTROY, wParam, lParam);
}

LRESULT BackgroundOnPaint(HWND window, WPARAM wParam, LPARAM lParam)
{
    if (!(HeaderFlags & FlagFullScreen) || IsIconic(window))
        return DefWindowProcA(window, WM_PAINT, wParam, lParam);
    PaintBackground(window, BackgroundBitmap, BackgroundTitle, TitleStyle);
    if (FrameDialog)
        RedrawWindow(FrameDialog, nullptr, nullptr, RDW_FRAME);
    return 0;
}

LRESULT BackgroundOnActivateApp(HWND window, WPARAM wParam, LPARAM lParam)
{
    // The frame's caption follows the application's activation.
    if (FrameDialog)
        PostMessageA(FrameDialog, WM_NCACTIVATE, wParam, 0);
    return DefWindowProcA(window, WM_ACTIVATEAPP, wParam, lParam);
}

LRESULT BackgroundOnSysCommand(HWND window, WPARAM wParam, LPARAM lParam)
{
    switch (wParam & 0xFFF0) {
    case SC_MAXIMIZE:
    case SC_RESTORE:
        if (FrameDialog)
            ShowWindow(FrameDialog, SW_SHOWNORMAL);
        break;
    case SC_CLOSE:
        // The window stays; the sequencer ends the wizard.
        PageResult = PageCancel;
        return 0;
    default:
        break;
    }
    return DefWindowProcA(window, WM_SYSCOMMAND, wParam, lParam);
}

} // namespace

LRESULT CALLBACK BackgroundWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DESTROY: return BackgroundOnDestroy(window, wParam, lParam);
    case WM_PAINT: return BackgroundOnPaint(window, wParam, lParam);
    case WM_ACTIVATEAPP: return BackgroundOnActivateApp(window, wParam, lParam);
    case WM_SYSCOMMAND: return BackgroundOnSysCommand(window, wParam, lParam);
    default: return DefWindowProcA(window, message, wParam, lParam);
    }
}

void PaintBackground(HWND window, const uint8_t* bitmap, const char* title, const uint8_t* style)
{
    RECT client;
    GetClientRect(window, &client);
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (dc) {
        StoredBitmapView view;
        if (bitmap && ReadStoredBitmap(bitmap, BlockSize(bitmap), &view))
            PaintTiles(dc, client, paint.rcPaint, view);
        else
            PaintGradient(dc, client, paint.rcPaint, UseSolidRows(dc));
        DrawTitle(dc, title, style);
    }
    EndPaint(window, &paint);
}

void PaintGradient(HDC dc, const RECT& client, const RECT& paint, bool solidRows)
{
    if (client.bottom <= client.top)
        return;
    if (solidRows)
        PaintSolidRows(dc, client, paint);
    else
        PaintDitheredBands(dc, client, paint);
}

void PaintTiles(HDC dc, const RECT& client, const RECT& paint, const StoredBitmapView& view)
{
    HPALETTE palette = CreateBitmapPalette(dc, view);
    HPALETTE previous = nullptr;
    if (palette) {
        previous = SelectPalette(dc, palette, FALSE);
        RealizePalette(dc);
    }
    // Tiles from the client's top-left corner; only those that meet the
    // area to paint are drawn.
    for (int y = client.top; y < client.bottom; y += view.rows) {
        if (y + view.rows <= paint.top || y >= paint.bottom)
            continue;
        for (int x = client.left; x < client.right; x += view.width) {
            if (x + view.width <= paint.left || x >= paint.right)
                continue;
            CopyStoredBitmap(dc, x, y, view);
        }
    }
    if (palette) {
        SelectPalette(dc, previous, TRUE);
        DeleteObject(palette);
    }
}

void DrawTitle(HDC dc, const char* title, const uint8_t* style)
{
    if (!title || !*title || !style)
        return;
    // The header reader pads a short record to its full size.
    ByteCursor in(style, TitleStyleSize);
    uint32_t shadowColour = in.U32();
    uint32_t textColour = in.U32();
    LOGFONTA description;
    const uint8_t* fontBytes = in.Bytes(sizeof description);
    if (!fontBytes)
        return;
    std::memcpy(&description, fontBytes, sizeof description);
    description.lfFaceName[LF_FACESIZE - 1] = 0;
    HFONT font = CreateFontIndirectA(&description);
    HGDIOBJ previous = font ? SelectObject(dc, font) : nullptr;
    SetBkMode(dc, TRANSPARENT);
    RECT area = {ShadowOffset, ShadowOffset, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SetTextColor(dc, shadowColour);
    DrawTextA(dc, title, ShownLength(title), &area, DT_NOPREFIX | DT_NOCLIP);
    area.left = area.top = TitleOffset;
    SetTextColor(dc, textColour);
    DrawTextA(dc, title, ShownLength(title), &area, DT_NOPREFIX | DT_NOCLIP);
    if (font) {
        SelectObject(dc, previous);
        DeleteObject(font);
    }
}

} // namespace zevrin
