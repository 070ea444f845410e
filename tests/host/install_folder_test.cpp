// The text rules of the install folder proposal: folder macros, a
// recorded path naming a file, and paths rewritten with stored names
// (over a stand-in file system; the real one is tests/windows).
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "../../stub/shared/state.h"
#include "../../stub/startup/install_folder.h"

using namespace zevrin;

namespace {

TEST(InstallFolderTest, SplitFolderMacro)
{
    struct Case {
        const char* text;
        FolderMacro macro;
        const char* rest; // when there is a macro
    } cases[] = {
        {"#Windows#\\fonts", WindowsFolderMacro, "fonts"},
        {"#windows#fonts", WindowsFolderMacro, "fonts"},
        {"#SYSTEM#\\x", SystemFolderMacro, "x"},
        {"#sYsTeM#", SystemFolderMacro, ""},
        {"#Program Files#\\Tools", ProgramFilesFolderMacro, "Tools"},
        {"#PROGRAM FILES#\\\\Tools", ProgramFilesFolderMacro, "\\Tools"}, // one '\' only
        {"#user program files#\\Demo", UserProgramFilesFolderMacro, "Demo"},
        {"#Temp#\\x", UnknownFolderMacro, "x"},
        {"##x", UnknownFolderMacro, "x"},
        {"#Windows #\\x", UnknownFolderMacro, "x"},
        {"#System", NoFolderMacro, nullptr},
        {"C:\\#System#", NoFolderMacro, nullptr},
        {"", NoFolderMacro, nullptr},
    };
    for (const Case& c : cases) {
        const char* rest = nullptr;
        EXPECT_EQ(SplitFolderMacro(c.text, &rest), c.macro) << c.text;
        if (c.rest) {
            EXPECT_STREQ(rest, c.rest) << c.text;
        }
    }
}

TEST(InstallFolderTest, CutToFileFolder)
{
    struct Case {
        const char* path;
        bool namesFile;
        const char* folder;
    } cases[] = {
        {"d:\\App\\app.exe", true, "d:\\App"},
        {"d:\\App\\a.b\\c.d", true, "d:\\App\\a.b"},
        {"d:\\app.exe", true, "d:\\"}, // the root, not d:'s current folder
        {"\\app.exe", true, "\\"},
        {"d:\\old.d\\missing", false, nullptr},
        {"d:\\App\\", false, nullptr},
        {"app.exe", false, nullptr},
    };
    for (const Case& c : cases) {
        char path[PathSize];
        std::strcpy(path, c.path);
        EXPECT_EQ(CutToFileFolder(path), c.namesFile) << c.path;
        if (c.namesFile) {
            EXPECT_STREQ(path, c.folder) << c.path;
        }
    }
}

// A stand-in file system: each existing path (in any case) and the name
// its last component is stored under.
std::map<std::string, std::string> StoredNames;

std::string Upper(std::string text)
{
    for (char& c : text)
        c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    return text;
}

bool FakeLookup(const char* path, char* name)
{
    auto found = StoredNames.find(Upper(path));
    if (found == StoredNames.end())
        return false;
    std::strcpy(name, found->second.c_str());
    return true;
}

TEST(InstallFolderTest, RewritePathCase)
{
    const std::string longA(200, 'a'), longB(100, 'b');
    StoredNames = {
        {"C:\\PROGRAM FILES", "Program Files"},
        {"C:\\PROGRA~1", "Program Files"},
        {"C:\\PROGRAM FILES\\APP", "App"},
        {"\\WINDOWS", "Windows"},
        {"C:\\A~1", longA},
        {Upper("C:\\" + longA + "\\B~1"), longB},
    };
    struct Case {
        const char* why;
        const char* path;
        const char* rewritten;
    } cases[] = {
        {"stored case, drive letter kept", "c:\\program files\\app", "c:\\Program Files\\App"},
        {"final '\\' goes", "c:\\program files\\app\\", "c:\\Program Files\\App"},
        {"long form", "C:\\PROGRA~1\\app", "C:\\Program Files\\App"},
        {"backslashes after the drive", "c:\\\\program files", "c:\\Program Files"},
        {"no drive", "\\windows", "\\Windows"},
        {"last component missing", "c:\\program files\\gone", "c:\\program files\\gone"},
        {"folder missing", "c:\\gone\\app", "c:\\gone\\app"},
        {"root", "C:\\", "C:\\"},
        {"UNC", "\\\\server\\share", "\\\\server\\share"},
        {"relative", "program files\\app", "program files\\app"},
        {"drive-relative", "c:program files", "c:program files"},
        {"empty component", "c:\\program files\\\\app", "c:\\program files\\\\app"},
        {"wildcard", "c:\\prog*", "c:\\prog*"},
        {"long names would not fit", "C:\\A~1\\B~1", "C:\\A~1\\B~1"},
    };
    for (const Case& c : cases) {
        char path[PathSize];
        std::strcpy(path, c.path);
        RewritePathCase(path, FakeLookup);
        EXPECT_STREQ(path, c.rewritten) << c.why;
    }
}

} // namespace
