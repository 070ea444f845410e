// Path joining for destinations and the abbreviation of shown paths.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "../../stub/engine/paths.h"
#include "../../stub/shared/state.h"

using namespace zevrin;

namespace {

TEST(PathTest, JoinAndReplaceFileName)
{
    const std::string folder250 = "C:\\" + std::string(246, 'f'); // 249 characters
    struct Case {
        const char* why;
        std::string folder;
        std::string name;
        bool fits;
        std::string joined;   // JoinPath(folder, name)
        std::string replaced; // ReplaceFileName(folder, name)
    } cases[] = {
        {"folder without '\\'", "C:\\Prog", "sub\\a.dat", true, "C:\\Prog\\sub\\a.dat", "C:\\sub\\a.dat"},
        {"folder with '\\'", "C:\\Prog\\", "sub\\a.dat", true, "C:\\Prog\\sub\\a.dat", "C:\\Prog\\sub\\a.dat"},
        {"package beside its files", "D:\\setup\\inst.exe", "extra\\b.txt", true, "D:\\setup\\inst.exe\\extra\\b.txt",
         "D:\\setup\\extra\\b.txt"},
        {"no folder", "", "a.dat", true, "a.dat", "a.dat"},
        {"path without '\\'", "inst.exe", "b.txt", true, "inst.exe\\b.txt", "b.txt"},
        {"exactly 259", folder250, "123456789", true, folder250 + "\\123456789", "C:\\123456789"},
        {"one past", folder250, "1234567890", false, "", "C:\\1234567890"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        char out[PathSize];
        std::strcpy(out, "untouched");
        EXPECT_EQ(JoinPath(out, c.folder.c_str(), c.name.c_str()), c.fits);
        EXPECT_STREQ(out, c.fits ? c.joined.c_str() : "untouched");
        EXPECT_TRUE(ReplaceFileName(out, c.folder.c_str(), c.name.c_str()));
        EXPECT_STREQ(out, c.replaced.c_str());
    }
}

TEST(PathTest, JoinIntoItsOwnFolder)
{
    char path[PathSize] = "C:\\App";
    ASSERT_TRUE(JoinPath(path, path, "sub\\x.dll"));
    EXPECT_STREQ(path, "C:\\App\\sub\\x.dll");
    ASSERT_TRUE(ReplaceFileName(path, path, "y.dll"));
    EXPECT_STREQ(path, "C:\\App\\sub\\y.dll");

    std::string long300(300, 'n');
    EXPECT_FALSE(ReplaceFileName(path, path, long300.c_str()));
    EXPECT_STREQ(path, "C:\\App\\sub\\y.dll") << "left as it was";
}

// GetShortPathNameA's answers: a whole path, or none to start.
TEST(PathTest, LaunchCommand)
{
    const std::string longest(PathSize - 1, 'p');
    struct Case {
        const char* why;
        std::string path;
        uint32_t length;
        bool starts;
        std::string command;
    } cases[] = {
        {"a short path as it is", "C:\\ZEVRIN~1\\HELLO.EXE", 21, true, "C:\\ZEVRIN~1\\HELLO.EXE"},
        {"blanks (no short names): quoted", "C:\\Zevrin Install\\hello.exe", 27, true,
         "\"C:\\Zevrin Install\\hello.exe\""},
        {"259 characters fit", longest, PathSize - 1, true, longest},
        {"259 characters with a blank, quoted", " " + longest.substr(1), PathSize - 1, true,
         "\" " + longest.substr(1) + "\""},
        {"failed: 0", "", 0, false, ""},
        {"too long: the size it would need", longest, PathSize + 40, false, ""},
        {"too long by one", longest, PathSize, false, ""},
        {"a length that is not the text's", "C:\\A.EXE", 3, false, ""},
    };
    for (const Case& c : cases) {
        char command[PathSize + 2] = "stale";
        EXPECT_EQ(LaunchCommand(command, c.path.c_str(), c.length), c.starts) << c.why;
        if (c.starts) {
            EXPECT_EQ(std::string(command), c.command) << c.why;
        }
    }
}

TEST(PathTest, FileName)
{
    EXPECT_STREQ(PathFileName("win\\lib.dll"), "lib.dll");
    EXPECT_STREQ(PathFileName("lib.dll"), "lib.dll");
    EXPECT_STREQ(PathFileName("C:\\dir\\"), "");
}

TEST(PathTest, SplitLogPath)
{
    const std::string deep = "C:\\App\\" + std::string(240, 'd') + "\\" + std::string(10, 'n'); // 258
    struct Case {
        const char* why;
        std::string path;
        const char* installDir;
        bool splits;
        std::string folder;
        std::string name;
    } cases[] = {
        {"in the install folder", "C:\\App\\a.exe", "C:\\App\\", true, ".", "a.exe"},
        {"in a sub-folder", "C:\\App\\sub\\b.dat", "C:\\App\\", true, ".\\sub", "b.dat"},
        {"two levels down", "C:\\App\\sub\\x\\c.dat", "C:\\App\\", true, ".\\sub\\x", "c.dat"},
        {"elsewhere", "C:\\WINDOWS\\SYSTEM\\lib.dll", "C:\\App\\", true, "C:\\WINDOWS\\SYSTEM", "lib.dll"},
        {"case does not matter", "c:\\app\\Sub\\b.dat", "C:\\APP\\", true, ".\\Sub", "b.dat"},
        {"a longer folder of the same start", "C:\\Apple\\a.exe", "C:\\App\\", true, "C:\\Apple", "a.exe"},
        {"drive root", "C:\\boot.ini", "C:\\App\\", true, "C:", "boot.ini"},
        {"empty install folder holds nothing", "C:\\App\\a.exe", "", true, "C:\\App", "a.exe"},
        {"longest path", deep, "C:\\App\\", true, ".\\" + std::string(240, 'd'), std::string(10, 'n')},
        {"no folder outside", "a.exe", "C:\\App\\", false, "", ""},
        {"not a path: too long", "C:\\App\\" + std::string(260, 'x'), "C:\\App\\", false, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        char folder[PathSize];
        const char* name = nullptr;
        EXPECT_EQ(SplitLogPath(c.path.c_str(), c.installDir, folder, &name), c.splits);
        EXPECT_EQ(folder, c.folder);
        if (c.splits) {
            EXPECT_EQ(name, c.name);
        }
    }
}

TEST(PathTest, StaysInside)
{
    struct Case {
        const char* folder;
        bool inside;
    } cases[] = {
        {"", true},           {"Tools", true},        {"Vendor\\Tools", true}, {"a..b\\..c", true},
        {"..", false},        {"Tools\\..\\..", false}, {"..\\Tools", false},    {"Tools/../..", false},
        {"\\Windows", false}, {"/Windows", false},     {"C:\\Windows", false},  {"C:Tools", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(StaysInside(c.folder), c.inside) << c.folder;
}

TEST(PathTest, Abbreviate)
{
    struct Case {
        const char* path;
        unsigned maximum;
        const char* shown;
    } cases[] = {
        {"C:\\Program Files\\Vendor\\App\\file.exe", 30, "C:\\Program Files\\...\\file.exe"},
        {"C:\\Program Files\\Vendor\\App\\file.exe", 36, "C:\\Program Files\\Vendor\\App\\file.exe"},
        {"C:\\Program Files\\Vendor\\App\\file.exe", 35, "C:\\Program Files\\Vendor\\...\\file.exe"},
        {"C:\\Program Files\\Vendor\\App\\file.exe", 10, "C:\\...\\file.exe"},
        {"C:\\a\\b\\c\\a-rather-long-file-name-for-one-line.txt", 30,
         "C:\\...\\a-rather-long-file-name-for-one-line.txt"},
        {"no-backslash-at-all-in-this-long-name.txt", 10, "no-backslash-at-all-in-this-long-name.txt"},
        {"C:\\ab\\a-long-name-with-little-room.txt", 10, "C:\\ab\\a-long-name-with-little-room.txt"},
        {"\\\\server\\share\\folder\\sub\\file.txt", 20, "\\\\server\\...\\file.txt"},
        {"", 0, ""},
    };
    for (const Case& c : cases) {
        char text[PathSize];
        std::strcpy(text, c.path);
        AbbreviatePath(text, c.maximum);
        EXPECT_STREQ(text, c.shown) << c.path << " at most " << c.maximum;
    }
}

} // namespace
