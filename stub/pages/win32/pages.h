// The wizard's pages and the frame dialog that hosts them.
#pragma once

#include <windows.h>

#include <cstdint>

#include "../stored_bitmap.h"

namespace zevrin {

// Control identifiers shared by the package's templates.
enum : int {
    IdNext = 1,
    IdCancel = 2,
    IdPageText0 = 1000, // 1000..1003: texts 1..4 of the page's group
    IdPlaceholder = 1006, // pages are moved to its top-left corner
    IdBack = 1007,
    IdFramePicture = 1011,
    IdFramePanel = 1012,
};

// --- dialog templates ---
// A fresh 16 KB moveable block holding template `number` and whatever
// follows it in the blob; null when it cannot be had or the blob does not
// hold that template.
void* LoadTemplate(unsigned number);
void FreeTemplate(void* address);
// True when `dialog`, made from template `templateNumber`, has every
// control of ControlsNeeded.
bool HasNeededControls(HWND dialog, unsigned templateNumber);

// --- chrome shared by every page ---
void ApplyPageChrome(HWND page, unsigned state);
void SetPageButtons(unsigned state);
// which: ButtonBack, ButtonNext or ButtonCancel; caption = group 7, index.
void SetButtonText(unsigned which, unsigned index);
INT_PTR DefaultPageHandler(UINT message, WPARAM wParam);
INT_PTR ConsumeCommand(HWND page);
// One message of a page's loop, with the frame's and the page's keyboard
// navigation.
void DispatchPageMessage(HWND page, MSG* message);
void ApplyDialogFont(HWND dialog);
void CreateFaceBrush();
// Group 6, index `error`, with "%s" filled from ErrorSubject.
void FormatErrorText(char* destination, unsigned capacity, int error);

// --- page procedures (the sequencer's page table) ---
INT_PTR CALLBACK WelcomePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK InfoPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK DirectoryPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ReadyPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ProgressPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK FinishPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK EndPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

// --- finish page ---
// Test hooks: the restart (ExitWindowsEx), and opening the file to view
// (ViewInstalledFile of association.h).
typedef BOOL(WINAPI* ExitWindowsCall)(UINT, DWORD);
extern ExitWindowsCall ExitWindowsHook;
typedef void (*ViewFileCall)();
extern ViewFileCall ViewInstalledFileHook;

// Percent text and block bar of the progress page, in `dc` or (null) the
// page's own device context.
void PaintProgressBar(HWND page, HDC dc);
// --- directory page ---
// Free space of InstallDir's drive into control 1019, the size of every
// packaged file in whole clusters into 1016, both in megabytes.
void UpdateSpaceTexts(HWND page);
// The folder browser (template 7), starting at `path`; true when the user
// confirmed a folder, which is then in `path` (PathSize bytes).
bool BrowseForFolder(HWND owner, char* path);

// --- frame dialog and drawing helpers shared with the background ---
INT_PTR CALLBACK FrameDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
void FillSolid(HDC dc, int x, int y, int width, int height, COLORREF colour);
void DrawSunkenEdge(HDC dc, const RECT& r, bool fill);
void DrawControlEdge(HWND window, HDC dc, int id, bool fill);
// `bitmap` is a header buffer (its size is its BlockSize) or null; a record
// that ReadStoredBitmap refuses is not drawn and makes no palette.
HPALETTE CreateBitmapPalette(HDC dc, const uint8_t* bitmap);
void DrawStoredBitmap(HWND window, HDC dc, int id, const uint8_t* bitmap);
// The same for a record already checked.
HPALETTE CreateBitmapPalette(HDC dc, const StoredBitmapView& view);
// Copies a checked picture 1 : 1, upright, its top-left corner at x, y.
void CopyStoredBitmap(HDC dc, int x, int y, const StoredBitmapView& view);

} // namespace zevrin
