// Fixtures for the authoring tests: a stand-in installer stub, a tiny
// template set that needs no resource compiler, the demo program built by
// MinGW, and reading a written package back with the installer's own
// header reader and decoder.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../../stub/decode/decoder.h"
#include "../../stub/engine/file_table.h"
#include "../../stub/shared/checksum.h"
#include "../../stub/shared/message_script.h"
#include "../../stub/startup/header.h"
#include "../../stub/shared/messages.h"
#include "template_builder.h"
#include "test_support.h"

namespace writer_test {

typedef std::vector<uint8_t> Bytes;

inline void PutU16(Bytes& out, uint16_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

inline uint32_t GetU32(const uint8_t* p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// "MZ", filler, the 24-byte stamp record as the stub's data holds it,
// more filler. Offset of the stamp: `before`.
inline Bytes FakeStub(size_t before = 300, size_t after = 200)
{
    Bytes stub(before, 0xCC);
    stub.reserve(before + 24 + after);
    stub[0] = 'M';
    stub[1] = 'Z';
    const uint8_t stamp[24] = {0x77, 0x77, 0x67, 0x54, 0x29, 0x48, 0, 0, 0, 0, 0, 0,
                               0,    0,    0,    0,    0,    0,    0xFF, 0xFF, 0, 0, 0, 0};
    stub.insert(stub.end(), stamp, stamp + 24);
    stub.insert(stub.end(), after, 0xDD);
    return stub;
}

// A .res file with the eight dialogs (ids 100..107) the package needs,
// each a DLGTEMPLATE with only the controls the installer needs in it:
// enough for the writer, no windres needed. Template `replaced`, when
// one of them, is `replacement` instead.
inline Bytes TinyTemplatesRes(uint16_t replaced = 8, const Bytes& replacement = Bytes())
{
    auto entry = [](Bytes& out, uint16_t type, uint16_t name, const Bytes& data) {
        Bytes head;
        AppendU32(head, static_cast<uint32_t>(data.size()));
        AppendU32(head, 32); // header size
        PutU16(head, 0xFFFF);
        PutU16(head, type);
        PutU16(head, 0xFFFF);
        PutU16(head, name);
        AppendU32(head, 0);      // data version
        PutU16(head, 0x1030);    // memory flags
        PutU16(head, 0x0409);    // language
        AppendU32(head, 0);      // version
        AppendU32(head, 0);      // characteristics
        out.insert(out.end(), head.begin(), head.end());
        out.insert(out.end(), data.begin(), data.end());
        while (out.size() % 4)
            out.push_back(0);
    };
    Bytes res;
    entry(res, 0, 0, Bytes());
    for (uint16_t id = 100; id < 108; ++id) {
        std::vector<uint16_t> needed = NeededControlIds(id - 100u);
        DialogWriter dialog;
        dialog.U32(0x40000000).U32(0); // WS_CHILD
        dialog.U16(static_cast<uint16_t>(needed.size()));
        dialog.U16(id);                // x: tells the templates apart
        dialog.U16(10).U16(10).U16(10); // y, cx, cy
        dialog.None().None().Text(u""); // menu, class, title
        for (uint16_t control : needed)
            dialog.Static(control);
        entry(res, 5, id, id - 100u == replaced ? replacement : dialog.Bytes());
    }
    return res;
}

inline std::string SourceDir() { return ZEVRIN_SOURCE_DIR; }

inline bool HaveMinGW()
{
    return std::system("i686-w64-mingw32-gcc --version > /dev/null 2>&1") == 0 &&
           std::system("i686-w64-mingw32-windres --version > /dev/null 2>&1") == 0;
}

// Builds examples/demo/src (hello.c + hello.rc) into `dir`; the path of
// hello.exe, or empty when MinGW is missing or the build failed.
inline std::string BuildHello(const TempDir& dir)
{
    if (!HaveMinGW())
        return std::string();
    std::string src = SourceDir() + "/examples/demo/src";
    std::string exe = dir.File("hello.exe");
    std::string command = "i686-w64-mingw32-windres '" + src + "/hello.rc' -O coff -o '" + dir.File("hello.res.o") +
                          "' && i686-w64-mingw32-gcc -std=c99 -Os -s -mwindows '" + src + "/hello.c' '" +
                          dir.File("hello.res.o") + "' -lversion -o '" + exe + "'";
    if (std::system(command.c_str()) != 0)
        return std::string();
    return exe;
}

inline void ResetStamp()
{
    for (int i = 6; i < 10; ++i)
        StampRecord[i] = 0;
    StampRecord[18] = StampRecord[19] = 0xFF;
}

// Reads a written package with the installer's header reader: the stamp
// bytes the tool patched into the package's copy of the stub go into this
// process's stamp record first. `stampOffset` is where FakeStub put it.
inline bool ReadBack(const std::string& package, size_t stampOffset = 300)
{
    Bytes file = ReadBytes(package);
    if (file.size() < stampOffset + 24)
        return false;
    for (int i = 0; i < 24; ++i)
        StampRecord[i] = file[stampOffset + i];
    StartPage = StampStartPage();
    std::snprintf(PackageSourcePath, PathSize, "%s", package.c_str());
    return ReadPackageHeader();
}

// Unpacks every packed entry as the installer does: from DataLengthOffset
// + 4 of the package file, one bounded decode per entry, across volumes.
// External entries give an empty vector.
inline std::vector<Bytes> UnpackAll(const TempDir& dir)
{
    std::vector<Bytes> out;
    std::snprintf(PackagePath, PathSize, "%s", PackageSourcePath);
    PackageHandle = OpenExisting(PackagePath, 0);
    EXPECT_NE(PackageHandle, INVALID_FILE_HANDLE);
    SeekTo(PackageHandle, DataLengthOffset + 4);
    VolumeNumber = 0;
    const uint8_t* entry = FirstEntry;
    for (uint32_t i = 0; i < EntryCount; ++i, entry = NextEntry(entry)) {
        if (entry[EntryUninstallMode] == 2) {
            out.push_back(Bytes());
            continue;
        }
        // A copy has no stream: the bytes of the entry it names.
        if (entry[EntryFlags] & FlagSameAsEntry) {
            out.push_back(out.at(EntrySourceIndex(entry)));
            continue;
        }
        std::string target = dir.File("unpacked-" + std::to_string(i));
        FileHandle file = CreateAlways(target.c_str());
        EXPECT_TRUE(DecodeToFile(file, PackageHandle, ReadU32(entry + EntryPackedSize))) << "entry " << i;
        CloseFile(file);
        Bytes data = ReadBytes(target);
        EXPECT_EQ(data.size(), ReadU32(entry + EntryFileSize)) << "entry " << i;
        EXPECT_EQ(RotateAddSum(data.data(), static_cast<uint32_t>(data.size()), 0),
                  ReadU32(entry + EntryChecksum))
            << "entry " << i;
        out.push_back(data);
    }
    CloseFile(PackageHandle);
    PackageHandle = INVALID_FILE_HANDLE;
    return out;
}

// The installer's state between tests.
class PackageFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ForgetPackageHeader();
        StartPage = WizardMode;
        ScriptMessageAnswers({});
        WriteBytes(dir.File("stub.exe"), FakeStub());
        WriteBytes(dir.File("dialogs.res"), TinyTemplatesRes());
    }
    void TearDown() override
    {
        FreeHeaderData();
        ResetStamp();
        if (PackageHandle != INVALID_FILE_HANDLE)
            CloseFile(PackageHandle);
        PackageHandle = INVALID_FILE_HANDLE;
    }
    std::string Put(const std::string& name, const std::string& content)
    {
        WriteBytes(dir.File(name), Bytes(content.begin(), content.end()));
        return dir.File(name);
    }
    std::string Put(const std::string& name, const Bytes& content)
    {
        WriteBytes(dir.File(name), content);
        return dir.File(name);
    }
    // A manifest head naming the tiny templates, so no windres is needed.
    std::string Head(const std::string& product = "Zevrin Test") const
    {
        return "[product]\nname = \"" + product + "\"\n[wizard]\ntemplates = \"dialogs.res\"\n";
    }

    TempDir dir;
};

} // namespace writer_test
