// Differential target: raw Deflate as zlib reads it, against our decoder
// reading the same stream rewritten in our format (TranscodeDeflate).
// Wherever zlib inflates a stream, ours must produce the same bytes, and
// must stop inside the rewritten stream, since packages place streams back
// to back. The crash targets only see whether the decoder survives; this
// one sees whether it is right.
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "authoring/encoder.h"
#include "fuzz_support.h"
#include "stub/decode/decoder.h"

using namespace zevrin;

namespace {

const size_t MaxOutput = 1u << 20;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static std::vector<uint8_t> inflated(MaxOutput);
    static z_stream zlib;
    static bool ready = inflateInit2(&zlib, -15) == Z_OK;
    FUZZ_CHECK(ready);
    FUZZ_CHECK(inflateReset(&zlib) == Z_OK);
    zlib.next_in = const_cast<Bytef*>(data);
    zlib.avail_in = static_cast<uInt>(size);
    zlib.next_out = inflated.data();
    zlib.avail_out = static_cast<uInt>(inflated.size());
    if (inflate(&zlib, Z_FINISH) != Z_STREAM_END)
        return 0; // not Deflate, or more output than we care to hold
    size_t deflateSize = size - zlib.avail_in;
    size_t outputSize = zlib.total_out;

    // The transcoder must take every stream zlib takes.
    std::vector<uint8_t> stream;
    FUZZ_CHECK(TranscodeDeflate(data, deflateSize, stream));

    // Followed by bytes that belong to someone else: a decoder that stops
    // on time never takes them.
    const size_t Trailer = 8;
    size_t streamSize = stream.size();
    stream.insert(stream.end(), Trailer, 0xC3);
    uint8_t* output = static_cast<uint8_t*>(std::malloc(outputSize));
    FUZZ_CHECK(output);
    uint32_t produced = 0, consumed = 0;
    int result = DecodeBuffer(stream.data(), static_cast<uint32_t>(stream.size()), output,
                              static_cast<uint32_t>(outputSize), &produced, &consumed);
    FUZZ_CHECK(result == DecodeOk);
    FUZZ_CHECK(produced == outputSize);
    FUZZ_CHECK(std::memcmp(output, inflated.data(), outputSize) == 0);
    if (consumed != streamSize)
        std::fprintf(stderr, "the decoder took %u bytes of a %zu-byte stream\n", consumed, streamSize);
    FUZZ_CHECK(consumed == streamSize);
    std::free(output);
    return 0;
}
