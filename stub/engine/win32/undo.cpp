// The Win32 side of rollback: setting files aside, deferring restarts,
// and taking the journal back. A file set aside keeps its bytes, times and
// attributes (it is only renamed, on its own volume), and its name ends in
// ".zvbak": a run that is killed leaves it there, recognisable, rather
// than losing the only copy.
#include "undo.h"

#include <cstring>

#include "../../shared/platform.h"
#include "../../shared/state.h"
#include "../../shared/win32/run_log.h"
#include "../rollback.h"
#include "../uninstall_log.h"
#include "fonts.h"
#include "registry.h"
#include "restart.h"

namespace zevrin {

namespace {

bool JournalOpen;
// Step flag of a font: this run loaded it.
const uint32_t FontAdded = 2;
const unsigned BackupAttempts = 99;

// Not install.cpp's SetErrorSubject: the progress page's tests link this
// file without the engine. Every subject here fits.
void Fail(int error, const char* subject)
{
    ErrorCode = error;
    lstrcpynA(ErrorSubject, subject, PathSize);
}

void FailMemory() { Fail(ErrorCannotCreate, "(memory)"); }

bool Exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

// A running program or a file held open may often be renamed all the
// same; it is in use, as without rollback, when it cannot be written.
bool HeldOpen(const char* path)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return false;
    }
    DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// A file of our own to delete; a read-only one too.
bool DeleteOurs(const char* path)
{
    if (DeleteFileA(path))
        return true;
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    return DeleteFileA(path) != 0;
}

// The value `name` of key as it is now: journalled with kind, path.
// a: 1 when the value was there, with `flags` added; b: its type.
void NoteValue(uint8_t kind, const char* path, HKEY key, const char* name, const char* prefix, uint32_t prefixLength,
               uint32_t flags)
{
    DWORD type = 0;
    DWORD size = 0;
    bool had = key && RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS;
    if (!had)
        size = 0;
    uint8_t* data = nullptr;
    if (!AllocZeroedWithRetry(prefixLength + size + 1, &data)) {
        FailMemory();
        return;
    }
    std::memcpy(data, prefix, prefixLength);
    if (had && RegQueryValueExA(key, name, nullptr, &type, data + prefixLength, &size) != ERROR_SUCCESS)
        had = false;
    if (!JournalAdd(kind, path, data, prefixLength + (had ? size : 0), (had ? 1 : 0) | flags, type))
        FailMemory();
    FreeAndClear(&data);
}

// Puts the value back as the step found it: written again, or deleted.
void RestoreValue(HKEY key, const char* name, const JournalStep& step, uint32_t skip)
{
    if (step.a & 1)
        RegSetValueExA(key, name, 0, step.b, step.other + skip, step.otherLength - skip);
    else
        RegDeleteValueA(key, name);
}

void UndoSharedCount(const JournalStep& step)
{
    HKEY key;
    if (RegOpenKeyExA(ProductRoot(), SharedDllsKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    RestoreValue(key, step.path, step, 0);
    RegCloseKey(key);
}

void UndoFont(const JournalStep& step)
{
    if ((step.a & FontAdded) && RemoveFontResourceA(step.path))
        SendMessageA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0);
    const char* name = reinterpret_cast<const char*>(step.other);
    uint32_t nameLength = static_cast<uint32_t>(std::strlen(name));
    HKEY key;
    if (!nameLength || RegOpenKeyA(HKEY_LOCAL_MACHINE, FontsKey, &key) != ERROR_SUCCESS)
        return;
    RestoreValue(key, name, step, nameLength + 1);
    RegCloseKey(key);
}

// The folders the run made, newest first; a folder holding anything (not
// ours, or a file that could not go) stays.
void RemoveMadeFolders()
{
    uint32_t used = 0;
    const char* list = MadeFolderList(&used);
    // The current folder is often one of them, and cannot be removed.
    char windows[PathSize];
    UINT length = GetWindowsDirectoryA(windows, PathSize);
    if (length && length < PathSize)
        SetCurrentDirectoryA(windows);
    uint32_t end = used;
    while (end > 0) {
        uint32_t start = end - 1;
        while (start > 0 && list[start - 1])
            --start;
        if (RemoveDirectoryA(list + start))
            LogLine("Rolled back: folder %s removed", list + start);
        end = start;
    }
    ForgetMadeFolders();
}

} // namespace

void BeginJournal()
{
    ClearJournal();
    JournalOpen = RollBackWanted();
}

int SetAside(const char* path)
{
    // A folder in the file's place is left to the replacement's own
    // handling (it fails there, as without rollback).
    DWORD attributes = JournalOpen ? GetFileAttributesA(path) : INVALID_FILE_ATTRIBUTES;
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return AsideNothing;
    if (HeldOpen(path))
        return AsideInUse;
    char backup[PathSize];
    for (unsigned attempt = 1; attempt <= BackupAttempts; ++attempt) {
        if (!BackupName(path, attempt, backup, PathSize))
            break;
        if (Exists(backup))
            continue;
        if (!JournalAddPair(StepFileReplaced, path, backup)) {
            FailMemory();
            return AsideFailed;
        }
        if (MoveFileA(path, backup))
            return (attributes & FILE_ATTRIBUTE_READONLY) ? AsideDoneReadOnly : AsideDone;
        JournalDropLast();
        DWORD error = GetLastError();
        if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
            continue;
        return AsideInUse;
    }
    // A name too long for the ending, or every name taken: the file stays
    // as it is and is not replaced.
    Fail(ErrorCannotCreate, path);
    return AsideFailed;
}

bool NoteFileMade(const char* path)
{
    if (!JournalOpen || JournalAdd(StepFileMade, path))
        return true;
    DeleteOurs(path);
    FailMemory();
    return false;
}

bool PrepareWrite(const char* path)
{
    if (!JournalOpen)
        return true;
    int aside = SetAside(path);
    if (aside == AsideDone || aside == AsideDoneReadOnly)
        return true;
    if (aside == AsideNothing && JournalAdd(StepFileMade, path))
        return true;
    // Not undoable: the run goes on without it, as with a failed link.
    if (aside == AsideFailed)
        ErrorCode = 0;
    return false;
}

bool ScheduleOrDefer(const char* target, const char* source)
{
    if (!JournalOpen)
        return ScheduleAtRestart(target, source);
    if (JournalAddPair(StepAtRestart, target, source))
        return true;
    FailMemory();
    return false;
}

void NoteSharedCount(HKEY key, const char* name)
{
    if (JournalOpen)
        NoteValue(StepSharedCount, name, key, name, "", 0, 0);
}

void NoteFont(const char* path, const char* valueName, bool added)
{
    if (!JournalOpen)
        return;
    HKEY key = nullptr;
    if (*valueName && RegOpenKeyA(HKEY_LOCAL_MACHINE, FontsKey, &key) != ERROR_SUCCESS)
        key = nullptr;
    NoteValue(StepFont, path, key, valueName, valueName, static_cast<uint32_t>(std::strlen(valueName)) + 1,
              added ? FontAdded : 0);
    if (key)
        RegCloseKey(key);
}

bool CommitRun()
{
    if (!JournalOpen)
        return true;
    JournalStep step;
    uint32_t at = 0;
    while (JournalNext(&at, &step)) {
        if (step.kind == StepAtRestart &&
            !ScheduleAtRestart(step.path, reinterpret_cast<const char*>(step.other))) {
            Fail(ErrorNotReplaced, step.path);
            LogLine("Failed: %s (the replacement at the next restart is refused)", ErrorSubject);
            return false;
        }
    }
    at = 0;
    while (JournalNext(&at, &step)) {
        const char* backup = reinterpret_cast<const char*>(step.other);
        if (step.kind == StepFileReplaced && !DeleteOurs(backup))
            ScheduleAtRestart(nullptr, backup);
    }
    ClearJournal();
    JournalOpen = false;
    return true;
}

void RollBack()
{
    if (!RollBackWanted())
        return;
    JournalOpen = false;
    JournalStep step;
    uint32_t at = JournalEnd();
    uint32_t removed = 0;
    uint32_t restored = 0;
    while (JournalPrevious(&at, &step)) {
        const char* other = reinterpret_cast<const char*>(step.other);
        switch (step.kind) {
        case StepFileMade:
            if (DeleteOurs(step.path))
                ++removed;
            break;
        case StepFileReplaced:
            DeleteOurs(step.path);
            if (MoveFileA(other, step.path))
                ++restored;
            else
                LogLine("Not restored: %s (kept as %s)", step.path, other);
            break;
        case StepAtRestart: DeleteOurs(other); break;
        case StepSharedCount: UndoSharedCount(step); break;
        case StepFont: UndoFont(step); break;
        default: break;
        }
    }
    ClearJournal();
    RemoveMadeFolders();
    LogLine("Rolled back: %lu files removed, %lu restored", static_cast<unsigned long>(removed),
            static_cast<unsigned long>(restored));
}

} // namespace zevrin
