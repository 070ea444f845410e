// Command-line parsing and the path helpers of start-up.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "../../stub/engine/paths.h"
#include "../../stub/shared/state.h"
#include "../../stub/startup/command_line.h"

using namespace zevrin;

namespace {

TEST(CommandLineTest, Options)
{
    const std::string own = "C:\\own\\SETUP.EXE";
    const std::string long300(300, 'p');
    struct Case {
        const char* why;
        std::string text;
        std::string source;
        bool deleteSelf;
        uint8_t mode = RunInteractive;
        std::string dir = "";
        std::string log = "";
    } cases[] = {
        {"nothing", "", own, false},
        {"only blanks", "   ", own, false},
        {"bare path, blank after /S", "/S d:\\pkg\\setup.exe", "d:\\pkg\\setup.exe", false},
        {"lower case with dashes", "-s d:\\pkg\\setup.exe -del", "d:\\pkg\\setup.exe", true},
        {"quoted path with blanks and slashes", "/S \"A:\\my disk\\set-up/x.exe\" /DEL", "A:\\my disk\\set-up/x.exe", true},
        {"quote right after /S, /DEL right after the quote", "/S\"A:\\SETUP.EXE\"/DEL", "A:\\SETUP.EXE", true},
        {"bare path right after /S", "/Sd:\\x-y/z.exe", "d:\\x-y/z.exe", false},
        {"unclosed quote takes the rest", "/S \"C:\\a b", "C:\\a b", false},
        {"a word that is no option stops parsing", "setup /S x /DEL /Q", own, false},
        {"/D alone sets nothing", "/D", own, false},
        {"/DX sets nothing", "/DX /DE", own, false},
        {"/DELETE counts as /DEL", "/DELETE", own, true},
        {"unknown options are skipped", "/xyz /Q /del", own, true, RunQuiet},
        {"leading blanks", "   /del", own, true},
        {"a lone slash at the end", "/del /", own, true},
        {"argument of 300 characters keeps 259", "/S " + long300, long300.substr(0, 259), false},
        {"quoted argument of 300 characters keeps 259", "/S\"" + long300 + "\" /DEL", long300.substr(0, 259), true},
        // Unattended runs.
        {"/QP is progress only", "-qp", own, false, RunProgressOnly},
        {"/QUIET is quiet", "/QUIET", own, false, RunQuiet},
        {"the last mode wins", "/Q /QP", own, false, RunProgressOnly},
        {"quoted folder with blanks after '='", "/Q /DIR=\"C:\\Some Folder\\Deep-er/x\" /DEL", own, true, RunQuiet,
         "C:\\Some Folder\\Deep-er/x"},
        {"folder after a blank, lower case", "/dir \"D:\\a b\" /q", own, false, RunQuiet, "D:\\a b"},
        {"bare folder ends at the blank", "/DIR=C:\\Program Files\\x", own, false, RunInteractive, "C:\\Program"},
        {"log and folder in either order", "/LOG=\"C:\\logs\\setup 1.log\" /DIR=E:\\x /QP", own, false,
         RunProgressOnly, "E:\\x", "C:\\logs\\setup 1.log"},
        {"longer words are other options", "/LO=x /LOGX=y /DIRECTORY=z /DELX", own, true},
        {"folder of 300 characters keeps 259", "/DIR=" + long300, own, false, RunInteractive, long300.substr(0, 259)},
        {"options wrapped in quotes whole", "\"/DIR=C:\\My Folder\\x\" \"/LOG=D:\\a b.log\" \"/S C:\\p q.exe\" /q",
         "C:\\p q.exe", false, RunQuiet, "C:\\My Folder\\x", "D:\\a b.log"},
        {"a wrapped option without its closing quote", "\"/DIR=C:\\x y", own, false, RunInteractive, "C:\\x y"},
        {"a quoted word that is no option stops parsing", "\"C:\\x\" /Q", own, false},
        {"/S and /DIR together", "/S\"A:\\SETUP.EXE\" /DIR=\"C:\\P\"", "A:\\SETUP.EXE", false, RunInteractive, "C:\\P"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        std::snprintf(PackageSourcePath, PathSize, "%s", own.c_str());
        DeleteSelfMode = false;
        RunMode = RunInteractive;
        CommandLineDir[0] = RunLogPath[0] = 0;
        ParseCommandLine(c.text.c_str());
        EXPECT_EQ(std::string(PackageSourcePath), c.source);
        EXPECT_EQ(DeleteSelfMode, c.deleteSelf);
        EXPECT_EQ(RunMode, c.mode);
        EXPECT_EQ(std::string(CommandLineDir), c.dir);
        EXPECT_EQ(std::string(RunLogPath), c.log);
    }
    ParseCommandLine(nullptr);
    DeleteSelfMode = false;
    RunMode = RunInteractive;
    CommandLineDir[0] = RunLogPath[0] = 0;
}

TEST(CommandLineTest, ReadOptionArgumentStopsWhereTheArgumentEnds)
{
    struct Case {
        const char* text;
        unsigned capacity;
        const char* value;
        const char* rest;
    } cases[] = {
        {"  bare next", 260, "bare", " next"},
        {"\"quoted one\"next", 260, "quoted one", "next"},
        {"abcdef rest", 4, "abc", " rest"},
        {"", 260, "", ""},
    };
    for (const Case& c : cases) {
        char out[260];
        const char* after = ReadOptionArgument(c.text, out, c.capacity);
        EXPECT_STREQ(out, c.value) << c.text;
        EXPECT_STREQ(after, c.rest) << c.text;
    }
}

TEST(PathTest, Backslashes)
{
    struct Case {
        const char* path;
        const char* appended;
        const char* stripped;
    } cases[] = {
        {"C:\\Program Files\\App", "C:\\Program Files\\App\\", "C:\\Program Files\\App"},
        {"C:\\Program Files\\App\\", "C:\\Program Files\\App\\", "C:\\Program Files\\App"},
        {"C:\\", "C:\\", "C:\\"},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        char path[PathSize];
        std::strcpy(path, c.path);
        AppendBackslash(path);
        EXPECT_STREQ(path, c.appended);
        std::strcpy(path, c.path);
        StripBackslash(path);
        EXPECT_STREQ(path, c.stripped);
    }
    char full[PathSize];
    std::memset(full, 'x', PathSize - 1);
    full[PathSize - 1] = 0;
    AppendBackslash(full);
    EXPECT_EQ(std::strlen(full), PathSize - 1) << "never past the buffer";
}

} // namespace
