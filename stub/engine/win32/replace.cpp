// Version questions and the move of the temporary file into place. A file
// that cannot be deleted because it is in use is compared byte by byte
// first: a shared file often already holds the packaged bytes, and then
// no restart is needed.
#include <windows.h>

#include <cstring>

#include "../../shared/byte_cursor.h"
#include "../../shared/messages.h"
#include "../../shared/platform.h"
#include "../../shared/state.h"
#include "../file_table.h"
#include "replace.h"
#include "restart.h"
#include "undo.h"

namespace zevrin {

namespace {

const uint32_t QuestionSize = 2048;
const uint32_t CompareHalf = 8192;

// Yes/no question from group 6 with DestPath for its "%s".
bool AskAboutExisting(char* question, unsigned index, unsigned type)
{
    FormatText(question, QuestionSize, GetMessageText(GroupMessages, index), DestPath, 0);
    return ShowMessage(question, type) == AnswerYes;
}

// The existing file is newer than the entry's version. A fixed-info block
// too short to hold the version counts as no version at all.
bool ExistingIsNewer(void* data, uint32_t versionHigh, uint32_t versionLow)
{
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(data, "\\", &value, &length) || !value || length < sizeof(VS_FIXEDFILEINFO))
        return false;
    const VS_FIXEDFILEINFO* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    return fixed->dwFileVersionMS > versionHigh ||
           (fixed->dwFileVersionMS == versionHigh && fixed->dwFileVersionLS > versionLow);
}

// False when there is no translation to compare (or less than one word).
bool ExistingLanguage(void* data, uint32_t* language)
{
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(data, "\\VarFileInfo\\Translation", &value, &length) || !value || length < 2)
        return false;
    *language = ByteCursor(value, 2).U16();
    return true;
}

bool DeleteDeniedAccess()
{
    DWORD error = GetLastError();
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// Both files hold exactly `size` bytes and the same ones.
bool SameBytes(FileHandle dest, const char* temp, uint32_t size)
{
    FileHandle other = OpenExisting(temp, 0);
    if (other == INVALID_FILE_HANDLE)
        return false;
    bool same = false;
    uint8_t* buffer = nullptr;
    if (AllocWithRetry(2 * CompareHalf, &buffer)) {
        uint32_t remaining = size;
        while (remaining > 0) {
            uint32_t n = remaining < CompareHalf ? remaining : CompareHalf;
            if (ReadExact(dest, buffer, n) != 0 || ReadExact(other, buffer + CompareHalf, n) != 0 ||
                std::memcmp(buffer, buffer + CompareHalf, n) != 0)
                break;
            remaining -= n;
        }
        same = remaining == 0;
        FreeAndClear(&buffer);
    }
    CloseFile(other);
    return same;
}

} // namespace

int CheckExistingVersion(const uint8_t* entry, const char** keptBecause)
{
    const char* because = nullptr;
    char* question = nullptr;
    if (!AllocZeroedWithRetry(QuestionSize, &question))
        return 1;
    int result = 1;
    void* data = nullptr;
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(DestPath, &ignored);
    if (size && AllocWithRetry(size, &data) && GetFileVersionInfoA(DestPath, 0, size, data)) {
        ByteCursor in(entry, EntryFixedSize + VersionBlockSize);
        in.Skip(EntryFlags);
        uint8_t flags = in.U8();
        in.Skip(EntryFixedSize - EntryFlags - 1);
        uint32_t versionHigh = in.U32();
        uint32_t versionLow = in.U32();
        in.Skip(8);
        uint32_t language = in.U32();

        if ((flags & FlagCheckVersion) && ExistingIsNewer(data, versionHigh, versionLow)) {
            // An empty text keeps the newer file without asking.
            if (!*GetMessageText(GroupMessages, MsgExistingNewer) ||
                !AskAboutExisting(question, MsgExistingNewer, MessageYesNoDefaultNo)) {
                result = 0;
                because = "the file on disk has a newer version";
            }
        }
        uint32_t existing = 0;
        if (result && (flags & FlagCheckLanguage) && ExistingLanguage(data, &existing) && existing != language &&
            !AskAboutExisting(question, MsgExistingOtherLanguage, MessageYesNo)) {
            result = 0;
            because = "the file on disk is in another language";
        }
    }
    FreeAndClear(&data);
    FreeAndClear(&question);
    if (keptBecause && because)
        *keptBecause = because;
    return result;
}

void CompareOrSchedule(uint8_t* entry, const char* temp)
{
    bool same = false;
    FileHandle dest = OpenExisting(DestPath, 0);
    if (dest != INVALID_FILE_HANDLE) {
        uint32_t size = FileLength(dest);
        if (size == EntryU32(entry, EntryFileSize))
            same = SameBytes(dest, temp, size);
        CloseFile(dest);
    }
    if (same) {
        DeleteFileA(temp);
        SetEntryStatus(entry, StatusReplaced);
        return;
    }
    // A promise of a restart that will not replace the file would leave the
    // old one in place unsaid.
    if (!ScheduleOrDefer(DestPath, temp)) {
        SetEntryStatus(entry, StatusFailed);
        return;
    }
    RebootNeeded = true;
    SetEntryStatus(entry, StatusAtRestart);
}

void ReplaceFile(uint8_t* entry, const char* temp)
{
    SetEntryStatus(entry, StatusFailed);
    // Most destinations are new: the rename alone puts them in place.
    if (MoveFileA(temp, DestPath)) {
        SetEntryStatus(entry, StatusCreated);
        return;
    }
    // Then the delete: a writable destination needs no attribute calls;
    // only a denied one is looked at further.
    uint16_t status = StatusReplaced;
    if (!DeleteFileA(DestPath)) {
        if (!DeleteDeniedAccess()) {
            status = StatusCreated;
        } else {
            DWORD attributes = GetFileAttributesA(DestPath);
            if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY)) {
                CompareOrSchedule(entry, temp);
                return;
            }
            attributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
            SetFileAttributesA(DestPath, attributes ? attributes : FILE_ATTRIBUTE_NORMAL);
            if (!DeleteFileA(DestPath)) {
                CompareOrSchedule(entry, temp);
                return;
            }
            // A failed rename stays 27: the caller reports it and deletes temp.
            if (MoveFileA(temp, DestPath)) {
                SetFileAttributesA(DestPath, GetFileAttributesA(DestPath) | FILE_ATTRIBUTE_READONLY);
                SetEntryStatus(entry, StatusReplaced);
            }
            return;
        }
    }
    if (MoveFileA(temp, DestPath))
        SetEntryStatus(entry, status);
}

} // namespace zevrin
