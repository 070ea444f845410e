// The install folder proposal against the real registry, profile files and
// file system, and the destinations of file-table entries, shared system
// files through the version library included.
#include <windows.h>

#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "../../stub/engine/file_table.h"
#include "../../stub/engine/paths.h"
#include "../../stub/engine/win32/destination.h"
#include "../../stub/engine/win32/registry.h"
#include "../../stub/shared/state.h"
#include "../../stub/startup/win32/install_dir.h"

using namespace zevrin;

namespace {

const char TestValue[] = "Folder";

// CTest runs each test in its own process, two at a time, in one prefix:
// keys, folders and files are named after the test.
std::string TestName() { return ::testing::UnitTest::GetInstance()->current_test_info()->name(); }

std::string TestKeyName() { return "Software\\Zevrin Tests\\" + TestName(); }

std::string Lower(std::string text)
{
    CharLowerA(&text[0]);
    return text;
}

std::string CurrentDirectory()
{
    char path[MAX_PATH] = "";
    GetCurrentDirectoryA(MAX_PATH, path);
    return path;
}

std::string WindowsFolder()
{
    char path[MAX_PATH];
    GetWindowsDirectoryA(path, MAX_PATH);
    return path;
}

std::string SystemFolder()
{
    char path[MAX_PATH];
    GetSystemDirectoryA(path, MAX_PATH);
    return path;
}

// The user's local application data and its Programs folder, where the
// shell's known folder for the user's programs is.
std::string UserProgramsFolder()
{
    char path[MAX_PATH] = "";
    if (SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, path) != S_OK)
        return "(no local application data)";
    return std::string(path) + "\\Programs";
}

std::string ProgramFilesFolder()
{
    char path[MAX_PATH] = "";
    DWORD size = MAX_PATH;
    RegGetValueA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir",
                 RRF_RT_REG_SZ, nullptr, path, &size);
    return path;
}

void SetRegistryValue(HKEY root, const char* name, DWORD type, const std::string& data, bool terminate = true)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyA(root, TestKeyName().c_str(), &key), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.c_str()),
                             static_cast<DWORD>(data.size() + (terminate ? 1 : 0))),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

void DeleteTestKeys()
{
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        RegDeleteKeyA(root, TestKeyName().c_str());
        RegDeleteKeyA(root, "Software\\Zevrin Tests");
    }
}

// What a package's header holds, for the run of one case.
struct Records {
    uint32_t rootIndex = 1;
    std::string key = TestKeyName();
    bool valueName = true; // false: the key's default value
    std::string iniFile, iniSection = "Zevrin", iniKey = "Folder";
};

class InstallDirTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        folderName_ = "Zevrin " + TestName();
        base_ = std::string(temp) + folderName_;
        stored_ = base_ + "\\Stored Case\\App";
        profileFolder_ = base_ + "\\Profile Folder";
        ini_ = base_ + "\\setup.ini";
        CreateDirectoryA(base_.c_str(), nullptr);
        CreateDirectoryA((base_ + "\\Stored Case").c_str(), nullptr);
        CreateDirectoryA(stored_.c_str(), nullptr);
        CreateDirectoryA(profileFolder_.c_str(), nullptr);
        DeleteTestKeys();
        DeleteFileA(ini_.c_str());
        SetCurrentDirectoryA(base_.c_str());
    }

    void TearDown() override
    {
        Clear();
        DeleteTestKeys();
        SetCurrentDirectoryA(WindowsFolder().c_str());
        DeleteFileA(ini_.c_str());
        RemoveDirectoryA(stored_.c_str());
        RemoveDirectoryA((base_ + "\\Stored Case").c_str());
        RemoveDirectoryA(profileFolder_.c_str());
        RemoveDirectoryA(base_.c_str());
    }

    void Clear()
    {
        PrevDirRootIndex = 0;
        PrevDirKey = PrevDirValue = PrevDirIniFile = PrevDirIniSection = PrevDirIniKey = nullptr;
    }

    // Sets the header variables and the default, resolves, and gives
    // InstallDir.
    std::string Resolve(const std::string& defaultDir, const Records* records)
    {
        records_ = records ? *records : Records();
        Clear();
        if (records) {
            PrevDirRootIndex = records_.rootIndex;
            PrevDirKey = records_.key.empty() ? nullptr : &records_.key[0];
            value_ = TestValue;
            PrevDirValue = records_.valueName ? &value_[0] : nullptr;
            if (!records_.iniFile.empty()) {
                PrevDirIniFile = &records_.iniFile[0];
                PrevDirIniSection = &records_.iniSection[0];
                PrevDirIniKey = &records_.iniKey[0];
            }
        }
        EXPECT_LT(defaultDir.size(), PathSize);
        lstrcpynA(InstallDir, defaultDir.c_str(), PathSize);
        ResolveInstallDir();
        return InstallDir;
    }

    void WriteProfile(const std::string& text)
    {
        ASSERT_TRUE(WritePrivateProfileStringA("Zevrin", "Folder", text.c_str(), ini_.c_str()));
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, ini_.c_str());
    }

    // The folder as recorded in lower case, and as it comes back: the
    // drive letter as written, the rest as stored.
    std::string LowerStored() const { return Lower(stored_); }
    std::string Restored() const { return Lower(stored_.substr(0, 1)) + stored_.substr(1); }

    std::string folderName_, base_, stored_, profileFolder_, ini_, value_;
    Records records_;
};

TEST_F(InstallDirTest, WithoutRecordsTheDefaultHasItsMacroExpanded)
{
    const std::string rest249(249, 'x');
    struct Case {
        std::string defaultDir;
        std::string expected;
    } cases[] = {
        {"C:\\Plain\\Folder", "C:\\Plain\\Folder"},
        {"#Windows#\\Zevrin", WindowsFolder() + "\\Zevrin"},
        {"#windows#fonts", WindowsFolder() + "\\fonts"},
        {"#SYSTEM#\\Zevrin", SystemFolder() + "\\Zevrin"},
        {"#sYsTeM#\\Zevrin", SystemFolder() + "\\Zevrin"},
        {"#Program Files#\\Tools", ProgramFilesFolder() + "\\Tools"},
        {"#User Program Files#\\Tools", UserProgramsFolder() + "\\Tools"},
        {"#System\\Zevrin", "#System\\Zevrin"},
        {"#Temp#\\x", "x"},
        // The Windows folder and the rest would pass 259 characters: the
        // folder is dropped as if it could not be had.
        {"#Windows#\\" + rest249, rest249},
    };
    ASSERT_FALSE(ProgramFilesFolder().empty());
    for (const Case& c : cases) {
        EXPECT_EQ(Resolve(c.defaultDir, nullptr), c.expected) << c.defaultDir;
        EXPECT_EQ(CurrentDirectory(), base_) << "no folder tested: " << c.defaultDir;
    }
}

TEST_F(InstallDirTest, RecordedFolder)
{
    const std::string fallback = "#Windows#\\Zevrin";
    const std::string expanded = WindowsFolder() + "\\Zevrin";
    // "\." repeated: a text that names the folder itself however it is cut.
    std::string tooLong = LowerStored();
    while (tooLong.size() < 300)
        tooLong += "\\.";
    struct Case {
        const char* why;
        std::string value;   // registry value; empty: none written
        DWORD type;
        std::string profile; // profile key; empty: none written
        std::string expected;
        std::string current; // current directory afterwards
    } cases[] = {
        {"existing folder, lower case", LowerStored(), REG_SZ, "", Restored(), stored_},
        {"trailing backslash", LowerStored() + "\\", REG_SZ, "", Restored(), stored_},
        {"names a file in an existing folder", LowerStored() + "\\app.exe", REG_SZ, "", Restored(), stored_},
        {"missing folder without a dot", base_ + "\\Gone", REG_SZ, "", expanded, base_},
        {"file in a missing folder", base_ + "\\Gone\\app.exe", REG_SZ, "", expanded, base_},
        {"missing folder, profile not asked", base_ + "\\Gone", REG_SZ, profileFolder_, expanded, base_},
        {"empty value, profile folder", "", REG_SZ, profileFolder_, profileFolder_, profileFolder_},
        {"profile names a file", "", REG_SZ, Lower(profileFolder_) + "\\x.ini",
         Lower(profileFolder_.substr(0, 1)) + profileFolder_.substr(1), profileFolder_},
        {"expandable text", "%TEMP%\\" + folderName_ + "\\Stored Case\\App", REG_EXPAND_SZ, "", stored_, stored_},
        {"a number is no path", "1234", REG_DWORD, profileFolder_, profileFolder_, profileFolder_},
        {"value too long for 260 bytes", tooLong, REG_SZ, "", expanded, base_},
        {"profile text too long for 260 bytes", "", REG_SZ, tooLong, expanded, base_},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        DeleteTestKeys();
        DeleteFileA(ini_.c_str());
        SetCurrentDirectoryA(base_.c_str());
        if (c.type == REG_DWORD)
            SetRegistryValue(HKEY_CURRENT_USER, TestValue, REG_DWORD, std::string("\x01\x02\x03\x04", 4), false);
        else if (!c.value.empty() || !c.profile.empty())
            SetRegistryValue(HKEY_CURRENT_USER, TestValue, c.type, c.value);
        if (!c.profile.empty())
            WriteProfile(c.profile);
        Records records;
        records.iniFile = ini_;
        EXPECT_EQ(Resolve(fallback, &records), c.expected);
        EXPECT_EQ(Lower(CurrentDirectory()), Lower(c.current));
    }
}

TEST_F(InstallDirTest, RootKeyByIndex)
{
    struct Case {
        uint32_t rootIndex;
        HKEY writtenUnder;
        bool found;
    } cases[] = {
        {1, HKEY_CURRENT_USER, true},
        {7, HKEY_CURRENT_USER, true},
        {2, HKEY_LOCAL_MACHINE, true},
        {2, HKEY_CURRENT_USER, false},
    };
    for (const Case& c : cases) {
        DeleteTestKeys();
        SetRegistryValue(c.writtenUnder, TestValue, REG_SZ, stored_);
        Records records;
        records.rootIndex = c.rootIndex;
        EXPECT_EQ(Resolve("C:\\Default", &records), c.found ? stored_ : "C:\\Default") << c.rootIndex;
    }
    EXPECT_EQ(RootKey(0), HKEY_CLASSES_ROOT);
    EXPECT_EQ(RootKey(3), HKEY_USERS);
    EXPECT_EQ(RootKey(4), HKEY_CURRENT_USER);
}

TEST_F(InstallDirTest, DefaultValueAndMissingRecords)
{
    // Without PrevDirValue the key's default value is read.
    SetRegistryValue(HKEY_CURRENT_USER, nullptr, REG_SZ, stored_);
    Records records;
    records.valueName = false;
    EXPECT_EQ(Resolve("C:\\Default", &records), stored_);

    // A profile needs all three of file, section and key.
    WriteProfile(profileFolder_);
    records = Records();
    records.key.clear();
    records.iniFile = ini_;
    records.iniKey = "Other";
    EXPECT_EQ(Resolve("C:\\Default", &records), "C:\\Default");
    records.iniKey = "Folder";
    EXPECT_EQ(Resolve("C:\\Default", &records), profileFolder_);
}

TEST(RegistryPathTest, OnlyTextThatFits)
{
    const std::string text259 = "C:\\" + std::string(256, 'p');
    const std::string text260 = text259 + "q";
    struct Case {
        const char* why;
        DWORD type;
        std::string data;
        bool terminate;
        bool read;
        std::string text;
    } cases[] = {
        {"text", REG_SZ, "C:\\App", true, true, "C:\\App"},
        {"stored without its NUL", REG_SZ, "C:\\App", false, true, "C:\\App"},
        {"259 characters", REG_SZ, text259, true, true, text259},
        {"259 characters without NUL", REG_SZ, text259, false, true, text259},
        {"260 characters", REG_SZ, text260, true, false, ""},
        {"260 characters without NUL", REG_SZ, text260, false, false, ""},
        {"expandable", REG_EXPAND_SZ, "%WINDIR%\\App", true, true, WindowsFolder() + "\\App"},
        {"expands past 259", REG_EXPAND_SZ, "%WINDIR%\\" + std::string(250, 'e'), true, false, ""},
        {"number", REG_DWORD, std::string("C:\\A", 4), false, false, ""},
        {"bytes", REG_BINARY, "C:\\App", true, false, ""},
        {"several texts", REG_MULTI_SZ, std::string("C:\\App\0", 7), true, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        DeleteTestKeys();
        SetRegistryValue(HKEY_CURRENT_USER, TestValue, c.type, c.data, c.terminate);
        char text[PathSize];
        std::memset(text, 'z', sizeof text);
        EXPECT_EQ(ReadRegistryPath(HKEY_CURRENT_USER, TestKeyName().c_str(), TestValue, text), c.read);
        EXPECT_EQ(std::string(text), c.text);
    }
    char text[PathSize];
    EXPECT_FALSE(ReadRegistryPath(HKEY_CURRENT_USER, TestKeyName().c_str(), "no such value", text));
    DeleteTestKeys();
    EXPECT_FALSE(ReadRegistryPath(HKEY_CURRENT_USER, TestKeyName().c_str(), TestValue, text));
    EXPECT_STREQ(text, "");
}

TEST(NormalizePathCaseTest, RealFileSystem)
{
    std::string windows = WindowsFolder();
    char path[PathSize];
    lstrcpynA(path, Lower(windows + "\\SYSTEM32\\").c_str(), PathSize);
    NormalizePathCase(path);
    EXPECT_EQ(std::string(path), Lower(windows.substr(0, 1)) + windows.substr(1) + "\\" +
                                     PathFileName(SystemFolder().c_str()));
    for (const char* unchanged : {"C:\\", "c:\\no such folder\\x", "\\\\server\\share"}) {
        lstrcpynA(path, unchanged, PathSize);
        NormalizePathCase(path);
        EXPECT_STREQ(path, unchanged);
    }
}

// --- destinations ------------------------------------------------------------

std::vector<uint8_t> Entry(uint8_t location, uint8_t uninstallMode, const std::string& fileName)
{
    std::vector<uint8_t> entry(EntryFixedSize, 0);
    entry[EntryLocation] = location;
    entry[EntryUninstallMode] = uninstallMode;
    entry.insert(entry.end(), fileName.begin(), fileName.end());
    entry.insert(entry.end(), 6, 0); // the NUL of FileName, five empty strings
    WriteU16(entry.data(), static_cast<uint16_t>(entry.size()));
    return entry;
}

std::string FontsFolder()
{
    char path[MAX_PATH] = "";
    SHGetSpecialFolderPathA(nullptr, path, CSIDL_FONTS, FALSE);
    return path;
}

TEST(DestinationTest, ByLocation)
{
    const std::string folder250 = "C:\\" + std::string(247, 'f');
    struct Case {
        const char* why;
        std::string installDir;
        std::string source;
        uint8_t location;
        uint8_t mode;
        std::string fileName;
        int result;
        std::string destination;
    } cases[] = {
        {"install folder", "C:\\Prog", "", 0, 1, "sub\\a.dat", 0, "C:\\Prog\\sub\\a.dat"},
        {"install folder with '\\'", "C:\\Prog\\", "", 0, 0, "sub\\a.dat", 0, "C:\\Prog\\sub\\a.dat"},
        {"drive root", "C:\\", "", 0, 0, "a.dat", 0, "C:\\a.dat"},
        {"unknown location", "C:\\Prog\\", "", 9, 0, "a.dat", 0, "C:\\Prog\\a.dat"},
        {"Windows folder", "C:\\Prog\\", "", 1, 0, "sub\\a.ini", 0, WindowsFolder() + "\\sub\\a.ini"},
        {"fonts folder", "C:\\Prog\\", "", 3, 0, "z.ttf", 0, FontsFolder() + "\\z.ttf"},
        {"external file", "C:\\Prog\\", "D:\\setup\\inst.exe", 1, 2, "extra\\b.txt", 0, "D:\\setup\\extra\\b.txt"},
        {"external, package without folder", "C:\\Prog\\", "inst.exe", 0, 2, "b.txt", 0, "b.txt"},
        {"too long", folder250, "", 0, 0, "sub\\abcdefgh.dat", DestinationTooLong, ""},
        {"too long in the Windows folder", "C:\\Prog", "", 1, 0, std::string(255, 'w'), DestinationTooLong, ""},
        {"external, too long", "C:\\Prog\\", folder250 + "\\inst.exe", 0, 2, "extra\\b.txt", DestinationTooLong, ""},
    };
    ASSERT_FALSE(FontsFolder().empty());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        std::vector<uint8_t> entry = Entry(c.location, c.mode, c.fileName);
        lstrcpynA(InstallDir, c.installDir.c_str(), PathSize);
        lstrcpynA(PackageSourcePath, c.source.c_str(), PathSize);
        std::strcpy(DestPath, "stale");
        EXPECT_EQ(ResolveDestination(entry.data()), c.result);
        EXPECT_EQ(std::string(DestPath), c.destination);
        EXPECT_EQ(std::string(InstallDir), c.installDir) << "InstallDir is only read";
    }
}

class SharedFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        name_ = "zevrin_" + TestName() + ".dll";
        path_ = SystemFolder() + "\\" + name_;
    }
    void TearDown() override
    {
        SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path_.c_str());
        AllocationFailureCountdown = -1;
    }
    void MakeFile(DWORD attributes)
    {
        HANDLE file = CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        CloseHandle(file);
        SetFileAttributesA(path_.c_str(), attributes);
    }
    int Resolve(const std::string& fileName)
    {
        std::strcpy(InstallDir, "C:\\Prog\\");
        std::vector<uint8_t> entry = Entry(2, 1, fileName);
        return ResolveDestination(entry.data());
    }
    std::string name_, path_;
};

TEST_F(SharedFileTest, GoesWhereTheVersionLibrarySays)
{
    // Sub-folders of the name are ignored for shared files.
    EXPECT_EQ(Resolve("win\\" + name_), 0);
    EXPECT_STREQ(DestPath, path_.c_str()) << "absent: the System folder";
    EXPECT_STREQ(InstallDir, "C:\\Prog\\");

    MakeFile(FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(Resolve(name_), 0) << "present, writable, not in use";
    EXPECT_STREQ(DestPath, path_.c_str());
}

// Wine's VerFindFileA never reports a file in use (not even a loaded
// library), so only the read-only rule is seen here.
TEST_F(SharedFileTest, ReadOnlyIsReplacedAtRestart)
{
    MakeFile(FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(Resolve("win\\" + name_), 1);
    EXPECT_STREQ(DestPath, path_.c_str());
}

TEST_F(SharedFileTest, WithoutScratchTheInstallFolder)
{
    AllocationFailureCountdown = 0;
    EXPECT_EQ(Resolve("win\\lib.dll"), 0);
    EXPECT_STREQ(DestPath, "C:\\Prog\\win\\lib.dll");
}

} // namespace
