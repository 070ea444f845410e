// What SETUP.EXE and the packed uninstaller say about themselves once
// `zevrin build` has made them from the real programs: the execution level
// in their manifest, the version resource, the icon, a PE checksum that
// a sum written here agrees with; and what makes a program unusable.
//
// The real stub and uninstaller come from the MinGW builds in build/mingw
// or build/mingw64; without them those cases are skipped.
#if defined(ZEVRIN_HAVE_AUTHORING) && defined(ZEVRIN_TEST_HOST)

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "authoring/pe_resources.h"
#include "authoring/pe_version.h"
#include "cli_support.h"
#include "package_writer_support.h"
#include "stub/engine/uninstall_log.h"

using namespace zevrin;
using namespace writer_test;

namespace {

std::string BuiltProgram(const std::string& name)
{
    for (const char* build : {"build/mingw", "build/mingw64"}) {
        std::string path = SourceDir() + "/" + build + "/" + name;
        struct stat info;
        if (::stat(path.c_str(), &info) == 0)
            return path;
    }
    return std::string();
}

uint16_t Get16(const Bytes& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }

// The sum as Windows' CheckSumMappedFile makes it: word by word, the
// carry folded back each time, the field itself left out, plus the length.
uint32_t ReferenceChecksum(const Bytes& file, size_t field)
{
    uint32_t sum = 0;
    for (size_t i = 0; i < file.size(); i += 2) {
        if (i >= field && i < field + 4)
            continue;
        uint32_t word = file[i] | (i + 1 < file.size() ? file[i + 1] << 8 : 0);
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return sum + static_cast<uint32_t>(file.size());
}

size_t ChecksumField(const Bytes& file)
{
    PeLayout layout;
    std::string error;
    EXPECT_TRUE(ReadPeLayout(file.data(), file.size(), &layout, &error)) << error;
    return layout.checksumField;
}

std::vector<PeResource> Resources(const Bytes& file)
{
    std::vector<PeResource> all;
    std::string error;
    EXPECT_TRUE(ReadPeResources(file.data(), file.size(), &all, &error)) << error;
    return all;
}

const PeResource* Find(const std::vector<PeResource>& all, uint16_t type, uint16_t id)
{
    for (const PeResource& r : all)
        if (!r.type.named && r.type.id == type && !r.name.named && r.name.id == id)
            return &r;
    return nullptr;
}

std::string Level(const std::vector<PeResource>& all)
{
    const PeResource* manifest = Find(all, 24, 1);
    if (!manifest)
        return "(no manifest 1)";
    std::string xml(manifest->data.begin(), manifest->data.end());
    size_t at = xml.find("level=\"", xml.find("requestedExecutionLevel"));
    return at == std::string::npos ? "(no level)" : xml.substr(at + 7, xml.find('"', at + 7) - at - 7);
}

// The images of icon group 800, in its order.
std::vector<Bytes> IconImages(const std::vector<PeResource>& all)
{
    std::vector<Bytes> images;
    const PeResource* group = Find(all, 14, ProgramIconId);
    if (!group)
        return images;
    for (size_t i = 0; i < Get16(group->data, 4); ++i) {
        const PeResource* image = Find(all, 3, Get16(group->data, 6 + 14 * i + 12));
        images.push_back(image ? image->data : Bytes());
    }
    return images;
}

// A .ico of two images with made-up contents (the tool copies them as
// they are).
Bytes IconFile(std::vector<Bytes>* images)
{
    *images = {Bytes(296, 0x11), Bytes(1000, 0x22)};
    (*images)[1][0] = 0x89; // a PNG image would start so
    Bytes ico = {0, 0, 1, 0, 2, 0};
    uint32_t offset = 6 + 16 * 2;
    const uint8_t sizes[2] = {16, 0};
    for (size_t i = 0; i < 2; ++i) {
        Bytes entry = {sizes[i], sizes[i], 0, 0, 1, 0, 32, 0};
        AppendU32(entry, static_cast<uint32_t>((*images)[i].size()));
        AppendU32(entry, offset);
        ico.insert(ico.end(), entry.begin(), entry.end());
        offset += static_cast<uint32_t>((*images)[i].size());
    }
    for (const Bytes& image : *images)
        ico.insert(ico.end(), image.begin(), image.end());
    return ico;
}

class ProgramLookTest : public PackageFixture {
protected:
    void SetUp() override
    {
        if (Binary().empty())
            GTEST_SKIP() << "ZEVRIN_BINARY is not set";
        stub = BuiltProgram("zevrin_stub.exe");
        uninstaller = BuiltProgram("zevrin_uninstaller.exe");
        if (stub.empty() || uninstaller.empty())
            GTEST_SKIP() << "no MinGW build of the stub and the uninstaller";
        PackageFixture::SetUp();
    }
    std::string stub, uninstaller;
};

TEST_F(ProgramLookTest, SetupAndUninstallerSayWhatTheManifestSays)
{
    std::vector<Bytes> images;
    Put("app.ico", IconFile(&images));
    Put("a.txt", std::string("payload\n"));
    struct Case {
        const char* name;
        std::string product; // lines of [product] after its name
        const char* level;
        // Version strings of SETUP.EXE; "" = absent. The uninstaller's
        // differ in its description and file name only.
        std::map<std::u16string, std::u16string> strings;
        uint32_t versionMS, versionLS;
        bool icon;
    } cases[] = {
        {"machine-wide, name only", "", "requireAdministrator",
         {{u"ProductName", u"Zevrin Test"}, {u"FileDescription", u"Zevrin Test Setup"}, {u"CompanyName", u""},
          {u"LegalCopyright", u""}, {u"ProductVersion", u""}, {u"FileVersion", u""}},
         0, 0, false},
        {"per user, everything",
         "privileges = \"user\"\nversion = \"3.1.4\"\npublisher = \"Zevrin Ltd\"\n"
         "copyright = \"\\u00a9 2025 Zevrin\"\ndescription = \"Installs Zevrin Test\"\nicon = \"app.ico\"\n",
         "asInvoker",
         {{u"ProductName", u"Zevrin Test"}, {u"FileDescription", u"Installs Zevrin Test"},
          {u"CompanyName", u"Zevrin Ltd"}, {u"LegalCopyright", u"\u00a9 2025 Zevrin"},
          {u"ProductVersion", u"3.1.4"}, {u"FileVersion", u"3.1.4"}},
         0x00030001, 0x00040000, true},
    };
    const Bytes plainStub = ReadBytes(stub);
    const std::vector<PeResource> stubResources = Resources(plainStub);
    const std::vector<Bytes> stubIcon = IconImages(stubResources);
    ASSERT_FALSE(stubIcon.empty());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Put("m.toml", "[product]\nname = \"Zevrin Test\"\n" + c.product +
                          "[wizard]\ntemplates = \"dialogs.res\"\n[uninstaller]\nname = \"remove.exe\"\n"
                          "[[files]]\nsource = \"a.txt\"\n");
        Outcome o = RunShell(dir, "rm -rf out x && ZEVRIN build m.toml -q --stub '" + stub + "' --uninstaller '" +
                                      uninstaller + "' -o out/Product-Setup.exe && ZEVRIN verify out/Product-Setup.exe "
                                      "&& ZEVRIN extract out/Product-Setup.exe -d x");
        ASSERT_EQ(o.status, 0) << o.err;

        struct Program {
            const char* what;
            std::string path;
            std::u16string description, fileName;
        } programs[] = {
            {"SETUP.EXE", dir.File("out/Product-Setup.exe"), c.strings.at(u"FileDescription"), u"Product-Setup.exe"},
            {"uninstaller", dir.File("x/remove.exe"), u"Zevrin Test Uninstall", u"remove.exe"},
        };
        for (const Program& p : programs) {
            SCOPED_TRACE(p.what);
            Bytes file = ReadBytes(p.path);
            std::vector<PeResource> all = Resources(file);
            EXPECT_EQ(Level(all), c.level);

            PeVersion version;
            std::string error;
            ASSERT_TRUE(ReadPeVersion(file.data(), file.size(), &version, &error)) << error;
            EXPECT_EQ(version.fileVersionMS, c.versionMS);
            EXPECT_EQ(version.fileVersionLS, c.versionLS);
            EXPECT_EQ(version.productVersionMS, c.versionMS);
            EXPECT_EQ(version.language, 0x0409);
            EXPECT_EQ(version.codePage, 1200);
            std::map<std::u16string, std::u16string> expected = c.strings;
            expected[u"FileDescription"] = p.description;
            expected[u"OriginalFilename"] = p.fileName;
            for (const auto& s : expected) {
                auto found = version.strings.find(s.first);
                std::u16string value = found == version.strings.end() ? u"" : found->second;
                EXPECT_TRUE(value == s.second) << std::string(s.first.begin(), s.first.end());
            }

            EXPECT_EQ(IconImages(all), c.icon ? images : stubIcon);
            // Everything else the program carried is still there as it was.
            for (const PeResource& r : stubResources) {
                if (r.type.id == 3 || r.type.id == 14 || r.type.id == 16 || r.type.id == 24)
                    continue;
                const PeResource* now = Find(all, r.type.id, r.name.id);
                ASSERT_NE(now, nullptr) << "resource " << r.type.id << "/" << r.name.id;
                EXPECT_EQ(now->data, r.data);
            }

            size_t field = ChecksumField(file);
            EXPECT_EQ(GetU32(&file[field]), ReferenceChecksum(file, field));
        }

        Outcome listed = RunShell(dir, "ZEVRIN list out/Product-Setup.exe");
        EXPECT_NE(listed.out.find("Execution level:    " + std::string(c.level) + "\n"), std::string::npos)
            << listed.out;
        EXPECT_NE(listed.out.find("Version resource:   Zevrin Test"), std::string::npos) << listed.out;

        // The uninstaller's texts still follow its image, where it looks
        // for them.
        Bytes removal = ReadBytes(dir.File("x/remove.exe"));
        PeLayout layout;
        ASSERT_TRUE(ReadPeLayout(removal.data(), removal.size(), &layout, nullptr));
        ASSERT_LT(layout.imageEnd + 2, removal.size());
        EXPECT_EQ(Get16(removal, layout.imageEnd), LogTagTexts);
    }
}

// A multi-volume package: the sum covers SETUP.EXE as written, with the
// data it holds.
TEST_F(ProgramLookTest, ChecksumOfTheFirstOfSeveralVolumes)
{
    std::mt19937 random(3);
    Bytes noise(300000);
    for (uint8_t& b : noise)
        b = static_cast<uint8_t>(random());
    Put("big.bin", noise);
    Put("m.toml", Head() + "[[files]]\nsource = \"big.bin\"\n");
    Outcome o = RunShell(dir, "ZEVRIN build m.toml -q --level 0 --stub '" + stub + "' --volume-size 200K");
    ASSERT_EQ(o.status, 0) << o.err;
    Bytes setup = ReadBytes(dir.File("SETUP.EXE"));
    ASSERT_EQ(ReadBytes(dir.File("SETUP.D01")).size() > 0, true);
    size_t field = ChecksumField(setup);
    EXPECT_EQ(GetU32(&setup[field]), ReferenceChecksum(setup, field));
    EXPECT_EQ(Level(Resources(setup)), "requireAdministrator");
}

// What the tool cannot use: each refused with its reason, the program
// left as it was.
TEST_F(ProgramLookTest, ProgramsThatCannotTakeTheirLook)
{
    const Bytes plain = ReadBytes(stub);
    PeLayout layout;
    ASSERT_TRUE(ReadPeLayout(plain.data(), plain.size(), &layout, nullptr));
    auto directory = [&layout](Bytes& b, uint32_t d, uint32_t rva, uint32_t size) {
        for (int i = 0; i < 4; ++i) {
            b[layout.directories + 8 * d + i] = static_cast<uint8_t>(rva >> (8 * i));
            b[layout.directories + 8 * d + 4 + i] = static_cast<uint8_t>(size >> (8 * i));
        }
    };
    struct Case {
        const char* name;
        std::function<void(Bytes&)> damage;
        const char* message;
    } cases[] = {
        {"signed already", [&](Bytes& b) { directory(b, 4, static_cast<uint32_t>(b.size()), 0x600); },
         "it is signed"},
        // Without the relocation directory the section after the
        // resources is of unknown use, and cannot be moved.
        {"a section after the resources",
         [&](Bytes& b) { directory(b, 5, 0, 0); }, "its resource section is not the last one"},
        {"no resources", [&](Bytes& b) { directory(b, 2, 0, 0); }, "it has no application manifest"},
        {"no level in the manifest",
         [](Bytes& b) {
             std::string text(b.begin(), b.end());
             size_t at = text.find("requestedExecutionLevel");
             ASSERT_NE(at, std::string::npos);
             b[at + 9] = 'X';
         },
         "its application manifest has no requestedExecutionLevel"},
        {"no PE header", [](Bytes& b) { b[0x3C] ^= 0x40; }, "no PE header"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes image = plain;
        c.damage(image);
        const Bytes before = image;
        ProgramLook look;
        std::string error;
        EXPECT_FALSE(ApplyProgramLook(&image, look, &error));
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
        EXPECT_TRUE(image == before);
    }

    // A program whose one manifest went in under a name rather than
    // number 1 gets it renumbered, or Windows would not read it.
    std::vector<PeResource> renamed = Resources(plain);
    for (PeResource& r : renamed)
        if (r.type.id == 24) {
            r.name.named = true;
            r.name.text = u"CREATE_PROCESS_MANIFEST_RESOURCE_ID";
        }
    Bytes image = plain;
    std::string error;
    ASSERT_TRUE(ReplaceResourceSection(&image, renamed, &error)) << error;
    ASSERT_EQ(Find(Resources(image), 24, 1), nullptr);
    ProgramLook look;
    look.requireAdministrator = false;
    ASSERT_TRUE(ApplyProgramLook(&image, look, &error)) << error;
    EXPECT_EQ(Level(Resources(image)), "asInvoker");
}

// Icons the build refuses, with the manifest line, before anything is
// written (the stand-in stub does not matter here).
TEST_F(ProgramLookTest, IconsThatCannotBeUsed)
{
    std::vector<Bytes> images;
    const Bytes good = IconFile(&images);
    Bytes outside = good;
    outside[6 + 16 + 8] = 0xFF; // the second image's size
    Bytes marked = good;
    const uint8_t marker[6] = {0x77, 0x77, 0x67, 0x54, 0x29, 0x48};
    std::copy(marker, marker + 6, marked.begin() + 100);
    struct Case {
        const char* name;
        Bytes icon;
        const char* message;
    } cases[] = {
        {"a PNG file", Bytes{0x89, 'P', 'N', 'G', 13, 10, 26, 10}, "'app.ico' is not an icon file (.ico)"},
        {"directory cut short", Bytes(good.begin(), good.begin() + 20), "'app.ico' is cut short: its directory lists 2"},
        {"image past the end", outside, "'app.ico' is damaged: image 2 of 2 lies outside the file"},
        {"the stamp marker inside", marked, "'app.ico' holds the bytes 77 77 67 54 29 48"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Put("app.ico", c.icon);
        Put("m.toml", "[product]\nname = \"T\"\nicon = \"app.ico\"\n[wizard]\ntemplates = \"dialogs.res\"\n");
        for (const std::string& with : {std::string("stub.exe"), stub}) {
            Outcome o = RunShell(dir, "ZEVRIN build m.toml -q --stub '" + with + "' -o out.exe");
            EXPECT_EQ(o.status, 1);
            EXPECT_NE(o.err.find("m.toml:3: product.icon: " + std::string(c.message)), std::string::npos) << o.err;
            struct stat info;
            EXPECT_NE(::stat(dir.File("out.exe").c_str(), &info), 0);
        }
    }
}

// The sum in pieces of any size, odd ones included, equals the sum of the
// whole; the field counts as zero wherever it lies.
TEST(PeChecksum, PiecesOfAnySize)
{
    std::mt19937 random(11);
    const struct {
        size_t size;
        size_t field;
    } cases[] = {{0, 0}, {1, 0}, {7, 2}, {4097, 216}, {100001, 99998}, {65536 * 3, 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        Bytes file(c.size);
        for (uint8_t& b : file)
            b = static_cast<uint8_t>(random());
        uint32_t expected = ReferenceChecksum(file, c.field);
        for (int round = 0; round < 20; ++round) {
            PeChecksum sum(c.field);
            for (size_t at = 0; at < file.size();) {
                size_t n = std::min<size_t>(file.size() - at, random() % 700);
                sum.Add(file.data() + at, n);
                at += n;
            }
            ASSERT_EQ(sum.Finish(), expected);
        }
    }
}

} // namespace

#endif
