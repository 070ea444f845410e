// The input layout of fuzz_volumes: a package whose file-data region is
// spread over SETUP.EXE and up to two continuation volumes, the decodes to
// run over it and the user's answers to the disk prompts. Parse accepts
// any bytes (missing fields read as zero); Serialize writes what Parse
// reads, so the seed generator can build meaningful packages.
//
//   u8   bits 0-1: decodes - 1 (3 counts as 2), bits 2-3: continuation
//        volumes (3 counts as 2)
//   u8   answer count (low 4 bits), then that many answers: bits 0-1
//        pick OK, Cancel, Yes, No; bit 2 puts the missing volumes in place
//        before answering (the user inserts the disk)
//   per decode: u32 limit (the packed size, 0 = unbounded), u8 output
//        (0 nowhere, 1 /dev/null, 2 /dev/full, which fails every write)
//   per volume, SETUP.EXE first: u8 kind, u32 head if kind is HeadGiven,
//        u32 payload length
//   the rest: the region, dealt out to the volumes in order by their
//        payload lengths; the last volume takes whatever is left
#pragma once

#include <cstdint>
#include <vector>

namespace fuzz {

enum VolumeKind : uint8_t {
    HeadTrue = 0,  // head holds the payload length
    HeadGiven = 1, // head holds the value from the input (may lie)
    Missing = 2,   // no file until the user "inserts the disk"
    Headless = 3,  // only the payload: a head cut short or read from data
};

struct VolumeFile {
    uint8_t kind = HeadTrue;
    uint32_t head = 0;
    std::vector<uint8_t> payload;
};

struct DecodeRun {
    uint32_t limit = 0;
    uint8_t output = 0;
};

struct VolumeCase {
    std::vector<DecodeRun> decodes;
    std::vector<uint8_t> answers;
    std::vector<VolumeFile> volumes; // [0] is SETUP.EXE
};

class InputReader {
public:
    InputReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    uint32_t U32()
    {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i)
            value |= static_cast<uint32_t>(Byte()) << (8 * i);
        return value;
    }
    size_t Left() const { return size_ - at_; }
    const uint8_t* Here() const { return data_ + at_; }
    void Skip(size_t n) { at_ += n < Left() ? n : Left(); }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

inline VolumeCase ParseVolumeCase(const uint8_t* data, size_t size)
{
    InputReader in(data, size);
    VolumeCase c;
    uint8_t counts = in.Byte();
    unsigned decodes = (counts & 3) == 3 ? 3 : (counts & 3) + 1;
    unsigned continuations = ((counts >> 2) & 3) == 3 ? 2 : (counts >> 2) & 3;
    unsigned answers = in.Byte() & 15;
    for (unsigned i = 0; i < answers; ++i)
        c.answers.push_back(in.Byte());
    for (unsigned i = 0; i < decodes; ++i) {
        DecodeRun d;
        d.limit = in.U32();
        d.output = in.Byte() % 3;
        c.decodes.push_back(d);
    }
    std::vector<uint32_t> lengths;
    for (unsigned v = 0; v < 1 + continuations; ++v) {
        VolumeFile volume;
        volume.kind = in.Byte() & 3;
        if (v == 0 && volume.kind >= Missing)
            volume.kind = HeadGiven; // SETUP.EXE is the program running: always there
        if (volume.kind == HeadGiven)
            volume.head = in.U32();
        lengths.push_back(in.U32());
        c.volumes.push_back(volume);
    }
    for (size_t v = 0; v < c.volumes.size(); ++v) {
        size_t take = v + 1 == c.volumes.size() || lengths[v] > in.Left() ? in.Left() : lengths[v];
        c.volumes[v].payload.assign(in.Here(), in.Here() + take);
        in.Skip(take);
    }
    return c;
}

inline void PutU32(std::vector<uint8_t>& out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

inline std::vector<uint8_t> SerializeVolumeCase(const VolumeCase& c)
{
    std::vector<uint8_t> out;
    unsigned decodes = c.decodes.empty() ? 1 : static_cast<unsigned>(c.decodes.size());
    out.push_back(static_cast<uint8_t>((decodes - 1) | (c.volumes.size() - 1) << 2));
    out.push_back(static_cast<uint8_t>(c.answers.size()));
    out.insert(out.end(), c.answers.begin(), c.answers.end());
    for (const DecodeRun& d : c.decodes) {
        PutU32(out, d.limit);
        out.push_back(d.output);
    }
    for (const VolumeFile& v : c.volumes) {
        out.push_back(v.kind);
        if (v.kind == HeadGiven)
            PutU32(out, v.head);
        PutU32(out, static_cast<uint32_t>(v.payload.size()));
    }
    for (const VolumeFile& v : c.volumes)
        out.insert(out.end(), v.payload.begin(), v.payload.end());
    return out;
}

} // namespace fuzz
