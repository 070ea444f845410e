// Manifest loading: what a valid manifest turns into (defaults, numbered
// and named texts, file entries), and a table of bad manifests, each
// refused with the file, the line and the key at fault.
#ifdef ZEVRIN_HAVE_AUTHORING

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "authoring/manifest.h"
#include "test_support.h"

using namespace zevrin;

namespace {

struct BadCase {
    const char* name;
    std::string text;
    const char* expected; // after "<path>:"
};

class ManifestTest : public ::testing::Test {
protected:
    // Each manifest is refused with the message `expected` (its start).
    void ExpectRefused(const BadCase* cases, size_t count)
    {
        for (const BadCase* c = cases; c != cases + count; ++c) {
            SCOPED_TRACE(c->name);
            Manifest m;
            std::string error;
            EXPECT_FALSE(Parse(c->text, &m, &error));
            std::string expected = dir.File("m.toml") + ":" + c->expected;
            EXPECT_EQ(error.compare(0, expected.size(), expected), 0) << error << "\nexpected: " << expected;
        }
    }

    // Parses `text` as dir/m.toml.
    bool Parse(const std::string& text, Manifest* m, std::string* error,
               const std::vector<std::string>& search = {})
    {
        return ParseManifest(text, dir.File("m.toml"), m, error, search);
    }
    Manifest Good(const std::string& text)
    {
        Manifest m;
        std::string error;
        EXPECT_TRUE(Parse(text, &m, &error)) << error;
        return m;
    }
    std::string Put(const std::string& name, const std::string& content)
    {
        WriteBytes(dir.File(name), std::vector<uint8_t>(content.begin(), content.end()));
        return dir.File(name);
    }

    TempDir dir;
};

const char* const Minimal = "[product]\nname = \"Zevrin Demo\"\n";

TEST_F(ManifestTest, MinimalManifestGetsEveryDefault)
{
    Manifest m = Good(Minimal);
    EXPECT_EQ(m.productName, "Zevrin Demo");
    EXPECT_EQ(m.defaultFolder, "#Program Files#\\Zevrin Demo");
    EXPECT_EQ(m.headerFlags, 2u); // folder editable
    EXPECT_EQ(m.installOptions, 1u | 8u); // files in time slices, rolled back on cancel or failure
    EXPECT_FALSE(m.hasStartPage);
    EXPECT_FALSE(m.hasRegistry);
    EXPECT_FALSE(m.hasProfile);
    EXPECT_FALSE(m.hasBackgroundTitle); // windowed: nothing is drawn
    EXPECT_TRUE(m.files.empty());
    EXPECT_EQ(m.warnings, std::vector<std::string>{dir.File("m.toml") + ":1: files: no [[files]]: the package installs "
                                                                          "nothing"});
    ASSERT_EQ(m.groups.size(), 8u); // no group 8 unless asked for
    ASSERT_EQ(m.groups[6].size(), 32u);
    EXPECT_EQ(m.groups[6][0], "Zevrin Demo Setup");
    EXPECT_EQ(m.groups[6][8], "This program cannot install Zevrin Demo because of the following reason:");
    EXPECT_EQ(m.groups[6][14], "Install has not completed. Are you sure you want to exit?");
    EXPECT_EQ(m.groups[6][31], "This file contains invalid data.");
    EXPECT_FALSE(m.groups[6][13].empty()); // the cancel question needs words
    EXPECT_FALSE(m.groups[6][29].empty()); // empty would never overwrite a newer file
    EXPECT_EQ(m.groups[7], (std::vector<std::string>{"< &Back", "&Next >", "E&xit", "&Start", "OK", "&Cancel",
                                                     "&Restart"}));
    EXPECT_EQ(m.groups[1][1], ""); // no information page
    EXPECT_EQ(m.groups[3][2].find("%s") != std::string::npos, true);
    EXPECT_EQ(m.groups[2][7], "%d MB");
    EXPECT_EQ(m.groups[5][5], ""); // nothing to view
    EXPECT_EQ(m.groups[5][6], ""); // nothing to launch
    for (int g = 0; g < 6; ++g)
        EXPECT_FALSE(m.groups[g][0].empty()) << "heading of page " << g;
}

TEST_F(ManifestTest, TextsByNameByNumberAndFromFiles)
{
    Put("info.txt", "\xEF\xBB\xBF" "Caf\xC3\xA9\nline 2\r\nline 3");
    Put("latin.txt", "na\xEFve");
    Manifest m = Good(std::string(Minimal) + R"(
title = "Demo Installer"
[texts]
"6.31" = "Damaged."
7.2 = "Quit"
8.3 = "spare"
[texts.information]
text1 = { file = "info.txt" }
text2 = { file = "latin.txt", encoding = "windows-1252" }
[texts.messages]
insert_disk = "Disk %d, please."
[texts.buttons]
next = "Onward"
[texts.directory]
size_format = "%u KB"
)");
    EXPECT_EQ(m.groups[6][0], "Demo Installer");
    EXPECT_EQ(m.groups[6][31], "Damaged.");
    EXPECT_EQ(m.groups[6][28], "Disk %d, please.");
    EXPECT_EQ(m.groups[7][2], "Quit");
    EXPECT_EQ(m.groups[7][1], "Onward");
    EXPECT_EQ(m.groups[2][7], "%u KB");
    ASSERT_EQ(m.groups.size(), 9u);
    EXPECT_EQ(m.groups[8], (std::vector<std::string>{"", "", "", "spare"}));
    // The edit field of the information page breaks lines at CR LF only.
    EXPECT_EQ(m.groups[1][1], "Caf\xE9\r\nline 2\r\nline 3");
    EXPECT_EQ(m.groups[1][2], "na\xEFve");
}

TEST_F(ManifestTest, OptionsReachTheirFields)
{
    Manifest m = Good(std::string(Minimal) + R"(
uninstall_name = "Zevrin Demo 1"
rollback = false
[wizard]
start_page = "Progress"
templates = "dialogs/mine.rc"
pacing = "file"
[folder]
default = "#System#\\Zevrin"
editable = false
registry = { root = "HKEY_USERS", key = "S\\Z", record = true }
profile = { file = "z.ini", section = "S", key = "K" }
[background]
full_screen = true
[[files]]
source = "bin/tool.exe"
uninstaller = true
)");
    EXPECT_EQ(m.uninstallName, "Zevrin Demo 1");
    EXPECT_TRUE(m.hasStartPage);
    EXPECT_EQ(m.startPage, 4);
    EXPECT_EQ(m.installOptions, 0u); // one file a tick, no rollback: no record
    // Rollback alone still makes the record.
    EXPECT_EQ(Good(std::string(Minimal) + "[wizard]\npacing = \"file\"\n").installOptions, 8u);
    EXPECT_EQ(m.templates, dir.File("dialogs/mine.rc"));
    EXPECT_EQ(m.defaultFolder, "#System#\\Zevrin");
    EXPECT_EQ(m.headerFlags, 1u | 4u); // full screen, record in the registry; not editable, profile not recorded
    EXPECT_EQ(m.registryRoot, 3u);
    EXPECT_EQ(m.registryKey, "S\\Z");
    EXPECT_FALSE(m.hasRegistryValue);
    EXPECT_TRUE(m.hasProfile);
    EXPECT_TRUE(m.hasBackgroundTitle);
    EXPECT_EQ(m.backgroundTitle, "Zevrin Demo"); // full screen shows the product
    EXPECT_EQ(m.titleStyle[4], 0xFF);             // white text by default
    EXPECT_STREQ(reinterpret_cast<const char*>(m.titleStyle + 8 + 28), "Times New Roman");
}

TEST_F(ManifestTest, FileEntries)
{
    Manifest m = Good(std::string(Minimal) + R"(
[[files]]
source = "build/app.exe"
[[files]]
source = "docs/read me.txt"
name = "doc/readme.txt"
after = "view"
start_menu = { folders = ["Zevrin", "", "#start menu#"], name = "Read Me", args = "-a" }
[[files]]
name = "cd\\extra.cab"
external = true
[[files]]
source = "font.ttf"
location = "FONT"
shared_count = true
after = "launch"
)");
    ASSERT_EQ(m.files.size(), 4u);
    const ManifestFile& app = m.files[0];
    EXPECT_EQ(app.source, dir.File("build/app.exe"));
    EXPECT_EQ(app.name, "app.exe");
    EXPECT_EQ(app.location, LocationInstall);
    EXPECT_EQ(app.uninstallMode, UninstallRemove);
    EXPECT_TRUE(app.keepTimes);
    EXPECT_EQ(app.ref.Prefix(), dir.File("m.toml") + ":4: files[0]: ");

    const ManifestFile& readme = m.files[1];
    EXPECT_EQ(readme.name, "doc\\readme.txt");
    EXPECT_EQ(readme.afterAction, AfterView);
    EXPECT_EQ(readme.menuFolders, ";Zevrin;#start menu#"); // a final empty part would be dropped
    EXPECT_EQ(readme.menuName, "Read Me");
    EXPECT_EQ(readme.menuArgs, "-a");

    const ManifestFile& cab = m.files[2];
    EXPECT_EQ(cab.uninstallMode, UninstallExternal);
    EXPECT_TRUE(cab.source.empty());
    EXPECT_FALSE(cab.keepTimes);

    EXPECT_EQ(m.files[3].location, LocationFont);
    EXPECT_TRUE(m.files[3].sharedCount);

    // The finish page names what there is to view and launch.
    EXPECT_EQ(m.groups[5][5], "&View readme.txt");
    EXPECT_EQ(m.groups[5][6], "&Start Zevrin Demo now");
}

TEST_F(ManifestTest, SourcesAreLookedForBesideTheManifestThenInSearchFolders)
{
    TempDir other;
    WriteBytes(other.File("hello.exe"), {1});
    WriteBytes(other.File("both.txt"), {2});
    Put("both.txt", "here");
    Manifest m;
    std::string error;
    ASSERT_TRUE(Parse(std::string(Minimal) + "[[files]]\nsource = \"hello.exe\"\n[[files]]\nsource = \"both.txt\"\n"
                                             "[[files]]\nsource = \"nowhere.txt\"\n",
                      &m, &error, {other.Path()}))
        << error;
    EXPECT_EQ(m.files[0].source, other.File("hello.exe"));
    EXPECT_EQ(m.files[1].source, dir.File("both.txt"));
    EXPECT_EQ(m.files[2].source, dir.File("nowhere.txt")); // reported missing by the build
}

TEST_F(ManifestTest, PathsUpTo259CharactersFit)
{
    std::string name259(255, 'a');
    name259 += ".txt";
    std::string folder259 = "C:\\" + std::string(256, 'f');
    // TOML literal strings: no escapes.
    Manifest m = Good(std::string(Minimal) + "[folder]\ndefault = '" + folder259 + "'\n[[files]]\nsource = \"x\"\n"
                                                 "name = '" + name259 + "'\n");
    EXPECT_EQ(m.files[0].name.size(), 259u);
    EXPECT_EQ(m.defaultFolder.size(), 259u);
}

// The programs' version resource takes any Unicode text; the version
// goes into the fixed words as written, missing parts 0.
TEST_F(ManifestTest, WhatTheProgramsSayAboutThemselves)
{
    Manifest m = Good(std::string(Minimal) + "version = \"2.10.3\"\npublisher = \"\u5f20 Software\"\n"
                                             "copyright = \"\u00a9 2024 \U0001F600\"\nicon = \"art/app.ico\"\n");
    EXPECT_EQ(m.productVersion, "2.10.3");
    EXPECT_EQ(m.versionMS, 0x0002000Au);
    EXPECT_EQ(m.versionLS, 0x00030000u);
    EXPECT_EQ(m.publisher, u"\u5f20 Software");
    EXPECT_EQ(m.copyright, u"\u00a9 2024 \U0001F600"); // a surrogate pair
    EXPECT_EQ(m.description, u"");
    EXPECT_EQ(m.icon, dir.File("art/app.ico"));
    EXPECT_EQ(m.iconRef.line, 6u);
}

TEST_F(ManifestTest, BadManifestsNameFileLineAndKey)
{
    const std::string p = std::string(Minimal); // lines 1-2
    const std::string f = p + "[[files]]\nsource = \"a.txt\"\n"; // [[files]] on line 3
    const std::string long260(260, 'n');
    const BadCase cases[] = {
        {"TOML syntax", "[product\nname = \"x\"\n", "1: "},
        {"no product", "[folder]\neditable = true\n", "1: product: missing"},
        {"no product name", "[product]\ntitle = \"T\"\n", "1: product.name: missing"},
        {"name of the wrong type", "[product]\nname = 5\n", "2: product.name: expected a string, found an integer"},
        {"misspelt key", p + "titel = \"T\"\n", "3: product.titel: unknown key"},
        {"unknown table", p + "[fles]\nsource = \"a\"\n", "3: fles: unknown key"},
        {"empty title", p + "title = \"\"\n", "3: product.title: is empty"},
        {"version with a letter", p + "version = \"1.2b\"\n",
         "3: product.version: expected one to four numbers from 0 to 65535 separated by dots"},
        {"version of five parts", p + "version = \"1.2.3.4.5\"\n", "3: product.version: expected one to four"},
        {"version part over 65535", p + "version = \"1.65536\"\n", "3: product.version: expected one to four"},
        {"empty version part", p + "version = \"1..2\"\n", "3: product.version: expected one to four"},
        {"publisher with a control character", p + "publisher = \"a\\u0007\"\n",
         "3: product.publisher: has the control character U+0007"},
        {"copyright too long", p + "copyright = \"" + std::string(1025, 'c') + "\"\n",
         "3: product.copyright: is 1025 characters long; at most 1024 fit"},
        {"icon of another kind", p + "icon = \"app.png\"\n", "3: product.icon: expected an icon file (.ico)"},
        {"uninstall name with a backslash", p + "uninstall_name = \"a\\\\b\"\n", "3: product.uninstall_name: must be"},
        {"start page", p + "[wizard]\nstart_page = \"setup\"\n",
         "4: wizard.start_page: expected one of welcome, information, directory, ready, progress or finish"},
        {"pacing", p + "[wizard]\npacing = \"fast\"\n", "4: wizard.pacing: expected one of time or file"},
        {"templates of another kind", p + "[wizard]\ntemplates = \"t.txt\"\n", "4: wizard.templates: expected a resource"},
        {"folder too long", p + "[folder]\ndefault = \"C:\\\\" + long260 + "\"\n",
         "4: folder.default: is 263 characters long; at most 259 fit"},
        {"unknown macro", p + "[folder]\ndefault = \"#Temp#\\\\x\"\n", "4: folder.default: uses the unknown folder macro #Temp#"},
        {"macro not closed", p + "[folder]\ndefault = \"#System\\\\x\"\n", "4: folder.default: starts with '#' but has no closing"},
        {"registry root", p + "[folder.registry]\nroot = \"HKXX\"\nkey = \"S\"\n",
         "4: folder.registry.root: expected one of HKCR, HKCU, HKLM or HKU"},
        {"registry without key", p + "[folder.registry]\nvalue = \"V\"\n", "3: folder.registry.key: missing"},
        {"profile without section", p + "[folder.profile]\nfile = \"a.ini\"\nkey = \"K\"\n",
         "3: folder.profile.section: missing"},
        {"bad colour", p + "[background]\ntext_color = \"red\"\n", "4: background.text_color: expected a colour as \"#RRGGBB\""},
        {"long face name", p + "[background]\nfont = { face = \"" + std::string(32, 'F') + "\" }\n",
         "4: background.font.face: is 32 characters long; at most 31 fit"},
        {"font size", p + "[background.font]\nsize = 0\n", "4: background.font.size: expected an integer from 1 to 1000"},
        {"text with a NUL", p + "[texts.welcome]\nheading = \"a\\u0000b\"\n", "4: texts.welcome.heading: has a NUL character"},
        {"text outside Windows-1252", p + "[texts.welcome]\nheading = \"\xE2\x86\x92 go\"\n",
         "4: texts.welcome.heading: has the character U+2192"},
        {"unknown page text", p + "[texts.welcome]\ntxt1 = \"x\"\n", "4: texts.welcome.txt1: unknown key"},
        {"wrong placeholder", p + "[texts.messages]\ninsert_disk = \"Disk %s\"\n",
         "4: texts.messages.insert_disk: '%s' is not a placeholder here; it takes one %d (the disk number)"},
        {"two placeholders", p + "[texts.ready]\ntext2 = \"%s and %s\"\n",
         "4: texts.ready.text2: has 2 placeholders; it takes one %s (the install folder)"},
        {"bare percent in a format", p + "[texts]\n\"2.7\" = \"100% of %d\"\n", "4: texts.2.7: '% ' is not a placeholder"},
        {"text set twice", p + "title = \"T\"\n[texts]\n\"6.0\" = \"U\"\n",
         "5: texts.6.0: sets text 6.0 again (already set by product.title on line 3)"},
        {"group 9", p + "[texts]\n\"9.0\" = \"x\"\n", "4: texts.9.0: there are text groups 0 to 8 only"},
        {"index 256", p + "[texts]\n6.256 = \"x\"\n", "4: texts.6.256: text numbers go up to 255"},
        {"text number of the wrong type", p + "[texts]\n6.20 = 5\n", "4: texts.6.20: expected a string or { file"},
        {"text file missing", p + "[texts.information]\ntext1 = { file = \"nope.txt\" }\n",
         "4: texts.information.text1.file: cannot read"},
        {"files not tables", "files = \"a\"\n" + p, "1: files: expected [[files]] tables, found a string"},
        {"file without source", p + "[[files]]\nname = \"a\"\n", "3: files[0].source: missing"},
        {"external without a name", p + "[[files]]\nexternal = true\n", "3: files[0].name: missing"},
        {"bad location", f + "location = \"desk\"\n",
         "5: files[0].location: expected one of install, windows, shared or font, found \"desk\""},
        {"name too long", f + "name = \"" + long260 + "\"\n", "5: files[0].name: is 260 characters long; at most 259 fit"},
        {"name outside Latin-1", f + "name = \"\xD1\x84.txt\"\n", "5: files[0].name: has the character U+0444"},
        {"name leaving its folder", f + "name = \"..\\\\a.txt\"\n", "5: files[0].name: may not use '.' or '..'"},
        {"name with a colon", f + "name = \"C:\\\\a.txt\"\n", "5: files[0].name: has the character ':'"},
        {"device name", f + "name = \"sub\\\\con.txt\"\n", "5: files[0].name: uses the device name 'con.txt'"},
        {"name ending in a dot", f + "name = \"a.\"\n", "5: files[0].name: has a name ending"},
        {"empty folder in a name", f + "name = \"a\\\\\\\\b\"\n", "5: files[0].name: has an empty folder name"},
        {"shared count in the install folder", f + "shared_count = true\n", "5: files[0].shared_count: only counts"},
        {"shared file with sub-folders", f + "location = \"shared\"\nname = \"x\\\\a.dll\"\n",
         "6: files[0].name: a shared system file or font"},
        {"external with a location", p + "[[files]]\nname = \"a\"\nexternal = true\nlocation = \"windows\"\n",
         "6: files[0].location: does not apply to an external file"},
        {"external with a version check", p + "[[files]]\nname = \"a\"\nexternal = true\ncheck_version = true\n",
         "6: files[0].check_version: does not apply"},
        {"external uninstall mode", p + "[[files]]\nname = \"a\"\nexternal = true\nuninstall = \"leave\"\n",
         "6: files[0].uninstall: does not apply"},
        {"version without check", f + "version = \"1.0.0.0\"\n", "5: files[0].version: is only used with check_version"},
        {"three-part version", f + "check_version = true\nversion = \"1.2.3\"\n", "6: files[0].version: expected four numbers"},
        {"version part too big", f + "check_version = true\nversion = \"1.2.3.70000\"\n",
         "6: files[0].version: expected four numbers"},
        {"language without check", f + "language = 0x0409\n", "5: files[0].language: is only used with check_language"},
        {"icon without a shortcut", f + "icon_index = 1\n", "5: files[0].icon_index: is only used with a start_menu"},
        {"icon index too big", f + "icon_index = 70000\nstart_menu = { name = \"A\" }\n",
         "5: files[0].icon_index: expected an integer from 0 to 65535, found 70000"},
        {"shortcut without a name", f + "start_menu = { folders = [\"A\"] }\n", "5: files[0].start_menu.name: missing"},
        {"unknown menu macro", f + "start_menu = { folders = [\"#Desktop#\"], name = \"A\" }\n",
         "5: files[0].start_menu.folders: \"#Desktop#\" is not #Start Menu# or #Startup#"},
        {"semicolon in a folder", f + "start_menu = { folders = \"A;B\", name = \"A\" }\n",
         "5: files[0].start_menu.folders: may not contain ';'"},
        {"desktop name with a folder", f + "desktop = { name = \"A\\\\B\" }\n", "5: files[0].desktop.name: may not contain"},
        {"unknown file key", f + "destination = \"x\"\n", "5: files[0].destination: unknown key"},
        {"two uninstallers", f + "uninstaller = true\n[[files]]\nsource = \"b\"\nuninstaller = true\n",
         "6: files[1].uninstaller: a package has one uninstaller; files[0] is already it"},
        {"two launches", f + "after = \"launch\"\n[[files]]\nsource = \"b\"\nafter = \"launch\"\n",
         "6: files[1].after: only one file can be launched"},
        {"same destination twice", f + "[[files]]\nsource = \"sub/A.TXT\"\n",
         "5: files[1].name: 'A.TXT' (from '"}, // in full: EveryErrorThatStandsAloneIsReported
    };
    ExpectRefused(cases, sizeof cases / sizeof *cases);
}

// A per-user package: its own defaults, and a refusal, at the line that
// asks for it, of everything its installation could only do with
// administrator rights or outside the user's own part of the machine.
TEST_F(ManifestTest, PerUserPackages)
{
    const std::string u = std::string(Minimal) + "privileges = \"user\"\n"; // lines 1-3
    Manifest m = Good(u + "[folder.registry]\nkey = \"Software\\\\Zevrin\"\nrecord = true\n"
                          "[folder.profile]\nfile = \"C:\\\\Users\\\\z.ini\"\nsection = \"S\"\nkey = \"K\"\n"
                          "record = true\n");
    EXPECT_TRUE(m.PerUser());
    EXPECT_EQ(m.installOptions, 1u | 2u | 8u);
    EXPECT_EQ(m.defaultFolder, "#User Program Files#\\Zevrin Demo");
    EXPECT_EQ(m.registryRoot, 1u) << "recorded for the user";
    // The macro is a machine-wide package's to use too.
    EXPECT_EQ(Good(std::string(Minimal) + "[folder]\ndefault = \"#user program files#\\\\Z\"\n").defaultFolder,
              "#user program files#\\Z");

    const std::string f = u + "[[files]]\nsource = \"a.dll\"\n"; // [[files]] on line 4
    ASSERT_EQ(std::system(("mkdir -p '" + dir.File("lib") + "'").c_str()), 0);
    Put("lib/x.dll", "x");
    const BadCase cases[] = {
        {"the Windows folder as default", u + "[folder]\ndefault = \"#Windows#\\\\Z\"\n",
         "5: folder.default: a per-user package ([product] privileges = \"user\") cannot install into the Windows"},
        {"the System folder as default", u + "[folder]\ndefault = \"#SYSTEM#\"\n", "5: folder.default: a per-user"},
        {"a file in the Windows folder", f + "location = \"windows\"\n",
         "6: files[0].location: a per-user package ([product] privileges = \"user\") cannot install into the Windows"},
        {"a shared system file", f + "location = \"shared\"\n", "6: files[0].location: a per-user package"},
        {"a font", f + "location = \"font\"\n",
         "6: files[0].location: a per-user package ([product] privileges = \"user\") cannot install fonts"},
        {"a shared count", f + "shared_count = true\n",
         "6: files[0].shared_count: a per-user package ([product] privileges = \"user\") cannot count shared files"},
        {"a library that registers itself", f + "special = \"self_register\"\n",
         "6: files[0].special: a per-user package ([product] privileges = \"user\") cannot register a library"},
        {"every file of a folder into the Windows folder", u + "[[files]]\nsource = \"lib/\"\nlocation = \"windows\"\n",
         "6: files[0].location: a per-user package"},
        {"the folder recorded under HKLM", u + "[folder.registry]\nroot = \"HKLM\"\nkey = \"S\"\nrecord = true\n",
         "5: folder.registry.root: a per-user package ([product] privileges = \"user\") records its folder under HKCU"},
        {"the folder recorded in a profile file of the Windows folder",
         u + "[folder.profile]\nfile = \"z.ini\"\nsection = \"S\"\nkey = \"K\"\nrecord = true\n",
         "5: folder.profile.file: a per-user package ([product] privileges = \"user\") cannot record into a profile"},
    };
    ExpectRefused(cases, sizeof cases / sizeof *cases);
    // Only what is recorded is written: reading HKLM or a profile file of
    // the Windows folder for the proposal is harmless.
    Good(u + "[folder.registry]\nroot = \"HKLM\"\nkey = \"S\"\n[folder.profile]\nfile = \"z.ini\"\nsection = \"S\"\n"
             "key = \"K\"\n");
}

// Upgrades come with our uninstaller, whose log says what the installed
// version put where; a publisher may turn them off or keep files.
TEST_F(ManifestTest, UpgradesAndTheFilesTheyKeep)
{
    Put("u.exe", "MZ");
    const std::string uninstaller = "[uninstaller]\nprogram = \"u.exe\"\n";
    struct Case {
        const char* why;
        std::string product; // lines added to [product]
        std::string rest;
        uint32_t options;
        std::vector<std::string> keep;
    } cases[] = {
        {"our uninstaller: upgrades", "", uninstaller, 1u | 4u | 8u | 16u, {}},
        {"turned off", "upgrade = false\n", uninstaller, 1u | 4u | 8u, {}},
        {"no uninstaller, no log to read", "", "", 1u | 8u, {}},
        {"patterns, '/' read as '\\'", "upgrade_keep = [\"saves/*\", \"*.ini\", \"data\\\\user?.dat\"]\n",
         uninstaller, 1u | 4u | 8u | 16u, {"saves\\*", "*.ini", "data\\user?.dat"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Manifest m = Good(std::string(Minimal) + c.product + c.rest);
        EXPECT_EQ(m.installOptions, c.options);
        EXPECT_EQ(m.upgradeKeep, c.keep);
    }
    const std::string p = std::string(Minimal); // lines 1-2
    const BadCase bad[] = {
        {"upgrade not a boolean", p + "upgrade = \"yes\"\n", "3: product.upgrade: expected true or false"},
        {"keep not a list", p + "upgrade_keep = \"saves\\\\*\"\n", "3: product.upgrade_keep: expected a list"},
        {"keep with a drive", p + "upgrade_keep = [\"C:\\\\saves\"]\n", "3: product.upgrade_keep: \"C:\\saves\""},
        {"keep from the root", p + "upgrade_keep = [\"\\\\saves\"]\n", "3: product.upgrade_keep: \"\\saves\""},
        {"keep climbing out", p + "upgrade_keep = [\"..\\\\x\"]\n", "3: product.upgrade_keep: \"..\\x\" has"},
        {"keep with the separator", p + "upgrade_keep = [\"a|b\"]\n", "3: product.upgrade_keep: \"a|b\" holds"},
        {"an empty pattern", p + "upgrade_keep = [\"\"]\n", "3: product.upgrade_keep: \"\" is empty"},
    };
    ExpectRefused(bad, sizeof bad / sizeof bad[0]);
}

// One run reports every error that does not follow from another, one a
// line in the order of the manifest: each clash of destinations naming
// both entries, their lines and sources; each bad entry, text or table;
// each unknown key. A refused entry takes part in no later check. A
// syntax error or a bad [define] stops at once.
TEST_F(ManifestTest, EveryErrorThatStandsAloneIsReported)
{
    for (const char* file : {"inc/A.h", "inc/a.h", "inc/c:1.txt", "inc/d:2.txt", "inc/sub/X.txt", "inc/sub/x.txt"}) {
        ASSERT_EQ(std::system(("mkdir -p \"$(dirname '" + dir.File(file) + "')\"").c_str()), 0);
        Put(file, file);
    }
    Put("shared.toml", "[[files]]\nsource = \"readme.txt\"\n");
    const std::string d = dir.Path();
    auto at = [this](const std::string& rest) { return dir.File("m.toml") + ":" + rest; };
    const std::string letterCase = ": Windows does not tell file names apart by letter case";
    struct Case {
        const char* why;
        std::string text;
        std::vector<std::string> expected; // the start of each line
    } cases[] = {
        {"clashes inside a folder entry and with another entry, bad names in the folder",
         std::string(Minimal) + "[[files]]\nsource = \"inc\"\n[[files]]\nsource = \"readme.txt\"\nname = \"A.H\"\n",
         {at("3: files[0].name: 'a.h' (from '" + d + "/inc/a.h') is already the destination of files[0] as 'A.h' "
             "(line 3, from '" + d + "/inc/A.h')" + letterCase),
          at("3: files[0].name: 'sub\\x.txt' (from '" + d + "/inc/sub/x.txt') is already the destination of "
             "files[0] as 'sub\\X.txt' (line 3, from '" + d + "/inc/sub/X.txt')" + letterCase),
          at("4: files[0].source: 'c:1.txt': has the character ':'"),
          at("4: files[0].source: 'd:2.txt': has the character ':'"),
          at("5: files[1].name: 'A.H' (from '" + d + "/readme.txt') is already the destination of files[0] as "
             "'A.h' (line 3, from '" + d + "/inc/A.h')" + letterCase)}},
        {"the same name as an included entry; external files without a source",
         "include = \"shared.toml\"\n" + std::string(Minimal) +
             "[[files]]\nsource = \"readme.txt\"\n"
             "[[files]]\nname = \"x.cab\"\nexternal = true\n[[files]]\nname = \"X.CAB\"\nexternal = true\n",
         {at("4: files[1].name: 'readme.txt' (from '" + d + "/readme.txt') is already the destination of files[0] (" +
             d + "/shared.toml:1, from '" + d + "/readme.txt')"),
          at("9: files[3].name: 'X.CAB' is already the destination of files[2] as 'x.cab' (line 6)" + letterCase)}},
        {"errors in every part",
         "[product]\nname = \"X\"\ntitel = \"Y\"\n"                                            // 1-3
         "[wizard]\nstart_page = \"middle\"\n"                                                  // 4-5
         "[texts.messages]\ninsert_disk = \"Disk %s\"\nchecking = \"...\"\nnewer_file = \"%d\"\n" // 6-9
         "[[files]]\nsource = \"a.txt\"\nafter = \"jump\"\n"                                    // 10-12
         "[[files]]\nsource = \"b.txt\"\ncolour = \"red\"\nname = \"A.TXT\"\n"                  // 13-16
         "[[files]]\nsource = \"c.txt\"\nname = \"a.txt\"\n"                                    // 17-19
         "[uninstaller]\nprogram = \"u.exe\"\ntexts = { done = \"%d\" }\n"                      // 20-22
         "[extra]\n",                                                                           // 23
         {at("3: product.titel: unknown key"),
          at("5: wizard.start_page: expected one of welcome"),
          at("7: texts.messages.insert_disk: '%s' is not a placeholder here"),
          at("9: texts.messages.newer_file: '%d' is not a placeholder here"),
          at("12: files[0].after: expected one of none, view or launch, found \"jump\""),
          at("15: files[1].colour: unknown key"),
          at("17: files[2].name: 'a.txt' (from '" + d + "/c.txt') is already the destination of files[1] as 'A.TXT' "
             "(line 13, from '" + d + "/b.txt')" + letterCase),
          at("22: uninstaller.texts.done: '%d' is not a placeholder here"),
          at("23: extra: unknown key")}},
        {"a syntax error stops at once", std::string(Minimal) + "titel = 1\n[texts\n", {at("4: ")}},
        {"a bad [define] stops at once", "[define]\n1A = \"x\"\n" + std::string(Minimal) + "titel = 1\n",
         {at("2: define.1A: is not a variable name")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Manifest m;
        std::string error;
        ASSERT_FALSE(Parse(c.text, &m, &error));
        std::vector<std::string> lines;
        for (size_t start = 0; start <= error.size();) {
            size_t end = std::min(error.find('\n', start), error.size());
            lines.push_back(error.substr(start, end - start));
            start = end + 1;
        }
        ASSERT_EQ(lines.size(), c.expected.size()) << error;
        for (size_t i = 0; i < lines.size(); ++i)
            EXPECT_EQ(lines[i].compare(0, c.expected[i].size(), c.expected[i]), 0)
                << lines[i] << "\nexpected: " << c.expected[i];
    }
}

// Texts are bounded as stored: the information text after its line
// breaks became CR LF. Each case is tried at its bound and one past it.
TEST_F(ManifestTest, TextsLongerThanShownAreRefusedWithTheirLine)
{
    struct Case {
        const char* name;
        size_t bound;
        const char* tail; // after the minimal manifest; '@' stands for the text
        const char* file; // the text goes into this file instead
        bool lineBreak;   // the text ends in LF, stored as CR LF
        const char* expected; // after "<path>:" for one past the bound
    } cases[] = {
        {"page heading", 2047, "[texts.welcome]\nheading = \"@\"\n", nullptr, false,
         "4: texts.welcome.heading: is 2048 characters long; at most 2047 fit"},
        {"numbered text of the spare group", 2047, "[texts]\n\"8.3\" = \"@\"\n", nullptr, false,
         "4: texts.8.3: is 2048 characters long; at most 2047 fit"},
        {"message from a Windows-1252 file", 2047,
         "[texts.messages.invalid_data]\nencoding = \"windows-1252\"\nfile = \"m.txt\"\n", "m.txt", false,
         "3: texts.messages.invalid_data: 'm.txt' is 2048 bytes; at most 2047 fit"},
        {"information text", 60000, "[texts.information]\ntext1 = \"@\"\n", nullptr, false,
         "4: texts.information.text1: is 60001 characters long; at most 60000 fit"},
        {"information file counted with CR LF", 60000, "[texts]\n1.1 = { file = \"info.txt\" }\n", "info.txt", true,
         "4: texts.1.1: 'info.txt' is 60001 bytes once its line breaks are CR LF; at most 60000 fit"},
        {"background title", 2047, "[background]\nfull_screen = true\ntitle = \"@\"\n", nullptr, false,
         "5: background.title: is 2048 characters long; at most 2047 fit"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto manifest = [&](size_t stored) {
            std::string text = c.lineBreak ? std::string(stored - 2, 'x') + "\n" : std::string(stored, 'x');
            std::string tail = c.tail;
            if (c.file)
                Put(c.file, text);
            else
                tail.replace(tail.find('@'), 1, text);
            return Minimal + tail;
        };
        Manifest m;
        std::string error;
        EXPECT_TRUE(Parse(manifest(c.bound), &m, &error)) << error;
        EXPECT_FALSE(Parse(manifest(c.bound + 1), &m, &error));
        EXPECT_EQ(error, dir.File("m.toml") + ":" + c.expected);
    }
}

TEST_F(ManifestTest, WarnsAboutSettingsWithoutEffect)
{
    Manifest m = Good(std::string(Minimal) + "uninstall_name = \"Z\"\n[background]\ntitle = \"Big\"\n"
                                             "[[files]]\nsource = \"a.exe\"\n");
    ASSERT_EQ(m.warnings.size(), 2u);
    // Each names the line of its key.
    EXPECT_EQ(m.warnings[0].rfind(dir.File("m.toml") + ":4: background: the title and picture are only shown "
                                  "with full_screen", 0), 0u) << m.warnings[0];
    EXPECT_EQ(m.warnings[1].rfind(dir.File("m.toml") + ":3: product.uninstall_name: no file is the uninstaller", 0),
              0u) << m.warnings[1];
}

// A default folder that is not rooted is taken from wherever the
// installer was started.
TEST_F(ManifestTest, WarnsAboutARelativeDefaultFolder)
{
    struct Case {
        const char* folder;
        bool warns;
    } cases[] = {
        {"Apps\\\\Zevrin", true},  {"..\\\\Zevrin", true},     {"Zevrin", true},
        {"C:\\\\Zevrin", false},   {"#Program Files#\\\\Zevrin", false}, {"\\\\Zevrin", false},
        {"\\\\\\\\server\\\\share", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        Manifest m = Good(std::string(Minimal) + "[folder]\ndefault = \"" + c.folder + "\"\n[[files]]\nsource = \"a\"\n");
        if (c.warns) {
            ASSERT_EQ(m.warnings.size(), 1u);
            EXPECT_EQ(m.warnings[0].rfind(dir.File("m.toml") + ":4: folder.default: '", 0), 0u) << m.warnings[0];
            EXPECT_NE(m.warnings[0].find("is relative"), std::string::npos) << m.warnings[0];
        } else {
            EXPECT_TRUE(m.warnings.empty()) << m.warnings[0];
        }
    }
}

// ${NAME} in any string, from [define] or -D (which wins); $${ is a
// literal ${.
TEST_F(ManifestTest, VariablesFromDefineAndTheCommandLine)
{
    const std::string text = "[define]\nVERSION = \"2.1\"\nNAME = \"Demo ${VERSION}\"\n"
                             "[product]\nname = \"${NAME}\"\ntitle = \"${NAME} Setup ($${NOT})\"\n"
                             "[folder]\ndefault = \"#Program Files#\\\\Demo ${VERSION}\"\n"
                             "[texts.welcome]\nheading = \"Welcome to ${NAME}\"\n"
                             "[[files]]\nsource = \"a-${VERSION}.exe\"\n";
    struct Case {
        std::map<std::string, std::string> defines;
        const char* version;
    } cases[] = {{{}, "2.1"}, {{{"VERSION", "3.0"}}, "3.0"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        Manifest m;
        std::string error;
        ASSERT_TRUE(ParseManifest(text, dir.File("m.toml"), &m, &error, {}, c.defines)) << error;
        std::string v = c.version;
        EXPECT_EQ(m.productName, "Demo " + v);
        EXPECT_EQ(m.groups[6][0], "Demo " + v + " Setup (${NOT})");
        EXPECT_EQ(m.defaultFolder, "#Program Files#\\Demo " + v);
        EXPECT_EQ(m.groups[0][0], "Welcome to Demo " + v);
        ASSERT_EQ(m.files.size(), 1u);
        EXPECT_EQ(m.files[0].name, "a-" + v + ".exe");
    }
    const BadCase bad[] = {
        {"unknown name", "[define]\nA = \"1\"\n[product]\nname = \"x ${B}\"\n",
         "4: product.name: unknown variable ${B} (defined: A; define it in [define] or with -D B=VALUE)"},
        {"unknown in a file entry", std::string(Minimal) + "[[files]]\nsource = \"${DIR}/a\"\n",
         "4: files[0].source: unknown variable ${DIR} (none is defined"},
        {"not closed", std::string(Minimal) + "title = \"${A\"\n", "3: product.title: '${' without a closing '}'"},
        {"a loop", "[define]\nA = \"${B}\"\nB = \"${A}\"\n[product]\nname = \"${A}\"\n",
         "5: product.name: ${"},
        {"bad name", "[define]\n1A = \"x\"\n" + std::string(Minimal), "2: define.1A: is not a variable name"},
        {"not a string", "[define]\nA = 5\n" + std::string(Minimal), "2: define.A: expected a string"},
    };
    ExpectRefused(bad, sizeof bad / sizeof *bad);
}

// A source that is a folder or a pattern names every file below it,
// sub-folders kept, sorted, less the excluded ones; `name` is then the
// destination folder.
TEST_F(ManifestTest, FoldersAndPatternsInFiles)
{
    // Made out of order: the entries come out sorted whatever the disk says.
    for (const char* file : {"app/tests/t.txt", "app/sub/d.pdb", "app/sub/c.txt", "app/b.dll", "app/a.exe"}) {
        std::string path = dir.File(file);
        ASSERT_EQ(std::system(("mkdir -p \"$(dirname '" + path + "')\"").c_str()), 0);
        Put(file, file);
    }
    struct Case {
        const char* entry;
        std::vector<std::string> names;
    } cases[] = {
        {"source = \"app\"", {"a.exe", "b.dll", "sub\\c.txt", "sub\\d.pdb", "tests\\t.txt"}},
        {"source = \"app/\"\nname = \"bin\"", {"bin\\a.exe", "bin\\b.dll", "bin\\sub\\c.txt", "bin\\sub\\d.pdb",
                                                "bin\\tests\\t.txt"}},
        {"source = \"app/*.dll\"", {"b.dll"}},
        {"source = \"app/**/*.txt\"", {"sub\\c.txt", "tests\\t.txt"}},
        {"source = \"app/**\"\nexclude = [\"*.pdb\", \"tests/**\"]\nname = \"bin\\\\\"",
         {"bin\\a.exe", "bin\\b.dll", "bin\\sub\\c.txt"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry);
        Manifest m = Good(std::string(Minimal) + "[[files]]\n" + c.entry + "\nlocation = \"install\"\n"
                                                 "uninstall = \"leave\"\n");
        std::vector<std::string> names;
        for (const ManifestFile& f : m.files) {
            names.push_back(f.name);
            EXPECT_EQ(f.uninstallMode, UninstallLeave) << "the entry's keys reach every file";
            // Each file holds its own path: the name must be that file's.
            std::vector<uint8_t> content = ReadBytes(f.source);
            std::string relative(content.begin() + 4, content.end());
            std::replace(relative.begin(), relative.end(), '/', '\\');
            EXPECT_EQ(f.name.substr(f.name.size() - std::min(f.name.size(), relative.size())), relative);
        }
        EXPECT_EQ(names, c.names);
    }
    const BadCase bad[] = {
        {"names nothing", std::string(Minimal) + "[[files]]\nsource = \"app/*.zip\"\n",
         "4: files[0].source: 'app/*.zip' names no file"},
        {"everything excluded", std::string(Minimal) + "[[files]]\nsource = \"app\"\nexclude = [\"**\"]\n",
         "4: files[0].source: 'app' names no file (after exclude)"},
        {"a key for one file", std::string(Minimal) + "[[files]]\nsource = \"app\"\nafter = \"view\"\n",
         "5: files[0].after: is for one file; the source names a folder or a pattern"},
        {"exclude for one file", std::string(Minimal) + "[[files]]\nsource = \"app/a.exe\"\nexclude = [\"x\"]\n",
         "5: files[0].exclude: only for a source that is a folder or a pattern"},
        {"clash with another entry", std::string(Minimal) + "[[files]]\nsource = \"app/b.dll\"\n[[files]]\nsource = \"app/*.dll\"\n",
         "5: files[1].name: 'b.dll' (from '"},
    };
    ExpectRefused(bad, sizeof bad / sizeof *bad);
}

// A manifest may include others (shared texts, shared file lists): their
// tables are merged in, their [[files]] come first, their paths are
// relative to themselves, and their errors name them and their lines.
TEST_F(ManifestTest, IncludedManifests)
{
    ASSERT_EQ(std::system(("mkdir -p '" + dir.File("shared/lib") + "'").c_str()), 0);
    Put("shared/common.toml", "include = \"texts.toml\"\n[[files]]\nsource = \"lib/a.dll\"\n");
    Put("shared/texts.toml", "[texts.welcome]\nheading = \"Welcome to ${V}\"\n");
    Manifest m = Good("include = [\"shared/common.toml\"]\n[define]\nV = \"Demo 2\"\n" + std::string(Minimal) +
                      "[[files]]\nsource = \"b.exe\"\n");
    ASSERT_EQ(m.files.size(), 2u);
    EXPECT_EQ(m.files[0].name, "a.dll");
    EXPECT_EQ(m.files[0].source, dir.File("shared/lib/a.dll"));
    EXPECT_EQ(m.files[0].ref.file, dir.File("shared/common.toml"));
    EXPECT_EQ(m.files[1].name, "b.exe");
    EXPECT_EQ(m.groups[0][0], "Welcome to Demo 2");
    std::vector<std::string> read;
    for (const auto& file : m.readFiles)
        read.push_back(file.first);
    EXPECT_EQ(read, (std::vector<std::string>{dir.File("shared/common.toml"), dir.File("shared/texts.toml")}))
        << "no output may replace them";

    Put("shared/bad.toml", "[product]\ntitel = \"x\"\n");
    Put("shared/syntax.toml", "[texts\n");
    Put("shared/name.toml", "\n[product]\nname = \"Other\"\n");
    Put("shared/loop.toml", "include = \"loop2.toml\"\n");
    Put("shared/loop2.toml", "include = [\"loop.toml\"]\n");
    struct Case {
        std::string include;
        std::string expected; // the whole message
    } cases[] = {
        {"shared/bad.toml", dir.File("shared/bad.toml") + ":2: product.titel: unknown key"},
        {"shared/syntax.toml", dir.File("shared/syntax.toml") + ":1: "},
        {"shared/name.toml", dir.File("m.toml") + ":3: product.name: is already set at " +
                                 dir.File("shared/name.toml") + ":3"},
        {"shared/loop.toml", dir.File("shared/loop2.toml") + ":1: include: 'loop.toml' includes itself"},
        {"shared/none.toml", dir.File("m.toml") + ":1: include: cannot read '" + dir.File("shared/none.toml") + "'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.include);
        std::string error;
        EXPECT_FALSE(Parse("include = \"" + c.include + "\"\n" + std::string(Minimal), &m, &error));
        EXPECT_EQ(error.compare(0, c.expected.size(), c.expected), 0) << error << "\nexpected: " << c.expected;
    }
}

TEST_F(ManifestTest, LoadNamesAFileThatCannotBeRead)
{
    Manifest m;
    std::string error;
    EXPECT_FALSE(LoadManifest(dir.File("missing.toml"), &m, &error));
    EXPECT_EQ(error, "cannot open '" + dir.File("missing.toml") + "': No such file or directory");
}

TEST(Utf8ToAnsi, WindowsCharactersOnly)
{
    struct Case {
        const char* input;
        bool ok;
        const char* output; // or a part of the problem
    } cases[] = {
        {"plain", true, "plain"},
        {"tab\tand\r\nlines", true, "tab\tand\r\nlines"},
        {"caf\xC3\xA9 \xC3\xBF", true, "caf\xE9 \xFF"},
        {"\xE2\x82\xAC 5 \xE2\x80\x93 \xE2\x84\xA2", true, "\x80 5 \x96 \x99"}, // euro, en dash, trade mark
        {"\xC5\x92uvre", true, "\x8Cuvre"},
        {"\xC4\x80", false, "U+0100"},
        {"\xF0\x9F\x98\x80", false, "U+1F600"},
        {"\xC2\x81", false, "U+0081"}, // a C1 control: no Windows-1252 form
        {"\x01", false, "control character U+0001"},
        {"\xC3", false, "cut off"},
        {"\xC0\xAF", false, "not valid UTF-8"}, // over-long '/'
        {"\xED\xA0\x80", false, "not valid UTF-8"}, // a surrogate
        {"\x80", false, "not valid UTF-8"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        std::string out, problem;
        EXPECT_EQ(Utf8ToAnsi(c.input, &out, &problem), c.ok);
        if (c.ok) {
            EXPECT_EQ(out, c.output);
        } else {
            EXPECT_NE(problem.find(c.output), std::string::npos) << problem;
        }
    }
    std::string out, problem;
    EXPECT_FALSE(Utf8ToAnsi(std::string("a\0b", 3), &out, &problem));
    EXPECT_EQ(problem, "has a NUL character");
}

} // namespace

#endif // ZEVRIN_HAVE_AUTHORING
