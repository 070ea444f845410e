// [uninstaller] in a manifest: the project's uninstaller packed as the
// package's uninstaller entry, its texts written into the packed copy
// where the uninstaller reads them, and the manifests refused.
#ifdef ZEVRIN_HAVE_AUTHORING

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../fuzz/log_input.h"
#include "authoring/manifest.h"
#include "authoring/package_writer.h"
#include "authoring/uninstaller_copy.h"
#include "package_writer_support.h"
#include "stub/shared/messages.h"
#include "stub/engine/log_reader.h"
#include "uninstaller/texts.h"

using namespace zevrin;
using namespace writer_test;

namespace {

class UninstallerAuthoringTest : public PackageFixture {
protected:
    bool Load(const std::string& text, Manifest* m, std::string* error)
    {
        return LoadManifest(Put("test.toml", text), m, error);
    }
};

TEST_F(UninstallerAuthoringTest, PacksTheUninstallerWithItsTexts)
{
    Bytes program = loginput::Image();
    loginput::Add(program, loginput::End());
    Put("uninstall.exe", program);
    Put("readme.txt", std::string("read me\n"));
    Manifest m;
    std::string error;
    ASSERT_TRUE(Load(Head() + R"(
[[files]]
source = "readme.txt"

[uninstaller]
program = "uninstall.exe"
name = "remove.exe"
start_menu = { folder = "Zevrin", name = "Remove Zevrin" }

[uninstaller.texts]
confirm = "Take %s away?"
done = "All gone."
)",
                     &m, &error))
        << error;
    EXPECT_EQ(m.uninstallName, "Zevrin Test") << "the product names the uninstall entry";
    ASSERT_EQ(m.files.size(), 2u);
    ManifestFile& f = m.files.back();
    EXPECT_TRUE(f.uninstaller);
    EXPECT_EQ(f.name, "remove.exe");
    EXPECT_EQ(f.location, LocationInstall);
    EXPECT_EQ(f.menuFolders, "Zevrin");
    EXPECT_EQ(f.menuName, "Remove Zevrin");

    // As `zevrin build` packs it: from the copy holding its texts.
    ASSERT_TRUE(WriteUninstallerCopy(&f, dir.File("copy.exe"), &error)) << error;
    EXPECT_EQ(f.source, dir.File("copy.exe"));
    BuildOptions options;
    options.output = dir.File("SETUP.EXE");
    options.stubPath = dir.File("stub.exe");
    options.level = 9;
    ASSERT_TRUE(BuildPackage(m, options, nullptr, &error)) << error;
    ASSERT_TRUE(ReadBack(dir.File("SETUP.EXE")));
    std::vector<Bytes> unpacked = UnpackAll(dir);
    ASSERT_EQ(unpacked.size(), 2u);
    const Bytes& packed = unpacked[1];

    // What the uninstaller finds behind its image: the texts, and no log
    // until an installation writes one in place of the terminator.
    UninstallLogView log;
    ASSERT_EQ(ReadUninstallLog(packed.data(), static_cast<uint32_t>(packed.size()), &log), LogNotWritten);
    ASSERT_NE(log.texts, nullptr);
    EXPECT_EQ(Bytes(packed.end() - 8, packed.end()), loginput::End());
    FreeAndClear(&MessageGroups[GroupMessages]);
    AllocWithRetry(log.textsSize, &MessageGroups[GroupMessages]);
    std::memcpy(MessageGroups[GroupMessages], log.texts, log.textsSize);
    EXPECT_STREQ(GetMessageText(GroupMessages, UninstallTitle), "Zevrin Test Uninstall");
    EXPECT_STREQ(GetMessageText(GroupMessages, UninstallConfirm), "Take %s away?");
    EXPECT_STREQ(GetMessageText(GroupMessages, UninstallDone), "All gone.");
    EXPECT_STREQ(GetMessageText(GroupMessages, UninstallDamaged), "") << "left to the program's default";
    FreeAndClear(&MessageGroups[GroupMessages]);
}

// A signed program cannot take texts or a log: it is packed as it is, and
// the package asks for its texts and log beside it.
TEST_F(UninstallerAuthoringTest, PacksASignedUninstallerAsItIs)
{
    Bytes program = loginput::SignedImage();
    Put("uninstall.exe", program);
    Manifest m;
    std::string error;
    ASSERT_TRUE(Load(Head() + "[uninstaller]\nprogram = \"uninstall.exe\"\n[uninstaller.texts]\ndone = \"Gone.\"\n",
                     &m, &error))
        << error;
    ManifestFile& f = m.files.back();
    bool isSigned = false;
    ASSERT_TRUE(WriteUninstallerCopy(&f, dir.File("copy.exe"), &error, nullptr, &isSigned)) << error;
    ASSERT_TRUE(isSigned);
    EXPECT_EQ(f.source, dir.File("uninstall.exe")) << "the signed program itself is packed";
    PackLogBeside(&m, f);
    BuildOptions options;
    options.output = dir.File("SETUP.EXE");
    options.stubPath = dir.File("stub.exe");
    options.level = 9;
    ASSERT_TRUE(BuildPackage(m, options, nullptr, &error)) << error;
    ASSERT_TRUE(ReadBack(dir.File("SETUP.EXE")));
    EXPECT_TRUE(LogBeside());
    EXPECT_TRUE(LogFolders());
    std::vector<Bytes> unpacked = UnpackAll(dir);
    ASSERT_EQ(unpacked.size(), 1u);
    EXPECT_EQ(unpacked[0], program);

    // Record 4700 is the texts' message group, as the uninstaller reads it.
    ASSERT_NE(UninstallerTexts, nullptr);
    FreeAndClear(&MessageGroups[GroupMessages]);
    AllocWithRetry(BlockSize(UninstallerTexts), &MessageGroups[GroupMessages]);
    std::memcpy(MessageGroups[GroupMessages], UninstallerTexts, BlockSize(UninstallerTexts));
    EXPECT_STREQ(GetMessageText(GroupMessages, UninstallTitle), "Zevrin Test Uninstall");
    EXPECT_STREQ(GetMessageText(GroupMessages, UninstallDone), "Gone.");
    FreeAndClear(&MessageGroups[GroupMessages]);

    // Unsigned, the same manifest asks for nothing beside it.
    ForgetPackageHeader();
    Manifest plain;
    ASSERT_TRUE(Load(Head() + "[uninstaller]\nprogram = \"plain.exe\"\n", &plain, &error)) << error;
    Bytes unsignedProgram = loginput::Image();
    loginput::Add(unsignedProgram, loginput::End());
    Put("plain.exe", unsignedProgram);
    isSigned = false;
    ASSERT_TRUE(WriteUninstallerCopy(&plain.files.back(), dir.File("copy.exe"), &error, nullptr, &isSigned)) << error;
    EXPECT_FALSE(isSigned);
    EXPECT_FALSE(plain.files.back().logBeside);
}

TEST_F(UninstallerAuthoringTest, RefusesWhatCannotWork)
{
    Put("uninstall.exe", Bytes{'M', 'Z', 0x7F, 0x7F, 0, 0, 0, 0, 0, 0});
    Put("other.exe", Bytes{'M', 'Z', 0x7F, 0x7F, 0, 0, 0, 0, 0, 0});
    const std::string program = "[uninstaller]\nprogram = \"uninstall.exe\"\n";
    struct Case {
        const char* why;
        std::string text;
        const char* error;
    } cases[] = {
        {"two placeholders", program + "[uninstaller.texts]\nconfirm = \"%s and %s\"\n",
         "uninstaller.texts.confirm: has 2 placeholders"},
        {"a number placeholder", program + "[uninstaller.texts]\ndone = \"%d removed\"\n",
         "uninstaller.texts.done: '%d' is not a placeholder here"},
        {"an unknown text", program + "[uninstaller.texts]\ngoodbye = \"Bye\"\n",
         "uninstaller.texts.goodbye: unknown key"},
        {"a sub-folder", program + "name = \"bin\\\\remove.exe\"\n", "uninstaller.name: names a folder"},
        {"a second uninstaller", program + "[[files]]\nsource = \"other.exe\"\nuninstaller = true\n",
         "a package has one uninstaller"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Manifest m;
        std::string error;
        EXPECT_FALSE(Load(Head() + c.text, &m, &error));
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}

} // namespace

#endif
