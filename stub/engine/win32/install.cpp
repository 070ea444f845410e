// The per-file installation. Every file is unpacked into a temporary
// file beside its destination (same folder, so the final move is a rename
// on one volume), checked against the table's checksum, and only then put
// in place; whatever goes wrong, the temporary file is deleted and the
// destination is either the old file or the whole new one.
#include "install.h"

#include <cstring>

#include "../../decode/decoder.h"
#include "../../shared/checksum.h"
#include "../../shared/state.h"
#include "../../shared/win32/run_log.h"
#include "../../shared/win32/window_state.h"
#include "../file_table.h"
#include "../paths.h"
#include "destination.h"
#include "fonts.h"
#include "registry.h"
#include "replace.h"
#include "shortcuts.h"
#include "space.h"
#include "undo.h"
#include "upgrade.h"

namespace zevrin {

uint32_t EntryIndex = 0xFFFFFFFF;
uint8_t* EntryCursor;

namespace {

// Progress by bytes (timed pacing): each entry weighs its size plus a
// share for the work every file costs, so that empty files move the bar.
const uint32_t EntryBaseWeight = 4096;
uint64_t WeightTotal;
uint64_t WeightDone; // of the entries handled so far

// The file being installed, as the page shows it; pending until shown.
char ShownPath[PathSize];
bool ShownPathPending;

const char TempEnding[] = ".$$A";
// The temporary name's last letter is raised while the name is taken;
// past this one the file is given up.
const char LastTempLetter = 'Z';
const unsigned ProgressPathLength = 30;

void Fail(int error, const char* subject)
{
    ErrorCode = error;
    SetErrorSubject(subject);
}

// Set only for timed pacing, and never 0 then unless the table is empty.
bool CountsBytes() { return WeightTotal != 0; }

uint64_t EntryWeight(const uint8_t* entry)
{
    bool external = EntryByte(entry, EntryUninstallMode) == UninstallExternal;
    return EntryBaseWeight + (external ? 0 : EntryU32(entry, EntryFileSize));
}

void ShowWeightDone(uint64_t done)
{
    uint32_t percent = static_cast<uint32_t>(done * 100 / WeightTotal);
    // Every repaint costs: only a new figure is drawn.
    if (percent != ProgressPercent)
        SetProgressPercent(percent);
}

// Told of the bytes of the current entry's stream as they come.
bool OnBytesProduced(uint32_t produced)
{
    if (CountsBytes())
        ShowWeightDone(WeightDone + produced);
    return ProgressPulse ? ProgressPulse() : true;
}

typedef BOOL(WINAPI* SetFileInformationCall)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);

// Windows Vista and later; null before.
SetFileInformationCall SetFileInformation()
{
    static bool looked;
    static SetFileInformationCall call;
    if (!looked) {
        looked = true;
        HMODULE kernel = GetModuleHandleA("kernel32.dll");
        if (kernel)
            call = reinterpret_cast<SetFileInformationCall>(
                reinterpret_cast<void (*)()>(GetProcAddress(kernel, "SetFileInformationByHandle")));
    }
    return call;
}

// Puts the verified temporary file at DestPath through the handle that
// wrote it, when nothing is there yet: one call, where a move by name opens
// the file again. False, with the temporary file as it was, when it cannot
// (an older system, a destination that exists, a path the system would
// read otherwise than as given): the move by name follows.
bool RenameOpenFile(FileHandle file)
{
    SetFileInformationCall call = SetFileInformation();
    if (!call)
        return false;
    // The rename takes the system's own form of the path, which is not
    // tidied: only a path that is already in its full form goes that way.
    char full[PathSize];
    DWORD length = GetFullPathNameA(DestPath, PathSize, full, nullptr);
    if (length == 0 || length >= PathSize || std::strcmp(full, DestPath) != 0)
        return false;
    char native[PathSize + 8];
    if (DestPath[0] == '\\' && DestPath[1] == '\\')
        wsprintfA(native, "\\??\\UNC\\%s", DestPath + 2);
    else if (DestPath[0] && DestPath[1] == ':' && DestPath[2] == '\\')
        wsprintfA(native, "\\??\\%s", DestPath);
    else
        return false;
    union {
        FILE_RENAME_INFO info;
        BYTE bytes[sizeof(FILE_RENAME_INFO) + sizeof native * sizeof(WCHAR)];
    } rename;
    std::memset(&rename, 0, sizeof rename);
    int wide = MultiByteToWideChar(CP_ACP, 0, native, -1, rename.info.FileName, sizeof native);
    if (wide <= 1)
        return false;
    rename.info.ReplaceIfExists = FALSE;
    rename.info.RootDirectory = nullptr;
    rename.info.FileNameLength = static_cast<DWORD>(wide - 1) * sizeof(WCHAR);
    return call(static_cast<HANDLE>(file), FileRenameInfo, &rename, sizeof rename) != FALSE;
}

// Creates TempPath = DestPath with the temporary ending, on a name that is
// free; the create itself tells a taken name, with no look before it.
// The invalid handle when no such name fits, is free or can be created
// (ErrorCode 17 then).
FileHandle CreateTempFile()
{
    const char* slash = std::strrchr(DestPath, '\\');
    const char* dot = std::strrchr(DestPath, '.');
    size_t stem = dot && (!slash || dot > slash) ? static_cast<size_t>(dot - DestPath) : std::strlen(DestPath);
    // A cut name would be another file, perhaps someone else's.
    if (stem + sizeof TempEnding > PathSize) {
        Fail(ErrorCannotCreate, DestPath);
        return INVALID_FILE_HANDLE;
    }
    std::memcpy(TempPath, DestPath, stem);
    std::memcpy(TempPath + stem, TempEnding, sizeof TempEnding);
    char* last = TempPath + stem + sizeof TempEnding - 2;
    for (;;) {
        // DELETE lets the file be renamed into place through this handle.
        DWORD access = GENERIC_WRITE | (SetFileInformation() ? DELETE : 0);
        HANDLE file = CreateFileA(TempPath, access, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            return file;
        // Any existing name is taken: a file, a folder, or one we may not
        // open. A denied create of a name that is not there is the folder's.
        DWORD error = GetLastError();
        bool taken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ||
                     GetFileAttributesA(TempPath) != INVALID_FILE_ATTRIBUTES;
        if (!taken || *last == LastTempLetter) {
            Fail(ErrorCannotCreate, TempPath);
            TempPath[0] = 0; // not ours to delete
            return INVALID_FILE_HANDLE;
        }
        ++*last;
    }
}

// One more user of the shared file DestPath. The key is opened, never
// created: without it the system keeps no counts.
void CountSharedFile()
{
    HKEY key;
    if (RegOpenKeyExA(ProductRoot(), SharedDllsKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    BYTE data[32];
    DWORD size = sizeof data;
    DWORD type = 0;
    DWORD count = 0;
    bool known = RegQueryValueExA(key, DestPath, nullptr, &type, data, &size) == ERROR_SUCCESS &&
                 ReadSharedCount(type, data, size, &count);
    // A count is written back with its own type; anything else becomes a
    // REG_DWORD that counts this installation.
    if (!known) {
        type = REG_DWORD;
        count = 0;
    } else if (type != REG_BINARY) {
        type = REG_DWORD;
    }
    if (count != 0xFFFFFFFFu)
        ++count;
    NoteSharedCount(key, DestPath);
    RegSetValueExA(key, DestPath, 0, type, reinterpret_cast<const BYTE*>(&count), 4);
    RegCloseKey(key);
    LogLine("Shared file count: %s = %lu", DestPath, static_cast<unsigned long>(count));
}

void MakeDesktopShortcut(const uint8_t* entry)
{
    const char* name = EntryString(entry, DesktopLinkNameString);
    char link[PathSize];
    if (!*name || !DesktopLinkPath(name, link) || !PrepareWrite(link))
        return;
    CreateShellLink(DestPath, link, EntryString(entry, DesktopLinkArgsString), 0);
}

// Why the last entry's file was not written, for the run log.
const char* KeptBecause;

// Whether the file at DestPath should be written (step of the per-file
// walk that may ask the user). inUse: the destination cannot be replaced
// now; it is left alone when it already holds the package's bytes.
bool ShouldWrite(uint8_t* entry, int inUse)
{
    KeptBecause = "";
    if (inUse) {
        FileHandle existing = OpenExisting(DestPath, 0);
        if (existing != INVALID_FILE_HANDLE) {
            // An empty file's sum is 0: only a file of the right size is
            // compared at all.
            bool same = FileLength(existing) == EntryU32(entry, EntryFileSize) &&
                        FileChecksum(existing) == EntryU32(entry, EntryChecksum);
            CloseFile(existing);
            if (same) {
                KeptBecause = "in use, and already the same file";
                return false;
            }
        }
    }
    if (EntryByte(entry, EntryFlags) & (FlagCheckVersion | FlagCheckLanguage))
        return CheckExistingVersion(entry, &KeptBecause) != 0;
    return true;
}

// What became of the entry's file, for the run log.
void LogEntry(const uint8_t* entry, bool written)
{
    if (!written) {
        LogLine("Kept: %s (%s)", DestPath, KeptBecause);
        return;
    }
    switch (EntryStatusOf(entry)) {
    case StatusCreated: LogLine("Installed: %s", DestPath); break;
    case StatusReplaced: LogLine("Replaced: %s", DestPath); break;
    case StatusAtRestart: LogLine("In use, replaced at the next restart: %s", DestPath); break;
    default: LogLine("Installed: %s", DestPath); break;
    }
}

// The times stored with the entry, creation, last access, last write.
void ApplyFileTimes(const uint8_t* entry, FileHandle file)
{
    ByteCursor times(entry + EntryFixedSize, VersionBlockSize + FileTimesSize);
    if (EntryByte(entry, EntryFlags) & (FlagCheckVersion | FlagCheckLanguage))
        times.Skip(VersionBlockSize);
    FILETIME stamp[3];
    for (FILETIME& t : stamp) {
        t.dwLowDateTime = times.U32();
        t.dwHighDateTime = times.U32();
    }
    SetFileTime(static_cast<HANDLE>(file), &stamp[0], &stamp[1], &stamp[2]);
}

// Files stored once for several entries. The first entry's stream is
// unpacked into the stash, a temporary file deleted when it is closed (or
// the process ends), and every entry of the set is copied from there. The
// stream is never read twice, so no earlier volume is asked for again, and
// nothing depends on what became of an installed copy: kept because it is
// newer, replaced only at the restart, in use, or overwritten by a later
// entry of the same name.
const uint32_t NotStashed = 0xFFFFFFFF;
const uint32_t StashWanted = 0xFFFFFFFE;
FileHandle Stash = INVALID_FILE_HANDLE;
char StashPath[PathSize];
uint32_t StashLength;
// Per entry: where its bytes lie in the stash, StashWanted for a source
// not reached yet, NotStashed otherwise. Null without copies.
uint32_t* StashAt;

} // namespace

void CloseStash()
{
    CloseFile(Stash);
    Stash = INVALID_FILE_HANDLE;
    StashPath[0] = 0;
    StashLength = 0;
    FreeAndClear(&StashAt);
}

namespace {

// Marks the entries that copies take their bytes from. False (ErrorCode
// 17) when the per-entry table cannot be had.
bool PlanStash()
{
    CloseStash();
    bool copies = false;
    const uint8_t* entry = FirstEntry;
    for (uint32_t i = 0; entry && i < EntryCount; ++i, entry = NextEntry(entry))
        copies = copies || (EntryByte(entry, EntryFlags) & FlagSameAsEntry);
    if (!copies)
        return true;
    if (!AllocWithRetry(EntryCount * 4, &StashAt)) {
        Fail(ErrorCannotCreate, "(memory)");
        return false;
    }
    std::memset(StashAt, 0xFF, EntryCount * 4);
    entry = FirstEntry;
    for (uint32_t i = 0; i < EntryCount; ++i, entry = NextEntry(entry))
        if (EntryByte(entry, EntryFlags) & FlagSameAsEntry)
            StashAt[EntrySourceIndex(entry)] = StashWanted;
    return true;
}

bool OpenStash()
{
    if (Stash != INVALID_FILE_HANDLE)
        return true;
    char folder[PathSize];
    DWORD length = GetTempPathA(PathSize, folder);
    if (length == 0 || length >= PathSize || !GetTempFileNameA(folder, "zvs", 0, StashPath)) {
        Fail(ErrorCannotCreate, length && length < PathSize ? folder : "%TEMP%");
        return false;
    }
    HANDLE file = CreateFileA(StashPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DeleteFileA(StashPath);
        Fail(ErrorCannotCreate, StashPath);
        return false;
    }
    Stash = file;
    return true;
}

// Unpacks a source entry's stream into the stash and checks it like any
// file; the progress of the entry is counted here.
bool StashEntry(const uint8_t* entry)
{
    if (!OpenStash())
        return false;
    uint32_t size = EntryU32(entry, EntryFileSize);
    if (size > 0xFFFFFFFFu - StashLength) {
        Fail(ErrorCannotCreate, StashPath);
        return false;
    }
    SeekTo(Stash, StashLength);
    RunningSum written;
    int decoded = DecodeToFileResult(Stash, PackageHandle, EntryU32(entry, EntryPackedSize), &written, OnBytesProduced);
    if (PageResult == PageCancel || ErrorCode != 0)
        return false;
    if (decoded == DecodeWriteFailed) {
        Fail(ErrorCannotCreate, StashPath);
        return false;
    }
    if (written.Length() != size || written.Value() != EntryU32(entry, EntryChecksum)) {
        Fail(ErrorChecksum, DestPath);
        return false;
    }
    StashAt[EntryIndex] = StashLength;
    StashLength += size;
    return true;
}

// Copies `size` stashed bytes from `at` into `file`, summing them. A
// failed read or write leaves the sum short; false when abandoned.
bool CopyFromStash(uint32_t at, uint32_t size, FileHandle file, RunningSum* written, bool* writeFailed, bool progress)
{
    uint8_t* chunk = nullptr;
    if (!AllocWithRetry(ChecksumChunk, &chunk)) {
        *writeFailed = true;
        return true;
    }
    SeekTo(Stash, at);
    uint32_t left = size;
    bool going = true;
    while (left && going) {
        uint32_t want = left < ChecksumChunk ? left : ChecksumChunk;
        uint32_t got = ReadSome(Stash, chunk, want);
        if (!got)
            break;
        if (WriteExact(file, chunk, got)) {
            *writeFailed = true;
            break;
        }
        written->Add(chunk, got);
        left -= got;
        going = progress ? OnBytesProduced(size - left) : (ProgressPulse ? ProgressPulse() : true);
    }
    FreeAndClear(&chunk);
    if (!going)
        PageResult = PageCancel;
    return going;
}

// Unpacks the entry's stream (or copies its stashed bytes, at `stashed`,
// when it has them there) into a fresh temporary file, verifies it and
// puts it in place. True when the entry is done; false with ErrorCode set
// or the installation abandoned. TempPath stays set while the temporary
// file is ours to delete.
bool UnpackEntry(uint8_t* entry, int inUse, uint32_t stashed)
{
    MakeDirectories(DestPath);
    FileHandle file = CreateTempFile();
    if (file == INVALID_FILE_HANDLE)
        return false;
    // Summed as written: the file is new and took every byte (a failed
    // write is reported below), so it holds exactly these bytes.
    RunningSum written;
    int decoded = DecodeOk;
    if (stashed == NotStashed) {
        decoded = DecodeToFileResult(file, PackageHandle, EntryU32(entry, EntryPackedSize), &written, OnBytesProduced);
    } else {
        // A source's progress was counted as its stream was unpacked.
        bool copy = (EntryByte(entry, EntryFlags) & FlagSameAsEntry) != 0;
        bool writeFailed = false;
        CopyFromStash(stashed, EntryU32(entry, EntryFileSize), file, &written, &writeFailed, copy);
        if (writeFailed)
            decoded = DecodeWriteFailed;
    }
    // Cancelled, or a volume that is not there (the source says which).
    if (PageResult == PageCancel || ErrorCode != 0) {
        CloseFile(file);
        return false;
    }
    uint8_t flags = EntryByte(entry, EntryFlags);
    if (flags & FlagHasFileTimes)
        ApplyFileTimes(entry, file);
    // A full disk or a medium that refuses writes: the file is incomplete
    // whatever its checksum says.
    if (decoded == DecodeWriteFailed) {
        CloseFile(file);
        Fail(ErrorCannotCreate, DestPath);
        return false;
    }

    // The uninstaller gets its log appended after installation; it is
    // never compared.
    if (!(flags & FlagUninstallerFile) &&
        (written.Length() != EntryU32(entry, EntryFileSize) || written.Value() != EntryU32(entry, EntryChecksum))) {
        CloseFile(file);
        Fail(ErrorChecksum, DestPath);
        return false;
    }

    // A file that is there is set aside first when the run may be rolled
    // back; one that cannot be moved is treated as in use.
    int aside = inUse ? AsideNothing : SetAside(DestPath);
    if (aside == AsideFailed) {
        CloseFile(file);
        return false;
    }
    if (aside == AsideInUse)
        inUse = 1;
    bool renamed = !inUse && RenameOpenFile(file);
    CloseFile(file);
    if (renamed)
        SetEntryStatus(entry, StatusCreated);
    else if (inUse)
        CompareOrSchedule(entry, TempPath);
    else
        ReplaceFile(entry, TempPath);
    if (aside >= AsideDone && EntryStatusOf(entry) == StatusCreated) {
        SetEntryStatus(entry, StatusReplaced);
        // As a replacement without rollback keeps it.
        if (aside == AsideDoneReadOnly)
            SetFileAttributesA(DestPath, GetFileAttributesA(DestPath) | FILE_ATTRIBUTE_READONLY);
    } else if (aside == AsideNothing && EntryStatusOf(entry) == StatusCreated && !NoteFileMade(DestPath))
        return false;
    if ((flags & FlagUninstallerFile) && EntryStatusOf(entry) == StatusAtRestart)
        std::memcpy(UninstallLogPath, TempPath, PathSize);
    if (EntryStatusOf(entry) == StatusFailed) {
        Fail(ErrorNotReplaced, DestPath);
        return false;
    }
    return true;
}

// The per-file follow-ups of a packaged entry, written or kept.
void FollowUpPackagedEntry(const uint8_t* entry)
{
    // A file the installed version counted already is not counted twice.
    if (CountsAsShared(entry) && !SharedCountedBefore(DestPath))
        CountSharedFile();
    if (EntryByte(entry, EntryLocation) == LocationFont)
        RegisterFont(DestPath);
    if (EntryByte(entry, EntrySpecialKind) == SpecialScreenSaver)
        PendingScreenSaverEntry = entry;
}

// Marks for after the wizard and the desktop shortcut; external entries
// get these too.
void MarkEntry(const uint8_t* entry)
{
    uint8_t after = EntryByte(entry, EntryAfterAction);
    if (after == AfterView)
        PendingViewEntry = entry;
    else if (after == AfterLaunch)
        PendingLaunchEntry = entry;
    MakeDesktopShortcut(entry);
}

// One entry; true when it is done and the next may follow.
bool InstallEntry(uint8_t* entry)
{
    int inUse = ResolveDestination(entry);
    if (inUse == DestinationTooLong) {
        // DestPath is empty: the entry's own name says which file.
        Fail(ErrorCannotCreate, EntryString(entry, FileNameString));
        ShowProgressPath(ErrorSubject);
        return false;
    }
    ShowProgressPath(DestPath);
    uint8_t flags = EntryByte(entry, EntryFlags);
    if (flags & FlagUninstallerFile) {
        std::memcpy(UninstallerPath, DestPath, PathSize);
        std::memcpy(UninstallLogPath, DestPath, PathSize);
    }

    if (EntryByte(entry, EntryUninstallMode) != UninstallExternal) {
        bool write = ShouldWrite(entry, inUse);
        ErrorCode = 0;
        // Where the entry's bytes are: its own stream, or the stash.
        uint32_t stashed = NotStashed;
        if (flags & FlagSameAsEntry) {
            // Its source comes first and is stashed whatever became of it.
            stashed = StashAt ? StashAt[EntrySourceIndex(entry)] : NotStashed;
            if (stashed >= StashWanted) {
                Fail(ErrorChecksum, DestPath);
                return false;
            }
        } else if (StashAt && StashAt[EntryIndex] == StashWanted) {
            if (!StashEntry(entry))
                return false;
            stashed = StashAt[EntryIndex];
        }
        if (write) {
            if (!UnpackEntry(entry, inUse, stashed))
                return false;
        } else if (stashed == NotStashed) {
            DecodeToFileResult(INVALID_FILE_HANDLE, PackageHandle, EntryU32(entry, EntryPackedSize), nullptr,
                               OnBytesProduced);
            if (PageResult == PageCancel || ErrorCode != 0)
                return false;
        }
        TempPath[0] = 0;
        LogEntry(entry, write);
        if (flags & FlagUninstallerFile)
            SetEntryStatus(entry, StatusNone);
        FollowUpPackagedEntry(entry);
    }
    MarkEntry(entry);
    return true;
}

} // namespace

const char* DescribeError(int error)
{
    switch (error) {
    case 0: return "no error";
    case ErrorAccessCheck: return "the folder cannot be written";
    case ErrorDiskSpace: return "not enough disk space";
    case ErrorNotCompleted: return "the installation was not completed";
    case ErrorCannotOpen: return "the package, or one of its volumes, cannot be opened";
    case ErrorCannotCreate: return "the file cannot be written (disk full, access denied or a name too long)";
    case ErrorChecksum: return "checksum error: the package is damaged";
    case ErrorNotReplaced: return "the file on disk cannot be replaced";
    default: return "error";
    }
}

void SetErrorSubject(const char* path)
{
    size_t length = std::strlen(path);
    if (length < PathSize) {
        std::memcpy(ErrorSubject, path, length + 1);
        return;
    }
    // The end of a path names the file; its start is what gives way.
    std::memcpy(ErrorSubject, "...", 3);
    std::memcpy(ErrorSubject + 3, path + length - (PathSize - 4), PathSize - 4 + 1);
}

void ShowProgressPath(const char* path)
{
    size_t length = std::strlen(path);
    if (length >= PathSize)
        length = PathSize - 1;
    std::memcpy(ShownPath, path, length);
    ShownPath[length] = 0;
    AbbreviatePath(ShownPath, ProgressPathLength);
    // In time slices files come faster than anyone reads them, and each
    // text costs: the page shows the latest whenever it lets its window
    // repaint.
    ShownPathPending = true;
    if (!TimedPacing())
        FlushProgressPath();
}

void FlushProgressPath()
{
    if (ShownPathPending && ProgressPageWindow)
        SetDlgItemTextA(ProgressPageWindow, 1008, ShownPath);
    ShownPathPending = false;
}

void SetProgressPercent(uint32_t p)
{
    ProgressPercent = p > 100 ? 100 : p;
    if (ProgressRepaint)
        ProgressRepaint();
}

bool StartInstallation()
{
    EntryCursor = FirstEntry;
    ErrorCode = 0;
    // Set again when the table's uninstaller is installed: the log must
    // never go into one from an earlier run.
    UninstallerPath[0] = 0;
    UninstallLogPath[0] = 0;
    EntryIndex = 0xFFFFFFFF;
    VolumeNumber = 0;
    std::memcpy(PackagePath, PackageSourcePath, PathSize);
    PackageHandle = OpenExisting(PackagePath, 0);
    if (PackageHandle == INVALID_FILE_HANDLE) {
        Fail(ErrorCannotOpen, PackagePath);
        return false;
    }
    // The first volume's count is read again here: the header reader's
    // handle is long gone.
    VolumeBytesLeft = VolumeDataLength;
    SeekTo(PackageHandle, DataLengthOffset + 4);
    if (!PlanStash()) {
        CloseFile(PackageHandle);
        PackageHandle = INVALID_FILE_HANDLE;
        return false;
    }
    WeightTotal = WeightDone = 0;
    if (TimedPacing()) {
        const uint8_t* entry = FirstEntry;
        for (uint32_t i = 0; entry && i < EntryCount; ++i, entry = NextEntry(entry))
            WeightTotal += EntryWeight(entry);
    }
    BeginJournal();
    // Read now: the new files replace the installed uninstaller.
    LoadPreviousInstall();
    InstallRunning = true;
    return true;
}

void AbandonInstallation()
{
    if (!InstallRunning || !RollBackWanted())
        return;
    CloseFile(PackageHandle);
    PackageHandle = INVALID_FILE_HANDLE;
    CloseStash();
    RollBack();
    InstallRunning = false;
}

int InstallNextFile(HWND)
{
    TempPath[0] = 0;
    int result = 0;
    ++EntryIndex;
    if (EntryIndex < EntryCount && EntryCursor) {
        uint8_t* entry = EntryCursor;
        EntryCursor = NextEntry(entry);
        SetEntryStatus(entry, StatusNone);
        uint32_t percent = static_cast<uint32_t>((static_cast<uint64_t>(EntryIndex) + 1) * 100 / EntryCount);
        if (InstallEntry(entry)) {
            if (CountsBytes()) {
                WeightDone += EntryWeight(entry);
                ShowWeightDone(WeightDone);
            } else {
                SetProgressPercent(percent);
            }
            result = 1;
        } else if (ErrorCode) {
            LogLine("Failed: %s (%s)", ErrorSubject, DescribeError(ErrorCode));
        }
    }
    if (TempPath[0])
        DeleteFileA(TempPath);
    TempPath[0] = 0;
    return result;
}

} // namespace zevrin
