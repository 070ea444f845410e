// Package texts handed to the platform: cut to a length it handles (a
// message box with tens of thousands of characters faults inside the
// platform's own code).
#pragma once

#include <windows.h>

#include "../messages.h"

namespace zevrin {

// SetWindowTextA with at most `limit` characters of `text`.
void SetShownText(HWND window, const char* text, unsigned limit = MaxShownText);
void SetShownItemText(HWND dialog, int id, const char* text, unsigned limit = MaxShownText);

// A copy of at most `limit` characters: `text` itself when it is short
// enough, else in `scratch` when it fits there, else in a block of its own
// that the caller frees through `owned` (null otherwise).
const char* BoundedText(const char* text, unsigned limit, char* scratch, unsigned scratchSize, char** owned);

// Characters of `text` that are shown: its length, at most `limit`.
int ShownLength(const char* text, unsigned limit = MaxShownText);

} // namespace zevrin
