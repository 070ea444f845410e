// The top-level background window: full-screen gradient or tiled picture
// with the shadowed title, or a plain captioned window around the frame.
#pragma once

#include <windows.h>

#include <cstdint>

#include "../../pages/stored_bitmap.h"

namespace zevrin {

extern const char BackgroundClassName[]; // "ZevrinClass"

LRESULT CALLBACK BackgroundWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// bitmap: a header buffer (its size is its BlockSize) or null; a damaged
// one is skipped and the gradient painted instead. style: null or the
// 68-byte title-style record (shadow colour, text colour, LOGFONTA).
void PaintBackground(HWND window, const uint8_t* bitmap, const char* title, const uint8_t* style);

// The steps of PaintBackground, for any device context. `paint` is the
// area that needs painting; `client` the whole client area.
// solidRows: one brush per row instead of dithered 8-row bands (for
// palette displays and NT 4).
void PaintGradient(HDC dc, const RECT& client, const RECT& paint, bool solidRows);
void PaintTiles(HDC dc, const RECT& client, const RECT& paint, const StoredBitmapView& view);
void DrawTitle(HDC dc, const char* title, const uint8_t* style);

} // namespace zevrin
