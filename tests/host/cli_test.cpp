// The `zevrin` command line, run as a separate process: encode/decode round
// trips through files and pipes, damaged streams, usage errors.
//
// The binary comes from the ZEVRIN_BINARY compile definition or, failing
// that, the environment variable of the same name.
#if defined(ZEVRIN_HAVE_AUTHORING) && defined(ZEVRIN_TEST_HOST)

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "authoring/encoder.h"
#include "cli_support.h"

using namespace zevrin;

namespace {

typedef std::vector<uint8_t> Bytes;




size_t LineCount(const std::string& text)
{
    size_t lines = 0;
    for (char c : text)
        lines += c == '\n';
    return lines;
}

Bytes Sample(size_t n, bool text)
{
    std::mt19937 random(11);
    Bytes out(n);
    for (uint8_t& b : out)
        b = text ? static_cast<uint8_t>("abcdefgh  \n"[random() % 11]) : static_cast<uint8_t>(random());
    return out;
}

class CliTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (Binary().empty())
            GTEST_SKIP() << "ZEVRIN_BINARY is not set";
    }
    TempDir dir;
};

TEST_F(CliTest, EncodeDecodeRoundTripsThroughFilesAndPipes)
{
    struct Case {
        const char* name;
        Bytes data;
        const char* level;
    };
    const Case cases[] = {
        {"empty", Bytes(), "0"},
        {"empty", Bytes(), "9"},
        {"text", Sample(100000, true), "0"},
        {"text", Sample(100000, true), "9"},
        {"text", Sample(100000, true), "12"},
        {"random", Sample(70000, false), "6"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " level " + c.level);
        WriteBytes(dir.File("in"), c.data);

        Outcome piped = RunShell(dir, std::string("ZEVRIN encode -l ") + c.level +
                                   " - - < in | ZEVRIN decode - - > piped");
        EXPECT_EQ(piped.status, 0) << piped.err;
        EXPECT_TRUE(ReadBytes(dir.File("piped")) == c.data);

        Outcome encode = RunShell(dir, std::string("ZEVRIN encode -l") + c.level + " in stream");
        ASSERT_EQ(encode.status, 0) << encode.err;
        Bytes stream = ReadBytes(dir.File("stream"));
        EXPECT_TRUE(stream == EncodeStream(c.data.data(), c.data.size(), std::atoi(c.level)));
        Outcome decode = RunShell(dir, "ZEVRIN decode stream out");
        EXPECT_EQ(decode.status, 0) << decode.err;
        EXPECT_TRUE(ReadBytes(dir.File("out")) == c.data);
    }
}

TEST_F(CliTest, DamagedStreamGivesOneLineAndLeavesOutputAlone)
{
    Bytes data = Sample(50000, true);
    Bytes good = EncodeStream(data.data(), data.size(), 9);

    struct Case {
        const char* name;
        Bytes stream;
        const char* message;
    };
    const Case cases[] = {
        {"cut short", Bytes(good.begin(), good.begin() + good.size() / 2),
         "zevrin: decode: bad data (invalid code or truncated stream)\n"},
        {"block kind 0", {0x08, 0x00, 0x00},
         "zevrin: decode: bad block (unknown block kind or over-subscribed code)\n"},
        {"bytes after the stream", [&] {
             Bytes s = good;
             s.insert(s.end(), {'x', 'y', 'z'});
             return s;
         }(),
         "zevrin: decode: 3 bytes after the end of the stream\n"},
        {"empty file", Bytes(), "zevrin: decode: empty input (a stream is at least 2 bytes)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteBytes(dir.File("bad"), c.stream);
        WriteBytes(dir.File("existing"), Bytes{'k', 'e', 'e', 'p'});
        std::remove(dir.File("new").c_str());

        Outcome toNew = RunShell(dir, "ZEVRIN decode bad new");
        EXPECT_EQ(toNew.status, 1);
        EXPECT_EQ(toNew.err, c.message);
        EXPECT_EQ(ReadBytes(dir.File("new")), Bytes()) << "no output file expected";

        Outcome toExisting = RunShell(dir, "ZEVRIN decode - existing < bad");
        EXPECT_EQ(toExisting.status, 1);
        EXPECT_EQ(LineCount(toExisting.err), 1u) << toExisting.err;
        EXPECT_EQ(ReadBytes(dir.File("existing")), (Bytes{'k', 'e', 'e', 'p'}));
    }
    // Nothing left behind: no output, no temporary file.
    Outcome listing = RunShell(dir, "ls");
    EXPECT_EQ(listing.status, 0);
    EXPECT_EQ(listing.out, "bad\nexisting\n");
}

TEST_F(CliTest, UsageErrorsExitTwoAndFailuresExitOne)
{
    WriteBytes(dir.File("in"), Bytes{'a'});
    struct Case {
        const char* arguments;
        int status;
        const char* expected; // in stderr
    };
    const Case cases[] = {
        {"", 2, "usage:"},
        {"frobnicate a b", 2, "unknown command 'frobnicate'"},
        {"encode", 2, "usage: zevrin encode [-l LEVEL] IN OUT"},
        {"encode in", 2, "encode takes IN and OUT"},
        {"encode in out extra", 2, "encode takes IN and OUT"},
        {"encode -l 13 in out", 2, "level '13' is not a number from 0 to 12"},
        {"encode -l x in out", 2, "level 'x'"},
        {"encode -l", 2, "-l needs a level"},
        {"encode -q in out", 2, "unknown option '-q'"},
        {"decode in", 2, "usage: zevrin decode IN OUT"},
        {"decode -l 3 in out", 2, "unknown option '-l'"},
        {"encode missing out", 1, "zevrin: encode: cannot open 'missing': No such file or directory"},
        {"decode missing out", 1, "zevrin: decode: cannot open 'missing'"},
        {"encode in no-such-dir/out", 1, "zevrin: encode: cannot create a file beside 'no-such-dir/out'"},
        {"encode in /dev/full", 1, "zevrin: encode: cannot write '/dev/full': No space left on device"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        Outcome run = RunShell(dir, std::string("ZEVRIN ") + c.arguments);
        EXPECT_EQ(run.status, c.status);
        EXPECT_NE(run.err.find(c.expected), std::string::npos) << run.err;
        if (c.status == 1) {
            EXPECT_EQ(LineCount(run.err), 1u) << run.err;
        }
    }
    EXPECT_EQ(ReadBytes(dir.File("out")), Bytes());

    Outcome help = RunShell(dir, "ZEVRIN --help > help.txt");
    EXPECT_EQ(help.status, 0);
    Bytes text = ReadBytes(dir.File("help.txt"));
    EXPECT_NE(std::string(text.begin(), text.end()).find("zevrin decode IN OUT"), std::string::npos);
}

} // namespace

#endif
