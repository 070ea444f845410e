// The corpus file that decode_bench --save writes and decode_bench_win
// reads: "ZDBC", then per stream the sizes (u32, little-endian) of its
// original and of its three compressed forms (ours, zlib, libdeflate),
// followed by those four byte strings; an original size of 0 ends it.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "stub/decode/decoder.h"

namespace zevrin_bench {

using Bytes = std::vector<uint8_t>;
const int CorpusParts = 4; // original, ours, zlib, libdeflate

// `parts` holds CorpusParts entries per stream, in the order above.
inline bool SaveCorpus(const char* path, const std::vector<const Bytes*>& parts)
{
    std::FILE* file = std::fopen(path, "wb");
    if (!file)
        return false;
    auto put32 = [file](uint32_t value) {
        uint8_t bytes[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
        std::fwrite(bytes, 1, 4, file);
    };
    std::fwrite("ZDBC", 1, 4, file);
    for (size_t i = 0; i + CorpusParts <= parts.size(); i += CorpusParts) {
        for (int p = 0; p < CorpusParts; ++p)
            put32(static_cast<uint32_t>(parts[i + p]->size()));
        for (int p = 0; p < CorpusParts; ++p)
            std::fwrite(parts[i + p]->data(), 1, parts[i + p]->size(), file);
    }
    put32(0);
    return std::fclose(file) == 0;
}

// Appends CorpusParts byte strings per stream to `parts`; false when the
// file is missing or damaged.
inline bool LoadCorpus(const char* path, std::vector<Bytes>& parts)
{
    std::FILE* file = std::fopen(path, "rb");
    if (!file)
        return false;
    auto get32 = [file](uint32_t* value) {
        uint8_t b[4];
        if (std::fread(b, 1, 4, file) != 4)
            return false;
        *value = b[0] | b[1] << 8 | b[2] << 16 | uint32_t(b[3]) << 24;
        return true;
    };
    char magic[4];
    bool ok = std::fread(magic, 1, 4, file) == 4 && std::equal(magic, magic + 4, "ZDBC");
    while (ok) {
        uint32_t sizes[CorpusParts];
        ok = get32(&sizes[0]);
        if (!ok || sizes[0] == 0)
            break;
        for (int p = 1; p < CorpusParts && ok; ++p)
            ok = get32(&sizes[p]);
        for (int p = 0; p < CorpusParts && ok; ++p) {
            parts.emplace_back(sizes[p]);
            ok = std::fread(parts.back().data(), 1, sizes[p], file) == sizes[p];
        }
    }
    std::fclose(file);
    return ok && !parts.empty();
}

// One stream into `out`, which has room for exactly `size` bytes: true
// when the decoder gave exactly those bytes.
inline bool DecodeOurs(const Bytes& in, uint8_t* out, size_t size)
{
    uint32_t produced = 0;
    return zevrin::DecodeBuffer(in.data(), static_cast<uint32_t>(in.size()), out, static_cast<uint32_t>(size),
                                &produced, nullptr) == zevrin::DecodeOk &&
           produced == size;
}

// The same with zlib's raw inflate (inflateInit2 with windowBits -15).
inline bool DecodeZlib(z_stream& inflater, const Bytes& in, uint8_t* out, size_t size)
{
    inflateReset(&inflater);
    inflater.next_in = const_cast<Bytef*>(in.data());
    inflater.avail_in = static_cast<uInt>(in.size());
    inflater.next_out = out;
    inflater.avail_out = static_cast<uInt>(size);
    return inflate(&inflater, Z_FINISH) == Z_STREAM_END && inflater.total_out == size;
}

inline double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace zevrin_bench
