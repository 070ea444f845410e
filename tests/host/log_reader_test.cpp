// The uninstaller's reading of its log: the bytes the installer's writer
// produces, read back; damaged and hostile logs refused whole; the install
// folder found from the uninstaller's own place in the log.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../../stub/engine/uninstall_log.h"
#include "../../stub/engine/log_reader.h"
#include "../fuzz/log_input.h"
#include "test_support.h"

namespace {

using namespace loginput;

const Bytes End = loginput::End();
const std::string AppKey = loginput::AppKey;

Bytes GoodLog()
{
    Bytes out = Image();
    Add(out, GoodTail());
    return out;
}

LogProblem Read(const Bytes& bytes, UninstallLogView* log)
{
    return ReadUninstallLog(bytes.data(), static_cast<uint32_t>(bytes.size()), log);
}

std::string Path(const LogItem& item, const char* installDir)
{
    char path[PathSize];
    return LogItemPath(item, installDir, path) ? path : "(none)";
}

TEST(LogReaderTest, ReadsWhatTheInstallerWrites)
{
    TempDir dir;
    std::string file = dir.File("uninst.exe");
    Bytes delivered = Image();
    Add(delivered, End);
    WriteBytes(file, delivered);

    // As the installer's follow-up writes it, into C:\App\.
    FileHandle log = OpenUninstallLog(file.c_str());
    ASSERT_NE(log, INVALID_FILE_HANDLE);
    uint32_t head = BeginLogRecord(log, LogTagFiles);
    ASSERT_TRUE(WriteLogFile(log, "C:\\App\\uninst.exe", "C:\\App\\", 0));
    ASSERT_TRUE(WriteLogFile(log, "C:\\App\\sub\\deep\\b.dat", "C:\\App\\", 0));
    ASSERT_TRUE(WriteLogFile(log, "C:\\WINDOWS\\SYSTEM\\lib.dll", "C:\\App\\", LogItemShared | LogItemSelfRegister));
    ASSERT_TRUE(WriteLogFile(log, "C:\\WINDOWS\\Fonts\\DejaVuSans.ttf", "C:\\App\\", LogItemFont));
    EndLogRecord(log, head, LogTagFiles, 4);
    head = BeginLogRecord(log, LogTagShortcuts);
    WriteCountedString(log, "C:\\Menu\\Programs\\Demo");
    WriteCountedString(log, "Demo.lnk");
    EndLogRecord(log, head, LogTagShortcuts, 1);
    WriteLogKey(log, LogRootLocalMachine, AppKey.c_str());
    WriteLogHead(log, LogTagEnd, 0);
    CloseFile(log);

    Bytes bytes = ReadBytes(file);
    UninstallLogView view;
    ASSERT_EQ(Read(bytes, &view), LogOk);
    EXPECT_EQ(view.imageEnd, 0x500u);
    EXPECT_EQ(view.texts, nullptr);
    ASSERT_EQ(view.fileCount, 4u);
    const char* installDir = "C:\\App\\";
    const char* expected[4] = {"C:\\App\\uninst.exe", "C:\\App\\sub\\deep\\b.dat",
                               "C:\\WINDOWS\\SYSTEM\\lib.dll", "C:\\WINDOWS\\Fonts\\DejaVuSans.ttf"};
    const int flags[4] = {0, 0, LogItemShared | LogItemSelfRegister, LogItemFont};
    ByteCursor items = view.files;
    for (int i = 0; i < 4; ++i) {
        LogItem item = NextLogFile(&items);
        EXPECT_EQ(Path(item, installDir), expected[i]);
        EXPECT_EQ(item.flags, flags[i]);
    }
    ASSERT_EQ(view.shortcutCount, 1u);
    items = view.shortcuts;
    EXPECT_EQ(Path(NextLogShortcut(&items), ""), "C:\\Menu\\Programs\\Demo\\Demo.lnk");
    ASSERT_TRUE(view.hasKey);
    EXPECT_EQ(std::string(view.key.text, view.key.length), AppKey);

    // The publisher's texts come before the log, the optional records may
    // be missing.
    Bytes minimal = Image();
    Add(minimal, Head(4680, 0));
    Add(minimal, Record(4661, {}));
    Add(minimal, End);
    ASSERT_EQ(Read(minimal, &view), LogOk);
    EXPECT_EQ(view.fileCount + view.shortcutCount, 0u);
    EXPECT_FALSE(view.hasKey);
    char found[PathSize];
    EXPECT_TRUE(FindInstallDir(view, "C:\\App\\uninst.exe", "", found));
    EXPECT_STREQ(found, "") << "no relative item needs one";
}

TEST(LogReaderTest, RefusesDamagedLogsWhole)
{
    Bytes textsRecord = TextsRecord({"Remove Demo"});
    auto log = [&](std::vector<Bytes> records) {
        Bytes out = Image();
        for (const Bytes& r : records)
            Add(out, r);
        return out;
    };
    Bytes files = Record(4661, Files());
    Bytes menu = Record(4662, {{"C:\\Menu", "Demo.lnk", -1}});
    Bytes key = KeyRecord(AppKey);
    Bytes endWithLength = Head(0x7F7F, 4);
    Add(endWithLength, {0, 0, 0, 0});
    Bytes longFiles = files;
    longFiles[4] += 1; // the body length claims a byte more than there is
    Bytes flagged = End;
    flagged[2] = 1; // "compressed"
    Bytes notPe = GoodLog();
    notPe[0x40] = 'X';
    Bytes sectionPastEnd = GoodLog();
    sectionPastEnd[0x40 + 24 + 0xE0 + 40 + 16 + 1] = 0x40; // raw size 0x4100
    Bytes cut = GoodLog();
    cut.pop_back();
    Bytes trailing = GoodLog();
    trailing.push_back(0);

    struct Case {
        const char* why;
        Bytes bytes;
        LogProblem expected;
        bool textsFound;
    } cases[] = {
        {"as delivered: no installation wrote a log", log({textsRecord, End}), LogNotWritten, true},
        {"as built, without texts", log({End}), LogNotWritten, false},
        {"not a PE image", notPe, LogNoImage, false},
        {"a section past the end of the file", sectionPastEnd, LogNoImage, false},
        {"nothing after the image", Image(), LogDamaged, false},
        {"cut inside the terminator", cut, LogDamaged, true},
        {"a byte after the terminator", trailing, LogDamaged, true},
        {"no terminator", log({textsRecord, files, menu, key}), LogDamaged, true},
        {"a terminator with a body", log({files, endWithLength}), LogDamaged, false},
        {"a compressed record", log({files, flagged}), LogDamaged, false},
        {"a body length past the end", log({longFiles}), LogDamaged, false},
        {"a body length one too many", log({longFiles, End}), LogDamaged, false},
        {"a count one too many", log({Record(4661, Files(), 1), End}), LogDamaged, false},
        {"a count one too few", log({Record(4661, Files(), -1), End}), LogDamaged, false},
        {"a count of four billion", log({Record(4661, Files(), -4), End}), LogDamaged, false},
        {"records out of order", log({files, key, menu, End}), LogDamaged, false},
        {"a record twice", log({files, files, End}), LogDamaged, false},
        {"shortcuts without files", log({menu, End}), LogDamaged, false},
        {"an unknown record", log({files, Head(4665, 0), End}), LogDamaged, false},
        {"'..' in a relative folder", log({Record(4661, {{".\\..\\..\\Windows", "x.dll", 0}}), End}), LogDamaged,
         false},
        {"'..' in a full folder", log({Record(4661, {{"C:\\App\\..\\Windows", "x.dll", 0}}), End}), LogDamaged,
         false},
        {"'..' as the name", log({Record(4661, {{".", "..", 0}}), End}), LogDamaged, false},
        {"a name with a folder", log({Record(4661, {{".", "sub\\x.dll", 0}}), End}), LogDamaged, false},
        {"an empty name", log({Record(4661, {{".", "", 0}}), End}), LogDamaged, false},
        {"a drive behind '.'", log({Record(4661, {{".\\C:\\Windows", "x.dll", 0}}), End}), LogDamaged, false},
        {"a folder without a drive", log({Record(4661, {{"Windows", "x.dll", 0}}), End}), LogDamaged, false},
        {"a NUL inside a name", log({Record(4661, {{".", std::string("a\0b", 3), 0}}), End}), LogDamaged, false},
        {"a path too long for the system", log({Record(4661, {{"C:\\" + std::string(300, 'x'), "a", 0}}), End}),
         LogDamaged, false},
        {"an unknown item flag", log({Record(4661, {{".", "a.exe", 8}}), End}), LogDamaged, false},
        {"a relative shortcut folder", log({files, Record(4662, {{".", "Demo.lnk", -1}}), End}), LogDamaged, false},
        {"a shortcut that is no .lnk", log({files, Record(4662, {{"C:\\Menu", "boot.ini", -1}}), End}), LogDamaged,
         false},
        {"the uninstall list itself", log({files, KeyRecord("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"),
                                           End}), LogDamaged, false},
        {"a key outside the uninstall list", log({files, KeyRecord("Software\\Classes"), End}), LogDamaged, false},
        {"a key below a product's key", log({files, KeyRecord(AppKey + "\\Sub"), End}), LogDamaged, false},
        {"another root", log({files, KeyRecord(AppKey, 0x80000003), End}), LogDamaged, false},
        {"HKCR, a root no installation writes", log({files, KeyRecord(AppKey, 0x80000000), End}), LogDamaged, false},
        {"a machine-wide root without a key", log({files, KeyRecord(""), End}), LogDamaged, false},
        {"a per-user key outside the uninstall list", log({files, KeyRecord("Software\\Classes", 0x80000001), End}),
         LogDamaged, false},
        {"sums for one item fewer than the files", log({files, SumsRecord({{1, 2}, {3, 4}}), End}), LogDamaged, false},
        {"sums whose count lies", log({files, SumsRecord({{1, 2}, {3, 4}, {5, 6}}, 1), End}), LogDamaged, false},
        {"sums before the folders", log({files, SumsRecord({{1, 2}, {3, 4}, {5, 6}}), FoldersRecord({}), End}),
         LogDamaged, false},
        {"sums twice", log({files, SumsRecord({{1, 2}, {3, 4}, {5, 6}}), SumsRecord({{1, 2}, {3, 4}, {5, 6}}), End}),
         LogDamaged, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        UninstallLogView view;
        EXPECT_EQ(Read(c.bytes, &view), c.expected);
        EXPECT_EQ(view.texts != nullptr, c.textsFound) << "the refusal is worded by the publisher";
    }

    // Every cut of a good log is refused.
    Bytes good = GoodLog();
    UninstallLogView view;
    ASSERT_EQ(Read(good, &view), LogOk);
    for (size_t length = 0; length < good.size(); ++length) {
        Bytes shorter(good.begin(), good.begin() + static_cast<long>(length));
        ASSERT_NE(Read(shorter, &view), LogOk) << "cut to " << length << " bytes";
    }
}

// The key record says the root: a per-user installation's key and counts
// are under HKEY_CURRENT_USER, said even when it registered no key. A
// reader that knows only HKEY_LOCAL_MACHINE refuses such a log whole (the
// "another root" case above stands for it), never removing a machine key.
TEST(LogReaderTest, ReadsTheRootOfTheKeys)
{
    Bytes files = Record(4661, Files());
    struct Case {
        const char* why;
        Bytes key; // empty: no record
        bool perUser;
        bool hasKey;
    } cases[] = {
        {"machine-wide, with its key", KeyRecord(AppKey), false, true},
        {"machine-wide, no key", {}, false, false},
        {"per user, with its key", KeyRecord(AppKey, LogRootCurrentUser), true, true},
        {"per user, no key: the root alone", KeyRecord("", LogRootCurrentUser), true, false},
    };
    // The installer's writer gives the same bytes.
    TempDir dir;
    std::string file = dir.File("uninst.exe");
    for (const char* key : {"", AppKey.c_str()}) {
        WriteBytes(file, End);
        FileHandle log = OpenUninstallLog(file.c_str());
        ASSERT_NE(log, INVALID_FILE_HANDLE);
        WriteLogKey(log, LogRootCurrentUser, key);
        CloseFile(log);
        EXPECT_EQ(ReadBytes(file), KeyRecord(key, LogRootCurrentUser)) << key;
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Bytes bytes = Image();
        Add(bytes, files);
        Add(bytes, c.key);
        Add(bytes, End);
        UninstallLogView view;
        ASSERT_EQ(Read(bytes, &view), LogOk);
        EXPECT_EQ(view.perUser, c.perUser);
        EXPECT_EQ(view.hasKey, c.hasKey);
        if (c.hasKey) {
            EXPECT_EQ(std::string(view.key.text, view.key.length), AppKey);
        }
    }
}

TEST(LogReaderTest, FindsTheInstallFolderWhereItWasInstalled)
{
    const Bytes key = KeyRecord(AppKey);
    struct Case {
        const char* why;
        std::vector<Item> items;
        bool hasKey;
        const char* ownPath;
        const char* registered;
        bool found;
        const char* installDir;
    } cases[] = {
        {"where it was installed", {{".", "a.exe", 0}}, true, "C:\\App\\uninst.exe", "C:\\App\\uninst.exe", true,
         "C:\\App\\"},
        {"registered in quotes, another letter case", {{".\\sub", "a.exe", 0}}, true, "C:\\APP\\UNINST.EXE",
         "\"c:\\app\\uninst.exe\"", true, "C:\\APP\\"},
        {"a copy elsewhere", {{".", "a.exe", 0}}, true, "D:\\Copy\\uninst.exe", "C:\\App\\uninst.exe", false, ""},
        {"renamed", {{".", "a.exe", 0}}, true, "C:\\App\\other.exe", "C:\\App\\uninst.exe", false, ""},
        {"the key is gone", {{".", "a.exe", 0}}, true, "C:\\App\\uninst.exe", "", false, ""},
        {"no key in the log", {{".", "a.exe", 0}}, false, "C:\\App\\uninst.exe", "C:\\App\\uninst.exe", false, ""},
        {"only full paths need none", {{"C:\\WINDOWS", "lib.dll", 1}}, false, "D:\\uninst.exe", "", true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Bytes bytes = Image();
        Add(bytes, Record(4661, c.items));
        if (c.hasKey)
            Add(bytes, key);
        Add(bytes, End);
        UninstallLogView view;
        ASSERT_EQ(Read(bytes, &view), LogOk);
        char installDir[PathSize] = "x";
        EXPECT_EQ(FindInstallDir(view, c.ownPath, c.registered, installDir), c.found);
        EXPECT_STREQ(installDir, c.installDir);
    }
}

// Folders made and the remembered folder: what the installer's writer
// gives is read back; damaged records refuse the log whole. An older
// reader stops at 4690 as at any unknown record ("an unknown record"
// above) and removes nothing.
TEST(LogReaderTest, ReadsTheFoldersMadeAndTheRememberedFolder)
{
    TempDir dir;
    std::string file = dir.File("uninst.exe");
    Bytes delivered = Image();
    Add(delivered, End);
    WriteBytes(file, delivered);
    ForgetMadeFolders();
    RememberMadeFolder("C:\\Program Files\\Publisher");
    RememberMadeFolder("C:\\Program Files\\Publisher\\Product\\"); // kept without its '\'
    RememberMadeFolder("sub");                                        // not a whole path: left out
    RememberMadeFolder("C:\\");                                         // a drive is never made
    EXPECT_EQ(MadeFolderCount(), 2u);
    FileHandle log = OpenUninstallLog(file.c_str());
    ASSERT_NE(log, INVALID_FILE_HANDLE);
    uint32_t head = BeginLogRecord(log, LogTagFiles);
    EndLogRecord(log, head, LogTagFiles, 0);
    WriteLogKey(log, LogRootLocalMachine, AppKey.c_str());
    WriteLogFolders(log);
    WriteLogRegistryValue(log, 0x80000001, "Software\\Publisher\\Product", "Folder", 2);
    WriteLogProfileEntry(log, "product.ini", "Setup", "Folder", LogProfileNewSection | LogProfileNewFile);
    WriteLogHead(log, LogTagEnd, 0);
    CloseFile(log);
    ForgetMadeFolders();

    Bytes bytes = ReadBytes(file);
    UninstallLogView view;
    ASSERT_EQ(Read(bytes, &view), LogOk);
    ASSERT_TRUE(view.hasFolders);
    ASSERT_EQ(view.folderCount, 2u);
    ByteCursor items = view.folders;
    char text[PathSize];
    LogTextCopy(NextLogFolder(&items), text);
    EXPECT_STREQ(text, "C:\\Program Files\\Publisher");
    LogTextCopy(NextLogFolder(&items), text);
    EXPECT_STREQ(text, "C:\\Program Files\\Publisher\\Product");
    ASSERT_TRUE(view.hasRegistryValue);
    EXPECT_EQ(view.registryRoot, 0x80000001u);
    EXPECT_EQ(std::string(view.registryKey.text, view.registryKey.length), "Software\\Publisher\\Product");
    EXPECT_EQ(std::string(view.registryValue.text, view.registryValue.length), "Folder");
    EXPECT_EQ(view.registryMadeParts, 2);
    ASSERT_TRUE(view.hasProfileEntry);
    EXPECT_EQ(std::string(view.profileFile.text, view.profileFile.length), "product.ini");
    EXPECT_EQ(std::string(view.profileSection.text, view.profileSection.length), "Setup");
    EXPECT_EQ(std::string(view.profileKey.text, view.profileKey.length), "Folder");
    EXPECT_EQ(view.profileFlags, LogProfileNewSection | LogProfileNewFile);

    Bytes files = Record(4661, Files());
    Bytes key = KeyRecord(AppKey);
    Bytes folders = FoldersRecord({"C:\\Publisher", "C:\\Publisher\\Product"});
    Bytes value = RegistryValueRecord(0x80000002, "Software\\Publisher", "", 1);
    Bytes entry = ProfileEntryRecord("C:\\WINDOWS\\p.ini", "Setup", "Folder", 0);
    struct Case {
        const char* why;
        std::vector<Bytes> records;
        LogProblem expected;
        bool hasFolders;
    } cases[] = {
        {"folders made, none of the rest", {files, folders}, LogOk, true},
        {"no folder made: the record says so", {files, key, FoldersRecord({})}, LogOk, true},
        {"the key's default value, an existing key", {files, folders, value}, LogOk, true},
        {"only the profile entry", {files, folders, entry}, LogOk, true},
        {"the remembered value without the folders", {files, value}, LogDamaged, false},
        {"the profile before the value", {files, folders, entry, value}, LogDamaged, false},
        {"the folders before the key", {files, folders, key}, LogDamaged, false},
        {"folders twice", {files, folders, folders}, LogDamaged, false},
        {"a folder count one too many", {files, FoldersRecord({"C:\\A"}, 1)}, LogDamaged, false},
        {"a folder count one too few", {files, FoldersRecord({"C:\\A", "C:\\B"}, -1)}, LogDamaged, false},
        {"a relative folder", {files, FoldersRecord({".\\sub"})}, LogDamaged, false},
        {"a drive's root", {files, FoldersRecord({"C:\\"})}, LogDamaged, false},
        {"a folder with its final '\\'", {files, FoldersRecord({"C:\\A\\"})}, LogDamaged, false},
        {"'..' in a folder", {files, FoldersRecord({"C:\\A\\..\\WINDOWS"})}, LogDamaged, false},
        {"a folder too long for the system", {files, FoldersRecord({"C:\\" + std::string(300, 'x')})}, LogDamaged,
         false},
        {"a root below HKCR", {files, folders, RegistryValueRecord(0x7FFFFFFF, "Software\\P", "", 0)}, LogDamaged,
         false},
        {"a root past HKU", {files, folders, RegistryValueRecord(0x80000004, "Software\\P", "", 0)}, LogDamaged,
         false},
        {"an empty key", {files, folders, RegistryValueRecord(0x80000001, "", "Folder", 0)}, LogDamaged, false},
        {"an empty key part", {files, folders, RegistryValueRecord(0x80000001, "Software\\\\P", "F", 0)}, LogDamaged,
         false},
        {"more key parts made than the key has",
         {files, folders, RegistryValueRecord(0x80000001, "Software\\P", "F", 3)}, LogDamaged, false},
        {"an empty profile section", {files, folders, ProfileEntryRecord("p.ini", "", "Folder", 0)}, LogDamaged,
         false},
        {"'..' in the profile file", {files, folders, ProfileEntryRecord("..\\p.ini", "S", "K", 0)}, LogDamaged,
         false},
        {"an unknown profile flag", {files, folders, ProfileEntryRecord("p.ini", "S", "K", 4)}, LogDamaged, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Bytes bytesOf = Image();
        for (const Bytes& r : c.records)
            Add(bytesOf, r);
        Add(bytesOf, End);
        EXPECT_EQ(Read(bytesOf, &view), c.expected);
        if (c.expected == LogOk) {
            EXPECT_EQ(view.hasFolders, c.hasFolders);
        }
    }
    // A value record cut by a byte, inside a good log.
    Bytes cut = value;
    cut[4] -= 1;
    cut.pop_back();
    Bytes cutLog = Image();
    for (const Bytes& r : {files, folders, cut, End})
        Add(cutLog, r);
    EXPECT_EQ(Read(cutLog, &view), LogDamaged);
}

// A signed uninstaller: its log is the file beside it, and only that file.
TEST(LogReaderTest, ReadsTheLogBesideASignedUninstaller)
{
    Bytes bareImage = Image();
    Bytes signedImage = SignedImage();
    Bytes appended = Image();
    Add(appended, GoodTail());
    Bytes signedAppended = SignedImage();
    Add(signedAppended, GoodTail());
    Bytes withoutTexts = Record(4661, Files());
    Add(withoutTexts, End);
    Bytes delivered = TextsRecord({"Remove Demo"});
    Add(delivered, End);
    Bytes cut = GoodTail();
    cut.pop_back();
    Bytes trailing = GoodTail();
    trailing.push_back(0);
    Bytes withImage = appended; // the appended form copied beside
    Bytes climbing = TextsRecord({"Remove Demo"});
    Add(climbing, Record(4661, {{".\\..\\..", "boot.ini", 0}}));
    Add(climbing, End);
    Bytes lyingCount = Record(4661, Files(), 1);
    Add(lyingCount, End);
    const Bytes none = {0xFF}; // marks "no file beside"

    struct Case {
        const char* why;
        Bytes program;
        Bytes beside;
        LogProblem expected;
        bool fromBeside;
        uint32_t files;
    } cases[] = {
        {"signed, the log beside it", signedImage, GoodTail(), LogOk, true, 3},
        {"signed PE32+, the log beside it", SignedImage(true), GoodTail(), LogOk, true, 3},
        {"signed, a log beside it without texts", signedImage, withoutTexts, LogOk, true, 3},
        {"signed, nothing beside it", signedImage, none, LogNotWritten, true, 0},
        {"signed, a log after its image but none beside", signedAppended, none, LogNotWritten, true, 0},
        {"signed, beside it only the texts", signedImage, delivered, LogNotWritten, true, 0},
        {"signed, an empty file beside it", signedImage, {}, LogDamaged, true, 0},
        {"signed, the log beside it cut short", signedImage, cut, LogDamaged, true, 0},
        {"signed, a byte after the terminator", signedImage, trailing, LogDamaged, true, 0},
        {"signed, a program image beside it", signedImage, withImage, LogDamaged, true, 0},
        {"signed, a path climbing out", signedImage, climbing, LogDamaged, true, 0},
        {"signed, a count that lies", signedImage, lyingCount, LogDamaged, true, 0},
        {"unsigned reads its own log, not the file beside", appended, withoutTexts, LogOk, false, 3},
        {"unsigned without a log, a log beside it", bareImage, GoodTail(), LogDamaged, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        TempDir dir;
        std::string program = dir.File("uninst.exe");
        WriteBytes(program, c.program);
        if (c.beside != none)
            WriteBytes(program + ".log", c.beside);
        InstalledLog loaded;
        UninstallLogView view;
        EXPECT_EQ(LoadUninstallLog(program.c_str(), &loaded, &view), c.expected);
        EXPECT_EQ(loaded.beside, c.fromBeside);
        if (c.fromBeside) {
            EXPECT_EQ(std::string(loaded.besidePath), program + ".log");
        }
        if (c.expected == LogOk) {
            EXPECT_EQ(view.fileCount, c.files);
        }
        FreeInstalledLog(&loaded);
    }

    InstalledLog loaded;
    UninstallLogView view;
    EXPECT_EQ(LoadUninstallLog("/nonexistent/uninst.exe", &loaded, &view), LogUnreadable);
}

TEST(LogReaderTest, KnowsASignedImage)
{
    Bytes fewDirectories = SignedImage();
    fewDirectories[0x40 + 24 + 92] = 4; // no certificate table entry
    Bytes shortOptional = SignedImage();
    shortOptional[0x40 + 20] = 96; // the directories lie past the header
    Bytes headersCut = SignedImage();
    headersCut.resize(0x100);
    Bytes unknownMagic = SignedImage();
    unknownMagic[0x40 + 24 + 1] = 0x03;
    struct Case {
        const char* why;
        Bytes bytes;
        bool expected;
    } cases[] = {
        {"unsigned", Image(), false},
        {"signed PE32", SignedImage(), true},
        {"signed PE32+", SignedImage(true), true},
        {"four data directories", fewDirectories, false},
        {"optional header too short", shortOptional, false},
        {"unknown optional header", unknownMagic, false},
        {"cut inside the headers", headersCut, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PeHasSignature(c.bytes.data(), static_cast<uint32_t>(c.bytes.size())), c.expected) << c.why;
}

// The installer's writer and the reader agree on the file beside a signed
// uninstaller, which replaces the one an earlier installation left.
TEST(LogReaderTest, ReadsTheLogTheInstallerWritesBesideIt)
{
    TempDir dir;
    std::string program = dir.File("uninst.exe");
    WriteBytes(program, SignedImage());
    WriteBytes(program + ".log", Bytes(3000, 0x41)); // an earlier installation's
    Bytes group = {1, 0, 'B', 'y', 'e', 0};

    FileHandle log = CreateUninstallLogBeside(program.c_str(), group.data(), static_cast<uint32_t>(group.size()));
    ASSERT_NE(log, INVALID_FILE_HANDLE);
    uint32_t head = BeginLogRecord(log, LogTagFiles);
    ASSERT_TRUE(WriteLogFile(log, "C:\\App\\sub\\b.dat", "C:\\App\\", 0));
    EndLogRecord(log, head, LogTagFiles, 1);
    WriteLogKey(log, LogRootLocalMachine, AppKey.c_str());
    WriteLogHead(log, LogTagEnd, 0);
    CloseFile(log);

    InstalledLog loaded;
    UninstallLogView view;
    ASSERT_EQ(LoadUninstallLog(program.c_str(), &loaded, &view), LogOk);
    EXPECT_TRUE(loaded.beside);
    ASSERT_EQ(view.textsSize, group.size());
    EXPECT_EQ(Bytes(view.texts, view.texts + view.textsSize), group);
    ASSERT_EQ(view.fileCount, 1u);
    ByteCursor items = view.files;
    EXPECT_EQ(Path(NextLogFile(&items), "C:\\App\\"), "C:\\App\\sub\\b.dat");
    EXPECT_TRUE(view.hasKey);
    FreeInstalledLog(&loaded);
    // The program itself is as it was signed.
    EXPECT_EQ(ReadBytes(program), SignedImage());

    std::string longPath(PathSize - 4, 'a');
    char out[PathSize];
    EXPECT_FALSE(UninstallLogBesidePath(longPath.c_str(), out));
    EXPECT_TRUE(UninstallLogBesidePath(longPath.substr(1).c_str(), out));
    EXPECT_EQ(CreateUninstallLogBeside(longPath.c_str(), nullptr, 0), INVALID_FILE_HANDLE);
}

} // namespace
