// The uninstall log's framing on real files: where it starts in the
// uninstaller, counted strings, items and the back-patched record head.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../../stub/engine/uninstall_log.h"
#include "test_support.h"

namespace {

typedef std::vector<uint8_t> Bytes;

const Bytes Terminator = {0x7F, 0x7F, 0, 0, 0, 0, 0, 0};

Bytes Join(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Counted(const std::string& s)
{
    Bytes b(2 + s.size());
    b[0] = static_cast<uint8_t>(s.size());
    b[1] = static_cast<uint8_t>(s.size() >> 8);
    std::copy(s.begin(), s.end(), b.begin() + 2);
    return b;
}

TEST(UninstallLogTest, OpensOnlyOnTheTerminatorHead)
{
    const Bytes program = {'M', 'Z', 1, 2, 3};
    struct Case {
        const char* why;
        bool exists;
        Bytes contents;
        bool opens;
    } cases[] = {
        {"stock uninstaller", true, Join(program, Terminator), true},
        {"the head alone", true, Terminator, true},
        {"shorter than a head", true, Bytes(Terminator.begin() + 1, Terminator.end()), false},
        {"empty", true, {}, false},
        {"a head with a length", true, Join(program, {0x7F, 0x7F, 0, 0, 1, 0, 0, 0}), false},
        {"a head of another tag", true, Join(program, {0x35, 0x12, 0, 0, 0, 0, 0, 0}), false},
        {"no file", false, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        TempDir dir;
        std::string path = dir.File("uninst.exe");
        if (c.exists)
            WriteBytes(path, c.contents);
        FileHandle log = OpenUninstallLog(path.c_str());
        EXPECT_EQ(log != INVALID_FILE_HANDLE, c.opens);
        if (log != INVALID_FILE_HANDLE) {
            EXPECT_EQ(Tell(log), c.contents.size() - 8) << "on the head it replaces";
            CloseFile(log);
        }
        if (c.exists) {
            EXPECT_EQ(ReadBytes(path), c.contents) << "opening writes nothing";
        }
    }
}

TEST(UninstallLogTest, CountedStrings)
{
    struct Case {
        const char* why;
        std::string text;
        int result;
        Bytes written;
    } cases[] = {
        {"empty: the length alone", "", 0, {0, 0}},
        {"short", "abc", 0, Counted("abc")},
        {"the longest", std::string(65535, 'x'), 0, Counted(std::string(65535, 'x'))},
        {"one past is refused whole", std::string(65536, 'x'), 4, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        TempDir dir;
        std::string path = dir.File("log");
        FileHandle log = CreateAlways(path.c_str());
        ASSERT_NE(log, INVALID_FILE_HANDLE);
        EXPECT_EQ(WriteCountedString(log, c.text.c_str()), c.result);
        CloseFile(log);
        EXPECT_EQ(ReadBytes(path), c.written);
    }
}

// The files record over the stock terminator, its head and count patched
// at its end, then the new terminator.
TEST(UninstallLogTest, FilesRecordReplacesTheTerminator)
{
    TempDir dir;
    std::string path = dir.File("uninst.exe");
    const Bytes program = {'M', 'Z', 9, 8, 7, 6};
    WriteBytes(path, Join(program, Terminator));

    FileHandle log = OpenUninstallLog(path.c_str());
    ASSERT_NE(log, INVALID_FILE_HANDLE);
    uint32_t head = BeginLogRecord(log, LogTagFiles);
    EXPECT_EQ(head, program.size());
    uint32_t count = 0;
    for (const char* file : {"C:\\App\\a.exe", "C:\\App\\sub\\b.dat", "nowhere.txt", "C:\\WINDOWS\\SYSTEM\\lib.dll"})
        count += WriteLogFile(log, file, "C:\\App\\", count == 2 ? LogItemShared | LogItemSelfRegister : 0);
    EndLogRecord(log, head, LogTagFiles, count);
    WriteLogHead(log, LogTagEnd, 0);
    CloseFile(log);

    auto item = [](const char* folder, const char* name, uint8_t flags) {
        return Join(Join(Counted(folder), Counted(name)), {flags});
    };
    Bytes items = Join(item(".", "a.exe", 0), item(".\\sub", "b.dat", 0));
    items = Join(items, item("C:\\WINDOWS\\SYSTEM", "lib.dll", 5));
    Bytes body = Join({3, 0, 0, 0}, items);
    uint32_t length = static_cast<uint32_t>(body.size());
    Bytes expected =
        Join(program, {0x35, 0x12, 0, 0, static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8), 0, 0});
    expected = Join(Join(expected, body), Terminator);
    EXPECT_EQ(ReadBytes(path), expected);
}

} // namespace
