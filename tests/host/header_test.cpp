// The package header reader on hand-made packages, the text lookup and
// the file-table checks it relies on.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "../../stub/engine/file_table.h"
#include "../../stub/shared/checksum.h"
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

// The body of a groups record holding `groups` and then one more group
// whose stream unpacks `texts` and then fails on a block of no kind.
std::vector<uint8_t> GroupsThenDamaged(const std::vector<std::vector<std::string>>& groups,
                                       const std::vector<std::string>& texts)
{
    PackageBuilder p(0);
    p.Groups(groups);
    std::vector<uint8_t> body(p.bytes_.begin() + RecordHeadSize, p.bytes_.end());
    body[0] = static_cast<uint8_t>(groups.size() + 1);
    std::vector<uint8_t> group = GroupBytes(texts);
    AppendU32(body, static_cast<uint32_t>(group.size()));
    std::vector<uint8_t> stream =
        StreamBuilder().Stored(std::string(group.begin(), group.end()), false).Head(1, true).Align().Bytes();
    body.insert(body.end(), stream.begin(), stream.end());
    return body;
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
        AllocationFailureCountdown = -1;
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
    std::vector<uint8_t> blob = SoundTemplateBlob();
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
    EXPECT_EQ(TemplateBlobSize, blob.size());
    EXPECT_EQ(std::vector<uint8_t>(TemplateBlob, TemplateBlob + TemplateBlobSize), blob);
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
    p.Groups(groups).Record(TagBackgroundTitle, Bytes("after the groups")).Templates().End(0);
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
        .Templates()
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
        p.Templates().End(c.data, c.declared);
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

// Every refusal names its fault. Once group 6 has been read the user is
// told (text 31); a package damaged before that is refused silently.
TEST_F(HeaderTest, DamagedHeadersAreRefusedWithTheirFault)
{
    PackageBuilder good;
    good.Groups({{}, {}, {}, {}, {}, {}, Group6()}).Record(TagBackgroundTitle, Bytes("title")).Templates().End(100);
    size_t headerEnd = good.bytes_.size() - 100 - 12;
    uint32_t templatesLength = static_cast<uint32_t>(SoundTemplateBlob().size());

    std::vector<uint8_t> tooLong = Table({Entry(0, {"a", "", "", "", "", ""})});
    tooLong[4] = 200; // NextOffset past the table
    std::vector<uint8_t> unterminated = Table({Entry(0, {"a", "", "", "", "", ""})});
    unterminated.back() = 'x'; // last string runs to the end
    std::vector<uint8_t> countLies = Table({Entry(0, {"a", "", "", "", "", ""})});
    countLies[0] = 2;
    std::vector<uint8_t> undecodable{5, 0, 0, 0, 0x01}; // announces 5 bytes; block kind 1 is none
    std::vector<uint8_t> overfull{4, 0, 0, 0};           // announces 4 bytes, unpacks to 100
    std::vector<uint8_t> hundred = Compress(std::vector<uint8_t>(100, 'x'));
    overfull.insert(overfull.end(), hundred.begin(), hundred.end());
    const std::vector<std::vector<std::string>> sixGroups{{}, {}, {}, {}, {}, {}};
    const std::vector<std::vector<std::string>> sevenGroups{{}, {}, {}, {}, {}, {}, Group6()};
    const uint32_t group6Size = static_cast<uint32_t>(GroupBytes(Group6()).size());

    struct Case {
        const char* why;
        std::vector<uint8_t> bytes;
        HeaderProblem problem;
        uint16_t tag;
        uint32_t number;
        int group;
        bool message; // text 31 shown
    } cases[] = {
        {"cut inside the header", std::vector<uint8_t>(good.bytes_.begin(), good.bytes_.begin() + headerEnd - 3),
         HeaderRecordTooLong, TagTemplateBlob, templatesLength, -1, true},
        {"no terminator", std::vector<uint8_t>(good.bytes_.begin(), good.bytes_.begin() + headerEnd), HeaderCutShort,
         0, 0, -1, true},
        {"body longer than the file", PackageBuilder().Head(TagBackgroundTitle, 0, 1u << 30).End(0).bytes_,
         HeaderRecordTooLong, TagBackgroundTitle, 1u << 30, -1, false},
        {"body length wraps to an earlier record", PackageBuilder().Head(5000, 0, 0xFFFFFFF8u).End(0).bytes_,
         HeaderRecordTooLong, 5000, 0xFFFFFFF8u, -1, false},
        {"start page cut short", PackageBuilder().Head(TagStartPage, 0, 1).bytes_, HeaderRecordTooLong, TagStartPage,
         1, -1, false},
        {"file table entry past its end", PackageBuilder().Record(TagFileTable, tooLong).End(0).bytes_,
         HeaderFileTableDamaged, TagFileTable, 0, -1, false},
        {"file table string without end", PackageBuilder().Record(TagFileTable, unterminated).End(0).bytes_,
         HeaderFileTableDamaged, TagFileTable, 0, -1, false},
        {"file table count larger than its entries", PackageBuilder().Record(TagFileTable, countLies).End(0).bytes_,
         HeaderFileTableDamaged, TagFileTable, 1, -1, false},
        {"file table without count", PackageBuilder().Record(TagFileTable, {1, 0}).End(0).bytes_,
         HeaderFileTableDamaged, TagFileTable, 0, -1, false},
        {"compressed body announcing 3 GB from 6 bytes",
         PackageBuilder().Record(TagFrameBitmap, {0, 0, 0, 0xC0, 0x0D, 0x00}, RecordCompressed).End(0).bytes_,
         HeaderStreamTooLarge, TagFrameBitmap, 0xC0000000u, -1, false},
        {"message group announcing 3 GB",
         PackageBuilder().Record(TagMessageGroups, {1, 0, 0, 0, 0, 0xC0, 0x0D, 0x00}).End(0).bytes_,
         HeaderStreamTooLarge, TagMessageGroups, 0xC0000000u, 0, false},
        {"compressed body that does not decode",
         PackageBuilder().Groups(sevenGroups).Record(TagFrameBitmap, undecodable, RecordCompressed).End(0).bytes_,
         HeaderStreamDamaged, TagFrameBitmap, 5, -1, true},
        {"compressed body that unpacks to more than it announces",
         PackageBuilder().Groups(sevenGroups).Record(TagUninstallName, overfull, RecordCompressed).End(0).bytes_,
         HeaderStreamDamaged, TagUninstallName, 4, -1, true},
        // Its texts, text 31 among them, come before the damage: still
        // nothing is shown from a damaged group.
        {"group 6 that does not decode",
         PackageBuilder().Record(TagMessageGroups, GroupsThenDamaged(sixGroups, Group6())).bytes_,
         HeaderStreamDamaged, TagMessageGroups, group6Size, 6, false},
        {"group 7 that does not decode, after group 6",
         PackageBuilder().Record(TagMessageGroups, GroupsThenDamaged(sevenGroups, {"< &Back"})).bytes_,
         HeaderStreamDamaged, TagMessageGroups, 10, 7, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        FreeHeaderData();
        ScriptMessageAnswers({});
        PackageBuilder p(0);
        p.bytes_ = c.bytes;
        EXPECT_FALSE(Read(p));
        EXPECT_EQ(LastHeaderFault.problem, c.problem);
        EXPECT_EQ(LastHeaderFault.tag, c.tag);
        EXPECT_EQ(LastHeaderFault.number, c.number);
        EXPECT_EQ(LastHeaderFault.group, c.group);
        if (c.message) {
            ASSERT_EQ(ShownMessages().size(), 1u);
            EXPECT_EQ(ShownMessages()[0].text, "This file contains invalid data.");
            EXPECT_EQ(ShownMessages()[0].type, static_cast<unsigned>(MessageInformation));
        } else {
            EXPECT_TRUE(ShownMessages().empty());
        }
    }
}

// Templates 0..7 of a sound set, both forms among them.
std::vector<std::vector<uint8_t>> SoundTemplates()
{
    std::vector<std::vector<uint8_t>> templates;
    for (int n = 0; n < 8; ++n)
        templates.push_back(SoundTemplate(n, n % 2 == 1));
    return templates;
}

// The sound set with template n replaced, placed last in the blob so that
// whatever it leaves open runs into the end.
std::vector<uint8_t> BlobWith(size_t n, const std::vector<uint8_t>& replacement)
{
    std::vector<std::vector<uint8_t>> templates = SoundTemplates();
    templates[n] = replacement;
    return TemplateBlobOf(templates, n);
}

// The sound set with several templates replaced by one whose 65535 items
// cannot fit any block, whatever follows it.
std::vector<uint8_t> BlobWithHopeless(const std::vector<size_t>& numbers)
{
    std::vector<uint8_t> hopeless =
        DialogWriter().Classic(DialogWriter::ChildVisible, 0xFFFF).None().None().Text(u"T").Bytes();
    std::vector<std::vector<uint8_t>> templates = SoundTemplates();
    for (size_t n : numbers)
        templates[n] = hopeless;
    return TemplateBlobOf(templates);
}

std::vector<uint8_t> Cut(std::vector<uint8_t> bytes, size_t size)
{
    bytes.resize(size);
    return bytes;
}

void PutU32At(std::vector<uint8_t>& bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// A dialog whose one item has a title of `length` characters.
std::vector<uint8_t> LongDialog(size_t length)
{
    return DialogWriter()
        .Classic(DialogWriter::ChildVisible, 1)
        .None()
        .None()
        .Text(u"T")
        .Item(1)
        .Ordinal(0x82)
        .Text(std::u16string(length, u'x'))
        .Data({})
        .Bytes();
}

// Every template the run can load is walked as the dialog manager walks
// it, inside the bytes a load copies; the others are left alone.
TEST_F(HeaderTest, TemplatesTheRunLoadsMustBeWellFormed)
{
    const uint32_t child = DialogWriter::ChildVisible;
    const uint32_t withFont = child | DialogWriter::SetFont;
    auto dialog = [child](uint16_t items) {
        DialogWriter w;
        w.Classic(child, items).None().None().Text(u"T");
        return w;
    };
    std::vector<uint8_t> offsetInTable = SoundTemplateBlob();
    PutU32At(offsetInTable, 4 * 5, 16);
    std::vector<uint8_t> offsetPastBlob = SoundTemplateBlob();
    PutU32At(offsetPastBlob, 4 * 6, static_cast<uint32_t>(offsetPastBlob.size()));
    // Template 2 two bytes further on: its items align from its own start.
    std::vector<uint8_t> unalignedStart = TemplateBlobOf(SoundTemplates(), 2);
    uint32_t template2 = ReadU32(unalignedStart.data() + 8);
    unalignedStart.insert(unalignedStart.begin() + template2, 2, 0xEE);
    PutU32At(unalignedStart, 8, template2 + 2);
    const size_t fit = (16384 - LongDialog(0).size()) / 2;
    ASSERT_EQ(LongDialog(fit).size(), 16384u);
    std::vector<std::vector<uint8_t>> longInside = SoundTemplates();
    longInside[3] = LongDialog(fit + 1);

    const uint32_t fullScreen = FlagFullScreen;
    struct Case {
        const char* why;
        std::vector<uint8_t> blob; // empty: no template record
        uint32_t flags;
        uint16_t startPage;
        bool ok;
        uint32_t bad; // the template the fault names
    } cases[] = {
        {"no template blob", {}, 0, WizardMode, false, 8},
        {"offset table cut short", Cut(SoundTemplateBlob(), 28), 0, WizardMode, false, 8},
        {"offset inside the table", offsetInTable, 0, WizardMode, false, 5},
        {"offset past the blob", offsetPastBlob, 0, WizardMode, false, 6},
        {"header cut short", BlobWith(4, Cut(SoundDialog(), 10)), 0, WizardMode, false, 4},
        {"more items than the bytes hold", BlobWith(5, dialog(3).Static(1000).Bytes()), 0, WizardMode, false, 5},
        {"menu ordinal without its number", BlobWith(2, DialogWriter().Classic(child, 0).U16(0xFFFF).Bytes()), 0,
         WizardMode, false, 2},
        {"class name without end", BlobWith(3, DialogWriter().Classic(child, 0).None().Text(u"Dlg", false).Bytes()),
         0, WizardMode, false, 3},
        {"title without end",
         BlobWith(2, DialogWriter().Classic(child, 0).None().None().Text(u"Title", false).Bytes()), 0, WizardMode,
         false, 2},
        {"font promised, none there",
         BlobWith(6, DialogWriter().Classic(withFont, 0).None().None().Text(u"T").Bytes()), 0, WizardMode, false, 6},
        {"font name without end",
         BlobWith(6, DialogWriter().Classic(withFont, 0).None().None().Text(u"T").Font(u"Tahoma", false).Bytes()), 0,
         WizardMode, false, 6},
        {"item class name without end", BlobWith(7, dialog(1).Item(1).Text(u"Edit", false).Bytes()), 0, WizardMode,
         false, 7},
        {"item title without end", BlobWith(7, dialog(1).Item(1).Ordinal(0x81).Text(u"Name", false).Bytes()), 0,
         WizardMode, false, 7},
        {"item title ordinal without its number", BlobWith(7, dialog(1).Item(1).Ordinal(0x82).U16(0xFFFF).Bytes()),
         0, WizardMode, false, 7},
        {"menu and an item title as ordinals",
         BlobWith(7, DialogWriter().Classic(child, 1).Ordinal(5).None().Text(u"T").Item(1).Ordinal(0x82)
                         .Ordinal(100).Data({}).Bytes()),
         0, WizardMode, true, 0},
        // The dialog manager steps over whole words of creation data, but
        // the control is handed all of it.
        {"creation data of 3 bytes, 2 there",
         BlobWith(7, dialog(1).Item(1).Ordinal(0x82).None().U16(3).U8(1).U8(2).Bytes()), 0, WizardMode, false, 7},
        // Here the one byte of creation data is the first of the next item.
        {"1 byte of creation data, the next item 2 bytes on",
         BlobWith(7, dialog(2).Item(1).Ordinal(0x82).Text(u"A").U16(1).Static(2).Bytes()), 0, WizardMode, true, 0},
        {"extended: weight, italic and character set, no face name",
         BlobWith(5, DialogWriter().Extended(withFont, 0).None().None().Text(u"T").U16(8).U16(400).U8(0).U8(0).Bytes()),
         0, WizardMode, false, 5},
        {"extended: item cut inside its 32-bit id", BlobWith(3, Cut(SoundDialog(true, 1), SoundDialog(true, 0).size() + 20)),
         0, WizardMode, false, 3},
        {"extended, sound, at the very end", BlobWith(3, SoundDialog(true, 3)), 0, WizardMode, true, 0},
        {"a template at an offset that is not a multiple of 4", unalignedStart, 0, WizardMode, true, 0},
        {"a template of exactly 16384 bytes", BlobWith(7, LongDialog(fit)), 0, WizardMode, true, 0},
        {"a template 2 bytes longer", BlobWith(7, LongDialog(fit + 1)), 0, WizardMode, false, 7},
        {"inside the blob, past the 16384-byte block", TemplateBlobOf(longInside), 0, WizardMode, false, 3},
        {"windowed: the full-screen frame is not loaded", BlobWithHopeless({1}), 0, WizardMode, true, 0},
        {"full screen loads frame template 1", BlobWithHopeless({1}), fullScreen, WizardMode, false, 1},
        {"full screen: the windowed frame is not loaded", BlobWithHopeless({0}), fullScreen, WizardMode, true, 0},
        {"the wizard may open the folder browser", BlobWithHopeless({7}), 0, WizardMode, false, 7},
        {"page 4 alone loads only its own", BlobWithHopeless({2, 3, 5, 6, 7}), 0, 4, true, 0},
        {"page 2 alone may open the folder browser", BlobWithHopeless({7}), 0, 2, false, 7},
        {"page 3 alone loads template 5", BlobWithHopeless({5}), 0, 3, false, 5},
        {"page 5 alone loads only its own", BlobWithHopeless({2, 3, 4, 5, 7}), 0, 5, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        FreeHeaderData();
        StartPage = WizardMode;
        ScriptMessageAnswers({});
        PackageBuilder p;
        p.Groups({{}, {}, {}, {}, {}, {}, Group6()}).Record(TagHeaderFlags, {static_cast<uint8_t>(c.flags), 0, 0, 0});
        if (c.startPage != WizardMode)
            p.Record(TagStartPage, {static_cast<uint8_t>(c.startPage), 0});
        uint32_t blobAt = static_cast<uint32_t>(p.bytes_.size());
        if (!c.blob.empty())
            p.Templates(c.blob);
        p.End(0);
        EXPECT_EQ(Read(p), c.ok);
        EXPECT_EQ(ShownMessages().size(), c.ok ? 0u : 1u) << "text 31";
        if (c.ok)
            continue;
        EXPECT_EQ(LastHeaderFault.problem, HeaderTemplatesDamaged);
        EXPECT_EQ(LastHeaderFault.number, c.bad);
        EXPECT_EQ(LastHeaderFault.tag, c.blob.empty() ? 0 : TagTemplateBlob);
        EXPECT_EQ(LastHeaderFault.offset, c.blob.empty() ? 0 : blobAt);
    }
}

// Page 6 is only the end marker: a package starting there would show and
// install nothing.
TEST_F(HeaderTest, StartPageMustBeInThePageTable)
{
    struct Case {
        uint16_t page;
        bool ok;
    } cases[] = {{0, true}, {5, true}, {WizardMode, true}, {6, false}, {7, false}, {0x7FFF, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.page);
        FreeHeaderData();
        ScriptMessageAnswers({});
        PackageBuilder p;
        p.Groups({{}, {}, {}, {}, {}, {}, Group6()}).Templates();
        uint32_t recordAt = static_cast<uint32_t>(p.bytes_.size());
        p.Record(TagStartPage, {static_cast<uint8_t>(c.page), static_cast<uint8_t>(c.page >> 8)}).End(0);
        EXPECT_EQ(Read(p), c.ok);
        EXPECT_EQ(ShownMessages().size(), c.ok ? 0u : 1u) << "text 31";
        if (c.ok)
            continue;
        EXPECT_EQ(LastHeaderFault.problem, HeaderStartPageInvalid);
        EXPECT_EQ(LastHeaderFault.number, c.page);
        EXPECT_EQ(LastHeaderFault.tag, TagStartPage);
        EXPECT_EQ(LastHeaderFault.offset, recordAt);
    }
}

// A page as the default templates make it: WS_CHILD | WS_VISIBLE |
// DS_CONTROL | DS_3DLOOK | DS_SETFONT, 8pt MS Shell Dlg, statics 1000 to
// 1003 and whatever `more` adds; with where each item's class and
// creation-data count lie, for damaging them.
struct PageBytes {
    std::vector<uint8_t> bytes;
    std::vector<size_t> classAt, dataCountAt;
};
PageBytes DefaultPage(uint32_t style = 0x50000444, const std::function<void(DialogWriter&)>& more = nullptr,
                      uint16_t moreItems = 0)
{
    DialogWriter w;
    w.Classic(style, static_cast<uint16_t>(4 + moreItems)).None().None().Text(u"").Font();
    PageBytes page;
    for (uint16_t id = 1000; id <= 1003; ++id) {
        w.Item(id);
        page.classAt.push_back(w.Bytes().size());
        w.Ordinal(0x82).Text(u"Text");
        page.dataCountAt.push_back(w.Bytes().size());
        w.Data({});
    }
    if (more)
        more(w);
    page.bytes = w.Bytes();
    return page;
}

std::vector<uint8_t> WithU16(std::vector<uint8_t> bytes, size_t at, uint16_t value)
{
    bytes[at] = static_cast<uint8_t>(value);
    bytes[at + 1] = static_cast<uint8_t>(value >> 8);
    return bytes;
}

// Templates that pass the walk but that the platform cannot turn into a
// dialog, or turns into one without a control its page needs, are
// damage like any other: refused before a window opens, with text 31.
// Each was seen to make no dialog (or no usable one) under Wine.
TEST_F(HeaderTest, TemplatesThatMakeNoUsableDialogAreRefused)
{
    const uint32_t child = DialogWriter::ChildVisible;
    PageBytes page = DefaultPage();
    auto pageWith = [](const std::function<void(DialogWriter&)>& item) { return DefaultPage(0x50000444, item, 1).bytes; };
    std::vector<uint8_t> frameWithoutCancel = DialogWriter()
                                                  .Classic(child | DialogWriter::SetFont, 3)
                                                  .None().None().Text(u"").Font()
                                                  .Static(1).Static(1007).Static(1006)
                                                  .Bytes();
    struct Case {
        const char* why;
        size_t number;
        std::vector<uint8_t> dialog;
        TemplateProblem problem; // TemplateSound: accepted
        int item;
        uint32_t id;
    } cases[] = {
        {"sound", 5, page.bytes, TemplateSound, -1, 0},
        {"an item of a class named NoSuchClass", 5,
         pageWith([](DialogWriter& w) { w.Item(1020).Text(u"NoSuchClass").Text(u"").Data({}); }), TemplateItemClass,
         4, 1020},
        {"an item of class ordinal 0x00FF", 5, pageWith([](DialogWriter& w) { w.Item(1020).Ordinal(0xFF).Text(u"").Data({}); }),
         TemplateItemClass, 4, 1020},
        {"an item whose class is an empty name", 5, pageWith([](DialogWriter& w) { w.Item(1020).None().Text(u"").Data({}); }),
         TemplateItemClass, 4, 1020},
        // Its window procedure ends the run when the window goes.
        {"an item of the installer's own window class", 5,
         pageWith([](DialogWriter& w) { w.Item(1020).Text(u"ZevrinClass").Text(u"").Data({}); }), TemplateItemClass, 4,
         1020},
        {"the dialog's class an unregistered ordinal 0x4444", 5,
         DialogWriter().Classic(0x50000444, 1).None().Ordinal(0x4444).Text(u"").Font().Static(1000).Bytes(),
         TemplateDialogClass, -1, 0},
        // The class becomes a string running into the title, and the
        // walk goes on out of step.
        {"an item's class marker 0xFFFF flipped to 0xFF03", 5, WithU16(page.bytes, page.classAt[1], 0xFF03),
         TemplateItemClass, 1, 1001},
        // 0x22 bytes of the next item are stepped over as creation data;
        // the rest of it is read as an item whose id is its width, 50.
        {"an item's creation-data count 0 changed to 0x23", 5, WithU16(page.bytes, page.dataCountAt[0], 0x23),
         TemplateItemClass, 1, 50},
        // The font's bytes are walked as items, out past the template.
        {"a popup style without the font flag", 5, WithU16(WithU16(page.bytes, 0, 0x0404), 2, 0x8000),
         TemplateUnwalkable, -1, 0},
        {"the directory page without its folder field", 2, page.bytes, TemplateControlMissing, -1, 1004},
        {"the finish page without its main text", 6,
         DialogWriter().Classic(child, 1).None().None().Text(u"").Static(1001).Bytes(), TemplateControlMissing, -1, 1000},
        {"the frame without its Cancel button", 0, frameWithoutCancel, TemplateControlMissing, -1, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        FreeHeaderData();
        ScriptMessageAnswers({});
        std::vector<std::vector<uint8_t>> templates;
        for (size_t n = 0; n < 8; ++n)
            templates.push_back(SoundTemplate(n));
        templates[c.number] = c.dialog;
        PackageBuilder p;
        p.Groups({{}, {}, {}, {}, {}, {}, Group6()}).Templates(TemplateBlobOf(templates)).End(0);
        bool ok = c.problem == TemplateSound;
        EXPECT_EQ(Read(p), ok);
        ASSERT_EQ(ShownMessages().size(), ok ? 0u : 1u);
        if (ok)
            continue;
        EXPECT_EQ(ShownMessages()[0].text, "This file contains invalid data.");
        EXPECT_EQ(LastHeaderFault.problem, HeaderTemplatesDamaged);
        EXPECT_EQ(LastHeaderFault.number, c.number);
        EXPECT_EQ(LastHeaderFault.templates.problem, c.problem);
        EXPECT_EQ(LastHeaderFault.templates.item, c.item);
        EXPECT_EQ(LastHeaderFault.templates.id, c.id);
    }
}

// An item class is made when it is a predefined control, by ordinal or by
// name in any case, or a common control; nothing else.
TEST(TemplateCheck, ItemClassesTheInstallerCanMake)
{
    auto check = [](const std::function<void(DialogWriter&)>& itemClass) {
        DialogWriter w;
        w.Classic(DialogWriter::ChildVisible, 1).None().None().Text(u"T").Item(7);
        itemClass(w);
        w.Text(u"").Data({});
        TemplateFault fault;
        bool made = CheckDialogTemplate(w.Bytes().data(), static_cast<uint32_t>(w.Bytes().size()), NoTemplate, &fault);
        EXPECT_EQ(fault.problem, made ? TemplateSound : TemplateItemClass);
        return made;
    };
    for (uint16_t ordinal : {0x7F, 0x80, 0x85, 0x86, 0xFF, 0x8002}) {
        SCOPED_TRACE(ordinal);
        EXPECT_EQ(check([ordinal](DialogWriter& w) { w.Ordinal(ordinal); }), ordinal >= 0x80 && ordinal <= 0x85);
    }
    for (unsigned i = 0; i < ItemClassNameCount; ++i) {
        std::string name = ItemClassNames[i];
        SCOPED_TRACE(name);
        EXPECT_TRUE(check([&name](DialogWriter& w) { w.Text(std::u16string(name.begin(), name.end())); }));
    }
    const struct {
        std::u16string name;
        bool made;
    } names[] = {
        {u"BUTTON", true},
        {u"static", true},
        {u"MSCTLS_PROGRESS32", true},
        {u"Butto", false},
        {u"Button ", false},
        {u"B\u00fctton", false},
        {u"ButtonButtonButtonButtonButton", false}, // longer than any known name
        {u"tooltips_class32", false},               // a pop-up, not a control
        {u"#32770", false},
        {u"ZevrinClass", false},
    };
    for (const auto& n : names) {
        SCOPED_TRACE(std::string(n.name.begin(), n.name.end()));
        EXPECT_EQ(check([&n](DialogWriter& w) { w.Text(n.name); }), n.made);
    }
}

// An entry with a stream needs at least one byte of it: a bounded decode
// of 0 bytes would read on without bound. Empty files have a stream too.
TEST_F(HeaderTest, EveryFileWithAStreamHasBytesOfIt)
{
    auto entry = [](uint32_t packed, uint32_t size, uint8_t mode) {
        std::vector<uint8_t> e = Entry(0, {"f", "", "", "", "", ""}, packed);
        PutU32At(e, EntryFileSize, size);
        e[EntryUninstallMode] = mode;
        return e;
    };
    struct Case {
        const char* why;
        std::vector<uint8_t> damaged;
        bool ok;
    } cases[] = {
        {"a file without a stream", entry(0, 5, 1), false},
        {"an empty file without a stream", entry(0, 0, 0), false},
        {"an empty file with its stream", entry(2, 0, 1), true},
        {"an external file, which has no stream", entry(0, 5, UninstallExternal), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        FreeHeaderData();
        ScriptMessageAnswers({});
        PackageBuilder p;
        p.Groups({{}, {}, {}, {}, {}, {}, Group6()})
            .Templates()
            .Compressed(TagFileTable, Table({entry(10, 10, 1), c.damaged}))
            .End(0);
        EXPECT_EQ(Read(p), c.ok);
        EXPECT_EQ(ShownMessages().size(), c.ok ? 0u : 1u) << "text 31";
        if (c.ok) {
            EXPECT_EQ(EntryCount, 2u);
            continue;
        }
        EXPECT_EQ(LastHeaderFault.problem, HeaderFileTableDamaged);
        EXPECT_EQ(LastHeaderFault.number, 1u);
    }
}

TEST_F(HeaderTest, RefusedFileTableLeavesNoTable)
{
    std::vector<uint8_t> good = Table({Entry(0, {"a", "", "", "", "", ""})});
    std::vector<uint8_t> bad = Table({Entry(0, {"a", "", "", "", "", ""}, 0)});
    PackageBuilder p;
    p.Templates().Record(TagFileTable, good).Record(TagFileTable, bad).End(0);
    EXPECT_FALSE(Read(p));
    EXPECT_EQ(LastHeaderFault.problem, HeaderFileTableDamaged);
    EXPECT_EQ(FileTable, nullptr);
    EXPECT_EQ(FirstEntry, nullptr);
    EXPECT_EQ(EntryCount, 0u);
}

TEST_F(HeaderTest, StreamShorterThanAnnouncedIsZeroFilled)
{
    std::vector<uint8_t> body{10, 0, 0, 0};
    std::vector<uint8_t> stream = Compress({'a', 'b', 'c'});
    body.insert(body.end(), stream.begin(), stream.end());
    PackageBuilder p;
    p.Record(TagFrameBitmap, body, RecordCompressed).Templates().End(0);
    ASSERT_TRUE(Read(p));
    ASSERT_EQ(BlockSize(FrameBitmap), 10u);
    EXPECT_EQ(std::vector<uint8_t>(FrameBitmap, FrameBitmap + 10),
              std::vector<uint8_t>({'a', 'b', 'c', 0, 0, 0, 0, 0, 0, 0}));
}

// Memory can run out at any allocation; the package is not to blame, so
// no text is shown, even once the texts are there.
TEST_F(HeaderTest, RunningOutOfMemoryIsASilentRefusal)
{
    PackageBuilder p;
    p.Groups({{}, {}, {}, {}, {}, {}, Group6()})
        .Record(TagUninstallName, Bytes("no terminator", false))
        .Compressed(TagBackgroundTitle, Bytes("Zevrin"))
        .Record(TagTitleStyle, std::vector<uint8_t>(10, 0x44))
        .Compressed(TagTemplateBlob, SoundTemplateBlob())
        .Compressed(TagFileTable, Table({Entry(0, {"a", "", "", "", "", ""})}))
        .End(0);
    for (int allowed = 0;; ++allowed) {
        ASSERT_LT(allowed, 500) << "never read";
        SCOPED_TRACE(allowed);
        FreeHeaderData();
        ScriptMessageAnswers({});
        AllocationFailureCountdown = allowed;
        bool read = Read(p);
        AllocationFailureCountdown = -1;
        if (read)
            break;
        EXPECT_EQ(LastHeaderFault.problem, HeaderOutOfMemory);
        EXPECT_TRUE(ShownMessages().empty());
    }
}

// Where a fault was found: the offset of its record's head, and the
// numbers its problem documents.
TEST_F(HeaderTest, FaultsNameTheirRecord)
{
    PackageBuilder title;
    title.Record(TagBackgroundTitle, Bytes("title")); // at 64, 13 bytes
    const uint32_t second = 64 + 8 + 6;
    struct Case {
        const char* why;
        std::vector<uint8_t> tail; // after the title record
        HeaderProblem problem;
        uint16_t tag;
        uint32_t offset, number, limit;
    } cases[] = {
        {"cut inside a head", {0x34, 0x12, 0}, HeaderCutShort, 0, second, 0, 0},
        {"record longer than the file", PackageBuilder(0).Head(TagUninstallName, 0, 100).Append({1, 2, 3}).bytes_,
         HeaderRecordTooLong, TagUninstallName, second, 100, 3},
        {"file table", PackageBuilder(0).Record(TagFileTable, {0, 0}).End(0).bytes_, HeaderFileTableDamaged,
         TagFileTable, second, 0, 0},
        {"stream announcing more than its bytes can hold",
         PackageBuilder(0).Record(TagFrameBitmap, {0, 0, 1, 0, 0x0D, 0x00}, RecordCompressed).End(0).bytes_,
         HeaderStreamTooLarge, TagFrameBitmap, second, 0x10000, 6},
        {"data region shorter than declared", PackageBuilder(0).Templates().End(10, 11).bytes_, HeaderIncomplete,
         TagTerminator, second + 8 + static_cast<uint32_t>(SoundTemplateBlob().size()), 11, 10},
        {"terminator without a body", PackageBuilder(0).Templates().Head(TagTerminator, 0, 0).bytes_,
         HeaderIncomplete, TagTerminator, second + 8 + static_cast<uint32_t>(SoundTemplateBlob().size()), 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        FreeHeaderData();
        PackageBuilder p = title;
        p.Append(c.tail);
        EXPECT_FALSE(Read(p));
        EXPECT_EQ(LastHeaderFault.problem, c.problem);
        EXPECT_EQ(LastHeaderFault.tag, c.tag);
        EXPECT_EQ(LastHeaderFault.offset, c.offset);
        EXPECT_EQ(LastHeaderFault.number, c.number);
        EXPECT_EQ(LastHeaderFault.limit, c.limit);
        EXPECT_EQ(LastHeaderFault.group, -1);
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
        .Templates()
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

// Pieces that split words anywhere fold like one pass; the length counts
// every byte, the pending ones too.
TEST(FileTableTest, RunningSum)
{
    std::vector<uint8_t> data(70001);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 13 + 5);
    struct Case {
        const char* why;
        std::vector<uint32_t> pieces; // the rest of data comes last
    } cases[] = {
        {"one piece", {}},
        {"empty pieces between", {0, 8, 0, 0, 4}},
        {"single bytes across a word", {1, 1, 1, 1, 1}},
        {"odd pieces, carries of 1, 2 and 3", {3, 5, 2, 7, 1, 6}},
        {"decoder-sized, then uneven", {32768, 32767, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        RunningSum sum;
        uint32_t at = 0;
        for (uint32_t piece : c.pieces) {
            sum.Add(data.data() + at, piece);
            at += piece;
        }
        sum.Add(data.data() + at, static_cast<uint32_t>(data.size()) - at);
        EXPECT_EQ(sum.Value(), RotateAddSum(data.data(), static_cast<uint32_t>(data.size()), 0));
        EXPECT_EQ(sum.Length(), data.size());
    }
    RunningSum partial;
    partial.Add(data.data(), 6);
    EXPECT_EQ(partial.Value(), RotateAddSum(data.data(), 6, 0)) << "a value with bytes still pending";
    EXPECT_EQ(RunningSum().Value(), 0u);
}

// FileChecksum reads through the file wrappers in 16384-byte chunks from
// the file's position.
TEST(FileTableTest, FileChecksum)
{
    TempDir dir;
    std::vector<uint8_t> big(ChecksumChunk * 2 + 7);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<uint8_t>(i * 7);
    struct Case {
        const char* why;
        std::vector<uint8_t> bytes;
        uint32_t sum;
    } cases[] = {
        {"empty", {}, 0},
        {"abc", Bytes("abc", false), 0x000002AB},
        {"abcde", Bytes("abcde", false), 0xC8C6C527},
        {"three chunks, the last short", big, RotateAddSum(big.data(), static_cast<uint32_t>(big.size()), 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        WriteBytes(dir.File("f"), c.bytes);
        FileHandle file = OpenExisting(dir.File("f").c_str(), 0);
        ASSERT_NE(file, INVALID_FILE_HANDLE);
        EXPECT_EQ(FileChecksum(file), c.sum);
        CloseFile(file);
    }

    FileHandle file = OpenExisting(dir.File("f").c_str(), 0);
    ASSERT_NE(file, INVALID_FILE_HANDLE);
    SeekTo(file, ChecksumChunk);
    EXPECT_EQ(FileChecksum(file), RotateAddSum(big.data() + ChecksumChunk, ChecksumChunk + 7, 0))
        << "from the file's position";
    SeekTo(file, 0);
    AllocationFailureCountdown = 0;
    EXPECT_EQ(FileChecksum(file), 0u) << "no chunk buffer";
    AllocationFailureCountdown = -1;
    CloseFile(file);
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

// A copy entry and the earlier entry whose bytes it installs: one good
// pair, then each way the pair can be wrong; the table is refused at the
// copy. A stub that does not know copies reads one as an entry without a
// stream, and refuses it too.
TEST(FileTableTest, CopiesNameAnEarlierEntryWithTheSameBytes)
{
    struct EntryShape {
        uint8_t flags = 0;
        uint32_t packed = 10;
        uint32_t size = 5;
        uint32_t sum = 7;
        uint8_t uninstallMode = UninstallRemove;
        uint32_t source = 0xFFFFFFFF; // a copy of this entry
    };
    auto entry = [](const EntryShape& shape) {
        std::vector<uint8_t> e(EntryFixedSize, 0);
        e[EntryFlags] = shape.flags | (shape.source != 0xFFFFFFFF ? FlagSameAsEntry : 0);
        e[EntryUninstallMode] = shape.uninstallMode;
        for (int i = 0; i < 4; ++i) {
            e[EntryPackedSize + i] = static_cast<uint8_t>(shape.packed >> (8 * i));
            e[EntryFileSize + i] = static_cast<uint8_t>(shape.size >> (8 * i));
            e[EntryChecksum + i] = static_cast<uint8_t>(shape.sum >> (8 * i));
        }
        if (shape.flags & FlagHasFileTimes)
            e.insert(e.end(), FileTimesSize, 0);
        if (shape.source != 0xFFFFFFFF)
            AppendU32(e, shape.source);
        for (const char* s : {"name", "", "", "", "", ""})
            e.insert(e.end(), s, s + std::strlen(s) + 1);
        WriteU16(e.data(), static_cast<uint16_t>(e.size()));
        return e;
    };
    EntryShape source, copy, other, external, uninstaller;
    copy.packed = 0;
    copy.source = 0;
    other.size = 6;
    external.packed = 0;
    external.uninstallMode = UninstallExternal;
    uninstaller.flags = FlagUninstallerFile;
    auto with = [](EntryShape s, std::function<void(EntryShape&)> change) {
        change(s);
        return s;
    };
    struct Case {
        const char* why;
        std::vector<EntryShape> entries;
        bool ok;
        uint32_t bad;
    } cases[] = {
        {"a copy of the first entry", {source, other, copy}, true, 0},
        {"with file times before its index", {source, with(copy, [](EntryShape& s) { s.flags = FlagHasFileTimes; })}, true, 0},
        {"its source a later entry", {with(copy, [](EntryShape& s) { s.source = 1; }), source}, false, 0},
        {"itself as its source", {source, with(copy, [](EntryShape& s) { s.source = 1; })}, false, 1},
        {"an index past the table", {source, with(copy, [](EntryShape& s) { s.source = 0xFFFFFFFE; })}, false, 1},
        {"another size", {other, copy}, false, 1},
        {"another checksum", {with(source, [](EntryShape& s) { s.sum = 8; }), copy}, false, 1},
        {"a copy of a copy", {source, copy, with(copy, [](EntryShape& s) { s.source = 1; })}, false, 2},
        {"a copy of an external file", {with(external, [](EntryShape& s) { s.size = 5; s.sum = 7; }), copy}, false, 1},
        {"a copy of the uninstaller", {uninstaller, copy}, false, 1},
        {"a copy with a stream", {source, with(copy, [](EntryShape& s) { s.packed = 10; })}, false, 1},
        {"an external copy", {source, with(copy, [](EntryShape& s) { s.uninstallMode = UninstallExternal; })}, false, 1},
        {"an uninstaller copy", {source, with(copy, [](EntryShape& s) { s.flags = FlagUninstallerFile; })}, false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        std::vector<std::vector<uint8_t>> entries;
        for (const EntryShape& shape : c.entries)
            entries.push_back(entry(shape));
        std::vector<uint8_t> table = Table(entries);
        uint32_t bad = 99;
        EXPECT_EQ(CheckFileTable(table.data(), static_cast<uint32_t>(table.size()), &bad), c.ok);
        if (!c.ok) {
            EXPECT_EQ(bad, c.bad);
        } else {
            // Without the flag (as an older stub reads it): no stream.
            const uint8_t* last = table.data() + 4;
            for (size_t i = 1; i < entries.size(); ++i)
                last = NextEntry(last);
            EXPECT_EQ(EntrySourceIndex(last), 0u);
            EXPECT_STREQ(EntryString(last, FileNameString), "name");
            table[last - table.data() + EntryFlags] &= ~FlagSameAsEntry;
            EXPECT_FALSE(CheckFileTable(table.data(), static_cast<uint32_t>(table.size()), &bad));
        }
    }
}

} // namespace
