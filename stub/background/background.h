// The top-level background window: full-screen gradient or tiled picture
// with the shadowed title, or a plain captioned window around the frame.
#pragma once

#include <windows.h>

#include <cstdint>

namespace zevrin {

extern const char BackgroundClassName[]; // "ZevrinClass"

LRESULT CALLBACK BackgroundWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void PaintBackground(HWND window, const uint8_t* bitmap, const char* title, const uint8_t* style);

} // namespace zevrin
