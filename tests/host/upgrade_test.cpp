// Upgrading an installed version: which old log is taken, what becomes of
// each old file and shortcut, the keep patterns, a file the user changed,
// and the one log the old and the new log become.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "../../stub/engine/file_table.h"
#include "../../stub/engine/log_reader.h"
#include "../../stub/engine/uninstall_log.h"
#include "../../stub/engine/upgrade.h"
#include "../../stub/shared/checksum.h"
#include "../fuzz/log_input.h"
#include "test_support.h"

namespace {

using namespace loginput;

const std::string ProductKey = loginput::AppKey;
const char OldUninstaller[] = "C:\\App\\uninst.exe";

Bytes LogOf(const std::vector<Bytes>& records)
{
    Bytes out = Image();
    Add(out, TextsRecord({"Remove Demo"}));
    for (const Bytes& r : records)
        Add(out, r);
    Add(out, End());
    return out;
}

// A copy of `bytes` in a block AcceptPrevious may own.
uint8_t* Owned(const Bytes& bytes)
{
    uint8_t* block = nullptr;
    EXPECT_TRUE(AllocWithRetry(static_cast<uint32_t>(bytes.size()), &block));
    std::memcpy(block, bytes.data(), bytes.size());
    return block;
}

bool Accept(PreviousInstall* previous, const Bytes& bytes, const char* registered = OldUninstaller,
            const std::string& key = ProductKey, bool perUser = false)
{
    return AcceptPrevious(previous, Owned(bytes), static_cast<uint32_t>(bytes.size()), false, OldUninstaller, registered,
                          key.c_str(), perUser);
}

UninstallLogView View(const Bytes& bytes)
{
    UninstallLogView view;
    EXPECT_EQ(ReadUninstallLog(bytes.data(), static_cast<uint32_t>(bytes.size()), &view), LogOk);
    return view;
}

std::vector<std::string> FilePaths(const UninstallLogView& view, const char* dir)
{
    std::vector<std::string> paths;
    ByteCursor items = view.files;
    for (uint32_t i = 0; i < view.fileCount; ++i) {
        char path[PathSize];
        paths.push_back(LogItemPath(NextLogFile(&items), dir, path) ? path : "(none)");
    }
    return paths;
}

// Only a log our reader accepts, written for this product's key under the
// same root by the uninstaller the key names, is upgraded; anything else
// installs as before.
TEST(UpgradeTest, TakesOnlyTheProductsOwnAcceptedLog)
{
    Bytes files = Record(4661, {{".", "a.exe", 0}});
    Bytes good = LogOf({files, KeyRecord(ProductKey)});
    Bytes cut = good;
    cut.pop_back();
    struct Case {
        const char* why;
        Bytes bytes;
        const char* registered;
        std::string key;
        bool perUser;
        bool accepted;
    } cases[] = {
        {"the product's own log", good, OldUninstaller, ProductKey, false, true},
        {"registered in quotes, other letters", good, "\"c:\\app\\UNINST.exe\"", ProductKey, false, true},
        {"a damaged log", cut, OldUninstaller, ProductKey, false, false},
        {"as delivered, never installed", LogOf({}), OldUninstaller, ProductKey, false, false},
        {"another product's key", good, OldUninstaller, ProductKey + "2", false, false},
        {"a log without a key", LogOf({files}), OldUninstaller, ProductKey, false, false},
        {"machine-wide log, per-user package", good, OldUninstaller, ProductKey, true, false},
        {"the key names another uninstaller", good, "D:\\Copy\\uninst.exe", ProductKey, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        PreviousInstall previous;
        EXPECT_EQ(Accept(&previous, c.bytes, c.registered, c.key, c.perUser), c.accepted);
        EXPECT_EQ(previous.bytes != nullptr, c.accepted) << "a refused log is freed";
        if (c.accepted) {
            EXPECT_STREQ(previous.installDir, "C:\\App\\");
        }
        ForgetPrevious(&previous);
    }
}

TEST(UpgradeTest, KeepPatterns)
{
    struct Case {
        const char* keep;
        const char* path;
        bool kept;
    } cases[] = {
        {"saves\\*", "saves\\slot1.sav", true},
        {"saves\\*", "SAVES\\deep\\slot1.sav", true}, // '*' crosses folders, letters in any case
        {"saves\\*", "saves", false},
        {"*.ini", "config.ini", true},
        {"*.ini", "sub\\config.ini", true},
        {"*.ini", "config.ini.bak", false},
        {"level?.dat", "level3.dat", true},
        {"level?.dat", "level10.dat", false},
        {"a.txt|saves\\*|*.cfg", "user.cfg", true},
        {"a.txt||b.txt", "b.txt", true},
        {"", "a.txt", false},
        {nullptr, "a.txt", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MatchesKeep(c.keep, c.path), c.kept) << (c.keep ? c.keep : "(none)") << " / " << c.path;
}

// What becomes of one old file: shipped again, dropped and removed, or
// dropped and kept (a keep pattern, a file the new table has but did not
// write, an old log without sums).
TEST(UpgradeTest, PlansEachOldFile)
{
    const char* dir = "C:\\App\\";
    Bytes fresh = LogOf({Record(4661, {{".", "same.exe", 0}, {".\\data", "new.dat", 0}}), KeyRecord(ProductKey),
                         SumsRecord({{10, 1}, {20, 2}})});
    struct Case {
        const char* why;
        Item item;
        bool sums;
        const char* keep;
        std::vector<std::string> table;
        OldFate fate;
    } cases[] = {
        {"shipped again", {".", "same.exe", 0}, true, "", {}, FateShipped},
        {"shipped again, other letters", {".", "SAME.EXE", 0}, true, "", {}, FateShipped},
        {"dropped", {".\\data\\levels", "level3.dat", 0}, true, "", {}, FateRemove},
        {"a dropped shared file", {"C:\\WINDOWS\\SYSTEM", "lib.dll", LogItemShared}, true, "", {}, FateRemove},
        {"dropped but kept by the package", {".\\saves", "slot.sav", 0}, true, "saves\\*", {}, FateKeep},
        {"a pattern names only the install folder's paths", {"C:\\Saves", "slot.sav", 0}, true, "*slot.sav", {},
         FateRemove},
        {"in the table, not written (a newer one there)", {".", "lib.dll", 0}, true, "", {"C:\\App\\lib.dll"},
         FateKeep},
        {"an old log without sums", {".\\data\\levels", "level3.dat", 0}, false, "", {}, FateKeep},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        std::vector<Bytes> records = {Record(4661, {c.item}), KeyRecord(ProductKey)};
        if (c.sums)
            records.push_back(SumsRecord({{5, 5}}));
        PreviousInstall previous;
        ASSERT_TRUE(Accept(&previous, LogOf(records)));
        std::string table;
        for (const std::string& path : c.table)
            table += path + '\0';
        table += '\0';
        UpgradePlan plan;
        Bytes freshBytes = fresh;
        ASSERT_TRUE(PlanUpgrade(previous, View(freshBytes), dir, table.c_str(), c.keep, &plan));
        EXPECT_EQ(plan.files[0], c.fate);
        ForgetPlan(&plan);
        ForgetPrevious(&previous);
    }
}

TEST(UpgradeTest, PlansShortcutsAndTheRememberedFolder)
{
    Bytes old = LogOf({Record(4661, {}), Record(4662, {{"C:\\Menu\\Demo", "Demo.lnk", -1}, {"C:\\Menu\\Demo", "Old.lnk", -1}}),
                       KeyRecord(ProductKey), FoldersRecord({"C:\\App"}),
                       RegistryValueRecord(0x80000001, "Software\\Demo", "Folder", 1),
                       ProfileEntryRecord("demo.ini", "Setup", "Folder", 3)});
    struct Case {
        const char* why;
        Bytes registry, profile;
        bool sameRegistry, sameProfile;
    } cases[] = {
        {"the same places, other letters", RegistryValueRecord(0x80000001, "software\\demo", "FOLDER", 0),
         ProfileEntryRecord("DEMO.INI", "setup", "folder", 0), true, true},
        {"another value and profile key", RegistryValueRecord(0x80000001, "Software\\Demo", "Path", 0),
         ProfileEntryRecord("demo.ini", "Setup", "Path", 0), false, false},
        {"another root", RegistryValueRecord(0x80000002, "Software\\Demo", "Folder", 0), {}, false, false},
        {"remembered no more", {}, {}, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        PreviousInstall previous;
        ASSERT_TRUE(Accept(&previous, old));
        std::vector<Bytes> records = {Record(4661, {}), Record(4662, {{"c:\\menu\\demo", "demo.lnk", -1}}),
                                      KeyRecord(ProductKey), FoldersRecord({})};
        if (!c.registry.empty())
            records.push_back(c.registry);
        if (!c.profile.empty())
            records.push_back(c.profile);
        Bytes fresh = LogOf(records);
        UpgradePlan plan;
        ASSERT_TRUE(PlanUpgrade(previous, View(fresh), "C:\\App\\", nullptr, nullptr, &plan));
        EXPECT_EQ(plan.shortcuts[0], FateShipped);
        EXPECT_EQ(plan.shortcuts[1], FateRemove);
        EXPECT_EQ(plan.folders[0], 1);
        EXPECT_EQ(plan.sameRegistryValue, c.sameRegistry);
        EXPECT_EQ(plan.sameProfileEntry, c.sameProfile);
        ForgetPlan(&plan);
        ForgetPrevious(&previous);
    }
}

TEST(UpgradeTest, TellsAFileTheUserChanged)
{
    TempDir dir;
    std::string path = dir.File("notes.txt");
    Bytes installed = {'v', '1', ' ', 'n', 'o', 't', 'e', 's'};
    LogSum sum = {static_cast<uint32_t>(installed.size()),
                  RotateAddSum(installed.data(), static_cast<uint32_t>(installed.size()), 0)};
    struct Case {
        const char* why;
        Bytes now; // empty: gone
        LogSum installedSum;
        bool changed;
    } cases[] = {
        {"as installed", installed, sum, false},
        {"longer", {'v', '1', ' ', 'n', 'o', 't', 'e', 's', '!'}, sum, true},
        {"same size, other bytes", {'v', '1', ' ', 'N', 'O', 'T', 'E', 'S'}, sum, true},
        {"gone", {}, sum, false},
        {"no sum to tell by", {'x'}, LogSum(), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        std::remove(path.c_str());
        if (!c.now.empty())
            WriteBytes(path, c.now);
        EXPECT_EQ(ChangedSince(path.c_str(), c.installedSum), c.changed);
    }
}

// The writer's sums come after the remembered folder, one per file item,
// and the reader pairs them with the files.
TEST(UpgradeTest, WritesAndReadsTheSums)
{
    TempDir dir;
    std::string file = dir.File("uninst.exe");
    Bytes delivered = Image();
    Add(delivered, End());
    WriteBytes(file, delivered);
    FileHandle log = OpenUninstallLog(file.c_str());
    ASSERT_NE(log, INVALID_FILE_HANDLE);
    uint32_t head = BeginLogRecord(log, LogTagFiles);
    ASSERT_TRUE(WriteLogFile(log, "C:\\App\\a.exe", "C:\\App\\", 0));
    ASSERT_TRUE(WriteLogFile(log, "C:\\Desktop\\Demo.lnk", "C:\\App\\", 0));
    EndLogRecord(log, head, LogTagFiles, 2);
    WriteLogKey(log, LogRootLocalMachine, ProductKey.c_str());
    RememberMadeFolder("C:\\App");
    WriteLogFolders(log);
    ForgetMadeFolders();
    RememberLoggedSum(1234, 0xABCDEF01);
    RememberLoggedSum(LogNoSum, 0);
    WriteLogSums(log);
    ForgetLoggedSums();
    WriteLogHead(log, LogTagEnd, 0);
    CloseFile(log);

    Bytes bytes = ReadBytes(file);
    UninstallLogView view = View(bytes);
    ASSERT_TRUE(view.hasSums);
    ByteCursor sums = view.sums;
    LogSum first = NextLogSum(&sums);
    LogSum second = NextLogSum(&sums);
    EXPECT_EQ(first.size, 1234u);
    EXPECT_EQ(first.sum, 0xABCDEF01u);
    EXPECT_EQ(second.size, LogNoSum);

    // Without the folders, too.
    Bytes plain = LogOf({Record(4661, {{".", "a.exe", 0}}), KeyRecord(ProductKey), SumsRecord({{1, 2}})});
    EXPECT_TRUE(View(plain).hasSums);
}

// The one log: the new version's items, then the old ones kept with their
// old sums; old shortcuts kept; the old folders still there before the
// new ones; the key parts the old version made of the remembered folder.
TEST(UpgradeTest, MergesTheOldLogIntoTheNewOne)
{
    struct Case {
        const char* why;
        const char* oldDir; // where the old version was installed
        std::vector<std::string> expectedFiles;
    } cases[] = {
        {"the same install folder", "C:\\App\\",
         {"C:\\App\\same.exe", "C:\\App\\data\\new.dat", "C:\\App\\notes.txt", "C:\\App\\saves\\slot.sav"}},
        {"the old one elsewhere", "C:\\Old\\",
         {"C:\\App\\same.exe", "C:\\App\\data\\new.dat", "C:\\Old\\notes.txt", "C:\\Old\\saves\\slot.sav"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        std::string oldDir = c.oldDir;
        std::string oldFolder = oldDir.substr(0, oldDir.size() - 1);
        Bytes old = LogOf({Record(4661, {{".", "same.exe", 0},
                                         {".\\data\\levels", "level3.dat", 0},
                                         {".", "notes.txt", 0},
                                         {".\\saves", "slot.sav", 0}}),
                           Record(4662, {{"C:\\Menu\\Demo", "Old.lnk", -1}, {"C:\\Menu\\Demo", "Stuck.lnk", -1}}),
                           KeyRecord(ProductKey),
                           FoldersRecord({oldFolder, oldFolder + "\\data", oldFolder + "\\data\\levels"}),
                           RegistryValueRecord(0x80000001, "Software\\Demo\\Setup", "Folder", 2),
                           SumsRecord({{1, 1}, {2, 2}, {3, 3}, {4, 4}})});
        std::string registered = oldDir + "uninst.exe";
        PreviousInstall previous;
        ASSERT_TRUE(AcceptPrevious(&previous, Owned(old), static_cast<uint32_t>(old.size()), false, registered.c_str(),
                                   registered.c_str(), ProductKey.c_str(), false));
        Bytes fresh = LogOf({Record(4661, {{".", "same.exe", 0}, {".\\data", "new.dat", 0}}),
                             Record(4662, {{"C:\\Menu\\Demo", "Demo.lnk", -1}}), KeyRecord(ProductKey),
                             FoldersRecord({"C:\\App\\data", "C:\\App\\new"}),
                             RegistryValueRecord(0x80000001, "Software\\Demo\\Setup", "Folder", 0),
                             SumsRecord({{10, 10}, {20, 20}})});
        UninstallLogView freshView = View(fresh);
        UpgradePlan plan;
        ASSERT_TRUE(PlanUpgrade(previous, freshView, "C:\\App\\", nullptr, "saves\\*", &plan));
        // What the Win32 side found: notes.txt changed by the user, Stuck.lnk
        // could not be deleted, the emptied levels folder removed.
        plan.files[2] = FateKeep;
        plan.shortcuts[1] = FateKeep;
        plan.folders[2] = 0;

        uint8_t* merged = nullptr;
        uint32_t size = 0;
        ASSERT_TRUE(BuildMergedLog(previous, freshView, "C:\\App\\", plan, &merged, &size));
        Bytes whole(fresh.begin(), fresh.begin() + freshView.logStart);
        whole.insert(whole.end(), merged, merged + size);
        FreeAndClear(&merged);
        UninstallLogView view = View(whole);
        EXPECT_EQ(FilePaths(view, "C:\\App\\"), c.expectedFiles);
        ASSERT_TRUE(view.hasSums);
        ByteCursor sums = view.sums;
        std::vector<uint32_t> sizes;
        for (uint32_t i = 0; i < view.fileCount; ++i)
            sizes.push_back(NextLogSum(&sums).size);
        EXPECT_EQ(sizes, (std::vector<uint32_t>{10, 20, 3, 4})) << "old items keep the sums they were installed with";
        ASSERT_EQ(view.shortcutCount, 2u);
        ByteCursor items = view.shortcuts;
        NextLogShortcut(&items);
        LogItem stuck = NextLogShortcut(&items);
        EXPECT_EQ(std::string(stuck.name.text, stuck.name.length), "Stuck.lnk");
        ASSERT_TRUE(view.hasKey);
        EXPECT_EQ(std::string(view.key.text, view.key.length), ProductKey);
        std::vector<std::string> folders;
        items = view.folders;
        for (uint32_t i = 0; i < view.folderCount; ++i) {
            LogText folder = NextLogFolder(&items);
            folders.push_back(std::string(folder.text, folder.length));
        }
        std::vector<std::string> expectedFolders = {oldFolder, oldFolder + "\\data"};
        for (const char* made : {"C:\\App\\data", "C:\\App\\new"})
            if (std::find(expectedFolders.begin(), expectedFolders.end(), made) == expectedFolders.end())
                expectedFolders.push_back(made);
        EXPECT_EQ(folders, expectedFolders) << "old folders first, none twice";
        ASSERT_TRUE(view.hasRegistryValue);
        EXPECT_EQ(view.registryMadeParts, 2) << "the keys the old version made are still the product's";
        ForgetPlan(&plan);
        ForgetPrevious(&previous);
    }
}

} // namespace
