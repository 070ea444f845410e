// Dialog templates from the package and the page sequencer: seven pages in
// a fixed row, each a modeless dialog with its own message loop that ends
// when PageResult is set.
#include <windows.h>

#include <cstring>

#include "../../pages/win32/pages.h"
#include "../../shared/state.h"
#include "../../shared/win32/window_state.h"
#include "sequencer.h"

namespace zevrin {

namespace {

struct PageRow {
    unsigned templateNumber;
    DLGPROC procedure;
};

const PageRow PageTable[PageCount] = {
    {5, WelcomePageProc},   {3, InfoPageProc},     {2, DirectoryPageProc}, {5, ReadyPageProc},
    {4, ProgressPageProc},  {6, FinishPageProc},   {NoTemplate, EndPageProc},
};

const uint32_t OffsetTableSize = 4 * NoTemplate;

uint32_t TemplateOffset(unsigned number)
{
    const uint8_t* p = TemplateBlob + 4 * number;
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

} // namespace

void* LoadTemplate(unsigned number)
{
    // A template must lie inside the blob, behind the offset table; a
    // damaged offset loads nothing rather than copying from elsewhere.
    if (number >= NoTemplate || !TemplateBlob || TemplateBlobSize < OffsetTableSize)
        return nullptr;
    uint32_t offset = TemplateOffset(number);
    if (offset < OffsetTableSize || offset >= TemplateBlobSize)
        return nullptr;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, TemplateBlockBytes);
    if (!block)
        return nullptr;
    void* address = GlobalLock(block);
    if (!address) {
        GlobalFree(block);
        return nullptr;
    }
    // The template and what follows it, cut at the block's end; the zeroed
    // rest of the block ends any item list that was cut.
    uint32_t length = TemplateBlobSize - offset;
    if (length > TemplateBlockBytes)
        length = TemplateBlockBytes;
    std::memcpy(address, TemplateBlob + offset, length);
    return address;
}

void FreeTemplate(void* address)
{
    if (!address)
        return;
    HGLOBAL block = GlobalHandle(address);
    if (block) {
        GlobalUnlock(block);
        GlobalFree(block);
    }
}

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
        // The frame first, so Enter, Escape and Tab reach its buttons.
        if (IsDialogMessageA(FrameDialog, &message) || IsDialogMessageA(page, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
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
        const PageRow& row = PageTable[CurrentPage];
        int result = RunPage(row.templateNumber, row.procedure, 0);
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
