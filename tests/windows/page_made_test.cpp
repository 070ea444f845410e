// Page dialogs the dialog manager refuses to make, or makes without a
// control their page needs, on real windows: every item class the header
// check admits is made; and the trial of the pages before the wizard,
// RunPage and RunWizard find the damaged ones (the header check, which
// refuses them first, is passed by here).
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "../../stub/startup/templates.h"
#include "../../stub/startup/win32/sequencer.h"
#include "../host/template_builder.h"
#include "page_fixture.h"

using namespace zevrin;

namespace {

INT_PTR CALLBACK TrivialProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

int InitDialogsSeen;
INT_PTR CALLBACK CountingProc(HWND, UINT message, WPARAM, LPARAM)
{
    if (message == WM_INITDIALOG)
        ++InitDialogsSeen;
    return FALSE;
}

int ChildrenOf(HWND window)
{
    int n = 0;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        ++n;
    return n;
}

class PageMadeTest : public PageFixture {
protected:
    static void SetUpTestSuite()
    {
        PageFixture::SetUpTestSuite();
        InitCommonControls(); // as start-up does
    }
    void SetUp() override
    {
        PageFixture::SetUp();
        OpenWindows(false);
    }
    void TearDown() override
    {
        FreeAndClear(&TemplateBlob);
        TemplateBlobSize = 0;
        zevrin::StartPage = WizardMode;
        PageFixture::TearDown();
    }

    // The default templates as a blob, with template `replaced` (when one
    // of them) swapped for `replacement`.
    static void UseTemplates(unsigned replaced = NoTemplate, const std::vector<uint8_t>& replacement = {})
    {
        std::vector<uint8_t> blob(4 * NoTemplate, 0);
        for (unsigned n = 0; n < NoTemplate; ++n) {
            uint32_t at = static_cast<uint32_t>(blob.size());
            for (int i = 0; i < 4; ++i)
                blob[4 * n + i] = static_cast<uint8_t>(at >> (8 * i));
            HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(TEMPLATE_RESOURCE_BASE + n), RT_DIALOG);
            ASSERT_NE(resource, nullptr);
            const uint8_t* bytes = static_cast<const uint8_t*>(LockResource(LoadResource(nullptr, resource)));
            if (n == replaced)
                blob.insert(blob.end(), replacement.begin(), replacement.end());
            else
                blob.insert(blob.end(), bytes, bytes + SizeofResource(nullptr, resource));
            while (blob.size() % 4)
                blob.push_back(0);
        }
        FreeAndClear(&TemplateBlob);
        AllocWithRetry(static_cast<uint32_t>(blob.size()), &TemplateBlob);
        std::memcpy(TemplateBlob, blob.data(), blob.size());
        TemplateBlobSize = static_cast<uint32_t>(blob.size());
    }
};

// The check must not refuse a class the platform makes: each one it
// admits becomes a control of a page made inside the frame.
TEST_F(PageMadeTest, EveryItemClassTheCheckAdmitsIsMade)
{
    std::vector<std::function<void(DialogWriter&)>> classes;
    for (uint16_t ordinal = FirstItemOrdinal; ordinal <= LastItemOrdinal; ++ordinal)
        classes.push_back([ordinal](DialogWriter& w) { w.Ordinal(ordinal); });
    for (unsigned i = 0; i < ItemClassNameCount; ++i) {
        std::string name = ItemClassNames[i];
        classes.push_back([name](DialogWriter& w) { w.Text(std::u16string(name.begin(), name.end())); });
    }
    for (size_t i = 0; i < classes.size(); ++i) {
        SCOPED_TRACE(i < 6 ? "ordinal " + std::to_string(FirstItemOrdinal + i) : ItemClassNames[i - 6]);
        DialogWriter w;
        w.Classic(DialogWriter::ChildVisible, 1).None().None().Text(u"").Item(7);
        classes[i](w);
        w.Text(u"").Data({});
        std::vector<uint8_t> bytes = w.Bytes();
        bytes.resize(bytes.size() + 16, 0);
        ASSERT_TRUE(CheckDialogTemplate(bytes.data(), static_cast<uint32_t>(bytes.size()), NoTemplate));
        HWND page = CreateDialogIndirectParamA(ModuleInstance, reinterpret_cast<LPCDLGTEMPLATEA>(bytes.data()),
                                               FrameDialog, TrivialProc, 0);
        ASSERT_NE(page, nullptr);
        EXPECT_NE(GetDlgItem(page, 7), nullptr);
        DestroyWindow(page);
    }
}

// Each of these would be refused with the header; here they reach the
// windows. None is made into a usable page: the trial before the wizard
// finds it, RunPage gives PageNotMade and leaves no window, and the
// wizard ends at once.
TEST_F(PageMadeTest, APageThatCannotBeMadeIsFoundBeforeTheWizardAndByRunPage)
{
    const uint32_t child = DialogWriter::ChildVisible;
    const uint32_t noFailCreate = 0x10; // DS_NOFAILCREATE: a control that fails is left out
    struct Case {
        const char* why;
        unsigned number;
        int page; // a page that uses the template
        std::vector<uint8_t> dialog;
        int initDialogs; // WM_INITDIALOGs the page procedure sees in RunPage
    } cases[] = {
        {"an item of a class nobody made", TemplateWelcomeReady, 0,
         DialogWriter().Classic(child, 1).None().None().Text(u"").Item(1020).Text(u"NoSuchClass").Text(u"")
             .Data({}).Bytes(),
         0},
        {"an item of class ordinal 0x00FF", TemplateProgress, 4,
         DialogWriter().Classic(child, 1).None().None().Text(u"").Item(1009).Ordinal(0xFF).Text(u"").Data({})
             .Bytes(),
         0},
        {"the dialog's class an unregistered ordinal", TemplateFinish, 5,
         DialogWriter().Classic(child, 1).None().Ordinal(0x4444).Text(u"").Static(1000).Bytes(), 0},
        // Made, but the folder field is left out: the page procedure has
        // run its WM_INITDIALOG when the page is found wanting.
        {"the folder field of a class nobody made, left out", TemplateDirectory, 2,
         DialogWriter().Classic(child | noFailCreate, 2).None().None().Text(u"").Static(1000).Item(1004)
             .Text(u"NoSuchEdit").Text(u"").Data({}).Bytes(),
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        std::vector<uint8_t> dialog = c.dialog;
        UseTemplates(c.number, dialog);
        int children = ChildrenOf(FrameDialog);

        zevrin::StartPage = WizardMode;
        EXPECT_FALSE(PagesCanBeMade());
        EXPECT_EQ(ChildrenOf(FrameDialog), children);

        InitDialogsSeen = 0;
        EXPECT_EQ(RunPage(c.number, CountingProc, 0), PageNotMade);
        EXPECT_EQ(InitDialogsSeen, c.initDialogs);
        EXPECT_EQ(ChildrenOf(FrameDialog), children);
        EXPECT_EQ(CurrentPageWindow, nullptr);

        // Alone, the page ends the wizard as not made.
        zevrin::StartPage = static_cast<uint16_t>(c.page);
        EXPECT_FALSE(PagesCanBeMade());
        EXPECT_FALSE(RunWizard());
        EXPECT_EQ(ChildrenOf(FrameDialog), children);
        EXPECT_EQ(CurrentPageWindow, nullptr);
    }
}

// The trial of sound pages makes and destroys each, leaving the frame as
// it was and no page procedure run.
TEST_F(PageMadeTest, SoundPagesPassTheTrialAndLeaveNothingBehind)
{
    UseTemplates();
    int children = ChildrenOf(FrameDialog);
    for (uint16_t page : {uint16_t(WizardMode), uint16_t(0), uint16_t(2), uint16_t(5)}) {
        SCOPED_TRACE(page);
        zevrin::StartPage = page;
        EXPECT_TRUE(PagesCanBeMade());
        EXPECT_EQ(ChildrenOf(FrameDialog), children);
        EXPECT_EQ(CurrentPageWindow, nullptr);
    }
    EXPECT_TRUE(HasNeededControls(FrameDialog, TemplateFrameWindowed));
}

} // namespace
