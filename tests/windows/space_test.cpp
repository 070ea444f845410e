// Free disk space, folder creation and registry defaults on the real
// system calls.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "../../stub/engine/disk_space.h"
#include "../../stub/engine/file_table.h"
#include "../../stub/engine/win32/association.h"
#include "../../stub/engine/win32/space.h"
#include "../../stub/shared/platform.h"
#include "../../stub/shared/state.h"
#include "file_table_fixture.h"

using namespace zevrin;

namespace {

// Names unique to this process: the Wine prefix is shared.
std::string Unique(const char* stem) { return stem + std::to_string(GetCurrentProcessId()); }

// --- free space --------------------------------------------------------------

// Stands in for GetDiskFreeSpaceA: records the path, answers with fixed
// values or fails.
std::vector<std::string> AskedRoots;
DWORD FakeSectors = 8, FakeBytesPerSector = 512, FakeFreeClusters = 1000;
bool FakeFails = false;
BOOL WINAPI FakeDiskFreeSpace(LPCSTR root, LPDWORD sectors, LPDWORD bytes, LPDWORD freeClusters, LPDWORD total)
{
    AskedRoots.push_back(root);
    if (FakeFails)
        return FALSE;
    *sectors = FakeSectors;
    *bytes = FakeBytesPerSector;
    *freeClusters = FakeFreeClusters;
    *total = FakeFreeClusters * 2;
    return TRUE;
}

class FreeDiskSpaceTest : public testing::Test {
protected:
    void SetUp() override
    {
        AskedRoots.clear();
        FakeSectors = 8;
        FakeBytesPerSector = 512;
        FakeFreeClusters = 1000;
        FakeFails = false;
    }
    void TearDown() override
    {
        GetDiskFreeSpaceHook = GetDiskFreeSpaceA;
        ExtendedFreeSpaceName = "GetDiskFreeSpaceExA";
    }
    void UseFake(bool withExtended)
    {
        GetDiskFreeSpaceHook = FakeDiskFreeSpace;
        if (!withExtended)
            ExtendedFreeSpaceName = "NoSuchFunctionA";
    }
};

TEST_F(FreeDiskSpaceTest, DriveCAsTheSystemTellsIt)
{
    ULARGE_INTEGER callerFree, total, totalFree;
    ASSERT_TRUE(GetDiskFreeSpaceExA("C:\\", &callerFree, &total, &totalFree));
    DWORD sectors, bytes, freeClusters, totalClusters;
    ASSERT_TRUE(GetDiskFreeSpaceA("C:\\", &sectors, &bytes, &freeClusters, &totalClusters));
    uint32_t expected = FreeKBFromBytes(callerFree.QuadPart);

    uint32_t clusterKB = 0;
    uint32_t withCluster = FreeDiskSpaceKB("C:\\", &clusterKB);
    uint32_t without = FreeDiskSpaceKB("C:\\Windows\\", nullptr);
    EXPECT_EQ(clusterKB, ClusterKB(uint64_t(sectors) * bytes));
    for (uint32_t kb : {withCluster, without}) {
        ASSERT_NE(kb, FreeSpaceUnknown);
        if (expected == FreeSpacePlenty) {
            EXPECT_EQ(kb, FreeSpacePlenty);
        } else {
            // Others write to the same disk meanwhile.
            EXPECT_NEAR(double(kb), double(expected), 256.0 * 1024) << kb << " KB, system " << expected;
        }
    }
}

TEST_F(FreeDiskSpaceTest, NoPathIsUnknown)
{
    UseFake(true);
    for (const char* path : {static_cast<const char*>(nullptr), ""}) {
        uint32_t clusterKB = 99;
        EXPECT_EQ(FreeDiskSpaceKB(path, &clusterKB), FreeSpaceUnknown);
        EXPECT_EQ(clusterKB, 1u);
    }
    EXPECT_TRUE(AskedRoots.empty());
}

TEST_F(FreeDiskSpaceTest, WithoutTheExtendedCallTheRootIsAsked)
{
    UseFake(false);
    struct Case {
        const char* path;
        const char* asked;
    } cases[] = {
        {"C:\\Programs\\App\\", "C:\\"},
        {"C:\\Programs\\App", "C:\\"},
        {"d:", "d:\\"},
        {"C:\\", "C:\\"},
        {"\\\\server\\share\\x\\", "\\\\server\\share\\x\\"}, // a network path is not cut
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        AskedRoots.clear();
        uint32_t clusterKB = 0;
        EXPECT_EQ(FreeDiskSpaceKB(c.path, &clusterKB), 4000u); // 1000 clusters of 4 KB
        EXPECT_EQ(clusterKB, 4u);
        ASSERT_EQ(AskedRoots.size(), 1u);
        EXPECT_EQ(AskedRoots[0], c.asked);
    }
}

TEST_F(FreeDiskSpaceTest, OlderCallAnswers)
{
    UseFake(false);
    struct Case {
        const char* why;
        DWORD sectors, bytesPerSector, freeClusters;
        bool fails;
        uint32_t kb, clusterKB;
    } cases[] = {
        {"16 TiB saturates, no wrap", 8, 512, 0xFFFFFFFF, false, FreeSpacePlenty, 4},
        {"just under 4 TiB", 128, 512, 0x3FFFFFF, false, 0xFFFFFFC0, 64},
        {"a cluster of no bytes: size 1 KB", 0, 512, 1000, false, 0, 1},
        {"failure: unknown", 8, 512, 1000, true, FreeSpaceUnknown, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        FakeSectors = c.sectors;
        FakeBytesPerSector = c.bytesPerSector;
        FakeFreeClusters = c.freeClusters;
        FakeFails = c.fails;
        uint32_t clusterKB = 0;
        EXPECT_EQ(FreeDiskSpaceKB("C:\\App\\", &clusterKB), c.kb);
        EXPECT_EQ(clusterKB, c.clusterKB);
    }
}

TEST_F(FreeDiskSpaceTest, ExtendedAnswerKeptAndClusterSizeFromTheRoot)
{
    uint32_t real = FreeDiskSpaceKB("C:\\Windows\\", nullptr);
    UseFake(true);
    FakeSectors = 64; // 32 KB clusters, told apart from the real ones
    FakeFreeClusters = 1;
    uint32_t clusterKB = 0;
    uint32_t kb = FreeDiskSpaceKB("C:\\Windows\\", &clusterKB);
    EXPECT_NE(kb, 32u) << "the older call's count replaced the extended one";
    if (real != FreeSpacePlenty) {
        EXPECT_NEAR(double(kb), double(real), 256.0 * 1024);
    }
    EXPECT_EQ(clusterKB, 32u);
    ASSERT_EQ(AskedRoots.size(), 1u);
    EXPECT_EQ(AskedRoots[0], "C:\\");

    AskedRoots.clear();
    FreeDiskSpaceKB("C:\\Windows\\", nullptr);
    EXPECT_TRUE(AskedRoots.empty()) << "no cluster size wanted, the extended answer is enough";
}

// --- folders -----------------------------------------------------------------

std::string CurrentFolder()
{
    char folder[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, folder);
    return folder;
}

bool IsFolder(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

class MakeDirectoriesTest : public testing::Test {
protected:
    void SetUp() override
    {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        temp_ = temp;
        base_ = temp_ + Unique("zevrin-md-") + "\\";
        SetCurrentDirectoryA(temp_.c_str());
    }
    void TearDown() override
    {
        AllocationFailureCountdown = -1;
        SetCurrentDirectoryA(temp_.c_str());
        for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
            DeleteFileA(it->c_str());
            RemoveDirectoryA(it->c_str());
        }
    }
    // Removed at the end, deepest first.
    void Track(const std::vector<std::string>& names)
    {
        for (const std::string& name : names)
            made_.push_back(base_ + name);
    }
    std::string temp_, base_;
    std::vector<std::string> made_;
};

TEST_F(MakeDirectoriesTest, CreatesEachFolderAndEntersTheDeepest)
{
    made_.push_back(base_);
    Track({"a", "a\\b", "a\\b\\c", "f", "f\\g", "h"});
    struct Case {
        const char* why;
        std::string path;
        std::vector<std::string> folders;
        std::string current;
    } cases[] = {
        {"deep new path", base_ + "a\\b\\c\\", {"", "a", "a\\b", "a\\b\\c"}, base_ + "a\\b\\c"},
        {"the same path again: all there", base_ + "a\\b\\c\\", {"a\\b\\c"}, base_ + "a\\b\\c"},
        {"a file name at the end is not made", base_ + "f\\g\\setup.txt", {"f", "f\\g"}, base_ + "f\\g"},
        {"without a final '\\' the last name is a file", base_ + "h\\i", {"h"}, base_ + "h"},
        {"a name without '\\' is a folder of the current one", "rel", {"h\\rel"}, base_ + "h\\rel"},
        {"an existing folder, entered from another", base_ + "a\\b\\x.txt", {"a\\b"}, base_ + "a\\b"},
        {"a drive root", "C:\\", {}, "C:\\"},
    };
    Track({"h\\rel"});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(MakeDirectories(c.path.c_str()), 0);
        for (const std::string& folder : c.folders)
            EXPECT_TRUE(IsFolder(base_ + folder)) << folder;
        EXPECT_STRCASEEQ(CurrentFolder().c_str(), c.current.c_str());
    }
    EXPECT_FALSE(IsFolder(base_ + "h\\i"));
    EXPECT_EQ(GetFileAttributesA((base_ + "f\\g\\setup.txt").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(MakeDirectoriesTest, Failures)
{
    made_.push_back(base_);
    Track({"blocker"});
    ASSERT_TRUE(CreateDirectoryA(base_.c_str(), nullptr));
    HANDLE file = CreateFileA((base_ + "blocker").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);

    EXPECT_EQ(MakeDirectories("\\\\server\\share\\x"), 1) << "the server name is neither entered nor made";
    EXPECT_EQ(MakeDirectories((base_ + "blocker\\sub\\").c_str()), 1) << "a file where a folder should be";
    EXPECT_FALSE(IsFolder(base_ + "blocker\\sub"));

    for (int countdown : {0, 1}) {
        SCOPED_TRACE(countdown);
        AllocationFailureCountdown = countdown;
        EXPECT_EQ(MakeDirectories((base_ + "oom\\").c_str()), -1);
        AllocationFailureCountdown = -1;
        EXPECT_FALSE(IsFolder(base_ + "oom"));
    }
}

// --- registry ----------------------------------------------------------------

class ReadRegistryDefaultTest : public testing::Test {
protected:
    void TearDown() override
    {
        for (auto it = made_.rbegin(); it != made_.rend(); ++it)
            RegDeleteKeyA(it->first, it->second.c_str());
    }
    // Creates root\key, with a default value when one is given.
    void MakeKey(HKEY root, const std::string& key, const char* value)
    {
        HKEY opened;
        ASSERT_EQ(RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &opened, nullptr),
                  ERROR_SUCCESS)
            << key;
        made_.push_back({root, key});
        if (value)
            RegSetValueExA(opened, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                           static_cast<DWORD>(strlen(value) + 1));
        RegCloseKey(opened);
    }
    std::vector<std::pair<HKEY, std::string>> made_;
};

TEST_F(ReadRegistryDefaultTest, ReadsBackAndReportsAMissingKey)
{
    const std::string user = "Software\\Classes\\" + Unique(".zevrinu");
    const std::string classes = Unique(".zevrinc");
    const std::string longValue(300, 'v');
    MakeKey(HKEY_CURRENT_USER, user, "zevrin.document");
    MakeKey(HKEY_CLASSES_ROOT, classes, "zevrin.classes");
    MakeKey(HKEY_CLASSES_ROOT, classes + "\\shell", nullptr);
    MakeKey(HKEY_CLASSES_ROOT, classes + "\\shell\\open", nullptr);
    MakeKey(HKEY_CLASSES_ROOT, classes + "\\shell\\open\\command", "\"C:\\view.exe\" \"%1\"");
    MakeKey(HKEY_CURRENT_USER, user + "\\empty", nullptr);
    MakeKey(HKEY_CURRENT_USER, user + "\\long", longValue.c_str());

    struct Case {
        const char* why;
        HKEY root;
        std::string key;
        LONG result;
        std::string text;
    } cases[] = {
        {"under the user's classes", HKEY_CURRENT_USER, user, 0, "zevrin.document"},
        {"under HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT, classes, 0, "zevrin.classes"},
        {"a command several keys down", HKEY_CLASSES_ROOT, classes + "\\shell\\open\\command", 0,
         "\"C:\\view.exe\" \"%1\""},
        {"a key without a default value", HKEY_CURRENT_USER, user + "\\empty", 0, ""},
        {"a value too long for the buffer", HKEY_CURRENT_USER, user + "\\long", 0, ""},
        {"a missing key", HKEY_CLASSES_ROOT, Unique(".zevrin-missing"), ERROR_FILE_NOT_FOUND, "untouched"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        char out[PathSize + 4];
        std::memset(out, 'z', sizeof out);
        std::strcpy(out, "untouched");
        EXPECT_EQ(ReadRegistryDefault(c.root, c.key.c_str(), out), c.result);
        EXPECT_EQ(std::string(out), c.text);
        for (size_t i = PathSize; i < sizeof out; ++i)
            EXPECT_EQ(out[i], 'z') << "nothing written past the buffer";
    }

    // The key's name and the text read may share one buffer.
    char shared[PathSize];
    std::strcpy(shared, (classes + "\\shell\\open\\command").c_str());
    EXPECT_EQ(ReadRegistryDefault(HKEY_CLASSES_ROOT, shared, shared), 0);
    EXPECT_STREQ(shared, "\"C:\\view.exe\" \"%1\"");
}

} // namespace

// --- the check before installing ---------------------------------------------------------------

class CheckDiskSpaceTest : public FreeDiskSpaceTest {
protected:
    void SetUp() override
    {
        FreeDiskSpaceTest::SetUp();
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        folder_ = std::string(temp) + Unique("zevrin-space-check") + "\\";
        CreateDirectoryA(folder_.c_str(), nullptr);
        lstrcpynA(InstallDir, folder_.c_str(), PathSize);
        // 4 KB clusters, 1000 of them free: 4000 KB.
        UseFake(false);
    }
    void TearDown() override
    {
        for (const std::string& name : made_) {
            SetFileAttributesA(name.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(name.c_str());
        }
        RemoveDirectoryA(folder_.c_str());
        EntryCount = 0;
        FirstEntry = nullptr;
        FreeDiskSpaceTest::TearDown();
    }
    void Existing(const std::string& name, size_t size, DWORD attributes = FILE_ATTRIBUTE_NORMAL)
    {
        std::string path = folder_ + name;
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        std::vector<char> bytes(size, 'x');
        DWORD written = 0;
        if (size)
            WriteFile(file, bytes.data(), static_cast<DWORD>(size), &written, nullptr);
        CloseHandle(file);
        SetFileAttributesA(path.c_str(), attributes);
        made_.push_back(path);
    }
    int Check(std::vector<uint8_t>& table)
    {
        EntryCount = ReadU32(table.data());
        FirstEntry = table.data() + 4;
        return CheckDiskSpace();
    }
    std::string folder_;
    std::vector<std::string> made_;
};

TEST_F(CheckDiskSpaceTest, SpaceNeededAgainstFreeSpace)
{
    FakeSectors = 8;
    FakeBytesPerSector = 512;
    struct Case {
        const char* why;
        std::vector<TableEntry> entries;
        DWORD freeClusters;
        int result;
    } cases[] = {
        {"new files fit", {{"a.bin", 4096 * 10, 0, 1}, {"b.bin", 1, 0, 1}}, 1000, 0},
        // 11 clusters for the files plus 10 for the largest: 21 needed.
        {"exactly as much free as needed is too little", {{"a.bin", 4096 * 10, 0, 1}, {"b.bin", 1, 0, 1}}, 21, ErrorDiskSpace},
        {"one cluster more is enough", {{"a.bin", 4096 * 10, 0, 1}, {"b.bin", 1, 0, 1}}, 22, 0},
        // Beyond 4 GB in all: must not wrap round to a small need.
        {"sizes past 4 GB", {{"a.bin", 0xFFFFF000u, 0, 1}, {"b.bin", 0xFFFFF000u, 0, 1}}, 2097152, ErrorDiskSpace},
        // An external file is not unpacked: only the room for the largest.
        {"external file", {{"c.bin", 4096 * 10, 0, 2}}, 11, 0},
    };
    for (const Case& c : cases) {
        FakeFreeClusters = c.freeClusters;
        std::vector<uint8_t> table = FileTableOf(c.entries);
        EXPECT_EQ(Check(table), c.result) << c.why;
    }
}

TEST_F(CheckDiskSpaceTest, ExistingFilesCountOnlyTheirGrowth)
{
    // 9000 bytes take 3 clusters, as the new 10000 do: nothing to add, and
    // 3 for the largest.
    Existing("old.bin", 9000);
    std::vector<uint8_t> table = FileTableOf({{"old.bin", 10000, 0, 1}});
    FakeFreeClusters = 4;
    EXPECT_EQ(Check(table), 0);
    FakeFreeClusters = 3;
    EXPECT_EQ(Check(table), ErrorDiskSpace);
}

TEST_F(CheckDiskSpaceTest, ReadOnlyDestinationIsFoundAndKeepsItsAttribute)
{
    Existing("locked.txt", 10, FILE_ATTRIBUTE_READONLY);
    Existing("plain.txt", 10);
    std::vector<uint8_t> table = FileTableOf({{"plain.txt", 10, 0, 1}});
    EXPECT_EQ(Check(table), 0);
    EXPECT_FALSE(ReadOnlyFilesFound);

    table = FileTableOf({{"plain.txt", 10, 0, 1}, {"locked.txt", 10, 0, 1}});
    EXPECT_EQ(Check(table), 0);
    EXPECT_TRUE(ReadOnlyFilesFound);
    DWORD attributes = GetFileAttributesA((folder_ + "locked.txt").c_str());
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_READONLY) << "the attribute is put back";
}

TEST_F(CheckDiskSpaceTest, ExistingFontIsNoLongerRemovedAtUninstall)
{
    // Location 3 resolves to the fonts folder: a font of the system that
    // is there already.
    char fonts[MAX_PATH];
    GetWindowsDirectoryA(fonts, MAX_PATH);
    std::string name = Unique("zevrin-font") + ".ttf";
    std::string path = std::string(fonts) + "\\Fonts\\" + name;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    made_.push_back(path);
    std::vector<uint8_t> table = FileTableOf({{name, 10, LocationFont, UninstallRemove},
                                              {Unique("zevrin-new-font") + ".ttf", 10, LocationFont, UninstallRemove}});
    EXPECT_EQ(Check(table), 0);
    const uint8_t* first = table.data() + 4;
    EXPECT_EQ(first[EntryUninstallMode], UninstallLeave);
    EXPECT_EQ(NextEntry(first)[EntryUninstallMode], UninstallRemove) << "a font that is not there yet";
}
