// What the wizard shows, on the real dialog manager and GDI: the frame
// dialog built from the default templates (compiled into this program as
// resources 100 to 107), page chrome, the welcome, information and ready
// pages, the frame's and background's commands, and what the drawing
// helpers put into a 32-bit bitmap. Message boxes are scripted.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "../../authoring/templates/controls.h"
#include "../../stub/background/win32/background.h"
#include "../../stub/background/gradient.h"
#include "../../stub/engine/file_table.h"
#include "../../stub/engine/win32/space.h"
#include "../../stub/pages/win32/pages.h"
#include "../../stub/shared/message_script.h"
#include "../../stub/shared/state.h"
#include "../../stub/shared/win32/window_state.h"
#include "../../stub/shared/messages.h"
#include "file_table_fixture.h"
#include "page_fixture.h"

using namespace zevrin;

namespace {

// --- package stand-ins ---------------------------------------------------

// Replaces one text of a group, keeping the others.
void SetText(int group, unsigned index, const std::string& text)
{
    const uint8_t* slot = reinterpret_cast<const uint8_t*>(MessageGroups[group]);
    unsigned count = slot ? unsigned(slot[0] | slot[1] << 8) : 0;
    std::vector<std::string> texts;
    for (unsigned i = 0; i < count; ++i)
        texts.push_back(GetMessageText(static_cast<unsigned>(group), i));
    if (texts.size() <= index)
        texts.resize(index + 1);
    texts[index] = text;
    SetGroup(group, texts);
}

void LoadSampleTexts()
{
    SetGroup(0, {"Welcome", "w1", "w2", "w3", "w4"});
    SetGroup(1, {"Information", "The release notes", "i2", "i3", "i4"});
    SetGroup(2, {"Folder", "d1", "d2", "d3", "d4"});
    SetGroup(3, {"Ready", "r1", "Install into %s now", "r3", "r4"});
    SetGroup(4, {"Installing", "p1", "p2", "p3", "p4"});
    SetGroup(5, {"Done", "f1", "f2", "f3", "f4"});
    std::vector<std::string> six(32);
    six[0] = "Demo Setup";
    six[7] = "Some files are write-protected. Overwrite?";
    six[9] = "Access denied:\n%s";
    six[14] = "Exit the installation?";
    six[15] = "Not completed.";
    six[16] = "Cannot open %s, sorry";
    six[22] = "100%% broken";
    SetGroup(6, six);
    SetGroup(7, {"< &Back", "&Next >", "E&xit", "&Start", "OK", "&Cancel", "&Restart"});
}

uint8_t* Owned(const std::vector<uint8_t>& bytes)
{
    uint8_t* block = nullptr;
    AllocWithRetry(static_cast<uint32_t>(bytes.size()), &block);
    std::memcpy(block, bytes.data(), bytes.size());
    return block;
}

void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// A stored bitmap whose pixel (x, y), counted from the top, has `colour`
// (COLORREF); bottom-up unless topDown. 8 bits: `colour` gives the index.
std::vector<uint8_t> StoredBitmap(int width, int height, int bits, bool topDown,
                                  const std::vector<uint32_t>& table, uint32_t (*colour)(int x, int y))
{
    int rowBytes = (width * bits + 31) / 32 * 4;
    std::vector<uint8_t> bytes(54 + table.size() * 4 + size_t(rowBytes) * height, 0);
    bytes[0] = 'B';
    bytes[1] = 'M';
    Put32(bytes, 14, 40);
    Put32(bytes, 18, static_cast<uint32_t>(width));
    Put32(bytes, 22, static_cast<uint32_t>(topDown ? -height : height));
    bytes[26] = 1;
    bytes[28] = static_cast<uint8_t>(bits);
    Put32(bytes, 46, bits == 8 ? static_cast<uint32_t>(table.size()) : 0);
    for (size_t i = 0; i < table.size(); ++i) { // RGBQUAD from COLORREF
        bytes[54 + 4 * i] = GetBValue(table[i]);
        bytes[54 + 4 * i + 1] = GetGValue(table[i]);
        bytes[54 + 4 * i + 2] = GetRValue(table[i]);
    }
    uint8_t* rows = bytes.data() + 54 + table.size() * 4;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = rows + size_t(topDown ? y : height - 1 - y) * rowBytes;
        for (int x = 0; x < width; ++x) {
            uint32_t c = colour(x, y);
            if (bits == 8) {
                row[x] = static_cast<uint8_t>(c);
            } else {
                row[3 * x] = GetBValue(c);
                row[3 * x + 1] = GetGValue(c);
                row[3 * x + 2] = GetRValue(c);
            }
        }
    }
    return bytes;
}

// For 8 x 6 pictures, whose outermost pixels the edge covers: a red row
// just below the top, a green row just above the bottom, blue elsewhere.
uint32_t Stripes(int, int y)
{
    return y == 1 ? RGB(255, 0, 0) : y == 4 ? RGB(0, 255, 0) : RGB(0, 0, 255);
}

// Stands in for a page that takes every command.
INT_PTR CALLBACK ConsumingPageProc(HWND page, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG)
        return TRUE;
    if (message == WM_COMMAND)
        return ConsumeCommand(page);
    return DefaultPageHandler(message, wParam);
}

class PagesTest : public PageFixture {
protected:
    void SetUp() override
    {
        PageFixture::SetUp();
        LoadSampleTexts();
        CurrentPage = 0;
        ButtonState = 0;
        ReadOnlyFilesFound = false;
        std::strcpy(InstallDir, "C:\\Program Files\\Demo\\");
    }

    void TearDown() override
    {
        PageFixture::TearDown();
        FreeAndClear(&FrameBitmap);
        FreeAndClear(&BackgroundBitmap);
    }

    // Top-left of a control in its dialog's client coordinates.
    static POINT Corner(HWND dialog, int id)
    {
        RECT r = Place(dialog, id);
        return {r.left, r.top};
    }
};

} // namespace

// --- frame dialog ------------------------------------------------------------

TEST_F(PagesTest, FramePlacesItselfAroundTheScreenCentre)
{
    struct Case {
        const char* name;
        int width, height;       // background window, 0 = the screen
        int centreX, centreY;    // ScreenCentreX/Y, -1 = half the screen
        int expectX, expectY;    // -1 = centred, -2 = against the far edge
    } cases[] = {
        {"centred on the screen", 0, 0, -1, -1, -1, -1},
        {"centre near the top-left: never off the left or top", 0, 0, 20, 10, 0, 0},
        {"centre near the bottom-right: against the far edges", 0, 0, 2000, 2000, -2, -2},
        {"background narrower and lower than the dialog", 200, 150, -1, -1, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScreenCentreX = c.centreX < 0 ? ScreenWidth / 2 : c.centreX;
        ScreenCentreY = c.centreY < 0 ? ScreenHeight / 2 : c.centreY;
        OpenWindows(true, c.width, c.height);
        RECT background, frame;
        GetWindowRect(BackgroundWindow, &background);
        GetWindowRect(FrameDialog, &frame);
        int dw = frame.right - frame.left, dh = frame.bottom - frame.top;
        POINT at = {frame.left, frame.top};
        ScreenToClient(BackgroundWindow, &at);
        int wantX = c.expectX == -1 ? ScreenCentreX - dw / 2
                  : c.expectX == -2 ? (background.right - background.left) - dw : c.expectX;
        int wantY = c.expectY == -1 ? ScreenCentreY - dh / 2
                  : c.expectY == -2 ? (background.bottom - background.top) - dh : c.expectY;
        EXPECT_EQ(at.x, wantX);
        EXPECT_EQ(at.y, wantY);
        TearDown();
    }
}

TEST_F(PagesTest, FrameButtonsSetThePageResult)
{
    const uint8_t entry[4] = {};
    struct Case {
        const char* name;
        int id;
        unsigned state;
        std::vector<int> answers;
        int result;
        std::vector<std::string> shown;
        bool pendingCleared;
    } cases[] = {
        {"Next", IDC_NEXT, 7, {}, PageNext, {}, false},
        {"Back", IDC_BACK, 7, {}, PageBack, {}, false},
        {"Next while greyed out (Enter on the progress page)", IDC_NEXT, 4, {}, PageRunning, {}, false},
        {"Back while greyed out", IDC_BACK, 6, {}, PageRunning, {}, false},
        {"Cancel, quiet", IDC_CANCEL, 0x104, {}, PageCancel, {}, false},
        {"Cancel, then No", IDC_CANCEL, 7, {AnswerNo}, PageRunning, {"Exit the installation?"}, false},
        {"Cancel, then Yes", IDC_CANCEL, 7, {AnswerYes}, PageCancel, {"Exit the installation?", "Not completed."}, true},
        {"a control the frame does not know", 1234, 7, {}, PageRunning, {}, false},
    };
    OpenWindows(false);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PageResult = PageRunning;
        PendingViewEntry = PendingLaunchEntry = PendingScreenSaverEntry = entry;
        SetPageButtons(c.state);
        ScriptMessageAnswers(c.answers);
        Click(c.id);
        EXPECT_EQ(PageResult, c.result);
        EXPECT_EQ(ShownTexts(), c.shown);
        if (c.shown.size() == 2) {
            EXPECT_EQ(ShownMessages()[0].type, unsigned(MessageYesNo));
            EXPECT_EQ(ShownMessages()[1].type, unsigned(MessageInformation));
        }
        const uint8_t* expected = c.pendingCleared ? nullptr : entry;
        EXPECT_EQ(PendingViewEntry, expected);
        EXPECT_EQ(PendingLaunchEntry, expected);
        EXPECT_EQ(PendingScreenSaverEntry, expected);
    }
}

TEST_F(PagesTest, PageSeesCommandsFirst)
{
    OpenWindows(false);
    ASSERT_NE(OpenPage(TEMPLATE_WELCOME_READY, ConsumingPageProc), nullptr);
    CurrentPageWindow = page_;
    SetPageButtons(7);
    for (int id : {IDC_NEXT, IDC_BACK, IDC_CANCEL}) {
        Click(id);
        EXPECT_EQ(PageResult, PageRunning) << id;
    }
    EXPECT_TRUE(ShownMessages().empty());
}

TEST_F(PagesTest, SystemMenuEndsTheWizardWithoutAQuestion)
{
    OpenWindows(true);
    SendMessageA(FrameDialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(PageResult, PageCancel);
    PageResult = PageRunning;
    SendMessageA(BackgroundWindow, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(PageResult, PageCancel);
    EXPECT_TRUE(IsWindow(BackgroundWindow)) << "the sequencer ends the wizard, not the window";
    EXPECT_TRUE(ShownMessages().empty());
}

TEST_F(PagesTest, BackgroundRelaysActivationAndRestore)
{
    OpenWindows(true);
    MSG message;
    while (PeekMessageA(&message, FrameDialog, WM_NCACTIVATE, WM_NCACTIVATE, PM_REMOVE)) {
    }
    SendMessageA(BackgroundWindow, WM_ACTIVATEAPP, 0, 0);
    ASSERT_TRUE(PeekMessageA(&message, FrameDialog, WM_NCACTIVATE, WM_NCACTIVATE, PM_REMOVE));
    EXPECT_EQ(message.wParam, 0u);
    SendMessageA(BackgroundWindow, WM_ACTIVATEAPP, 1, 0);
    ASSERT_TRUE(PeekMessageA(&message, FrameDialog, WM_NCACTIVATE, WM_NCACTIVATE, PM_REMOVE));
    EXPECT_EQ(message.wParam, 1u);

    ShowWindow(FrameDialog, SW_HIDE);
    SendMessageA(BackgroundWindow, WM_SYSCOMMAND, SC_RESTORE, 0);
    EXPECT_NE(GetWindowLongA(FrameDialog, GWL_STYLE) & WS_VISIBLE, 0);
}

// --- chrome ------------------------------------------------------------------

TEST_F(PagesTest, HeadingGoesToTheFrameOrTheBackgroundCaption)
{
    struct Case {
        const char* name;
        bool fullScreen;
        int page;
        std::string heading;
        std::string background, frame;
    } cases[] = {
        {"windowed: title - heading", false, 0, "Welcome", "Demo Setup - Welcome", "before"},
        {"windowed, no heading: the bare title", false, 0, "", "Demo Setup", "before"},
        {"full screen: the frame's caption", true, 3, "Ready", "Demo Setup", "Ready"},
        {"full screen, no heading: the caption stays", true, 3, "", "Demo Setup", "before"},
        {"no page (the wizard is over)", false, -1, "", "Demo Setup", "before"},
        {"a heading longer than the caption buffer", false, 0, std::string(1500, 'h'),
         "Demo Setup - " + std::string(1023 - 13, 'h'), "before"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OpenWindows(c.fullScreen);
        if (c.page >= 0)
            SetText(c.page, 0, c.heading);
        CurrentPage = c.page;
        SetWindowTextA(FrameDialog, "before");
        SetWindowTextA(BackgroundWindow, "before");
        ASSERT_NE(OpenPage(TEMPLATE_WELCOME_READY, WelcomePageProc), nullptr);
        EXPECT_EQ(TextOf(BackgroundWindow), c.background);
        EXPECT_EQ(TextOf(FrameDialog), c.frame);
        TearDown();
        LoadSampleTexts();
    }
}

TEST_F(PagesTest, ChromeFillsTextsCaptionsAndPlacesThePage)
{
    OpenWindows(false);
    CurrentPage = 2;
    ASSERT_NE(OpenPage(TEMPLATE_DIRECTORY, DirectoryPageProc), nullptr);
    EXPECT_EQ(CurrentPageWindow, page_);
    EXPECT_EQ(ItemText(page_, IDC_TEXT1), "d1");
    EXPECT_EQ(ItemText(page_, IDC_TEXT2), "d2");
    EXPECT_EQ(ItemText(page_, IDC_TEXT3), "d3");
    EXPECT_EQ(ItemText(page_, IDC_TEXT4), "d4");
    EXPECT_EQ(ItemText(FrameDialog, IDC_BACK), "< &Back");
    EXPECT_EQ(ItemText(FrameDialog, IDC_NEXT), "&Next >");
    EXPECT_EQ(ItemText(FrameDialog, IDC_CANCEL), "E&xit");

    RECT pageRect;
    GetWindowRect(page_, &pageRect);
    POINT pageCorner = {pageRect.left, pageRect.top};
    ScreenToClient(FrameDialog, &pageCorner);
    POINT placeholder = Corner(FrameDialog, IDC_PAGE_PLACEHOLDER);
    EXPECT_EQ(pageCorner.x, placeholder.x);
    EXPECT_EQ(pageCorner.y, placeholder.y);

    // A page text the group lacks empties its control.
    ClosePage();
    SetGroup(2, {"Folder", "only one"});
    ASSERT_NE(OpenPage(TEMPLATE_DIRECTORY, DirectoryPageProc), nullptr);
    EXPECT_EQ(ItemText(page_, IDC_TEXT1), "only one");
    EXPECT_EQ(ItemText(page_, IDC_TEXT2), "");
}

TEST_F(PagesTest, PagesEnableTheirButtons)
{
    struct Case {
        const char* name;
        int page, templateNumber;
        DLGPROC procedure;
        uint16_t startPage;
        unsigned state;
    } cases[] = {
        {"welcome", 0, TEMPLATE_WELCOME_READY, WelcomePageProc, WizardMode, 6},
        {"information", 1, TEMPLATE_INFORMATION, InfoPageProc, WizardMode, 7},
        {"folder", 2, TEMPLATE_DIRECTORY, DirectoryPageProc, WizardMode, 7},
        {"ready", 3, TEMPLATE_WELCOME_READY, ReadyPageProc, WizardMode, 7},
        {"progress", 4, TEMPLATE_PROGRESS, ProgressPageProc, WizardMode, 4},
        {"finish", 5, TEMPLATE_FINISH, FinishPageProc, WizardMode, 0x104},
        {"welcome alone: quiet cancel", 0, TEMPLATE_WELCOME_READY, WelcomePageProc, 0, 0x106},
        {"progress alone: quiet cancel", 4, TEMPLATE_PROGRESS, ProgressPageProc, 4, 0x104},
    };
    OpenWindows(true);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        zevrin::StartPage = c.startPage;
        CurrentPage = c.page;
        ASSERT_NE(OpenPage(c.templateNumber, c.procedure), nullptr);
        EXPECT_EQ(ButtonState, c.state);
        EXPECT_EQ(Enabled(IDC_BACK), (c.state & 1) != 0);
        EXPECT_EQ(Enabled(IDC_NEXT), (c.state & 2) != 0);
        EXPECT_EQ(Enabled(IDC_CANCEL), (c.state & 4) != 0);
        ClosePage();
    }
}

TEST_F(PagesTest, SetButtonTextKnowsOnlyTheThreeButtons)
{
    OpenWindows(false);
    for (int id : {IDC_BACK, IDC_NEXT, IDC_CANCEL})
        SetDlgItemTextA(FrameDialog, id, "unchanged");
    for (unsigned which : {0u, 3u, 5u, 8u, 0x100u})
        SetButtonText(which, 4);
    for (int id : {IDC_BACK, IDC_NEXT, IDC_CANCEL})
        EXPECT_EQ(ItemText(FrameDialog, id), "unchanged") << id;
    SetButtonText(ButtonCancel, 5);
    EXPECT_EQ(ItemText(FrameDialog, IDC_CANCEL), "&Cancel");
    SetButtonText(ButtonBack, 99); // no such text
    EXPECT_EQ(ItemText(FrameDialog, IDC_BACK), "");
}

TEST_F(PagesTest, GoToPageLandsOnThePageAfterTheSequencersStep)
{
    for (int n : {0, 2, 5}) {
        PageResult = PageRunning;
        GoToPage(n);
        EXPECT_EQ(CurrentPage, n - 1);
        EXPECT_EQ(PageResult, PageNext);
    }
}

TEST_F(PagesTest, ColourMessagesGetTheFaceBrush)
{
    Surface surface(4, 4);
    const WPARAM dc = reinterpret_cast<WPARAM>(surface.Dc());
    for (UINT message : {WM_CTLCOLORMSGBOX, WM_CTLCOLORBTN, WM_CTLCOLORDLG, WM_CTLCOLORSTATIC}) {
        SetBkColor(surface.Dc(), RGB(1, 2, 3));
        EXPECT_EQ(DefaultPageHandler(message, dc), reinterpret_cast<INT_PTR>(FaceBrush)) << message;
        EXPECT_EQ(GetBkColor(surface.Dc()), GetSysColor(COLOR_BTNFACE)) << message;
    }
    for (UINT message : {UINT(WM_CTLCOLOREDIT), UINT(WM_CTLCOLORLISTBOX), UINT(WM_CTLCOLORSCROLLBAR), UINT(WM_COMMAND),
                         UINT(WM_PAINT)}) {
        SetBkColor(surface.Dc(), RGB(1, 2, 3));
        EXPECT_EQ(DefaultPageHandler(message, dc), 0) << message;
        EXPECT_EQ(GetBkColor(surface.Dc()), RGB(1, 2, 3)) << message;
    }
}

TEST_F(PagesTest, OneNormalWeightFontForEveryDialog)
{
    OpenWindows(false);
    ASSERT_NE(PageFont, nullptr) << "the frame dialog made it";
    LOGFONTA font;
    ASSERT_EQ(GetObjectA(PageFont, sizeof font, &font), int(sizeof font));
    EXPECT_EQ(font.lfWeight, FW_NORMAL);
    HFONT first = PageFont;
    ASSERT_NE(OpenPage(TEMPLATE_WELCOME_READY, WelcomePageProc), nullptr);
    EXPECT_EQ(PageFont, first);
    for (HWND child = GetWindow(page_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(child, WM_GETFONT, 0, 0)), PageFont);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(GetDlgItem(FrameDialog, IDC_NEXT), WM_GETFONT, 0, 0)), PageFont);
}

TEST_F(PagesTest, ErrorTextsTakeTheSubject)
{
    struct Case {
        int error;
        const char* subject;
        unsigned capacity;
        std::string expected;
    } cases[] = {
        {ErrorAccessCheck, "C:\\Demo\\a.dll", 260, "Access denied:\nC:\\Demo\\a.dll"},
        {ErrorCannotOpen, "x.cab", 260, "Cannot open x.cab, sorry"},
        {ErrorNotCompleted, "ignored", 260, "Not completed."},
        {ErrorNotReplaced, "ignored", 260, "100%% broken"}, // no "%s": copied as it is
        {ErrorCannotOpen, "x.cab", 10, "Cannot op"},
        {ErrorNotCompleted, "", 5, "Not "},
        {40, "x", 260, ""},
        {-1, "x", 260, ""},
    };
    for (const Case& c : cases) {
        std::strcpy(ErrorSubject, c.subject);
        char text[300];
        std::memset(text, 'Z', sizeof text);
        FormatErrorText(text, c.capacity, c.error);
        EXPECT_EQ(text, c.expected) << c.error;
        EXPECT_EQ(text[c.capacity], 'Z') << "wrote past the capacity";
    }
}

// --- welcome, information and ready pages ------------------------------------

TEST_F(PagesTest, WelcomeSkipsAnEmptyInformationPage)
{
    struct Case {
        const char* name;
        std::string information;
        int currentPage;
    } cases[] = {
        {"information text: the frame's Next, page 1 follows", "Notes", 0},
        {"no information text: straight to the folder page", "", 1},
    };
    OpenWindows(false);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetText(1, 1, c.information);
        CurrentPage = 0;
        PageResult = PageRunning;
        ASSERT_NE(OpenPage(TEMPLATE_WELCOME_READY, WelcomePageProc), nullptr);
        Click(IDC_NEXT);
        EXPECT_EQ(PageResult, PageNext);
        EXPECT_EQ(CurrentPage, c.currentPage);
        // Other buttons are the frame's business.
        PageResult = PageRunning;
        ScriptMessageAnswers({AnswerNo});
        Click(IDC_CANCEL);
        EXPECT_EQ(ShownTexts(), std::vector<std::string>{"Exit the installation?"});
        ClosePage();
    }
}

TEST_F(PagesTest, InformationPageShowsItsText)
{
    OpenWindows(false);
    CurrentPage = 1;
    ASSERT_NE(OpenPage(TEMPLATE_INFORMATION, InfoPageProc), nullptr);
    EXPECT_EQ(ItemText(page_, IDC_TEXT1), "The release notes");
    Click(IDC_NEXT);
    EXPECT_EQ(PageResult, PageNext);
    PageResult = PageRunning;
    Click(IDC_BACK);
    EXPECT_EQ(PageResult, PageBack);
}

TEST_F(PagesTest, ReadyPageShowsTheFolder)
{
    struct Case {
        const char* name;
        const char* installDir;
        std::string format;
        std::string shown;
        const char* after;
    } cases[] = {
        {"trailing backslash hidden", "C:\\Program Files\\Demo\\", "Install into %s now",
         "Install into C:\\Program Files\\Demo now", "C:\\Program Files\\Demo\\"},
        {"drive root keeps it", "C:\\", "Install into %s now", "Install into C:\\ now", "C:\\"},
        {"handed on with a backslash", "D:\\Demo", "Into %s", "Into D:\\Demo", "D:\\Demo\\"},
        {"no placeholder", "C:\\Demo\\", "Ready when you are", "Ready when you are", "C:\\Demo\\"},
        {"extra placeholders are not read", "C:\\Demo\\", "%s %s %d%%", "C:\\Demo %s 0%", "C:\\Demo\\"},
    };
    OpenWindows(false);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::strcpy(InstallDir, c.installDir);
        SetText(3, 2, c.format);
        CurrentPage = 3;
        ASSERT_NE(OpenPage(TEMPLATE_WELCOME_READY, ReadyPageProc), nullptr);
        EXPECT_EQ(ItemText(page_, IDC_TEXT2), c.shown);
        EXPECT_STREQ(InstallDir, c.after);
        EXPECT_EQ(ItemText(FrameDialog, IDC_NEXT), "&Start");
        EXPECT_EQ(GetFocus(), GetDlgItem(FrameDialog, IDC_NEXT));
        ClosePage();
    }
}

TEST_F(PagesTest, ReadyPageAsksAboutWriteProtectedFiles)
{
    struct Case {
        const char* name;
        bool readOnly;
        std::string question;
        std::vector<int> answers;
        int result;
        size_t asked;
    } cases[] = {
        {"nothing protected", false, "Overwrite?", {}, PageNext, 0},
        {"protected, Yes", true, "Overwrite?", {AnswerYes}, PageNext, 1},
        {"protected, No: stay", true, "Overwrite?", {AnswerNo}, PageRunning, 1},
        {"protected but no question in the package", true, "", {}, PageNext, 0},
    };
    OpenWindows(false);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReadOnlyFilesFound = c.readOnly;
        SetText(6, 7, c.question);
        CurrentPage = 3;
        PageResult = PageRunning;
        ASSERT_NE(OpenPage(TEMPLATE_WELCOME_READY, ReadyPageProc), nullptr);
        ScriptMessageAnswers(c.answers);
        Click(IDC_NEXT);
        EXPECT_EQ(PageResult, c.result);
        ASSERT_EQ(ShownMessages().size(), c.asked);
        if (c.asked) {
            EXPECT_EQ(ShownMessages()[0].text, c.question);
            EXPECT_EQ(ShownMessages()[0].type, unsigned(MessageYesNo));
        }
        ClosePage();
    }
}

TEST_F(PagesTest, EndPageHandlesNothing)
{
    for (UINT message : {UINT(WM_INITDIALOG), UINT(WM_COMMAND), UINT(WM_CTLCOLORSTATIC)})
        EXPECT_EQ(EndPageProc(nullptr, message, 0, 0), FALSE);
}

// --- directory page ----------------------------------------------------------

namespace {

// Stands in for the older free-space call (the extended one is hidden):
// FakeFreeClusters clusters of FakeSectors x FakeBytesPerSector bytes, or
// no answer.
DWORD FakeSectors, FakeBytesPerSector, FakeFreeClusters;
bool FakeNoAnswer;
BOOL WINAPI FakeDiskFreeSpace(LPCSTR, LPDWORD sectors, LPDWORD bytes, LPDWORD freeClusters, LPDWORD total)
{
    if (FakeNoAnswer)
        return FALSE;
    *sectors = FakeSectors;
    *bytes = FakeBytesPerSector;
    *freeClusters = *total = FakeFreeClusters;
    return TRUE;
}

// Drives the folder browser from inside its modal loop: a thread timer
// finds the dialog, records what it shows and acts as the user.
struct BrowserDriver {
    enum Action { Ok, Cancel, Navigate };
    Action action = Ok;
    std::string folder;        // typed into 101 (Ok) or made current (Navigate)
    bool found = false;
    std::string folderLabel, drivesLabel, ok, cancel, shownFolder;
    bool centred = false;
};
BrowserDriver Driver;
int DriverTicks;

VOID CALLBACK DriveBrowser(HWND, UINT, UINT_PTR timer, DWORD)
{
    HWND dialog = FindWindowA(nullptr, "Choose a folder"); // text 6, 1
    if (!dialog || !IsWindowVisible(dialog)) {
        if (++DriverTicks > 100)
            KillTimer(nullptr, timer); // the test fails on Driver.found
        return;
    }
    KillTimer(nullptr, timer);
    Driver.found = true;
    auto text = [dialog](int id) {
        char buffer[PathSize] = "";
        GetDlgItemTextA(dialog, id, buffer, sizeof buffer);
        return std::string(buffer);
    };
    Driver.folderLabel = text(IDC_BROWSE_FOLDER_LABEL);
    Driver.drivesLabel = text(IDC_FD_DRIVES_LABEL);
    Driver.ok = text(IDC_FD_OK);
    Driver.cancel = text(IDC_FD_CANCEL);
    Driver.shownFolder = text(IDC_BROWSE_FOLDER);
    RECT r, area;
    GetWindowRect(dialog, &r);
    GetWindowRect(GetParent(dialog), &area);
    Driver.centred = std::abs((r.left + r.right) - (area.left + area.right)) <= 2 &&
                     std::abs((r.top + r.bottom) - (area.top + area.bottom)) <= 2;
    switch (Driver.action) {
    case BrowserDriver::Cancel:
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        return;
    case BrowserDriver::Navigate:
        // What the dialog does when the user opens a folder in its list.
        SetCurrentDirectoryA(Driver.folder.c_str());
        SendMessageA(dialog, RegisterWindowMessageA("commdlg_LBSelChangedNotify"), 0, 0);
        Driver.shownFolder = text(IDC_BROWSE_FOLDER);
        break;
    case BrowserDriver::Ok:
        SetDlgItemTextA(dialog, IDC_BROWSE_FOLDER, Driver.folder.c_str());
        break;
    }
    PostMessageA(dialog, WM_COMMAND, IDOK, reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
}

class DirectoryPageTest : public PagesTest {
protected:
    void SetUp() override
    {
        PagesTest::SetUp();
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        temp_ = temp;
        base_ = temp_ + "zevrin-dirpage" + std::to_string(GetCurrentProcessId()) + "\\";
        CreateDirectoryA(base_.c_str(), nullptr);
        SetCurrentDirectoryA(base_.c_str());
        // 1000 clusters of 4 KB free.
        FakeSectors = 8;
        FakeBytesPerSector = 512;
        FakeFreeClusters = 1000;
        FakeNoAnswer = false;
        GetDiskFreeSpaceHook = FakeDiskFreeSpace;
        ExtendedFreeSpaceName = "NoSuchFunctionA";
        SetText(2, 5, "Required:");
        SetText(2, 6, "Available:");
        SetText(2, 7, "%d MB");
        SetText(6, 1, "Choose a folder");
        SetText(6, 2, "Folder name:");
        SetText(6, 3, "Drives here:");
        SetText(6, 4, "Checking...");
        SetText(6, 5, "Cannot create the folder.");
        SetText(6, 6, "Create the folder?");
        SetText(6, 8, "The check failed.");
        SetText(6, 11, "Not enough space. Go on?");
        CurrentPage = 2;
        OpenWindows(false);
    }

    void TearDown() override
    {
        GetDiskFreeSpaceHook = GetDiskFreeSpaceA;
        ExtendedFreeSpaceName = "GetDiskFreeSpaceExA";
        SetMessageHook(nullptr);
        SetCurrentDirectoryA(temp_.c_str());
        for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
            DeleteFileA((base_ + *it).c_str());
            RemoveDirectoryA((base_ + *it).c_str());
        }
        RemoveDirectoryA(base_.c_str());
        EntryCount = 0;
        FirstEntry = nullptr;
        FreeAndClear(&TemplateBlob);
        TemplateBlobSize = 0;
        PagesTest::TearDown();
    }

    // Names under base_, removed at the end, deepest last in the list.
    void Track(const std::vector<std::string>& names) { made_.insert(made_.end(), names.begin(), names.end()); }

    void UseTable(const std::vector<uint32_t>& sizes)
    {
        std::vector<TableEntry> entries;
        for (size_t i = 0; i < sizes.size(); ++i)
            entries.push_back({"file" + std::to_string(i) + ".bin", sizes[i], LocationInstall, UninstallLeave});
        table_ = FileTableOf(entries);
        EntryCount = static_cast<uint32_t>(sizes.size());
        FirstEntry = table_.data() + 4;
    }

    // A template blob whose every template is the folder browser.
    static void UseBrowserTemplate()
    {
        HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(TEMPLATE_RESOURCE_BASE + TEMPLATE_FOLDER_BROWSER), RT_DIALOG);
        ASSERT_NE(resource, nullptr);
        const uint8_t* bytes = static_cast<const uint8_t*>(LockResource(LoadResource(nullptr, resource)));
        std::vector<uint8_t> blob(4 * TEMPLATE_COUNT, 0);
        for (int i = 0; i < TEMPLATE_COUNT; ++i)
            Put32(blob, 4 * size_t(i), static_cast<uint32_t>(blob.size()));
        blob.insert(blob.end(), bytes, bytes + SizeofResource(nullptr, resource));
        TemplateBlob = Owned(blob);
        TemplateBlobSize = static_cast<uint32_t>(blob.size());
    }

    static std::string CurrentFolder()
    {
        char current[MAX_PATH] = "";
        GetCurrentDirectoryA(sizeof current, current);
        return current;
    }

    static bool IsFolder(const std::string& path)
    {
        DWORD attributes = GetFileAttributesA(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    }

    std::string temp_, base_;
    std::vector<std::string> made_;
    std::vector<uint8_t> table_;
};

} // namespace

TEST_F(DirectoryPageTest, ShowsTheFolderWithoutItsBackslashAndHandsItOnWithOne)
{
    CreateDirectoryA((base_ + "there").c_str(), nullptr);
    Track({"there"});
    struct Case {
        std::string installDir;
        std::string shown;
        std::string after; // InstallDir after Next; "" = Next is not pressed
    } cases[] = {
        {base_ + "there\\", base_ + "there", base_ + "there\\"},
        {base_ + "there", base_ + "there", base_ + "there\\"},
        {"C:\\", "C:\\", "C:\\"},
        {"C:\\Apps\\", "C:\\Apps", ""},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.installDir);
        std::strcpy(InstallDir, c.installDir.c_str());
        PageResult = PageRunning;
        ASSERT_NE(OpenPage(TEMPLATE_DIRECTORY, DirectoryPageProc), nullptr);
        EXPECT_EQ(ItemText(page_, IDC_FOLDER_EDIT), c.shown);
        EXPECT_EQ(ItemText(page_, IDC_SPACE_REQUIRED_LABEL), "Required:");
        EXPECT_EQ(ItemText(page_, IDC_SPACE_FREE_LABEL), "Available:");
        if (!c.after.empty()) {
            Click(IDC_NEXT);
            EXPECT_EQ(PageResult, PageNext);
            EXPECT_EQ(InstallDir, c.after);
            EXPECT_TRUE(ShownMessages().empty());
        }
        ClosePage();
    }
}

TEST_F(DirectoryPageTest, FolderCanBeChangedOnlyWhenThePackageSaysSo)
{
    for (uint32_t flags : {0u, uint32_t(FlagFolderEditable), uint32_t(FlagFolderEditable | FlagFullScreen)}) {
        SCOPED_TRACE(flags);
        HeaderFlags = flags;
        bool editable = (flags & FlagFolderEditable) != 0;
        ASSERT_NE(OpenPage(TEMPLATE_DIRECTORY, DirectoryPageProc), nullptr);
        HWND edit = GetDlgItem(page_, IDC_FOLDER_EDIT);
        EXPECT_EQ((GetWindowLongA(edit, GWL_STYLE) & ES_READONLY) == 0, editable);
        EXPECT_EQ(IsWindowEnabled(GetDlgItem(page_, IDC_BROWSE)) != FALSE, editable);
        if (editable) {
            EXPECT_EQ(GetFocus(), edit);
        }
        ClosePage();
    }
}

TEST_F(DirectoryPageTest, SpaceTextsInMegabytesRoundedUp)
{
    struct Case {
        const char* why;
        DWORD sectors, bytesPerSector, freeClusters;
        bool noAnswer;
        std::vector<uint32_t> sizes;
        std::string free, required;
    } cases[] = {
        {"no files, free space unknown", 8, 512, 1000, true, {}, "0 MB", "0 MB"},
        {"4000 KB free; 1 and 4097 bytes take 3 clusters", 8, 512, 1000, false, {1, 4097}, "4 MB", "1 MB"},
        {"exactly 1 MB free and required", 8, 512, 256, false, {1048576}, "1 MB", "1 MB"},
        {"one cluster more is 2 MB", 8, 512, 257, false, {1048577}, "2 MB", "2 MB"},
        {"64 KB clusters: 20 one-byte files", 128, 512, 16, false, std::vector<uint32_t>(20, 1), "1 MB", "2 MB"},
        {"more than 4 GB required", 8, 512, 1000, false, {0xFFFFFFFF, 0xFFFFFFFF, 1}, "4 MB", "8193 MB"},
        {"too much free space to count: at least 4 TiB", 8, 512, 0xFFFFFFFF, false, {}, "4194304 MB", "0 MB"},
        {"more megabytes than %d holds", 0xFFFFFFFF, 0xFFFFFFFF, 1, false, std::vector<uint32_t>(600, 1),
         "4194304 MB", "2147483647 MB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        FakeSectors = c.sectors;
        FakeBytesPerSector = c.bytesPerSector;
        FakeFreeClusters = c.freeClusters;
        FakeNoAnswer = c.noAnswer;
        UseTable(c.sizes);
        ASSERT_NE(OpenPage(TEMPLATE_DIRECTORY, DirectoryPageProc), nullptr);
        EXPECT_EQ(ItemText(page_, IDC_SPACE_FREE), c.free);
        EXPECT_EQ(ItemText(page_, IDC_SPACE_REQUIRED), c.required);
        ClosePage();
    }
}

TEST_F(DirectoryPageTest, TypingUpdatesTheFolderAndBothSizes)
{
    HeaderFlags = FlagFolderEditable;
    UseTable({4096});
    ASSERT_NE(OpenPage(TEMPLATE_DIRECTORY, DirectoryPageProc), nullptr);
    EXPECT_EQ(ItemText(page_, IDC_SPACE_FREE), "4 MB");
    // 64 KB clusters, 3000 of them.
    FakeSectors = 128;
    FakeFreeClusters = 3000;
    UseTable({4096, 70000});
    SetDlgItemTextA(page_, IDC_FOLDER_EDIT, "D:\\Other\\");
    EXPECT_STREQ(InstallDir, "D:\\Other\\");
    EXPECT_EQ(ItemText(page_, IDC_SPACE_FREE), "188 MB");
    EXPECT_EQ(ItemText(page_, IDC_SPACE_REQUIRED), "1 MB");
    EXPECT_EQ(PageResult, PageRunning);
}

TEST_F(DirectoryPageTest, NextMakesAndChecksTheFolder)
{
    CreateDirectoryA((base_ + "there").c_str(), nullptr);
    HANDLE file = CreateFileA((base_ + "file.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    CloseHandle(file);
    Track({"there", "file.txt", "new", "new\\deep", "quiet"});
    const std::string none = "(none)";
    struct Case {
        const char* why;
        std::string typed;
        std::string createQuestion;    // text 6, 6
        std::vector<uint32_t> sizes;   // 4000 KB are free
        uint16_t startPage;
        std::vector<int> answers;
        int result;
        std::string installDir;        // after; relative to base_ unless it starts with "C:"
        std::vector<std::string> shown;
        std::vector<std::string> statusAtBoxes; // control 1001 while each box was up
        std::string statusAfter;
    } cases[] = {
        {"an existing folder", base_ + "there\\", "Create the folder?", {}, WizardMode, {}, PageNext, "there\\", {}, {},
         "Checking..."},
        {"a relative folder becomes absolute", "there", "Create the folder?", {}, WizardMode, {}, PageNext, "there\\",
         {}, {}, "Checking..."},
        {"missing, Yes: made", base_ + "new\\deep", "Create the folder?", {}, WizardMode, {AnswerYes}, PageNext,
         "new\\deep\\", {"Create the folder?"}, {"d2"}, "Checking..."},
        {"missing, No: stay with the full path", "declined\\", "Create the folder?", {}, WizardMode, {AnswerNo},
         PageRunning, "declined", {"Create the folder?"}, {"d2"}, "d2"},
        {"missing, no question in the package: made", base_ + "quiet", "", {}, WizardMode, {}, PageNext, "quiet\\", {},
         {}, "Checking..."},
        {"cannot be made: stay", base_ + "file.txt\\sub", "Create the folder?", {}, WizardMode, {AnswerYes},
         PageRunning, "file.txt\\sub", {"Create the folder?", "Cannot create the folder."}, {"d2", "d2"}, "d2"},
        {"an empty field cannot be made", "", "Create the folder?", {}, WizardMode, {AnswerYes}, PageRunning, none,
         {"Create the folder?", "Cannot create the folder."}, {"d2", "d2"}, "d2"},
        {"not enough space, Yes: go on", "there", "Create the folder?", {8 << 20}, WizardMode, {AnswerYes}, PageNext,
         "there\\", {"Not enough space. Go on?"}, {"Checking..."}, "Checking..."},
        {"not enough space, No: stay with the texts back", "there", "Create the folder?", {8 << 20}, WizardMode,
         {AnswerNo}, PageRunning, "there\\", {"Not enough space. Go on?"}, {"Checking..."}, "d2"},
        {"a page running alone leaves Next to the frame", "missing", "Create the folder?", {}, 2, {}, PageNext, none,
         {}, {}, "d2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        zevrin::StartPage = c.startPage;
        SetText(6, 6, c.createQuestion);
        UseTable(c.sizes);
        std::strcpy(InstallDir, "C:\\Program Files\\Demo\\");
        ASSERT_NE(OpenPage(TEMPLATE_DIRECTORY, DirectoryPageProc), nullptr);
        SetDlgItemTextA(page_, IDC_FOLDER_EDIT, c.typed.c_str());
        SetCurrentDirectoryA(base_.c_str());
        PageResult = PageRunning;
        ScriptMessageAnswers(c.answers);
        std::vector<std::string> status;
        SetMessageHook([&](const ShownMessage&) {
            status.push_back(ItemText(page_, IDC_TEXT2));
            return 0;
        });
        Click(IDC_NEXT);
        EXPECT_EQ(PageResult, c.result);
        EXPECT_EQ(ShownTexts(), c.shown);
        EXPECT_EQ(status, c.statusAtBoxes);
        EXPECT_EQ(ItemText(page_, IDC_TEXT2), c.statusAfter);
        if (c.installDir != none) {
            std::string expected = base_ + c.installDir;
            EXPECT_EQ(InstallDir, expected);
            if (c.result == PageNext) {
                EXPECT_TRUE(IsFolder(expected));
                EXPECT_EQ(CurrentFolder() + "\\", expected) << "the install folder is the current one";
            }
        }
        ClosePage();
    }
    EXPECT_FALSE(IsFolder(base_ + "declined"));
    EXPECT_FALSE(IsFolder(base_ + "missing")) << "the lone page made it";
}

TEST_F(DirectoryPageTest, BackSkipsAnEmptyInformationPage)
{
    struct Case {
        std::string information;
        int result, currentPage;
    } cases[] = {
        {"Notes", PageBack, 2},
        {"", PageNext, -1}, // GoToPage(0)
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.information);
        SetText(1, 1, c.information);
        CurrentPage = 2;
        PageResult = PageRunning;
        ASSERT_NE(OpenPage(TEMPLATE_DIRECTORY, DirectoryPageProc), nullptr);
        Click(IDC_BACK);
        EXPECT_EQ(PageResult, c.result);
        EXPECT_EQ(CurrentPage, c.currentPage);
        ClosePage();
    }
}

TEST_F(DirectoryPageTest, FolderBrowserReturnsTheChosenFolder)
{
    CreateDirectoryA((base_ + "there").c_str(), nullptr);
    Track({"there"});
    char none[PathSize] = "C:\\Unchanged";
    EXPECT_FALSE(BrowseForFolder(FrameDialog, none)) << "no template 7";
    EXPECT_STREQ(none, "C:\\Unchanged");

    UseBrowserTemplate();
    struct Case {
        const char* why;
        BrowserDriver::Action action;
        std::string folder;
        bool result;
        std::string path; // after
    } cases[] = {
        {"OK with a folder typed", BrowserDriver::Ok, base_ + "there", true, base_ + "there"},
        {"the folder the user moved to", BrowserDriver::Navigate, base_ + "there", true, base_ + "there"},
        {"Cancel keeps the path", BrowserDriver::Cancel, "", false, base_},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Driver = BrowserDriver();
        Driver.action = c.action;
        Driver.folder = c.folder;
        DriverTicks = 0;
        char path[PathSize];
        lstrcpynA(path, base_.c_str(), PathSize);
        UINT_PTR timer = SetTimer(nullptr, 0, 50, DriveBrowser);
        bool result = BrowseForFolder(FrameDialog, path);
        KillTimer(nullptr, timer);
        ASSERT_TRUE(Driver.found) << "no dialog, error " << CommDlgExtendedError();
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(path, c.path);
        EXPECT_EQ(Driver.folderLabel, "Folder name:");
        EXPECT_EQ(Driver.drivesLabel, "Drives here:");
        EXPECT_EQ(Driver.ok, "OK");
        EXPECT_EQ(Driver.cancel, "&Cancel");
        EXPECT_EQ(Driver.shownFolder, c.action == BrowserDriver::Navigate ? c.folder : base_);
        EXPECT_TRUE(Driver.centred);
    }
}

TEST_F(DirectoryPageTest, BrowseButtonPutsTheFolderIntoTheField)
{
    CreateDirectoryA((base_ + "there").c_str(), nullptr);
    Track({"there"});
    UseBrowserTemplate();
    HeaderFlags = FlagFolderEditable;
    ASSERT_NE(OpenPage(TEMPLATE_DIRECTORY, DirectoryPageProc), nullptr);
    SetDlgItemTextA(page_, IDC_FOLDER_EDIT, (base_ + "typed").c_str());
    Driver = BrowserDriver();
    Driver.folder = base_ + "there\\";
    DriverTicks = 0;
    UINT_PTR timer = SetTimer(nullptr, 0, 50, DriveBrowser);
    SendMessageA(page_, WM_COMMAND, MAKEWPARAM(IDC_BROWSE, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(page_, IDC_BROWSE)));
    KillTimer(nullptr, timer);
    ASSERT_TRUE(Driver.found);
    EXPECT_EQ(Driver.shownFolder, base_ + "typed") << "the browser starts at the field's folder";
    EXPECT_EQ(ItemText(page_, IDC_FOLDER_EDIT), base_ + "there");
    EXPECT_EQ(InstallDir, base_ + "there");
}

// --- stored bitmaps ----------------------------------------------------------

TEST_F(PagesTest, FramePictureIsCentredUprightAndEdged)
{
    struct Case {
        const char* name;
        std::vector<uint8_t> bitmap;
    } cases[] = {
        {"24-bit bottom-up", StoredBitmap(8, 6, 24, false, {}, Stripes)},
        {"24-bit top-down", StoredBitmap(8, 6, 24, true, {}, Stripes)},
        {"8-bit", StoredBitmap(8, 6, 8, false, {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255)},
                               [](int, int y) -> uint32_t { return y == 1 ? 0 : y == 4 ? 1 : 2; })},
    };
    OpenWindows(false);
    RECT client;
    GetClientRect(FrameDialog, &client);
    RECT area;
    GetWindowRect(GetDlgItem(FrameDialog, IDC_PICTURE), &area);
    MapWindowPoints(nullptr, FrameDialog, reinterpret_cast<POINT*>(&area), 2);
    const int x = area.left + (area.right - area.left - 8) / 2;
    const int y = area.top + (area.bottom - area.top - 6) / 2;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Surface surface(client.right, client.bottom);
        uint8_t* bitmap = Owned(c.bitmap);
        DrawStoredBitmap(FrameDialog, surface.Dc(), IDC_PICTURE, bitmap);
        FreeAndClear(&bitmap);
        // The edge covers the outermost pixels; inside them the picture,
        // upright whichever way its rows are stored.
        EXPECT_EQ(surface.At(x, y), GetSysColor(COLOR_BTNSHADOW));
        EXPECT_EQ(surface.At(x + 7, y + 5), GetSysColor(COLOR_BTNHIGHLIGHT));
        EXPECT_EQ(surface.At(x + 3, y - 1), Paper);
        EXPECT_EQ(surface.At(x - 1, y + 2), Paper);
        for (int column = 1; column <= 6; ++column) {
            EXPECT_EQ(surface.At(x + column, y + 1), RGB(255, 0, 0)) << column;
            EXPECT_EQ(surface.At(x + column, y + 2), RGB(0, 0, 255)) << column;
            EXPECT_EQ(surface.At(x + column, y + 3), RGB(0, 0, 255)) << column;
            EXPECT_EQ(surface.At(x + column, y + 4), RGB(0, 255, 0)) << column;
        }
        EXPECT_EQ(surface.CountOf(RGB(255, 0, 0)), 6);
        EXPECT_EQ(surface.CountOf(RGB(0, 255, 0)), 6);
        EXPECT_EQ(surface.CountOf(RGB(0, 0, 255)), 12);
    }
}

TEST_F(PagesTest, ShortColourTableLeavesTheRestBlack)
{
    OpenWindows(false);
    RECT client;
    GetClientRect(FrameDialog, &client);
    Surface surface(client.right, client.bottom);
    // Index 1 is in the table, 7 and 255 are not.
    uint8_t* bitmap = Owned(StoredBitmap(8, 6, 8, false, {RGB(255, 0, 0), RGB(10, 200, 30)},
                                         [](int x, int) -> uint32_t { return x < 3 ? 1 : x < 6 ? 7 : 255; }));
    DrawStoredBitmap(FrameDialog, surface.Dc(), IDC_PICTURE, bitmap);
    EXPECT_EQ(surface.CountOf(RGB(10, 200, 30)), 2 * 4) << "columns 1 and 2, rows 1 to 4";
    EXPECT_EQ(surface.CountOf(RGB(0, 0, 0)), 4 * 4) << "columns 3 to 6";

    HPALETTE palette = CreateBitmapPalette(surface.Dc(), bitmap);
    ASSERT_NE(palette, nullptr);
    PALETTEENTRY entries[256];
    ASSERT_EQ(GetPaletteEntries(palette, 0, 256, entries), 256u);
    EXPECT_EQ(RGB(entries[1].peRed, entries[1].peGreen, entries[1].peBlue), RGB(10, 200, 30));
    for (int i = 2; i < 256; ++i)
        EXPECT_EQ(RGB(entries[i].peRed, entries[i].peGreen, entries[i].peBlue), RGB(0, 0, 0)) << i;
    EXPECT_EQ(entries[0].peFlags, PC_NOCOLLAPSE);
    EXPECT_EQ(entries[100].peFlags, 0);
    DeleteObject(palette);
    FreeAndClear(&bitmap);
}

TEST_F(PagesTest, DamagedPicturesAreNotDrawn)
{
    std::vector<uint8_t> claimsMoreRows = StoredBitmap(8, 6, 24, false, {}, Stripes);
    Put32(claimsMoreRows, 22, 600);
    std::vector<uint8_t> hugeTable = StoredBitmap(8, 6, 8, false, {RGB(1, 2, 3)}, Stripes);
    Put32(hugeTable, 46, 0x40000001);
    std::vector<uint8_t> zeroWidth = StoredBitmap(8, 6, 24, false, {}, Stripes);
    Put32(zeroWidth, 18, 0);
    std::vector<uint8_t> tooShort(40, 0);
    std::vector<uint8_t> rle = StoredBitmap(8, 6, 8, false, {RGB(1, 2, 3)}, Stripes);
    Put32(rle, 30, 1);
    struct Case {
        const char* name;
        std::vector<uint8_t> bitmap;
    } cases[] = {
        {"header claims more rows than stored", claimsMoreRows},
        {"colour count that wraps in 32 bits", hugeTable},
        {"zero width", zeroWidth},
        {"shorter than the headers", tooShort},
        {"run-length compressed", rle},
    };
    OpenWindows(false);
    RECT client;
    GetClientRect(FrameDialog, &client);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Surface surface(client.right, client.bottom);
        uint8_t* bitmap = Owned(c.bitmap);
        DrawStoredBitmap(FrameDialog, surface.Dc(), IDC_PICTURE, bitmap);
        EXPECT_EQ(CreateBitmapPalette(surface.Dc(), bitmap), nullptr);
        FreeAndClear(&bitmap);
        EXPECT_EQ(surface.CountOf(Paper), client.right * client.bottom);
    }
    Surface surface(client.right, client.bottom);
    DrawStoredBitmap(FrameDialog, surface.Dc(), IDC_PICTURE, nullptr);
    DrawStoredBitmap(FrameDialog, surface.Dc(), 4321, nullptr);
    EXPECT_EQ(surface.CountOf(Paper), client.right * client.bottom);
}

TEST_F(PagesTest, LargePictureIsClippedToItsControl)
{
    OpenWindows(false);
    RECT client;
    GetClientRect(FrameDialog, &client);
    RECT area;
    GetWindowRect(GetDlgItem(FrameDialog, IDC_PICTURE), &area);
    MapWindowPoints(nullptr, FrameDialog, reinterpret_cast<POINT*>(&area), 2);
    Surface surface(client.right, client.bottom);
    uint8_t* bitmap = Owned(StoredBitmap(client.right + 40, client.bottom + 40, 24, false, {},
                                         [](int, int) -> uint32_t { return RGB(0, 0, 255); }));
    DrawStoredBitmap(FrameDialog, surface.Dc(), IDC_PICTURE, bitmap);
    FreeAndClear(&bitmap);
    int inside = (area.right - area.left) * (area.bottom - area.top);
    EXPECT_EQ(surface.CountOf(RGB(0, 0, 255)), inside);
    EXPECT_EQ(surface.At(area.left + 5, area.top + 5), RGB(0, 0, 255));
    EXPECT_EQ(surface.At(area.right, area.top + 5), Paper);
}

TEST_F(PagesTest, PanelIsASunkenEdge)
{
    Surface surface(20, 10);
    RECT r = {2, 1, 12, 9};
    DrawSunkenEdge(surface.Dc(), r, true);
    EXPECT_EQ(surface.At(2, 1), GetSysColor(COLOR_BTNSHADOW));
    EXPECT_EQ(surface.At(10, 1), GetSysColor(COLOR_BTNSHADOW));
    EXPECT_EQ(surface.At(2, 7), GetSysColor(COLOR_BTNSHADOW));
    EXPECT_EQ(surface.At(2, 8), GetSysColor(COLOR_BTNHIGHLIGHT));
    EXPECT_EQ(surface.At(11, 1), GetSysColor(COLOR_BTNHIGHLIGHT));
    EXPECT_EQ(surface.At(5, 5), GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(surface.At(12, 5), Paper);
    EXPECT_EQ(surface.At(1, 5), Paper);

    surface.Fill(Paper);
    DrawSunkenEdge(surface.Dc(), r, false);
    EXPECT_EQ(surface.At(5, 5), Paper);
    // Degenerate rectangles draw nothing wrong and never fill outside.
    RECT tiny = {15, 5, 16, 6};
    DrawSunkenEdge(surface.Dc(), tiny, true);
    EXPECT_EQ(surface.At(14, 5), Paper);
    EXPECT_EQ(surface.At(16, 5), Paper);
}

// --- background ----------------------------------------------------------------

TEST_F(PagesTest, DitheredGradientFollowsThePattern)
{
    const int width = 24, height = 100;
    Surface surface(width, height);
    RECT client = {0, 0, width, height};
    PaintGradient(surface.Dc(), client, client, false);
    for (int y = 0; y < height; ++y) {
        uint32_t colours[8];
        GradientBandColours(y - y % 8, height, colours);
        for (int x = 0; x < width; ++x) {
            // Bottom-up pattern: the band's top row is the table's last.
            uint8_t index = GradientDitherTable[(7 - y % 8) * 8 + x % 8];
            ASSERT_EQ(surface.At(x, y), colours[index]) << x << "," << y;
        }
    }
}

TEST_F(PagesTest, SolidGradientPaintsOnlyThePaintRectangle)
{
    const int width = 16, height = 90;
    Surface surface(width, height);
    RECT client = {0, 0, width, height};
    RECT paint = {2, 10, 14, 60};
    PaintGradient(surface.Dc(), client, paint, true);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            bool inside = x >= paint.left && x < paint.right && y >= paint.top && y < paint.bottom;
            ASSERT_EQ(surface.At(x, y), inside ? GradientColour(y, height) : Paper) << x << "," << y;
        }

    surface.Fill(Paper);
    RECT empty = {0, 0, width, 0};
    PaintGradient(surface.Dc(), empty, client, true);
    PaintGradient(surface.Dc(), empty, client, false);
    EXPECT_EQ(surface.CountOf(Paper), width * height);
}

TEST_F(PagesTest, PictureIsTiledFromTheTopLeft)
{
    const int width = 11, height = 9;
    Surface surface(width, height);
    std::vector<uint8_t> bytes = StoredBitmap(3, 2, 24, false, {},
                                              [](int x, int y) -> uint32_t { return RGB(x * 80, y * 200, 7); });
    StoredBitmapView view;
    ASSERT_TRUE(ReadStoredBitmap(bytes.data(), static_cast<uint32_t>(bytes.size()), &view));
    RECT client = {0, 0, width, height};
    PaintTiles(surface.Dc(), client, client, view);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            ASSERT_EQ(surface.At(x, y), RGB((x % 3) * 80, (y % 2) * 200, 7)) << x << "," << y;
}

TEST_F(PagesTest, TitleIsDrawnWithItsShadow)
{
    std::vector<uint8_t> style(TitleStyleSize, 0);
    Put32(style, 0, RGB(0, 0, 0));
    Put32(style, 4, RGB(255, 255, 0));
    LOGFONTA font = {};
    font.lfHeight = -30;
    font.lfWeight = FW_BOLD;
    std::strcpy(font.lfFaceName, "Arial");
    std::memcpy(style.data() + 8, &font, sizeof font);

    Surface surface(200, 60);
    surface.Fill(RGB(0, 0, 255));
    DrawTitle(surface.Dc(), "MW", nullptr);
    DrawTitle(surface.Dc(), "", style.data());
    EXPECT_EQ(surface.CountOf(RGB(0, 0, 255)), 200 * 60) << "no title without both text and style";

    DrawTitle(surface.Dc(), "MW", style.data());
    EXPECT_GT(surface.CountOf(RGB(255, 255, 0)), 50);
    EXPECT_GT(surface.CountOf(RGB(0, 0, 0)), 20);
    // Text from 10, 10 and its shadow 4 pixels further: nothing above or
    // left of them.
    for (int x = 0; x < 200; ++x)
        for (int y = 0; y < 10; ++y)
            ASSERT_EQ(surface.At(x, y), RGB(0, 0, 255)) << x << "," << y;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 10; ++x)
            ASSERT_EQ(surface.At(x, y), RGB(0, 0, 255)) << x << "," << y;

    // A face name without its terminator is cut, not read past.
    std::memset(style.data() + 8 + offsetof(LOGFONTA, lfFaceName), 'A', LF_FACESIZE);
    DrawTitle(surface.Dc(), "MW", style.data());
}
