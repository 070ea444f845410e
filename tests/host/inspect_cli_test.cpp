// `zevrin list`, `verify` and `extract`, run as a separate process: exit
// codes and one-line messages on good, damaged and hostile packages; that
// extract writes nothing outside its folder; and build -> verify ->
// extract round trips of the example manifest.
//
// The binary comes from the ZEVRIN_BINARY compile definition or, failing
// that, the environment variable of the same name.
#if defined(ZEVRIN_HAVE_AUTHORING) && defined(ZEVRIN_TEST_HOST)

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "authoring/encoder.h"
#include "package_builder.h"
#include "cli_support.h"

using namespace zevrin;

namespace {

typedef std::vector<uint8_t> Bytes;
typedef std::vector<Bytes> Volumes;





// Runs `zevrin ARGS` in `dir`.
Outcome Zevrin(const TempDir& dir, const std::string& args) { return RunShell(dir, "ZEVRIN " + args); }

// Every path below `dir`, one a line, sorted (symbolic links not followed).
std::string Tree(const TempDir& dir)
{
    std::string listing = dir.File(".tree");
    if (std::system(("cd '" + dir.Path() + "' && find . ! -name .tree | LC_ALL=C sort > .tree").c_str()) != 0)
        return "find failed";
    std::string text = Text(ReadBytes(listing));
    std::remove(listing.c_str());
    return text;
}

bool Exists(const std::string& path)
{
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0;
}

Bytes Sample(size_t n, unsigned seed, bool text)
{
    std::mt19937 random(seed);
    Bytes out(n);
    for (uint8_t& b : out)
        b = text ? static_cast<uint8_t>("lorem ipsum dolor\n"[random() % 18]) : static_cast<uint8_t>(random());
    return out;
}

// 2001-09-09 01:46:40 UTC as a FILETIME.
const uint64_t ReadmeTime = 116444736000000000ull + 1000000000ull * 10000000ull;

// Seven entries over three volumes: every location, an external file, file
// times, a volume change inside a stream.
SetupBuilder Good()
{
    SetupBuilder b;
    b.compress = [](const Bytes& data) { return EncodeStream(data.data(), data.size(), 9); };
    b.Add("app\\hello.exe", Sample(20000, 1, false)).strings = {"Zevrin", "Hello", "", "Hello", ""};
    PackageFile& readme = b.Add("readme.txt", Sample(3000, 2, true));
    readme.flags = FlagHasFileTimes;
    readme.times[1] = readme.times[2] = ReadmeTime;
    readme.afterAction = 1;
    b.Add("big\\data.bin", Sample(70001, 3, false));
    b.Add("system.ini", Sample(10, 4, true)).location = 1;
    b.Add("lib\\shared.dll", Sample(11, 5, false)).location = 2;
    b.Add("zevrin.ttf", Sample(12, 6, false)).location = 3;
    b.Add("manual.pdf", {}).uninstallMode = 2;
    b.split = {5000, 30000};
    return b;
}

// Where extract puts each entry of Good(), by index.
const char* const GoodPaths[] = {"app/hello.exe",       "readme.txt",         "big/data.bin",     "@windows/system.ini",
                                 "@system/shared.dll", "@fonts/zevrin.ttf", nullptr};

class InspectCliTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (Binary().empty())
            GTEST_SKIP() << "ZEVRIN_BINARY is not set";
    }
    TempDir dir;
};

TEST_F(InspectCliTest, GoodPackage)
{
    SetupBuilder b = Good();
    WriteVolumes(dir, b.Build());

    Outcome list = Zevrin(dir, "list SETUP.EXE");
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.err, "");
    for (const char* expected : {"Title:              Zevrin Test Setup\n", "Files:              7 (1 external)\n",
                                 "3 volumes\n", "SETUP.D02: ", "  app\\hello.exe  ", "  external"})
        EXPECT_NE(list.out.find(expected), std::string::npos) << expected << "\n" << list.out;

    Outcome verify = Zevrin(dir, "verify SETUP.EXE");
    EXPECT_EQ(verify.status, 0);
    EXPECT_EQ(verify.err, "") << "no progress line when standard error is not a terminal";
    EXPECT_EQ(verify.out, "7 files (1 external), 3 volumes: OK\n");

    // An existing file is replaced; a link where a file goes is replaced,
    // not followed.
    ASSERT_EQ(std::system(("mkdir -p '" + dir.File("out/deep/app") + "' '" + dir.File("outside") + "'").c_str()), 0);
    WriteBytes(dir.File("out/deep/readme.txt"), Bytes{'o', 'l', 'd'});
    ASSERT_EQ(::symlink(dir.File("outside/target").c_str(), dir.File("out/deep/app/hello.exe").c_str()), 0);

    Outcome extract = Zevrin(dir, "extract SETUP.EXE -d out/deep");
    EXPECT_EQ(extract.status, 0);
    EXPECT_EQ(extract.err, "");
    EXPECT_NE(extract.out.find("skipped (external): manual.pdf\n"), std::string::npos) << extract.out;
    EXPECT_NE(extract.out.find("6 files extracted to out/deep, 1 external skipped\n"), std::string::npos);
    for (size_t i = 0; i < b.files.size(); ++i) {
        if (!GoodPaths[i])
            continue;
        SCOPED_TRACE(GoodPaths[i]);
        std::string path = dir.File(std::string("out/deep/") + GoodPaths[i]);
        struct stat info;
        ASSERT_EQ(::lstat(path.c_str(), &info), 0);
        EXPECT_TRUE(S_ISREG(info.st_mode));
        EXPECT_TRUE(ReadBytes(path) == b.files[i].data);
    }
    EXPECT_FALSE(Exists(dir.File("out/deep/manual.pdf")));
    EXPECT_FALSE(Exists(dir.File("outside/target")));
    struct stat info;
    ASSERT_EQ(::stat(dir.File("out/deep/readme.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtime, 1000000000) << "the package's last-write time";
    EXPECT_EQ(Tree(dir).find(".zevrin-"), std::string::npos) << "no temporary file left";
}

TEST_F(InspectCliTest, DamagedPackages)
{
    const Bytes hello = Sample(20000, 1, false);
    char checksum[100];
    std::snprintf(checksum, sizeof checksum, "app\\hello.exe: checksum 0x%08x, expected 0x%08x\n", Checksum(hello),
                  Checksum(hello) ^ 0x100);

    struct Case {
        const char* why;
        std::function<void(SetupBuilder&)> setup;
        std::function<void(Volumes&)> damage;
        std::string list;    // the error after "zevrin: list: ", empty when list works
        std::string verify;  // after "zevrin: verify: "
        std::string extract; // after "zevrin: extract: "
        std::string summary; // verify's last line, empty when it fails before
        bool helloWritten;   // extract got as far as writing app\hello.exe
        std::string extracted = ""; // extract's last line, when it got to reading files
        std::string listProblem = ""; // list's Problem line, when it lists
    } cases[] = {
        {"checksum mismatch",
         [](SetupBuilder& b) {
             b.tamperEntry = [](size_t i, Bytes& e) { e[EntryChecksum + 1] ^= static_cast<uint8_t>(i == 0); };
         },
         nullptr, "", checksum, checksum, "7 files (1 external), 3 volumes: 1 failure\n", false,
         // The damaged file is skipped, the others are extracted.
         "5 files extracted to out, 1 external skipped, 1 file failed\n"},
        {"missing volume", nullptr, [](Volumes& v) { v.pop_back(); }, "",
         "missing volume SETUP.D02 (disk 3) (4 files not checked)\n", "missing volume SETUP.D02 (disk 3)\n",
         "7 files (1 external), 3 volumes: 1 failure\n", true,
         "2 files extracted to out, 1 external skipped, the rest not read\n",
         "missing volume SETUP.D02 (disk 3)"},
        {"no stamp", nullptr, [](Volumes& v) { v[0][SetupBuilder::StampAt + 2] = 0; },
         "no stamp record: not a Zevrin setup program\n", "no stamp record: not a Zevrin setup program\n",
         "no stamp record: not a Zevrin setup program\n", "", false},
        {"not stamped", nullptr, [](Volumes& v) { v[0][SetupBuilder::StampAt + 7] = 0; },
         "not stamped: the stub carries no package (stub length 0)\n",
         "not stamped: the stub carries no package (stub length 0)\n",
         "not stamped: the stub carries no package (stub length 0)\n", "", false},
        {"cut in the header", nullptr, [](Volumes& v) { v[0].resize(600); }, "header damaged: record 0x123A",
         "header damaged: record 0x123A", "header damaged: record 0x123A", "", false},
        // list needs only the header, and says what is missing.
        {"cut in the data", nullptr, [](Volumes& v) { v[0].pop_back(); }, "",
         "data shorter than declared: 5000 bytes declared, 4999 present\n",
         "data shorter than declared: 5000 bytes declared, 4999 present\n", "", false, "",
         "SETUP.EXE: data shorter than declared (4999 of 5000 bytes)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        SetupBuilder b = Good();
        if (c.setup)
            c.setup(b);
        Volumes volumes = b.Build();
        if (c.damage)
            c.damage(volumes);
        ASSERT_EQ(std::system(("rm -rf '" + dir.Path() + "'/* && mkdir -p '" + dir.File("out/app") + "'").c_str()), 0);
        WriteVolumes(dir, volumes);
        WriteBytes(dir.File("out/app/hello.exe"), Bytes{'o', 'l', 'd'});

        Outcome list = Zevrin(dir, "list SETUP.EXE");
        if (c.list.empty()) {
            EXPECT_EQ(list.status, 0);
            EXPECT_EQ(list.err, "");
            EXPECT_NE(list.out.find("Checksum"), std::string::npos) << "the file table is listed\n" << list.out;
            if (!c.listProblem.empty()) {
                EXPECT_NE(list.out.find(c.listProblem + "\n"), std::string::npos) << list.out;
            }
        } else {
            EXPECT_EQ(list.status, 1);
            EXPECT_EQ(list.err.rfind("zevrin: list: " + c.list, 0), 0u) << list.err;
            EXPECT_EQ(std::count(list.err.begin(), list.err.end(), '\n'), 1) << list.err;
        }

        Outcome verify = Zevrin(dir, "verify SETUP.EXE");
        EXPECT_EQ(verify.status, 1);
        EXPECT_EQ(verify.err.rfind("zevrin: verify: " + c.verify, 0), 0u) << verify.err;
        EXPECT_EQ(std::count(verify.err.begin(), verify.err.end(), '\n'), 1) << verify.err;
        EXPECT_EQ(verify.out, c.summary);

        Outcome extract = Zevrin(dir, "extract SETUP.EXE -d out");
        EXPECT_EQ(extract.status, 1);
        EXPECT_EQ(extract.err.rfind("zevrin: extract: " + c.extract, 0), 0u) << extract.err;
        EXPECT_EQ(std::count(extract.err.begin(), extract.err.end(), '\n'), 1) << extract.err;
        if (!c.extracted.empty()) {
            EXPECT_EQ(extract.out.substr(extract.out.rfind('\n', extract.out.size() - 2) + 1), c.extracted);
        }
        // A file that failed is not put in place: the old one stays.
        if (c.helloWritten) {
            EXPECT_TRUE(ReadBytes(dir.File("out/app/hello.exe")) == hello);
        } else {
            EXPECT_EQ(Text(ReadBytes(dir.File("out/app/hello.exe"))), "old");
        }
        EXPECT_EQ(Tree(dir).find(".zevrin-"), std::string::npos) << "no temporary file left";
    }
}

TEST_F(InspectCliTest, HostileNamesWriteNothing)
{
    const std::string absolute = dir.File("evil");
    const char* const names[] = {"..\\..\\evil", "a\\..\\..\\..\\evil", "C:\\evil", "\\evil", absolute.c_str(),
                                 "..", "ok\\.\\..\\evil"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        SetupBuilder b = Good();
        b.files[2].name = name; // between good files, in the second volume
        ASSERT_EQ(std::system(("rm -rf '" + dir.Path() + "'/*").c_str()), 0);
        WriteVolumes(dir, b.Build());
        const std::string before = Tree(dir);

        Outcome extract = Zevrin(dir, "extract SETUP.EXE -d out/deep");
        EXPECT_EQ(extract.status, 1);
        EXPECT_EQ(extract.err.rfind("zevrin: extract: " + std::string(name) + ": unsafe destination name (", 0), 0u)
            << extract.err;
        EXPECT_NE(extract.err.find("; nothing extracted\n"), std::string::npos) << extract.err;
        EXPECT_EQ(Tree(dir), before) << "nothing written, not even DIR";

        Outcome verify = Zevrin(dir, "verify SETUP.EXE");
        EXPECT_EQ(verify.status, 1);
        EXPECT_EQ(verify.err.rfind("zevrin: verify: " + std::string(name) + ": unsafe destination name (", 0), 0u)
            << verify.err;
        EXPECT_EQ(verify.out, "7 files (1 external), 3 volumes: 1 failure\n");
    }
}

TEST_F(InspectCliTest, LinkedFolderInsideDirIsNotFollowed)
{
    WriteVolumes(dir, Good().Build());
    ASSERT_EQ(std::system(("mkdir -p '" + dir.File("out") + "' '" + dir.File("outside") + "'").c_str()), 0);
    ASSERT_EQ(::symlink("../outside", dir.File("out/app").c_str()), 0);
    Outcome extract = Zevrin(dir, "extract SETUP.EXE -d out");
    EXPECT_EQ(extract.status, 1);
    EXPECT_EQ(extract.err, "zevrin: extract: 'app' in 'out' is a symbolic link; not followed\n");
    EXPECT_EQ(Tree(dir).find("./outside/"), std::string::npos) << Tree(dir);
}

TEST_F(InspectCliTest, UsageErrorsExitTwo)
{
    WriteVolumes(dir, Good().Build());
    struct Case {
        const char* arguments;
        int status;
        const char* expected; // the start of standard error
    } cases[] = {
        {"list", 2, "zevrin: list: list takes one SETUP.EXE\nusage: zevrin list SETUP.EXE\n"},
        {"list SETUP.EXE SETUP.D01", 2, "zevrin: list: list takes one SETUP.EXE\n"},
        {"verify -q SETUP.EXE", 2, "zevrin: verify: unknown option '-q'\nusage: zevrin verify SETUP.EXE\n"},
        {"extract SETUP.EXE", 2, "zevrin: extract: extract needs -d DIR\nusage: zevrin extract SETUP.EXE -d DIR\n"},
        {"extract SETUP.EXE -d", 2, "zevrin: extract: -d needs a folder\n"},
        {"extract -d a -d b SETUP.EXE", 2, "zevrin: extract: -d given twice\n"},
        {"extract -d out", 2, "zevrin: extract: extract takes one SETUP.EXE\n"},
        {"list missing.exe", 1, "zevrin: list: cannot open 'missing.exe': No such file or directory\n"},
        {"verify .", 1, "zevrin: verify: '.' is not a file\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        Outcome run = Zevrin(dir, c.arguments);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.err.rfind(c.expected, 0), 0u) << run.err;
        EXPECT_EQ(run.out, "");
    }
    EXPECT_FALSE(Exists(dir.File("out")));
    EXPECT_EQ(Zevrin(dir, "extract -dout SETUP.EXE").status, 0) << "-dDIR in one word";
}

// The example manifest through `zevrin build`, in one volume and in three,
// and back out again. Its program is not built here: a stand-in with the
// version the manifest would otherwise read from it.
TEST_F(InspectCliTest, BuildVerifyExtractRoundTrip)
{
    const std::string demo = std::string(ZEVRIN_SOURCE_DIR) + "/examples/demo";
    std::string manifest = Text(ReadBytes(demo + "/demo.toml"));
    ASSERT_FALSE(manifest.empty()) << demo;
    const std::string check = "check_version = true\n";
    size_t at = manifest.find(check);
    ASSERT_NE(at, std::string::npos);
    if (manifest.find("version = \"", at) == std::string::npos)
        manifest.insert(at + check.size(), "version = \"1.2.0.0\"\nlanguage = 0x0409\n");
    WriteBytes(dir.File("demo.toml"), Bytes(manifest.begin(), manifest.end()));
    const Bytes hello = Sample(40000, 9, false);
    WriteBytes(dir.File("hello.exe"), hello);
    Bytes stub = SetupBuilder().Stub();
    std::fill(stub.begin() + SetupBuilder::StampAt + 6, stub.begin() + SetupBuilder::StampAt + 10, 0); // plain
    WriteBytes(dir.File("stub.exe"), stub);
    WriteBytes(dir.File("uninst.exe"), Bytes{'M', 'Z', 0x7F, 0x7F, 0, 0, 0, 0, 0, 0}); // its [uninstaller]

    struct Case {
        const char* options;
        const char* summary;
    } cases[] = {
        {"-o one/SETUP.EXE", "4 files, 1 volume: OK\n"},
        {"-o three/SETUP.EXE --volume-size 20000", "4 files, 3 volumes: OK\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        std::string folder = std::string(c.options).substr(3, std::string(c.options).find('/') - 3);
        ASSERT_EQ(::mkdir(dir.File(folder).c_str(), 0777), 0);
        Outcome build = Zevrin(dir, "build demo.toml -I '" + demo + "' -I . --stub stub.exe --uninstaller uninst.exe " + c.options);
        ASSERT_EQ(build.status, 0) << build.err;

        Outcome verify = Zevrin(dir, "verify " + folder + "/SETUP.EXE");
        EXPECT_EQ(verify.status, 0) << verify.err;
        EXPECT_EQ(verify.out, c.summary);
        EXPECT_EQ(verify.err, "");

        Outcome extract = Zevrin(dir, "extract " + folder + "/SETUP.EXE -d " + folder + "/files");
        EXPECT_EQ(extract.status, 0) << extract.err;
        EXPECT_TRUE(ReadBytes(dir.File(folder + "/files/hello.exe")) == hello);
        EXPECT_TRUE(ReadBytes(dir.File(folder + "/files/readme.txt")) == ReadBytes(demo + "/readme.txt"));
        EXPECT_TRUE(ReadBytes(dir.File(folder + "/files/docs/license.txt")) == ReadBytes(demo + "/license.txt"));
    }
}

} // namespace

#endif
