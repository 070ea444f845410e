// The file already at the destination: version and language questions
// against real version resources (DLLs built beside this program), and
// replacing it, read-only, missing or held open. Message boxes are
// scripted; restarts go through the NT family's MoveFileExA queue.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "../../stub/engine/file_table.h"
#include "../../stub/engine/win32/replace.h"
#include "../../stub/shared/message_script.h"
#include "../../stub/shared/messages.h"
#include "../../stub/shared/state.h"
#include "message_groups.h"
#include "pending_renames.h"
#include "test_folder.h"

using namespace zevrin;

namespace {

const char NewerText[] = "Newer: %s";
const char LanguageText[] = "Language: %s";

void SetMessages(const std::string& newer, const std::string& language)
{
    std::vector<std::string> texts(MsgExistingOtherLanguage + 1, "");
    texts[MsgExistingNewer] = newer;
    texts[MsgExistingOtherLanguage] = language;
    SetGroup(GroupMessages, texts);
}

void PutU32(std::vector<uint8_t>& bytes, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A file-table entry with a version block and the name "f".
std::vector<uint8_t> MakeEntry(uint8_t flags, uint32_t fileSize, uint32_t versionHigh = 0, uint32_t versionLow = 0,
                               uint32_t language = 0)
{
    std::vector<uint8_t> entry(EntryFixedSize + VersionBlockSize, 0);
    PutU32(entry, EntryFileSize, fileSize);
    entry[EntryFlags] = flags;
    PutU32(entry, EntryFixedSize, versionHigh);
    PutU32(entry, EntryFixedSize + 4, versionLow);
    PutU32(entry, EntryFixedSize + 16, language);
    for (const char* s : {"f", "", "", "", "", ""})
        entry.insert(entry.end(), s, s + std::strlen(s) + 1);
    WriteU16(entry.data(), static_cast<uint16_t>(entry.size()));
    return entry;
}

uint16_t StatusOf(const std::vector<uint8_t>& entry) { return ReadU16(entry.data() + EntryStatus); }

std::string ProgramFolder()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    return folder.substr(0, folder.rfind('\\') + 1);
}

void WriteBytes(const std::string& path, const std::string& bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    DWORD put = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
    CloseHandle(file);
}

std::string ReadBytes(const std::string& path)
{
    std::string bytes;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "<missing>";
    char chunk[4096];
    DWORD got;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got)
        bytes.append(chunk, got);
    CloseHandle(file);
    return bytes;
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Each test works in a folder of its own, so queued renames name it alone.
class ReplaceTest : public testing::Test {
protected:
    void SetUp() override
    {
        folder_ = MakeTestFolder("zevrin-replace-");
        UseNames("dest");
        SetMessages(NewerText, LanguageText);
        ScriptMessageAnswers({});
        IsWindowsNT = true;
        RebootNeeded = false;
    }
    void TearDown() override
    {
        if (held_ != INVALID_HANDLE_VALUE)
            CloseHandle(held_);
        for (const std::string& path : {dest_, temp_}) {
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path.c_str());
        }
        RemoveDirectoryA(folder_.c_str());
    }

    void UseNames(const std::string& name)
    {
        dest_ = folder_ + "\\" + name + ".dll";
        temp_ = folder_ + "\\" + name + ".$$A";
        lstrcpynA(DestPath, dest_.c_str(), PathSize);
    }
    void CopyFixture(const char* name)
    {
        ASSERT_TRUE(CopyFileA((ProgramFolder() + name).c_str(), dest_.c_str(), FALSE)) << name;
    }
    // The destination in use: opened with the given sharing until the end.
    void Hold(DWORD share)
    {
        held_ = CreateFileA(dest_.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held_, INVALID_HANDLE_VALUE);
    }
    bool Queued() const
    {
        std::vector<std::wstring> names = PendingRenames();
        for (size_t i = 0; i + 1 < names.size(); i += 2)
            if (EndsWith(names[i], temp_) && EndsWith(names[i + 1], dest_))
                return true;
        return false;
    }

    std::string folder_, dest_, temp_;
    HANDLE held_ = INVALID_HANDLE_VALUE;
};

// --- CheckExistingVersion ---------------------------------------------

const uint32_t V2 = 0x00020000; // 2.0
struct VersionCase {
    const char* name;
    uint8_t flags;
    uint32_t high, low, language;
    std::vector<int> answers;
    std::vector<unsigned> asked; // group 6 indices, in order
    int result;
};

TEST_F(ReplaceTest, VersionAndLanguageQuestions)
{
    const uint8_t Both = FlagCheckVersion | FlagCheckLanguage;
    const VersionCase cases[] = {
        {"older package, No keeps", FlagCheckVersion, 0x00010009, 0x00090009, 0x0407, {AnswerNo}, {29}, 0},
        {"older package, Yes writes", FlagCheckVersion, 0x00010009, 0x00090009, 0x0407, {AnswerYes}, {29}, 1},
        {"equal versions", FlagCheckVersion, V2, 0, 0x0407, {}, {}, 1},
        {"newer package by its low half", FlagCheckVersion, V2, 1, 0x0407, {}, {}, 1},
        {"versions compare unsigned", FlagCheckVersion, 0xFFFF0000, 0, 0x0407, {}, {}, 1},
        {"version not checked", FlagCheckLanguage, 0x00010000, 0, 0x0407, {}, {}, 1},
        {"other language, No keeps", FlagCheckLanguage, V2, 0, 0x0409, {AnswerNo}, {30}, 0},
        {"other language, Yes writes", FlagCheckLanguage, V2, 0, 0x0409, {AnswerYes}, {30}, 1},
        {"same language", FlagCheckLanguage, V2, 0, 0x0407, {}, {}, 1},
        {"language not checked", FlagCheckVersion, V2, 0, 0x0409, {}, {}, 1},
        {"both, Yes then Yes", Both, 0x00010000, 0, 0x0409, {AnswerYes, AnswerYes}, {29, 30}, 1},
        {"both, Yes then No", Both, 0x00010000, 0, 0x0409, {AnswerYes, AnswerNo}, {29, 30}, 0},
        {"both, No skips the language", Both, 0x00010000, 0, 0x0409, {AnswerNo}, {29}, 0},
        {"both, equal and same", Both, V2, 0, 0x0407, {}, {}, 1},
    };
    CopyFixture("versioned.dll");
    for (const VersionCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptMessageAnswers(c.answers);
        std::vector<uint8_t> entry = MakeEntry(c.flags, 0, c.high, c.low, c.language);
        EXPECT_EQ(CheckExistingVersion(entry.data()), c.result);
        const std::vector<ShownMessage>& shown = ShownMessages();
        ASSERT_EQ(shown.size(), c.asked.size());
        for (size_t i = 0; i < shown.size(); ++i) {
            bool newer = c.asked[i] == MsgExistingNewer;
            EXPECT_EQ(shown[i].text, (newer ? "Newer: " : "Language: ") + dest_);
            EXPECT_EQ(shown[i].type, newer ? MessageYesNoDefaultNo : MessageYesNo);
        }
        EXPECT_EQ(StatusOf(entry), StatusNone);
    }
}

TEST_F(ReplaceTest, EmptyTextsOfTheQuestions)
{
    CopyFixture("versioned.dll");
    const uint8_t Both = FlagCheckVersion | FlagCheckLanguage;
    // No text for "newer": the newer file is kept without a word, and the
    // language is then not asked about either.
    SetMessages("", LanguageText);
    std::vector<uint8_t> entry = MakeEntry(Both, 0, 0x00010000, 0, 0x0409);
    EXPECT_EQ(CheckExistingVersion(entry.data()), 0);
    EXPECT_TRUE(ShownMessages().empty());

    // The language question is shown even without a text.
    SetMessages(NewerText, "");
    ScriptMessageAnswers({AnswerYes});
    entry = MakeEntry(FlagCheckLanguage, 0, V2, 0, 0x0409);
    EXPECT_EQ(CheckExistingVersion(entry.data()), 1);
    ASSERT_EQ(ShownMessages().size(), 1u);
    EXPECT_EQ(ShownMessages()[0].text, "");
}

TEST_F(ReplaceTest, NoVersionDataWritesWithoutAsking)
{
    std::vector<uint8_t> entry = MakeEntry(FlagCheckVersion | FlagCheckLanguage, 0, 0x00010000, 0, 0x0409);
    EXPECT_EQ(CheckExistingVersion(entry.data()), 1) << "no file";
    WriteBytes(dest_, "not a program");
    EXPECT_EQ(CheckExistingVersion(entry.data()), 1) << "not a program";
    CopyFixture("unversioned.dll");
    EXPECT_EQ(CheckExistingVersion(entry.data()), 1) << "no version resource";
    EXPECT_TRUE(ShownMessages().empty());
}

// Fixed information without a file version, and a Translation without a
// language: nothing to compare, so nothing is asked.
TEST_F(ReplaceTest, VersionDataTooShortCountsAsAbsent)
{
    CopyFixture("shortversion.dll");
    std::vector<uint8_t> entry = MakeEntry(FlagCheckVersion | FlagCheckLanguage, 0, 1, 0, 0x0409);
    EXPECT_EQ(CheckExistingVersion(entry.data()), 1);
    EXPECT_TRUE(ShownMessages().empty());
}

// --- ReplaceFile --------------------------------------------------------

TEST_F(ReplaceTest, NewAndExistingFiles)
{
    WriteBytes(temp_, "new");
    std::vector<uint8_t> entry = MakeEntry(0, 3);
    ReplaceFile(entry.data(), temp_.c_str());
    EXPECT_EQ(StatusOf(entry), StatusCreated);
    EXPECT_EQ(ReadBytes(dest_), "new");
    EXPECT_FALSE(Exists(temp_));

    WriteBytes(temp_, "newer");
    entry = MakeEntry(0, 5);
    ReplaceFile(entry.data(), temp_.c_str());
    EXPECT_EQ(StatusOf(entry), StatusReplaced);
    EXPECT_EQ(ReadBytes(dest_), "newer");
    EXPECT_FALSE(Exists(temp_));
    EXPECT_FALSE(RebootNeeded);
}

TEST_F(ReplaceTest, ReadOnlyFileIsReplacedAndStaysReadOnly)
{
    WriteBytes(dest_, "old");
    SetFileAttributesA(dest_.c_str(), FILE_ATTRIBUTE_READONLY);
    WriteBytes(temp_, "new");
    std::vector<uint8_t> entry = MakeEntry(0, 3);
    ReplaceFile(entry.data(), temp_.c_str());
    EXPECT_EQ(StatusOf(entry), StatusReplaced);
    EXPECT_EQ(ReadBytes(dest_), "new");
    EXPECT_TRUE(GetFileAttributesA(dest_.c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(Exists(temp_));
}

// The rename is checked: without a temporary file to move nothing ends as
// success, whatever lay at the destination.
TEST_F(ReplaceTest, FailedRenameLeavesFailed)
{
    struct {
        const char* name;
        const char* existing; // null: no file
        bool readOnly;
    } const cases[] = {{"no file", nullptr, false}, {"existing", "old", false}, {"read-only", "old", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.existing)
            WriteBytes(dest_, c.existing);
        if (c.readOnly)
            SetFileAttributesA(dest_.c_str(), FILE_ATTRIBUTE_READONLY);
        std::vector<uint8_t> entry = MakeEntry(0, 3);
        ReplaceFile(entry.data(), temp_.c_str());
        EXPECT_EQ(StatusOf(entry), StatusFailed);
        EXPECT_FALSE(RebootNeeded);
        SetFileAttributesA(dest_.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(dest_.c_str());
    }
}

struct InUseCase {
    const char* name;
    std::string existing, unpacked;
    uint16_t status;
    bool readOnly;
};

// The destination held open by another program (this test), sharing
// reading only: it cannot be deleted but can be compared.
TEST_F(ReplaceTest, FileInUseIsComparedFirst)
{
    std::string hundred(100, 'a');
    std::string lastDiffers = hundred;
    lastDiffers.back() = 'b';
    const InUseCase cases[] = {
        {"same bytes", hundred, hundred, StatusReplaced, false},
        {"both empty", "", "", StatusReplaced, false},
        {"last byte differs", hundred, lastDiffers, StatusAtRestart, false},
        {"other size", hundred, hundred + "a", StatusAtRestart, false},
        {"read-only, same bytes", hundred, hundred, StatusReplaced, true},
        {"read-only, last byte differs", hundred, lastDiffers, StatusAtRestart, true},
    };
    int n = 0;
    for (const InUseCase& c : cases) {
        SCOPED_TRACE(c.name);
        // Names of its own: a queued rename of an earlier case stays queued.
        UseNames("dest" + std::to_string(++n));
        RebootNeeded = false;
        WriteBytes(dest_, c.existing);
        WriteBytes(temp_, c.unpacked);
        if (c.readOnly)
            SetFileAttributesA(dest_.c_str(), FILE_ATTRIBUTE_READONLY);
        Hold(FILE_SHARE_READ);
        std::vector<uint8_t> entry = MakeEntry(0, static_cast<uint32_t>(c.unpacked.size()));
        ReplaceFile(entry.data(), temp_.c_str());
        EXPECT_EQ(StatusOf(entry), c.status);
        bool restart = c.status == StatusAtRestart;
        EXPECT_EQ(RebootNeeded, restart);
        EXPECT_EQ(Exists(temp_), restart) << "an identical temporary file is deleted";
        EXPECT_EQ(Queued(), restart);
        EXPECT_EQ(ReadBytes(dest_), c.existing);
        EXPECT_FALSE(GetFileAttributesA(dest_.c_str()) & FILE_ATTRIBUTE_READONLY) << "cleared for the attempt";
        CloseHandle(held_);
        held_ = INVALID_HANDLE_VALUE;
        DeleteFileA(dest_.c_str());
        DeleteFileA(temp_.c_str());
    }
}

// Held without any sharing the destination cannot even be read, so the
// comparison cannot tell it equal: it is replaced at the restart.
TEST_F(ReplaceTest, FileHeldWithoutSharingIsScheduled)
{
    WriteBytes(dest_, "same");
    WriteBytes(temp_, "same");
    Hold(0);
    std::vector<uint8_t> entry = MakeEntry(0, 4);
    ReplaceFile(entry.data(), temp_.c_str());
    EXPECT_EQ(StatusOf(entry), StatusAtRestart);
    EXPECT_TRUE(RebootNeeded);
    EXPECT_TRUE(Exists(temp_));
    EXPECT_TRUE(Queued());
}

// An unreadable temporary file counts as different.
TEST_F(ReplaceTest, MissingTemporaryFileCountsAsDifferent)
{
    WriteBytes(dest_, "same");
    Hold(FILE_SHARE_READ);
    std::vector<uint8_t> entry = MakeEntry(0, 4);
    CompareOrSchedule(entry.data(), temp_.c_str());
    EXPECT_EQ(StatusOf(entry), StatusAtRestart);
    EXPECT_TRUE(RebootNeeded);
}

} // namespace
