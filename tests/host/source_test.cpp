// The byte source: streams read from files back to back, bounded reads,
// and the file-data region spread over package volumes with the disk
// prompt.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../../stub/decode/decoder.h"
#include "../../stub/shared/message_script.h"
#include "../../stub/shared/messages.h"
#include "stream_builder.h"
#include "test_support.h"

using namespace zevrin;

namespace {

std::string Noise(size_t size, uint32_t seed)
{
    std::string out(size, 0);
    for (char& c : out) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 23);
    }
    return out;
}

std::string Text(size_t size)
{
    static const char words[] = "the quick brown fox jumps over the lazy dog ";
    std::string out;
    while (out.size() < size)
        out += words[out.size() % (sizeof words - 1)];
    return out;
}

// One packaged file: its content and its stream. Stored blocks of noise
// and fixed-coded text, so that streams span several 4096-byte requests.
struct Packed {
    std::string content;
    std::vector<uint8_t> stream;
};

Packed StoredFile(size_t size, uint32_t seed)
{
    std::string content = Noise(size, seed);
    return {content, StreamBuilder().Stored(content, true).Bytes()};
}

Packed TextFile(size_t size)
{
    std::string content = Text(size);
    return {content, StreamBuilder().Head(5, true).FixedLiterals(content).FixedEnd().Bytes()};
}

class SourceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::vector<std::string> group6(32);
        group6[0] = "Zevrin Test";
        group6[13] = "Do you want to cancel the installation?";
        group6[28] = "Please insert disk number %d.";
        SetMessageGroup(6, GroupBytes(group6));
        ScriptMessageAnswers({});
        SetMessageHook(nullptr);
        PageResult = 0;
        ErrorCode = 0;
        PackageHandle = INVALID_FILE_HANDLE;
    }
    void TearDown() override
    {
        CloseFile(PackageHandle);
        PackageHandle = INVALID_FILE_HANDLE;
        SetMessageHook(nullptr);
        ClearMessageGroups();
    }

    TempDir dir;
};

TEST_F(SourceTest, StreamsBackToBackInOneFile)
{
    // Laid out like message groups: u32 size, stream, u32 size, stream...
    std::vector<Packed> items{TextFile(3), StoredFile(5000, 1), Packed{"", {0x0D, 0x00}}, TextFile(9000),
                              StoredFile(10, 2)};
    std::vector<uint8_t> file;
    std::vector<uint32_t> ends;
    for (const Packed& p : items) {
        AppendU32(file, static_cast<uint32_t>(p.content.size()));
        file.insert(file.end(), p.stream.begin(), p.stream.end());
        ends.push_back(static_cast<uint32_t>(file.size()));
    }
    std::string path = dir.File("groups.bin");
    WriteBytes(path, file);

    FileHandle handle = OpenExisting(path.c_str(), 0);
    ASSERT_NE(handle, INVALID_FILE_HANDLE);
    for (size_t i = 0; i < items.size(); ++i) {
        SCOPED_TRACE(i);
        uint8_t sizeField[4];
        ASSERT_EQ(ReadExact(handle, sizeField, 4), 0);
        uint32_t size = sizeField[0] | sizeField[1] << 8 | sizeField[2] << 16 | sizeField[3] << 24;
        uint8_t* block = nullptr;
        ASSERT_TRUE(AllocZeroedWithRetry(size, &block));
        EXPECT_TRUE(DecodeToMemory(block, handle, 0));
        EXPECT_EQ(std::string(reinterpret_cast<char*>(block), size), items[i].content);
        EXPECT_EQ(Tell(handle), ends[i]) << "the decode must stop right after its stream";
        FreeAndClear(&block);
    }
    CloseFile(handle);
}

TEST_F(SourceTest, MemoryDecodeThatOverflowsStillLeavesFileAfterStream)
{
    Packed big = TextFile(6000);
    std::vector<uint8_t> file = big.stream;
    file.push_back(0x5A);
    std::string path = dir.File("over.bin");
    WriteBytes(path, file);
    FileHandle handle = OpenExisting(path.c_str(), 0);
    std::vector<uint8_t> block(100 + 8, 0xEE);
    EXPECT_FALSE(DecodeToMemory(block.data(), 100, handle, 0));
    EXPECT_EQ(std::string(block.begin(), block.begin() + 100), big.content.substr(0, 100));
    EXPECT_EQ(block[100], 0xEE);
    EXPECT_EQ(Tell(handle), big.stream.size());
    CloseFile(handle);
}

TEST_F(SourceTest, BoundedSourceStopsAtItsLimit)
{
    Packed item = StoredFile(9000, 3);
    std::vector<uint8_t> file = item.stream;
    file.insert(file.end(), 5000, 0x77);
    std::string path = dir.File("bounded.bin");
    WriteBytes(path, file);
    uint32_t size = static_cast<uint32_t>(item.stream.size());

    struct Case {
        const char* why;
        uint32_t limit;
        bool ok;
        uint32_t position;
    } cases[] = {
        {"stream ends exactly at the limit", size, true, size},
        {"limit inside the stream: never reads past it", size - 100, false, size - 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        PackageHandle = OpenExisting(path.c_str(), 0);
        VolumeDataLength = VolumeBytesLeft = static_cast<uint32_t>(file.size());
        EXPECT_EQ(DecodeToFile(INVALID_FILE_HANDLE, PackageHandle, c.limit), c.ok);
        EXPECT_EQ(Tell(PackageHandle), c.position);
        EXPECT_TRUE(ShownMessages().empty());
        CloseFile(PackageHandle);
        PackageHandle = INVALID_FILE_HANDLE;
    }
}

TEST(VolumeNameTest, ReplaceExtension)
{
    struct Case {
        const char* path;
        const char* extension;
        const char* expected;
    } cases[] = {
        {"C:\\SETUP.EXE", ".D01", "C:\\SETUP.D01"},
        {"C:\\SETUP.D01", ".D02", "C:\\SETUP.D02"},
        {"A.B\\SETUP", ".D01", "A.B\\SETUP.D01"},
        {"SETUP", ".D01", "SETUP.D01"},
        {"C:\\SETUP.D99", ".D100", "C:\\SETUP.D100"},
        {"dir.x/setup", ".D01", "dir.x/setup.D01"},
    };
    for (const Case& c : cases) {
        char path[PathSize] = {};
        std::strcpy(path, c.path);
        ReplaceExtension(path, c.extension);
        EXPECT_STREQ(path, c.expected);
    }
    // A name that cannot grow any further stays inside its buffer.
    char full[PathSize];
    std::memset(full, 'x', PathSize - 1);
    full[PathSize - 1] = 0;
    ReplaceExtension(full, ".D01");
    EXPECT_EQ(std::strlen(full), PathSize - 1);
}

// A package whose file-data region is split over SETUP.EXE, SETUP.D01 and
// SETUP.D02 at chosen offsets of the region.
class VolumeTest : public SourceTest {
protected:
    void Build(const std::vector<Packed>& files, std::vector<uint32_t> splits)
    {
        files_ = files;
        std::vector<uint8_t> region;
        for (const Packed& p : files)
            region.insert(region.end(), p.stream.begin(), p.stream.end());
        splits.insert(splits.begin(), 0);
        splits.push_back(static_cast<uint32_t>(region.size()));
        const std::string header = "STUB AND HEADER";
        for (size_t v = 0; v + 1 < splits.size(); ++v) {
            std::vector<uint8_t> volume;
            if (v == 0)
                volume.assign(header.begin(), header.end());
            AppendU32(volume, splits[v + 1] - splits[v]);
            volume.insert(volume.end(), region.begin() + splits[v], region.begin() + splits[v + 1]);
            WriteBytes(VolumePath(v), volume);
        }
        std::snprintf(PackageSourcePath, PathSize, "%s", VolumePath(0).c_str());
        std::snprintf(PackagePath, PathSize, "%s", PackageSourcePath);
        PackageHandle = OpenExisting(PackagePath, 0);
        SeekTo(PackageHandle, static_cast<uint32_t>(header.size()) + 4);
        VolumeNumber = 0;
        VolumeDataLength = VolumeBytesLeft = splits[1];
    }
    std::string VolumePath(size_t v) const
    {
        char name[32];
        if (v == 0)
            std::snprintf(name, sizeof name, "SETUP.EXE");
        else
            std::snprintf(name, sizeof name, "SETUP.D%02u", static_cast<unsigned>(v));
        return dir.File(name);
    }
    // Installs every file in order (skipping those marked), as the
    // installer does, and checks what reached the disk.
    void InstallAll(const std::vector<bool>& skip = {})
    {
        for (size_t i = 0; i < files_.size(); ++i) {
            SCOPED_TRACE(i);
            bool skipped = i < skip.size() && skip[i];
            std::string out = dir.File("out" + std::to_string(i));
            FileHandle target = skipped ? INVALID_FILE_HANDLE : CreateAlways(out.c_str());
            EXPECT_TRUE(DecodeToFile(target, PackageHandle, static_cast<uint32_t>(files_[i].stream.size())));
            CloseFile(target);
            if (!skipped) {
                std::vector<uint8_t> got = ReadBytes(out);
                EXPECT_EQ(std::string(got.begin(), got.end()), files_[i].content);
            }
        }
    }
    std::vector<Packed> files_;
};

TEST_F(VolumeTest, ReadsAcrossVolumes)
{
    std::vector<Packed> files{StoredFile(9000, 1), TextFile(7000), StoredFile(300, 2), StoredFile(20000, 3)};
    uint32_t s0 = static_cast<uint32_t>(files[0].stream.size());
    uint32_t s1 = static_cast<uint32_t>(files[1].stream.size());
    struct Case {
        const char* why;
        std::vector<uint32_t> splits;
        std::vector<bool> skip;
    } cases[] = {
        {"a request straddles each volume end", {s0 + 1000, s0 + s1 + 2000}, {}},
        {"volume ends exactly on a request boundary", {4096, s0 + 3 * 4096}, {}},
        {"volume ends exactly between two streams", {s0, s0 + s1}, {}},
        {"skipped files advance the volumes the same way", {s0 + 1000, s0 + s1 + 2000}, {true, false, true, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Build(files, c.splits);
        InstallAll(c.skip);
        EXPECT_EQ(VolumeNumber, 2u);
        EXPECT_EQ(std::string(PackagePath), VolumePath(2));
        EXPECT_EQ(VolumeBytesLeft, 0u);
        EXPECT_TRUE(ShownMessages().empty());
        CloseFile(PackageHandle);
        PackageHandle = INVALID_FILE_HANDLE;
    }
}

TEST_F(VolumeTest, MissingVolumePromptsForItsDisk)
{
    std::vector<Packed> files{StoredFile(9000, 4), TextFile(5000)};
    uint32_t split = static_cast<uint32_t>(files[0].stream.size()) + 700;
    Build(files, {split});
    std::string d01 = VolumePath(1);
    std::vector<uint8_t> saved = ReadBytes(d01);
    std::remove(d01.c_str());

    // OK with the disk still missing; Cancel, then No to giving up; then
    // the disk is there and OK goes on.
    int box = 0;
    SetMessageHook([&](const ShownMessage&) {
        switch (box++) {
        case 0: return static_cast<int>(AnswerOk);
        case 1: return static_cast<int>(AnswerCancel);
        case 2: return static_cast<int>(AnswerNo);
        default: WriteBytes(d01, saved); return static_cast<int>(AnswerOk);
        }
    });
    InstallAll();
    const std::vector<ShownMessage>& shown = ShownMessages();
    ASSERT_EQ(shown.size(), 4u);
    for (int i : {0, 1, 3}) {
        EXPECT_EQ(shown[i].text, "Please insert disk number 2.");
        EXPECT_EQ(shown[i].type, static_cast<unsigned>(MessageOkCancel));
        EXPECT_EQ(shown[i].caption, "Zevrin Test");
    }
    EXPECT_EQ(shown[2].text, GetMessageText(6, 13));
    EXPECT_EQ(shown[2].type, static_cast<unsigned>(MessageYesNo));
    EXPECT_EQ(PageResult, 0);
    EXPECT_EQ(VolumeNumber, 1u);
}

TEST_F(VolumeTest, GivingUpAtThePromptCancelsTheInstallation)
{
    struct Case {
        const char* why;
        std::vector<uint8_t> d01; // empty: no file at all
    } cases[] = {
        {"volume missing", {}},
        {"volume whose head cannot be read", {0x01, 0x02}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        std::vector<Packed> files{StoredFile(9000, 5)};
        Build(files, {5000});
        std::remove(VolumePath(1).c_str());
        if (!c.d01.empty())
            WriteBytes(VolumePath(1), c.d01);
        static uint8_t entry[4];
        PendingViewEntry = PendingLaunchEntry = PendingScreenSaverEntry = entry;
        ScriptMessageAnswers({AnswerCancel, AnswerYes});

        std::string out = dir.File("partial");
        FileHandle target = CreateAlways(out.c_str());
        EXPECT_FALSE(DecodeToFile(target, PackageHandle, static_cast<uint32_t>(files[0].stream.size())));
        CloseFile(target);
        EXPECT_EQ(PageResult, PageCancel);
        EXPECT_EQ(ErrorCode, ErrorNotCompleted);
        EXPECT_EQ(PendingViewEntry, nullptr);
        EXPECT_EQ(PendingLaunchEntry, nullptr);
        EXPECT_EQ(PendingScreenSaverEntry, nullptr);
        EXPECT_EQ(PackageHandle, INVALID_FILE_HANDLE);
        ASSERT_EQ(ShownMessages().size(), 2u);
        EXPECT_EQ(ShownMessages()[0].text, "Please insert disk number 2.");
        PageResult = 0;
        ErrorCode = 0;
    }
}

TEST_F(VolumeTest, ResumeReopensTheSameVolumeWhereItFailed)
{
    std::vector<Packed> files{StoredFile(3000, 6)};
    Build(files, {1000});
    // As if a read inside volume 1 had failed after 600 of its bytes.
    std::snprintf(PackagePath, PathSize, "%s", VolumePath(1).c_str());
    VolumeNumber = 1;
    VolumeDataLength = static_cast<uint32_t>(files[0].stream.size()) - 1000;
    VolumeBytesLeft = VolumeDataLength - 600;
    FileHandle handle = OpenNextVolume();
    ASSERT_NE(handle, INVALID_FILE_HANDLE);
    EXPECT_EQ(VolumeNumber, 1u);
    EXPECT_EQ(std::string(PackagePath), VolumePath(1));
    EXPECT_EQ(Tell(handle), 4u + 600u);
    EXPECT_EQ(VolumeBytesLeft, VolumeDataLength - 600);
    uint8_t byte;
    ASSERT_EQ(ReadExact(handle, &byte, 1), 0);
    EXPECT_EQ(byte, files[0].stream[1000 + 600]);
}

TEST_F(VolumeTest, VolumeShorterThanItsHeadFailsTheFile)
{
    std::vector<Packed> files{StoredFile(9000, 7)};
    Build(files, {5000});
    std::vector<uint8_t> d01 = ReadBytes(VolumePath(1));
    d01.resize(d01.size() - 100);
    WriteBytes(VolumePath(1), d01);
    std::string out = dir.File("short");
    FileHandle target = CreateAlways(out.c_str());
    EXPECT_FALSE(DecodeToFile(target, PackageHandle, static_cast<uint32_t>(files[0].stream.size())));
    CloseFile(target);
    EXPECT_TRUE(ShownMessages().empty()) << "a damaged volume is no reason to ask for a disk";
}

TEST_F(VolumeTest, FailedWriteIsReportedAndTheStreamStillReadToItsEnd)
{
    std::vector<Packed> files{StoredFile(9000, 8), StoredFile(500, 9)};
    Build(files, {4000});
    // An output that takes no bytes, as a full disk: opened for reading.
    std::string out = dir.File("refuses");
    WriteBytes(out, {});
    FileHandle target = OpenExisting(out.c_str(), 0);
    EXPECT_EQ(DecodeToFileResult(target, PackageHandle, static_cast<uint32_t>(files[0].stream.size())),
              DecodeWriteFailed);
    CloseFile(target);
    // The next file follows as if the first had been written.
    std::string next = dir.File("next");
    target = CreateAlways(next.c_str());
    EXPECT_EQ(DecodeToFileResult(target, PackageHandle, static_cast<uint32_t>(files[1].stream.size())), DecodeOk);
    CloseFile(target);
    std::vector<uint8_t> got = ReadBytes(next);
    EXPECT_EQ(std::string(got.begin(), got.end()), files[1].content);
}

} // namespace
