// The package reader behind `zevrin list`, `verify` and `extract`, on
// hand-made packages: good ones in one and several volumes come back byte
// for byte; damaged and hostile ones give the right one-line reason.
#if defined(ZEVRIN_HAVE_AUTHORING) && defined(ZEVRIN_TEST_HOST)

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "authoring/encoder.h"
#include "authoring/package_reader.h"
#include "package_builder.h"
#include "test_support.h"

using namespace zevrin;

namespace {

typedef std::vector<uint8_t> Bytes;
typedef std::vector<Bytes> Volumes;

Bytes Sample(size_t n, unsigned seed, bool text)
{
    std::mt19937 random(seed);
    Bytes out(n);
    for (uint8_t& b : out)
        b = text ? static_cast<uint8_t>("the quick brown fox\n"[random() % 20]) : static_cast<uint8_t>(random());
    return out;
}

Bytes Deflated(const Bytes& data) { return EncodeStream(data.data(), data.size(), 9); }

class MemoryOutput : public FileOutput {
public:
    explicit MemoryOutput(Bytes* to) : to_(to) {}
    void Write(const uint8_t* data, size_t size) override { to_->insert(to_->end(), data, data + size); }

private:
    Bytes* to_;
};

// Keeps every file's bytes and check, by entry index.
class Collector : public FileVisitor {
public:
    FileOutput* Begin(const PackageEntry& entry) override
    {
        outputs_.emplace_back(new MemoryOutput(&bytes[entry.index]));
        return outputs_.back().get();
    }
    bool End(const PackageEntry& entry, const FileCheck& check) override
    {
        checks[entry.index] = check;
        return true;
    }
    void Progress(uint64_t done, uint64_t) override { progress = done; }

    std::map<uint32_t, Bytes> bytes;
    std::map<uint32_t, FileCheck> checks;
    uint64_t progress = 0;

private:
    std::vector<std::unique_ptr<MemoryOutput>> outputs_;
};

// Three files across a stored and a compressed stream; an external entry
// between them consumes no data.
SetupBuilder ThreeFiles()
{
    SetupBuilder b;
    b.compress = Deflated;
    b.Add("app\\hello.exe", Sample(20000, 1, false));
    b.Add("readme.txt", Sample(30000, 2, true));
    b.Add("extra.dat", {}).uninstallMode = 2;
    b.Add("data\\big.bin", Sample(70001, 3, false));
    return b;
}

class PackageReaderTest : public testing::Test {
protected:
    std::string Write(const Volumes& volumes) { return WriteVolumes(dir, volumes); }
    TempDir dir;
};

TEST_F(PackageReaderTest, GoodPackagesRoundTrip)
{
    struct Case {
        const char* why;
        std::function<void(SetupBuilder&)> setup;
        size_t volumes;
    } cases[] = {
        {"one volume, compressed", [](SetupBuilder&) {}, 1},
        {"one volume, stored blocks", [](SetupBuilder& b) { b.compress = StoredStream; }, 1},
        // Volume ends inside streams, right at a 4096-byte read, and one
        // volume inside one stream.
        {"three volumes, cut inside streams", [](SetupBuilder& b) { b.split = {5000, 4096 * 9}; }, 3},
        {"five volumes, one smaller than a read", [](SetupBuilder& b) {
             b.compress = StoredStream;
             b.split = {100, 4000, 70000, 20000};
         }, 5},
        {"empty files and nothing else", [](SetupBuilder& b) {
             b.files.clear();
             b.Add("empty.txt", {});
             b.Add("sub\\also-empty", {});
         }, 1},
        {"no files at all", [](SetupBuilder& b) { b.files.clear(); }, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        SetupBuilder b = ThreeFiles();
        c.setup(b);
        Volumes volumes = b.Build();
        ASSERT_EQ(volumes.size(), c.volumes);
        std::string path = WriteVolumes(dir, volumes, std::string("case") + std::to_string(&c - cases));

        PackageReader reader(path);
        EXPECT_EQ(reader.title, "Zevrin Test Setup");
        ASSERT_EQ(reader.entries.size(), b.files.size());
        EXPECT_EQ(reader.volumes.size(), c.volumes);
        EXPECT_TRUE(reader.layoutProblems.empty());
        uint64_t unpacked = 0;
        for (size_t i = 0; i < b.files.size(); ++i) {
            EXPECT_EQ(reader.entries[i].Name(), b.files[i].name);
            if (b.files[i].uninstallMode != 2)
                unpacked += b.files[i].data.size();
        }

        Collector files;
        reader.ReadFiles(files);
        for (size_t i = 0; i < b.files.size(); ++i) {
            SCOPED_TRACE(b.files[i].name);
            if (b.files[i].uninstallMode == 2) {
                EXPECT_EQ(files.checks.count(static_cast<uint32_t>(i)), 0u) << "external: no stream";
                continue;
            }
            EXPECT_EQ(files.checks[static_cast<uint32_t>(i)].problem, "");
            EXPECT_TRUE(files.bytes[static_cast<uint32_t>(i)] == b.files[i].data);
        }
        EXPECT_EQ(files.progress, unpacked);
    }
}

TEST_F(PackageReaderTest, ReadsTheHeaderSummaryAndForgetsItAfterwards)
{
    Bytes bitmap(54 + 16, 0);
    bitmap[18] = 164; // width
    bitmap[22] = 44;  // height
    bitmap[28] = 8;   // bits per pixel
    SetupBuilder b = ThreeFiles();
    b.files[0].flags = FlagCheckVersion | FlagHasFileTimes;
    b.files[0].strings = {"Zevrin", "Hello", "-x", "Hello on the desktop", ""};
    b.records = [&bitmap](PackageBuilder& p) {
        p.Record(TagHeaderFlags, {0x06, 0, 0, 0})
            .Record(TagDefaultInstallDir, {'C', ':', '\\', 'Z', 0})
            .Record(TagUninstallName, {'Z', 'e', 'v', 0})
            .Record(TagPrevDirRoot, {2, 0, 0, 0})
            .Record(TagPrevDirKey, {'S', '\\', 'Z', 0})
            .Compressed(TagFrameBitmap, bitmap)
            .Record(TagStartPage, {3, 0});
    };
    {
        PackageReader reader(Write(b.Build()));
        EXPECT_EQ(reader.headerFlags, 6u);
        EXPECT_EQ(reader.defaultFolder, "C:\\Z");
        EXPECT_EQ(reader.uninstallName, "Zev");
        EXPECT_EQ(reader.prevDirRoot, 2u);
        EXPECT_EQ(reader.prevDirKey, "S\\Z");
        EXPECT_TRUE(reader.framePicture.present);
        EXPECT_EQ(reader.framePicture.width, 164);
        EXPECT_EQ(reader.framePicture.height, 44);
        EXPECT_EQ(reader.framePicture.bitCount, 8);
        EXPECT_FALSE(reader.backgroundPicture.present);
        EXPECT_EQ(reader.startPage, 3);
        EXPECT_EQ(reader.stubLength, b.stubLength);
        EXPECT_EQ(reader.stampOffset, SetupBuilder::StampAt);
        EXPECT_TRUE(reader.entries[0].hasVersion);
        EXPECT_TRUE(reader.entries[0].hasTimes);
        EXPECT_EQ(reader.entries[0].strings[4], "Hello on the desktop");
        EXPECT_EQ(reader.entries[3].strings[0], "data\\big.bin") << "strings found behind the optional blocks";
    }
    // The stub keeps its header in program-wide state: a second package
    // must not inherit anything from the first.
    SetupBuilder plain = ThreeFiles();
    PackageReader reader(WriteVolumes(dir, plain.Build(), "PLAIN"));
    EXPECT_EQ(reader.headerFlags, 0u);
    EXPECT_EQ(reader.defaultFolder, "");
    EXPECT_EQ(reader.uninstallName, "");
    EXPECT_FALSE(reader.framePicture.present);
    EXPECT_EQ(reader.startPage, 0xFFFF);
}

// Offset of header record `n` of a SETUP.EXE from SetupBuilder: 0 the
// message groups, then the records in the order written.
uint32_t RecordAt(const Bytes& setup, int n)
{
    uint32_t at = 512;
    for (int i = 0; i < n; ++i)
        at += RecordHeadSize + ReadU32(setup.data() + at + 4);
    return at;
}

// Where a damaged package shows its fault.
enum Where { AtOpen, AtReadFiles, InFile, InLayout };

bool StartsWith(const std::string& text, const std::string& start)
{
    return text.compare(0, start.size(), start) == 0;
}

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

TEST_F(PackageReaderTest, DamagedPackagesSayWhy)
{
    const uint32_t helloSum = Checksum(Sample(20000, 1, false));
    char checksumText[80];
    std::snprintf(checksumText, sizeof checksumText, "checksum 0x%08x, expected 0x%08x", helloSum, helloSum ^ 1);
    const auto threeVolumes = [](SetupBuilder& b) { b.split = {5000, 30000}; };
    const auto damageEntry = [](size_t which, std::function<void(Bytes&)> damage) {
        return [which, damage](SetupBuilder& b) {
            b.tamperEntry = [which, damage](size_t i, Bytes& e) {
                if (i == which)
                    damage(e);
            };
        };
    };
    const auto damageStream = [](size_t which, std::function<void(Bytes&)> damage) {
        return [which, damage](SetupBuilder& b) {
            b.tamperStream = [which, damage](size_t i, Bytes& s) {
                if (i == which)
                    damage(s);
            };
        };
    };

    // The stub is 512 bytes with its stamp at 100 (0x64); the message
    // groups record follows at 0x200.
    struct Case {
        const char* why;
        std::function<void(SetupBuilder&)> setup;
        std::function<void(Volumes&)> damage;
        Where where;
        uint32_t file; // InFile: the entry whose check fails
        std::string expected; // AtOpen, InFile: the whole text; else its end
    } cases[] = {
        {"no stamp", nullptr, [](Volumes& v) { v[0][100] = 'S'; }, AtOpen, 0,
         "no stamp record: not a Zevrin setup program"},
        {"stamp twice in the stub", nullptr,
         [](Volumes& v) { std::copy(v[0].begin() + 100, v[0].begin() + 124, v[0].begin() + 300); }, AtOpen, 0,
         "stamp record found twice in the stub (at 0x64 and 0x12c)"},
        {"stub length 0", nullptr, [](Volumes& v) { v[0][107] = 0; }, AtOpen, 0,
         "not stamped: the stub carries no package (stub length 0)"},
        {"stub length past the end", nullptr, [](Volumes& v) { v[0][109] = 0x10; }, AtOpen, 0,
         "stub length 268435968 is past the end of the file (" + std::string("SIZE") +
             " bytes): no package behind the stub"},
        {"cut between records", nullptr, [](Volumes& v) { v[0].resize(512); }, AtOpen, 0,
         "header cut short: it ends without a terminator record"},
        {"cut inside a record head", nullptr, [](Volumes& v) { v[0].resize(515); }, AtOpen, 0,
         "header cut short inside a record head at 0x200"},
        {"cut inside a record body", nullptr, [](Volumes& v) { v[0].resize(530); }, AtOpen, 0,
         "header damaged: record 0x123A at 0x200 claims BODY bytes, the file has 10 left"},
        {"cut in the data", nullptr, [](Volumes& v) { v[0].pop_back(); }, AtOpen, 0,
         "data shorter than declared: DATA bytes declared, LESS present"},
        {"a record that claims gigabytes",
         [](SetupBuilder& b) {
             b.records = [](PackageBuilder& p) {
                 p.Record(TagBackgroundTitle, {0x00, 0x00, 0x00, 0xF0, 0x03, 0x00}, RecordCompressed);
             };
         },
         nullptr, AtOpen, 0, "header damaged: record 0x1239 at 0xRECORD claims 4026531840 unpacked bytes from 6"},
        {"a record that unpacks to more than it claims",
         [](SetupBuilder& b) {
             b.records = [](PackageBuilder& p) {
                 Bytes body{4, 0, 0, 0};
                 Bytes stream = Compress(Bytes(100, 'x'));
                 body.insert(body.end(), stream.begin(), stream.end());
                 p.Record(TagBackgroundTitle, body, RecordCompressed);
             };
         },
         nullptr, AtOpen, 0,
         "header damaged: record 0x1239 at 0xRECORD: its stream does not decode or unpacks to more than its 4 bytes"},
        {"a record whose stream does not decode",
         [](SetupBuilder& b) {
             b.records = [](PackageBuilder& p) {
                 p.Record(TagBackgroundTitle, {4, 0, 0, 0, 0x01}, RecordCompressed); // block kind 1
             };
         },
         nullptr, AtOpen, 0,
         "header damaged: record 0x1239 at 0xRECORD: its stream does not decode or unpacks to more than its 4 bytes"},
        {"a message group that unpacks to more than it claims",
         [](SetupBuilder& b) {
             b.records = [](PackageBuilder& p) {
                 Bytes body{1, 0, 2, 0, 0, 0};
                 Bytes stream = Compress(GroupBytes({"Welcome"}));
                 body.insert(body.end(), stream.begin(), stream.end());
                 p.Record(TagMessageGroups, body);
             };
         },
         nullptr, AtOpen, 0,
         "header damaged: message group 0 in record 0x123A at 0xRECORD: its stream does not decode or unpacks to "
         "more than its 2 bytes"},
        {"cut inside a record's unpacked size",
         [](SetupBuilder& b) {
             b.records = [](PackageBuilder& p) { p.Record(TagBackgroundTitle, {4, 0}, RecordCompressed); };
         },
         [](Volumes& v) { v[0].resize(RecordAt(v[0], 1) + RecordHeadSize + 2); }, AtOpen, 0,
         "header cut short inside record 0x1239 at 0xRECORD"},
        {"terminator without a data length", nullptr,
         [](Volumes& v) { std::fill_n(v[0].begin() + RecordAt(v[0], 3) + 4, 4, 0); }, AtOpen, 0,
         "incomplete package: the terminator record has no data length"},
        {"no templates", [](SetupBuilder& b) { b.templates.clear(); }, nullptr, AtOpen, 0,
         "no dialog templates: the header has no record 0x1242"},
        {"templates shorter than their offset table", [](SetupBuilder& b) { b.templates.assign(8, 0); }, nullptr,
         AtOpen, 0, "dialog templates damaged: record 0x1242 at 0xTEMPLATES is shorter than its table of 8 template "
                    "offsets"},
        {"a template the dialog manager cannot walk",
         [](SetupBuilder& b) {
             std::vector<Bytes> templates(8, SoundDialog());
             templates[0].resize(10); // the windowed frame, cut in its header
             b.templates = TemplateBlobOf(templates, 0);
         },
         nullptr, AtOpen, 0,
         "dialog templates damaged: template 0 of record 0x1242 at 0xTEMPLATES is not a dialog the installer can "
         "make: the dialog manager would read it past its end"},
        {"a page template with a control of a class nobody made",
         [](SetupBuilder& b) {
             std::vector<Bytes> templates;
             for (size_t n = 0; n < 8; ++n)
                 templates.push_back(SoundTemplate(n));
             templates[5] = DialogWriter()
                                .Classic(DialogWriter::ChildVisible | DialogWriter::SetFont, 2)
                                .None().None().Text(u"Welcome").Font()
                                .Static(1000)
                                .Item(1020).Text(u"NoSuchClass").Text(u"").Data({})
                                .Bytes();
             b.templates = TemplateBlobOf(templates);
         },
         nullptr, AtOpen, 0,
         "dialog templates damaged: template 5 of record 0x1242 at 0xTEMPLATES is not a dialog the installer can "
         "make: control 1020 (item 2 of 2) is of class \"NoSuchClass\", which the installer cannot make"},
        {"a directory page without its folder field",
         [](SetupBuilder& b) {
             std::vector<Bytes> templates;
             for (size_t n = 0; n < 8; ++n)
                 templates.push_back(SoundTemplate(n));
             templates[2] = SoundDialog(); // controls 1000 and 1001
             b.templates = TemplateBlobOf(templates);
         },
         nullptr, AtOpen, 0,
         "dialog templates damaged: template 2 of record 0x1242 at 0xTEMPLATES is not a dialog the installer can "
         "make: it has no control 1004 (the folder field), which the directory page cannot do without"},
        {"start page record outside the pages",
         [](SetupBuilder& b) { b.records = [](PackageBuilder& p) { p.Record(TagStartPage, {9, 0}); }; }, nullptr,
         AtOpen, 0, "start page 9 of record 0x1244 at 0xRECORD is not one of the installer's pages 0 to 5"},
        {"start page record on the end marker",
         [](SetupBuilder& b) { b.records = [](PackageBuilder& p) { p.Record(TagStartPage, {6, 0}); }; }, nullptr,
         AtOpen, 0, "start page 6 of record 0x1244 at 0xRECORD is not one of the installer's pages 0 to 5"},
        {"stamp start page outside the pages", nullptr,
         [](Volumes& v) {
             v[0][SetupBuilder::StampAt + 18] = 9;
             v[0][SetupBuilder::StampAt + 19] = 0;
         },
         AtOpen, 0,
         "start page 9 of the stamp record is not one of the installer's pages 0 to 5"},
        {"file table entry past the table", damageEntry(3, [](Bytes& e) { e[0] = 0xF0; }), nullptr, AtOpen, 0,
         "file table damaged (record at 0xTABLE)"},
        {"checksum mismatch", damageEntry(0, [](Bytes& e) { e[EntryChecksum] ^= 1; }), nullptr, InFile, 0,
         checksumText},
        {"size mismatch", damageEntry(1, [](Bytes& e) { e[EntryFileSize + 2] = 1; }), nullptr, InFile, 1,
         "size 30000, expected 95536"},
        {"unpacks past its size", damageEntry(1, [](Bytes& e) { e[EntryFileSize + 1] -= 1; }), nullptr, InFile, 1,
         "unpacks to more than its size of 29744 bytes"},
        {"damaged stream", damageStream(1, [](Bytes& s) { s[0] = static_cast<uint8_t>((s[0] & 0xF8) | 1); }),
         nullptr, InFile, 1, "damaged stream: bad block (unknown block kind or over-subscribed code)"},
        {"stream shorter than its packed size", damageStream(0, [](Bytes& s) { s.push_back(0xEE); }), nullptr,
         InFile, 0, "stream ends 1 byte before its packed size of PACKED"},
        {"stream longer than its packed size", damageStream(0, [](Bytes& s) { s.pop_back(); }), nullptr, InFile,
         0, "damaged stream: it runs past its packed size of PACKED bytes"},
        // The installer's own header reader refuses a packed entry without
        // a stream, so the package does not open.
        {"packed size 0", damageStream(1, [](Bytes& s) { s.clear(); }), nullptr, AtOpen, 0,
         "file table damaged (record at 0xTABLE)"},
        {"missing volume", threeVolumes, [](Volumes& v) { v.pop_back(); }, AtReadFiles, 0, ".D02 (disk 3)"},
        {"continuation volume cut short", threeVolumes, [](Volumes& v) { v[1].resize(v[1].size() - 10); },
         AtReadFiles, 0, ".D01: data shorter than declared (29990 of 30000 bytes)"},
        {"continuation volume without its head", threeVolumes, [](Volumes& v) { v[1].resize(2); }, AtReadFiles,
         0, ".D01: volume head cut short (2 bytes)"},
        // A signature appended to SETUP.EXE, or anything after a volume's
        // declared data, is not taken as the next volume's data.
        {"bytes after the declared data of volumes before the last", threeVolumes,
         [](Volumes& v) {
             v[0].insert(v[0].end(), 3000, 0x30);
             v[1].insert(v[1].end(), {1, 2, 3});
         },
         InFile, 0, ""},
        {"data left after the last stream", threeVolumes,
         [](Volumes& v) {
             v[2].insert(v[2].end(), 7, 0xAB);
             v[2][0] += 7; // its head declares them
         },
         InLayout, 0, "file data: 7 bytes after the last stream"},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        SetupBuilder b = ThreeFiles();
        if (c.setup)
            c.setup(b);
        Volumes volumes = b.Build();
        const Bytes good = volumes[0];
        if (c.damage)
            c.damage(volumes);
        std::string base = "D" + std::to_string(&c - cases);
        std::string path = WriteVolumes(dir, volumes, base);

        // Numbers that depend on the layout.
        std::string expected = c.expected;
        auto fill = [&expected](const std::string& key, uint64_t value) {
            size_t at = expected.find(key);
            if (at != std::string::npos)
                expected.replace(at, key.size(), std::to_string(value));
        };
        auto fillHex = [&expected](const std::string& key, uint64_t value) {
            char text[24];
            std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(value));
            size_t at = expected.find(key);
            if (at != std::string::npos)
                expected.replace(at, key.size(), text);
        };
        fill("SIZE", volumes[0].size());
        // SETUP.EXE ends with its data, after the u32 that counts it.
        uint32_t data = 0;
        while (data + 4 < good.size() && ReadU32(good.data() + good.size() - data - 4) != data)
            ++data;
        fill("DATA", data);
        fill("LESS", data - 1);
        fill("BODY", ReadU32(good.data() + 512 + 4));
        uint32_t groupsEnd = RecordAt(good, 1);
        fillHex("RECORD", groupsEnd);
        fillHex("TABLE", groupsEnd);
        fillHex("TEMPLATES", RecordAt(good, 2));

        if (c.where == AtOpen) {
            try {
                PackageReader reader(path);
                ADD_FAILURE() << "opened";
            } catch (const PackageError& e) {
                EXPECT_EQ(std::string(e.what()), expected);
            }
            continue;
        }

        PackageReader reader(path);
        Collector files;
        std::string stopped;
        try {
            reader.ReadFiles(files);
        } catch (const PackageError& e) {
            stopped = e.what();
        }
        if (c.where == AtReadFiles) {
            EXPECT_TRUE(EndsWith(stopped, expected)) << stopped;
            EXPECT_NE(stopped.find(dir.File(base + ".D0")), std::string::npos) << "names the volume: " << stopped;
        } else {
            EXPECT_EQ(stopped, "");
        }
        if (c.where == InLayout) {
            ASSERT_EQ(reader.layoutProblems.size(), 1u);
            EXPECT_EQ(reader.layoutProblems[0], expected);
        } else {
            EXPECT_TRUE(reader.layoutProblems.empty());
        }
        // Every file is checked; only the damaged one fails, and the ones
        // after it are still read from their own place.
        for (const auto& check : files.checks) {
            if (c.where == InFile && check.first == c.file) {
                fill("PACKED", reader.entries[c.file].packedSize);
                EXPECT_EQ(check.second.problem, expected);
            } else {
                EXPECT_EQ(check.second.problem, "") << "entry " << check.first;
                EXPECT_TRUE(files.bytes[check.first] == b.files[check.first].data) << "entry " << check.first;
            }
        }
        if (c.where != AtReadFiles) {
            EXPECT_EQ(files.checks.size(), 3u);
        }
    }
}

// One read of the installer changes volumes once: a volume that cannot
// finish a read begun in the one before spoils the stream that crosses
// it, and is named. The streams after it are still checked.
TEST_F(PackageReaderTest, VolumeTooSmallForOneReadIsNamed)
{
    SetupBuilder b = ThreeFiles();
    b.compress = StoredStream;
    b.split = {100, 0, 70000, 20000};
    PackageReader reader(Write(b.Build()));
    ASSERT_EQ(reader.volumes.size(), 5u);
    ASSERT_EQ(reader.layoutProblems.size(), 1u);
    EXPECT_EQ(reader.layoutProblems[0], dir.File("SETUP.D01") +
                                            ": 0 data bytes, too few to finish a read begun in " +
                                            dir.File("SETUP.EXE") +
                                            " (the installer changes volumes once per 4096-byte read)");
    Collector files;
    reader.ReadFiles(files);
    ASSERT_EQ(files.checks.size(), 3u);
    EXPECT_TRUE(StartsWith(files.checks[0].problem, "damaged stream: it runs past its packed size of"))
        << files.checks[0].problem;
    EXPECT_EQ(files.checks[1].problem, "");
    EXPECT_EQ(files.checks[3].problem, "");
}

// The stub's own prompt for a disk is answered "give up" and named: a
// volume that goes away after the package was opened.
TEST_F(PackageReaderTest, VolumeGoneAfterOpeningIsNamed)
{
    SetupBuilder b = ThreeFiles();
    b.split = {5000};
    std::string path = Write(b.Build());
    PackageReader reader(path);
    ASSERT_EQ(std::remove(dir.File("SETUP.D01").c_str()), 0);
    Collector files;
    try {
        reader.ReadFiles(files);
        ADD_FAILURE() << "read without its volume";
    } catch (const PackageError& e) {
        EXPECT_EQ(std::string(e.what()), "missing volume " + dir.File("SETUP.D01") + " (disk 2)");
    }
    EXPECT_EQ(PageResult, 0) << "the installer's cancel state is not left behind";
    EXPECT_EQ(ErrorCode, 0);
}

TEST(StampMarkerTest, FoundOnce)
{
    const uint8_t marker[6] = {0x77, 0x77, 0x67, 0x54, 0x29, 0x48};
    Bytes stub(200, 'S');
    EXPECT_EQ(FindStampMarker(stub.data(), stub.size()), -1);
    std::copy(marker, marker + 6, stub.begin() + 194);
    EXPECT_EQ(FindStampMarker(stub.data(), stub.size()), 194) << "at the very end";
    EXPECT_EQ(FindStampMarker(stub.data(), 199), -1) << "cut by the size";
    std::copy(marker, marker + 6, stub.begin() + 3);
    EXPECT_EQ(FindStampMarker(stub.data(), stub.size()), -2);
}

TEST(ExtractPathTest, HostileNamesAreRefused)
{
    struct Case {
        uint8_t location;
        const char* name;
        const char* path; // null: refused
        const char* why;
    } cases[] = {
        {0, "app\\hello.exe", "app/hello.exe", ""},
        {0, "a b\\c.d.e", "a b/c.d.e", ""},
        {0, "sub/x.txt", "sub/x.txt", ""},
        {1, "system.ini", "@windows/system.ini", ""},
        {2, "lib\\shared.dll", "@system/shared.dll", ""},
        {3, "zevrin.ttf", "@fonts/zevrin.ttf", ""},
        {9, "odd.dat", "odd.dat", ""},
        {0, "..\\..\\evil", nullptr, "'..' component"},
        {0, "a\\..\\..\\evil", nullptr, "'..' component"},
        {2, "..\\evil.dll", nullptr, "'..' component"},
        {0, "C:\\x", nullptr, "drive letter"},
        {0, "c:x", nullptr, "drive letter"},
        {0, "/etc/x", nullptr, "absolute path"},
        {0, "\\x", nullptr, "absolute path"},
        {0, "\\\\server\\share\\x", nullptr, "absolute path"},
        {0, "a\\\\b", nullptr, "empty path component"},
        {0, "dir\\", nullptr, "empty path component"},
        {0, ".\\x", nullptr, "'.' component"},
        {0, "...\\x", nullptr, "component of dots and blanks only"},
        {0, ". .\\x", nullptr, "component of dots and blanks only"},
        {0, "ab:c", nullptr, "':' in the name"},
        {0, "a\x01b", nullptr, "control character in the name"},
        {0, "", nullptr, "empty name"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = "unchanged", why;
        bool ok = ExtractPath(c.location, c.name, &path, &why);
        EXPECT_EQ(ok, c.path != nullptr);
        EXPECT_EQ(path, c.path ? c.path : "unchanged");
        EXPECT_EQ(why, c.why);
    }
}

} // namespace

#endif
