// Writes the starting corpus of each fuzz target into OUTDIR/<target>/:
// the documented sample streams, encoder output of every block kind, raw
// Deflate from zlib and libdeflate, multi-volume packages built from
// those streams, and package headers with message groups, dialog
// templates and file tables. Deterministic, so a run can be repeated.
//
//   make_seeds OUTDIR
#include <libdeflate.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "authoring/encoder.h"
#include "authoring/templates.h"
#include "log_input.h"
#include "tests/host/package_builder.h"
#include "volume_input.h"

using namespace zevrin;
using Bytes = std::vector<uint8_t>;

namespace {

std::string OutDir;

void Save(const std::string& target, const std::string& name, const Bytes& bytes)
{
    std::string dir = OutDir + "/" + target;
    mkdir(dir.c_str(), 0755);
    std::string path = dir + "/" + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0) {
        std::perror(path.c_str());
        std::exit(1);
    }
}

Bytes Hex(const char* text)
{
    Bytes out;
    for (const char* p = text; p[0] && p[1]; p += p[2] ? 3 : 2)
        out.push_back(static_cast<uint8_t>(std::stoul(std::string(p, 2), nullptr, 16)));
    return out;
}

// Sample contents: prose-like text, bytes with little structure, and long
// runs that make matches reach across the 32 KiB window.
Bytes Text(size_t n)
{
    static const char* words[] = {"setup ", "volume ", "disk ", "window ", "the ", "of ",
                                  "stream ", "install\r\n", "file ", "a "};
    Bytes out;
    uint32_t x = 12345;
    while (out.size() < n) {
        x = x * 1103515245 + 12345;
        const char* w = words[(x >> 16) % 10];
        out.insert(out.end(), w, w + std::strlen(w));
    }
    out.resize(n);
    return out;
}

Bytes Noise(size_t n, uint32_t seed)
{
    Bytes out(n);
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1664525 + 1013904223;
        out[i] = static_cast<uint8_t>(seed >> 24);
    }
    return out;
}

Bytes Runs(size_t n)
{
    Bytes out;
    Bytes unit = Noise(300, 7);
    while (out.size() < n)
        out.insert(out.end(), unit.begin(), unit.end());
    out.resize(n);
    return out;
}

Bytes Zlib(const Bytes& data, int level, int strategy)
{
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy);
    Bytes out(deflateBound(&z, data.size()));
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

Bytes Libdeflate(const Bytes& data, int level)
{
    libdeflate_compressor* c = libdeflate_alloc_compressor(level);
    Bytes out(libdeflate_deflate_compress_bound(c, data.size()));
    out.resize(libdeflate_deflate_compress(c, data.data(), data.size(), out.data(), out.size()));
    libdeflate_free_compressor(c);
    return out;
}

// Raw Deflate written field by field, for code shapes compressors never
// make: a dynamic block from given code lengths, sent with a flat 4-bit
// code-length code, then the given symbols (a distance follows a length
// symbol in `symbols` as distance code + 30000).
class DeflateWriter {
public:
    void Put(uint32_t value, unsigned n)
    {
        for (unsigned i = 0; i < n; ++i)
            Bit((value >> i) & 1);
    }
    void PutCode(uint32_t code, unsigned length)
    {
        for (unsigned i = length; i > 0; --i)
            Bit((code >> (i - 1)) & 1);
    }
    Bytes Finish() { return bytes_; }

    static std::vector<uint32_t> Canonical(const Bytes& lengths)
    {
        unsigned count[17] = {}, next[17] = {};
        for (uint8_t l : lengths)
            ++count[l];
        count[0] = 0;
        for (unsigned bits = 1, code = 0; bits <= 16; ++bits)
            next[bits] = code = (code + count[bits - 1]) << 1;
        std::vector<uint32_t> codes(lengths.size());
        for (size_t i = 0; i < lengths.size(); ++i)
            if (lengths[i])
                codes[i] = next[lengths[i]]++;
        return codes;
    }

    static Bytes DynamicBlock(const Bytes& literal, const Bytes& distance, const std::vector<unsigned>& symbols)
    {
        static const unsigned order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
        DeflateWriter w;
        w.Put(1, 1); // final
        w.Put(2, 2); // dynamic
        w.Put(static_cast<uint32_t>(literal.size() - 257), 5);
        w.Put(static_cast<uint32_t>(distance.size() - 1), 5);
        w.Put(19 - 4, 4);
        for (unsigned symbol : order)
            w.Put(symbol < 16 ? 4 : 0, 3);
        for (const Bytes* lengths : {&literal, &distance})
            for (uint8_t l : *lengths)
                w.PutCode(l, 4); // the flat code: symbol s is s
        std::vector<uint32_t> literalCodes = Canonical(literal), distanceCodes = Canonical(distance);
        for (unsigned s : symbols) {
            if (s >= 30000)
                w.PutCode(distanceCodes[s - 30000], distance[s - 30000]);
            else
                w.PutCode(literalCodes[s], literal[s]);
        }
        return w.Finish();
    }

private:
    void Bit(unsigned bit)
    {
        if (used_ == 0)
            bytes_.push_back(0);
        bytes_.back() |= static_cast<uint8_t>(bit << used_);
        used_ = (used_ + 1) & 7;
    }
    Bytes bytes_;
    unsigned used_ = 0;
};

// Blocks whose end-of-block code is short: the stream may end only a bit
// or two after a code that sits in a wide table. A decoder that fills its
// lookup width there takes bytes that belong to the next stream.
void ShortEndSeeds()
{
    // End of block 1 bit; a distance code from 1 to 6 bits.
    Bytes literal(258, 0);
    literal[256] = 1;
    literal['a'] = 2;
    literal['b'] = 3;
    literal[257] = 3;
    Bytes distance{1, 2, 3, 4, 5, 6, 6};
    // End of block 2 bits; one 3-bit literal in a sub-table widened by
    // forty 6-bit codes.
    Bytes wide(257, 0);
    wide[256] = 2;
    wide['a'] = 3;
    for (unsigned s = 100; s < 140; ++s)
        wide[s] = 6;
    // Leading literals move the end to each bit position.
    for (unsigned n = 0; n < 4; ++n) {
        std::vector<unsigned> symbols;
        for (unsigned i = 0; i < n; ++i)
            symbols.push_back(i % 2 ? 'b' : 'a');
        symbols.insert(symbols.end(), {'a', 257, 30000, 256}); // 'a', then 3 bytes at distance 1
        Save("fuzz_compare", "short-end-distance-" + std::to_string(n),
             DeflateWriter::DynamicBlock(literal, distance, symbols));
        symbols.assign(n, 100);
        symbols.insert(symbols.end(), {'a', 256});
        Save("fuzz_compare", "short-end-literal-" + std::to_string(n),
             DeflateWriter::DynamicBlock(wide, Bytes{0}, symbols));
    }
}

// fuzz_decode's head: capacity 1 MiB, no cut, no allocation failures.
Bytes DecodeInput(const Bytes& stream, uint32_t capacity = 1u << 20)
{
    Bytes out{static_cast<uint8_t>(capacity), static_cast<uint8_t>(capacity >> 8),
              static_cast<uint8_t>(capacity >> 16), 0, 0};
    out.insert(out.end(), stream.begin(), stream.end());
    return out;
}

// A region of streams split over volumes at the given offsets, with one
// decode per stream, its limit the stream's size.
fuzz::VolumeCase Package(const std::vector<Bytes>& streams, std::vector<size_t> splits)
{
    fuzz::VolumeCase c;
    Bytes region;
    for (const Bytes& s : streams) {
        region.insert(region.end(), s.begin(), s.end());
        c.decodes.push_back({static_cast<uint32_t>(s.size()), 1});
    }
    splits.insert(splits.begin(), 0);
    splits.push_back(region.size());
    for (size_t v = 0; v + 1 < splits.size(); ++v) {
        fuzz::VolumeFile volume;
        volume.payload.assign(region.begin() + splits[v], region.begin() + splits[v + 1]);
        c.volumes.push_back(volume);
    }
    return c;
}

// fuzz_header's modes: the first byte picks one.
const uint8_t HeaderMode = 0, GroupMode = 1, TemplateMode = 2;

Bytes WithMode(uint8_t mode, const Bytes& rest)
{
    Bytes out{mode};
    out.insert(out.end(), rest.begin(), rest.end());
    return out;
}

// A record whose body is compressed by the encoder (real Huffman codes).
void EncodedRecord(PackageBuilder& p, uint16_t tag, const Bytes& data)
{
    Bytes body;
    AppendU32(body, static_cast<uint32_t>(data.size()));
    Bytes stream = EncodeStream(data.data(), data.size(), 9);
    body.insert(body.end(), stream.begin(), stream.end());
    p.Record(tag, body, RecordCompressed);
}

// A package header (no stub: the target supplies its own) with texts,
// templates, a file table of every entry shape, and the files' data.
// `plainTable` stores the table uncompressed, so that mutations reach it.
Bytes HeaderSeed(const Bytes& templates, bool plainTable, const std::function<void(PackageBuilder&)>& records)
{
    SetupBuilder files; // for its entries
    files.Add("app.exe", Text(300)).flags = FlagCheckVersion | FlagHasFileTimes;
    files.Add("empty.txt", {});
    files.Add("beside.dat", {}).uninstallMode = UninstallExternal;
    PackageFile& font = files.Add("fonts\\z.ttf", Noise(200, 5));
    font.location = 3;
    font.strings = {"Zevrin", "Font", "-f", "Desk", "-d"};
    Bytes table, region;
    AppendU32(table, static_cast<uint32_t>(files.files.size()));
    for (size_t i = 0; i < files.files.size(); ++i) {
        const Bytes& data = files.files[i].data;
        Bytes stream = files.files[i].uninstallMode == UninstallExternal ? Bytes()
                                                                        : EncodeStream(data.data(), data.size(), 6);
        Bytes entry = files.EntryBytes(i, static_cast<uint32_t>(stream.size()));
        table.insert(table.end(), entry.begin(), entry.end());
        region.insert(region.end(), stream.begin(), stream.end());
    }

    PackageBuilder p(0);
    p.Groups({{"Welcome", "Text"}, {}, {"Folder"}, {}, {}, {"Done"}, {"Zevrin", "", "", "", "", "", ""}});
    if (records)
        records(p);
    if (!templates.empty())
        p.Templates(templates);
    if (plainTable)
        p.Record(TagFileTable, table);
    else
        EncodedRecord(p, TagFileTable, table);
    p.Head(TagTerminator, 0, static_cast<uint32_t>(region.size()));
    AppendU32(p.bytes_, static_cast<uint32_t>(region.size()));
    return p.Append(region).bytes_;
}

void HeaderSeeds()
{
    std::vector<Bytes> extended;
    for (int n = 0; n < 8; ++n)
        extended.push_back(SoundDialog(true, static_cast<uint16_t>(n % 4)));
    std::string error;
    Bytes defaults = DefaultTemplateBlob(&error);
    if (defaults.empty())
        std::fprintf(stderr, "make_seeds: no default templates (%s); seeds without them\n", error.c_str());

    struct Seed {
        const char* name;
        Bytes templates;
        bool plainTable;
        std::function<void(PackageBuilder&)> records;
    } seeds[] = {
        {"header-sound", SoundTemplateBlob(), false, nullptr},
        {"header-plain-table", SoundTemplateBlob(), true, nullptr},
        {"header-extended-templates", TemplateBlobOf(extended), true, nullptr},
        {"header-full-screen", SoundTemplateBlob(), true,
         [](PackageBuilder& p) {
             p.Record(TagHeaderFlags, {1, 0, 0, 0}).Record(TagTitleStyle, Bytes(TitleStyleSize, 0x41));
         }},
        {"header-start-page-2", SoundTemplateBlob(), true, [](PackageBuilder& p) { p.Record(TagStartPage, {2, 0}); }},
        {"header-default-templates", defaults, true, nullptr},
        {"header-compressed-templates", Bytes(), false,
         [&defaults](PackageBuilder& p) { EncodedRecord(p, TagTemplateBlob, defaults.empty() ? SoundTemplateBlob() : defaults); }},
    };
    for (const Seed& seed : seeds) {
        if (seed.templates.empty() && seed.records == nullptr)
            continue; // no default templates here
        Save("fuzz_header", seed.name, WithMode(HeaderMode, HeaderSeed(seed.templates, seed.plainTable, seed.records)));
    }

    // Template blobs on their own: byte 1 is the run's mode (wizard,
    // windowed; full screen; page 2 alone).
    struct Blob {
        const char* name;
        uint8_t mode;
        Bytes blob;
    } blobs[] = {
        {"templates-sound", 7 << 1, SoundTemplateBlob()},
        {"templates-extended", 7 << 1 | 1, TemplateBlobOf(extended)},
        {"templates-page-2", 2 << 1, SoundTemplateBlob()},
        {"templates-default", 7 << 1, defaults},
    };
    for (const Blob& b : blobs)
        if (!b.blob.empty()) {
            Bytes rest{b.mode};
            rest.insert(rest.end(), b.blob.begin(), b.blob.end());
            Save("fuzz_header", b.name, WithMode(TemplateMode, rest));
        }

    Save("fuzz_header", "group", WithMode(GroupMode, GroupBytes({"Zevrin", "", "Text %s", "\r\nmore"})));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds OUTDIR\n");
        return 2;
    }
    OutDir = argv[1];
    mkdir(OutDir.c_str(), 0755);

    // The uninstaller's log: behind the stand-in image (mode 0), and as a
    // whole file (mode 1).
    {
        using namespace loginput;
        Bytes whole = {1};
        Add(whole, Image());
        Add(whole, GoodTail());
        Bytes delivered = {0};
        Add(delivered, TextsRecord({"Remove"}));
        Add(delivered, End());
        Save("fuzz_log", "installed", WithMode(0, GoodTail()));
        Save("fuzz_log", "whole", whole);
        Save("fuzz_log", "delivered", delivered);
        Bytes perUser = Record(4661, Files());
        Add(perUser, KeyRecord("", 0x80000001));
        Add(perUser, End());
        Save("fuzz_log", "per-user", WithMode(0, perUser));
        // An upgrading package's log: folders made, then the file sums.
        Bytes upgraded = Record(4661, Files());
        Add(upgraded, KeyRecord(AppKey));
        Add(upgraded, FoldersRecord({"C:\\App"}));
        Add(upgraded, SumsRecord({{10, 1}, {20, 2}, {0xFFFFFFFFu, 0}}));
        Add(upgraded, End());
        Save("fuzz_log", "upgraded", WithMode(0, upgraded));
    }

    // The format's sample streams: stored, fixed literals, fixed with a
    // match, and a fixed block holding only end-of-block.
    const char* samples[] = {"0F 03 00 61 62 63", "9D 98 94 0C 00", "9D 98 94 0C 41 00", "0D 00"};
    int n = 0;
    for (const char* s : samples)
        Save("fuzz_decode", "sample" + std::to_string(n++), DecodeInput(Hex(s)));

    struct Content {
        const char* name;
        Bytes data;
    } contents[] = {
        {"text", Text(6000)},
        {"noise", Noise(5000, 3)},
        {"runs", Runs(100000)},
        {"short", Text(40)},
    };
    for (const Content& c : contents) {
        for (int level : {0, 1, 6, 12}) {
            if (level == 0 && c.data.size() > 10000)
                continue;
            Bytes stream = EncodeStream(c.data.data(), c.data.size(), level);
            std::string name = std::string(c.name) + "-" + std::to_string(level);
            Save("fuzz_decode", name, DecodeInput(stream));
            // A block too small for the output, so that the sink overflows.
            Save("fuzz_decode", name + "-small", DecodeInput(stream, static_cast<uint32_t>(c.data.size() / 3)));
        }
        // Raw Deflate for the differential target: every block kind.
        Save("fuzz_compare", std::string(c.name) + "-zlib6", Zlib(c.data, 6, Z_DEFAULT_STRATEGY));
        Save("fuzz_compare", std::string(c.name) + "-zlib1", Zlib(c.data, 1, Z_DEFAULT_STRATEGY));
        Save("fuzz_compare", std::string(c.name) + "-fixed", Zlib(c.data, 6, Z_FIXED));
        Save("fuzz_compare", std::string(c.name) + "-huffman", Zlib(c.data, 6, Z_HUFFMAN_ONLY));
        Save("fuzz_compare", std::string(c.name) + "-rle", Zlib(c.data, 6, Z_RLE));
        Save("fuzz_compare", std::string(c.name) + "-libdeflate12", Libdeflate(c.data, 12));
        if (c.data.size() <= 10000)
            Save("fuzz_compare", std::string(c.name) + "-stored", Zlib(c.data, 0, Z_DEFAULT_STRATEGY));
    }

    ShortEndSeeds();

    // Packages: three files (compressed text, stored noise, long runs).
    Bytes text = Text(6000), noise = Noise(5000, 9), runs = Runs(60000);
    std::vector<Bytes> files{EncodeStream(text.data(), text.size(), 6),
                             EncodeStream(noise.data(), noise.size(), 6),
                             EncodeStream(runs.data(), runs.size(), 9)};
    size_t s0 = files[0].size(), s1 = files[1].size();
    struct PackageSeed {
        const char* name;
        std::vector<size_t> splits;
        void (*damage)(fuzz::VolumeCase&);
    } packages[] = {
        {"one-volume", {}, nullptr},
        {"three-volumes", {s0 + 1000, s0 + s1 + 100}, nullptr},
        {"split-on-request", {4096, s0 + 4096}, nullptr},
        {"split-between-streams", {s0, s0 + s1}, nullptr},
        {"disk-inserted-at-once", {s0 + 1000},
         [](fuzz::VolumeCase& c) {
             c.volumes[1].kind = fuzz::Missing;
             c.answers = {4 | 0}; // insert the disk, OK
         }},
        {"disk-inserted-late", {s0 + 1000},
         [](fuzz::VolumeCase& c) {
             c.volumes[1].kind = fuzz::Missing;
             c.answers = {0, 1, 3, 4 | 0}; // OK, Cancel, No, insert + OK
         }},
        {"disk-never-inserted", {s0 + 1000}, [](fuzz::VolumeCase& c) { c.volumes[1].kind = fuzz::Missing; }},
        {"head-says-more", {s0 + 1000},
         [](fuzz::VolumeCase& c) {
             c.volumes[1].kind = fuzz::HeadGiven;
             c.volumes[1].head = static_cast<uint32_t>(c.volumes[1].payload.size()) + 3000;
         }},
        {"head-says-less", {s0 + 1000},
         [](fuzz::VolumeCase& c) {
             c.volumes[0].kind = fuzz::HeadGiven;
             c.volumes[0].head = 100;
         }},
        {"headless", {s0 + 1000}, [](fuzz::VolumeCase& c) { c.volumes[1].kind = fuzz::Headless; }},
        {"limit-too-large", {s0 + 1000},
         [](fuzz::VolumeCase& c) {
             c.decodes[0].limit += 5000;
             c.decodes[1].output = 2;
         }},
        {"skipped-and-failing-outputs", {s0 + 1000, s0 + s1 + 100},
         [](fuzz::VolumeCase& c) {
             c.decodes[0].output = 0;
             c.decodes[1].output = 2;
         }},
    };
    for (const PackageSeed& p : packages) {
        fuzz::VolumeCase c = Package(files, p.splits);
        if (p.damage)
            p.damage(c);
        Save("fuzz_volumes", p.name, fuzz::SerializeVolumeCase(c));
    }
    HeaderSeeds();
    std::printf("seeds written to %s\n", OutDir.c_str());
    return 0;
}
