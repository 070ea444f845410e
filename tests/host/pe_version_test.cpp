// Reading the version resource of a Windows program: the demo program as
// MinGW builds it, hand-made images with one fault each, and every
// truncation of a real file (each must give a result or a message, never
// a read outside the buffer).
#ifdef ZEVRIN_HAVE_AUTHORING

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "authoring/pe_version.h"
#include "package_writer_support.h"

using namespace zevrin;
using namespace writer_test;

namespace {

void Put16(Bytes& b, size_t at, uint16_t v)
{
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(Bytes& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void Align4(Bytes& b)
{
    while (b.size() % 4)
        b.push_back(0);
}

// One block of a version resource.
Bytes Block(const std::u16string& key, const Bytes& value, uint16_t type, const std::vector<Bytes>& children,
            uint16_t valueLength)
{
    Bytes b(6, 0);
    for (char16_t c : key)
        PutU16(b, static_cast<uint16_t>(c));
    PutU16(b, 0);
    Align4(b);
    b.insert(b.end(), value.begin(), value.end());
    Align4(b);
    for (const Bytes& child : children) {
        b.insert(b.end(), child.begin(), child.end());
        Align4(b);
    }
    Put16(b, 0, static_cast<uint16_t>(b.size()));
    Put16(b, 2, valueLength);
    Put16(b, 4, type);
    return b;
}

Bytes FixedInfo(uint32_t ms, uint32_t ls, uint32_t signature = 0xFEEF04BD)
{
    Bytes f(52, 0);
    Put32(f, 0, signature);
    Put32(f, 4, 0x10000);
    Put32(f, 8, ms);
    Put32(f, 12, ls);
    Put32(f, 16, ms);
    Put32(f, 20, ls);
    return f;
}

Bytes Translation(uint16_t language, uint16_t codePage)
{
    Bytes t(4, 0);
    Put16(t, 0, language);
    Put16(t, 2, codePage);
    return t;
}

Bytes VersionInfo(uint32_t ms, uint32_t ls, uint16_t language, bool withTranslation = true)
{
    std::vector<Bytes> children;
    if (withTranslation)
        children.push_back(Block(u"VarFileInfo", Bytes(), 1, {Block(u"Translation", Translation(language, 1252), 0, {}, 4)}, 0));
    return Block(u"VS_VERSION_INFO", FixedInfo(ms, ls), 0, children, 52);
}

struct Language {
    uint16_t id;
    Bytes data;
};

// .rsrc contents: type `type` -> name 1 -> the languages, then the data.
// `section` is the RVA the section is mapped at.
Bytes ResourceSection(uint32_t section, const std::vector<Language>& languages, uint32_t type = 16)
{
    Bytes r;
    auto directory = [&r](uint32_t id, uint32_t target) {
        size_t at = r.size();
        r.resize(at + 16 + 8, 0);
        Put16(r, at + 14, 1); // one ID entry
        Put32(r, at + 16, id);
        Put32(r, at + 20, target);
    };
    directory(type, 0x80000000u | 24);
    directory(1, 0x80000000u | 48);
    size_t languageDir = r.size();
    r.resize(languageDir + 16 + 8 * languages.size(), 0);
    Put16(r, languageDir + 14, static_cast<uint16_t>(languages.size()));
    std::vector<size_t> entries;
    for (size_t i = 0; i < languages.size(); ++i) {
        Put32(r, languageDir + 16 + 8 * i, languages[i].id);
        Put32(r, languageDir + 20 + 8 * i, static_cast<uint32_t>(r.size())); // data entry
        entries.push_back(r.size());
        r.resize(r.size() + 16, 0);
    }
    for (size_t i = 0; i < languages.size(); ++i) {
        Align4(r);
        Put32(r, entries[i], section + static_cast<uint32_t>(r.size()));
        Put32(r, entries[i] + 4, static_cast<uint32_t>(languages[i].data.size()));
        r.insert(r.end(), languages[i].data.begin(), languages[i].data.end());
    }
    return r;
}

const uint32_t SectionRva = 0x1000;
const uint32_t SectionFileOffset = 0x200;

// A PE image whose only section holds `rsrc`; `plus` makes it PE32+.
struct PeShape {
    bool plus = false;
    uint32_t directories = 16;
    uint32_t resourceRva = SectionRva;
    uint32_t resourceSize = 0; // 0: the section's size
    uint32_t rawSize = 0;      // 0: all of it
};

Bytes Pe(const Bytes& rsrc, const PeShape& shape = PeShape())
{
    uint16_t optionalSize = shape.plus ? 240 : 224;
    Bytes b(SectionFileOffset, 0);
    b[0] = 'M';
    b[1] = 'Z';
    Put32(b, 0x3C, 0x40);
    b[0x40] = 'P';
    b[0x41] = 'E';
    Put16(b, 0x44, shape.plus ? 0x8664 : 0x14C);
    Put16(b, 0x46, 1);
    Put16(b, 0x54, optionalSize);
    size_t optional = 0x58;
    Put16(b, optional, shape.plus ? 0x20B : 0x10B);
    Put32(b, optional + 60, SectionFileOffset); // SizeOfHeaders
    size_t count = optional + (shape.plus ? 108 : 92);
    Put32(b, count, shape.directories);
    Put32(b, count + 4 + 16, shape.resourceRva);
    Put32(b, count + 4 + 20, shape.resourceSize ? shape.resourceSize : static_cast<uint32_t>(rsrc.size()));
    size_t section = optional + optionalSize;
    std::memcpy(&b[section], ".rsrc", 5);
    Put32(b, section + 8, static_cast<uint32_t>(rsrc.size()));
    Put32(b, section + 12, SectionRva);
    Put32(b, section + 16, shape.rawSize ? shape.rawSize : static_cast<uint32_t>(rsrc.size()));
    Put32(b, section + 20, SectionFileOffset);
    b.insert(b.end(), rsrc.begin(), rsrc.end());
    return b;
}

class PeVersionTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        hello_ = new TempDir();
        helloPath_ = BuildHello(*hello_);
    }
    static void TearDownTestSuite()
    {
        delete hello_;
        hello_ = nullptr;
    }
    static TempDir* hello_;
    static std::string helloPath_;
};
TempDir* PeVersionTest::hello_ = nullptr;
std::string PeVersionTest::helloPath_;

TEST_F(PeVersionTest, ReadsTheDemoProgramBuiltByMinGW)
{
    if (helloPath_.empty())
        GTEST_SKIP() << "MinGW (i686-w64-mingw32-gcc, -windres) is not installed";
    Bytes exe = ReadBytes(helloPath_);
    PeVersion version;
    std::string error;
    ASSERT_TRUE(ReadPeVersion(exe.data(), exe.size(), &version, &error)) << error;
    EXPECT_EQ(VersionText(version.fileVersionMS, version.fileVersionLS), "1.2.0.7");
    EXPECT_TRUE(version.hasTranslation);
    EXPECT_EQ(version.language, 0x0409);
    EXPECT_EQ(version.codePage, 1252);
}

// Every prefix of a real program either still holds the whole resource or
// is refused with a message; nothing is read past the end (the sanitizer
// builds catch that).
TEST_F(PeVersionTest, EveryTruncationOfARealProgramIsSafe)
{
    if (helloPath_.empty())
        GTEST_SKIP() << "MinGW (i686-w64-mingw32-gcc, -windres) is not installed";
    Bytes exe = ReadBytes(helloPath_);
    size_t firstGood = exe.size() + 1;
    for (size_t n = 0; n <= exe.size(); ++n) {
        Bytes cut(exe.begin(), exe.begin() + n);
        cut.shrink_to_fit();
        PeVersion version;
        std::string error;
        if (ReadPeVersion(cut.data(), cut.size(), &version, &error)) {
            EXPECT_EQ(version.fileVersionMS, 0x00010002u);
            if (firstGood > n)
                firstGood = n;
        } else {
            EXPECT_FALSE(error.empty());
            EXPECT_GT(firstGood, n) << "a longer prefix failed after a shorter one worked: " << error;
        }
    }
    EXPECT_LE(firstGood, exe.size());
}

TEST_F(PeVersionTest, RandomDamageNeverReadsOutside)
{
    if (helloPath_.empty())
        GTEST_SKIP() << "MinGW (i686-w64-mingw32-gcc, -windres) is not installed";
    Bytes exe = ReadBytes(helloPath_);
    std::mt19937 random(5);
    for (int round = 0; round < 20000; ++round) {
        Bytes damaged = exe;
        for (int k = 0; k < 4; ++k)
            damaged[random() % damaged.size()] = static_cast<uint8_t>(random());
        PeVersion version;
        std::string error;
        if (!ReadPeVersion(damaged.data(), damaged.size(), &version, &error)) {
            EXPECT_FALSE(error.empty());
        }
    }
}

TEST(PeVersion, HandMadeImages)
{
    const Bytes good = VersionInfo(0x00030004, 0x00050006, 0x0407);
    Bytes zeroLength = good;
    Put16(zeroLength, 0, 0);
    Bytes longer = good;
    Put16(longer, 0, static_cast<uint16_t>(good.size() + 40));
    Bytes badChild = Block(u"VS_VERSION_INFO", FixedInfo(1, 2), 0, {Bytes(8, 0)}, 52); // a child of length 0
    Bytes shortTranslation = Block(
        u"VS_VERSION_INFO", FixedInfo(1, 2), 0,
        {Block(u"VarFileInfo", Bytes(), 1, {Block(u"Translation", Bytes{9, 4}, 0, {}, 2)}, 0)}, 52);
    Bytes cyclic = ResourceSection(SectionRva, {{0x0409, good}});
    Put32(cyclic, 20, 0x80000000u); // the type entry leads back to the root

    struct Case {
        const char* name;
        Bytes image;
        bool ok;
        const char* result; // version text, or part of the message
        int language;       // -1: no translation expected
    } cases[] = {
        {"plain", Pe(ResourceSection(SectionRva, {{0x0407, good}})), true, "3.4.5.6", 0x0407},
        {"PE32+", Pe(ResourceSection(SectionRva, {{0x0407, good}}), [] { PeShape s; s.plus = true; return s; }()),
         true, "3.4.5.6", 0x0407},
        {"U.S. English before the first",
         Pe(ResourceSection(SectionRva, {{0x0407, VersionInfo(1, 1, 0x0407)}, {0x0409, VersionInfo(2, 2, 0x0409)}})),
         true, "0.2.0.2", 0x0409},
        {"neutral before all",
         Pe(ResourceSection(SectionRva, {{0x0409, VersionInfo(1, 1, 0x0409)}, {0, VersionInfo(3, 3, 0x0C0A)}})), true,
         "0.3.0.3", 0x0C0A},
        {"no translation", Pe(ResourceSection(SectionRva, {{0x0409, VersionInfo(1, 2, 0, false)}})), true, "0.1.0.2",
         -1},
        {"translation too short", Pe(ResourceSection(SectionRva, {{0x0409, shortTranslation}})), true, "0.1.0.2", -1},
        {"child of length 0", Pe(ResourceSection(SectionRva, {{0x0409, badChild}})), true, "0.1.0.2", -1},
        {"not MZ", Bytes(600, 0), false, "no MZ header", -1},
        {"MZ only", Bytes{'M', 'Z'}, false, "no MZ header", -1},
        {"PE offset past the end", [] { Bytes b(100, 0); b[0] = 'M'; b[1] = 'Z'; Put32(b, 0x3C, 0xFFFFFFF0); return b; }(),
         false, "no PE header", -1},
        {"no resource directory", Pe(ResourceSection(SectionRva, {{0x0409, good}}), [] { PeShape s; s.directories = 2; return s; }()),
         false, "no resources", -1},
        {"resources outside every section",
         Pe(ResourceSection(SectionRva, {{0x0409, good}}), [] { PeShape s; s.resourceRva = 0x9000; return s; }()),
         false, "outside the file", -1},
        {"section cut short",
         Pe(ResourceSection(SectionRva, {{0x0409, good}}), [] { PeShape s; s.rawSize = 30; return s; }()), false,
         "damaged resource directory", -1},
        {"icons only", Pe(ResourceSection(SectionRva, {{0x0409, good}}, 3)), false, "no version resource", -1},
        {"cyclic directory", Pe(cyclic), false, "damaged resource directory", -1},
        {"version block of length 0", Pe(ResourceSection(SectionRva, {{0x0409, zeroLength}})), false,
         "damaged version resource", -1},
        {"version block longer than its data", Pe(ResourceSection(SectionRva, {{0x0409, longer}})), false,
         "damaged version resource", -1},
        {"wrong signature",
         Pe(ResourceSection(SectionRva, {{0x0409, Block(u"VS_VERSION_INFO", FixedInfo(1, 2, 0x12345678), 0, {}, 52)}})),
         false, "no fixed version information", -1},
        {"other key", Pe(ResourceSection(SectionRva, {{0x0409, Block(u"VS_VERSION_INFX", FixedInfo(1, 2), 0, {}, 52)}})),
         false, "damaged version resource", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes image = c.image;
        image.shrink_to_fit();
        PeVersion version;
        std::string error;
        ASSERT_EQ(ReadPeVersion(image.data(), image.size(), &version, &error), c.ok) << error;
        if (c.ok) {
            EXPECT_EQ(VersionText(version.fileVersionMS, version.fileVersionLS), c.result);
            EXPECT_EQ(version.hasTranslation, c.language >= 0);
            if (c.language >= 0) {
                EXPECT_EQ(version.language, c.language);
            }
        } else {
            EXPECT_NE(error.find(c.result), std::string::npos) << error;
        }
    }
}

} // namespace

#endif // ZEVRIN_HAVE_AUTHORING
