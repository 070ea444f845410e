// The directory page (page 2): the install folder, the space its drive
// has and the package needs, the folder check on Next, and the folder
// browser built on the platform's save-file dialog.
#include <windows.h>
#include <commdlg.h>

#include <cstdint>
#include <cstring>

#include "../../engine/disk_space.h"
#include "../../engine/file_table.h"
#include "../../engine/paths.h"
#include "../../engine/win32/space.h"
#include "../../shared/messages.h"
#include "../../shared/state.h"
#include "../../shared/win32/shown_text.h"
#include "../dialog_templates.h"
#include "pages.h"

namespace zevrin {

namespace {

const unsigned DirectoryGroup = 2;

enum : int {
    IdFolderEdit = 1004,
    IdBrowse = 1005,
    IdSpaceRequired = 1016,
    IdSpaceRequiredLabel = 1017,
    IdSpaceFreeLabel = 1018,
    IdSpaceFree = 1019,
};

// Controls of the folder browser's template besides OK and Cancel.
enum : int { IdBrowseFolder = 101, IdBrowseFolderLabel = 1009, IdBrowseDrivesLabel = 1091 };

// The command that makes the save-file dialog end with success although
// its own file-name field is empty.
const WPARAM BrowseCloseCommand = 3;

const unsigned CheckMessageSize = 1024;

UINT SelChangeMessage;
char* BrowseFolder;
bool BrowseReady;

// The edit field into InstallDir; a longer text is cut to a path's size.
void ReadFolderField(HWND page)
{
    InstallDir[0] = 0;
    GetDlgItemTextA(page, IdFolderEdit, InstallDir, PathSize);
}

// A text of format 2, 7 with a megabyte count. "%d" takes a signed
// 32-bit number; more (2 PB and up) shows as the most it can.
void ShowMegabytes(HWND page, int id, uint64_t megabytes)
{
    const uint64_t shownMaximum = 0x7FFFFFFF;
    char text[MaxShownText + 1];
    long shown = static_cast<long>(megabytes > shownMaximum ? shownMaximum : megabytes);
    FormatText(text, sizeof text, GetMessageText(DirectoryGroup, TextFolderSizeFormat), "", shown);
    SetShownItemText(page, id, text);
}

// Free megabytes, rounded up. Unknown counts as none; "too much to count"
// is at least 4 TiB, and shows as that.
uint64_t FreeMegabytes(uint32_t freeKB)
{
    if (freeKB == FreeSpaceUnknown)
        return 0;
    return (uint64_t(freeKB) + 1023) >> 10;
}

// Every file of the table in whole clusters, in bytes. A sum past 64 bits
// (only a damaged cluster size gets there) stays at the most it can.
uint64_t RequiredBytes(uint32_t clusterKB)
{
    uint64_t clusterBytes = uint64_t(clusterKB) * 1024;
    uint64_t total = 0;
    const uint8_t* entry = FirstEntry;
    for (uint32_t i = 0; i < EntryCount && entry; ++i, entry = NextEntry(entry)) {
        uint64_t rounded = RoundToClusters(EntryU32(entry, EntryFileSize), clusterBytes);
        total = rounded > UINT64_MAX - total ? UINT64_MAX : total + rounded;
    }
    return total;
}

void RestorePageTexts(HWND page)
{
    for (unsigned i = 2; i <= 4; ++i)
        SetShownItemText(page, IdPageText0 + static_cast<int>(i) - 1, GetMessageText(DirectoryGroup, i));
}

// Step 2 of Next: InstallDir (without its backslash) becomes the current
// folder, made when the user agrees. False when the page is to stay.
bool EnterInstallDir()
{
    if (SetCurrentDirectoryA(InstallDir))
        return true;
    const char* question = GetMessageText(GroupMessages, MsgCreateFolder);
    if (*question && ShowMessage(question, MessageYesNo) != AnswerYes)
        return false;
    AppendBackslash(InstallDir);
    MakeDirectories(InstallDir);
    StripBackslash(InstallDir);
    if (SetCurrentDirectoryA(InstallDir))
        return true;
    ShowMessage(GetMessageText(GroupMessages, MsgInvalidFolder), MessageInformation);
    return false;
}

// Steps 3 to 5 of Next: 0 when the installation may go on.
int CheckInstallDir(HWND page)
{
    SetShownItemText(page, IdPageText0 + 1, GetMessageText(GroupMessages, MsgCheckingSpace));
    SetDlgItemTextA(page, IdPageText0 + 2, "");
    SetDlgItemTextA(page, IdPageText0 + 3, "");
    // The check reads every destination; show the status before it runs.
    UpdateWindow(page);
    int result = CheckDiskSpace();
    if (result == ErrorDiskSpace) {
        if (ShowMessage(GetMessageText(GroupMessages, MsgNotEnoughSpace), MessageYesNo) == AnswerYes)
            result = 0;
    } else if (result) {
        char text[CheckMessageSize];
        lstrcpynA(text, GetMessageText(GroupMessages, MsgCheckFailed), sizeof text);
        size_t used = std::strlen(text);
        lstrcpynA(text + used, "\n\n", static_cast<int>(sizeof text - used));
        used = std::strlen(text);
        FormatErrorText(text + used, static_cast<unsigned>(sizeof text - used), result);
        ShowMessage(text, MessageInformation);
    }
    return result;
}

INT_PTR DirectoryOnInitDialog(HWND page)
{
    ApplyPageChrome(page, ButtonBack | ButtonNext | ButtonCancel);
    StripBackslash(InstallDir);
    SetDlgItemTextA(page, IdFolderEdit, InstallDir);
    AppendBackslash(InstallDir);
    SetShownItemText(page, IdSpaceRequiredLabel, GetMessageText(DirectoryGroup, TextFolderRequiredLabel));
    SetShownItemText(page, IdSpaceFreeLabel, GetMessageText(DirectoryGroup, TextFolderFreeLabel));
    UpdateSpaceTexts(page);
    if (HeaderFlags & FlagFolderEditable) {
        SetFocus(GetDlgItem(page, IdFolderEdit));
        return FALSE; // the focus is set
    }
    SendDlgItemMessageA(page, IdFolderEdit, EM_SETREADONLY, TRUE, 0);
    EnableWindow(GetDlgItem(page, IdBrowse), FALSE);
    return TRUE;
}

INT_PTR DirectoryOnNext(HWND page)
{
    ReadFolderField(page);
    StripBackslash(InstallDir);
    char full[PathSize];
    DWORD length = GetFullPathNameA(InstallDir, PathSize, full, nullptr);
    // A longer result did not fit and was not written.
    if (length > 0 && length < PathSize)
        lstrcpynA(InstallDir, full, PathSize);
    if (!EnterInstallDir())
        return ConsumeCommand(page);
    AppendBackslash(InstallDir);
    if (CheckInstallDir(page)) {
        RestorePageTexts(page);
        return ConsumeCommand(page);
    }
    return DefaultPageHandler(WM_COMMAND, IdNext);
}

INT_PTR DirectoryOnCommand(HWND page, WPARAM wParam)
{
    int id = LOWORD(wParam);
    // A page that runs alone leaves its buttons to the frame.
    if (StartPage != WizardMode && id != IdFolderEdit && id != IdBrowse)
        return DefaultPageHandler(WM_COMMAND, wParam);
    switch (id) {
    case IdFolderEdit:
        ReadFolderField(page);
        UpdateSpaceTexts(page);
        break;
    case IdBrowse:
        if (HIWORD(wParam) != BN_CLICKED)
            break;
        ReadFolderField(page);
        BrowseForFolder(page, InstallDir);
        StripBackslash(InstallDir);
        SetDlgItemTextA(page, IdFolderEdit, InstallDir);
        break;
    case IdBack:
        // Back skips an information page without text, as Next on the
        // welcome page does.
        if (!*GetMessageText(1, TextInformation)) {
            GoToPage(0);
            return ConsumeCommand(page);
        }
        break;
    case IdNext: return DirectoryOnNext(page);
    default: break;
    }
    return DefaultPageHandler(WM_COMMAND, wParam);
}

// --- folder browser ---

// The current folder is the one the dialog shows: it changes folders as
// the user moves through them.
void ShowBrowsedFolder(HWND dialog)
{
    char folder[PathSize];
    DWORD length = GetFullPathNameA(".", PathSize, folder, nullptr);
    if (length == 0 || length >= PathSize)
        return;
    OemToCharA(folder, folder);
    lstrcpynA(BrowseFolder, folder, PathSize);
    SetDlgItemTextA(dialog, IdBrowseFolder, BrowseFolder);
}

void CentreOverParent(HWND dialog)
{
    RECT area = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (HWND parent = GetParent(dialog))
        GetWindowRect(parent, &area);
    RECT r;
    GetWindowRect(dialog, &r);
    int left = area.left + ((area.right - area.left) - (r.right - r.left)) / 2;
    int top = area.top + ((area.bottom - area.top) - (r.bottom - r.top)) / 2;
    SetWindowPos(dialog, nullptr, left < 0 ? 0 : left, top < 0 ? 0 : top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

UINT_PTR BrowseOnInitDialog(HWND dialog)
{
    ApplyDialogFont(dialog);
    SetDlgItemTextA(dialog, IdBrowseFolder, BrowseFolder);
    BrowseReady = true;
    SetShownText(dialog, GetMessageText(GroupMessages, MsgBrowseTitle));
    SetShownItemText(dialog, IdBrowseFolderLabel, GetMessageText(GroupMessages, MsgBrowseFolderLabel));
    SetShownItemText(dialog, IdBrowseDrivesLabel, GetMessageText(GroupMessages, MsgBrowseDrivesLabel));
    SetShownItemText(dialog, IDOK, GetMessageText(GroupButtons, CaptionOk));
    SetShownItemText(dialog, IDCANCEL, GetMessageText(GroupButtons, CaptionStop));
    CentreOverParent(dialog);
    return 1;
}

UINT_PTR CALLBACK BrowseHookProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == SelChangeMessage && SelChangeMessage && BrowseReady) {
        ShowBrowsedFolder(dialog);
        return 0;
    }
    if (message == WM_INITDIALOG)
        return BrowseOnInitDialog(dialog);
    // OK with a folder: the dialog's own OK wants a file name, so the
    // folder is confirmed by the command that ends it with success.
    if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
        BrowseFolder[0] = 0;
        GetDlgItemTextA(dialog, IdBrowseFolder, BrowseFolder, PathSize);
        if (BrowseFolder[0])
            PostMessageA(dialog, WM_COMMAND, BrowseCloseCommand, 1);
    }
    return 0;
}

} // namespace

void UpdateSpaceTexts(HWND page)
{
    uint32_t clusterKB = 1;
    uint32_t freeKB = FreeDiskSpaceKB(InstallDir, &clusterKB);
    ShowMegabytes(page, IdSpaceFree, FreeMegabytes(freeKB));
    uint64_t required = RequiredBytes(clusterKB);
    ShowMegabytes(page, IdSpaceRequired, (required >> 20) + ((required & 0xFFFFF) != 0));
}

bool BrowseForFolder(HWND owner, char* path)
{
    if (!SelChangeMessage)
        SelChangeMessage = RegisterWindowMessageA("commdlg_LBSelChangedNotify");
    void* browserTemplate = LoadTemplate(TemplateFolderBrowser);
    if (!browserTemplate)
        return false;
    if (!AllocZeroedWithRetry(PathSize, &BrowseFolder)) {
        FreeTemplate(browserTemplate);
        return false;
    }
    lstrcpynA(BrowseFolder, path, PathSize);
    char fileName[PathSize] = {};
    OPENFILENAMEA dialog;
    std::memset(&dialog, 0, sizeof dialog);
    // The size the first 32-bit systems know; later fields stay unused.
    dialog.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    dialog.hwndOwner = owner;
    dialog.hInstance = static_cast<HINSTANCE>(browserTemplate);
    dialog.lpstrFilter = "*.*\0*.*\0";
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = fileName;
    dialog.nMaxFile = PathSize;
    dialog.lpstrInitialDir = BrowseFolder;
    dialog.Flags = OFN_ENABLEHOOK | OFN_ENABLETEMPLATEHANDLE;
    dialog.lpfnHook = BrowseHookProc;
    BrowseReady = false;
    bool chosen = GetSaveFileNameA(&dialog) != FALSE;
    if (chosen)
        lstrcpynA(path, BrowseFolder, PathSize);
    BrowseReady = false;
    FreeAndClear(&BrowseFolder);
    FreeTemplate(browserTemplate);
    return chosen;
}

INT_PTR CALLBACK DirectoryPageProc(HWND page, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: return DirectoryOnInitDialog(page);
    case WM_COMMAND: return DirectoryOnCommand(page, wParam);
    default: return DefaultPageHandler(message, wParam);
    }
}

} // namespace zevrin
