// One decoder, once over every stream of a corpus that decode_bench --save
// wrote, with nothing else around it: bench/instructions.sh runs it under
// qemu user mode with an instruction-counting plugin, once per decoder and
// once with "none" (the same loading and checking, no decode), and
// divides the difference by the output bytes.
//
//   decode_count ours|zlib|zlib-same-parse|none CORPUS
#include <cstdio>
#include <cstring>
#include <vector>

#include "bench/decode_corpus.h"

int main(int argc, char** argv)
{
    using zevrin_bench::Bytes;
    const char* const modes[] = {"ours", "zlib", "zlib-same-parse", "none"};
    int mode = -1;
    for (int m = 0; argc == 3 && m < 4; ++m)
        if (std::strcmp(argv[1], modes[m]) == 0)
            mode = m;
    std::vector<Bytes> parts;
    if (mode < 0 || !zevrin_bench::LoadCorpus(argv[2], parts)) {
        std::fprintf(stderr, "usage: decode_count ours|zlib|zlib-same-parse|none CORPUS\n");
        return 2;
    }
    const int P = zevrin_bench::CorpusParts;
    z_stream inflater{};
    if (inflateInit2(&inflater, -15) != Z_OK)
        return 1;
    uint64_t bytes = 0;
    for (size_t s = 0; s + P <= parts.size(); s += P) {
        const Bytes& original = parts[s];
        Bytes output(original.size());
        bool ok = true;
        if (mode == 0)
            ok = zevrin_bench::DecodeOurs(parts[s + 1], output.data(), output.size());
        else if (mode == 1 || mode == 2)
            ok = zevrin_bench::DecodeZlib(inflater, parts[s + mode + 1], output.data(), output.size());
        // The "none" run allocates and compares too (the original with
        // itself), so that the difference is the decode alone.
        if (!ok || (mode == 3 ? original : output) != original) {
            std::fprintf(stderr, "%s: wrong output for stream %zu\n", modes[mode], s / P);
            return 1;
        }
        bytes += original.size();
    }
    inflateEnd(&inflater);
    std::printf("%s %llu bytes\n", modes[mode], static_cast<unsigned long long>(bytes));
    return 0;
}
