// The template blob: the .res reader on good and damaged files, the
// dialog-template walker, packing (offsets, padding, missing and doubled
// dialogs, the 16 KB block), running the resource compiler, and the
// default templates' controls and layout as the stub's pages need them.
#ifdef ZEVRIN_HAVE_AUTHORING

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "authoring/templates.h"
#include "authoring/templates/controls.h"
#include "stub/startup/templates.h"
#include "test_support.h"

namespace {

typedef std::vector<uint8_t> Bytes;

void AppendU16(Bytes& out, uint16_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void AppendText(Bytes& out, const std::u16string& text)
{
    for (char16_t c : text)
        AppendU16(out, c);
    AppendU16(out, 0);
}

void AppendName(Bytes& out, const ResName& name)
{
    if (name.isId) {
        AppendU16(out, 0xFFFF);
        AppendU16(out, name.id);
    } else {
        AppendText(out, name.text);
    }
}

void PadTo4(Bytes& out)
{
    while (out.size() % 4)
        out.push_back(0);
}

ResName Id(uint16_t id)
{
    ResName name;
    name.id = id;
    return name;
}

ResName Named(const std::u16string& text)
{
    ResName name;
    name.isId = false;
    name.text = text;
    return name;
}

// One .res record; `pad` false leaves off the padding after the data.
Bytes ResRecord(const ResName& type, const ResName& name, uint16_t language, const Bytes& data,
                bool pad = true)
{
    Bytes head;
    AppendU32(head, static_cast<uint32_t>(data.size()));
    AppendU32(head, 0);  // header size, patched below
    AppendName(head, type);
    AppendName(head, name);
    PadTo4(head);
    AppendU32(head, 0);         // data version
    AppendU16(head, 0x1030);    // memory flags
    AppendU16(head, language);
    AppendU32(head, 0);         // version
    AppendU32(head, 0);         // characteristics
    uint32_t headerSize = static_cast<uint32_t>(head.size());
    for (int i = 0; i < 4; ++i)
        head[4 + i] = static_cast<uint8_t>(headerSize >> (8 * i));
    head.insert(head.end(), data.begin(), data.end());
    if (pad)
        PadTo4(head);
    return head;
}

Bytes ResFile(const std::vector<Bytes>& records)
{
    Bytes out = ResRecord(Id(0), Id(0), 0, Bytes());
    for (const Bytes& record : records)
        out.insert(out.end(), record.begin(), record.end());
    return out;
}

struct Item {
    uint16_t id;
    uint16_t windowClass;  // ordinal
    uint32_t style;
    int16_t x, y, cx, cy;
    std::u16string title;
    Bytes extra;
};

// A classic DLGTEMPLATE with DS_SETFONT ("MS Shell Dlg", 8pt).
Bytes Dialog(uint32_t style, int16_t cx, int16_t cy, const std::u16string& title,
             const std::vector<Item>& items)
{
    Bytes out;
    AppendU32(out, style | 0x40);
    AppendU32(out, 0);
    AppendU16(out, static_cast<uint16_t>(items.size()));
    for (int16_t v : {int16_t(0), int16_t(0), cx, cy})
        AppendU16(out, static_cast<uint16_t>(v));
    AppendU16(out, 0);  // no menu
    AppendU16(out, 0);  // default class
    AppendText(out, title);
    AppendU16(out, 8);
    AppendText(out, u"MS Shell Dlg");
    for (const Item& item : items) {
        PadTo4(out);
        AppendU32(out, item.style);
        AppendU32(out, 0);
        for (int16_t v : {item.x, item.y, item.cx, item.cy})
            AppendU16(out, static_cast<uint16_t>(v));
        AppendU16(out, item.id);
        AppendU16(out, 0xFFFF);
        AppendU16(out, item.windowClass);
        AppendText(out, item.title);
        AppendU16(out, static_cast<uint16_t>(item.extra.size()));
        out.insert(out.end(), item.extra.begin(), item.extra.end());
    }
    return out;
}

// The smallest dialog whose template takes exactly `size` bytes (an even
// number of at least 24): no font, no controls, a title of filler.
Bytes DialogOfSize(size_t size)
{
    Bytes out;
    AppendU32(out, 0x40000000);  // WS_CHILD, no DS_SETFONT
    AppendU32(out, 0);
    AppendU16(out, 0);
    for (int i = 0; i < 4; ++i)
        AppendU16(out, 10);
    AppendU16(out, 0);
    AppendU16(out, 0);
    AppendText(out, std::u16string((size - 24) / 2, u'x'));
    return out;
}

Bytes DialogRecord(int n, const Bytes& dialog, uint16_t language = 0x409)
{
    return ResRecord(Id(ResourceTypeDialog), Id(static_cast<uint16_t>(TemplateResourceBase + n)),
                     language, dialog);
}

// Eight small dialogs of different (odd-padded) sizes.
std::vector<Bytes> EightDialogs()
{
    std::vector<Bytes> dialogs;
    for (int n = 0; n < TemplateCount; ++n)
        dialogs.push_back(Dialog(0x50000000, 100, 50, std::u16string(n, u'T'),
                                 {{static_cast<uint16_t>(1000 + n), 0x82, 0x50000000, 1, 2, 3, 4,
                                   u"text", {}}}));
    return dialogs;
}

std::vector<ResResource> Parsed(const Bytes& file)
{
    std::vector<ResResource> resources;
    std::string error;
    EXPECT_TRUE(ParseResFile(file, &resources, &error)) << error;
    return resources;
}

uint32_t U32At(const Bytes& bytes, size_t offset)
{
    return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 |
           static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

// --- .res reader -------------------------------------------------------------

TEST(ResFile, ReadsOrdinalAndStringNamesWithTheirData)
{
    Bytes file = ResFile({ResRecord(Id(5), Id(102), 0x409, {1, 2, 3}),
                          ResRecord(Named(u"CUSTOM"), Named(u"Nam"), 0x407, {9, 8, 7, 6, 5})});
    std::vector<ResResource> resources = Parsed(file);
    ASSERT_EQ(resources.size(), 2u);  // the empty opening entry is dropped
    EXPECT_TRUE(resources[0].type.isId);
    EXPECT_EQ(resources[0].type.id, 5);
    EXPECT_EQ(resources[0].name.id, 102);
    EXPECT_EQ(resources[0].language, 0x409);
    EXPECT_EQ(resources[0].memoryFlags, 0x1030);
    EXPECT_EQ(resources[0].data, (Bytes{1, 2, 3}));
    EXPECT_FALSE(resources[1].type.isId);
    EXPECT_EQ(resources[1].type.text, u"CUSTOM");
    EXPECT_EQ(resources[1].name.text, u"Nam");  // 30 bytes of header before the padding
    EXPECT_EQ(resources[1].language, 0x407);
    EXPECT_EQ(resources[1].data, (Bytes{9, 8, 7, 6, 5}));
}

TEST(ResFile, AcceptsALastRecordWithoutPadding)
{
    Bytes file = ResFile({ResRecord(Id(5), Id(100), 0, {1, 2, 3}, false)});
    std::vector<ResResource> resources = Parsed(file);
    ASSERT_EQ(resources.size(), 1u);
    EXPECT_EQ(resources[0].data, (Bytes{1, 2, 3}));
}

TEST(ResFile, RejectsDamagedFilesWithAReason)
{
    const Bytes good = ResFile({ResRecord(Id(5), Id(100), 0, {1, 2, 3, 4})});
    const size_t second = 32;  // the record after the opening entry
    auto withU32 = [&](size_t offset, uint32_t value) {
        Bytes bytes = good;
        for (int i = 0; i < 4; ++i)
            bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
        return bytes;
    };
    Bytes unterminated = ResFile({});
    AppendU32(unterminated, 0);
    AppendU32(unterminated, 16);
    for (int i = 0; i < 4; ++i)
        AppendU16(unterminated, u'A');  // a type name with no end inside the header

    Bytes sixteenBit = {0xFF, 5, 0, 0xFF, 100, 0, 0x30, 0x10, 4, 0, 0, 0, 1, 2, 3, 4};
    Bytes stray = good;
    stray.insert(stray.end(), {0, 0, 0, 0, 0});

    const struct {
        const char* name;
        Bytes bytes;
        const char* reason;
    } cases[] = {
        {"empty", {}, "empty file"},
        {"16-bit res", sixteenBit, "not a 32-bit .res"},
        {"first entry not empty", ResRecord(Id(5), Id(100), 0, {1, 2, 3, 4}), "not a 32-bit .res"},
        {"header size below 8", withU32(second + 4, 4), "too small"},
        {"header size too small for its fields", withU32(second + 4, 20), "too small"},
        {"header size past the end", withU32(second + 4, 1000), "header size 1000 runs past"},
        {"data size past the end", withU32(second, 100), "data size 100 runs past"},
        {"data size near 4 GiB", withU32(second, 0xFFFFFFF0u), "runs past"},
        {"unterminated name", unterminated, "runs past the header"},
        {"stray bytes", stray, "5 stray bytes"},
    };
    for (const auto& c : cases) {
        std::vector<ResResource> resources;
        std::string error;
        EXPECT_FALSE(ParseResFile(c.bytes, &resources, &error)) << c.name;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.name << ": " << error;
    }
}

// Every prefix and many random corruptions of a real-looking file: the
// reader stays inside the bytes and every resource it returns does too.
TEST(ResFile, SurvivesTruncationAndCorruption)
{
    std::vector<Bytes> records;
    for (const Bytes& dialog : EightDialogs())
        records.push_back(DialogRecord(static_cast<int>(records.size()), dialog));
    records.push_back(ResRecord(Named(u"XY"), Named(u"Z"), 0, {1}));
    const Bytes file = ResFile(records);

    for (size_t n = 0; n < file.size(); ++n) {
        Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(n));
        std::vector<ResResource> resources;
        std::string error;
        if (ParseResFile(cut, &resources, &error)) {
            size_t total = 0;
            for (const ResResource& r : resources)
                total += r.data.size();
            EXPECT_LE(total, n);
        } else {
            EXPECT_FALSE(error.empty());
        }
    }

    std::mt19937 random(1234);
    for (int round = 0; round < 3000; ++round) {
        Bytes bytes = file;
        int flips = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < flips; ++i)
            bytes[random() % bytes.size()] = static_cast<uint8_t>(random());
        std::vector<ResResource> resources;
        std::string error;
        if (ParseResFile(bytes, &resources, &error)) {
            for (const ResResource& r : resources)
                EXPECT_LE(r.data.size(), bytes.size());
        }
    }
}

// --- dialog templates ------------------------------------------------------

TEST(DialogTemplate, WalksAClassicTemplate)
{
    Bytes dialog = Dialog(0x50000004, 229, 178, u"Title",
                          {{1000, 0x82, 0x50000080, 1, 2, 30, 10, u"One", {}},
                           {1004, 0x81, 0x50810080, 5, 6, 70, 14, u"", {0xAA, 0xBB, 0xCC}},
                           {2, 0x80, 0x50010000, 9, 9, 50, 14, u"Cancel", {}}});
    DialogInfo info;
    std::string error;
    ASSERT_TRUE(ParseDialogTemplate(dialog.data(), dialog.size(), &info, &error)) << error;
    EXPECT_FALSE(info.extended);
    EXPECT_EQ(info.style, 0x50000044u);
    EXPECT_EQ(info.cx, 229);
    EXPECT_EQ(info.cy, 178);
    EXPECT_EQ(info.title, u"Title");
    EXPECT_EQ(info.pointSize, 8);
    EXPECT_EQ(info.font, u"MS Shell Dlg");
    ASSERT_EQ(info.items.size(), 3u);
    EXPECT_EQ(info.items[0].id, 1000u);
    EXPECT_EQ(info.items[0].windowClass.id, 0x82);
    EXPECT_EQ(info.items[0].title.text, u"One");
    EXPECT_EQ(info.items[1].id, 1004u);
    EXPECT_EQ(info.items[1].cx, 70);
    // The creation data of the second control is skipped, not read as the
    // third control.
    EXPECT_EQ(info.items[2].id, 2u);
    EXPECT_EQ(info.items[2].title.text, u"Cancel");
}

TEST(DialogTemplate, WalksAnExtendedTemplate)
{
    Bytes dialog;
    AppendU16(dialog, 1);
    AppendU16(dialog, 0xFFFF);
    AppendU32(dialog, 0);           // help id
    AppendU32(dialog, 0x10000);     // extended style
    AppendU32(dialog, 0x50000040);  // style with DS_SETFONT
    AppendU16(dialog, 1);
    for (int v : {0, 0, 200, 100})
        AppendU16(dialog, static_cast<uint16_t>(v));
    AppendU16(dialog, 0);
    AppendU16(dialog, 0);
    AppendText(dialog, u"Ex");
    AppendU16(dialog, 9);
    AppendU16(dialog, 400);
    dialog.push_back(0);
    dialog.push_back(1);
    AppendText(dialog, u"Tahoma");
    PadTo4(dialog);
    AppendU32(dialog, 0);  // help id
    AppendU32(dialog, 0);
    AppendU32(dialog, 0x50010000);
    for (int v : {7, 8, 50, 14})
        AppendU16(dialog, static_cast<uint16_t>(v));
    AppendU32(dialog, 70000);  // a 32-bit id
    AppendText(dialog, u"Button");
    AppendText(dialog, u"OK");
    AppendU16(dialog, 0);

    DialogInfo info;
    std::string error;
    ASSERT_TRUE(ParseDialogTemplate(dialog.data(), dialog.size(), &info, &error)) << error;
    EXPECT_TRUE(info.extended);
    EXPECT_EQ(info.style, 0x50000040u);
    EXPECT_EQ(info.exStyle, 0x10000u);
    EXPECT_EQ(info.font, u"Tahoma");
    ASSERT_EQ(info.items.size(), 1u);
    EXPECT_EQ(info.items[0].id, 70000u);
    EXPECT_FALSE(info.items[0].windowClass.isId);
    EXPECT_EQ(info.items[0].windowClass.text, u"Button");
    EXPECT_EQ(info.items[0].x, 7);
}

TEST(DialogTemplate, RejectsEveryTruncation)
{
    Bytes dialog = Dialog(0x50000000, 100, 50, u"T",
                          {{1000, 0x82, 0, 0, 0, 1, 1, u"a", {}},
                           {1001, 0x82, 0, 0, 0, 1, 1, u"b", {1, 2}}});
    DialogInfo info;
    std::string error;
    ASSERT_TRUE(ParseDialogTemplate(dialog.data(), dialog.size(), &info, &error));
    for (size_t n = 0; n < dialog.size(); ++n) {
        Bytes cut(dialog.begin(), dialog.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_FALSE(ParseDialogTemplate(cut.data(), cut.size(), &info, &error)) << n;
    }
}

// --- packing -----------------------------------------------------------------

TEST(TemplateBlob, PacksTheEightDialogsInOrderOnFourByteBoundaries)
{
    std::vector<Bytes> dialogs = EightDialogs();
    // Out of order, with resources that must be left alone around them.
    std::vector<Bytes> records = {
        ResRecord(Id(ResourceTypeDialog), Id(99), 0, DialogOfSize(30)),
        ResRecord(Id(ResourceTypeDialog), Id(108), 0, DialogOfSize(30)),
        ResRecord(Id(ResourceTypeDialog), Named(u"DIALOG100"), 0, DialogOfSize(30)),
        ResRecord(Id(6), Id(100), 0, {1, 2, 3}),  // a string table with a clashing id
    };
    for (int n : {5, 0, 7, 1, 6, 2, 4, 3})
        records.push_back(DialogRecord(n, dialogs[n]));
    std::vector<ResResource> resources = Parsed(ResFile(records));

    Bytes blob;
    std::string error;
    ASSERT_TRUE(PackTemplateBlob(resources, "t.rc", &blob, &error)) << error;
    EXPECT_EQ(U32At(blob, 0), 32u);
    size_t expectedEnd = 32;
    for (int n = 0; n < TemplateCount; ++n) {
        uint32_t offset = U32At(blob, 4 * n);
        EXPECT_EQ(offset, expectedEnd) << n;
        EXPECT_EQ(offset % 4, 0u) << n;
        ASSERT_LE(offset + dialogs[n].size(), blob.size());
        EXPECT_TRUE(std::equal(dialogs[n].begin(), dialogs[n].end(), blob.begin() + offset)) << n;
        size_t padded = (dialogs[n].size() + 3) / 4 * 4;
        ASSERT_LE(offset + padded, blob.size()) << n;
        for (size_t i = dialogs[n].size(); i < padded; ++i)
            EXPECT_EQ(blob[offset + i], 0) << n;
        expectedEnd = offset + padded;

        const uint8_t* data;
        size_t size;
        ASSERT_TRUE(TemplateFromBlob(blob, n, &data, &size));
        EXPECT_EQ(data, blob.data() + offset);
        EXPECT_EQ(size, padded);
    }
    EXPECT_EQ(blob.size(), expectedEnd);
}

TEST(TemplateBlob, NamesTheMissingTemplate)
{
    for (int missing = 0; missing < TemplateCount; ++missing) {
        std::vector<Bytes> records;
        std::vector<Bytes> dialogs = EightDialogs();
        for (int n = 0; n < TemplateCount; ++n)
            if (n != missing)
                records.push_back(DialogRecord(n, dialogs[n]));
        Bytes blob = {7};
        std::string error;
        EXPECT_FALSE(PackTemplateBlob(Parsed(ResFile(records)), "default.rc", &blob, &error));
        EXPECT_EQ(error, "default.rc: no dialog for template " + std::to_string(missing) +
                             " (resource id " + std::to_string(100 + missing) + ")");
        EXPECT_EQ(blob, Bytes{7});  // untouched on failure
    }
}

TEST(TemplateBlob, RefusesDoubledAndMalformedDialogs)
{
    std::vector<Bytes> dialogs = EightDialogs();
    std::vector<Bytes> doubled, malformed;
    for (int n = 0; n < TemplateCount; ++n) {
        doubled.push_back(DialogRecord(n, dialogs[n]));
        Bytes dialog = dialogs[n];
        if (n == 2)
            dialog.resize(dialog.size() - 6);  // cuts into its only control
        malformed.push_back(DialogRecord(n, dialog));
    }
    doubled.push_back(DialogRecord(3, dialogs[3], 0x407));

    const struct {
        const char* name;
        std::vector<Bytes> records;
        const char* message;
    } cases[] = {
        {"doubled", doubled,
         "x.rc: two dialogs for template 3 (resource id 103) (languages 0x409 and 0x407)"},
        {"malformed", malformed,
         "x.rc: template 2 (resource id 102) is not a valid dialog template: control 1 of 1 "
         "runs past the end of the template"},
    };
    for (const auto& c : cases) {
        Bytes blob;
        std::string error;
        EXPECT_FALSE(PackTemplateBlob(Parsed(ResFile(c.records)), "x.rc", &blob, &error)) << c.name;
        EXPECT_EQ(error.rfind(c.message, 0), 0u) << c.name << ": " << error;
    }
}

// Template 0 comes first, so its tail is the whole blob after the offset
// table: it may be 16384 bytes and no more.
TEST(TemplateBlob, KeepsEveryTemplateTailInsideTheLoadBlock)
{
    const size_t small = 24;
    for (size_t last : {TemplateBlockSize - 7 * small, TemplateBlockSize - 7 * small + 4}) {
        std::vector<Bytes> records;
        for (int n = 0; n < TemplateCount; ++n)
            records.push_back(DialogRecord(n, DialogOfSize(n == 7 ? last : small)));
        Bytes blob;
        std::string error;
        bool fits = last + 7 * small <= TemplateBlockSize;
        ASSERT_EQ(PackTemplateBlob(Parsed(ResFile(records)), "big.rc", &blob, &error), fits)
            << error;
        if (fits) {
            EXPECT_EQ(blob.size() - U32At(blob, 0), TemplateBlockSize);
        } else {
            EXPECT_EQ(error, "big.rc: the templates are too large: template 0 (resource id 100) "
                             "and everything after it take 16388 bytes, but the installer loads "
                             "a template into 16384 bytes");
        }
    }
}

TEST(TemplateBlob, TemplateFromBlobRejectsADamagedOffsetTable)
{
    Bytes blob(40, 0);
    for (int n = 0; n < TemplateCount; ++n)
        blob[4 * n] = 32;
    const uint8_t* data;
    size_t size;
    EXPECT_TRUE(TemplateFromBlob(blob, 0, &data, &size));
    EXPECT_FALSE(TemplateFromBlob(blob, 8, &data, &size));
    EXPECT_FALSE(TemplateFromBlob(blob, -1, &data, &size));
    blob[4 * 3] = 200;  // past the end
    EXPECT_FALSE(TemplateFromBlob(blob, 3, &data, &size));
    blob[4 * 3] = 4;    // inside the offset table
    EXPECT_FALSE(TemplateFromBlob(blob, 3, &data, &size));
    EXPECT_FALSE(TemplateFromBlob(Bytes(31, 0), 0, &data, &size));
}

// --- running the resource compiler -----------------------------------------

// Sets an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name)
    {
        const char* old = std::getenv(name);
        had_ = old != nullptr;
        if (had_)
            old_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv()
    {
        if (had_)
            ::setenv(name_, old_.c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    bool had_;
    std::string old_;
};

void WriteScript(const std::string& path, const std::string& text)
{
    WriteBytes(path, Bytes(text.begin(), text.end()));
    ::chmod(path.c_str(), 0755);
}

TEST(BuildTemplateBlob, ReportsTheCompilerAndItsOutput)
{
    TempDir dir;
    std::string rc = dir.File("in.rc");
    WriteBytes(rc, Bytes{'/', '/', '\n'});
    // Stand-ins for windres: one that fails, one that writes no .res.
    std::string failing = dir.File("failing-windres");
    WriteScript(failing, "#!/bin/sh\necho \"in.rc:3: syntax error\" >&2\nexit 3\n");
    std::string garbage = dir.File("garbage-windres");
    WriteScript(garbage,
                "#!/bin/sh\nwhile [ \"$1\" != -o ]; do shift; done\necho nonsense > \"$2\"\n");

    const struct {
        const char* name;
        std::string windres;
        std::string rc;
        std::vector<std::string> expected;
    } cases[] = {
        {"missing tool", dir.File("no-such-windres"), rc,
         {rc + ": cannot run " + dir.File("no-such-windres"), "ZEVRIN_WINDRES"}},
        {"failing tool", failing, rc,
         {rc + ": " + failing + " failed (exit status 3):\nin.rc:3: syntax error"}},
        {"garbage output", garbage, rc, {rc + ": compiled resources unreadable: "}},
        {"missing script", failing, dir.File("absent.rc"), {"cannot open " + dir.File("absent.rc")}},
    };
    for (const auto& c : cases) {
        ScopedEnv env("ZEVRIN_WINDRES", c.windres);
        Bytes blob;
        std::string error;
        EXPECT_FALSE(BuildTemplateBlob(c.rc, &blob, &error)) << c.name;
        for (const std::string& part : c.expected)
            EXPECT_NE(error.find(part), std::string::npos) << c.name << ": " << error;
    }
}

TEST(BuildTemplateBlob, ReadsACompiledResFileDirectly)
{
    TempDir dir;
    std::vector<Bytes> records;
    std::vector<Bytes> dialogs = EightDialogs();
    for (int n = 0; n < TemplateCount; ++n)
        records.push_back(DialogRecord(n, dialogs[n]));
    Bytes file = ResFile(records);
    WriteBytes(dir.File("set.RES"), file);

    ScopedEnv env("ZEVRIN_WINDRES", dir.File("must-not-run"));
    Bytes fromFile, direct;
    std::string error;
    ASSERT_TRUE(BuildTemplateBlob(dir.File("set.RES"), &fromFile, &error)) << error;
    ASSERT_TRUE(PackTemplateBlob(Parsed(file), "set.RES", &direct, &error)) << error;
    EXPECT_EQ(fromFile, direct);
}

// --- the default templates ----------------------------------------------------

const uint32_t WsChild = 0x40000000, WsVisible = 0x10000000, WsPopup = 0x80000000,
               WsCaption = 0x00C00000, DsSetFont = 0x40, DsControl = 0x400;
const uint16_t ButtonClass = 0x80, EditClass = 0x81, StaticClass = 0x82, ListBoxClass = 0x83,
               ComboBoxClass = 0x85;

const std::string DefaultRc = std::string(ZEVRIN_SOURCE_DIR) + "/authoring/templates/default.rc";

class DefaultTemplates : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        built_ = BuildTemplateBlob(DefaultRc, &blob_, &error_);
        if (built_) {
            for (int n = 0; n < TemplateCount; ++n) {
                const uint8_t* data;
                size_t size;
                std::string why;
                if (!TemplateFromBlob(blob_, n, &data, &size) ||
                    !ParseDialogTemplate(data, size, &dialogs_[n], &why))
                    built_ = false, error_ = "template " + std::to_string(n) + ": " + why;
            }
        }
    }
    void SetUp() override
    {
        if (!built_ && error_.find("cannot run") != std::string::npos)
            GTEST_SKIP() << "no resource compiler: " << error_;
        ASSERT_TRUE(built_) << error_;
    }

    static const DialogItem* Find(int n, uint32_t id)
    {
        for (const DialogItem& item : dialogs_[n].items)
            if (item.id == id)
                return &item;
        return nullptr;
    }
    // Class by ordinal; windres writes CONTROL classes as names.
    static bool IsClass(const DialogItem& item, uint16_t ordinal)
    {
        static const std::map<uint16_t, std::u16string> names = {
            {ButtonClass, u"BUTTON"}, {EditClass, u"EDIT"}, {StaticClass, u"STATIC"},
            {ListBoxClass, u"LISTBOX"}, {ComboBoxClass, u"COMBOBOX"}};
        if (item.windowClass.isId)
            return item.windowClass.id == ordinal;
        std::u16string upper = item.windowClass.text;
        for (char16_t& c : upper)
            if (c >= u'a' && c <= u'z')
                c = static_cast<char16_t>(c - u'a' + u'A');
        return names.at(ordinal) == upper;
    }

    static bool built_;
    static std::string error_;
    static Bytes blob_;
    static DialogInfo dialogs_[TemplateCount];
};
bool DefaultTemplates::built_;
std::string DefaultTemplates::error_;
Bytes DefaultTemplates::blob_;
DialogInfo DefaultTemplates::dialogs_[TemplateCount];

TEST_F(DefaultTemplates, FitTheLoadBlock)
{
    EXPECT_LE(blob_.size() - U32At(blob_, 0), TemplateBlockSize);
}

// The installer refuses a package whose templates it cannot walk: the
// default set must pass its check in every mode.
TEST_F(DefaultTemplates, PassTheInstallersCheck)
{
    for (bool fullScreen : {false, true}) {
        for (uint16_t page : {0, 1, 2, 3, 4, 5, 6, 0xFFFF}) {
            zevrin::TemplateFault bad;
            EXPECT_TRUE(zevrin::CheckTemplateBlob(blob_.data(), static_cast<uint32_t>(blob_.size()), fullScreen,
                                                  page, &bad))
                << "template " << bad.number << ", full screen " << fullScreen << ", start page " << page << ": "
                << TemplateFaultText(blob_, bad);
        }
    }
}

// What `zevrin build` uses when the publisher brings no templates: found
// beside the tool or in the configured template directory.
TEST_F(DefaultTemplates, AreFoundByTheTool)
{
    std::string path = DefaultTemplatePath();
    if (path.empty())
        GTEST_SKIP() << "no default templates beside the test program and no ZEVRIN_TEMPLATE_DIR";
    std::string error;
    Bytes blob = DefaultTemplateBlob(&error);
    ASSERT_FALSE(blob.empty()) << error;
    EXPECT_EQ(blob, blob_) << path;
}

TEST_F(DefaultTemplates, HaveEveryControlThePagesUse)
{
    enum Shown { Visible, Hidden, Either };
    struct Need {
        int templateNumber;
        uint32_t id;
        uint16_t windowClass;
        Shown shown;
    };
    const Need needs[] = {
        {TEMPLATE_FRAME_WINDOWED, IDC_NEXT, ButtonClass, Visible},
        {TEMPLATE_FRAME_WINDOWED, IDC_CANCEL, ButtonClass, Visible},
        {TEMPLATE_FRAME_WINDOWED, IDC_BACK, ButtonClass, Visible},
        {TEMPLATE_FRAME_WINDOWED, IDC_PAGE_PLACEHOLDER, StaticClass, Hidden},
        {TEMPLATE_FRAME_WINDOWED, IDC_PICTURE, StaticClass, Hidden},
        {TEMPLATE_FRAME_WINDOWED, IDC_PANEL, StaticClass, Hidden},
        {TEMPLATE_FRAME_FULL, IDC_NEXT, ButtonClass, Visible},
        {TEMPLATE_FRAME_FULL, IDC_CANCEL, ButtonClass, Visible},
        {TEMPLATE_FRAME_FULL, IDC_BACK, ButtonClass, Visible},
        {TEMPLATE_FRAME_FULL, IDC_PAGE_PLACEHOLDER, StaticClass, Hidden},
        {TEMPLATE_FRAME_FULL, IDC_PICTURE, StaticClass, Hidden},
        {TEMPLATE_FRAME_FULL, IDC_PANEL, StaticClass, Hidden},
        {TEMPLATE_DIRECTORY, IDC_FOLDER_EDIT, EditClass, Visible},
        {TEMPLATE_DIRECTORY, IDC_BROWSE, ButtonClass, Visible},
        {TEMPLATE_DIRECTORY, IDC_SPACE_REQUIRED, StaticClass, Visible},
        {TEMPLATE_DIRECTORY, IDC_SPACE_REQUIRED_LABEL, StaticClass, Visible},
        {TEMPLATE_DIRECTORY, IDC_SPACE_FREE_LABEL, StaticClass, Visible},
        {TEMPLATE_DIRECTORY, IDC_SPACE_FREE, StaticClass, Visible},
        {TEMPLATE_INFORMATION, IDC_TEXT1, EditClass, Visible},
        {TEMPLATE_PROGRESS, IDC_PROGRESS_PATH, StaticClass, Visible},
        {TEMPLATE_PROGRESS, IDC_PROGRESS_BAR, StaticClass, Hidden},
        {TEMPLATE_PROGRESS, IDC_PROGRESS_PERCENT, StaticClass, Visible},
        {TEMPLATE_FINISH, IDC_VIEW_BUTTON, ButtonClass, Either},
        {TEMPLATE_FINISH, IDC_LAUNCH_CHECK, ButtonClass, Either},
        {TEMPLATE_FOLDER_BROWSER, IDC_BROWSE_FOLDER, EditClass, Visible},
        {TEMPLATE_FOLDER_BROWSER, IDC_BROWSE_FOLDER_LABEL, StaticClass, Visible},
        {TEMPLATE_FOLDER_BROWSER, IDC_FD_DRIVES_LABEL, StaticClass, Visible},
        {TEMPLATE_FOLDER_BROWSER, IDC_FD_DIR_LIST, ListBoxClass, Visible},
        {TEMPLATE_FOLDER_BROWSER, IDC_FD_DRIVE_COMBO, ComboBoxClass, Visible},
        {TEMPLATE_FOLDER_BROWSER, IDC_FD_OK, ButtonClass, Visible},
        {TEMPLATE_FOLDER_BROWSER, IDC_FD_CANCEL, ButtonClass, Visible},
        {TEMPLATE_FOLDER_BROWSER, IDC_FD_NAME_EDIT, EditClass, Hidden},
        {TEMPLATE_FOLDER_BROWSER, IDC_FD_FILE_LIST, ListBoxClass, Hidden},
        {TEMPLATE_FOLDER_BROWSER, IDC_FD_TYPE_COMBO, ComboBoxClass, Hidden},
        {TEMPLATE_FOLDER_BROWSER, IDC_FD_DIR_TEXT, StaticClass, Hidden},
        {TEMPLATE_FOLDER_BROWSER, IDC_FD_NAME_LABEL, StaticClass, Hidden},
        {TEMPLATE_FOLDER_BROWSER, IDC_FD_TYPE_LABEL, StaticClass, Hidden},
        {TEMPLATE_FOLDER_BROWSER, IDC_FD_HELP, ButtonClass, Hidden},
        {TEMPLATE_FOLDER_BROWSER, IDC_FD_READONLY, ButtonClass, Hidden},
    };
    for (const Need& need : needs) {
        const DialogItem* item = Find(need.templateNumber, need.id);
        ASSERT_NE(item, nullptr) << "template " << need.templateNumber << ", control " << need.id;
        EXPECT_TRUE(IsClass(*item, need.windowClass))
            << "template " << need.templateNumber << ", control " << need.id;
        bool visible = (item->style & WsVisible) != 0;
        if (need.shown != Either) {
            EXPECT_EQ(visible, need.shown == Visible)
                << "template " << need.templateNumber << ", control " << need.id;
        }
    }
    // Texts 1000..1003 on every page; statics except the information text.
    for (int n = TEMPLATE_DIRECTORY; n <= TEMPLATE_FINISH; ++n) {
        for (uint32_t id = IDC_TEXT1; id <= IDC_TEXT4; ++id) {
            const DialogItem* item = Find(n, id);
            ASSERT_NE(item, nullptr) << "template " << n << ", control " << id;
            EXPECT_TRUE(item->style & WsVisible) << "template " << n << ", control " << id;
            if (!(n == TEMPLATE_INFORMATION && id == IDC_TEXT1)) {
                EXPECT_TRUE(IsClass(*item, StaticClass)) << "template " << n << ", control " << id;
            }
        }
    }
}

TEST_F(DefaultTemplates, PagesAreVisibleControlChildrenOfThePlaceholdersSize)
{
    for (int frame : {TEMPLATE_FRAME_WINDOWED, TEMPLATE_FRAME_FULL}) {
        const DialogInfo& f = dialogs_[frame];
        EXPECT_EQ(f.style & (WsChild | WsVisible), WsChild | WsVisible) << frame;
        EXPECT_EQ((f.style & WsCaption) == WsCaption, frame == TEMPLATE_FRAME_FULL) << frame;
        const DialogItem* placeholder = Find(frame, IDC_PAGE_PLACEHOLDER);
        ASSERT_NE(placeholder, nullptr);
        for (int n = TEMPLATE_DIRECTORY; n <= TEMPLATE_FINISH; ++n) {
            const DialogInfo& page = dialogs_[n];
            EXPECT_EQ(page.style & (WsChild | WsVisible | DsControl | DsSetFont),
                      WsChild | WsVisible | DsControl | DsSetFont)
                << n;
            // Same font, so dialog units mean the same pixels.
            EXPECT_EQ(page.font, f.font) << n;
            EXPECT_EQ(page.pointSize, f.pointSize) << n;
            EXPECT_EQ(page.cx, placeholder->cx) << "page " << n << " in frame " << frame;
            EXPECT_EQ(page.cy, placeholder->cy) << "page " << n << " in frame " << frame;
        }
    }
    EXPECT_TRUE(dialogs_[TEMPLATE_FOLDER_BROWSER].style & WsPopup);
}

TEST_F(DefaultTemplates, ControlsStayInsideTheirDialogAndClearOfEachOther)
{
    for (int n = 0; n < TemplateCount; ++n) {
        const DialogInfo& d = dialogs_[n];
        for (const DialogItem& item : d.items) {
            EXPECT_GE(item.x, 0) << n << "/" << item.id;
            EXPECT_GE(item.y, 0) << n << "/" << item.id;
            EXPECT_LE(item.x + item.cx, d.cx) << n << "/" << item.id;
            // A drop-down list's height includes its list.
            if (!IsClass(item, ComboBoxClass)) {
                EXPECT_LE(item.y + item.cy, d.cy) << n << "/" << item.id;
            }
        }
        // Visible controls with an id must not cover one another.
        for (size_t i = 0; i < d.items.size(); ++i)
            for (size_t j = i + 1; j < d.items.size(); ++j) {
                const DialogItem& a = d.items[i];
                const DialogItem& b = d.items[j];
                if (!(a.style & WsVisible) || !(b.style & WsVisible) || a.id == 0xFFFF ||
                    b.id == 0xFFFF)
                    continue;
                bool apart = a.x + a.cx <= b.x || b.x + b.cx <= a.x || a.y + a.cy <= b.y ||
                             b.y + b.cy <= a.y;
                EXPECT_TRUE(apart) << "template " << n << ": " << a.id << " and " << b.id;
            }
    }
    // In the frame the page area, the picture and the buttons are apart.
    for (int frame : {TEMPLATE_FRAME_WINDOWED, TEMPLATE_FRAME_FULL}) {
        const uint32_t ids[] = {IDC_PAGE_PLACEHOLDER, IDC_PICTURE, IDC_BACK, IDC_NEXT, IDC_CANCEL};
        for (uint32_t a : ids)
            for (uint32_t b : ids) {
                if (a >= b)
                    continue;
                const DialogItem* p = Find(frame, a);
                const DialogItem* q = Find(frame, b);
                bool apart = p->x + p->cx <= q->x || q->x + q->cx <= p->x ||
                             p->y + p->cy <= q->y || q->y + q->cy <= p->y;
                EXPECT_TRUE(apart) << "frame " << frame << ": " << a << " and " << b;
            }
    }
}

// The finish page hides 1001 and 1002 and stretches 1000 down to 1002's
// bottom, and moves 1015 up to 1014 with 1001 as its text: that needs
// this order from top to bottom.
TEST_F(DefaultTemplates, FinishPageStacksItsControlsInTheOrderItsLayoutAssumes)
{
    const uint32_t order[] = {IDC_TEXT1, IDC_TEXT2, IDC_VIEW_BUTTON, IDC_TEXT3, IDC_LAUNCH_CHECK,
                              IDC_TEXT4};
    for (size_t i = 0; i + 1 < sizeof order / sizeof order[0]; ++i) {
        const DialogItem* upper = Find(TEMPLATE_FINISH, order[i]);
        const DialogItem* lower = Find(TEMPLATE_FINISH, order[i + 1]);
        ASSERT_TRUE(upper && lower);
        EXPECT_LE(upper->y + upper->cy, lower->y) << order[i] << " above " << order[i + 1];
    }
    EXPECT_EQ(Find(TEMPLATE_FINISH, IDC_LAUNCH_CHECK)->style & 0xF, 3u);  // BS_AUTOCHECKBOX
}

} // namespace

#endif
