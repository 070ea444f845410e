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
    } cases[] = {
        {"nothing", "", own, false},
        {"only blanks", "   ", own, false},
        {"bare path, blank after /S", "/S d:\\pkg\\setup.exe", "d:\\pkg\\setup.exe", false},
        {"lower case with dashes", "-s d:\\pkg\\setup.exe -del", "d:\\pkg\\setup.exe", true},
        {"quoted path with blanks and slashes", "/S \"A:\\my disk\\set-up/x.exe\" /DEL", "A:\\my disk\\set-up/x.exe", true},
        {"quote right after /S, /DEL right after the quote", "/S\"A:\\SETUP.EXE\"/DEL", "A:\\SETUP.EXE", true},
        {"bare path right after /S", "/Sd:\\x-y/z.exe", "d:\\x-y/z.exe", false},
        {"unclosed quote takes the rest", "/S \"C:\\a b", "C:\\a b", false},
        {"a word that is no option stops parsing", "setup /S x /DEL", own, false},
        {"/D alone sets nothing", "/D", own, false},
        {"/DX sets nothing", "/DX /DE", own, false},
        {"/DELETE counts as /DEL", "/DELETE", own, true},
        {"unknown options are skipped", "/Q /xyz /del", own, true},
        {"leading blanks", "   /del", own, true},
        {"a lone slash at the end", "/del /", own, true},
        {"argument of 300 characters keeps 259", "/S " + long300, long300.substr(0, 259), false},
        {"quoted argument of 300 characters keeps 259", "/S\"" + long300 + "\" /DEL", long300.substr(0, 259), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        std::snprintf(PackageSourcePath, PathSize, "%s", own.c_str());
        DeleteSelfMode = false;
        ParseCommandLine(c.text.c_str());
        EXPECT_EQ(std::string(PackageSourcePath), c.source);
        EXPECT_EQ(DeleteSelfMode, c.deleteSelf);
    }
    ParseCommandLine(nullptr);
    DeleteSelfMode = false;
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
