// `zevrin build` as a publisher runs it: the demo package built from
// examples/demo and read back by the installer's code, command-line
// mistakes, a disk that fills up halfway, progress only on a terminal.
//
// The binary comes from the ZEVRIN_BINARY compile definition or, failing
// that, the environment variable of the same name.
#if defined(ZEVRIN_HAVE_AUTHORING) && defined(ZEVRIN_TEST_HOST)

#include <gtest/gtest.h>

#include <algorithm>
#include <dirent.h>
#include <random>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "authoring/package_writer.h"
#include "authoring/templates.h"
#include "cli_support.h"
#include "package_writer_support.h"

using namespace zevrin;
using namespace writer_test;

namespace {

Bytes Random(size_t n, unsigned seed)
{
    std::mt19937 random(seed);
    Bytes out(n);
    for (uint8_t& b : out)
        b = static_cast<uint8_t>(random());
    return out;
}

class BuildCommandTest : public PackageFixture {
protected:
    void SetUp() override
    {
        if (Binary().empty())
            GTEST_SKIP() << "ZEVRIN_BINARY is not set";
        PackageFixture::SetUp();
    }
};

TEST_F(BuildCommandTest, BuildsTheDemoPackage)
{
    std::string hello = BuildHello(dir);
    if (hello.empty())
        GTEST_SKIP() << "MinGW (i686-w64-mingw32-gcc, -windres) is not installed";
    if (DefaultTemplatePath().empty())
        GTEST_SKIP() << "the default templates are not where the tool looks for them";
    const std::string demo = SourceDir() + "/examples/demo";

    Put("uninst.exe", Bytes{'M', 'Z', 0x7F, 0x7F, 0, 0, 0, 0, 0, 0}); // its [uninstaller]
    Outcome o = RunShell(dir, "ZEVRIN build '" + demo + "/demo.toml' -I . --stub stub.exe --uninstaller uninst.exe "
                              "-o SETUP.EXE");
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, ""); // no warnings, no progress off a terminal
    EXPECT_NE(o.out.find("SETUP.EXE: "), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("4 files packed"), std::string::npos) << o.out;

    ASSERT_TRUE(ReadBack(dir.File("SETUP.EXE")));
    EXPECT_STREQ(GetMessageText(6, 0), "Zevrin Demo 1.2 Setup");
    EXPECT_EQ(HeaderFlags, 1u | 2u | 4u);
    EXPECT_STREQ(InstallDir, "#Program Files#\\Zevrin Demo");
    EXPECT_STREQ(PrevDirKey, "Software\\Zevrin Software\\Zevrin Demo");
    EXPECT_STREQ(BackgroundTitle, "Zevrin Demo 1.2");
    ASSERT_NE(FrameBitmap, nullptr);
    EXPECT_NE(std::string(GetMessageText(1, 1)).find("LICENCE\r\n"), std::string::npos); // the information page
    EXPECT_STREQ(GetMessageText(5, 5), "&View readme.txt");

    ASSERT_EQ(EntryCount, 4u);
    const uint8_t* exe = FirstEntry;
    EXPECT_STREQ(EntryString(exe, FileNameString), "hello.exe");
    EXPECT_EQ(exe[EntryFlags], FlagCheckVersion | FlagCheckLanguage | FlagHasFileTimes);
    EXPECT_EQ(ReadU32(exe + EntryFixedSize), 0x00010002u); // 1.2
    EXPECT_EQ(ReadU32(exe + EntryFixedSize + 4), 0x00000007u); // 0.7
    EXPECT_EQ(ReadU32(exe + EntryFixedSize + 16), 0x0409u);
    EXPECT_STREQ(EntryString(exe, MenuFoldersString), "Zevrin Demo");
    EXPECT_STREQ(EntryString(exe, DesktopLinkNameString), "Zevrin Demo");
    EXPECT_STREQ(EntryString(NextEntry(NextEntry(exe)), FileNameString), "docs\\license.txt");

    std::vector<Bytes> files = UnpackAll(dir);
    ASSERT_EQ(files.size(), 4u);
    EXPECT_EQ(files[0], ReadBytes(hello));
    EXPECT_EQ(files[1], ReadBytes(demo + "/readme.txt"));
    EXPECT_EQ(files[2], ReadBytes(demo + "/license.txt"));
}

TEST_F(BuildCommandTest, VolumesFromTheCommandLine)
{
    Put("data.bin", Random(30000, 1));
    Put("m.toml", Head() + "[[files]]\nsource = \"data.bin\"\n");
    Outcome o = RunShell(dir, "ZEVRIN build m.toml --stub stub.exe -o out.exe --volume-size 12k");
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.out.find("out.D01: "), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("out.D02: "), std::string::npos) << o.out;
    EXPECT_LE(ReadBytes(dir.File("out.exe")).size(), 12288u);
    EXPECT_EQ(ReadBytes(dir.File("out.D01")).size(), 12288u);
    ASSERT_TRUE(ReadBack(dir.File("out.exe")));
    EXPECT_EQ(UnpackAll(dir)[0], Random(30000, 1));
    EXPECT_EQ(VolumeNumber, 2u);
}

TEST_F(BuildCommandTest, StubFromTheEnvironment)
{
    Put("m.toml", Head());
    // Quoted apart, or Shell would take the variable's name for the binary.
    Outcome o = RunShell(dir, "env 'ZEV''RIN_STUB=stub.exe' ZEVRIN build m.toml");
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(ReadBack(dir.File("SETUP.EXE")));
}

TEST_F(BuildCommandTest, MistakesOnTheCommandLine)
{
    Put("m.toml", Head());
    Put("bad.toml", "[product]\nname = \"X\"\ntitel = \"Y\"\n");
    struct Case {
        const char* args;
        int status;
        const char* message;
    } cases[] = {
        {"", 2, "build needs a MANIFEST"},
        {"m.toml m.toml", 2, "build takes one MANIFEST"},
        {"m.toml --fast", 2, "unknown option '--fast'"},
        {"m.toml --level ultra", 2, "level 'ultra' is not a number from 0 to 12"},
        {"m.toml --level=13", 2, "level '13' is not a number from 0 to 12"},
        {"m.toml --level", 2, "--level needs a value"},
        {"m.toml --volume-size 0", 2, "volume size '0' is not a number"},
        {"m.toml --volume-size 1.44M", 2, "volume size '1.44M' is not a number"},
        {"m.toml --volume-size 5000M", 2, "volume size '5000M' is not a number"},
        {"bad.toml", 1, "bad.toml:3: product.titel: unknown key"},
        {"missing.toml", 1, "cannot open 'missing.toml': No such file or directory"},
        {"m.toml --stub nostub.exe", 1, "stub: cannot open 'nostub.exe'"},
        {"m.toml -o nodir/SETUP.EXE", 1, "cannot create a work file in 'nodir'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        Outcome o = RunShell(dir, std::string("ZEVRIN build --stub stub.exe ") + c.args);
        EXPECT_EQ(o.status, c.status);
        EXPECT_NE(o.err.find(c.message), std::string::npos) << o.err;
        if (c.status == 2) {
            EXPECT_NE(o.err.find("usage: zevrin build MANIFEST"), std::string::npos) << o.err;
        }
        EXPECT_EQ(Listing(dir.Path()), (std::vector<std::string>{"bad.toml", "dialogs.res", "m.toml", "stub.exe"}));
    }
}

// A disk that fills up: the write fails, the old package stays, and no
// work file is left. `ulimit -f` stands in for the full disk (with
// SIGXFSZ ignored, writes past it fail with EFBIG).
TEST_F(BuildCommandTest, FullDiskKeepsTheOldPackage)
{
    WriteBytes(dir.File("stub.exe"), FakeStub(300, 150 * 1024));
    Put("data.bin", Random(60 * 1024, 2));
    Put("m.toml", Head() + "[[files]]\nsource = \"data.bin\"\n");
    Put("SETUP.EXE", "the old package");
    std::vector<std::string> before = Listing(dir.Path());
    struct Case {
        unsigned limitKB;
        const char* message;
    } cases[] = {
        {180, "cannot write '"},           // the package file
        {40, "cannot write the work file"}, // the spool
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.limitKB);
        Outcome o = RunShell(dir, "trap '' XFSZ; ulimit -f " + std::to_string(c.limitKB) +
                                   "; ZEVRIN build m.toml --stub stub.exe --level 0");
        EXPECT_EQ(o.status, 1);
        EXPECT_NE(o.err.find(c.message), std::string::npos) << o.err;
        EXPECT_NE(o.err.find("File too large"), std::string::npos) << o.err;
        EXPECT_EQ(Text(ReadBytes(dir.File("SETUP.EXE"))), "the old package");
        EXPECT_EQ(Listing(dir.Path()), before);
    }
    // With room it works, and replaces the old package.
    Outcome o = RunShell(dir, "ZEVRIN build m.toml --stub stub.exe --level 0");
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(ReadBack(dir.File("SETUP.EXE")));
}

TEST_F(BuildCommandTest, ProgressOnlyOnATerminal)
{
    if (std::system("script --version > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "script(1) is not installed";
    Put("data.bin", Random(100000, 3));
    Put("m.toml", Head() + "[[files]]\nsource = \"data.bin\"\n");
    Outcome plain = RunShell(dir, "ZEVRIN build m.toml --stub stub.exe");
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(plain.err, "");
    // script(1) gives the tool a terminal and keeps what it wrote.
    Outcome tty = RunShell(dir, "script -qec \"ZEVRIN build m.toml --stub stub.exe\" typescript");
    ASSERT_EQ(tty.status, 0) << tty.err;
    std::string typescript = Text(ReadBytes(dir.File("typescript")));
    EXPECT_NE(typescript.find("% compressing data.bin"), std::string::npos) << typescript;
    EXPECT_NE(typescript.find("\r\033[K"), std::string::npos);
}

} // namespace

#endif // ZEVRIN_HAVE_AUTHORING && ZEVRIN_TEST_HOST
