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

} // namespace

int RunPage(unsigned templateNumber, DLGPROC procedure, LPARAM parameter)
{
    PageResult = PageRunning;
    if (templateNumber == NoTemplate)
        return PageCancel;
    void* dialogTemplate = LoadTemplate(templateNumber);
    if (!dialogTemplate)
        return PageNext;
    HWND page = CreateDialogIndirectParamA(ModuleInstance, static_cast<LPCDLGTEMPLATEA>(dialogTemplate), FrameDialog,
                                           procedure, parameter);
    if (!page) {
        FreeTemplate(dialogTemplate);
        return PageCancel;
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

void RunWizard()
{
    // A start page outside the table runs nothing.
    if (StartPage != WizardMode && StartPage >= PageCount)
        return;
    CurrentPage = StartPage != WizardMode ? StartPage : 0;
    for (;;) {
        int result = RunPage(PageTemplates[CurrentPage], PageProcedures[CurrentPage], 0);
        if (StartPage != WizardMode)
            return;
        // A page may have moved CurrentPage with GoToPage.
        if (result == PageNext)
            CurrentPage = CurrentPage >= PageCount - 1 ? -1 : CurrentPage + 1;
        else if (result == PageCancel)
            CurrentPage = -1;
        else if (result == PageBack && CurrentPage > 0)
            --CurrentPage;
        if (CurrentPage < 0 || CurrentPage >= PageCount)
            return;
    }
}

} // namespace zevrin
