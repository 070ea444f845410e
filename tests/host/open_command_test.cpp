// The command built from a file type's registered open command.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "../../stub/engine/open_command.h"
#include "../../stub/shared/state.h"

using namespace zevrin;

namespace {

TEST(OpenCommandTest, CutAtPercentOneAndAppendTheFile)
{
    const char* file = "C:\\App\\read me.txt";
    struct Case {
        const char* why;
        const char* registered;
        const char* command;
    } cases[] = {
        {"quoted %1 and a switch: the switch is dropped", "\"C:\\Prog\\view.exe\" \"%1\" /x",
         "\"C:\\Prog\\view.exe\"  C:\\App\\read me.txt"},
        {"%1 alone", "notepad.exe %1", "notepad.exe  C:\\App\\read me.txt"},
        {"no %1: the file is appended", "notepad.exe", "notepad.exe C:\\App\\read me.txt"},
        {"%1 inside a word", "prog -o%1x", "prog -o C:\\App\\read me.txt"},
        {"quoted %1 is looked for first", "prog %1 \"%1\"", "prog %1  C:\\App\\read me.txt"},
        {"a command that is only %1", "\"%1\"", " C:\\App\\read me.txt"},
        {"%L is no %1", "prog \"%L\"", "prog \"%L\" C:\\App\\read me.txt"},
        {"an empty command", "", " C:\\App\\read me.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        char command[PathSize];
        std::strcpy(command, c.registered);
        EXPECT_TRUE(BuildOpenCommand(command, file));
        EXPECT_STREQ(command, c.command);
    }
}

TEST(OpenCommandTest, ACommandThatWouldNotFitIsRefused)
{
    struct Case {
        const char* why;
        std::string registered;
        size_t fileLength;
        bool fits;
    } cases[] = {
        {"259 characters fit", std::string(200, 'p'), 58, true},
        {"260 do not", std::string(200, 'p'), 59, false},
        {"the cut makes room", std::string(10, 'p') + " %1 " + std::string(240, 'q'), 200, true},
        {"a long path alone", "p", 258, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        char command[PathSize + 8];
        std::memset(command, 'z', sizeof command);
        std::strcpy(command, c.registered.c_str());
        std::string file(c.fileLength, 'f');
        EXPECT_EQ(BuildOpenCommand(command, file.c_str()), c.fits);
        if (c.fits)
            EXPECT_EQ(std::strlen(command), std::min<size_t>(c.registered.find('%'), c.registered.size()) + 1 +
                                                c.fileLength);
        else
            EXPECT_EQ(std::string(command), c.registered) << "untouched";
        for (size_t i = PathSize; i < sizeof command; ++i)
            EXPECT_EQ(command[i], 'z') << "nothing written past the buffer";
    }
}

} // namespace
