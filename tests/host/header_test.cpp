// The package header reader on hand-made packages, the text lookup and
// the file-table checks it relies on.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "../../stub/engine/file_table.h"
#include "../../stub/shared/message_script.h"
#include "../../stub/startup/header.h"
#include "../../stub/shared/messages.h"
#include "package_builder.h"
#include "test_support.h"

using namespace zevrin;

namespace {

std::vector<uint8_t> Bytes(const std::string& text, bool terminate = true)
{
    std::vector<uint8_t> out(text.begin(), text.end());
    if (terminate)
        out.push_back(0);
    return out;
}

void SetStubLength(uint32_t length)
{
    for (int i = 0; i < 4; ++i)
        StampRecord[6 + i] = static_cast<uint8_t>(length >> (8 * i));
}

std::vector<std::string> Group6()
{
    std::vector<std::string> texts(32);
    texts[0] = "Zevrin Test Setup";
    texts[31] = "This file contains invalid data.";
    return texts;
}

// One FileEntry with the given flags and strings.
std::vector<uint8_t> Entry(uint8_t flags, const std::vector<std::string>& strings, uint32_t packed = 10)
{
    std::vector<uint8_t> entry(EntryFixedSize, 0);
    entry[EntryFlags] = flags;
    for (int i = 0; i < 4; ++i)
        entry[EntryPackedSize + i] = static_cast<uint8_t>(packed >> (8 * i));
    if (flags & (FlagCheckVersion | FlagCheckLanguage))
        entry.insert(entry.end(), VersionBlockSize, 0);
    if (flags & FlagHasFileTimes)
        entry.insert(entry.end(), FileTimesSize, 0);
    for (const std::string& s : strings) {
        entry.insert(entry.end(), s.begin(), s.end());
        entry.push_back(0);
    }
    WriteU16(entry.data(), static_cast<uint16_t>(entry.size()));
    return entry;
}

std::vector<uint8_t> Table(const std::vector<std::vector<uint8_t>>& entries)
{
    std::vector<uint8_t> table;
    AppendU32(table, static_cast<uint32_t>(entries.size()));
    for (const auto& e : entries)
        table.insert(table.end(), e.begin(), e.end());
    return table;
}

class HeaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ForgetPackageHeader();
        StartPage = WizardMode;
        SetStubLength(64);
        ScriptMessageAnswers({});
    }
    void TearDown() override
    {
        FreeHeaderData();
        SetStubLength(0);
    }
    bool Read(const PackageBuilder& package)
    {
        std::string path = dir.File("SETUP.EXE");
        WriteBytes(path, package.bytes_);
        std::snprintf(PackageSourcePath, PathSize, "%s", path.c_str());
        return ReadPackageHeader();
    }

    TempDir dir;
};

TEST_F(HeaderTest, ReadsEveryTag)
{
    std::vector<uint8_t> style(TitleStyleSize, 0x33);
    std::vector<uint8_t> blob(200, 0x42);
    std::vector<uint8_t> table = Table({Entry(FlagHasFileTimes, {"app.exe", "", "App", "", "", ""}),
                                        Entry(FlagCheckVersion, {"lib\\x.dll", "", "", "", "Desk", "-q"})});
    PackageBuilder p;
    p.Record(TagHeaderFlags, {0x0B, 0, 0, 0})
        .Record(TagDefaultInstallDir, Bytes("C:\\Program Files\\Zevrin"))
        .Compressed(TagFrameBitmap, std::vector<uint8_t>(100, 0x11))
        .Record(TagBackgroundBitmap, std::vector<uint8_t>(50, 0x22))
        .Compressed(TagUninstallName, Bytes("Zevrin Demo"))
        .Record(TagBackgroundTitle, Bytes("Zevrin Demo Setup"))
        .Groups({{"Welcome"}, {"Info", "Read me"}, {}, {}, {}, {}, Group6(), {"< &Back", "&Next >"}})
        .Record(TagPrevDirRoot, {2, 0, 0, 0})
        .Record(TagPrevDirKey, Bytes("Software\\Zevrin"))
        .Compressed(TagPrevDirValue, Bytes("InstallDir"))
        .Record(TagPrevDirIniFile, Bytes("zevrin.ini"))
        .Record(TagPrevDirIniSection, Bytes("Setup"))
        .Record(TagPrevDirIniKey, Bytes("Dir"))
        .Compressed(TagTemplateBlob, blob)
        .Compressed(TagFileTable, table)
        .Compressed(TagTitleStyle, style)
        .End(20);
    ASSERT_TRUE(Read(p));
    EXPECT_TRUE(ShownMessages().empty());
    EXPECT_EQ(HeaderFlags, 0x0Bu);
    EXPECT_STREQ(InstallDir, "C:\\Program Files\\Zevrin");
    ASSERT_NE(FrameBitmap, nullptr);
    EXPECT_EQ(BlockSize(FrameBitmap), 100u);
    EXPECT_EQ(FrameBitmap[99], 0x11);
    EXPECT_EQ(BlockSize(BackgroundBitmap), 50u);
    EXPECT_STREQ(UninstallName, "Zevrin Demo");
    EXPECT_STREQ(BackgroundTitle, "Zevrin Demo Setup");
    EXPECT_STREQ(GetMessageText(1, 1), "Read me");
    EXPECT_STREQ(GetMessageText(6, 0), "Zevrin Test Setup");
    EXPECT_STREQ(GetMessageText(7, 1), "&Next >");
    EXPECT_EQ(PrevDirRootIndex, 2u);
    EXPECT_STREQ(PrevDirKey, "Software\\Zevrin");
    EXPECT_STREQ(PrevDirValue, "InstallDir");
    EXPECT_STREQ(PrevDirIniFile, "zevrin.ini");
    EXPECT_STREQ(PrevDirIniSection, "Setup");
    EXPECT_STREQ(PrevDirIniKey, "Dir");
    EXPECT_EQ(TemplateBlobSize, 200u);
    EXPECT_EQ(std::vector<uint8_t>(TemplateBlob, TemplateBlob + 200), blob);
    EXPECT_EQ(EntryCount, 2u);
    EXPECT_STREQ(EntryString(FirstEntry, FileNameString), "app.exe");
    EXPECT_STREQ(EntryString(NextEntry(FirstEntry), DesktopLinkArgsString), "-q");
    EXPECT_EQ(BlockSize(TitleStyle), TitleStyleSize);
    EXPECT_EQ(StartPage, WizardMode);
    EXPECT_EQ(VolumeDataLength, 20u);
    EXPECT_EQ(VolumeBytesLeft, 20u);
    EXPECT_EQ(DataLengthOffset, p.bytes_.size() - 20 - 4);
}

TEST_F(HeaderTest, GroupRecordReadsNineGroupsAndSkipsTheRest)
{
    std::vector<std::vector<std::string>> groups;
    for (int i = 0; i < 12; ++i)
        groups.push_back({"group " + std::to_string(i)});
    PackageBuilder p;
    p.Groups(groups).Record(TagBackgroundTitle, Bytes("after the groups")).End(0);
    ASSERT_TRUE(Read(p));
    for (unsigned i = 0; i < 9; ++i)
        EXPECT_EQ(std::string(GetMessageText(i, 0)), "group " + std::to_string(i));
    EXPECT_STREQ(GetMessageText(9, 0), "");
    EXPECT_STREQ(BackgroundTitle, "after the groups");
}

TEST_F(HeaderTest, SkipsWhatItDoesNotKnow)
{
    PackageBuilder p;
    p.Record(4667, Bytes("unknown"))
        .Head(TagHeaderFlags, 0, 0) // no body: flags stay 0
        .Record(5000, std::vector<uint8_t>(300, 0xFF))
        .Record(TagUninstallName, Bytes("first"))
        .Record(TagUninstallName, Bytes("second")) // the later one wins
        .End(0);
    ASSERT_TRUE(Read(p));
    EXPECT_EQ(HeaderFlags, 0u);
    EXPECT_STREQ(UninstallName, "second");
}

TEST_F(HeaderTest, Completeness)
{
    struct Case {
        const char* why;
        uint32_t data;     // bytes behind the terminator
        uint32_t declared; // what the terminator says
        bool startPage;
        bool groups;
        bool ok;
        bool message;
    } cases[] = {
        {"exactly the declared data", 1000, 1000, false, true, true, false},
        {"more than declared", 1001, 1000, false, true, true, false},
        {"one byte short", 999, 1000, false, true, false, true},
        {"one byte short, no texts to show", 999, 1000, false, false, false, false},
        {"declared length wraps round", 10, 0xFFFFFFFF, false, true, false, true},
        {"start-page package shorter than its data", 10, 1000, true, true, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        FreeHeaderData();
        ScriptMessageAnswers({});
        PackageBuilder p;
        if (c.groups)
            p.Groups({{}, {}, {}, {}, {}, {}, Group6()});
        if (c.startPage)
            p.Record(TagStartPage, {4, 0});
        p.End(c.data, c.declared);
        EXPECT_EQ(Read(p), c.ok);
        if (c.message) {
            ASSERT_EQ(ShownMessages().size(), 1u);
            EXPECT_EQ(ShownMessages()[0].text, "This file contains invalid data.");
            EXPECT_EQ(ShownMessages()[0].type, static_cast<unsigned>(MessageInformation));
        } else {
            EXPECT_TRUE(ShownMessages().empty());
        }
    }
}

TEST_F(HeaderTest, TerminatorWithoutBodyIsIncomplete)
{
    PackageBuilder p;
    p.Groups({{}, {}, {}, {}, {}, {}, Group6()}).Head(TagTerminator, 0, 0);
    EXPECT_FALSE(Read(p));
    ASSERT_EQ(ShownMessages().size(), 1u);
}

TEST_F(HeaderTest, DamagedHeadersFailWithoutMessage)
{
    PackageBuilder good;
    good.Groups({{}, {}, {}, {}, {}, {}, Group6()}).Record(TagBackgroundTitle, Bytes("title")).End(100);
    size_t headerEnd = good.bytes_.size() - 100 - 12;

    std::vector<uint8_t> tooLong = Table({Entry(0, {"a", "", "", "", "", ""})});
    tooLong[4] = 200; // NextOffset past the table
    std::vector<uint8_t> unterminated = Table({Entry(0, {"a", "", "", "", "", ""})});
    unterminated.back() = 'x'; // last string runs to the end
    std::vector<uint8_t> countLies = Table({Entry(0, {"a", "", "", "", "", ""})});
    countLies[0] = 2;

    struct Case {
        const char* why;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"cut inside the header", std::vector<uint8_t>(good.bytes_.begin(), good.bytes_.begin() + headerEnd - 3)},
        {"no terminator", std::vector<uint8_t>(good.bytes_.begin(), good.bytes_.begin() + headerEnd)},
        {"body longer than the file", PackageBuilder().Head(TagBackgroundTitle, 0, 1u << 30).End(0).bytes_},
        {"body length wraps to an earlier record", PackageBuilder().Head(5000, 0, 0xFFFFFFF8u).End(0).bytes_},
        {"start page cut short", PackageBuilder().Head(TagStartPage, 0, 1).bytes_},
        {"file table entry past its end", PackageBuilder().Record(TagFileTable, tooLong).End(0).bytes_},
        {"file table string without end", PackageBuilder().Record(TagFileTable, unterminated).End(0).bytes_},
        {"file table count larger than its entries", PackageBuilder().Record(TagFileTable, countLies).End(0).bytes_},
        {"file table without count", PackageBuilder().Record(TagFileTable, {1, 0}).End(0).bytes_},
        {"compressed body announcing 3 GB from 6 bytes",
         PackageBuilder().Record(TagFrameBitmap, {0, 0, 0, 0xC0, 0x0D, 0x00}, RecordCompressed).End(0).bytes_},
        {"message group announcing 3 GB",
         PackageBuilder().Record(TagMessageGroups, {1, 0, 0, 0, 0, 0xC0, 0x0D, 0x00}).End(0).bytes_},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        FreeHeaderData();
        ScriptMessageAnswers({});
        PackageBuilder p(0);
        p.bytes_ = c.bytes;
        EXPECT_FALSE(Read(p));
        EXPECT_TRUE(ShownMessages().empty());
    }
}

TEST_F(HeaderTest, NothingToReadFromIsFalse)
{
    SetStubLength(0);
    PackageBuilder p;
    p.End(0);
    EXPECT_FALSE(Read(p)) << "a stub that was never stamped";
    SetStubLength(64);
    std::snprintf(PackageSourcePath, PathSize, "%s", dir.File("missing.exe").c_str());
    EXPECT_FALSE(ReadPackageHeader());
    EXPECT_TRUE(ShownMessages().empty());
}

TEST_F(HeaderTest, UntidyBodiesAreMadeSafe)
{
    PackageBuilder p;
    p.Record(TagUninstallName, Bytes("no terminator", false))
        .Compressed(TagBackgroundTitle, {}) // unpacks to nothing
        .Record(TagDefaultInstallDir, Bytes(std::string(300, 'd')))
        .Record(TagTitleStyle, std::vector<uint8_t>(10, 0x44))
        .End(0);
    ASSERT_TRUE(Read(p));
    EXPECT_STREQ(UninstallName, "no terminator");
    EXPECT_STREQ(BackgroundTitle, "");
    EXPECT_EQ(std::strlen(InstallDir), PathSize - 1);
    ASSERT_EQ(BlockSize(TitleStyle), TitleStyleSize);
    EXPECT_EQ(TitleStyle[9], 0x44);
    EXPECT_EQ(TitleStyle[10], 0);
}

TEST(MessageTextTest, Lookup)
{
    ClearMessageGroups();
    EXPECT_STREQ(GetMessageText(6, 0), "") << "before the groups are read";

    std::vector<std::string> group6(32, "x");
    group6[3] = "";
    group6[4] = "after the empty one";
    SetMessageGroup(6, GroupBytes(group6));
    std::vector<uint8_t> lying = GroupBytes({"one", "two"});
    lying[0] = 50; // claims 50 strings
    SetMessageGroup(1, lying);
    std::vector<uint8_t> open = GroupBytes({"one", "two"});
    open.pop_back(); // last string has no end
    SetMessageGroup(2, open);
    SetMessageGroup(3, {5});

    struct Case {
        unsigned group, index;
        const char* expected;
    } cases[] = {
        {6, 4, "after the empty one"},
        {6, 3, ""},
        {6, 31, "x"},
        {6, 32, ""},
        {8, 0, ""},
        {9, 0, ""},
        {1, 1, "two"},
        {1, 2, ""},
        {1, 49, ""},
        {2, 0, "one"},
        {2, 1, ""},
        {3, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.group) + "," + std::to_string(c.index));
        const char* text = GetMessageText(c.group, c.index);
        ASSERT_NE(text, nullptr);
        EXPECT_STREQ(text, c.expected);
    }
    ClearMessageGroups();
}

TEST(MessageTextTest, FormatText)
{
    struct Case {
        const char* format;
        const char* text;
        long number;
        unsigned size;
        const char* expected;
    } cases[] = {
        {"Please insert disk number %d.", nullptr, 2, 200, "Please insert disk number 2."},
        {"Cannot open the following file:\n%s", "C:\\a.txt", 0, 200, "Cannot open the following file:\nC:\\a.txt"},
        {"100%% done", nullptr, 0, 200, "100% done"},
        {"%s and %s", "one", 0, 200, "one and %s"},
        {"%d%s%n%x", nullptr, -7, 200, "-7%s%n%x"},
        {"disk %d", nullptr, 2, 6, "disk "},
        {"%ld of %u", nullptr, 100, 200, "100 of %u"},
        {"trailing %", nullptr, 0, 200, "trailing %"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        char out[200];
        FormatText(out, c.size, c.format, c.text, c.number);
        EXPECT_STREQ(out, c.expected);
    }
}

TEST(FileTableTest, RotateAddSum)
{
    struct Case {
        const char* bytes;
        uint32_t sum;
    } cases[] = {{"", 0}, {"abc", 0x000002AB}, {"abcde", 0xC8C6C527}};
    for (const Case& c : cases)
        EXPECT_EQ(RotateAddSum(reinterpret_cast<const uint8_t*>(c.bytes), static_cast<uint32_t>(std::strlen(c.bytes)), 0),
                  c.sum)
            << c.bytes;
    // Folding in chunks whose length is a multiple of 4 equals one pass.
    std::string data(16384 * 2 + 7, 'q');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 7);
    const uint8_t* d = reinterpret_cast<const uint8_t*>(data.data());
    uint32_t chunked = RotateAddSum(d + 16384, 16384 + 7, RotateAddSum(d, 16384, 0));
    EXPECT_EQ(chunked, RotateAddSum(d, static_cast<uint32_t>(data.size()), 0));
}

TEST(FileTableTest, EntryStringsSkipOptionalBlocks)
{
    for (uint8_t flags : {0, 2, 4, 6, 8, 14}) {
        std::vector<uint8_t> table = Table({Entry(flags, {"f", "m", "l", "a", "d", "x"})});
        ASSERT_TRUE(CheckFileTable(table.data(), static_cast<uint32_t>(table.size())));
        const uint8_t* entry = table.data() + 4;
        EXPECT_STREQ(EntryString(entry, FileNameString), "f") << int(flags);
        EXPECT_STREQ(EntryString(entry, DesktopLinkArgsString), "x") << int(flags);
        EXPECT_EQ(NextEntry(entry), table.data() + table.size());
    }
    std::vector<uint8_t> empty = Table({});
    EXPECT_TRUE(CheckFileTable(empty.data(), 4));
}

} // namespace
