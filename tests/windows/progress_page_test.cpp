// The progress and finish pages on real windows, with the installation
// engine replaced by the fake of fake_install.h: the pacing of the files
// on the page's timer, Cancel during the installation, the percentage and
// the block bar (drawn into a 32-bit bitmap and read back), and the finish
// page's error layout. Message boxes are scripted.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "../../authoring/templates/controls.h"
#include "../../stub/background/win32/background.h"
#include "../../stub/engine/file_table.h"
#include "../../stub/engine/win32/install.h"
#include "../../stub/pages/win32/pages.h"
#include "../../stub/shared/message_script.h"
#include "../../stub/shared/messages.h"
#include "../../stub/shared/state.h"
#include "../../stub/shared/win32/window_state.h"
#include "fake_install.h"

using namespace zevrin;

namespace {

void SetGroup(int slot, const std::vector<std::string>& texts)
{
    std::vector<uint8_t> bytes{static_cast<uint8_t>(texts.size()), static_cast<uint8_t>(texts.size() >> 8)};
    for (const std::string& text : texts) {
        bytes.insert(bytes.end(), text.begin(), text.end());
        bytes.push_back(0);
    }
    FreeAndClear(&MessageGroups[slot]);
    AllocWithRetry(static_cast<uint32_t>(bytes.size()), &MessageGroups[slot]);
    std::memcpy(MessageGroups[slot], bytes.data(), bytes.size());
}

void LoadSampleTexts()
{
    SetGroup(4, {"Installing", "p1", "p2", "p3", "p4"});
    SetGroup(5, {"Done", "f1", "f2", "f3", "Failed: %s"});
    std::vector<std::string> six(32);
    six[0] = "Demo Setup";
    six[13] = "Stop installing?";
    six[14] = "Exit the installation?";
    six[15] = "Not completed.";
    six[16] = "Cannot open %s, sorry";
    six[22] = "Not replaced";
    SetGroup(6, six);
    SetGroup(7, {"< &Back", "&Next >", "E&xit", "&Start", "OK", "&Cancel", "&Restart"});
}

const DLGTEMPLATE* Template(int number)
{
    HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(TEMPLATE_RESOURCE_BASE + number), RT_DIALOG);
    return resource ? static_cast<const DLGTEMPLATE*>(LockResource(LoadResource(nullptr, resource))) : nullptr;
}

// Runs the message loop until `done` holds or `ms` milliseconds passed.
bool PumpUntil(const std::function<bool()>& done, DWORD ms)
{
    DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT)
                continue;
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (done())
            return true;
        if (GetTickCount() - start >= ms)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

void Pump(DWORD ms)
{
    PumpUntil([] { return false; }, ms);
}

const DWORD Patience = 5000; // for what should take well under a second

// A 32-bit top-down bitmap in a memory device context.
class Surface {
public:
    Surface(int width, int height) : width_(width), height_(height)
    {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        bitmap_ = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        pixels_ = static_cast<uint32_t*>(bits);
        dc_ = CreateCompatibleDC(nullptr);
        old_ = SelectObject(dc_, bitmap_);
        for (int i = 0; i < width * height; ++i)
            pixels_[i] = Blank;
    }
    ~Surface()
    {
        SelectObject(dc_, old_);
        DeleteDC(dc_);
        DeleteObject(bitmap_);
    }
    HDC Dc() const { return dc_; }
    COLORREF At(int x, int y) const
    {
        GdiFlush();
        uint32_t p = pixels_[y * width_ + x];
        return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }
    int Touched() const
    {
        GdiFlush();
        int n = 0;
        for (int i = 0; i < width_ * height_; ++i)
            n += pixels_[i] != Blank;
        return n;
    }

private:
    static const uint32_t Blank = 0x0A141E; // no drawing here makes it
    int width_, height_;
    HBITMAP bitmap_ = nullptr;
    uint32_t* pixels_ = nullptr;
    HDC dc_ = nullptr;
    HGDIOBJ old_ = nullptr;
};

class InstallPagesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ModuleInstance = GetModuleHandleA(nullptr);
        if (!FaceBrush)
            CreateFaceBrush();
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = BackgroundWndProc;
        windowClass.hInstance = ModuleInstance;
        windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
        windowClass.lpszClassName = BackgroundClassName;
        RegisterClassA(&windowClass);
    }

    void SetUp() override
    {
        LoadSampleTexts();
        ScriptMessageAnswers({});
        SetMessageHook(nullptr);
        ResetFakeEngine();
        HeaderFlags = 0;
        zevrin::StartPage = WizardMode;
        CurrentPage = 4;
        PageResult = PageRunning;
        ErrorCode = 0;
        ErrorSubject[0] = 0;
        RebootNeeded = false;
        LaunchChecked = 1;
        ProgressPercent = 0;
        PendingViewEntry = PendingLaunchEntry = PendingScreenSaverEntry = Entry;
        ScreenWidth = GetSystemMetrics(SM_CXSCREEN);
        ScreenHeight = GetSystemMetrics(SM_CYSCREEN);
        ScreenCentreX = ScreenWidth / 2;
        ScreenCentreY = ScreenHeight / 2;
        BackgroundWindow = CreateWindowExA(0, BackgroundClassName, "", WS_CAPTION | WS_SYSMENU, 0, 0, ScreenWidth,
                                           ScreenHeight, nullptr, nullptr, ModuleInstance, nullptr);
        ASSERT_NE(BackgroundWindow, nullptr);
        FrameDialog = CreateDialogIndirectParamA(ModuleInstance, Template(TEMPLATE_FRAME_WINDOWED), BackgroundWindow,
                                                 FrameDialogProc, 0);
        ASSERT_NE(FrameDialog, nullptr);
    }

    void TearDown() override
    {
        SetMessageHook(nullptr);
        if (page_)
            DestroyWindow(page_);
        DestroyWindow(FrameDialog);
        DestroyWindow(BackgroundWindow);
        page_ = FrameDialog = BackgroundWindow = CurrentPageWindow = nullptr;
        Pump(0); // the background's quit message, and anything left
        for (int i = 0; i < MessageGroupCount; ++i)
            FreeAndClear(&MessageGroups[i]);
        PendingViewEntry = PendingLaunchEntry = PendingScreenSaverEntry = nullptr;
        FirstEntry = nullptr;
        EntryCount = 0;
        InstallRunning = false;
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

    static std::string ItemText(HWND dialog, int id)
    {
        char text[2048] = "";
        GetDlgItemTextA(dialog, id, text, sizeof text);
        return text;
    }

    static bool Enabled(int id) { return IsWindowEnabled(GetDlgItem(FrameDialog, id)) != FALSE; }
    static bool Shown(HWND dialog, int id) { return (GetWindowLongA(GetDlgItem(dialog, id), GWL_STYLE) & WS_VISIBLE) != 0; }

    static std::vector<std::string> ShownTexts()
    {
        std::vector<std::string> texts;
        for (const ShownMessage& shown : ShownMessages())
            texts.push_back(shown.text);
        return texts;
    }

    // Rectangle of a control in its dialog's client coordinates.
    static RECT Place(HWND dialog, int id)
    {
        RECT r;
        GetWindowRect(GetDlgItem(dialog, id), &r);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
        return r;
    }

    static const uint8_t Entry[4];
    HWND page_ = nullptr;
};

const uint8_t InstallPagesTest::Entry[4] = {};

} // namespace

// --- progress page: pacing --------------------------------------------------

TEST_F(InstallPagesTest, InstallsOneFilePerTickThenFinishes)
{
    struct Case {
        const char* name;
        int files;
        bool fileRunsALoop; // as a file's prompt does
    } cases[] = {
        {"three files", 3, false},
        {"an empty table", 0, false},
        {"a file whose prompt runs a message loop gets no tick inside it", 2, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetFakeEngine(c.files);
        if (c.fileRunsALoop)
            Engine.onInstall = [](int) {
                if (Engine.depth == 1) // a tick inside is already a failure; no deeper
                    Pump(200);
            };
        PageResult = PageRunning;
        CurrentPage = 4;
        ASSERT_NE(OpenPage(TEMPLATE_PROGRESS, ProgressPageProc), nullptr);
        EXPECT_EQ(ProgressPageWindow, page_);
        EXPECT_EQ(Engine.starts, 1);
        EXPECT_EQ(Engine.installs, 0) << "the first file waits for the first tick";
        EXPECT_EQ(ItemText(FrameDialog, IDC_CANCEL), "&Cancel");
        EXPECT_EQ(ItemText(page_, IDC_TEXT1), "p1");

        ASSERT_TRUE(PumpUntil([] { return Engine.finishes > 0; }, Patience));
        Pump(200); // no tick after the end
        EXPECT_EQ(Engine.starts, 1);
        EXPECT_EQ(Engine.installs, c.files + 1);
        EXPECT_EQ(Engine.finishes, 1);
        EXPECT_EQ(Engine.deepest, 1);
        EXPECT_EQ(PageResult, PageNext);
        EXPECT_EQ(CurrentPage, 4) << "GoToPage(5)";
        // Timers never fire early: 100 ms to the first file, 50 between.
        ASSERT_FALSE(Engine.installTimes.empty());
        EXPECT_GE(Engine.installTimes[0] - Engine.startTime, 90u);
        for (size_t i = 1; i < Engine.installTimes.size(); ++i)
            EXPECT_GE(Engine.installTimes[i] - Engine.installTimes[i - 1], 40u) << i;
        if (c.files) {
            EXPECT_EQ(ItemText(page_, IDC_PROGRESS_PERCENT), "100%");
        }
        ClosePage();
    }
}

TEST_F(InstallPagesTest, FailedStartInstallsNothing)
{
    ResetFakeEngine(3);
    Engine.startFails = true;
    ASSERT_NE(OpenPage(TEMPLATE_PROGRESS, ProgressPageProc), nullptr);
    Pump(300);
    EXPECT_EQ(Engine.starts, 1);
    EXPECT_EQ(Engine.installs, 0);
    EXPECT_EQ(Engine.finishes, 0);
    EXPECT_FALSE(KillTimer(page_, 11)) << "no timer was started";
    EXPECT_EQ(ErrorCode, ErrorCannotOpen);
    EXPECT_EQ(PageResult, PageRunning);
    EXPECT_FALSE(Enabled(IDC_BACK));
    EXPECT_FALSE(Enabled(IDC_NEXT));
    EXPECT_TRUE(Enabled(IDC_CANCEL));
}

TEST_F(InstallPagesTest, CancelAsksAndStopsOrResumes)
{
    const int files = 5;
    struct Case {
        const char* name;
        uint16_t startPage;
        int answer;
        std::vector<std::string> shown;
        int result;
        bool resumes, pendingCleared;
    } cases[] = {
        {"No: the installation resumes at the next tick", WizardMode, AnswerNo, {"Stop installing?"}, PageNext, true,
         false},
        {"Yes: it stops and the wizard ends", WizardMode, AnswerYes, {"Stop installing?", "Not completed."}, PageCancel,
         false, true},
        {"alone: the frame's quiet cancel, no question", 4, 0, {}, PageCancel, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetFakeEngine(files);
        zevrin::StartPage = c.startPage;
        PageResult = PageRunning;
        PendingViewEntry = PendingLaunchEntry = PendingScreenSaverEntry = Entry;
        ASSERT_NE(OpenPage(TEMPLATE_PROGRESS, ProgressPageProc), nullptr);
        ASSERT_TRUE(PumpUntil([] { return Engine.installs == 2; }, Patience));

        // The box runs its own loop: ticks arrive and must install nothing.
        int installsWhileAsked = -1;
        SetMessageHook([&](const ShownMessage& shown) {
            if (shown.type != MessageYesNo)
                return 0;
            int before = Engine.installs;
            Pump(300);
            installsWhileAsked = Engine.installs - before;
            return c.answer;
        });
        ScriptMessageAnswers({});
        Click(IDC_CANCEL);
        SetMessageHook(nullptr);
        EXPECT_EQ(ShownTexts(), c.shown);
        if (!c.shown.empty()) {
            EXPECT_EQ(ShownMessages()[0].type, unsigned(MessageYesNo));
            EXPECT_EQ(installsWhileAsked, 0);
        }
        if (c.shown.size() == 2) {
            EXPECT_EQ(ShownMessages()[1].type, unsigned(MessageInformation));
        }

        if (c.resumes) {
            ASSERT_TRUE(PumpUntil([] { return Engine.finishes > 0; }, Patience));
            EXPECT_EQ(Engine.installs, files + 1);
        } else if (c.startPage == WizardMode) {
            // The page stays until the sequencer destroys it; no file starts.
            Pump(300);
            EXPECT_EQ(Engine.installs, 2);
            EXPECT_EQ(Engine.finishes, 0);
        }
        EXPECT_EQ(PageResult, c.result);
        const uint8_t* pending = c.pendingCleared ? nullptr : Entry;
        EXPECT_EQ(PendingViewEntry, pending);
        EXPECT_EQ(PendingLaunchEntry, pending);
        EXPECT_EQ(PendingScreenSaverEntry, pending);
        ClosePage();
        Pump(200);
        EXPECT_EQ(Engine.installs, c.resumes ? files + 1 : 2) << "the timer goes with the page";
    }
}

// --- progress page: percentage and bar --------------------------------------

TEST_F(InstallPagesTest, PercentageIsShownAtOnceAndCapped)
{
    ASSERT_NE(OpenPage(TEMPLATE_PROGRESS, ProgressPageProc), nullptr);
    SetProgressPercent(37);
    EXPECT_EQ(ItemText(page_, IDC_PROGRESS_PERCENT), "37%");
    SetProgressPercent(250);
    EXPECT_EQ(ItemText(page_, IDC_PROGRESS_PERCENT), "100%");

    ClosePage();
    EXPECT_EQ(ProgressPageWindow, nullptr);
    EXPECT_EQ(ProgressRepaint, nullptr);
    SetProgressPercent(50); // nowhere to draw: nothing happens
    PaintProgressBar(nullptr, nullptr);
}

TEST_F(InstallPagesTest, BarDrawsBlocksForThePercentage)
{
    const COLORREF face = GetSysColor(COLOR_BTNFACE), shadow = GetSysColor(COLOR_BTNSHADOW),
                   light = GetSysColor(COLOR_BTNHIGHLIGHT), block = GetSysColor(COLOR_ACTIVECAPTION);
    ASSERT_TRUE(face != shadow && face != light && face != block && shadow != light && shadow != block &&
                light != block)
        << "the colours must tell the parts apart";
    auto letter = [&](COLORREF c) { return c == face ? 'f' : c == shadow ? 's' : c == light ? 'h' : c == block ? 'c' : '?'; };

    // Rows across the middle and columns down through the first block:
    // s shadow, h highlight, f face, c block.
    struct Case {
        const char* name;
        int w, h;
        unsigned percent;
        std::string row, column;
    } cases[] = {
        {"0%: the first block all the same", 40, 10, 0, "sccccc" + std::string(33, 'f') + "h", "sfccccccfh"},
        {"50%: blocks up to half the width", 40, 10, 50, "sccccc" "ffccccc" + std::string(26, 'f') + "h",
         "sfccccccfh"},
        {"100%: blocks while they fit", 40, 10, 100, "sccccc" "ffccccc" "ffccccc" "ffccccc" "ffccccc" "fffff" "h",
         "sfccccccfh"},
        {"w = 2 x half + 3: only the first block", 13, 10, 100, "sccccc" "ffffff" "h", "sfccccccfh"},
        {"one pixel wider: a second block", 14, 10, 100, "sccccc" "ffccccc" "h", "sfccccccfh"},
        {"odd height: half rounds down", 20, 9, 100, "scccc" "ffcccc" "ffcccc" "ff" "h", "sfcccccfh"},
    };
    ASSERT_NE(OpenPage(TEMPLATE_PROGRESS, ProgressPageProc), nullptr);
    HWND bar = GetDlgItem(page_, IDC_PROGRESS_BAR);
    ASSERT_NE(bar, nullptr);
    RECT client;
    GetClientRect(page_, &client);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetWindowPos(bar, nullptr, 0, 0, c.w, c.h, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        RECT at = Place(page_, IDC_PROGRESS_BAR);
        ProgressPercent = c.percent;
        Surface surface(client.right, client.bottom);
        PaintProgressBar(page_, surface.Dc());
        std::string row, column;
        for (int x = 0; x < c.w; ++x)
            row += letter(surface.At(at.left + x, at.top + c.h / 2));
        for (int y = 0; y < c.h; ++y)
            column += letter(surface.At(at.left + 2, at.top + y));
        EXPECT_EQ(row, c.row);
        EXPECT_EQ(column, c.column);
        EXPECT_EQ(surface.Touched(), c.w * c.h) << "drawn outside the bar";
        EXPECT_EQ(ItemText(page_, IDC_PROGRESS_PERCENT), std::to_string(c.percent) + "%");
    }
}

// --- finish page ----------------------------------------------------------------

TEST_F(InstallPagesTest, FinishPageShowsTheErrorOrKeepsItsTexts)
{
    // Two table entries, the second with the status `status`.
    struct Case {
        const char* name;
        int error;
        uint16_t status;
        bool reboot;
        int launchChecked;
        int finalError;
        std::string text;
        unsigned state;
    } cases[] = {
        {"cancelled: text 6,15 alone", ErrorNotCompleted, StatusCreated, false, 1, ErrorNotCompleted,
         "Not completed.", 0x104},
        {"an error: the format with its text and subject", ErrorCannotOpen, StatusCreated, false, 1, ErrorCannotOpen,
         "Failed: Cannot open D:\\SETUP.EXE, sorry", 0x104},
        {"an error number without a text", 40, StatusCreated, false, 1, 40, "Failed: ", 0x104},
        {"a file that failed: error 22", 0, StatusFailed, false, 0, ErrorNotReplaced, "Failed: Not replaced", 0x104},
        {"an error drops the restart", ErrorCannotOpen, StatusAtRestart, true, 1, ErrorCannotOpen,
         "Failed: Cannot open D:\\SETUP.EXE, sorry", 0x104},
        {"success: the page's own texts", 0, StatusReplaced, false, 0, 0, "f1", 0x104},
        {"success with a restart: Back is enabled", 0, StatusAtRestart, true, 1, 0, "f1", 0x105},
    };
    // Entries as the file table holds them: fixed part, six empty strings.
    std::vector<uint8_t> table(2 * 30, 0);
    WriteU16(&table[0], 30);
    WriteU16(&table[30], 30);
    CurrentPage = 5;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ErrorCode = c.error;
        std::strcpy(ErrorSubject, "D:\\SETUP.EXE");
        RebootNeeded = c.reboot;
        LaunchChecked = c.launchChecked;
        WriteU16(&table[30 + EntryStatus], c.status);
        FirstEntry = table.data();
        EntryCount = 2;
        PendingViewEntry = PendingLaunchEntry = PendingScreenSaverEntry = Entry;
        SetDlgItemTextA(FrameDialog, IDC_BACK, "before");
        ASSERT_NE(OpenPage(TEMPLATE_FINISH, FinishPageProc), nullptr);
        RECT text = Place(page_, IDC_TEXT1), third = Place(page_, IDC_TEXT3);

        EXPECT_EQ(ErrorCode, c.finalError);
        EXPECT_EQ(ItemText(page_, IDC_TEXT1), c.text);
        EXPECT_EQ(ItemText(page_, IDC_TEXT4), "");
        EXPECT_EQ(ButtonState, c.state);
        EXPECT_EQ(RebootNeeded, c.state == 0x105);
        EXPECT_EQ(ItemText(FrameDialog, IDC_BACK), c.state == 0x105 ? "&Restart" : "< &Back");
        EXPECT_FALSE(Shown(page_, IDC_VIEW_BUTTON));
        EXPECT_FALSE(Shown(page_, IDC_LAUNCH_CHECK));
        EXPECT_EQ(IsDlgButtonChecked(page_, IDC_LAUNCH_CHECK), unsigned(c.launchChecked));
        EXPECT_EQ(GetWindowLongA(GetDlgItem(FrameDialog, IDC_NEXT), GWL_STYLE) & BS_DEFPUSHBUTTON, 0);
        EXPECT_NE(GetWindowLongA(GetDlgItem(FrameDialog, IDC_CANCEL), GWL_STYLE) & BS_DEFPUSHBUTTON, 0);

        bool error = c.finalError != 0;
        EXPECT_EQ(Shown(page_, IDC_TEXT2), !error);
        EXPECT_EQ(Shown(page_, IDC_TEXT3), !error);
        if (error) {
            EXPECT_EQ(text.bottom, third.bottom) << "the main text reaches down to where 1002 ends";
        } else {
            EXPECT_EQ(ItemText(page_, IDC_TEXT2), "f2");
            EXPECT_LT(text.bottom, third.top);
        }
        const uint8_t* pending = error ? nullptr : Entry;
        EXPECT_EQ(PendingViewEntry, pending);
        EXPECT_EQ(PendingLaunchEntry, pending);
        EXPECT_EQ(PendingScreenSaverEntry, pending);
        ClosePage();
    }
}

TEST_F(InstallPagesTest, FinishPageKeepsTheMainTextsPlace)
{
    ASSERT_NE(OpenPage(TEMPLATE_FINISH, FinishPageProc), nullptr);
    RECT before = Place(page_, IDC_TEXT1);
    ClosePage();
    ErrorCode = ErrorCannotOpen;
    ASSERT_NE(OpenPage(TEMPLATE_FINISH, FinishPageProc), nullptr);
    RECT after = Place(page_, IDC_TEXT1);
    EXPECT_EQ(after.left, before.left);
    EXPECT_EQ(after.top, before.top);
    EXPECT_EQ(after.right, before.right);
    EXPECT_GT(after.bottom, before.bottom);
}

TEST_F(InstallPagesTest, FinishPageEndsTheWizardOnEnterNextOrCancel)
{
    struct Case {
        const char* name;
        std::function<void()> press;
    } cases[] = {
        {"Cancel", [] { Click(IDC_CANCEL); }},
        {"Next (greyed out, but a command all the same)", [] { Click(IDC_NEXT); }},
        {"Enter", [] {
             MSG key = {GetDlgItem(FrameDialog, IDC_CANCEL), WM_KEYDOWN, VK_RETURN, 0, 0, {0, 0}};
             IsDialogMessageA(FrameDialog, &key);
         }},
    };
    CurrentPage = 5;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PageResult = PageRunning;
        ScriptMessageAnswers({});
        ASSERT_NE(OpenPage(TEMPLATE_FINISH, FinishPageProc), nullptr);
        c.press();
        EXPECT_EQ(PageResult, PageCancel);
        EXPECT_TRUE(ShownMessages().empty()) << "no question";
        ClosePage();
    }
}

TEST_F(InstallPagesTest, FinishPageRestartButtonNeverGoesBack)
{
    CurrentPage = 5;
    RebootNeeded = true;
    ASSERT_NE(OpenPage(TEMPLATE_FINISH, FinishPageProc), nullptr);
    ASSERT_TRUE(Enabled(IDC_BACK));
    Click(IDC_BACK);
    EXPECT_EQ(PageResult, PageRunning) << "back to the progress page would install again";
}
