// Decoder throughput as the stub ships it: our decoder, built with the
// stub's flags (zevrin_core), against zlib's raw inflate built for MinGW
// (Debian's libz-mingw-w64-dev), on the corpus and streams that the host
// benchmark wrote with --save. Run under Wine by scripts/bench.sh --windows.
//
// Each repetition decodes every stream with each decoder in turn; "best"
// sums each stream's fastest decode, "median" is the median repetition,
// as in decode_bench.
//
//   decode_bench_win [--repeat N] CORPUS
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/decode_corpus.h"

namespace {

using zevrin_bench::Bytes;
using Clock = std::chrono::steady_clock;

enum Decoder { Ours, Zlib, ZlibSameParse, DecoderCount };
const char* const DecoderNames[DecoderCount] = {"ours", "zlib", "zlib, same parse"};
// Which part of a stream's entry each decoder reads.
const int InputPart[DecoderCount] = {1, 2, 3};

bool Run(z_stream& inflater, Decoder which, const Bytes& in, uint8_t* out, size_t size)
{
    return which == Ours ? zevrin_bench::DecodeOurs(in, out, size) : zevrin_bench::DecodeZlib(inflater, in, out, size);
}

} // namespace

int main(int argc, char** argv)
{
    int repeat = 5;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc)
            repeat = std::atoi(argv[++i]);
        else
            path = argv[i];
    }
    std::vector<Bytes> parts;
    if (!path || repeat < 1 || !zevrin_bench::LoadCorpus(path, parts)) {
        std::fprintf(stderr, "usage: decode_bench_win [--repeat N] CORPUS (a file of decode_bench --save)\n");
        return 2;
    }
    const int P = zevrin_bench::CorpusParts;
    size_t streams = parts.size() / P;
    uint64_t corpusBytes = 0;
    size_t largest = 0;
    for (size_t s = 0; s < streams; ++s) {
        corpusBytes += parts[s * P].size();
        largest = std::max(largest, parts[s * P].size());
    }
    std::printf("%s build (%d-bit), %zu streams, %.2f MB\n", sizeof(void*) == 4 ? "i686" : "x86-64",
                int(sizeof(void*) * 8), streams, corpusBytes / 1e6);

    z_stream inflater{};
    if (inflateInit2(&inflater, -15) != Z_OK)
        return 1;
    Bytes output(largest);
    for (int d = 0; d < DecoderCount; ++d) {
        for (size_t s = 0; s < streams; ++s) {
            const Bytes& original = parts[s * P];
            std::fill(output.begin(), output.begin() + original.size(), 0);
            if (!Run(inflater, Decoder(d), parts[s * P + InputPart[d]], output.data(), original.size()) ||
                !std::equal(original.begin(), original.end(), output.begin())) {
                std::fprintf(stderr, "%s: wrong output for stream %zu\n", DecoderNames[d], s);
                return 1;
            }
        }
    }

    std::vector<std::vector<double>> fastest(DecoderCount, std::vector<double>(streams, 1e30));
    std::vector<std::vector<double>> totals(DecoderCount, std::vector<double>(repeat, 0));
    for (int r = 0; r < repeat; ++r) {
        for (size_t s = 0; s < streams; ++s) {
            for (int d = 0; d < DecoderCount; ++d) {
                Clock::time_point start = Clock::now();
                bool ok = Run(inflater, Decoder(d), parts[s * P + InputPart[d]], output.data(), parts[s * P].size());
                double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
                if (!ok)
                    return 1;
                fastest[d][s] = std::min(fastest[d][s], elapsed);
                totals[d][r] += elapsed;
            }
        }
    }
    inflateEnd(&inflater);

    double best[DecoderCount], median[DecoderCount];
    std::printf("decoding, MB/s of output, %d repetitions: best (median)\n", repeat);
    for (int d = 0; d < DecoderCount; ++d) {
        double seconds = 0;
        for (double t : fastest[d])
            seconds += t;
        best[d] = corpusBytes / 1e6 / seconds;
        median[d] = corpusBytes / 1e6 / zevrin_bench::Median(totals[d]);
        std::printf("  %-22s %8.1f (%8.1f)\n", DecoderNames[d], best[d], median[d]);
    }
    std::printf("throughput ratios (best; median in brackets)\n");
    std::printf("  %-22s %5.2fx (%5.2fx)\n", "ours/zlib", best[Ours] / best[Zlib], median[Ours] / median[Zlib]);
    std::printf("  %-22s %5.2fx (%5.2fx)\n", "ours/zlib, same parse", best[Ours] / best[ZlibSameParse],
                median[Ours] / median[ZlibSameParse]);
    return 0;
}
