// The installation on the real file system and registry: packages made by
// the tests' package builder are read with the header reader and
// installed entry by entry, as the progress page does.
#include <gtest/gtest.h>

#include <windows.h>

#include <objidl.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "../../stub/engine/file_table.h"
#include "../../stub/engine/uninstall_log.h"
#include "../../stub/engine/win32/install.h"
#include "../../stub/engine/win32/shortcuts.h"
#include "../../stub/shared/message_script.h"
#include "../../stub/shared/messages.h"
#include "../../stub/shared/state.h"
#include "../../stub/shared/win32/window_state.h"
#include "../../stub/startup/header.h"
#include "../host/font_builder.h"
#include "../host/package_builder.h"
#include "message_groups.h"
#include "pending_renames.h"
#include "test_folder.h"

using namespace zevrin;

namespace {

typedef std::vector<uint8_t> Bytes;

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Pattern(size_t size, unsigned seed)
{
    Bytes b(size);
    for (size_t i = 0; i < size; ++i)
        b[i] = static_cast<uint8_t>((i * 131 + seed * 7 + (i >> 7)) & 0xFF);
    return b;
}

std::string ProgramFolder()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    return folder.substr(0, folder.rfind('\\') + 1);
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Every name in a folder (no sub-folders), for "nothing was left behind".
std::vector<std::string> Listing(const std::string& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::string name = found.cFileName;
        if (name != "." && name != "..")
            names.push_back(name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

std::string FormatMessageFor(unsigned index, const std::string& path)
{
    char out[2048];
    FormatText(out, sizeof out, GetMessageText(GroupMessages, index), path.c_str(), 0);
    return out;
}

std::vector<unsigned> Percents;
void RecordPercent() { Percents.push_back(ProgressPercent); }

// Group 6 with the texts the engine's questions use.
void UseQuestionTexts()
{
    std::vector<std::string> texts(MsgInvalidData + 1, "");
    texts[MsgTitle] = "Test Setup";
    texts[MsgExistingNewer] = "Newer: %s";
    texts[MsgExistingOtherLanguage] = "Language: %s";
    texts[MsgInsertDisk] = "Disk %d";
    texts[MsgCancelInstalling] = "Cancel?";
    SetGroup(GroupMessages, texts);
}

class InstallTest : public testing::Test {
protected:
    void SetUp() override
    {
        root_ = MakeTestFolder("zevrin-install-");
        source_ = root_ + "\\source";
        target_ = root_ + "\\target";
        CreateDirectoryA(source_.c_str(), nullptr);
        ScriptMessageAnswers({});
        IsWindowsNT = true;
        RebootNeeded = false;
        PageResult = PageRunning;
        zevrin::StartPage = WizardMode;
        PendingViewEntry = PendingLaunchEntry = PendingScreenSaverEntry = nullptr;
        UninstallerPath[0] = 0;
        Percents.clear();
        ProgressRepaint = RecordPercent;
    }
    void TearDown() override
    {
        for (HANDLE h : held_)
            CloseHandle(h);
        ProgressRepaint = nullptr;
        ProgressPulse = nullptr;
        ForgetPackageHeader();
        std::string command = "cmd /c rmdir /s /q \"" + root_ + "\" >nul 2>nul";
        WinExecWait(command);
    }
    static void WinExecWait(const std::string& command)
    {
        STARTUPINFOA start = {};
        start.cb = sizeof start;
        PROCESS_INFORMATION process = {};
        std::string line = command;
        if (CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &start,
                           &process)) {
            WaitForSingleObject(process.hProcess, 30000);
            CloseHandle(process.hProcess);
            CloseHandle(process.hThread);
        }
    }

    // Writes the package's volumes into source_ and reads its header.
    void Load(const SetupBuilder& setup)
    {
        std::vector<Bytes> volumes = setup.Build();
        for (size_t v = 0; v < volumes.size(); ++v)
            ::WriteBytes(source_ + "\\" + VolumeFileName(v), volumes[v]);
        Bytes stub = setup.Stub();
        for (uint32_t i = 0; i < StampRecordSize; ++i)
            StampRecord[i] = stub[SetupBuilder::StampAt + i];
        ForgetPackageHeader();
        lstrcpynA(PackageSourcePath, (source_ + "\\SETUP.EXE").c_str(), PathSize);
        ASSERT_TRUE(ReadPackageHeader());
        UseQuestionTexts();
        SetInstallDir(target_ + "\\");
    }
    void SetInstallDir(const std::string& folder) { lstrcpynA(InstallDir, folder.c_str(), PathSize); }

    // StartInstallation, InstallNextFile until 0, FinishInstallation; the
    // number of calls that returned 1.
    int Install()
    {
        if (!StartInstallation())
            return -1;
        int done = 0;
        while (InstallNextFile(nullptr))
            ++done;
        FinishInstallation();
        return done;
    }

    uint8_t* Entry(uint32_t index)
    {
        uint8_t* entry = FirstEntry;
        for (uint32_t i = 0; i < index; ++i)
            entry = NextEntry(entry);
        return entry;
    }
    uint16_t StatusOf(uint32_t index) { return ReadU16(Entry(index) + EntryStatus); }
    std::string Target(const std::string& name) const { return target_ + "\\" + name; }
    // Opens a file as a running program holds its image: others may read
    // it, nobody may delete or write it.
    void Hold(const std::string& path)
    {
        HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
        held_.push_back(h);
    }

    std::string root_, source_, target_;
    std::vector<HANDLE> held_;
};

// --- a fresh install and a second one over it --------------------------------

TEST_F(InstallTest, InstallsEveryFileByteForByteThenReplacesThem)
{
    SetupBuilder setup;
    setup.compress = [](const Bytes& data) { return StoredStream(data); };
    setup.Add("a.exe", Pattern(70000, 1));
    setup.Add("sub\\deeper\\b.dat", Pattern(5, 2));
    setup.Add("external.txt", Text("beside the package")).uninstallMode = UninstallExternal;
    // 2001-02-03 and two later moments, in 100 ns units since 1601.
    const uint64_t times[3] = {126257472000000000ull, 126257472000000000ull + 36000000000ull,
                               126257472000000000ull + 72000000000ull};
    PackageFile& timed = setup.Add("timed.txt", Text("with times"));
    timed.flags = FlagHasFileTimes;
    std::memcpy(timed.times, times, sizeof times);
    setup.Add("empty.txt", Bytes());
    Load(setup);

    EXPECT_EQ(Install(), 5);
    EXPECT_EQ(ErrorCode, 0);
    EXPECT_FALSE(InstallRunning);
    EXPECT_EQ(PackageHandle, INVALID_FILE_HANDLE) << "the package is closed";
    EXPECT_EQ(CurrentPage, 4) << "the sequencer opens page 5 next";
    EXPECT_EQ(PageResult, PageNext);
    EXPECT_EQ(Percents, (std::vector<unsigned>{20, 40, 60, 80, 100}));
    for (const PackageFile& f : setup.files) {
        if (f.uninstallMode == UninstallExternal)
            continue;
        EXPECT_EQ(ReadBytes(Target(f.name)), f.data) << f.name;
    }
    EXPECT_FALSE(Exists(Target("external.txt"))) << "an external file is not unpacked";
    for (uint32_t i : {0u, 1u, 3u, 4u})
        EXPECT_EQ(StatusOf(i), StatusCreated) << i;
    EXPECT_EQ(StatusOf(2), StatusNone) << "external";

    HANDLE file = CreateFileA(Target("timed.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    FILETIME created, accessed, written;
    GetFileTime(file, &created, &accessed, &written);
    CloseHandle(file);
    auto value = [](const FILETIME& t) { return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    // Wine keeps no creation time on a Unix file system (it reports the
    // write time for it): only the write time is compared.
    EXPECT_EQ(value(written), times[2]);
    (void)created;
    (void)accessed;

    // Over the files of the first run: each replaced.
    PageResult = PageRunning;
    EXPECT_EQ(Install(), 5);
    for (uint32_t i : {0u, 1u, 3u, 4u})
        EXPECT_EQ(StatusOf(i), StatusReplaced) << i;
    EXPECT_EQ(Listing(target_).size(), 4u) << "no temporary file stays";
}

// The install-options record: timed pacing counts bytes (each file weighs
// its size plus 4096); without the record, or with only bits or records
// this stub does not know, files are counted as they always were.
TEST_F(InstallTest, OptionsRecordChoosesHowProgressCounts)
{
    auto options = [](uint32_t bits) {
        return [bits](PackageBuilder& b) {
            Bytes body(4);
            for (int i = 0; i < 4; ++i)
                body[i] = static_cast<uint8_t>(bits >> (8 * i));
            b.Record(TagInstallOptions, body);
        };
    };
    struct Case {
        const char* why;
        std::function<void(PackageBuilder&)> records;
        std::vector<unsigned> percents;
    } cases[] = {
        {"no record: by files", nullptr, {25, 50, 75, 100}},
        {"timed pacing: by bytes, inside a file too", options(OptionTimedPacing), {11, 66, 77, 88, 100}},
        {"unknown bits only: by files", options(0x80000000u), {25, 50, 75, 100}},
        {"a record of an unknown kind is skipped",
         [](PackageBuilder& b) { b.Record(0x4A4A, Text("from a newer tool")).Compressed(0x4A4B, Pattern(300, 9)); },
         {25, 50, 75, 100}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        SetupBuilder setup;
        setup.Add("empty.txt", Bytes());
        setup.Add("big.bin", Pattern(20480, 1)); // 4096 + 20480 of 36864 in all
        setup.Add("external.txt", Text("beside")).uninstallMode = UninstallExternal;
        setup.Add("small.txt", Bytes(0));
        setup.records = c.records;
        Load(setup);
        Percents.clear();
        ProgressPercent = 0; // as a new page has it
        PageResult = PageRunning;
        EXPECT_EQ(Install(), 4);
        EXPECT_EQ(ErrorCode, 0);
        EXPECT_EQ(ReadBytes(Target("big.bin")), setup.files[1].data);
        EXPECT_EQ(Percents, c.percents);
    }
}

// The file being installed goes to control 1008 at once with one file a
// tick; with time slices only when the page asks (it does between slices
// and inside long files), since a text per file costs more than the file.
TEST_F(InstallTest, PathShownAtOnceOrWhenThePageAsks)
{
    struct Case {
        const char* why;
        uint32_t options;
        bool atOnce;
    } cases[] = {{"one file a tick", 0, true}, {"time slices", OptionTimedPacing, false}};
    HWND page = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    HWND path = CreateWindowExA(0, "STATIC", "", WS_CHILD, 0, 0, 10, 10, page, reinterpret_cast<HMENU>(1008), nullptr,
                                nullptr);
    ASSERT_TRUE(page && path);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        SetupBuilder setup;
        setup.Add("a.txt", Text("a"));
        setup.Add("b.txt", Text("b"));
        Bytes body = {static_cast<uint8_t>(c.options), 0, 0, 0};
        setup.records = [body](PackageBuilder& b) { b.Record(TagInstallOptions, body); };
        Load(setup);
        SetInstallDir("C:\\P\\");
        SetWindowTextA(path, "");
        ProgressPageWindow = page;
        ShowProgressPath("C:\\P\\b.txt");
        char text[64] = "";
        GetWindowTextA(path, text, sizeof text);
        EXPECT_EQ(std::string(text), c.atOnce ? "C:\\P\\b.txt" : "");
        FlushProgressPath();
        GetWindowTextA(path, text, sizeof text);
        EXPECT_EQ(std::string(text), "C:\\P\\b.txt");
        ProgressPageWindow = nullptr;
    }
    DestroyWindow(page);
}

// The engine tells ProgressPulse how a long file goes; when the user gives
// the installation up there, the file is abandoned like a failed one: its
// temporary file deleted, the file it would have replaced as it was, and
// the rest of its stream not even read.
TEST_F(InstallTest, GivingUpInsideALongFileLeavesTheDestinationAsItWas)
{
    static int pulses;
    static int giveUpAt;
    struct Case {
        const char* why;
        bool kept; // the existing file is newer: the stream is read and thrown away
    } cases[] = {{"a file being written", false}, {"a file read past", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        SetupBuilder setup;
        setup.Add("first.txt", Text("installed"));
        setup.Add("big.bin", Pattern(3 << 20, 2)).flags = c.kept ? FlagCheckVersion : 0; // about 100 writes
        setup.Add("last.txt", Text("never reached"));
        // Version 1.0 against the fixture's newer one.
        bool kept = c.kept;
        setup.tamperEntry = [kept](size_t index, Bytes& entry) {
            if (kept && index == 1)
                entry[EntryFixedSize + 2] = 1;
        };
        Load(setup);
        CreateDirectoryA(target_.c_str(), nullptr);
        const Bytes old = c.kept ? ReadBytes(ProgramFolder() + "versioned.dll") : Text("the old big.bin");
        ASSERT_FALSE(old.empty());
        ::WriteBytes(Target("big.bin"), old);
        if (c.kept)
            ScriptMessageAnswers({AnswerNo}); // keep the newer file
        pulses = 0;
        giveUpAt = 5;
        ProgressPulse = [] {
            if (++pulses < giveUpAt)
                return true;
            PageResult = PageCancel;
            return false;
        };
        PageResult = PageRunning;
        ASSERT_TRUE(StartInstallation());
        EXPECT_EQ(InstallNextFile(nullptr), 1);
        EXPECT_EQ(InstallNextFile(nullptr), 0);
        EXPECT_EQ(pulses, giveUpAt) << "the file is given up at the first refusal";
        EXPECT_LT(Tell(PackageHandle), DataLengthOffset + 4 + (1u << 20)) << "and the rest of its stream is not read";
        EXPECT_EQ(ErrorCode, 0);
        EXPECT_EQ(ReadBytes(Target("big.bin")), old);
        std::vector<std::string> left = Listing(target_);
        std::sort(left.begin(), left.end());
        EXPECT_EQ(left, (std::vector<std::string>{"big.bin", "first.txt"})) << "no temporary file";
        CloseFile(PackageHandle);
        PackageHandle = INVALID_FILE_HANDLE;
        InstallRunning = false;
        ProgressPulse = nullptr;
        DeleteFileA(Target("big.bin").c_str());
        DeleteFileA(Target("first.txt").c_str());
    }
}

// A new file is renamed into place through the handle that wrote it when
// the path is in its full form, and moved by name otherwise; both end the
// same way.
TEST_F(InstallTest, InstallFolderInAnyFormItsFilesArriveWhole)
{
    struct Case {
        const char* why;
        std::string folder; // InstallDir, relative to target_
    } cases[] = {
        {"full form", "\\"},
        {"a dot folder in it", "\\.\\"},
        {"a parent step in it", "\\sub\\..\\"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        SetupBuilder setup;
        setup.Add("a.txt", Text("first"));
        setup.Add("deep\\b.txt", Text("second"));
        Load(setup);
        CreateDirectoryA(target_.c_str(), nullptr);
        CreateDirectoryA((target_ + "\\sub").c_str(), nullptr);
        SetInstallDir(target_ + c.folder);
        PageResult = PageRunning;
        EXPECT_EQ(Install(), 2);
        EXPECT_EQ(ErrorCode, 0);
        EXPECT_EQ(ReadBytes(Target("a.txt")), Text("first"));
        EXPECT_EQ(ReadBytes(Target("deep\\b.txt")), Text("second"));
        EXPECT_EQ(StatusOf(0), StatusCreated);
        std::vector<std::string> names = Listing(target_);
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "deep", "sub"})) << "no temporary file";
        DeleteFileA(Target("a.txt").c_str());
        DeleteFileA(Target("deep\\b.txt").c_str());
    }
}

TEST_F(InstallTest, EmptyTableEndsAtOnce)
{
    SetupBuilder setup;
    Load(setup);
    ASSERT_TRUE(StartInstallation());
    EXPECT_EQ(InstallNextFile(nullptr), 0);
    EXPECT_EQ(EntryIndex, 0u);
    FinishInstallation();
    EXPECT_EQ(ErrorCode, 0);
    EXPECT_FALSE(Exists(target_)) << "nothing is made";
}

TEST_F(InstallTest, MissingPackageIsError16)
{
    SetupBuilder setup;
    setup.Add("a.txt", Text("a"));
    Load(setup);
    DeleteFileA(PackageSourcePath);
    EXPECT_FALSE(StartInstallation());
    EXPECT_EQ(ErrorCode, ErrorCannotOpen);
    EXPECT_STREQ(ErrorSubject, PackageSourcePath);
    EXPECT_FALSE(InstallRunning);
}

// --- damaged data, names that cannot be made ---------------------------------

TEST_F(InstallTest, ChecksumErrorStopsAndLeavesNothingHalfWritten)
{
    SetupBuilder setup;
    setup.Add("good.txt", Text("installed first"));
    setup.Add("bad.bin", Pattern(3000, 3));
    setup.Add("never.txt", Text("not reached"));
    setup.tamperStream = [](size_t index, Bytes& stream) {
        if (index == 1)
            stream.back() ^= 0x01; // one data byte of a stored block
    };
    Load(setup);

    EXPECT_EQ(Install(), 1);
    EXPECT_EQ(ErrorCode, ErrorChecksum);
    EXPECT_EQ(std::string(ErrorSubject), Target("bad.bin"));
    EXPECT_EQ(Listing(target_), std::vector<std::string>{"good.txt"})
        << "the first file stays; no temporary or half-written file";
    EXPECT_EQ(CurrentPage, 4) << "the finish page shows the error";
}

// The bytes written are checked against both the table's size and sum:
// either one off is a damaged package.
TEST_F(InstallTest, TableSizeOrSumOffIsChecksumError)
{
    struct Case {
        const char* why;
        uint32_t field;
        uint8_t flip;
    } cases[] = {
        {"size one more, sum right", EntryFileSize, 0x01},
        {"size right, sum off", EntryChecksum, 0x80},
    };
    for (const Case& c : cases) {
        SetupBuilder setup;
        setup.Add("data.bin", Pattern(5001, 6));
        setup.tamperEntry = [&c](size_t, Bytes& entry) { entry[c.field] ^= c.flip; };
        Load(setup);

        EXPECT_EQ(Install(), 0) << c.why;
        EXPECT_EQ(ErrorCode, ErrorChecksum) << c.why;
        EXPECT_EQ(std::string(ErrorSubject), Target("data.bin")) << c.why;
        EXPECT_TRUE(Listing(target_).empty()) << c.why << ": no temporary file left";
        PageResult = PageRunning;
    }
}

TEST_F(InstallTest, UninstallerIsWrittenUnverifiedAndNotCounted)
{
    SetupBuilder setup;
    setup.Add("uninst.exe", Pattern(100, 4)).flags = FlagUninstallerFile;
    setup.tamperEntry = [](size_t, Bytes& entry) { entry[EntryChecksum] ^= 0xFF; };
    Load(setup);

    EXPECT_EQ(Install(), 1);
    EXPECT_EQ(ErrorCode, 0);
    EXPECT_EQ(StatusOf(0), StatusNone);
    EXPECT_EQ(std::string(UninstallerPath), Target("uninst.exe"));
    EXPECT_EQ(ReadBytes(Target("uninst.exe")), Pattern(100, 4));
}

TEST_F(InstallTest, TemporaryNameSearchEndsAfterTheLastLetter)
{
    struct Case {
        const char* why;
        std::string taken; // letters whose .$$ name exists
        bool installs;
    } cases[] = {
        {"the first name free", "", true},
        {"two names taken", "AB", true},
        {"every letter taken", "ABCDEFGHIJKLMNOPQRSTUVWXYZ", false},
    };
    for (const Case& c : cases) {
        SetupBuilder setup;
        setup.Add("a.b\\readme", Text("no extension"));
        Load(setup);
        std::string folder = Target("a.b");
        CreateDirectoryA(target_.c_str(), nullptr);
        CreateDirectoryA(folder.c_str(), nullptr);
        for (char letter : c.taken)
            ::WriteBytes(folder + "\\readme.$$" + letter, Text("someone's"));
        std::vector<std::string> before = Listing(folder);

        EXPECT_EQ(Install(), c.installs ? 1 : 0) << c.why;
        std::vector<std::string> after = Listing(folder);
        if (c.installs) {
            EXPECT_EQ(ReadBytes(folder + "\\readme"), Text("no extension")) << c.why;
            EXPECT_EQ(after.size(), before.size() + 1) << c.why << ": only the file is added";
        } else {
            EXPECT_EQ(ErrorCode, ErrorCannotCreate) << c.why;
            EXPECT_EQ(std::string(ErrorSubject), folder + "\\readme.$$Z") << c.why;
            EXPECT_EQ(after, before) << c.why << ": nothing added, nothing removed";
        }
        for (char letter : c.taken)
            EXPECT_EQ(ReadBytes(folder + "\\readme.$$" + letter), Text("someone's")) << c.why;
        for (const std::string& name : Listing(folder))
            DeleteFileA((folder + "\\" + name).c_str());
        PageResult = PageRunning;
    }
}

// A folder, or a file no one may open, holds its name as much as a file.
TEST_F(InstallTest, TemporaryNameTakenByAFolderOrALockedFile)
{
    SetupBuilder setup;
    setup.Add("readme.txt", Text("new"));
    Load(setup);
    CreateDirectoryA(target_.c_str(), nullptr);
    ASSERT_TRUE(CreateDirectoryA(Target("readme.$$A").c_str(), nullptr));
    ::WriteBytes(Target("readme.$$B"), Text("someone's"));
    Hold(Target("readme.$$B"));

    EXPECT_EQ(Install(), 1);
    EXPECT_EQ(ReadBytes(Target("readme.txt")), Text("new"));
    EXPECT_NE(GetFileAttributesA(Target("readme.$$A").c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    for (HANDLE h : held_)
        CloseHandle(h);
    held_.clear();
    EXPECT_EQ(ReadBytes(Target("readme.$$B")), Text("someone's"));
    EXPECT_EQ(Listing(target_).size(), 3u) << "only the file is added";
    DeleteFileA(Target("readme.$$B").c_str());
    RemoveDirectoryA(Target("readme.$$A").c_str());
}

TEST_F(InstallTest, PathTooLongNamesTheFileAndWritesNothing)
{
    SetupBuilder setup;
    setup.Add(std::string(120, 'n') + "\\" + std::string(120, 'm') + ".txt", Text("deep"));
    Load(setup);
    // With the target folder the path passes 259 characters.
    EXPECT_EQ(Install(), 0);
    EXPECT_EQ(ErrorCode, ErrorCannotCreate);
    EXPECT_NE(std::string(ErrorSubject).find(std::string(120, 'm') + ".txt"), std::string::npos) << ErrorSubject;
    EXPECT_FALSE(Exists(target_));
}

// --- existing destinations ---------------------------------------------------

TEST_F(InstallTest, DestinationInUse)
{
    struct Case {
        const char* why;
        Bytes existing;
        uint16_t status;
        bool restart;
    } cases[] = {
        {"different bytes wait for the restart", Text("old contents"), StatusAtRestart, true},
        {"the same bytes are kept", Text("new contents"), StatusReplaced, false},
    };
    for (const Case& c : cases) {
        SetupBuilder setup;
        setup.Add("busy.dll", Text("new contents"));
        Load(setup);
        CreateDirectoryA(target_.c_str(), nullptr);
        ::WriteBytes(Target("busy.dll"), c.existing);
        Hold(Target("busy.dll"));
        RebootNeeded = false;

        EXPECT_EQ(Install(), 1) << c.why;
        EXPECT_EQ(StatusOf(0), c.status) << c.why;
        EXPECT_EQ(RebootNeeded, c.restart) << c.why;
        EXPECT_EQ(ReadBytes(Target("busy.dll")), c.existing) << c.why << ": untouched while in use";
        std::vector<std::string> names = Listing(target_);
        EXPECT_EQ(names.size(), c.restart ? 2u : 1u) << c.why << ": the waiting copy only for a restart";
        if (c.restart) {
            std::vector<std::wstring> renames = PendingRenames();
            bool queued = false;
            for (const std::wstring& name : renames)
                queued = queued || name.find(L"busy.$$A") != std::wstring::npos;
            EXPECT_TRUE(queued) << c.why;
        }
        for (HANDLE h : held_)
            CloseHandle(h);
        held_.clear();
        for (const std::string& name : names)
            DeleteFileA(Target(name).c_str());
        PageResult = PageRunning;
    }
}

// Rollback (install options bit 3) over an earlier installation: a file
// replaced, a file in use, new files in new folders. A failure puts the
// folder back as it was and leaves no restart queued; a success leaves no
// file set aside and queues the file in use only then. Without the bit a
// failure keeps what went in, the restart queued, as before.
TEST_F(InstallTest, RollBackOnFailureOnlyWhenThePackageAsks)
{
    struct Case {
        const char* why;
        uint32_t options;
        bool damaged; // the last file's stream
        std::vector<std::string> left;
        const char* oldText; // old.txt afterwards
        bool queued;         // busy.dll's replacement at the restart
    } cases[] = {
        {"rollback, a checksum error: as before the run", OptionRollBack, true, {"busy.dll", "old.txt"}, "old", false},
        {"rollback, success: nothing set aside", OptionRollBack, false,
         {"busy.$$A", "busy.dll", "last.bin", "old.txt", "sub"}, "new", true},
        {"no rollback, a checksum error: what went in stays, the restart queued", 0, true,
         {"busy.$$A", "busy.dll", "old.txt", "sub"}, "new", true},
    };
    int round = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        // The restart queue keeps one entry per name: each case its own.
        const std::string busy = "busy" + std::to_string(++round);
        SetupBuilder setup;
        setup.Add("old.txt", Text("new"));
        setup.Add(busy + ".dll", Text("new library"));
        setup.Add("sub\\deep\\made.txt", Text("made"));
        setup.Add("last.bin", Pattern(3000, 3));
        if (c.damaged)
            setup.tamperStream = [](size_t index, Bytes& stream) {
                if (index == 3)
                    stream.back() ^= 0x01;
            };
        const uint32_t bits = c.options;
        setup.records = [bits](PackageBuilder& b) {
            b.Record(TagInstallOptions, {static_cast<uint8_t>(bits), 0, 0, 0});
        };
        Load(setup);
        CreateDirectoryA(target_.c_str(), nullptr);
        ::WriteBytes(Target("old.txt"), Text("old"));
        ::WriteBytes(Target(busy + ".dll"), Text("old library"));
        Hold(Target(busy + ".dll"));
        ForgetMadeFolders();

        Install();
        EXPECT_EQ(ErrorCode, c.damaged ? ErrorChecksum : 0);
        std::vector<std::string> left = Listing(target_), expected;
        for (const std::string& name : c.left)
            expected.push_back(name.compare(0, 4, "busy") == 0 ? busy + name.substr(4) : name);
        std::sort(left.begin(), left.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(left, expected);
        EXPECT_EQ(ReadBytes(Target("old.txt")), Text(c.oldText));
        EXPECT_EQ(ReadBytes(Target(busy + ".dll")), Text("old library"));
        bool queued = false;
        for (const std::wstring& name : PendingRenames())
            queued = queued || EndsWith(name, busy + ".$$A");
        EXPECT_EQ(queued, c.queued);

        for (HANDLE h : held_)
            CloseHandle(h);
        held_.clear();
        WinExecWait("cmd /c rmdir /s /q \"" + target_ + "\" >nul 2>nul");
        ErrorCode = 0;
        PageResult = PageRunning;
        RebootNeeded = false;
    }
    InstallOptions = 0;
}

TEST_F(InstallTest, ReadOnlyDestinationIsReplacedAndStaysReadOnly)
{
    // With rollback the old file is set aside first, then deleted.
    for (uint8_t options : {uint8_t(0), uint8_t(OptionRollBack)}) {
        SCOPED_TRACE(options);
        SetupBuilder setup;
        setup.Add("locked.txt", Text("new"));
        setup.records = [options](PackageBuilder& b) { b.Record(TagInstallOptions, {options, 0, 0, 0}); };
        Load(setup);
        CreateDirectoryA(target_.c_str(), nullptr);
        ::WriteBytes(Target("locked.txt"), Text("old"));
        SetFileAttributesA(Target("locked.txt").c_str(), FILE_ATTRIBUTE_READONLY);

        EXPECT_EQ(Install(), 1);
        EXPECT_EQ(StatusOf(0), StatusReplaced);
        EXPECT_EQ(ReadBytes(Target("locked.txt")), Text("new"));
        EXPECT_TRUE(GetFileAttributesA(Target("locked.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
        EXPECT_EQ(Listing(target_), std::vector<std::string>{"locked.txt"});
        SetFileAttributesA(Target("locked.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    InstallOptions = 0;
}

// The existing file is a DLL with version 2.0.0.0, language 0x0407 (built
// beside this program).
TEST_F(InstallTest, VersionQuestionsAgainstTheExistingFile)
{
    struct Case {
        const char* why;
        uint8_t flags;
        uint32_t versionHigh, language;
        int answer;             // 0: no question expected
        unsigned question;      // group 6 index
        bool replaced;
    } cases[] = {
        {"existing newer, No keeps it", FlagCheckVersion, 0x00010000, 0x0407, AnswerNo, MsgExistingNewer, false},
        {"existing newer, Yes replaces it", FlagCheckVersion, 0x00010000, 0x0407, AnswerYes, MsgExistingNewer, true},
        {"same version, no question", FlagCheckVersion, 0x00020000, 0x0407, 0, 0, true},
        {"other language", FlagCheckLanguage, 0x00020000, 0x0409, AnswerNo, MsgExistingOtherLanguage, false},
    };
    Bytes fixture = ReadBytes(ProgramFolder() + "versioned.dll");
    ASSERT_FALSE(fixture.empty());
    for (const Case& c : cases) {
        SetupBuilder setup;
        const Bytes library = Text("the package's library");
        setup.Add("lib.dll", library).flags = c.flags;
        setup.Add("next.txt", Text("after the library"));
        uint32_t high = c.versionHigh, language = c.language;
        setup.tamperEntry = [high, language](size_t index, Bytes& entry) {
            if (index != 0)
                return;
            for (int i = 0; i < 4; ++i) {
                entry[EntryFixedSize + i] = static_cast<uint8_t>(high >> (8 * i));
                entry[EntryFixedSize + 16 + i] = static_cast<uint8_t>(language >> (8 * i));
            }
        };
        Load(setup);
        CreateDirectoryA(target_.c_str(), nullptr);
        ::WriteBytes(Target("lib.dll"), fixture);
        ScriptMessageAnswers(c.answer ? std::vector<int>{c.answer} : std::vector<int>{});

        EXPECT_EQ(Install(), 2) << c.why;
        const std::vector<ShownMessage>& shown = ShownMessages();
        if (c.answer) {
            ASSERT_EQ(shown.size(), 1u) << c.why;
            EXPECT_EQ(shown[0].text, FormatMessageFor(c.question, Target("lib.dll"))) << c.why;
        } else {
            EXPECT_TRUE(shown.empty()) << c.why;
        }
        EXPECT_EQ(ReadBytes(Target("lib.dll")), c.replaced ? library : fixture) << c.why;
        EXPECT_EQ(ReadBytes(Target("next.txt")), Text("after the library")) << c.why << ": the skipped stream was read past";
        EXPECT_EQ(StatusOf(0), c.replaced ? StatusReplaced : StatusNone) << c.why;
        DeleteFileA(Target("lib.dll").c_str());
        DeleteFileA(Target("next.txt").c_str());
        PageResult = PageRunning;
    }
}

// --- per-file follow-ups -----------------------------------------------------

const char SharedDllsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

TEST_F(InstallTest, SharedFileCounter)
{
    struct Case {
        const char* why;
        DWORD type; // 0: no value before
        Bytes before;
        DWORD afterType;
        DWORD after;
    } cases[] = {
        {"a new value counts 1", 0, {}, REG_DWORD, 1},
        {"a count goes up", REG_DWORD, {3, 0, 0, 0}, REG_DWORD, 4},
        {"a count as text becomes a number", REG_SZ, Text(std::string("7\0", 2)), REG_DWORD, 8},
        {"a value that is no count starts again", REG_BINARY, {1, 2, 3, 4, 5, 6, 7, 8}, REG_DWORD, 1},
        {"text that is no number starts again", REG_SZ, Text(std::string("many\0", 5)), REG_DWORD, 1},
        {"a full count stays full", REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}, REG_DWORD, 0xFFFFFFFF},
    };
    HKEY key;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, SharedDllsKey, &key), ERROR_SUCCESS);
    for (const Case& c : cases) {
        SetupBuilder setup;
        std::string name = "zevrin-shared-" + std::to_string(GetCurrentProcessId()) + ".dll";
        PackageFile& shared = setup.Add(name, Text("shared"));
        shared.location = LocationWindows;
        shared.sharedCount = 1;
        Load(setup);
        char windows[MAX_PATH];
        GetWindowsDirectoryA(windows, MAX_PATH);
        std::string path = std::string(windows) + "\\" + name;
        RegDeleteValueA(key, path.c_str());
        if (c.type)
            RegSetValueExA(key, path.c_str(), 0, c.type, c.before.data(), static_cast<DWORD>(c.before.size()));

        EXPECT_EQ(Install(), 1) << c.why;
        DWORD type = 0, value = 0, size = sizeof value;
        EXPECT_EQ(RegQueryValueExA(key, path.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size),
                  ERROR_SUCCESS)
            << c.why;
        EXPECT_EQ(type, c.afterType) << c.why;
        EXPECT_EQ(value, c.after) << c.why;
        RegDeleteValueA(key, path.c_str());
        DeleteFileA(path.c_str());
        PageResult = PageRunning;
    }
    RegCloseKey(key);
}

// A font entry goes into the fonts folder and under the Fonts key by its
// full name; the same file elsewhere is only copied.
TEST_F(InstallTest, FontsAreRegisteredByTheirFullName)
{
    const char* fontsKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts";
    std::string pid = std::to_string(GetCurrentProcessId());
    struct Case {
        const char* why;
        uint8_t location;
        bool registered;
    } cases[] = {
        {"a font entry", LocationFont, true},
        {"a font file in the install folder", LocationInstall, false},
    };
    HKEY key;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, fontsKey, &key), ERROR_SUCCESS);
    char fonts[MAX_PATH];
    ASSERT_TRUE(SpecialFolderPath(CSIDL_FONTS, fonts));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        std::string file = "zevrin-" + pid + ".ttf";
        std::string value = "Zevrin Test " + pid + " (TrueType)";
        SetupBuilder setup;
        setup.Add(file, Font({{1, 1, "Family"}, Full("Zevrin Test " + pid)})).location = c.location;
        Load(setup);
        RegDeleteValueA(key, value.c_str());

        EXPECT_EQ(Install(), 1);
        std::string path = (c.location == LocationFont ? std::string(fonts) : target_) + "\\" + file;
        EXPECT_TRUE(Exists(path)) << path;
        char data[MAX_PATH] = "";
        DWORD type = 0, size = sizeof data;
        LONG read = RegQueryValueExA(key, value.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
        EXPECT_EQ(read == ERROR_SUCCESS, c.registered);
        if (c.registered) {
            EXPECT_EQ(type, DWORD(REG_SZ));
            EXPECT_EQ(std::string(data, strnlen(data, size)), file) << "the file name alone";
        }
        RegDeleteValueA(key, value.c_str());
        RemoveFontResourceA(path.c_str());
        DeleteFileA(path.c_str());
        PageResult = PageRunning;
    }
    RegCloseKey(key);
}

TEST_F(InstallTest, MarksAndDesktopShortcut)
{
    SetupBuilder setup;
    std::string linkName = "Zevrin Test " + std::to_string(GetCurrentProcessId());
    PackageFile& program = setup.Add("app.exe", Text("program"));
    program.afterAction = AfterLaunch;
    program.strings[3] = linkName; // DesktopLinkName
    program.strings[4] = "/fast";
    setup.Add("readme.txt", Text("read me")).afterAction = AfterView;
    setup.Add("saver.scr", Text("saver")).specialKind = SpecialScreenSaver;
    Load(setup);

    EXPECT_EQ(Install(), 3);
    EXPECT_EQ(PendingLaunchEntry, Entry(0));
    EXPECT_EQ(PendingViewEntry, Entry(1));
    EXPECT_EQ(PendingScreenSaverEntry, Entry(2));

    char desktop[MAX_PATH];
    ASSERT_TRUE(SpecialFolderPath(CSIDL_DESKTOP, desktop));
    std::string link = std::string(desktop) + "\\" + linkName + ".lnk";
    ASSERT_TRUE(Exists(link)) << link;
    IShellLinkA* shellLink = nullptr;
    ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                           reinterpret_cast<void**>(&shellLink))));
    IPersistFile* persist = nullptr;
    ASSERT_TRUE(SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist))));
    std::wstring wide(link.begin(), link.end());
    EXPECT_TRUE(SUCCEEDED(persist->Load(wide.c_str(), STGM_READ)));
    char text[MAX_PATH] = "";
    shellLink->GetArguments(text, MAX_PATH);
    EXPECT_STREQ(text, "/fast");
    shellLink->GetWorkingDirectory(text, MAX_PATH);
    EXPECT_STRCASEEQ(text, target_.c_str());
    persist->Release();
    shellLink->Release();
    DeleteFileA(link.c_str());
}


// --- after the files: log, shortcuts, registry, self-registration ------------

const Bytes LogTerminator = {0x7F, 0x7F, 0, 0, 0, 0, 0, 0};
const char UninstallKeyPrefix[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char RunOnceKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

std::string Unique(const std::string& name) { return name + std::to_string(GetCurrentProcessId()); }

// The stock uninstaller: program bytes, then the terminator head.
Bytes UninstallerBytes()
{
    Bytes program = Text("MZ uninstaller program");
    program.insert(program.end(), LogTerminator.begin(), LogTerminator.end());
    return program;
}

struct LogRecord {
    uint16_t tag;
    Bytes body;
};

// Reads back the records behind `skip` bytes; a record running past the
// end fails the test.
std::vector<LogRecord> ReadLog(const Bytes& file, size_t skip)
{
    std::vector<LogRecord> records;
    size_t at = skip;
    while (at + 8 <= file.size()) {
        uint16_t tag = ReadU16(&file[at]);
        uint32_t length = ReadU32(&file[at + 4]);
        EXPECT_EQ(file[at + 2], 0) << "not compressed";
        EXPECT_LE(at + 8 + length, file.size()) << "record " << tag << " runs past the end";
        if (at + 8 + length > file.size())
            break;
        records.push_back({tag, Bytes(file.begin() + at + 8, file.begin() + at + 8 + length)});
        at += 8 + length;
    }
    EXPECT_EQ(at, file.size()) << "bytes after the last record";
    return records;
}

// A record body as u32 count and items of counted strings (and a flag
// byte when flagged), each item written "folder|name|flags".
std::vector<std::string> ReadItems(const Bytes& body, bool flagged)
{
    std::vector<std::string> items;
    size_t at = 4;
    auto counted = [&](std::string& out) {
        if (at + 2 > body.size())
            return false;
        uint16_t length = ReadU16(&body[at]);
        at += 2;
        if (at + length > body.size())
            return false;
        out.assign(body.begin() + at, body.begin() + at + length);
        at += length;
        return true;
    };
    uint32_t count = body.size() >= 4 ? ReadU32(&body[0]) : 0;
    for (uint32_t i = 0; i < count; ++i) {
        std::string folder, name;
        if (!counted(folder) || !counted(name) || (flagged && at >= body.size())) {
            ADD_FAILURE() << "item " << i << " is cut short";
            break;
        }
        std::string item = folder + "|" + name;
        if (flagged)
            item += "|" + std::to_string(body[at++]);
        items.push_back(item);
    }
    EXPECT_EQ(at, body.size()) << "bytes after the items";
    return items;
}

std::string ReadRegistryText(HKEY root, const std::string& key, const char* name)
{
    char text[1024] = "";
    DWORD size = sizeof text - 1;
    HKEY handle;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return "<no key>";
    DWORD type = 0;
    LONG found = RegQueryValueExA(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(handle);
    if (found != ERROR_SUCCESS)
        return "<no value>";
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ)) << name;
    return std::string(text, strnlen(text, size));
}

std::string ShellFolder(int csidl)
{
    char path[MAX_PATH] = "";
    EXPECT_TRUE(SpecialFolderPath(csidl, path));
    return path;
}

PackageFile& AddUninstaller(SetupBuilder& setup)
{
    PackageFile& file = setup.Add("uninst.exe", UninstallerBytes());
    file.flags = FlagUninstallerFile;
    return file;
}

TEST_F(InstallTest, UninstallLogAndKey)
{
    std::string name = Unique("Zevrin Follow-up ");
    SetupBuilder setup;
    AddUninstaller(setup);
    setup.Add("a.exe", Text("program"));
    setup.Add("sub\\b.dat", Text("data"));
    setup.Add("reg.dll", Text("no library")).specialKind = SpecialSelfRegister;
    std::string shared = Unique("zevrin-shared-") + ".dll";
    PackageFile& counted = setup.Add(shared, Text("shared"));
    counted.location = LocationWindows;
    counted.sharedCount = 1;
    PackageFile& kept = setup.Add("kept.txt", Text("left at uninstall"));
    kept.uninstallMode = UninstallLeave;
    kept.strings[3] = name; // DesktopLinkName: listed though its file is not
    setup.records = [&name](PackageBuilder& header) { header.Record(TagUninstallName, Text(name)); };
    Load(setup);

    EXPECT_EQ(Install(), 6);
    EXPECT_EQ(ErrorCode, 0);
    EXPECT_EQ(std::string(InstallDir), target_ + "\\");
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, MAX_PATH);
    std::string sharedPath = std::string(windows) + "\\" + shared;
    DeleteFileA(sharedPath.c_str());
    HKEY counts;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs", 0, KEY_ALL_ACCESS,
                      &counts) == ERROR_SUCCESS) {
        RegDeleteValueA(counts, sharedPath.c_str());
        RegCloseKey(counts);
    }
    Bytes file = ReadBytes(Target("uninst.exe"));
    const Bytes stock = UninstallerBytes();
    const Bytes program(stock.begin(), stock.end() - 8);
    ASSERT_GE(file.size(), program.size());
    EXPECT_EQ(Bytes(file.begin(), file.begin() + program.size()), program) << "the program itself untouched";

    std::vector<LogRecord> log = ReadLog(file, program.size());
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].tag, 4661);
    std::string desktop = ShellFolder(CSIDL_DESKTOP);
    EXPECT_EQ(ReadItems(log[0].body, true),
              (std::vector<std::string>{".|a.exe|0", ".\\sub|b.dat|0", ".|reg.dll|4",
                                        std::string(windows) + "|" + shared + "|1", desktop + "|" + name + ".lnk|0"}));
    DeleteFileA((desktop + "\\" + name + ".lnk").c_str());
    EXPECT_EQ(log[1].tag, 4664);
    std::string key = UninstallKeyPrefix + name;
    Bytes body = {0x02, 0, 0, 0x80, static_cast<uint8_t>(key.size()), static_cast<uint8_t>(key.size() >> 8)};
    body.insert(body.end(), key.begin(), key.end());
    EXPECT_EQ(log[1].body, body);
    EXPECT_EQ(log[2].tag, 0x7F7F);
    EXPECT_TRUE(log[2].body.empty());

    EXPECT_EQ(ReadRegistryText(HKEY_LOCAL_MACHINE, key, "DisplayName"), name);
    EXPECT_STRCASEEQ(ReadRegistryText(HKEY_LOCAL_MACHINE, key, "UninstallString").c_str(),
                     Target("uninst.exe").c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
}

// A per-user installation registers under HKEY_CURRENT_USER only, and its
// log says so even when there is no key to name (the uninstaller must
// know whose counts it releases).
TEST_F(InstallTest, PerUserUninstallKeyAndLogRoot)
{
    std::string name = Unique("Zevrin Per User ");
    std::string key = UninstallKeyPrefix + name;
    struct Case {
        const char* why;
        bool named;
    } cases[] = {{"with an uninstall name", true}, {"without one", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        SetupBuilder setup;
        AddUninstaller(setup);
        setup.Add("a.exe", Text("program"));
        setup.records = [&](PackageBuilder& header) {
            header.Record(TagInstallOptions, Bytes{OptionPerUser, 0, 0, 0});
            if (c.named)
                header.Record(TagUninstallName, Text(name));
        };
        Load(setup);
        ASSERT_TRUE(PerUserInstall());
        EXPECT_EQ(Install(), 2);
        EXPECT_EQ(ErrorCode, 0);

        std::vector<LogRecord> log = ReadLog(ReadBytes(Target("uninst.exe")), UninstallerBytes().size() - 8);
        ASSERT_EQ(log.size(), 3u);
        EXPECT_EQ(log[1].tag, 4664);
        std::string logged = c.named ? key : "";
        Bytes body = {0x01, 0, 0, 0x80, static_cast<uint8_t>(logged.size()), static_cast<uint8_t>(logged.size() >> 8)};
        body.insert(body.end(), logged.begin(), logged.end());
        EXPECT_EQ(log[1].body, body);

        HKEY opened;
        EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &opened), ERROR_SUCCESS);
        EXPECT_EQ(ReadRegistryText(HKEY_CURRENT_USER, key, "DisplayName"), c.named ? name : "<no key>");
        if (c.named) {
            EXPECT_STRCASEEQ(ReadRegistryText(HKEY_CURRENT_USER, key, "UninstallString").c_str(),
                             Target("uninst.exe").c_str());
        }
        RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
    }
}

// An uninstaller that does not end with the stock terminator head is not
// written into: what its last bytes mean is unknown.
TEST_F(InstallTest, UninstallerOfUnknownEndingGetsNoLog)
{
    SetupBuilder setup;
    Bytes odd = Text("MZ no terminator at all");
    AddUninstaller(setup).data = odd;
    setup.Add("a.exe", Text("program"));
    Load(setup);

    EXPECT_EQ(Install(), 2);
    EXPECT_EQ(ReadBytes(Target("uninst.exe")), odd);
}

// An uninstaller in use (an earlier one still open) is replaced at the next
// start: the log goes into the copy waiting for that, not into the old
// program that is about to be thrown away.
TEST_F(InstallTest, UninstallerInUseGetsItsLogInTheWaitingCopy)
{
    SetupBuilder setup;
    AddUninstaller(setup);
    setup.Add("a.exe", Text("program"));
    Load(setup);
    CreateDirectoryA(target_.c_str(), nullptr);
    Bytes old = Text("MZ an earlier uninstaller");
    old.insert(old.end(), LogTerminator.begin(), LogTerminator.end());
    ::WriteBytes(Target("uninst.exe"), old);
    Hold(Target("uninst.exe"));

    RebootNeeded = false;

    EXPECT_EQ(Install(), 2);
    EXPECT_TRUE(RebootNeeded);
    EXPECT_EQ(ReadBytes(Target("uninst.exe")), old) << "the program in use is left alone";
    Bytes waiting = ReadBytes(Target("uninst.$$A"));
    const Bytes stock = UninstallerBytes();
    ASSERT_GT(waiting.size(), stock.size());
    std::vector<LogRecord> log = ReadLog(waiting, stock.size() - 8);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(ReadItems(log[0].body, true), (std::vector<std::string>{".|a.exe|0"}));
    EXPECT_STRCASEEQ(UninstallerPath, Target("uninst.exe").c_str()) << "registered under its own name";
    for (HANDLE h : held_)
        CloseHandle(h);
    held_.clear();
}

// Reads a shortcut back: "target|folder|arguments|icon file,icon".
std::string ReadShortcut(const std::string& link)
{
    IShellLinkA* shellLink = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&shellLink))))
        return "<no shell link>";
    IPersistFile* persist = nullptr;
    std::string result = "<not loaded>";
    if (SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist)))) {
        std::wstring wide(link.begin(), link.end());
        if (SUCCEEDED(persist->Load(wide.c_str(), STGM_READ))) {
            char target[MAX_PATH] = "", folder[MAX_PATH] = "", arguments[MAX_PATH] = "", icon[MAX_PATH] = "";
            int index = 0;
            shellLink->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH);
            shellLink->GetWorkingDirectory(folder, MAX_PATH);
            shellLink->GetArguments(arguments, MAX_PATH);
            shellLink->GetIconLocation(icon, MAX_PATH, &index);
            result = std::string(target) + "|" + folder + "|" + arguments + "|" + icon + "," + std::to_string(index);
        }
        persist->Release();
    }
    shellLink->Release();
    return result;
}

TEST_F(InstallTest, StartMenuShortcuts)
{
    const std::string tools = Unique("ZevrinTools");
    const std::string name = Unique("Zevrin Editor ");
    struct Where {
        int csidl;
        std::string sub;
    };
    struct Case {
        const char* why;
        std::string folders;
        std::vector<Where> made;
        bool blocked = false; // a file named `tools` stands in Programs
    } cases[] = {
        {"a Programs sub-folder and the startup folder", tools + ";#Startup#",
         {{CSIDL_PROGRAMS, tools}, {CSIDL_STARTUP, ""}}},
        {"a final ';' adds nothing", tools + ";", {{CSIDL_PROGRAMS, tools}}},
        {"an empty first part is Programs itself", ";" + tools + "\\deeper",
         {{CSIDL_PROGRAMS, ""}, {CSIDL_PROGRAMS, tools + "\\deeper"}}},
        {"empty: Programs itself", "", {{CSIDL_PROGRAMS, ""}}},
        {"the start menu in any case", "#start MENU#", {{CSIDL_STARTMENU, ""}}},
        {"nothing outside the start menu", "..\\..\\" + tools + ";C:\\" + tools, {}},
        {"a folder that cannot be made: no shortcut, no item", tools + "\\inner;#Startup#", {{CSIDL_STARTUP, ""}},
         true},
    };
    const std::string blocker = ShellFolder(CSIDL_PROGRAMS) + "\\" + tools;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        if (c.blocked)
            ::WriteBytes(blocker, Text("a file, not a folder"));
        SetupBuilder setup;
        AddUninstaller(setup);
        PackageFile& program = setup.Add("bin\\editor.exe", Text("editor"));
        program.strings[0] = c.folders; // MenuFolders
        program.strings[1] = name;      // MenuLinkName
        program.strings[2] = "/edit";   // MenuLinkArgs
        setup.Add("plain.txt", Text("no shortcut"));
        setup.tamperEntry = [](size_t index, Bytes& entry) {
            if (index == 1)
                WriteU16(&entry[EntryIconIndex], 3);
        };
        Load(setup);

        EXPECT_EQ(Install(), 3);
        std::vector<std::string> expected;
        for (const Where& w : c.made) {
            std::string folder = ShellFolder(w.csidl) + (w.sub.empty() ? "" : "\\" + w.sub);
            std::string link = folder + "\\" + name + ".lnk";
            std::string editor = Target("bin\\editor.exe");
            EXPECT_EQ(ReadShortcut(link), editor + "|" + target_ + "\\bin|/edit|" + editor + ",3") << link;
            expected.push_back(folder + "|" + name + ".lnk");
            DeleteFileA(link.c_str());
        }
        std::vector<LogRecord> log = ReadLog(ReadBytes(Target("uninst.exe")), UninstallerBytes().size() - 8);
        ASSERT_EQ(log.size(), 3u);
        EXPECT_EQ(log[1].tag, 4662);
        EXPECT_EQ(ReadItems(log[1].body, false), expected);

        SetCurrentDirectoryA(root_.c_str());
        std::string programs = ShellFolder(CSIDL_PROGRAMS);
        RemoveDirectoryA((programs + "\\" + tools + "\\deeper").c_str());
        RemoveDirectoryA((programs + "\\" + tools).c_str());
        if (c.blocked) {
            EXPECT_FALSE(Exists(blocker + "\\inner"));
            DeleteFileA(blocker.c_str());
        }
        std::string escaped = programs + "\\..\\..\\" + tools;
        EXPECT_FALSE(Exists(escaped)) << escaped;
        RemoveDirectoryA(escaped.c_str());
        PageResult = PageRunning;
    }
}

TEST_F(InstallTest, InstallFolderRecord)
{
    const std::string key = Unique("Software\\Zevrin Follow-up ");
    struct Case {
        const char* why;
        uint32_t flags;
        uint32_t rootIndex;
        HKEY root;
        bool inRegistry, inProfile;
    } cases[] = {
        {"registry, unknown root index: the user's", FlagRecordInRegistry, 7, HKEY_CURRENT_USER, true, false},
        {"registry, machine root", FlagRecordInRegistry, 2, HKEY_LOCAL_MACHINE, true, false},
        {"profile file", FlagRecordInProfile, 1, HKEY_CURRENT_USER, false, true},
        {"neither", 0, 1, HKEY_CURRENT_USER, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        std::string profile = root_ + "\\setup.ini";
        SetupBuilder setup;
        setup.Add("a.exe", Text("program"));
        setup.records = [&](PackageBuilder& header) {
            Bytes index;
            AppendU32(index, c.rootIndex);
            header.Record(TagPrevDirRoot, index)
                .Record(TagPrevDirKey, Text(key))
                .Record(TagPrevDirValue, Text("Folder"))
                .Record(TagPrevDirIniFile, Text(profile))
                .Record(TagPrevDirIniSection, Text("Setup"))
                .Record(TagPrevDirIniKey, Text("Dir"));
        };
        Load(setup);
        HeaderFlags = c.flags;

        EXPECT_EQ(Install(), 1);
        EXPECT_EQ(ReadRegistryText(c.root, key, "Folder"), c.inRegistry ? target_ : "<no key>");
        char text[MAX_PATH] = "";
        GetPrivateProfileStringA("Setup", "Dir", "<none>", text, MAX_PATH, profile.c_str());
        EXPECT_EQ(std::string(text), c.inProfile ? target_ : "<none>");
        RegDeleteKeyA(c.root, key.c_str());
        DeleteFileA(profile.c_str());
        PageResult = PageRunning;
    }
    HeaderFlags = 0;
}

std::string FixtureLibrary() { return ProgramFolder() + "selfreg.dll"; }

TEST_F(InstallTest, SelfRegisteringLibraryIsRegisteredAtOnce)
{
    SetupBuilder setup;
    setup.Add("selfreg.dll", ReadBytes(FixtureLibrary())).specialKind = SpecialSelfRegister;
    setup.Add("plain.dll", ReadBytes(FixtureLibrary()));
    setup.Add("broken.dll", Text("not a library")).specialKind = SpecialSelfRegister;
    Load(setup);

    EXPECT_EQ(Install(), 3);
    EXPECT_TRUE(Exists(Target("selfreg.dll.registered")));
    EXPECT_FALSE(Exists(Target("plain.dll.registered"))) << "not marked self-registering";
}

// Libraries whose new copy waits for the restart: a RunOnce value each,
// on the first free number, never past RegCtrl099.
TEST_F(InstallTest, SelfRegisteringAtNextStart)
{
    struct Case {
        const char* why;
        int counter;
        std::vector<std::string> present;
        std::vector<std::string> given; // for first.dll, second.dll; "" none
        int after;
    } cases[] = {
        {"after the values present", 0, {"RegCtrl000", "RegCtrl001"}, {"RegCtrl002", "RegCtrl003"}, 4},
        {"the last number", 99, {}, {"RegCtrl099", ""}, 100},
    };
    HKEY runOnce;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, RunOnceKey, &runOnce), ERROR_SUCCESS);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        for (const std::string& value : c.present)
            RegSetValueExA(runOnce, value.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2);
        RegCtrlCounter = c.counter;
        SetupBuilder setup;
        setup.Add("first.dll", Text("new first")).specialKind = SpecialSelfRegister;
        setup.Add("second.dll", Text("new second")).specialKind = SpecialSelfRegister;
        Load(setup);
        CreateDirectoryA(target_.c_str(), nullptr);
        for (const char* name : {"first.dll", "second.dll"}) {
            ::WriteBytes(Target(name), Text("old"));
            Hold(Target(name));
        }

        EXPECT_EQ(Install(), 2);
        ASSERT_EQ(StatusOf(0), StatusAtRestart);
        ASSERT_EQ(StatusOf(1), StatusAtRestart);
        const char* names[] = {"first.dll", "second.dll"};
        for (size_t i = 0; i < 2; ++i) {
            if (c.given[i].empty())
                continue;
            char shortPath[MAX_PATH];
            GetShortPathNameA(Target(names[i]).c_str(), shortPath, MAX_PATH);
            EXPECT_EQ(ReadRegistryText(HKEY_LOCAL_MACHINE, RunOnceKey, c.given[i].c_str()),
                      std::string("regsvr32 /s ") + shortPath);
            RegDeleteValueA(runOnce, c.given[i].c_str());
        }
        EXPECT_EQ(ReadRegistryText(HKEY_LOCAL_MACHINE, RunOnceKey, "RegCtrl100"), "<no value>");
        EXPECT_EQ(RegCtrlCounter, c.after);
        for (const std::string& value : c.present)
            RegDeleteValueA(runOnce, value.c_str());
        for (HANDLE h : held_)
            CloseHandle(h);
        held_.clear();
        PageResult = PageRunning;
    }
    RegCloseKey(runOnce);
}

// After an error, or without an uninstaller: what is left out, and the
// wizard still moves on.
TEST_F(InstallTest, FollowUpAfterAnErrorOrWithoutUninstaller)
{
    const std::string name = Unique("Zevrin Skipped ");
    const std::string folderKey = Unique("Software\\Zevrin Skipped ");
    struct Case {
        const char* why;
        int error;
        bool uninstaller;
        bool followUp; // shortcut and folder record
    } cases[] = {
        {"an error: nothing at all", ErrorCannotOpen, true, false},
        {"no uninstaller: no log and no uninstall key", 0, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        SetupBuilder setup;
        if (c.uninstaller)
            AddUninstaller(setup);
        PackageFile& program = setup.Add("app.exe", Text("program"));
        program.strings[1] = name; // MenuLinkName, directly in Programs
        setup.Add("lib.dll", ReadBytes(FixtureLibrary())).specialKind = SpecialSelfRegister;
        setup.records = [&](PackageBuilder& header) {
            header.Record(TagUninstallName, Text(name))
                .Record(TagPrevDirRoot, {1, 0, 0, 0})
                .Record(TagPrevDirKey, Text(folderKey));
        };
        Load(setup);
        HeaderFlags = FlagRecordInRegistry;

        ASSERT_TRUE(StartInstallation());
        while (InstallNextFile(nullptr))
            ;
        ASSERT_EQ(ErrorCode, 0);
        ErrorCode = c.error;
        PageResult = PageRunning;
        InstallRunning = true;
        FinishInstallation();

        EXPECT_EQ(PageResult, PageNext);
        EXPECT_EQ(CurrentPage, 4) << "the finish page comes next";
        EXPECT_FALSE(InstallRunning);
        if (c.uninstaller) {
            EXPECT_EQ(ReadBytes(Target("uninst.exe")), UninstallerBytes());
        }
        EXPECT_EQ(ReadRegistryText(HKEY_LOCAL_MACHINE, UninstallKeyPrefix + name, "DisplayName"), "<no key>");
        std::string link = ShellFolder(CSIDL_PROGRAMS) + "\\" + name + ".lnk";
        EXPECT_EQ(Exists(link), c.followUp);
        EXPECT_EQ(ReadRegistryText(HKEY_CURRENT_USER, folderKey, nullptr), c.followUp ? target_ : "<no key>");
        EXPECT_EQ(Exists(Target("lib.dll.registered")), c.followUp);
        DeleteFileA(link.c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, folderKey.c_str());
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, (UninstallKeyPrefix + name).c_str());
        ErrorCode = 0;
        PageResult = PageRunning;
    }
    HeaderFlags = 0;
}

} // namespace

int main(int argc, char** argv)
{
    OleInitialize(nullptr);
    testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
    OleUninitialize();
    return result;
}
