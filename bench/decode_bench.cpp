// Decoder throughput: our stream decoder against zlib's inflate and
// libdeflate, on a corpus of files found on this machine.
//
// The corpus: regular files (symbolic links skipped) taken in sorted path
// order from each source below, each file that still fits its share; files
// above 8 MB are left out so that no single file dominates. The default sources give
// 64 MB: 20 MB of executables (/usr/bin), 20 MB of shared libraries
// (/usr/lib/x86_64-linux-gnu/*.so*), 23.75 MB of C headers (/usr/include)
// and up to 0.25 MB of license texts (/usr/share/common-licenses). The
// same machine gives the same corpus; other machines give similar ones.
// Directories given on the command line replace these sources.
//
// Each file is one stream, as the installer packs it, compressed three
// ways at the same level: our format (EncodeStream), zlib raw Deflate
// (deflateInit2, windowBits -15) and libdeflate raw Deflate. After an
// untimed pass that checks every output against the original, each
// repetition decodes every stream with each decoder in turn, into a
// buffer of the known size. Throughput is MB (10^6 bytes) of output per
// second: "best" sums each stream's fastest decode over the repetitions,
// "median" is the median repetition. zlib also decodes libdeflate's
// streams ("zlib, same parse"): those hold the same matches and block
// boundaries as ours, so that row compares the decoders alone.
//
// --save FILE also writes the corpus and its streams (ours, zlib,
// libdeflate) to FILE, for decode_bench_win (bench/decode_bench_win.cpp),
// which times the same streams in the Windows build under Wine.
//
//   decode_bench [--level N] [--repeat N] [--max-mb N] [--list] [--save FILE] [DIR...]
#include <dirent.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "authoring/encoder.h"
#include "bench/decode_corpus.h"
#include "stub/decode/decoder.h"

namespace {

using zevrin_bench::Bytes;
using zevrin_bench::Median;
using Clock = std::chrono::steady_clock;

const uint64_t MB = 1000000;
const uint64_t MaxFileSize = 8 * MB;

struct Source {
    const char* name;
    std::string directory;
    bool recursive;
    const char* nameContains; // null: any file
    uint64_t share;           // bytes, before scaling to --max-mb
};

struct Category {
    std::string name;
    size_t files = 0;
    uint64_t bytes = 0;
};

struct Item {
    std::string path;
    size_t category;
    Bytes original;
    Bytes ours, zlib, libdeflate;
};

struct Found {
    std::string path;
    uint64_t size;
};

void Walk(const std::string& directory, bool recursive, const char* nameContains, std::vector<Found>& found)
{
    DIR* dir = opendir(directory.c_str());
    if (!dir)
        return;
    std::vector<std::string> names;
    while (dirent* entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.push_back(entry->d_name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        std::string path = directory + "/" + name;
        struct stat info;
        if (lstat(path.c_str(), &info) != 0)
            continue;
        if (S_ISDIR(info.st_mode)) {
            if (recursive)
                Walk(path, recursive, nameContains, found);
        } else if (S_ISREG(info.st_mode) && info.st_size > 0 &&
                   static_cast<uint64_t>(info.st_size) <= MaxFileSize &&
                   (!nameContains || name.find(nameContains) != std::string::npos)) {
            found.push_back({path, static_cast<uint64_t>(info.st_size)});
        }
    }
}

bool ReadFile(const std::string& path, Bytes& out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !out.empty();
}

Bytes ZlibCompress(z_stream& z, const Bytes& data)
{
    deflateReset(&z);
    Bytes out(deflateBound(&z, data.size()));
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    if (deflate(&z, Z_FINISH) != Z_STREAM_END) {
        std::fprintf(stderr, "zlib deflate failed\n");
        std::exit(1);
    }
    out.resize(z.total_out);
    return out;
}

Bytes LibdeflateCompress(libdeflate_compressor* c, const Bytes& data)
{
    Bytes out(libdeflate_deflate_compress_bound(c, data.size()));
    out.resize(libdeflate_deflate_compress(c, data.data(), data.size(), out.data(), out.size()));
    if (out.empty()) {
        std::fprintf(stderr, "libdeflate compression failed\n");
        std::exit(1);
    }
    return out;
}

// The decoders under test. Each decodes one stream into `out` (sized for
// the original) and returns false on any error.
enum Decoder { Ours, Zlib, ZlibSameParse, Libdeflate, DecoderCount };
const char* const DecoderNames[DecoderCount] = {"ours", "zlib", "zlib, same parse", "libdeflate"};

struct Decoders {
    z_stream inflater{};
    libdeflate_decompressor* libdeflate = nullptr;

    Decoders()
    {
        if (inflateInit2(&inflater, -15) != Z_OK || !(libdeflate = libdeflate_alloc_decompressor())) {
            std::fprintf(stderr, "cannot set up the decoders\n");
            std::exit(1);
        }
    }
    ~Decoders()
    {
        inflateEnd(&inflater);
        libdeflate_free_decompressor(libdeflate);
    }

    bool Run(Decoder which, const Item& item, uint8_t* out)
    {
        size_t size = item.original.size();
        switch (which) {
        case Ours: return zevrin_bench::DecodeOurs(item.ours, out, size);
        case Zlib: return zevrin_bench::DecodeZlib(inflater, item.zlib, out, size);
        case ZlibSameParse: return zevrin_bench::DecodeZlib(inflater, item.libdeflate, out, size);
        case Libdeflate:
            return libdeflate_deflate_decompress(libdeflate, item.libdeflate.data(), item.libdeflate.size(), out,
                                                 size, nullptr) == LIBDEFLATE_SUCCESS;
        default: return false;
        }
    }
};

void Usage()
{
    std::fprintf(stderr, "usage: decode_bench [--level N] [--repeat N] [--max-mb N] [--list] [--save FILE] [DIR...]\n"
                         "  --level N   compression level for all three (1..12, zlib 1..9; default 6)\n"
                         "  --repeat N  timed repetitions (default 5)\n"
                         "  --max-mb N  corpus size in MB (default 64)\n"
                         "  --list      print the corpus files\n"
                         "  --save FILE write the corpus and its streams for decode_bench_win\n");
    std::exit(2);
}

} // namespace

int main(int argc, char** argv)
{
    int level = 6;
    int repeat = 5;
    double maxMb = 64;
    bool list = false;
    std::string savePath;
    std::vector<std::string> directories;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if ((arg == "--level" || arg == "--repeat" || arg == "--max-mb") && i + 1 < argc) {
            double value = std::atof(argv[++i]);
            if (arg == "--level")
                level = static_cast<int>(value);
            else if (arg == "--repeat")
                repeat = static_cast<int>(value);
            else
                maxMb = value;
        } else if (arg == "--save" && i + 1 < argc) {
            savePath = argv[++i];
        } else if (arg == "--list") {
            list = true;
        } else if (!arg.empty() && arg[0] != '-') {
            directories.push_back(arg);
        } else {
            Usage();
        }
    }
    if (level < 1 || level > 12 || repeat < 1 || maxMb <= 0)
        Usage();
#ifndef NDEBUG
    std::printf("warning: built without NDEBUG; use the host preset (Release, -O2) for figures\n");
#endif

    std::vector<Source> sources;
    if (directories.empty()) {
        sources = {
            {"executables", "/usr/bin", false, nullptr, 20 * MB},
            {"shared libraries", "/usr/lib/x86_64-linux-gnu", false, ".so", 20 * MB},
            {"headers", "/usr/include", true, nullptr, 23750000},
            {"licenses", "/usr/share/common-licenses", true, nullptr, 250000},
        };
    } else {
        for (const std::string& d : directories)
            sources.push_back({"", d, true, nullptr, 0});
    }
    uint64_t total = static_cast<uint64_t>(maxMb * MB);
    uint64_t shares = 0;
    for (Source& s : sources)
        shares += s.share;
    for (Source& s : sources) {
        if (!*s.name)
            s.name = s.directory.c_str();
        // Shares scale with --max-mb; directories given by hand share it evenly.
        s.share = shares ? static_cast<uint64_t>(static_cast<double>(s.share) / shares * total)
                         : total / sources.size();
    }

    // --- corpus ---
    std::vector<Category> categories;
    std::vector<Item> items;
    for (const Source& s : sources) {
        Category category;
        category.name = s.name;
        std::vector<Found> files;
        Walk(s.directory, s.recursive, s.nameContains, files);
        for (const Found& file : files) {
            // A file that would overfill the share is passed over; smaller
            // ones after it may still fit.
            if (category.bytes + file.size > s.share)
                continue;
            Item item;
            if (!ReadFile(file.path, item.original) || item.original.size() != file.size)
                continue;
            category.bytes += item.original.size();
            ++category.files;
            item.path = file.path;
            item.category = categories.size();
            items.push_back(std::move(item));
        }
        categories.push_back(category);
    }
    uint64_t corpusBytes = 0;
    size_t largest = 0;
    for (const Item& item : items) {
        corpusBytes += item.original.size();
        largest = std::max(largest, item.original.size());
    }
    if (items.empty()) {
        std::fprintf(stderr, "no files found\n");
        return 1;
    }
    std::printf("corpus: %zu files, %.2f MB; each file one stream\n", items.size(), corpusBytes / double(MB));
    for (const Category& c : categories)
        std::printf("  %-18s %5zu files %8.2f MB\n", c.name.c_str(), c.files, c.bytes / double(MB));
    if (list) {
        for (const Item& item : items)
            std::printf("  %s %zu\n", item.path.c_str(), item.original.size());
    }

    // --- compression ---
    int zlibLevel = std::min(level, 9);
    std::printf("compressing at level %d (zlib %d)...\n", level, zlibLevel);
    std::fflush(stdout);
    z_stream deflater{};
    if (deflateInit2(&deflater, zlibLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return 1;
    libdeflate_compressor* compressor = libdeflate_alloc_compressor(level);
    if (!compressor)
        return 1;
    uint64_t oursBytes = 0, zlibBytes = 0, libdeflateBytes = 0;
    for (Item& item : items) {
        item.ours = zevrin::EncodeStream(item.original.data(), item.original.size(), level);
        item.zlib = ZlibCompress(deflater, item.original);
        item.libdeflate = LibdeflateCompress(compressor, item.original);
        oursBytes += item.ours.size();
        zlibBytes += item.zlib.size();
        libdeflateBytes += item.libdeflate.size();
    }
    deflateEnd(&deflater);
    libdeflate_free_compressor(compressor);
    std::printf("compressed sizes:\n");
    std::printf("  %-18s %10.2f MB  %5.1f%%\n", "ours", oursBytes / double(MB), 100.0 * oursBytes / corpusBytes);
    std::printf("  %-18s %10.2f MB  %5.1f%%\n", "zlib", zlibBytes / double(MB), 100.0 * zlibBytes / corpusBytes);
    std::printf("  %-18s %10.2f MB  %5.1f%%\n", "libdeflate", libdeflateBytes / double(MB),
                100.0 * libdeflateBytes / corpusBytes);

    if (!savePath.empty()) {
        std::vector<const Bytes*> parts;
        for (const Item& item : items)
            parts.insert(parts.end(), {&item.original, &item.ours, &item.zlib, &item.libdeflate});
        if (!zevrin_bench::SaveCorpus(savePath.c_str(), parts)) {
            std::fprintf(stderr, "cannot write %s\n", savePath.c_str());
            return 1;
        }
        std::printf("corpus and streams written to %s\n", savePath.c_str());
    }

    // --- decoding ---
    Decoders decoders;
    Bytes output(largest);
    for (int d = 0; d < DecoderCount; ++d) {
        for (const Item& item : items) {
            std::fill(output.begin(), output.begin() + item.original.size(), 0);
            if (!decoders.Run(static_cast<Decoder>(d), item, output.data()) ||
                !std::equal(item.original.begin(), item.original.end(), output.begin())) {
                std::fprintf(stderr, "%s: wrong output for %s\n", DecoderNames[d], item.path.c_str());
                return 1;
            }
        }
    }

    // Each stream is decoded by every decoder in turn before the next
    // stream, so that all of them meet the same machine; the machine is
    // rarely quiet. Per decoder and column: the sum over its streams of
    // each stream's fastest decode ("best"), and the median over the
    // repetitions of their totals ("median").
    size_t columns = categories.size() + 1;
    std::vector<std::vector<double>> fastest(DecoderCount, std::vector<double>(items.size(), 1e30));
    std::vector<std::vector<std::vector<double>>> totals(
        DecoderCount, std::vector<std::vector<double>>(columns, std::vector<double>(repeat, 0)));
    for (int r = 0; r < repeat; ++r) {
        for (size_t i = 0; i < items.size(); ++i) {
            for (int d = 0; d < DecoderCount; ++d) {
                Clock::time_point start = Clock::now();
                bool ok = decoders.Run(static_cast<Decoder>(d), items[i], output.data());
                double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
                if (!ok)
                    return 1;
                fastest[d][i] = std::min(fastest[d][i], elapsed);
                totals[d][items[i].category][r] += elapsed;
                totals[d][columns - 1][r] += elapsed;
            }
        }
    }

    std::vector<uint64_t> columnBytes;
    for (const Category& c : categories)
        columnBytes.push_back(c.bytes);
    columnBytes.push_back(corpusBytes);
    std::vector<std::vector<double>> best(DecoderCount), median(DecoderCount);
    for (int d = 0; d < DecoderCount; ++d) {
        std::vector<double> bestSeconds(columns, 0);
        for (size_t i = 0; i < items.size(); ++i) {
            bestSeconds[items[i].category] += fastest[d][i];
            bestSeconds[columns - 1] += fastest[d][i];
        }
        for (size_t c = 0; c < columns; ++c) {
            double typical = Median(totals[d][c]);
            best[d].push_back(bestSeconds[c] > 0 ? columnBytes[c] / double(MB) / bestSeconds[c] : 0);
            median[d].push_back(typical > 0 ? columnBytes[c] / double(MB) / typical : 0);
        }
    }

    std::printf("\ndecoding, MB/s of output, %d repetitions: best (median)\n", repeat);
    std::printf("  %-22s", "");
    for (const Category& c : categories)
        std::printf(" %20.20s", c.name.c_str());
    std::printf(" %20s\n", "all");
    for (int d = 0; d < DecoderCount; ++d) {
        std::printf("  %-22s", DecoderNames[d]);
        for (size_t c = 0; c < columns; ++c)
            std::printf("      %6.1f (%6.1f)", best[d][c], median[d][c]);
        std::printf("\n");
    }
    struct Ratio {
        const char* name;
        Decoder against;
    } ratios[] = {{"ours/zlib", Zlib}, {"ours/zlib, same parse", ZlibSameParse}, {"ours/libdeflate", Libdeflate}};
    std::printf("\nthroughput ratios (best; median in brackets)\n");
    for (const Ratio& r : ratios) {
        std::printf("  %-22s", r.name);
        for (size_t c = 0; c < columns; ++c)
            std::printf("      %5.2fx (%5.2fx)", best[Ours][c] / best[r.against][c],
                        median[Ours][c] / median[r.against][c]);
        std::printf("\n");
    }
    return 0;
}
