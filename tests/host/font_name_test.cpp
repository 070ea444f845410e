// Full font names read from crafted and real TrueType files: which record
// wins, the bounds on tables and records, and damaged files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../../stub/engine/font_name.h"
#include "font_builder.h"
#include "test_support.h"

namespace {

std::string ValueName(const std::vector<uint8_t>& bytes)
{
    TempDir dir;
    std::string path = dir.File("font.ttf");
    WriteBytes(path, bytes);
    char name[FontNameSize];
    std::memset(name, 'x', sizeof name);
    bool found = ReadFontValueName(path.c_str(), name);
    EXPECT_EQ(found, name[0] != '\0');
    return name;
}

struct NameCase {
    const char* why;
    std::vector<uint8_t> font;
    std::string expected; // the registry value name, or empty
};

void ExpectNames(const std::vector<NameCase>& cases)
{
    for (const NameCase& c : cases)
        EXPECT_EQ(ValueName(c.font), c.expected) << c.why;
}

std::vector<uint8_t> Cut(std::vector<uint8_t> bytes, size_t size)
{
    bytes.resize(size);
    return bytes;
}

TEST(FontNameTest, WhichNameIsRead)
{
    FontShape fortyBefore;
    fortyBefore.tablesBefore = 40;
    FontShape thirtyNineBefore;
    thirtyNineBefore.tablesBefore = 39;
    FontShape fewerCounted;
    fewerCounted.tablesBefore = 2;
    fewerCounted.tableCount = 2;
    FontShape noNames;
    noNames.nameCount = 0;
    ExpectNames({
        {"one full name", Font({Full("Alpha")}), "Alpha (TrueType)"},
        {"a later full name replaces an earlier one", Font({Full("First"), Full("Second")}), "Second (TrueType)"},
        {"other platforms and names are not looked at",
         Font({{3, 4, "Windows"}, {1, 1, "Family"}, Full("Mac"), {1, 6, "PostScript"}}), "Mac (TrueType)"},
        {"no full name of platform 1", Font({{3, 4, "Windows"}, {1, 1, "Family"}}), ""},
        {"an empty later name empties it", Font({Full("First"), Full("")}), ""},
        {"\"name\" as the 40th table record", Font({Full("Forty")}, thirtyNineBefore), "Forty (TrueType)"},
        {"\"name\" after the 40th table record", Font({Full("Late")}, fortyBefore), ""},
        {"\"name\" beyond the counted tables", Font({Full("Uncounted")}, fewerCounted), ""},
        {"a name table with no records", Font({Full("Hidden")}, noNames), ""},
    });
}

// A damaged file gives a name only from records that lie wholly inside it.
TEST(FontNameTest, DamagedFiles)
{
    std::vector<uint8_t> good = Font({Full("Good")});
    FontShape tableOutside;
    tableOutside.tableShift = 100000;
    FontShape tableWraps;
    tableWraps.tableShift = 0xFFFFFF00u;
    FontShape stringsOutside;
    stringsOutside.stringsShift = 60000;
    FontShape moreCounted;
    moreCounted.nameCount = 5;
    ExpectNames({
        {"empty file", {}, ""},
        {"offset table cut short", Cut(good, 8), ""},
        {"table directory cut inside the record", Cut(good, 12 + 10), ""},
        {"name table cut inside its header", Cut(good, 12 + 16 + 3), ""},
        {"name record cut short", Cut(good, 12 + 16 + 6 + 5), ""},
        {"text cut short", Cut(good, good.size() - 1), ""},
        {"name table past the end", Font({Full("Far")}, tableOutside), ""},
        {"name table offset near 4 GB", Font({Full("Wrap")}, tableWraps), ""},
        {"string storage past the end", Font({Full("Far")}, stringsOutside), ""},
        {"record offset past the end keeps the earlier name",
         Font({Full("Kept"), {1, 4, "Lost", -1, 0xFFFF}}), "Kept (TrueType)"},
        {"record length past the end keeps the earlier name",
         Font({Full("Kept"), {1, 4, "Lost", 0xFFFF}}), "Kept (TrueType)"},
        {"more records counted than the file holds", Font({Full("Only")}, moreCounted), "Only (TrueType)"},
    });
}

// The name is cut, byte-wise, so that the suffix fits the 260-byte buffer.
TEST(FontNameTest, LongNamesAreCutToLeaveRoomForTheSuffix)
{
    for (size_t length : {size_t(247), size_t(248), size_t(249), size_t(259), size_t(300), size_t(0xFFFF)}) {
        std::string text(length, 'N');
        std::string name = ValueName(Font({Full(text)}));
        size_t kept = length < FontNameMaxLength ? length : FontNameMaxLength;
        EXPECT_EQ(name, std::string(kept, 'N') + " (TrueType)") << length;
        EXPECT_LT(name.size(), FontNameSize) << length;
    }
}

TEST(FontNameTest, MissingFileHasNoName)
{
    TempDir dir;
    char name[FontNameSize] = "stale";
    EXPECT_FALSE(ReadFontValueName(dir.File("absent.ttf").c_str(), name));
    EXPECT_STREQ(name, "");
}

#ifdef ZEVRIN_TEST_HOST
// Debian's fonts-dejavu-core (scripts/deps.sh).
TEST(FontNameTest, RealFont)
{
    const char* path = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
    if (ReadBytes(path).empty())
        GTEST_SKIP() << path << " missing (fonts-dejavu-core)";
    char name[FontNameSize];
    EXPECT_TRUE(ReadFontValueName(path, name));
    EXPECT_STREQ(name, "DejaVu Sans (TrueType)");
}
#endif

} // namespace
