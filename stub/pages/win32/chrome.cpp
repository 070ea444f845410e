// What every page shares: its place in the frame, font, heading, texts,
// button captions and states, colours, and the command protocol with the
// frame dialog.
#include <windows.h>

#include <cstring>

#include "../../shared/state.h"
#include "../../shared/win32/window_state.h"
#include "../../shared/messages.h"
#include "../../shared/win32/shown_text.h"
#include "pages.h"

namespace zevrin {

namespace {

const unsigned TitleBufferSize = 1024;

// Bounded copy that always terminates.
void CopyText(char* destination, unsigned capacity, const char* text)
{
    if (!capacity)
        return;
    size_t length = std::strlen(text);
    if (length >= capacity)
        length = capacity - 1;
    std::memcpy(destination, text, length);
    destination[length] = 0;
}

void PlaceOnPlaceholder(HWND page)
{
    HWND placeholder = GetDlgItem(FrameDialog, IdPlaceholder);
    if (!placeholder)
        return;
    RECT r;
    GetWindowRect(placeholder, &r);
    POINT corner = {r.left, r.top};
    ScreenToClient(FrameDialog, &corner);
    SetWindowPos(page, nullptr, corner.x, corner.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

// Full screen: the frame's own caption is the heading. Windowed: the
// background window's caption reads "title - heading".
void ShowHeading()
{
    const char* heading = GetMessageText(static_cast<unsigned>(CurrentPage), TextHeading);
    const char* title = GetMessageText(GroupMessages, MsgTitle);
    SetShownText(BackgroundWindow, title);
    if (!*heading)
        return;
    if (HeaderFlags & FlagFullScreen) {
        SetShownText(FrameDialog, heading);
        return;
    }
    char caption[TitleBufferSize];
    CopyText(caption, sizeof caption, title);
    size_t used = std::strlen(caption);
    CopyText(caption + used, static_cast<unsigned>(sizeof caption - used), " - ");
    used = std::strlen(caption);
    CopyText(caption + used, static_cast<unsigned>(sizeof caption - used), heading);
    SetShownText(BackgroundWindow, caption);
}

void FillPageTexts(HWND page)
{
    for (unsigned i = 1; i <= 4; ++i) {
        int id = IdPageText0 + static_cast<int>(i) - 1;
        // The information page's text is a scrolling edit control.
        unsigned limit = CurrentPage == 1 && i == TextInformation ? MaxInformationText : MaxShownText;
        SetShownItemText(page, id, GetMessageText(static_cast<unsigned>(CurrentPage), i), limit);
    }
}

void EnableFrameButton(int id, bool enabled)
{
    HWND button = GetDlgItem(FrameDialog, id);
    if (button)
        EnableWindow(button, enabled);
}

} // namespace

void ApplyPageChrome(HWND page, unsigned state)
{
    CurrentPageWindow = page;
    ApplyDialogFont(page);
    PlaceOnPlaceholder(page);
    ShowHeading();
    FillPageTexts(page);
    SetButtonText(ButtonBack, CaptionBack);
    SetButtonText(ButtonNext, CaptionNext);
    SetButtonText(ButtonCancel, CaptionCancel);
    // A page that runs alone has nothing to lose by ending at once.
    if (StartPage != WizardMode)
        state |= ButtonQuietCancel;
    SetPageButtons(state);
}

void SetPageButtons(unsigned state)
{
    ButtonState = state;
    EnableFrameButton(IdBack, (state & ButtonBack) != 0);
    EnableFrameButton(IdNext, (state & ButtonNext) != 0);
    EnableFrameButton(IdCancel, (state & ButtonCancel) != 0);
}

void SetButtonText(unsigned which, unsigned index)
{
    int id;
    switch (which) {
    case ButtonBack: id = IdBack; break;
    case ButtonNext: id = IdNext; break;
    case ButtonCancel: id = IdCancel; break;
    default: return;
    }
    SetShownItemText(FrameDialog, id, GetMessageText(GroupButtons, index));
}

INT_PTR DefaultPageHandler(UINT message, WPARAM wParam)
{
    switch (message) {
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
        SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<INT_PTR>(FaceBrush);
    default:
        return 0;
    }
}

void DispatchPageMessage(HWND page, MSG* message)
{
    // The frame first, so Enter, Escape and Tab reach its buttons.
    if (IsDialogMessageA(FrameDialog, message) || IsDialogMessageA(page, message))
        return;
    TranslateMessage(message);
    DispatchMessageA(message);
}

INT_PTR ConsumeCommand(HWND page)
{
    SetWindowLongPtrA(page, DWLP_MSGRESULT, 1);
    return TRUE;
}

void ApplyDialogFont(HWND dialog)
{
    if (!PageFont) {
        HFONT font = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
        LOGFONTA description;
        if (font && GetObjectA(font, sizeof description, &description) == sizeof description) {
            description.lfWeight = FW_NORMAL;
            PageFont = CreateFontIndirectA(&description);
        }
        if (!PageFont)
            return;
    }
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(PageFont), FALSE);
}

void CreateFaceBrush()
{
    FaceBrush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
    FaceBrushOwned = FaceBrush != nullptr;
    if (!FaceBrush)
        FaceBrush = static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH));
}

void FormatErrorText(char* destination, unsigned capacity, int error)
{
    const char* text = GetMessageText(GroupMessages, static_cast<unsigned>(error));
    if (std::strstr(text, "%s"))
        FormatText(destination, capacity, text, ErrorSubject, 0);
    else
        CopyText(destination, capacity, text);
}

} // namespace zevrin
