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
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

#include "authoring/encoder.h"
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
    EXPECT_NE(o.out.find("; 3 volumes of at most 12288 bytes; "), std::string::npos) << o.out;

    // The usual media by name.
    Put("big.bin", Random(3 << 20, 2));
    Put("big.toml", Head() + "[[files]]\nsource = \"big.bin\"\n");
    Outcome floppy = RunShell(dir, "ZEVRIN build big.toml --stub stub.exe --level 0 -o disk.exe --volume-size 1.44M");
    ASSERT_EQ(floppy.status, 0) << floppy.err;
    EXPECT_NE(floppy.out.find("; 3 volumes of at most 1474560 bytes; "), std::string::npos) << floppy.out;
    EXPECT_EQ(ReadBytes(dir.File("disk.D01")).size(), 1474560u);
}

// Files with the same bytes are packed once and come back whole from the
// installer's reader and from list, verify and extract, on one volume and
// with copies whose source lies in another volume. A file of the same size
// that differs in its last byte, empty files and a one-byte file are no
// copies.
TEST_F(BuildCommandTest, IdenticalFilesArePackedOnce)
{
    const Bytes a = Random(30000, 1);
    Bytes nearly = a;
    nearly.back() ^= 1;
    struct File {
        const char* source;
        Bytes bytes;
        int sameAs; // the entry it copies, -1 none
    } files[] = {
        {"a.bin", a, -1},          {"b.bin", Random(30000, 2), -1}, {"nearly.bin", nearly, -1},
        {"sub/a.bin", a, 0},       {"e1.txt", Bytes(), -1},         {"e2.txt", Bytes(), -1},
        {"x1.txt", Bytes{'x'}, -1}, {"x2.txt", Bytes{'x'}, -1},     {"sub/b.bin", Random(30000, 2), 1},
        {"again.bin", a, 0},
    };
    ASSERT_EQ(::mkdir(dir.File("sub").c_str(), 0777), 0);
    std::string list;
    for (const File& f : files) {
        Put(f.source, f.bytes);
        std::string name = f.source;
        if (name.find('/') != std::string::npos)
            name.replace(name.find('/'), 1, "\\\\");
        list += std::string("[[files]]\nsource = \"") + f.source + "\"\nname = \"" + name + "\"\n";
    }
    Put("once.toml", Head() + list);
    // store_once belongs to [product]: the head's [wizard] follows it.
    std::string each = Head();
    each.insert(each.find("[wizard]"), "store_once = false\n");
    Put("each.toml", each + list);

    struct Case {
        const char* why;
        const char* volumes;
        const char* summary;
    } cases[] = {
        {"one volume", "", "10 files, 1 volume: OK\n"},
        {"copies of streams in other volumes", " --volume-size 20000", "10 files, 5 volumes: OK\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        uint64_t sizes[2] = {};
        for (int once = 0; once < 2; ++once) {
            std::string out = once ? "once" : "each";
            std::string build = "ZEVRIN build " + out + ".toml --stub stub.exe -o " + out + ".exe" + c.volumes;
            Outcome o = RunShell(dir, build);
            ASSERT_EQ(o.status, 0) << o.err;
            for (unsigned k = 0; k < 10; ++k) {
                Bytes volume = ReadBytes(dir.File(k ? VolumeName(out + ".exe", k) : out + ".exe"));
                sizes[once] += volume.size();
            }
        }
        // Three random files of 30000 bytes are not packed again.
        EXPECT_GE(sizes[0], sizes[1] + 3 * 29000) << sizes[0] << " " << sizes[1];

        ASSERT_TRUE(ReadBack(dir.File("once.exe")));
        ASSERT_EQ(EntryCount, 10u);
        const uint8_t* entry = FirstEntry;
        for (const File& f : files) {
            bool copy = (entry[EntryFlags] & FlagSameAsEntry) != 0;
            EXPECT_EQ(copy ? static_cast<int>(EntrySourceIndex(entry)) : -1, f.sameAs) << f.source;
            EXPECT_EQ(copy, ReadU32(entry + EntryPackedSize) == 0) << f.source;
            entry = NextEntry(entry);
        }
        std::vector<Bytes> unpacked = UnpackAll(dir);
        ASSERT_EQ(unpacked.size(), 10u);
        for (size_t i = 0; i < 10; ++i)
            EXPECT_TRUE(unpacked[i] == files[i].bytes) << files[i].source;
        FreeHeaderData();

        Outcome listed = RunShell(dir, "ZEVRIN list once.exe");
        EXPECT_EQ(listed.status, 0) << listed.err;
        EXPECT_NE(listed.out.find("same-as #1"), std::string::npos) << listed.out;
        Outcome verify = RunShell(dir, "ZEVRIN verify once.exe");
        EXPECT_EQ(verify.status, 0) << verify.err;
        EXPECT_EQ(verify.out, c.summary);
        Outcome extract = RunShell(dir, "rm -rf x && ZEVRIN extract once.exe -d x");
        EXPECT_EQ(extract.status, 0) << extract.err;
        for (const File& f : files)
            EXPECT_TRUE(ReadBytes(dir.File(std::string("x/") + f.source)) == f.bytes) << f.source;
    }
}

// Two builds of one manifest give the same bytes, [uninstaller] too: its
// packed copy is made anew by each build, and its entry carries the
// program's modification time, not the copy's.
TEST_F(BuildCommandTest, SameManifestTwiceGivesTheSameBytes)
{
    Put("readme.txt", std::string("read me\n"));
    Put("uninst.exe", Bytes{'M', 'Z', 0x7F, 0x7F, 0, 0, 0, 0, 0, 0});
    const struct timespec programTime[2] = {{981173106, 0}, {981173106, 700}}; // 2001-02-03
    ASSERT_EQ(utimensat(AT_FDCWD, dir.File("uninst.exe").c_str(), programTime, 0), 0);
    const std::string files = Head() + "[[files]]\nsource = \"readme.txt\"\n";
    struct Case {
        const char* why;
        std::string manifest;
    } cases[] = {
        {"plain files", files},
        {"with [uninstaller]", files + "[uninstaller]\n[uninstaller.texts]\ndone = \"Gone.\"\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Put("m.toml", c.manifest);
        for (const char* out : {"one.exe", "two.exe"}) {
            Outcome o = RunShell(dir, std::string("ZEVRIN build m.toml --stub stub.exe --uninstaller uninst.exe "
                                                  "-q -o ") + out);
            ASSERT_EQ(o.status, 0) << o.err;
        }
        Bytes one = ReadBytes(dir.File("one.exe")), two = ReadBytes(dir.File("two.exe"));
        EXPECT_EQ(one.size(), two.size());
        EXPECT_TRUE(one == two) << "first difference at byte "
                                << std::mismatch(one.begin(), one.end(), two.begin(), two.end()).first - one.begin();
    }
    ASSERT_TRUE(ReadBack(dir.File("two.exe")));
    ASSERT_EQ(EntryCount, 2u);
    const uint8_t* uninstaller = NextEntry(FirstEntry);
    ASSERT_EQ(uninstaller[EntryFlags], FlagUninstallerFile | FlagHasFileTimes);
    for (int i = 0; i < 3; ++i) { // creation, last access, last write
        uint64_t time = ReadU32(uninstaller + EntryFixedSize + 8 * i) |
                        static_cast<uint64_t>(ReadU32(uninstaller + EntryFixedSize + 8 * i + 4)) << 32;
        EXPECT_EQ(time, FileTimeFromUnix(981173106, 700)) << i;
    }
}

// A volume size that does not work says which is the smallest that does.
TEST_F(BuildCommandTest, TooSmallAVolumeSizeNamesTheSmallestThatWorks)
{
    Put("small.bin", Random(100000, 3));
    Put("large.bin", Random(4200000, 4));
    Put("small.toml", Head() + "[[files]]\nsource = \"small.bin\"\n");
    Put("large.toml", Head() + "[[files]]\nsource = \"large.bin\"\n");
    const std::string mark = "the smallest --volume-size that works is ";
    struct Case {
        const char* manifest;
        const char* size;
        const char* problem;
    } cases[] = {
        {"small.toml", "1000", "cannot hold the installer and the package header"},
        {"small.toml", "4099", "each must hold at least 4096"},
        {"large.toml", "4100", "would need more than 999 volumes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        std::string build = std::string("ZEVRIN build ") + c.manifest + " --stub stub.exe --level 0 --volume-size ";
        Outcome o = RunShell(dir, build + c.size);
        EXPECT_EQ(o.status, 1);
        EXPECT_NE(o.err.find(c.problem), std::string::npos) << o.err;
        size_t at = o.err.find(mark);
        ASSERT_NE(at, std::string::npos) << o.err;
        unsigned long smallest = std::stoul(o.err.substr(at + mark.size()));
        EXPECT_EQ(RunShell(dir, build + std::to_string(smallest - 1)).status, 1);
        Outcome works = RunShell(dir, build + std::to_string(smallest));
        EXPECT_EQ(works.status, 0) << works.err;
        ASSERT_EQ(std::system(("cd '" + dir.Path() + "' && rm -f SETUP.*").c_str()), 0);
    }
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
        {"m.toml -D X", 2, "-D takes NAME=VALUE, found 'X'"},
        {"m.toml --volume-size 0", 2, "volume size '0' is not a number"},
        {"m.toml --volume-size 1.5M", 2, "volume size '1.5M' is not a number of bytes from 1 to 4294967295 (a K or "
                                         "M suffix counts 1024 or 1048576) nor a medium (720K, 1.44M"},
        {"m.toml --volume-size 5000M", 2, "volume size '5000M' is not a number"},
        {"bad.toml", 1, "bad.toml:3: product.titel: unknown key"},
        {"missing.toml", 1, "cannot open 'missing.toml': No such file or directory"},
        {"m.toml --stub nostub.exe", 1, "stub: cannot open 'nostub.exe'"},
        {"m.toml -o m.toml/SETUP.EXE", 1, "cannot create a work file in 'm.toml'"},
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

// Every problem of a manifest, and then every one of the files it names,
// gets its own line before the build stops; several end with their count.
TEST_F(BuildCommandTest, ListsEveryProblemBeforeStopping)
{
    Put("a.txt", std::string("a"));
    Put("b.txt", std::string("b"));
    Put("clash.toml", Head() + "[[files]]\nsource = \"a.txt\"\n[[files]]\nsource = \"b.txt\"\nname = \"A.TXT\"\n"
                               "colour = 1\n");
    Put("missing.toml", Head() + "[frame]\npicture = \"none.bmp\"\n[[files]]\nsource = \"gone1.txt\"\n"
                                 "[[files]]\nsource = \"a.txt\"\n[[files]]\nsource = \"gone2.txt\"\n");
    Put("one.toml", Head() + "[[files]]\nsource = \"gone1.txt\"\n");
    const std::string enoent = ": No such file or directory\n";
    struct Case {
        const char* manifest;
        std::string err;
    } cases[] = {
        {"clash.toml", "zevrin: build: clash.toml:7: files[1].name: 'A.TXT' (from './b.txt') is already the "
                       "destination of files[0] as 'a.txt' (line 5, from './a.txt'): Windows does not tell file "
                       "names apart by letter case\n"
                       "zevrin: build: clash.toml:10: files[1].colour: unknown key\n"
                       "zevrin: build: 2 errors: nothing written\n"},
        {"missing.toml", "zevrin: build: missing.toml:6: frame.picture: cannot open './none.bmp'" + enoent +
                             "zevrin: build: missing.toml:8: files[0].source: cannot find './gone1.txt'" + enoent +
                             "zevrin: build: missing.toml:12: files[2].source: cannot find './gone2.txt'" + enoent +
                             "zevrin: build: 3 errors: nothing written\n"},
        {"one.toml", "zevrin: build: one.toml:6: files[0].source: cannot find './gone1.txt'" + enoent},
    };
    const std::vector<std::string> before = Listing(dir.Path());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.manifest);
        Outcome o = RunShell(dir, std::string("ZEVRIN build --stub stub.exe ") + c.manifest);
        EXPECT_EQ(o.status, 1);
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(o.err, c.err);
        EXPECT_EQ(Listing(dir.Path()), before);
    }
}

// What makensis and Inno Setup users reach for: the version, build's own
// help, quiet and verbose runs, a count of warnings and a switch that
// makes them errors, an output folder that is made when missing.
TEST_F(BuildCommandTest, PublisherConveniences)
{
    Put("data.bin", Random(30000, 6));
    Put("m.toml", Head() + "[folder]\ndefault = \"Apps\\\\X\"\n[[files]]\nsource = \"data.bin\"\n");
    Put("clean.toml", Head() + "[[files]]\nsource = \"data.bin\"\n");
    Put("gone.toml", Head() + "[[files]]\nsource = \"gone.bin\"\n");
    Put("v.toml", Head() + "[[files]]\nsource = \"${SRC}\"\n");
    struct Case {
        const char* args;
        int status;
        const char* out; // a part of standard output; "" when it must be empty
        const char* err; // a part of standard error; "" when it must be empty
        const char* written;
    } cases[] = {
        {"--version", 0, "zevrin 1.0 (Zevrin Setup authoring tool; libdeflate ", "", nullptr},
        {"build --help", 0, "--warnings-as-errors a warning fails the build", "", nullptr},
        {"build clean.toml --stub stub.exe -q", 0, "", "", "SETUP.EXE"},
        {"build v.toml --stub stub.exe -q -D SRC=data.bin", 0, "", "", "SETUP.EXE"},
        {"build v.toml --stub stub.exe", 1, "", "v.toml:6: files[0].source: unknown variable ${SRC}", nullptr},
        {"build clean.toml --stub stub.exe -v", 0, "  data.bin: 30000 -> ", "", "SETUP.EXE"},
        {"build m.toml --stub stub.exe", 0, "1 files packed",
         "m.toml:6: folder.default: 'Apps\\X' is relative", "SETUP.EXE"},
        {"build m.toml --stub stub.exe -q", 0, "", "zevrin: build: 1 warning\n", "SETUP.EXE"},
        {"build m.toml --stub stub.exe -WX", 1, "", "1 warning, and warnings are errors: nothing written", nullptr},
        {"build clean.toml --stub stub.exe -o new/deeper/SETUP.EXE", 0, "new/deeper/SETUP.EXE: ", "",
         "new/deeper/SETUP.EXE"},
        // A failed build takes back the folders it made.
        {"build gone.toml --stub stub.exe -o other/SETUP.EXE", 1, "", "cannot find", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        ASSERT_EQ(std::system(("cd '" + dir.Path() + "' && rm -rf SETUP.EXE new other").c_str()), 0);
        Outcome o = RunShell(dir, std::string("ZEVRIN ") + c.args);
        EXPECT_EQ(o.status, c.status) << o.err;
        if (*c.out) {
            EXPECT_NE(o.out.find(c.out), std::string::npos) << o.out;
        } else {
            EXPECT_EQ(o.out, "");
        }
        if (*c.err) {
            EXPECT_NE(o.err.find(c.err), std::string::npos) << o.err;
        } else {
            EXPECT_EQ(o.err, "");
        }
        std::vector<std::string> expected = {"clean.toml", "data.bin", "dialogs.res", "gone.toml",
                                             "m.toml",     "stub.exe", "v.toml"};
        if (c.written) {
            EXPECT_TRUE(ReadBack(dir.File(c.written)));
            expected.push_back(std::string(c.written).substr(0, std::string(c.written).find('/')));
            std::sort(expected.begin(), expected.end());
        }
        EXPECT_EQ(Listing(dir.Path()), expected);
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

// -o - writes the package to standard output, the report to standard
// error; volumes need a name to be named after.
TEST_F(BuildCommandTest, OutputToStandardOutput)
{
    Put("data.bin", Random(50000, 4));
    Put("m.toml", Head() + "[[files]]\nsource = \"data.bin\"\n");
    Outcome named = RunShell(dir, "ZEVRIN build m.toml --stub stub.exe -o SETUP.EXE");
    ASSERT_EQ(named.status, 0) << named.err;
    Outcome piped = RunShell(dir, "ZEVRIN build m.toml --stub stub.exe -o - | cat > piped.exe");
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(ReadBytes(dir.File("piped.exe")), ReadBytes(dir.File("SETUP.EXE")));
    EXPECT_NE(piped.err.find("standard output: "), std::string::npos) << piped.err;
    EXPECT_NE(piped.err.find("1 files packed"), std::string::npos) << piped.err;

    Outcome volumes = RunShell(dir, "ZEVRIN build m.toml --stub stub.exe -o - --volume-size 20000 > none.exe");
    EXPECT_EQ(volumes.status, 1);
    EXPECT_NE(volumes.err.find("give a file name, not '-', with --volume-size"), std::string::npos) << volumes.err;
    EXPECT_EQ(ReadBytes(dir.File("none.exe")).size(), 0u);
}

// SIGINT or SIGTERM while the package is written removes the work files
// and leaves the old package as it was. The signal is sent once the
// first work file shows; a build that finishes first is run again.
TEST_F(BuildCommandTest, InterruptedBuildLeavesNoWorkFile)
{
    Put("data.bin", Random(24 << 20, 5));
    Put("m.toml", Head() + "[[files]]\nsource = \"data.bin\"\n");
    for (const char* signal : {"INT", "TERM"}) {
        SCOPED_TRACE(signal);
        Put("SETUP.EXE", "the old package");
        std::vector<std::string> before = Listing(dir.Path());
        bool interrupted = false;
        for (int attempt = 0; attempt < 5 && !interrupted; ++attempt) {
            // A background job starts with SIGINT ignored; env gives it back.
            Outcome o = RunShell(dir, std::string("(exec env --default-signal=INT ZEVRIN build m.toml --stub stub.exe --level 0 "
                                                  "--volume-size 1M) & pid=$!; "
                                                  "while :; do set -- SETUP.EXE.??????; [ -e \"$1\" ] && break; "
                                                  "kill -0 $pid 2>/dev/null || break; done; "
                                                  "kill -") + signal + " $pid; wait $pid; echo $?");
            if (o.out == "0\n") { // finished before the signal
                ASSERT_EQ(std::system(("cd '" + dir.Path() + "' && rm -f SETUP.D*").c_str()), 0);
                continue;
            }
            interrupted = true;
            EXPECT_EQ(o.out, std::string(signal) == "INT" ? "130\n" : "143\n") << o.err;
        }
        ASSERT_TRUE(interrupted) << "the build always finished before the signal";
        EXPECT_EQ(Text(ReadBytes(dir.File("SETUP.EXE"))), "the old package");
        EXPECT_EQ(Listing(dir.Path()), before);
    }
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

    // Inside a long file the line moves with its bytes, not only between
    // files.
    Put("long.bin", Random(3 * PieceEncoder::MaxPiece, 7));
    Put("long.toml", Head() + "[[files]]\nsource = \"long.bin\"\n");
    Outcome slow = RunShell(dir, "script -qec \"ZEVRIN build long.toml --stub stub.exe --level 1\" typescript");
    ASSERT_EQ(slow.status, 0) << slow.err;
    typescript = Text(ReadBytes(dir.File("typescript")));
    bool inside = false;
    for (size_t at = 0; (at = typescript.find("% compressing long.bin", at)) != std::string::npos; ++at) {
        unsigned percent = std::stoul(typescript.substr(typescript.rfind('\r', at) + 4, 3));
        inside = inside || (percent > 0 && percent < 100);
    }
    EXPECT_TRUE(inside) << typescript;
}

} // namespace

#endif // ZEVRIN_HAVE_AUTHORING && ZEVRIN_TEST_HOST
