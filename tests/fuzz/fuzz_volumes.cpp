// The bounded source that reads the file-data region across package
// volumes, as the installer drives it: SETUP.EXE positioned at the region,
// then one DecodeToFile per file with its packed size as the limit. The
// input (volume_input.h) describes the volumes, which may be missing,
// short, or lie about their length in their heads, the packed sizes (which
// may lie too), and how the user answers the disk prompts.
//
// Whatever happens: no crash, no hang, no descriptor left open, no more
// prompts than the user answered (plus the two of giving up), and a give-up
// leaves the package closed and the installation cancelled.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "stub/decode/decoder.h"
#include "stub/shared/message_script.h"
#include "stub/shared/state.h"
#include "volume_input.h"

using namespace zevrin;

namespace {

// What precedes the region in SETUP.EXE: the stub and the header.
const char StubAndHeader[] = "MZ-STUB+HEADER";
const uint32_t RegionOffset = sizeof StubAndHeader - 1 + 4;

std::string Directory;
const fuzz::VolumeCase* Current;
size_t NextAnswer;
// ZEVRIN_FUZZ_VERBOSE=1 traces each decode, for replaying a finding.
bool Verbose;

std::string VolumePath(size_t v)
{
    return Directory + (v == 0 ? "/SETUP.EXE" : "/SETUP.D0" + std::to_string(v));
}

void RemoveDirectory()
{
    for (size_t v = 0; v < 3; ++v)
        unlink(VolumePath(v).c_str());
    rmdir(Directory.c_str());
}

void PutFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(f);
    if (!bytes.empty())
        FUZZ_CHECK(std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size());
    FUZZ_CHECK(std::fclose(f) == 0);
}

void WriteVolume(size_t v, bool inserted)
{
    const fuzz::VolumeFile& volume = Current->volumes[v];
    std::string path = VolumePath(v);
    if (volume.kind == fuzz::Missing && !inserted) {
        unlink(path.c_str());
        return;
    }
    std::vector<uint8_t> bytes;
    if (v == 0)
        bytes.assign(StubAndHeader, StubAndHeader + (RegionOffset - 4));
    if (volume.kind != fuzz::Headless)
        fuzz::PutU32(bytes, volume.kind == fuzz::HeadGiven ? volume.head : static_cast<uint32_t>(volume.payload.size()));
    bytes.insert(bytes.end(), volume.payload.begin(), volume.payload.end());
    PutFile(path, bytes);
}

// Answers the prompts from the input; once those run out, the scripted
// default gives up (Cancel, then Yes).
int Answer(const ShownMessage&)
{
    if (NextAnswer >= Current->answers.size())
        return 0;
    uint8_t answer = Current->answers[NextAnswer++];
    if (answer & 4) {
        for (size_t v = 1; v < Current->volumes.size(); ++v)
            if (Current->volumes[v].kind == fuzz::Missing)
                WriteVolume(v, true);
    }
    static const int buttons[4] = {AnswerOk, AnswerCancel, AnswerYes, AnswerNo};
    return buttons[answer & 3];
}

void Setup()
{
    // Under $TMPDIR when set: scripts/fuzz.sh points it into its work
    // directory, so that a crash (which skips atexit) leaves nothing in /tmp.
    const char* tmp = std::getenv("TMPDIR");
    std::string base = std::string(tmp && *tmp ? tmp : "/tmp") + "/zevrin-fuzz-XXXXXX";
    FUZZ_CHECK(mkdtemp(&base[0]));
    Directory = base;
    std::atexit(RemoveDirectory);
    SetMessageHook(Answer);
    Verbose = std::getenv("ZEVRIN_FUZZ_VERBOSE") != nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (Directory.empty())
        Setup();
    fuzz::VolumeCase c = fuzz::ParseVolumeCase(data, size);
    Current = &c;
    NextAnswer = 0;
    ScriptMessageAnswers({});
    int descriptors = fuzz::OpenDescriptorCount();

    for (size_t v = 0; v < 3; ++v) {
        if (v < c.volumes.size())
            WriteVolume(v, false);
        else
            unlink(VolumePath(v).c_str());
    }
    std::snprintf(PackageSourcePath, PathSize, "%s", VolumePath(0).c_str());
    std::snprintf(PackagePath, PathSize, "%s", PackageSourcePath);
    PackageHandle = OpenExisting(PackagePath, 0);
    FUZZ_CHECK(PackageHandle != INVALID_FILE_HANDLE);
    FUZZ_CHECK(SeekTo(PackageHandle, RegionOffset) == RegionOffset);
    VolumeNumber = 0;
    const fuzz::VolumeFile& first = c.volumes[0];
    VolumeDataLength = VolumeBytesLeft =
        first.kind == fuzz::HeadGiven ? first.head : static_cast<uint32_t>(first.payload.size());
    PageResult = PageRunning;
    ErrorCode = 0;

    for (const fuzz::DecodeRun& d : c.decodes) {
        FileHandle output = INVALID_FILE_HANDLE;
        if (d.output != 0) {
            output = OpenExisting(d.output == 1 ? "/dev/null" : "/dev/full", 1);
            FUZZ_CHECK(output != INVALID_FILE_HANDLE);
        }
        bool ok = DecodeToFile(output, PackageHandle, d.limit);
        CloseFile(output);
        if (Verbose)
            std::fprintf(stderr, "decode limit %u output %u: %s; volume %u, %u of %u bytes left, %zu prompts%s\n",
                         d.limit, d.output, ok ? "ok" : "failed", VolumeNumber, VolumeBytesLeft,
                         VolumeDataLength, ShownMessages().size(), PageResult == PageCancel ? ", cancelled" : "");
        FUZZ_CHECK(std::memchr(PackagePath, 0, PathSize));
        if (PageResult == PageCancel) {
            FUZZ_CHECK(!ok);
            FUZZ_CHECK(PackageHandle == INVALID_FILE_HANDLE);
            FUZZ_CHECK(ErrorCode == ErrorNotCompleted);
        }
    }
    FUZZ_CHECK(ShownMessages().size() <= c.answers.size() + 2);

    CloseFile(PackageHandle);
    PackageHandle = INVALID_FILE_HANDLE;
    FUZZ_CHECK(fuzz::OpenDescriptorCount() == descriptors);
    Current = nullptr;
    return 0;
}
