// The byte source of a decode, package volumes, and the decode entry
// points.
//
// A source reads its file in 4096-byte requests. An unbounded source
// (limit 0) reads a header stream to the end of the file and gives back
// what the decoder did not take. A bounded source reads the file-data
// region, which may continue in the volumes SETUP.D01, SETUP.D02, ...:
// each volume up to the data its head declares; when a request comes back
// short it changes to the next volume, asking for its disk when it cannot
// be opened.
#include <cstring>
#include <new>

#include "../shared/byte_cursor.h"
#include "../shared/state.h"
#include "../shared/messages.h"
#include "decoder.h"

namespace zevrin {

namespace {

// A volume whose head cannot be read is reopened at once this many times
// before the user is asked for the disk again.
const int HeadReadAttempts = 3;

// VolumeBytesLeft never wraps below zero, even when a volume holds more
// bytes than its head declares.
void CountVolumeBytes(uint32_t read)
{
    VolumeBytesLeft = read < VolumeBytesLeft ? VolumeBytesLeft - read : 0;
}

} // namespace

bool StreamDecoder::OpenSource(FileHandle fileHandle, uint32_t byteLimit)
{
    if (fileHandle == INVALID_FILE_HANDLE)
        return false;
    if (!AllocZeroedWithRetry(SourceBufferSize, &buffer))
        return false;
    ownsBuffer = true;
    cursor = buffer;
    available = 0;
    handle = fileHandle;
    limit = byteLimit;
    bounded = byteLimit != 0;
    abandoned = false;
    return true;
}

void StreamDecoder::OpenMemorySource(const uint8_t* data, uint32_t size)
{
    ReleaseSource();
    buffer = const_cast<uint8_t*>(data);
    ownsBuffer = false;
    cursor = data;
    available = size;
    handle = INVALID_FILE_HANDLE;
    limit = 0;
    bounded = true; // with its limit used up: nothing more to read
    abandoned = false;
}

bool StreamDecoder::NextByte(uint8_t* byte)
{
    if (available == 0) {
        FillBuffer();
        if (available == 0)
            return false;
    }
    *byte = *cursor++;
    --available;
    return true;
}

void StreamDecoder::FillBuffer()
{
    // An output given up ends the decode here: the source runs dry.
    if (sink && sink->Stopped())
        abandoned = true;
    if (abandoned || (bounded && limit == 0))
        return;
    if (!buffer || handle == INVALID_FILE_HANDLE)
        return;
    uint32_t request = bounded && limit < SourceBufferSize ? limit : SourceBufferSize;
    // A volume is read up to the data its head declares, never beyond:
    // whatever follows (an Authenticode signature of SETUP.EXE) is not
    // the next volume's data.
    uint32_t inVolume = bounded && VolumeBytesLeft < request ? VolumeBytesLeft : request;
    uint32_t got = inVolume ? ReadSome(handle, buffer, inVolume) : 0;
    cursor = buffer;
    available = got;
    if (!bounded)
        return;

    limit -= request;
    CountVolumeBytes(got);
    if (got == request)
        return;

    // This volume is used up, or failed inside: go on in the next one (or
    // the same one again), at most once per fill.
    handle = OpenNextVolume();
    if (handle == INVALID_FILE_HANDLE) {
        // Nothing more is decoded from a volume set the user gave up on.
        abandoned = true;
        available = 0;
        return;
    }
    uint32_t rest = request - got < VolumeBytesLeft ? request - got : VolumeBytesLeft;
    uint32_t more = rest ? ReadSome(handle, buffer + got, rest) : 0;
    available += more;
    CountVolumeBytes(more);
}

void StreamDecoder::ReleaseSource()
{
    if (ownsBuffer) {
        if (handle != INVALID_FILE_HANDLE && available > 0)
            SeekBy(handle, -static_cast<int32_t>(available));
        FreeAndClear(&buffer);
    }
    buffer = nullptr;
    ownsBuffer = false;
    cursor = nullptr;
    available = 0;
    handle = INVALID_FILE_HANDLE;
}

void VolumeExtension(uint32_t number, char* out)
{
    char digits[10];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + number % 10);
        number /= 10;
    } while (number);
    if (n < 2)
        digits[n++] = '0';
    *out++ = '.';
    *out++ = 'D';
    while (n)
        *out++ = digits[--n];
    *out = 0;
}

void ReplaceExtension(char* path, const char* extension)
{
    size_t length = std::strlen(path);
    size_t cut = length;
    for (size_t i = length; i > 0; --i) {
        char c = path[i - 1];
        if (c == '\\' || c == '/')
            break;
        if (c == '.') {
            cut = i - 1;
            break;
        }
    }
    // Never past the path buffer: a name that cannot fit is cut, and the
    // open that follows fails on it rather than on someone else's memory.
    size_t room = PathSize - 1 - cut;
    size_t extensionLength = std::strlen(extension);
    if (extensionLength > room)
        extensionLength = room;
    std::memcpy(path + cut, extension, extensionLength);
    path[cut + extensionLength] = 0;
}

FileHandle OpenNextVolume()
{
    CloseFile(PackageHandle);
    PackageHandle = INVALID_FILE_HANDLE;

    bool resumed = VolumeBytesLeft != 0;
    uint32_t resumeOffset = 0;
    uint32_t bytesLeftBefore = VolumeBytesLeft;
    if (resumed) {
        // The read failed inside this volume: open it again and go on.
        resumeOffset = VolumeDataLength - VolumeBytesLeft;
    } else {
        ++VolumeNumber;
        char extension[16];
        VolumeExtension(VolumeNumber, extension);
        ReplaceExtension(PackagePath, extension);
    }

    int headFailures = 0;
    for (;;) {
        PackageHandle = headFailures < HeadReadAttempts ? OpenExisting(PackagePath, 0) : INVALID_FILE_HANDLE;
        if (PackageHandle == INVALID_FILE_HANDLE) {
            headFailures = 0;
            // Nobody to insert the disk: the run fails, naming the volume.
            if (AnswerQuestionsQuietly) {
                ErrorCode = ErrorCannotOpen;
                std::memcpy(ErrorSubject, PackagePath, PathSize);
                return INVALID_FILE_HANDLE;
            }
            char text[200];
            FormatText(text, sizeof text, GetMessageText(GroupMessages, MsgInsertDisk), nullptr, static_cast<long>(VolumeNumber) + 1);
            if (ShowMessage(text, MessageOkCancel) == AnswerOk)
                continue;
            if (ShowMessage(GetMessageText(GroupMessages, MsgCancelInstalling), MessageYesNo) != AnswerYes)
                continue;
            PageResult = PageCancel;
            ErrorCode = ErrorNotCompleted;
            InstallOutcome = OutcomeCancelled;
            PendingViewEntry = PendingLaunchEntry = PendingScreenSaverEntry = nullptr;
            return INVALID_FILE_HANDLE;
        }
        uint8_t head[4];
        if (ReadExact(PackageHandle, head, 4) != 0) {
            CloseFile(PackageHandle);
            PackageHandle = INVALID_FILE_HANDLE;
            VolumeDataLength = 0;
            VolumeBytesLeft = 0;
            ++headFailures;
            continue;
        }
        VolumeDataLength = ByteCursor(head, sizeof head).U32();
        break;
    }

    if (!resumed) {
        VolumeBytesLeft = VolumeDataLength;
        return PackageHandle;
    }
    VolumeBytesLeft = bytesLeftBefore;
    if (SeekBy(PackageHandle, static_cast<int32_t>(resumeOffset)) != resumeOffset + 4) {
        CloseFile(PackageHandle);
        PackageHandle = INVALID_FILE_HANDLE;
        VolumeDataLength = 0;
        VolumeBytesLeft = 0;
    }
    return PackageHandle;
}

namespace {

// Runs one decode into `sink`, which it takes over: a Decode result, with
// an output that did not fit as bad data and an abandoned volume set as
// -1.
// A file sink's write failure goes to *writeFailed.
int RunDecode(StreamDecoder& decoder, OutputSink* sink, const MemorySink* memory, int* writeFailed = nullptr)
{
    if (!sink)
        return DecodeOutOfMemory;
    if (!sink->IsReady()) {
        delete sink;
        return DecodeOutOfMemory;
    }
    decoder.sink = sink;
    int result = decoder.Decode();
    if (decoder.abandoned)
        result = -1;
    decoder.ReleaseSource();
    decoder.sink = nullptr;
    if (result == DecodeOk && memory && memory->overflowed)
        result = DecodeBadData;
    if (writeFailed)
        *writeFailed = static_cast<FileSink*>(sink)->failed;
    delete sink;
    return result;
}

} // namespace

int DecodeToMemoryResult(uint8_t* destination, uint32_t capacity, FileHandle handle, uint32_t limit)
{
    StreamDecoder decoder;
    if (!decoder.OpenSource(handle, limit))
        return DecodeOutOfMemory;
    MemorySink* sink = new (std::nothrow) MemorySink(destination, capacity);
    return RunDecode(decoder, sink, sink);
}

bool DecodeToMemory(uint8_t* destination, uint32_t capacity, FileHandle handle, uint32_t limit)
{
    return DecodeToMemoryResult(destination, capacity, handle, limit) == DecodeOk;
}

bool DecodeToMemory(uint8_t* destination, FileHandle handle, uint32_t limit)
{
    return DecodeToMemory(destination, BlockSize(destination), handle, limit);
}

int DecodeToFileResult(FileHandle outputHandle, FileHandle packageHandle, uint32_t limit, RunningSum* written,
                       WriteObserver observer)
{
    StreamDecoder decoder;
    if (!decoder.OpenSource(packageHandle, limit))
        return DecodeOutOfMemory;
    FileSink* sink = new (std::nothrow) FileSink(outputHandle);
    if (sink) {
        sink->written = written;
        sink->observer = observer;
    }
    int failed = 0;
    int result = RunDecode(decoder, sink, nullptr, &failed);
    return failed && result != -1 ? DecodeWriteFailed : result;
}

bool DecodeToFile(FileHandle outputHandle, FileHandle packageHandle, uint32_t limit)
{
    return DecodeToFileResult(outputHandle, packageHandle, limit) == DecodeOk;
}

int DecodeBuffer(const uint8_t* input, uint32_t inputSize, uint8_t* output, uint32_t capacity,
                 uint32_t* produced, uint32_t* consumed)
{
    StreamDecoder decoder;
    decoder.OpenMemorySource(input, inputSize);
    MemorySink sink(output, capacity);
    decoder.sink = &sink;
    int result = decoder.Decode();
    decoder.sink = nullptr;
    if (produced)
        *produced = capacity - sink.room;
    if (consumed)
        *consumed = inputSize - decoder.available;
    if (result == DecodeOk && sink.overflowed)
        result = DecodeBadData;
    return result;
}

} // namespace zevrin
