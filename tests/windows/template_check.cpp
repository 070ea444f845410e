// Checks a template blob on the real dialog manager: every template is
// loaded the way the stub loads it (its tail copied into a zeroed 16 KB
// block), turned into a dialog with CreateDialogIndirectParamA, the pages
// as children of a frame, and the folder browser's template is run through
// GetSaveFileNameA. Each control the stub uses must exist with the right
// class and visibility, and each page must fit the frame's placeholder.
//
// BLOB is a packed template blob, or a compiled .res, which is packed here
// with the authoring tool's packer.
//
//   template_check BLOB                       check; exit 1 on any failure
//   template_check BLOB --show PAGE [--full] [--hold MS]
//                                             show page 0..5 (or 7 for the
//                                             folder browser) inside the
//                                             frame with sample texts, for
//                                             screenshots
#include <windows.h>
#include <commdlg.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../../authoring/templates.h"
#include "../../authoring/templates/controls.h"

namespace {

typedef std::vector<unsigned char> Bytes;

const size_t BlockSize = 16384;
const char* const BackgroundClass = "ZevrinTemplateCheck";

HINSTANCE Module;
Bytes Blob;
int Failures;

enum Visibility { Shown, Hidden, Either };

struct Expected {
    int id;
    const char* windowClass;
    Visibility visibility;
};

const Expected FrameControls[] = {
    {IDC_NEXT, "Button", Shown},
    {IDC_CANCEL, "Button", Shown},
    {IDC_BACK, "Button", Shown},
    // Marks only: a visible static would paint over the frame's drawing.
    {IDC_PAGE_PLACEHOLDER, "Static", Hidden},
    {IDC_PICTURE, "Static", Hidden},
    {IDC_PANEL, "Static", Hidden},
};

const Expected DirectoryControls[] = {
    {IDC_TEXT1, "Static", Shown},
    {IDC_TEXT2, "Static", Shown},
    {IDC_TEXT3, "Static", Shown},
    {IDC_TEXT4, "Static", Shown},
    {IDC_FOLDER_EDIT, "Edit", Shown},
    {IDC_BROWSE, "Button", Shown},
    {IDC_SPACE_REQUIRED, "Static", Shown},
    {IDC_SPACE_REQUIRED_LABEL, "Static", Shown},
    {IDC_SPACE_FREE_LABEL, "Static", Shown},
    {IDC_SPACE_FREE, "Static", Shown},
};

const Expected InformationControls[] = {
    {IDC_TEXT1, "Edit", Shown},  // the scrolling text
    {IDC_TEXT2, "Static", Shown},
    {IDC_TEXT3, "Static", Shown},
    {IDC_TEXT4, "Static", Shown},
};

const Expected ProgressControls[] = {
    {IDC_TEXT1, "Static", Shown},
    {IDC_TEXT2, "Static", Shown},
    {IDC_TEXT3, "Static", Shown},
    {IDC_TEXT4, "Static", Shown},
    {IDC_PROGRESS_PATH, "Static", Shown},
    // The page paints the bar into this rectangle; the control must not.
    {IDC_PROGRESS_BAR, "Static", Hidden},
    {IDC_PROGRESS_PERCENT, "Static", Shown},
};

const Expected WelcomeControls[] = {
    {IDC_TEXT1, "Static", Shown},
    {IDC_TEXT2, "Static", Shown},
    {IDC_TEXT3, "Static", Shown},
    {IDC_TEXT4, "Static", Shown},
};

const Expected FinishControls[] = {
    {IDC_TEXT1, "Static", Shown},
    {IDC_TEXT2, "Static", Shown},
    {IDC_TEXT3, "Static", Shown},
    {IDC_TEXT4, "Static", Shown},
    {IDC_VIEW_BUTTON, "Button", Either},  // the page shows or hides them
    {IDC_LAUNCH_CHECK, "Button", Either},
};

const Expected BrowserControls[] = {
    {IDC_BROWSE_FOLDER, "Edit", Shown},
    {IDC_BROWSE_FOLDER_LABEL, "Static", Shown},
    {IDC_FD_DRIVES_LABEL, "Static", Shown},
    {IDC_FD_DIR_LIST, "ListBox", Shown},
    {IDC_FD_DRIVE_COMBO, "ComboBox", Shown},
    {IDC_FD_OK, "Button", Shown},
    {IDC_FD_CANCEL, "Button", Shown},
    {IDC_FD_NAME_EDIT, "Edit", Hidden},
    {IDC_FD_FILE_LIST, "ListBox", Hidden},
    {IDC_FD_TYPE_COMBO, "ComboBox", Hidden},
    {IDC_FD_DIR_TEXT, "Static", Hidden},
};

struct PageCase {
    int templateNumber;
    const char* name;
    const Expected* controls;
    size_t count;
};

#define CASE(n, name, table) {n, name, table, sizeof table / sizeof table[0]}
const PageCase Pages[] = {
    CASE(TEMPLATE_DIRECTORY, "directory page", DirectoryControls),
    CASE(TEMPLATE_INFORMATION, "information page", InformationControls),
    CASE(TEMPLATE_PROGRESS, "progress page", ProgressControls),
    CASE(TEMPLATE_WELCOME_READY, "welcome/ready page", WelcomeControls),
    CASE(TEMPLATE_FINISH, "finish page", FinishControls),
};
#undef CASE

uint32_t U32(const unsigned char* p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

bool ReadBlob(const char* path)
{
    size_t length = std::strlen(path);
    if (length > 4 && !lstrcmpiA(path + length - 4, ".res")) {
        std::vector<uint8_t> blob;
        std::string error;
        if (!BuildTemplateBlob(path, &blob, &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return false;
        }
        Blob.assign(blob.begin(), blob.end());
        return true;
    }
    FILE* file = std::fopen(path, "rb");
    if (!file)
        return false;
    unsigned char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        Blob.insert(Blob.end(), chunk, chunk + got);
    std::fclose(file);
    return true;
}

// What the stub's loader does: the template and everything behind it,
// into a fresh zeroed moveable block of 16 KB, locked.
void* LoadTemplate(int n, std::string* why)
{
    if (Blob.size() < 4 * TEMPLATE_COUNT) {
        *why = "blob shorter than its offset table";
        return nullptr;
    }
    size_t offset = U32(&Blob[4 * n]);
    if (offset < 4 * TEMPLATE_COUNT || offset >= Blob.size() || offset % 4 != 0) {
        *why = "bad offset " + std::to_string(offset);
        return nullptr;
    }
    size_t tail = Blob.size() - offset;
    if (tail > BlockSize) {
        *why = "tail of " + std::to_string(tail) + " bytes does not fit the 16384-byte block";
        return nullptr;
    }
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, BlockSize);
    void* address = block ? GlobalLock(block) : nullptr;
    if (!address) {
        *why = "out of memory";
        return nullptr;
    }
    std::memcpy(address, &Blob[offset], tail);
    return address;
}

void FreeTemplate(void* address)
{
    if (!address)
        return;
    HGLOBAL block = GlobalHandle(address);
    GlobalUnlock(block);
    GlobalFree(block);
}

INT_PTR CALLBACK TrivialProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

LRESULT CALLBACK BackgroundProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND CreateBackground(DWORD style)
{
    return CreateWindowExA(0, BackgroundClass, "Template check", style, 0, 0, 800, 600, nullptr,
                           nullptr, Module, nullptr);
}

// Problems of one template, joined for its line of output.
struct Report {
    std::string problems;
    void Add(const std::string& text) { problems += (problems.empty() ? "" : "; ") + text; }
};

void CheckControls(HWND dialog, const Expected* controls, size_t count, Report* report)
{
    for (size_t i = 0; i < count; ++i) {
        const Expected& e = controls[i];
        HWND control = GetDlgItem(dialog, e.id);
        if (!control) {
            report->Add("no control " + std::to_string(e.id));
            continue;
        }
        char name[64] = "";
        GetClassNameA(control, name, sizeof name);
        if (lstrcmpiA(name, e.windowClass) != 0)
            report->Add("control " + std::to_string(e.id) + " is of class " + name +
                        ", expected " + e.windowClass);
        bool visible = (GetWindowLongA(control, GWL_STYLE) & WS_VISIBLE) != 0;
        if (e.visibility == Shown && !visible)
            report->Add("control " + std::to_string(e.id) + " is hidden");
        if (e.visibility == Hidden && visible)
            report->Add("control " + std::to_string(e.id) + " is visible");
    }
}

RECT ClientRectOf(HWND parent, HWND control)
{
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

bool Overlap(const RECT& a, const RECT& b)
{
    RECT both;
    return IntersectRect(&both, &a, &b) != 0;
}

std::string RectText(const RECT& r)
{
    return std::to_string(r.left) + "," + std::to_string(r.top) + "-" + std::to_string(r.right) +
           "," + std::to_string(r.bottom);
}

// The buttons, the picture and the page area must not cover each other,
// and must lie inside the frame.
void CheckFrameLayout(HWND frame, Report* report)
{
    RECT client;
    GetClientRect(frame, &client);
    const int ids[] = {IDC_PAGE_PLACEHOLDER, IDC_PICTURE, IDC_BACK, IDC_NEXT, IDC_CANCEL};
    RECT rects[5];
    for (int i = 0; i < 5; ++i) {
        HWND control = GetDlgItem(frame, ids[i]);
        if (!control)
            return;  // already reported
        rects[i] = ClientRectOf(frame, control);
        RECT inside;
        if (!IntersectRect(&inside, &rects[i], &client) || !EqualRect(&inside, &rects[i]))
            report->Add("control " + std::to_string(ids[i]) + " " + RectText(rects[i]) +
                        " leaves the frame " + RectText(client));
    }
    for (int i = 0; i < 5; ++i)
        for (int j = i + 1; j < 5; ++j)
            if (Overlap(rects[i], rects[j]))
                report->Add("controls " + std::to_string(ids[i]) + " and " +
                            std::to_string(ids[j]) + " overlap");
}

// The page must be exactly the placeholder's size, and (`children`) its
// controls inside it.
void CheckPageLayout(HWND frame, int frameNumber, HWND page, bool children, Report* report)
{
    RECT placeholder = ClientRectOf(frame, GetDlgItem(frame, IDC_PAGE_PLACEHOLDER));
    RECT pageRect;
    GetWindowRect(page, &pageRect);
    int pw = pageRect.right - pageRect.left, ph = pageRect.bottom - pageRect.top;
    int qw = placeholder.right - placeholder.left, qh = placeholder.bottom - placeholder.top;
    if (pw != qw || ph != qh)
        report->Add("page is " + std::to_string(pw) + "x" + std::to_string(ph) +
                    " pixels, the placeholder of frame " + std::to_string(frameNumber) + " " +
                    std::to_string(qw) + "x" + std::to_string(qh));
    if (!children)
        return;
    RECT client;
    GetClientRect(page, &client);
    for (HWND child = GetWindow(page, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT r = ClientRectOf(page, child), inside;
        // Wine gives etched lines a static edge that makes them 2 pixels
        // longer than their template; the page clips that.
        char name[16] = "";
        GetClassNameA(child, name, sizeof name);
        if (!lstrcmpiA(name, "Static") &&
            (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ETCHEDHORZ)
            r.right -= 2;
        if (!IntersectRect(&inside, &r, &client) || !EqualRect(&inside, &r))
            report->Add("control " + std::to_string(GetDlgCtrlID(child)) + " " + RectText(r) +
                        " leaves the page " + RectText(client));
    }
}

bool Print(int n, const char* name, const Report& report)
{
    if (report.problems.empty()) {
        std::printf("template %d (%s): OK\n", n, name);
        return true;
    }
    std::printf("template %d (%s): FAIL: %s\n", n, name, report.problems.c_str());
    ++Failures;
    return false;
}

// Creates frame template `n` under a background window; null on failure
// (reported).
HWND CreateFrame(int n, HWND background, void** frameTemplate, Report* report)
{
    std::string why;
    *frameTemplate = LoadTemplate(n, &why);
    if (!*frameTemplate) {
        report->Add(why);
        return nullptr;
    }
    HWND frame = CreateDialogIndirectParamA(
        Module, static_cast<LPCDLGTEMPLATEA>(*frameTemplate), background, TrivialProc, 0);
    if (!frame)
        report->Add("CreateDialogIndirectParamA failed, error " +
                    std::to_string(GetLastError()));
    return frame;
}

void CheckFrames()
{
    const struct {
        int number;
        const char* name;
        DWORD backgroundStyle;
        bool caption;
    } frames[] = {
        {TEMPLATE_FRAME_WINDOWED, "frame, windowed", WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
         false},
        {TEMPLATE_FRAME_FULL, "frame, full screen", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, true},
    };
    for (const auto& f : frames) {
        Report report;
        HWND background = CreateBackground(f.backgroundStyle);
        void* frameTemplate = nullptr;
        HWND frame = CreateFrame(f.number, background, &frameTemplate, &report);
        if (frame) {
            LONG style = GetWindowLongA(frame, GWL_STYLE);
            // Start-up moves the frame in its parent's client area.
            if (!(style & WS_CHILD))
                report.Add("frame is not WS_CHILD");
            if (((style & WS_CAPTION) == WS_CAPTION) != f.caption)
                report.Add(f.caption ? "frame has no caption" : "frame has a caption");
            if (!(style & WS_VISIBLE))
                report.Add("frame is not WS_VISIBLE (the stub never shows it)");
            CheckControls(frame, FrameControls, sizeof FrameControls / sizeof FrameControls[0],
                          &report);
            CheckFrameLayout(frame, &report);
            DestroyWindow(frame);
        }
        FreeTemplate(frameTemplate);
        DestroyWindow(background);
        Print(f.number, f.name, report);
    }
}

void CheckPages()
{
    for (const PageCase& page : Pages) {
        Report report;
        // Each page under both frames: the placeholder must fit it in both.
        for (int frameNumber : {TEMPLATE_FRAME_WINDOWED, TEMPLATE_FRAME_FULL}) {
            HWND background = CreateBackground(WS_OVERLAPPEDWINDOW);
            void* frameTemplate = nullptr;
            Report frameReport;
            HWND frame = CreateFrame(frameNumber, background, &frameTemplate, &frameReport);
            if (!frame) {
                report.Add("no frame " + std::to_string(frameNumber) + " to put it in");
            } else {
                std::string why;
                void* pageTemplate = LoadTemplate(page.templateNumber, &why);
                HWND window = pageTemplate
                                  ? CreateDialogIndirectParamA(
                                        Module, static_cast<LPCDLGTEMPLATEA>(pageTemplate), frame,
                                        TrivialProc, 0)
                                  : nullptr;
                if (!pageTemplate) {
                    report.Add(why);
                } else if (!window) {
                    report.Add("CreateDialogIndirectParamA failed, error " +
                               std::to_string(GetLastError()));
                } else {
                    LONG style = GetWindowLongA(window, GWL_STYLE);
                    if (!(style & WS_CHILD))
                        report.Add("page is not WS_CHILD");
                    if (!(style & WS_VISIBLE))
                        report.Add("page is not WS_VISIBLE (the stub never shows it)");
                    if (!(GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_CONTROLPARENT))
                        report.Add("page is not DS_CONTROL (Tab would not reach it)");
                    if (frameNumber == TEMPLATE_FRAME_WINDOWED)
                        CheckControls(window, page.controls, page.count, &report);
                    CheckPageLayout(frame, frameNumber, window,
                                    frameNumber == TEMPLATE_FRAME_WINDOWED, &report);
                    DestroyWindow(window);
                }
                FreeTemplate(pageTemplate);
                DestroyWindow(frame);
            }
            FreeTemplate(frameTemplate);
            DestroyWindow(background);
        }
        Print(page.templateNumber, page.name, report);
    }
}

// --- folder browser ----------------------------------------------------------

const UINT_PTR BrowserTimeout = 77;
const char* const BrowserProbeFolder = "C:\\windows";
Report* BrowserReport;
bool BrowserShowOnly;
int BrowserHoldMs = 10000;

UINT_PTR CALLBACK BrowserHook(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        SetTimer(dialog, BrowserTimeout, BrowserHoldMs, nullptr);
        if (BrowserShowOnly) {
            SetWindowTextA(dialog, "Please select a directory");
            SetDlgItemTextA(dialog, IDC_BROWSE_FOLDER_LABEL, "Directory name:");
            SetDlgItemTextA(dialog, IDC_FD_DRIVES_LABEL, "Drives");
            SetDlgItemTextA(dialog, IDC_BROWSE_FOLDER, "C:\\Program Files\\Example Product");
            return 1;
        }
        CheckControls(dialog, BrowserControls, sizeof BrowserControls / sizeof BrowserControls[0],
                      BrowserReport);
        // The installer's way out: OK with a folder in 101 makes the hook
        // post command 3 with lParam 1, which ends the dialog with TRUE.
        SetDlgItemTextA(dialog, IDC_BROWSE_FOLDER, BrowserProbeFolder);
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
        return 1;
    }
    if (message == WM_COMMAND && LOWORD(wParam) == IDOK && !BrowserShowOnly) {
        char folder[MAX_PATH] = "";
        GetDlgItemTextA(dialog, IDC_BROWSE_FOLDER, folder, sizeof folder);
        if (folder[0])
            PostMessageA(dialog, WM_COMMAND, 3, 1);
        return 0;
    }
    if (message == WM_TIMER && wParam == BrowserTimeout) {
        KillTimer(dialog, BrowserTimeout);
        if (!BrowserShowOnly)
            BrowserReport->Add("the dialog did not close after OK");
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    }
    return 0;
}

bool RunBrowser(HWND owner, Report* report, bool showOnly)
{
    BrowserReport = report;
    BrowserShowOnly = showOnly;
    std::string why;
    void* browserTemplate = LoadTemplate(TEMPLATE_FOLDER_BROWSER, &why);
    if (!browserTemplate) {
        report->Add(why);
        return false;
    }
    char file[MAX_PATH] = "";
    char initial[MAX_PATH] = "C:\\";
    OPENFILENAMEA ofn;
    std::memset(&ofn, 0, sizeof ofn);
    // The structure without the Windows 2000 fields: 76 bytes on i686,
    // more where pointers are wider.
    ofn.lStructSize = offsetof(OPENFILENAMEA, lpTemplateName) + sizeof ofn.lpTemplateName;
    ofn.hwndOwner = owner;
    ofn.hInstance = static_cast<HINSTANCE>(browserTemplate);
    ofn.lpstrFilter = "*.*\0*.*\0";
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file;
    ofn.nMaxFile = sizeof file;
    ofn.lpstrInitialDir = initial;
    ofn.Flags = OFN_ENABLEHOOK | OFN_ENABLETEMPLATEHANDLE;
    ofn.lpfnHook = BrowserHook;
    BOOL result = GetSaveFileNameA(&ofn);
    if (!result && !showOnly)
        report->Add("GetSaveFileNameA returned FALSE, dialog error " +
                    std::to_string(CommDlgExtendedError()));
    FreeTemplate(browserTemplate);
    return result != 0;
}

void CheckBrowser()
{
    Report report;
    RunBrowser(nullptr, &report, false);
    Print(TEMPLATE_FOLDER_BROWSER, "folder browser", report);
}

// --- show mode: the frame with one page and sample texts -----------------

struct SampleTexts {
    int templateNumber;
    const char* heading;
    const char* texts[4];
};

const SampleTexts Samples[] = {
    {TEMPLATE_WELCOME_READY, "Welcome",
     {"Welcome to the installation of Example Product 2.0.\n\nThis wizard installs Example "
      "Product on your computer.",
      "It is strongly recommended that you close all other programs before you continue.",
      "Click Next to continue, or Exit to leave the installation.", ""}},
    {TEMPLATE_INFORMATION, "Information",
     {"Example Product 2.0\r\n\r\nWhat is new in this version:\r\n\r\n- Faster start-up.\r\n"
      "- Documents open in tabs.\r\n- A new print preview.\r\n\r\nSystem requirements:\r\n\r\n"
      "- Windows 95 or later, or Windows NT 4.0 or later.\r\n- 16 MB of memory.\r\n"
      "- 12 MB of disk space.",
      "Please read the following information before you continue.", "", ""}},
    {TEMPLATE_DIRECTORY, "Destination Folder",
     {"Setup will install Example Product in the folder below.",
      "To install into this folder, click Next. To install into another folder, type its name "
      "or click Browse.",
      "", ""}},
    {TEMPLATE_WELCOME_READY, "Ready to Install",
     {"Setup is now ready to install Example Product on your computer.",
      "The files will be installed in:\nC:\\Program Files\\Example Product",
      "Click Start to begin the installation, or Back to change the folder.", ""}},
    {TEMPLATE_PROGRESS, "Installing",
     {"Please wait while Example Product is being installed.",
      "This may take a few minutes.", "", ""}},
    {TEMPLATE_FINISH, "Installation Complete",
     {"Example Product has been installed on your computer.",
      "Click the button below to read the release notes.", "",
      "Click Exit to close the wizard."}},
};

HWND ShowFrame;
HBITMAP PictureBitmap;
unsigned ShowPercent = 45;

// A stand-in for the package's frame picture: 160 x 280 with a gradient.
HBITMAP MakePicture(HDC dc)
{
    const int w = 160, h = 280;
    BITMAPINFO info;
    std::memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap)
        return nullptr;
    DWORD* pixel = static_cast<DWORD*>(bits);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int blue = 255 - y * 160 / h, green = 40 + y * 90 / h + x * 20 / w;
            int dx = x - 80, dy = y - 110;
            if (dx * dx + dy * dy < 40 * 40)  // a disc, so centring shows
                blue = 255, green = 220;
            pixel[y * w + x] = static_cast<DWORD>(blue | green << 8 | 10 << 16);
        }
    return bitmap;
}

void SunkenEdge(HDC dc, const RECT& r, bool fill)
{
    int w = r.right - r.left, h = r.bottom - r.top;
    auto solid = [dc](int x, int y, int cx, int cy, int colour) {
        RECT box = {x, y, x + cx, y + cy};
        SetBkColor(dc, GetSysColor(colour));
        ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &box, nullptr, 0, nullptr);
    };
    if (fill)
        solid(r.left + 1, r.top + 1, w - 2, h - 2, COLOR_BTNFACE);
    solid(r.left, r.top, w - 1, 1, COLOR_BTNSHADOW);
    solid(r.left, r.top, 1, h - 1, COLOR_BTNSHADOW);
    solid(r.left, r.bottom - 1, w, 1, COLOR_BTNHIGHLIGHT);
    solid(r.right - 1, r.top, 1, h, COLOR_BTNHIGHLIGHT);
}

void ApplyFont(HWND dialog);

INT_PTR CALLBACK ShowFrameProc(HWND dialog, UINT message, WPARAM, LPARAM)
{
    if (message == WM_INITDIALOG) {
        // The frame's own placement: centred on the screen, kept inside
        // the background window.
        RECT b, d;
        GetWindowRect(GetParent(dialog), &b);
        GetWindowRect(dialog, &d);
        int dw = d.right - d.left, dh = d.bottom - d.top;
        int x = GetSystemMetrics(SM_CXSCREEN) / 2 - dw / 2, maxX = b.right - b.left - dw;
        int y = GetSystemMetrics(SM_CYSCREEN) / 2 - dh / 2, maxY = b.bottom - b.top - dh;
        x = x < 0 || maxX < 0 ? 0 : x < maxX ? x : maxX;
        y = y < 0 || maxY < 0 ? 0 : y < maxY ? y : maxY;
        SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        ApplyFont(dialog);
        PostMessageA(dialog, WM_NCACTIVATE, 1, 0);
        return TRUE;
    }
    if (message == WM_PAINT) {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(dialog, &paint);
        RECT panel = ClientRectOf(dialog, GetDlgItem(dialog, IDC_PANEL));
        SunkenEdge(dc, panel, true);
        RECT area = ClientRectOf(dialog, GetDlgItem(dialog, IDC_PICTURE));
        if (!PictureBitmap)
            PictureBitmap = MakePicture(dc);
        BITMAP info;
        if (PictureBitmap && GetObjectA(PictureBitmap, sizeof info, &info)) {
            int x = area.left + (area.right - area.left - info.bmWidth) / 2;
            int y = area.top + (area.bottom - area.top - info.bmHeight) / 2;
            HDC memory = CreateCompatibleDC(dc);
            HGDIOBJ old = SelectObject(memory, PictureBitmap);
            IntersectClipRect(dc, area.left, area.top, area.right, area.bottom);
            BitBlt(dc, x, y, info.bmWidth, info.bmHeight, memory, 0, 0, SRCCOPY);
            RECT edge = {x, y, x + info.bmWidth, y + info.bmHeight};
            SunkenEdge(dc, edge, false);
            SelectObject(memory, old);
            DeleteDC(memory);
        }
        EndPaint(dialog, &paint);
        return TRUE;
    }
    return FALSE;
}

void PaintBar(HWND page, HDC dc)
{
    HWND bar = GetDlgItem(page, IDC_PROGRESS_BAR);
    if (!bar)
        return;
    RECT r = ClientRectOf(page, bar);
    int w = r.right - r.left, h = r.bottom - r.top;
    RECT whole = r;
    SunkenEdge(dc, whole, true);
    HBRUSH brush = CreateSolidBrush(GetSysColor(COLOR_ACTIVECAPTION));
    int half = h / 2, left = 1, right = half + 1;
    do {
        RECT block = {r.left + left, r.top + 2, r.left + right, r.top + h - 2};
        FillRect(dc, &block, brush);
        left = left + half + 2;
        right = left + half;
    } while (right < w && static_cast<unsigned>(right) < w * ShowPercent / 100);
    DeleteObject(brush);
}

void InitShownPage(HWND page);

INT_PTR CALLBACK ShowPageProc(HWND page, UINT message, WPARAM, LPARAM)
{
    if (message == WM_PAINT) {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(page, &paint);
        PaintBar(page, dc);
        EndPaint(page, &paint);
        return TRUE;
    }
    if (message == WM_INITDIALOG) {
        InitShownPage(page);
        return TRUE;
    }
    return FALSE;
}

// What the page chrome does: normal-weight dialog font on every child.
void ApplyFont(HWND dialog)
{
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
    LOGFONTA logical;
    if (!font || !GetObjectA(font, sizeof logical, &logical))
        return;
    logical.lfWeight = FW_NORMAL;
    HFONT normal = CreateFontIndirectA(&logical);
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(normal), FALSE);
}

const SampleTexts* ShowSample;
int ShowPageIndex;

// The chrome's part of a page's WM_INITDIALOG, with sample texts: moved
// onto the placeholder and filled before it is first shown.
void InitShownPage(HWND page)
{
    ApplyFont(page);
    RECT placeholder = ClientRectOf(ShowFrame, GetDlgItem(ShowFrame, IDC_PAGE_PLACEHOLDER));
    SetWindowPos(page, nullptr, placeholder.left, placeholder.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER);
    for (int i = 0; i < 4; ++i)
        SetDlgItemTextA(page, IDC_TEXT1 + i, ShowSample->texts[i]);
    int index = ShowPageIndex;
    bool first = index == 0, last = index == 5, progress = index == 4;
    SetDlgItemTextA(ShowFrame, IDC_BACK, last ? "&Restart" : "< &Back");
    SetDlgItemTextA(ShowFrame, IDC_NEXT, index == 3 ? "&Start" : "&Next >");
    SetDlgItemTextA(ShowFrame, IDC_CANCEL, progress ? "&Cancel" : "E&xit");
    EnableWindow(GetDlgItem(ShowFrame, IDC_BACK), !first && !progress);
    EnableWindow(GetDlgItem(ShowFrame, IDC_NEXT), !progress && !last);
    if (ShowSample->templateNumber == TEMPLATE_DIRECTORY) {
        SetDlgItemTextA(page, IDC_FOLDER_EDIT, "C:\\Program Files\\Example Product");
        SetDlgItemTextA(page, IDC_SPACE_REQUIRED_LABEL, "Space required on the drive:");
        SetDlgItemTextA(page, IDC_SPACE_FREE_LABEL, "Space available on the drive:");
        SetDlgItemTextA(page, IDC_SPACE_REQUIRED, "12 MB");
        SetDlgItemTextA(page, IDC_SPACE_FREE, "20480 MB");
    }
    if (progress) {
        SetDlgItemTextA(page, IDC_PROGRESS_PATH, "...\\Example Product\\example.exe");
        SetDlgItemTextA(page, IDC_PROGRESS_PERCENT, "45%");
    }
    if (last) {
        SetDlgItemTextA(page, IDC_VIEW_BUTTON, "View release notes");
        SetDlgItemTextA(page, IDC_LAUNCH_CHECK, "Start Example Product now");
        CheckDlgButton(page, IDC_LAUNCH_CHECK, BST_CHECKED);
        SetDlgItemTextA(page, IDC_TEXT3, "Example Product can be started when the wizard closes.");
    }
}

int Show(int pageIndex, bool full, int holdMs)
{
    if (pageIndex == TEMPLATE_FOLDER_BROWSER) {
        Report ignored;
        BrowserHoldMs = holdMs;
        RunBrowser(nullptr, &ignored, true);
        return 0;
    }
    if (pageIndex < 0 || pageIndex >= static_cast<int>(sizeof Samples / sizeof Samples[0])) {
        std::fprintf(stderr, "page must be 0..5 or 7\n");
        return 2;
    }
    ShowSample = &Samples[pageIndex];
    ShowPageIndex = pageIndex;
    const char* title = "Example Product 2.0 Setup";
    HWND background = CreateBackground(full ? WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN
                                            : WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX);
    if (full)
        SetWindowPos(background, nullptr, 0, 0, GetSystemMetrics(SM_CXSCREEN),
                     GetSystemMetrics(SM_CYSCREEN), SWP_NOZORDER);
    std::string why;
    void* frameTemplate = LoadTemplate(full ? TEMPLATE_FRAME_FULL : TEMPLATE_FRAME_WINDOWED, &why);
    void* pageTemplate = LoadTemplate(ShowSample->templateNumber, &why);
    if (!frameTemplate || !pageTemplate) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 1;
    }
    ShowFrame = CreateDialogIndirectParamA(Module, static_cast<LPCDLGTEMPLATEA>(frameTemplate),
                                           background, ShowFrameProc, 0);
    if (!ShowFrame)
        return 1;
    std::string caption = std::string(title) + " - " + ShowSample->heading;
    if (full) {
        SetWindowTextA(background, title);
        SetWindowTextA(ShowFrame, ShowSample->heading);
    } else {
        // Start-up's fit: the background becomes a captioned window just
        // around the frame.
        SetWindowTextA(background, caption.c_str());
        RECT r;
        GetWindowRect(ShowFrame, &r);
        AdjustWindowRectEx(&r, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, FALSE, 0);
        SetWindowPos(background, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                     SWP_NOZORDER);
        SetWindowPos(ShowFrame, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    }
    ShowWindow(background, SW_SHOWNORMAL);
    UpdateWindow(background);

    HWND page = CreateDialogIndirectParamA(Module, static_cast<LPCDLGTEMPLATEA>(pageTemplate),
                                           ShowFrame, ShowPageProc, 0);
    if (!page)
        return 1;
    SetTimer(nullptr, 0, holdMs, nullptr);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_TIMER && !msg.hwnd)
            break;
        if (!IsDialogMessageA(ShowFrame, &msg) && !IsDialogMessageA(page, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    DestroyWindow(page);
    DestroyWindow(ShowFrame);
    DestroyWindow(background);
    FreeTemplate(pageTemplate);
    FreeTemplate(frameTemplate);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: template_check BLOB [--show PAGE [--full] [--hold MS]]\n");
        return 2;
    }
    Module = GetModuleHandleA(nullptr);
    if (!ReadBlob(argv[1])) {
        std::fprintf(stderr, "cannot read a template blob from %s\n", argv[1]);
        return 2;
    }
    WNDCLASSA wc;
    std::memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = BackgroundProc;
    wc.hInstance = Module;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
    wc.lpszClassName = BackgroundClass;
    RegisterClassA(&wc);

    int show = -1, hold = 3000;
    bool full = false;
    for (int i = 2; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--show") && i + 1 < argc)
            show = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--full"))
            full = true;
        else if (!std::strcmp(argv[i], "--hold") && i + 1 < argc)
            hold = std::atoi(argv[++i]);
        else {
            std::fprintf(stderr, "unknown argument %s\n", argv[i]);
            return 2;
        }
    }
    if (show >= 0)
        return Show(show, full, hold);

    CheckFrames();
    CheckPages();
    CheckBrowser();
    std::printf("%s: %d template(s) failed\n", Failures ? "FAIL" : "OK", Failures);
    return Failures ? 1 : 0;
}
