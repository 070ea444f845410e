// What the tests of the pages on real windows share: the default templates
// compiled into the test program, a message pump, a 32-bit drawing surface,
// and a fixture that makes the background and frame windows as start-up
// does and takes them down again.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "../../authoring/templates/controls.h"
#include "../../stub/background/win32/background.h"
#include "../../stub/pages/win32/pages.h"
#include "../../stub/shared/message_script.h"
#include "../../stub/shared/messages.h"
#include "../../stub/shared/state.h"
#include "../../stub/shared/win32/window_state.h"
#include "message_groups.h"

namespace zevrin {

// A default template, compiled into the test program as a resource.
inline const DLGTEMPLATE* Template(int number)
{
    HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(TEMPLATE_RESOURCE_BASE + number), RT_DIALOG);
    return resource ? static_cast<const DLGTEMPLATE*>(LockResource(LoadResource(nullptr, resource))) : nullptr;
}

// Runs the message loop until `done` holds or `ms` milliseconds passed;
// `done` is asked after every message, as a page's loop asks PageResult.
// Quit messages (the background's WM_DESTROY posts one) are taken back.
inline bool PumpUntil(const std::function<bool()>& done, DWORD ms)
{
    DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT)
                continue;
            TranslateMessage(&message);
            DispatchMessageA(&message);
            if (done())
                return true;
        }
        if (done())
            return true;
        if (GetTickCount() - start >= ms)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

inline void Pump(DWORD ms)
{
    PumpUntil([] { return false; }, ms);
}

// What surfaces start out as: a colour no drawing here produces.
const COLORREF Paper = RGB(10, 20, 30);

// A 32-bit top-down bitmap in a memory device context.
class Surface {
public:
    Surface(int width, int height) : width_(width), height_(height)
    {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height; // top-down: row y at pixels_ + y*width
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        bitmap_ = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        pixels_ = static_cast<uint32_t*>(bits);
        dc_ = CreateCompatibleDC(nullptr);
        old_ = SelectObject(dc_, bitmap_);
        Fill(Paper);
    }
    ~Surface()
    {
        SelectObject(dc_, old_);
        DeleteDC(dc_);
        DeleteObject(bitmap_);
    }
    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;

    HDC Dc() const { return dc_; }
    void Fill(COLORREF colour)
    {
        GdiFlush();
        for (int i = 0; i < width_ * height_; ++i)
            pixels_[i] = Pixel(colour);
    }
    // As a COLORREF.
    COLORREF At(int x, int y) const
    {
        GdiFlush();
        uint32_t p = pixels_[y * width_ + x];
        return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }
    int CountOf(COLORREF colour) const
    {
        int n = 0;
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x)
                n += At(x, y) == colour;
        return n;
    }
    // Pixels drawn on: no longer Paper.
    int Touched() const { return width_ * height_ - CountOf(Paper); }

private:
    static uint32_t Pixel(COLORREF c) { return uint32_t(GetRValue(c)) << 16 | uint32_t(GetGValue(c)) << 8 | GetBValue(c); }
    int width_, height_;
    HBITMAP bitmap_ = nullptr;
    uint32_t* pixels_ = nullptr;
    HDC dc_ = nullptr;
    HGDIOBJ old_ = nullptr;
};

// The background and frame windows, a page in the frame, and the program
// state they read. A test fixture derives from it, loads its texts in its
// SetUp and frees what else it set in its TearDown, each calling this one's.
class PageFixture : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ModuleInstance = GetModuleHandleA(nullptr);
        if (!FaceBrush)
            CreateFaceBrush();
        WNDCLASSA windowClass = {};
        windowClass.style = CS_HREDRAW | CS_VREDRAW;
        windowClass.lpfnWndProc = BackgroundWndProc;
        windowClass.hInstance = ModuleInstance;
        windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
        windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
        windowClass.lpszClassName = BackgroundClassName;
        RegisterClassA(&windowClass);
    }

    void SetUp() override
    {
        ScriptMessageAnswers({});
        HeaderFlags = 0;
        zevrin::StartPage = WizardMode;
        PageResult = PageRunning;
        ScreenWidth = GetSystemMetrics(SM_CXSCREEN);
        ScreenHeight = GetSystemMetrics(SM_CYSCREEN);
        ScreenCentreX = ScreenWidth / 2;
        ScreenCentreY = ScreenHeight / 2;
    }

    // May run again within a test, to start over with new windows.
    void TearDown() override
    {
        if (page_)
            DestroyWindow(page_);
        if (FrameDialog)
            DestroyWindow(FrameDialog);
        if (BackgroundWindow)
            DestroyWindow(BackgroundWindow);
        page_ = FrameDialog = BackgroundWindow = CurrentPageWindow = nullptr;
        Pump(0); // the background's quit message, and anything left
        for (int i = 0; i < MessageGroupCount; ++i)
            FreeAndClear(&MessageGroups[i]);
        PendingViewEntry = PendingLaunchEntry = PendingScreenSaverEntry = nullptr;
    }

    // As start-up makes them: background first, then the frame from
    // template 0 or 1, which places itself.
    void OpenWindows(bool fullScreen, int width = 0, int height = 0)
    {
        HeaderFlags = fullScreen ? uint32_t(FlagFullScreen) : 0u;
        DWORD style = fullScreen ? WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN : WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
        BackgroundWindow = CreateWindowExA(0, BackgroundClassName, "", style, 0, 0, width ? width : ScreenWidth,
                                           height ? height : ScreenHeight, nullptr, nullptr, ModuleInstance, nullptr);
        ASSERT_NE(BackgroundWindow, nullptr);
        FrameDialog = CreateDialogIndirectParamA(ModuleInstance, Template(fullScreen ? TEMPLATE_FRAME_FULL : TEMPLATE_FRAME_WINDOWED),
                                                 BackgroundWindow, FrameDialogProc, 0);
        ASSERT_NE(FrameDialog, nullptr);
    }

    HWND OpenPage(int templateNumber, DLGPROC procedure)
    {
        page_ = CreateDialogIndirectParamA(ModuleInstance, Template(templateNumber), FrameDialog, procedure, 0);
        return page_;
    }

    void ClosePage()
    {
        DestroyWindow(page_);
        page_ = CurrentPageWindow = nullptr;
    }

    static void Click(int id)
    {
        SendMessageA(FrameDialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(FrameDialog, id)));
    }

    static std::string TextOf(HWND window)
    {
        char text[2048] = "";
        GetWindowTextA(window, text, sizeof text);
        return text;
    }

    static std::string ItemText(HWND dialog, int id) { return TextOf(GetDlgItem(dialog, id)); }

    // A frame button.
    static bool Enabled(int id) { return IsWindowEnabled(GetDlgItem(FrameDialog, id)) != FALSE; }

    // Rectangle of a control in its dialog's client coordinates.
    static RECT Place(HWND dialog, int id)
    {
        RECT r;
        GetWindowRect(GetDlgItem(dialog, id), &r);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
        return r;
    }

    static std::vector<std::string> ShownTexts()
    {
        std::vector<std::string> texts;
        for (const ShownMessage& shown : ShownMessages())
            texts.push_back(shown.text);
        return texts;
    }

    HWND page_ = nullptr;
};

} // namespace zevrin
