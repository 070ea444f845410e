// The progress and finish pages on real windows, with the installation
// engine replaced by the fake of fake_install.h: the pacing of the files
// on the page's timer, Cancel during the installation, the percentage and
// the block bar (drawn into a 32-bit bitmap and read back), and the finish
// page: its error and success layouts, the view button, launch box and
// restart. Message boxes, the restart and the viewing are stand-ins.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
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
#include "page_fixture.h"

using namespace zevrin;

namespace {

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

const DWORD Patience = 5000; // for what should take well under a second

// Stand-ins for the restart and for opening the file to view.
std::vector<std::pair<UINT, DWORD>> Restarts;
BOOL RestartAnswer;
BOOL WINAPI FakeExitWindows(UINT flags, DWORD reason)
{
    Restarts.emplace_back(flags, reason);
    return RestartAnswer;
}
int ViewCalls;
void FakeView() { ++ViewCalls; }

class InstallPagesTest : public PageFixture {
protected:
    void SetUp() override
    {
        PageFixture::SetUp();
        LoadSampleTexts();
        SetMessageHook(nullptr);
        ResetFakeEngine();
        CurrentPage = 4;
        ErrorCode = 0;
        ErrorSubject[0] = 0;
        RebootNeeded = false;
        LaunchChecked = 1;
        ProgressPercent = 0;
        InstallOptions = 0;
        PendingViewEntry = PendingLaunchEntry = PendingScreenSaverEntry = Entry;
        Restarts.clear();
        RestartAnswer = FALSE;
        ViewCalls = 0;
        ExitWindowsHook = FakeExitWindows;
        ViewInstalledFileHook = FakeView;
        OpenWindows(false);
    }

    void TearDown() override
    {
        SetMessageHook(nullptr);
        PageFixture::TearDown();
        FirstEntry = nullptr;
        EntryCount = 0;
        InstallRunning = false;
        InstallOptions = 0;
    }

    static bool Shown(HWND dialog, int id) { return (GetWindowLongA(GetDlgItem(dialog, id), GWL_STYLE) & WS_VISIBLE) != 0; }

    static const uint8_t Entry[4];
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

// Both pacings answer Cancel the same way; with timed pacing each file
// takes a little time, so that the question comes while files remain.
class CancelTest : public InstallPagesTest, public testing::WithParamInterface<uint32_t> {};

TEST_P(CancelTest, CancelAsksAndStopsOrResumes)
{
    const bool timed = GetParam() != 0;
    const int files = timed ? 200 : 5;
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
        InstallOptions = GetParam();
        if (timed)
            Engine.onInstall = [](int) { Sleep(2); };
        zevrin::StartPage = c.startPage;
        PageResult = PageRunning;
        PendingViewEntry = PendingLaunchEntry = PendingScreenSaverEntry = Entry;
        ASSERT_NE(OpenPage(TEMPLATE_PROGRESS, ProgressPageProc), nullptr);
        ASSERT_TRUE(PumpUntil([] { return Engine.installs >= 2; }, Patience));
        const int before = Engine.installs;
        ASSERT_LT(before, files);

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
            EXPECT_EQ(Engine.installs, before);
            EXPECT_EQ(Engine.finishes, 0);
        }
        EXPECT_EQ(PageResult, c.result);
        const uint8_t* pending = c.pendingCleared ? nullptr : Entry;
        EXPECT_EQ(PendingViewEntry, pending);
        EXPECT_EQ(PendingLaunchEntry, pending);
        EXPECT_EQ(PendingScreenSaverEntry, pending);
        ClosePage();
        Pump(200);
        EXPECT_EQ(Engine.installs, c.resumes ? files + 1 : before) << "the timer goes with the page";
    }
}

INSTANTIATE_TEST_SUITE_P(Pacing, CancelTest, testing::Values(0u, uint32_t(OptionTimedPacing)),
                         [](const testing::TestParamInfo<uint32_t>& info) {
                             return info.param ? "TimeSlices" : "OneFileATick";
                         });

// Counts the turns the page takes: its ticks and posted continuations.
int TurnsWhile(HWND page, const std::function<bool()>& done, DWORD ms)
{
    int turns = 0;
    DWORD start = GetTickCount();
    while (!done() && GetTickCount() - start < ms) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT)
                continue;
            if (message.hwnd == page && (message.message == WM_TIMER || message.message >= WM_APP))
                ++turns;
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    return turns;
}

TEST_F(InstallPagesTest, TimeSlicesInstallManyFilesATurn)
{
    const int files = 300;
    ResetFakeEngine(files);
    InstallOptions = OptionTimedPacing;
    ASSERT_NE(OpenPage(TEMPLATE_PROGRESS, ProgressPageProc), nullptr);
    EXPECT_EQ(Engine.installs, 0) << "the first file waits for the first tick, after the page has painted";
    int turns = TurnsWhile(page_, [] { return Engine.finishes > 0; }, 10 * Patience);
    ASSERT_EQ(Engine.finishes, 1);
    EXPECT_EQ(Engine.installs, files + 1);
    EXPECT_LT(turns, files / 10) << "one file a turn is the older pacing";
    EXPECT_EQ(Engine.deepest, 1) << "turns never nest";
    EXPECT_EQ(ItemText(page_, IDC_PROGRESS_PERCENT), "100%");
    EXPECT_EQ(PageResult, PageNext);
}

// One long file: the engine calls ProgressPulse while it writes. The page
// lets its messages through there, so it repaints and Cancel is answered
// inside the file; a confirmed Cancel gives the file up and nothing
// follows it.
TEST_F(InstallPagesTest, LongFileKeepsThePageAliveAndCancelGivesItUp)
{
    const int pulsesInFile = 100; // 10 ms apart: a second of writing
    struct Case {
        const char* name;
        uint32_t options;
        uint16_t startPage;
        int answer;
        bool givenUp;
    } cases[] = {
        {"Yes: the file is given up at once", OptionTimedPacing, WizardMode, AnswerYes, true},
        {"Yes, one file a tick", 0, WizardMode, AnswerYes, true},
        {"No: the file goes on to its end", OptionTimedPacing, WizardMode, AnswerNo, false},
        {"alone: the frame's quiet cancel gives it up", OptionTimedPacing, 4, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetFakeEngine(3);
        InstallOptions = c.options;
        zevrin::StartPage = c.startPage;
        PageResult = PageRunning;
        int pulses = 0, pulsesAfterAnswer = -1;
        bool painted = false, stopped = false;
        Engine.onInstall = [&](int call) {
            if (call != 2)
                return;
            HWND page = ProgressPageWindow;
            InvalidateRect(page, nullptr, FALSE);
            PostMessageA(FrameDialog, WM_COMMAND, MAKEWPARAM(IDC_CANCEL, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(FrameDialog, IDC_CANCEL)));
            for (pulses = 0; pulses < pulsesInFile && !stopped; ++pulses) {
                Sleep(10);
                stopped = !ProgressPulse();
                painted = painted || !GetUpdateRect(page, nullptr, FALSE);
            }
            Engine.abandoned = stopped;
        };
        SetMessageHook([&](const ShownMessage& shown) {
            if (shown.type != MessageYesNo)
                return 0;
            pulsesAfterAnswer = pulses;
            return c.answer;
        });
        ScriptMessageAnswers({});
        ASSERT_NE(OpenPage(TEMPLATE_PROGRESS, ProgressPageProc), nullptr);
        PumpUntil([&] { return Engine.finishes > 0 || PageResult != PageRunning; }, Patience);
        Pump(200);
        SetMessageHook(nullptr);

        EXPECT_EQ(stopped, c.givenUp);
        if (c.startPage == WizardMode) {
            ASSERT_GE(pulsesAfterAnswer, 0) << "the question came inside the file";
            EXPECT_LT(pulsesAfterAnswer, 10) << "Cancel is answered within a few pulses";
        }
        if (c.givenUp) {
            EXPECT_LE(pulses, 10 + 1);
            EXPECT_EQ(Engine.installs, 2) << "no file after the one given up";
            EXPECT_EQ(Engine.finishes, 0) << "nothing follows a cancelled installation";
            EXPECT_EQ(PageResult, PageCancel);
        } else {
            EXPECT_TRUE(painted) << "the page repaints inside the file";
            EXPECT_EQ(pulses, pulsesInFile);
            EXPECT_EQ(Engine.installs, 4);
            EXPECT_EQ(Engine.finishes, 1);
        }
        EXPECT_EQ(Engine.deepest, 1);
        ClosePage();
        EXPECT_EQ(ProgressPulse, nullptr);
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

// Whether this process may shut the system down now.
bool ShutdownPrivilegeEnabled()
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    LUID shutdown;
    std::vector<BYTE> buffer(4096);
    DWORD size = 0;
    bool enabled = false;
    if (LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &shutdown) &&
        GetTokenInformation(token, TokenPrivileges, buffer.data(), static_cast<DWORD>(buffer.size()), &size)) {
        const TOKEN_PRIVILEGES* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
        for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
            const LUID_AND_ATTRIBUTES& p = privileges->Privileges[i];
            if (p.Luid.LowPart == shutdown.LowPart && p.Luid.HighPart == shutdown.HighPart)
                enabled = (p.Attributes & SE_PRIVILEGE_ENABLED) != 0;
        }
    }
    CloseHandle(token);
    return enabled;
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

TEST_F(InstallPagesTest, FinishPageSuccessLayouts)
{
    const char* view = "&View";
    const char* launch = "&Launch";
    struct Case {
        const char* name;
        bool singlePage, pending, reboot;
        const char *viewCaption, *launchCaption, *second, *third;
        bool viewShown;
        int viewCalls;
        bool launchShown, moved;
        const char *text2, *text3, *text4;
    } cases[] = {
        {"nothing pending: neither offered", false, false, false, view, launch, "f2", "f3",
         false, 0, false, false, "f2", "f3", ""},
        {"view and launch pending", false, true, false, view, launch, "f2", "f3",
         true, 0, true, false, "f2", "f3", ""},
        {"no view caption: opened at once", false, true, false, "", launch, "f2", "f3",
         false, 1, true, false, "f2", "f3", ""},
        {"no launch caption: the box stays hidden", false, true, false, view, "", "f2", "f3",
         true, 0, false, false, "f2", "f3", ""},
        {"no view button, 5,2 empty: the box moves up, 1001 takes 5,3", false, true, false, "", launch, "", "f3",
         false, 1, true, true, "f3", "", ""},
        {"view button shown: the box stays", false, true, false, view, launch, "", "f3",
         true, 0, true, false, "", "f3", ""},
        {"single page, nothing pending: offered by their captions", true, false, false, view, launch, "f2", "f3",
         true, 0, true, false, "f2", "f3", ""},
        {"single page, no view caption: viewing asked at once", true, false, false, "", "", "f2", "f3",
         false, 1, false, false, "f2", "f3", ""},
        {"restart, box shown: notice in 1003", false, true, true, view, launch, "f2", "f3",
         true, 0, true, false, "f2", "f3", "Restart!"},
        {"restart, box moved: notice in 1002", false, true, true, "", launch, "", "f3",
         false, 1, true, true, "f3", "Restart!", ""},
        {"restart, nothing shown, 5,2 empty: notice in 1001", false, false, true, view, launch, "", "f3",
         false, 0, false, false, "Restart!", "f3", ""},
        {"restart, view only, 5,3 set: notice in 1003", false, true, true, view, "", "f2", "f3",
         true, 0, false, false, "f2", "f3", "Restart!"},
        {"restart, view only, 5,3 empty: notice in 1002", false, true, true, view, "", "f2", "",
         true, 0, false, false, "f2", "Restart!", ""},
    };
    CurrentPage = 5;
    ASSERT_NE(OpenPage(TEMPLATE_FINISH, FinishPageProc), nullptr);
    RECT box = Place(page_, IDC_LAUNCH_CHECK), button = Place(page_, IDC_VIEW_BUTTON);
    ASSERT_NE(box.top, button.top);
    ClosePage();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetGroup(5, {"Done", "f1", c.second, c.third, "Failed: %s", c.viewCaption, c.launchCaption, "Restart!"});
        zevrin::StartPage = c.singlePage ? 5 : WizardMode;
        const uint8_t* pending = c.pending ? Entry : nullptr;
        PendingViewEntry = PendingLaunchEntry = pending;
        RebootNeeded = c.reboot;
        ViewCalls = 0;
        ASSERT_NE(OpenPage(TEMPLATE_FINISH, FinishPageProc), nullptr);
        EXPECT_EQ(Shown(page_, IDC_VIEW_BUTTON), c.viewShown);
        if (c.viewShown) {
            EXPECT_EQ(ItemText(page_, IDC_VIEW_BUTTON), view);
        }
        EXPECT_EQ(ViewCalls, c.viewCalls);
        EXPECT_EQ(Shown(page_, IDC_LAUNCH_CHECK), c.launchShown);
        if (c.launchShown) {
            EXPECT_EQ(ItemText(page_, IDC_LAUNCH_CHECK), launch);
        }
        RECT at = Place(page_, IDC_LAUNCH_CHECK);
        EXPECT_EQ(at.left, box.left);
        EXPECT_EQ(at.top, c.moved ? button.top : box.top);
        EXPECT_EQ(at.bottom - at.top, box.bottom - box.top);
        EXPECT_EQ(ItemText(page_, IDC_TEXT1), "f1");
        EXPECT_EQ(ItemText(page_, IDC_TEXT2), c.text2);
        EXPECT_EQ(ItemText(page_, IDC_TEXT3), c.text3);
        EXPECT_EQ(ItemText(page_, IDC_TEXT4), c.text4);
        EXPECT_EQ(PendingViewEntry, pending) << "a success keeps the follow-ups";
        EXPECT_EQ(PendingLaunchEntry, pending);
        EXPECT_TRUE(Restarts.empty());
        ClosePage();
    }
}

TEST_F(InstallPagesTest, FinishPageViewButtonAndLaunchBox)
{
    SetGroup(5, {"Done", "f1", "f2", "f3", "Failed: %s", "&View", "&Launch"});
    CurrentPage = 5;
    ASSERT_NE(OpenPage(TEMPLATE_FINISH, FinishPageProc), nullptr);
    ASSERT_TRUE(Shown(page_, IDC_VIEW_BUTTON));
    ASSERT_TRUE(Shown(page_, IDC_LAUNCH_CHECK));
    EXPECT_EQ(IsDlgButtonChecked(page_, IDC_LAUNCH_CHECK), unsigned(BST_CHECKED));
    SendDlgItemMessageA(page_, IDC_VIEW_BUTTON, BM_CLICK, 0, 0);
    SendDlgItemMessageA(page_, IDC_VIEW_BUTTON, BM_CLICK, 0, 0);
    EXPECT_EQ(ViewCalls, 2) << "each press opens the file";
    SendDlgItemMessageA(page_, IDC_LAUNCH_CHECK, BM_CLICK, 0, 0);
    EXPECT_EQ(LaunchChecked, 0);
    SendDlgItemMessageA(page_, IDC_LAUNCH_CHECK, BM_CLICK, 0, 0);
    EXPECT_EQ(LaunchChecked, 1);
    SendDlgItemMessageA(page_, IDC_LAUNCH_CHECK, BM_CLICK, 0, 0);
    EXPECT_EQ(PageResult, PageRunning);
    ClosePage();

    // The box shows the state it is given.
    EXPECT_EQ(LaunchChecked, 0);
    ASSERT_NE(OpenPage(TEMPLATE_FINISH, FinishPageProc), nullptr);
    EXPECT_EQ(IsDlgButtonChecked(page_, IDC_LAUNCH_CHECK), unsigned(BST_UNCHECKED));
}

TEST_F(InstallPagesTest, FinishPageRestartButton)
{
    struct Case {
        const char* name;
        bool reboot;
        int error;
        bool nt;
        BOOL answer;
        bool restarts;
    } cases[] = {
        {"restart needed, older family", true, 0, false, TRUE, true},
        {"restart needed, NT family: privilege first", true, 0, true, TRUE, true},
        {"restart refused: the page stays", true, 0, true, FALSE, true},
        {"no restart needed: nothing", false, 0, true, TRUE, false},
        {"an error drops the restart", true, ErrorCannotOpen, true, TRUE, false},
    };
    bool nt = IsWindowsNT;
    CurrentPage = 5;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RebootNeeded = c.reboot;
        ErrorCode = c.error;
        IsWindowsNT = c.nt;
        RestartAnswer = c.answer;
        Restarts.clear();
        PageResult = PageRunning;
        ASSERT_NE(OpenPage(TEMPLATE_FINISH, FinishPageProc), nullptr);
        EXPECT_EQ(Enabled(IDC_BACK), c.restarts);
        std::string caption = ItemText(FrameDialog, IDC_BACK);
        bool privileged = ShutdownPrivilegeEnabled();
        Click(IDC_BACK);
        if (c.restarts) {
            ASSERT_EQ(Restarts.size(), 1u);
            EXPECT_EQ(Restarts[0].first, UINT(EWX_REBOOT));
            EXPECT_EQ(Restarts[0].second, 0u);
            // The NT family refuses a restart without the privilege.
            EXPECT_EQ(ShutdownPrivilegeEnabled(), c.nt || privileged);
        } else {
            EXPECT_TRUE(Restarts.empty());
        }
        EXPECT_EQ(PageResult, PageRunning);
        EXPECT_EQ(ItemText(FrameDialog, IDC_BACK), caption);
        ClosePage();
    }
    IsWindowsNT = nt;
}
