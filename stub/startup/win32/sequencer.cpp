// The page sequencer: seven pages in a fixed row, each a modeless dialog
// with its own message loop that ends when PageResult is set.
#include <windows.h>

#include "../../pages/win32/pages.h"
#include "../../shared/state.h"
#include "../../shared/win32/window_state.h"
#include "sequencer.h"

namespace zevrin {

namespace {

// The procedure of each page; their templates are PageTemplates.
const DLGPROC PageProcedures[PageCount] = {
    WelcomePageProc, InfoPageProc, DirectoryPageProc, ReadyPageProc, ProgressPageProc, FinishPageProc, EndPageProc,
};

// The dialog of template `number`, or null when the system refuses to make
// it or makes it without a control its page needs: damage in the package.
HWND MakePage(void* dialogTemplate, unsigned number, DLGPROC procedure, LPARAM parameter)
{
    HWND page = CreateDialogIndirectParamA(ModuleInstance, static_cast<LPCDLGTEMPLATEA>(dialogTemplate), FrameDialog,
                                           procedure, parameter);
    if (page && !HasNeededControls(page, number)) {
        DestroyWindow(page);
        if (CurrentPageWindow == page)
            CurrentPageWindow = nullptr;
        page = nullptr;
    }
    return page;
}

} // namespace

int RunPage(unsigned templateNumber, DLGPROC procedure, LPARAM parameter)
{
    PageResult = PageRunning;
    if (templateNumber == NoTemplate)
        return PageCancel;
    void* dialogTemplate = LoadTemplate(templateNumber);
    if (!dialogTemplate)
        return PageNext;
    HWND page = MakePage(dialogTemplate, templateNumber, procedure, parameter);
    if (!page) {
        FreeTemplate(dialogTemplate);
        return PageNotMade;
    }
    MSG message;
    while (PageResult == PageRunning) {
        if (GetMessageA(&message, nullptr, 0, 0) <= 0) {
            PageResult = PageCancel;
            break;
        }
        DispatchPageMessage(page, &message);
    }
    DestroyWindow(page);
    if (CurrentPageWindow == page)
        CurrentPageWindow = nullptr;
    int result = PageResult;
    FreeTemplate(dialogTemplate);
    return result;
}

bool RunWizard()
{
    // A start page outside the table runs nothing.
    if (StartPage != WizardMode && StartPage >= PageCount)
        return true;
    CurrentPage = StartPage != WizardMode ? StartPage : 0;
    for (;;) {
        int result = RunPage(PageTemplates[CurrentPage], PageProcedures[CurrentPage], 0);
        if (result == PageNotMade)
            return false;
        // Cancel, Escape or Close before anything was installed; on the
        // finish page they only end the wizard.
        if (result == PageCancel && InstallOutcome == OutcomeNone)
            InstallOutcome = OutcomeCancelled;
        if (StartPage != WizardMode)
            return true;
        // A page may have moved CurrentPage with GoToPage.
        if (result == PageNext)
            CurrentPage = CurrentPage >= PageCount - 1 ? -1 : CurrentPage + 1;
        else if (result == PageCancel)
            CurrentPage = -1;
        else if (result == PageBack && CurrentPage > 0)
            --CurrentPage;
        if (CurrentPage < 0 || CurrentPage >= PageCount)
            return true;
    }
}

namespace {

// Made only to be looked at: no page procedure runs, and the focus is
// left where it is.
INT_PTR CALLBACK TrialPageProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

} // namespace

bool PagesCanBeMade()
{
    bool loaded[NoTemplate];
    TemplatesOfRun(HeaderFlags & FlagFullScreen, StartPage, loaded);
    for (unsigned n = TemplateDirectory; n <= TemplateFinish; ++n) {
        if (!loaded[n])
            continue;
        void* dialogTemplate = LoadTemplate(n);
        // Without memory for it RunPage passes the page by, as here.
        if (!dialogTemplate)
            continue;
        HWND page = MakePage(dialogTemplate, n, TrialPageProc, 0);
        if (page)
            DestroyWindow(page);
        FreeTemplate(dialogTemplate);
        if (!page)
            return false;
    }
    return true;
}

} // namespace zevrin
