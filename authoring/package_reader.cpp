// Reading a SETUP.EXE with the stub's own code: the header through
// ReadPackageHeader, the streams through StreamDecoder's bounded byte
// source, which changes volumes itself (OpenNextVolume) when a stream
// continues in SETUP.D01, SETUP.D02, ...
//
// Before the stub reads the header, a walk over the record heads catches
// what the stub would only fail on without saying why (a file cut short, a
// record longer than the file, a damaged file table) and what a host with
// plenty of virtual memory should not attempt (a record that claims
// gigabytes of unpacked bytes). The volumes are looked over before any
// stream is decoded, so a missing or cut volume is named instead of
// showing up as a damaged stream.
#include "package_reader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

#include "../stub/decode/decoder.h"
#include "../stub/engine/file_table.h"
#include "../stub/shared/message_script.h"
#include "../stub/shared/state.h"
#include "../stub/startup/header.h"
#include "../stub/shared/messages.h"

namespace zevrin {

namespace {

// Opens the stub's stamp record: "ww" "gT)H".
const uint8_t StampMarker[6] = {0x77, 0x77, 0x67, 0x54, 0x29, 0x48};

// No honest header record comes near this; the 32-bit installer could not
// allocate it anyway.
const uint32_t MaxRecordUnpacked = 256u << 20;
// Deflate turns at most 2 bits into 258 bytes.
const uint64_t MaxExpansion = 1032;
// Volumes are named .D01 to .D999 and beyond; no real set comes close.
const uint32_t MaxVolumes = 999;

bool PackageOpen = false;

std::string Hex(uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

std::string TagName(uint16_t tag)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", tag);
    return text;
}

std::string Text(const char* text) { return text ? std::string(text) : std::string(); }

// Answers the stub's disk prompt as a user who has no such disk would
// (Cancel, then Yes to giving up), and remembers what was asked for.
struct PromptCatcher {
    PromptCatcher()
    {
        SetMessageHook([this](const ShownMessage& message) {
            if (message.type == MessageOkCancel) {
                prompted = true;
                volume = PackagePath;
                disk = VolumeNumber + 1;
                return static_cast<int>(AnswerCancel);
            }
            return static_cast<int>(message.type == MessageYesNo ? AnswerYes : AnswerOk);
        });
    }
    ~PromptCatcher() { SetMessageHook(nullptr); }

    bool prompted = false;
    std::string volume;
    uint32_t disk = 0;
};

// First occurrence of the stamp marker in a buffer, or -1.
long FirstMarker(const uint8_t* data, size_t size)
{
    for (size_t at = 0; size >= sizeof StampMarker && at <= size - sizeof StampMarker; ++at) {
        const void* hit = std::memchr(data + at, StampMarker[0], size - sizeof StampMarker + 1 - at);
        if (!hit)
            break;
        at = static_cast<size_t>(static_cast<const uint8_t*>(hit) - data);
        if (std::memcmp(data + at, StampMarker, sizeof StampMarker) == 0)
            return static_cast<long>(at);
    }
    return -1;
}

// The first offset in [from, to) of the file where the stamp marker
// starts, or -1.
int64_t FindMarker(int fd, uint64_t from, uint64_t to, uint64_t fileLength)
{
    const size_t Chunk = 1 << 20;
    if (to > fileLength)
        to = fileLength;
    std::vector<uint8_t> buffer(Chunk + sizeof StampMarker - 1);
    for (uint64_t at = from; at < to; at += Chunk) {
        uint64_t end = at + buffer.size() < fileLength ? at + buffer.size() : fileLength;
        ssize_t got = ::pread(fd, buffer.data(), static_cast<size_t>(end - at), static_cast<off_t>(at));
        if (got < 0)
            throw PackageError(std::string("cannot read: ") + std::strerror(errno));
        long hit = FirstMarker(buffer.data(), static_cast<size_t>(got));
        if (hit >= 0 && static_cast<uint64_t>(hit) < Chunk)
            return at + static_cast<uint64_t>(hit) < to ? static_cast<int64_t>(at + static_cast<uint64_t>(hit)) : -1;
    }
    return -1;
}

// Tags whose body the installer reads through ReadRecordBody.
bool ReadsBody(uint16_t tag)
{
    switch (tag) {
    case TagDefaultInstallDir:
    case TagFrameBitmap:
    case TagBackgroundBitmap:
    case TagUninstallName:
    case TagBackgroundTitle:
    case TagPrevDirKey:
    case TagPrevDirValue:
    case TagPrevDirIniFile:
    case TagPrevDirIniSection:
    case TagPrevDirIniKey:
    case TagTemplateBlob:
    case TagFileTable:
    case TagTitleStyle:
        return true;
    default:
        return false;
    }
}

uint64_t FileTimeOf(const uint8_t* p) { return ReadU32(p) | static_cast<uint64_t>(ReadU32(p + 4)) << 32; }

PictureInfo Picture(const uint8_t* block)
{
    PictureInfo info;
    if (!block)
        return info;
    info.present = true;
    info.bytes = BlockSize(block);
    if (info.bytes >= 54) {
        info.hasInfo = true;
        info.width = static_cast<int32_t>(ReadU32(block + 18));
        info.height = static_cast<int32_t>(ReadU32(block + 22));
        info.bitCount = ReadU16(block + 28);
    }
    return info;
}

// Folds bytes that arrive in pieces of any length into RotateAddSum, which
// works on 4-byte words.
class RunningSum {
public:
    void Add(const uint8_t* data, size_t size)
    {
        while (size && held_) {
            carry_[held_++] = *data++;
            --size;
            if (held_ == 4) {
                sum_ = RotateAddSum(carry_, 4, sum_);
                held_ = 0;
            }
        }
        size_t whole = size & ~static_cast<size_t>(3);
        for (size_t done = 0; done < whole;) {
            uint32_t piece = whole - done > (1u << 30) ? (1u << 30) : static_cast<uint32_t>(whole - done);
            sum_ = RotateAddSum(data + done, piece, sum_);
            done += piece;
        }
        for (size_t i = whole; i < size; ++i)
            carry_[held_++] = data[i];
    }
    uint32_t Value() const { return RotateAddSum(carry_, held_, sum_); }

private:
    uint32_t sum_ = 0;
    uint8_t carry_[4] = {};
    uint32_t held_ = 0;
};

// Takes the decoder's input away, so that the decode ends at once (as a
// truncated stream) without an exception crossing the stub's code.
void Starve(StreamDecoder& decoder)
{
    decoder.bitBuffer = 0;
    decoder.bitCount = 0;
    decoder.available = 0;
    decoder.bounded = true;
    decoder.limit = 0;
}

// Counts, checksums and passes on a file's bytes. When the stream unpacks
// past the file's size, or the output fails, there is no point in going
// on: the sink starves the decoder.
class CheckingSink : public OutputSink {
public:
    CheckingSink(StreamDecoder& decoder, uint32_t expected, FileOutput* output, FileVisitor& visitor,
                 uint64_t* progress, uint64_t total)
        : decoder_(decoder), expected_(expected), output_(output), visitor_(visitor), progress_(progress),
          total_(total)
    {
    }
    bool IsReady() const override { return true; }
    int Write(const uint8_t* data, uint16_t length) override
    {
        if (stopped)
            return 1;
        uint64_t room = expected_ - produced;
        bool over = length > room;
        size_t take = over ? static_cast<size_t>(room) : length;
        sum.Add(data, take);
        if (output_ && take) {
            try {
                output_->Write(data, take);
            } catch (const PackageError& e) {
                writeError = e.what();
                Stop();
                return 2;
            }
        }
        produced += take;
        *progress_ += take;
        visitor_.Progress(*progress_, total_);
        if (over) {
            tooLong = true;
            Stop();
            return 1;
        }
        return 0;
    }

    uint64_t produced = 0;
    RunningSum sum;
    bool stopped = false;
    bool tooLong = false;
    std::string writeError;

private:
    void Stop()
    {
        stopped = true;
        Starve(decoder_);
    }

    StreamDecoder& decoder_;
    uint64_t expected_;
    FileOutput* output_;
    FileVisitor& visitor_;
    uint64_t* progress_;
    uint64_t total_;
};

// Counts a header stream's output and stops the decode once it passes the
// size announced for it.
class LimitSink : public OutputSink {
public:
    LimitSink(StreamDecoder& decoder, uint32_t limit) : decoder_(decoder), room_(limit) {}
    bool IsReady() const override { return true; }
    int Write(const uint8_t*, uint16_t length) override
    {
        if (length <= room_) {
            room_ -= length;
            return 0;
        }
        over = true;
        Starve(decoder_);
        return 1;
    }

    bool over = false;

private:
    StreamDecoder& decoder_;
    uint32_t room_;
};

const char* DecodeProblem(int result)
{
    switch (result) {
    case DecodeBadData: return "damaged stream: bad data (invalid code or truncated stream)";
    case DecodeBadBlock: return "damaged stream: bad block (unknown block kind or over-subscribed code)";
    case DecodeOutOfMemory: return "out of memory while unpacking";
    default: return "damaged stream";
    }
}

} // namespace

long FindStampMarker(const uint8_t* data, size_t size)
{
    long first = FirstMarker(data, size);
    if (first < 0)
        return -1;
    size_t after = static_cast<size_t>(first) + 1;
    return FirstMarker(data + after, size - after) >= 0 ? -2 : first;
}

std::string Printable(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x20 || c >= 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

bool SafeRelativePath(const std::string& name, std::string* path, std::string* why)
{
    auto refuse = [why](const std::string& reason) {
        if (why)
            *why = reason;
        return false;
    };
    if (name.empty())
        return refuse("empty name");
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F)
            return refuse("control character in the name");
    if (name.size() >= 2 && name[1] == ':' &&
        ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z')))
        return refuse("drive letter");
    if (name.find(':') != std::string::npos)
        return refuse("':' in the name");
    if (name[0] == '\\' || name[0] == '/')
        return refuse("absolute path");

    std::string out;
    size_t start = 0;
    for (;;) {
        size_t end = name.find_first_of("\\/", start);
        std::string part = name.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (part.empty())
            return refuse("empty path component");
        if (part.find_first_not_of(". ") == std::string::npos) {
            if (part == "..")
                return refuse("'..' component");
            if (part == ".")
                return refuse("'.' component");
            // Windows drops trailing dots and blanks: ". ." may become "..".
            return refuse("component of dots and blanks only");
        }
        if (!out.empty())
            out += '/';
        out += part;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    if (path)
        *path = out;
    return true;
}

bool ExtractPath(uint8_t location, const std::string& name, std::string* path, std::string* why)
{
    std::string relative;
    if (!SafeRelativePath(name, &relative, why))
        return false;
    switch (location) {
    case 1: relative = "@windows/" + relative; break;
    case 2: {
        // The installer keeps only the last part of a shared file's name.
        size_t slash = relative.rfind('/');
        relative = "@system/" + (slash == std::string::npos ? relative : relative.substr(slash + 1));
        break;
    }
    case 3: relative = "@fonts/" + relative; break;
    default: break; // 0, and any other value, is the install folder
    }
    if (path)
        *path = relative;
    return true;
}

PackageReader::PackageReader(const std::string& packagePath) : path(packagePath)
{
    if (PackageOpen)
        throw std::logic_error("only one package can be open at a time");
    PackageOpen = true;
    for (uint32_t i = 0; i < StampRecordSize; ++i)
        savedStamp[i] = StampRecord[i];
    try {
        ReadStamp();
        ReadHeader();
        CopyHeader();
        ScanVolumes();
    } catch (...) {
        Release();
        throw;
    }
}

PackageReader::~PackageReader() { Release(); }

// Leaves the program-wide state as a fresh process has it.
void PackageReader::Release()
{
    if (!PackageOpen)
        return;
    CloseFile(PackageHandle);
    PackageHandle = INVALID_FILE_HANDLE;
    ForgetPackageHeader();
    PageResult = 0;
    ErrorCode = 0;
    for (uint32_t i = 0; i < StampRecordSize; ++i)
        StampRecord[i] = savedStamp[i];
    StartPage = StampStartPage();
    PackageOpen = false;
}

void PackageReader::ReadStamp()
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw PackageError("cannot open '" + path + "': " + std::strerror(errno));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat info;
    if (::fstat(fd, &info) != 0)
        throw PackageError("cannot read '" + path + "': " + std::strerror(errno));
    if (!S_ISREG(info.st_mode))
        throw PackageError("'" + path + "' is not a file");
    fileLength = static_cast<uint64_t>(info.st_size);
    if (fileLength > UINT32_MAX)
        throw PackageError("4 GB or larger: no package can be that long");

    int64_t first = FindMarker(fd, 0, fileLength, fileLength);
    if (first < 0)
        throw PackageError("no stamp record: not a Zevrin setup program");
    stampOffset = static_cast<uint32_t>(first);
    uint8_t stamp[StampRecordSize] = {};
    if (::pread(fd, stamp, sizeof stamp, static_cast<off_t>(stampOffset)) != static_cast<ssize_t>(sizeof stamp))
        throw PackageError("stamp record cut short at the end of the file");
    stubLength = ReadU32(stamp + 6);
    stampStartPage = ReadU16(stamp + 18);
    if (stubLength == 0)
        throw PackageError("not stamped: the stub carries no package (stub length 0)");
    if (stubLength > fileLength)
        throw PackageError("stub length " + std::to_string(stubLength) + " is past the end of the file (" +
                           std::to_string(fileLength) + " bytes): no package behind the stub");
    // Only the stub's own image counts: a packaged file may well contain
    // another setup program and its stamp.
    int64_t again = FindMarker(fd, stampOffset + 1ull, stubLength, fileLength);
    if (again >= 0)
        throw PackageError("stamp record found twice in the stub (at " + Hex(stampOffset) + " and " +
                           Hex(static_cast<uint64_t>(again)) + ")");
    if (static_cast<uint64_t>(stampOffset) + StampRecordSize > stubLength)
        throw PackageError("stamp record at " + Hex(stampOffset) + " lies outside the stub (stub length " +
                           std::to_string(stubLength) + ")");
}

// Follows the record heads exactly as ReadPackageHeader will, naming the
// first thing it would fail on.
void PackageReader::ReadHeader()
{
    if (path.size() >= PathSize)
        throw PackageError("path longer than the installer's 259 characters");
    std::snprintf(PackageSourcePath, PathSize, "%s", path.c_str());

    FileHandle handle = OpenExisting(PackageSourcePath, 0);
    if (handle == INVALID_FILE_HANDLE)
        throw PackageError("cannot open '" + path + "': " + std::strerror(errno));
    struct Closer {
        FileHandle handle;
        ~Closer() { CloseFile(handle); }
    } closer{handle};

    const uint32_t length = static_cast<uint32_t>(fileLength);
    bool startPageRecord = false;
    uint32_t at = stubLength;
    for (;;) {
        if (length - at < RecordHeadSize)
            throw PackageError(at == length ? "header cut short: it ends without a terminator record"
                                            : "header cut short inside a record head at " + Hex(at));
        uint8_t raw[RecordHeadSize];
        SeekTo(handle, at);
        if (ReadExact(handle, raw, RecordHeadSize))
            throw PackageError("cannot read the header at " + Hex(at));
        uint16_t tag = ReadU16(raw);
        uint8_t flags = raw[2];
        uint32_t bodyLength = ReadU32(raw + 4);
        uint32_t body = at + RecordHeadSize;
        if (bodyLength == 0) {
            if (tag == TagTerminator) {
                if (!startPageRecord)
                    throw PackageError("incomplete package: the terminator record has no data length");
                break;
            }
            at = body;
            continue;
        }
        if (tag == TagTerminator) {
            if (length - body < 4)
                throw PackageError("header cut short inside the terminator record");
            uint8_t field[4];
            ReadExact(handle, field, 4);
            uint64_t declared = ReadU32(field);
            uint64_t present = length - body - 4;
            if (declared > present && !startPageRecord)
                throw PackageError("data shorter than declared: " + std::to_string(declared) +
                                   " bytes declared, " + std::to_string(present) + " present");
            break;
        }
        if (bodyLength > length - body)
            throw PackageError("header damaged: record " + TagName(tag) + " at " + Hex(at) + " claims " +
                               std::to_string(bodyLength) + " bytes, the file has " +
                               std::to_string(length - body) + " left");

        // A compressed stream at the handle: its declared size must be
        // sane, and it must not unpack to more than that. Decoded as the
        // installer decodes it (unbounded source), so the handle ends where
        // the installer's would.
        auto checkStream = [&](uint32_t unpacked, const std::string& what) {
            if (unpacked > MaxRecordUnpacked || unpacked > bodyLength * MaxExpansion + 65536)
                throw PackageError("header damaged: " + what + " " + TagName(tag) + " at " + Hex(at) + " claims " +
                                   std::to_string(unpacked) + " unpacked bytes from " + std::to_string(bodyLength));
            StreamDecoder decoder;
            if (!decoder.OpenSource(handle, 0))
                throw PackageError("out of memory");
            LimitSink sink(decoder, unpacked);
            decoder.sink = &sink;
            decoder.Decode();
            decoder.ReleaseSource();
            decoder.sink = nullptr;
            if (sink.over)
                throw PackageError("header damaged: " + what + " " + TagName(tag) + " at " + Hex(at) +
                                   " unpacks to more than its " + std::to_string(unpacked) + " bytes");
        };
        uint8_t field[4] = {};
        switch (tag) {
        case TagHeaderFlags:
        case TagPrevDirRoot:
            break;
        case TagStartPage:
            startPageRecord = true;
            break;
        case TagMessageGroups: {
            // The installer's own reads, results unexamined as there.
            ReadExact(handle, field, 2);
            unsigned count = ReadU16(field);
            for (unsigned i = 0; i < count && i < static_cast<unsigned>(MessageGroupCount); ++i) {
                std::memset(field, 0, sizeof field);
                ReadExact(handle, field, 4);
                checkStream(ReadU32(field), "message group " + std::to_string(i) + " in record");
            }
            break;
        }
        case TagFileTable: {
            if (flags & RecordCompressed) {
                ReadExact(handle, field, 4);
                checkStream(ReadU32(field), "record");
                SeekTo(handle, body);
            }
            RecordHead head{tag, flags, raw[3], bodyLength};
            uint8_t* table = nullptr;
            int error = ReadRecordBody(handle, head, &table);
            bool sound = error == 0 && CheckFileTable(table, BlockSize(table));
            FreeAndClear(&table);
            if (!sound)
                throw PackageError("file table damaged (record at " + Hex(at) + ")");
            break;
        }
        default:
            // Bodies the installer reads may be compressed; unknown tags
            // are skipped.
            if (ReadsBody(tag) && (flags & RecordCompressed)) {
                ReadExact(handle, field, 4);
                checkStream(ReadU32(field), "record");
            }
            break;
        }
        at = body + bodyLength;
    }

    // Now the installer's reader, from a clean state.
    ForgetPackageHeader();
    for (int i = 0; i < 4; ++i)
        StampRecord[6 + i] = static_cast<uint8_t>(stubLength >> (8 * i));
    StampRecord[18] = static_cast<uint8_t>(stampStartPage);
    StampRecord[19] = static_cast<uint8_t>(stampStartPage >> 8);
    StartPage = StampStartPage();
    PromptCatcher quiet;
    if (!ReadPackageHeader())
        throw PackageError("header damaged: the installer cannot read it");
}

void PackageReader::CopyHeader()
{
    title = GetMessageText(6, 0);
    headerFlags = HeaderFlags;
    defaultFolder = InstallDir;
    startPage = StartPage;
    uninstallName = Text(UninstallName);
    backgroundTitle = Text(BackgroundTitle);
    prevDirRoot = PrevDirRootIndex;
    prevDirKey = Text(PrevDirKey);
    prevDirValue = Text(PrevDirValue);
    prevDirIniFile = Text(PrevDirIniFile);
    prevDirIniSection = Text(PrevDirIniSection);
    prevDirIniKey = Text(PrevDirIniKey);
    framePicture = Picture(FrameBitmap);
    backgroundPicture = Picture(BackgroundBitmap);
    hasTitleStyle = TitleStyle != nullptr;
    messageGroups = 0;
    for (int i = 0; i < MessageGroupCount; ++i)
        messageGroups += MessageGroups[i] != nullptr;
    templateBlobSize = TemplateBlob ? TemplateBlobSize : 0;
    hasFileTable = FileTable != nullptr;

    entries.clear();
    const uint8_t* raw = FirstEntry;
    uint64_t offset = 0;
    for (uint32_t i = 0; raw && i < EntryCount; ++i, raw = NextEntry(raw)) {
        PackageEntry e;
        e.index = i;
        e.iconIndex = ReadU16(raw + EntryIconIndex);
        e.packedSize = ReadU32(raw + EntryPackedSize);
        e.fileSize = ReadU32(raw + EntryFileSize);
        e.checksum = ReadU32(raw + EntryChecksum);
        e.flags = raw[EntryFlags];
        e.location = raw[EntryLocation];
        e.afterAction = raw[EntryAfterAction];
        e.sharedCount = raw[EntrySharedCount];
        e.uninstallMode = raw[EntryUninstallMode];
        e.specialKind = raw[EntrySpecialKind];
        uint32_t at = EntryFixedSize;
        if (e.flags & (FlagCheckVersion | FlagCheckLanguage)) {
            e.hasVersion = true;
            e.versionHigh = ReadU32(raw + at);
            e.versionLow = ReadU32(raw + at + 4);
            e.language = ReadU32(raw + at + 16);
            at += VersionBlockSize;
        }
        if (e.flags & FlagHasFileTimes) {
            e.hasTimes = true;
            for (int t = 0; t < 3; ++t)
                e.times[t] = FileTimeOf(raw + at + 8 * t);
        }
        for (int s = 0; s < EntryStringCount; ++s)
            e.strings[s] = EntryString(raw, s);
        if (!e.External()) {
            e.dataOffset = offset;
            offset += e.packedSize;
            unpackedBytes += e.fileSize;
        }
        entries.push_back(e);
    }
    dataBytes = offset;
}

void PackageReader::ScanVolumes()
{
    volumes.clear();
    volumeStart.clear();
    layoutProblems.clear();
    dataStop.clear();
    usableBytes = 0;

    if (DataLengthOffset == 0) {
        // A start-page package whose terminator has no body: there is no
        // file-data region to read from.
        volumes.push_back({path, true, 0, 0});
        volumeStart.push_back(0);
        if (dataBytes)
            dataStop = "no file data: the terminator record has no data length";
        return;
    }

    uint64_t base = static_cast<uint64_t>(DataLengthOffset) + 4;
    VolumeInfo first{path, true, VolumeDataLength, fileLength > base ? fileLength - base : 0};
    std::vector<VolumeInfo> found{first};
    uint64_t declaredSoFar = 0;
    char name[PathSize];
    std::snprintf(name, sizeof name, "%s", PackageSourcePath);
    for (uint32_t number = 0;; ++number) {
        VolumeInfo& volume = found.back();
        volumeStart.push_back(declaredSoFar);
        std::string shown = volume.path;
        if (volume.held < volume.declared) {
            usableBytes = declaredSoFar + volume.held;
            dataStop = shown + ": data shorter than declared (" + std::to_string(volume.held) + " of " +
                       std::to_string(volume.declared) + " bytes)";
            break;
        }
        usableBytes = declaredSoFar + volume.declared;
        declaredSoFar += volume.declared;
        if (declaredSoFar >= dataBytes) {
            if (declaredSoFar > dataBytes)
                layoutProblems.push_back("file data: " + std::to_string(declaredSoFar - dataBytes) +
                                         " bytes after the last stream");
            break;
        }
        // The installer reads a volume to its end, not to its declared
        // length: more bytes than declared would be taken as the next
        // volume's data.
        if (volume.held > volume.declared) {
            dataStop = shown + ": " + std::to_string(volume.held - volume.declared) +
                       " bytes more than declared before the next volume";
            break;
        }
        if (number + 1 > MaxVolumes) {
            dataStop = "more than " + std::to_string(MaxVolumes) + " volumes";
            break;
        }
        char extension[16];
        VolumeExtension(number + 1, extension);
        ReplaceExtension(name, extension);
        VolumeInfo next{name, false, 0, 0};
        int fd = ::open(name, O_RDONLY | O_CLOEXEC);
        struct stat info;
        if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            if (fd >= 0)
                ::close(fd);
            found.push_back(next);
            dataStop = "missing volume " + next.path + " (disk " + std::to_string(number + 2) + ")";
            break;
        }
        uint8_t head[4];
        ssize_t got = ::pread(fd, head, 4, 0);
        ::close(fd);
        next.present = true;
        if (got != 4) {
            found.push_back(next);
            dataStop = next.path + ": volume head cut short (" + std::to_string(info.st_size) + " bytes)";
            break;
        }
        next.declared = ReadU32(head);
        next.held = static_cast<uint64_t>(info.st_size) - 4;
        found.push_back(next);
    }
    volumes = found;
    if (volumeStart.size() < volumes.size())
        volumeStart.push_back(usableBytes);
    CheckReads();
}

// The volume the installer is in after reading `offset` bytes of the
// file-data region: at a volume's end it has not changed yet.
uint32_t PackageReader::VolumeAt(uint64_t offset) const
{
    for (uint32_t v = 0; v < volumes.size(); ++v)
        if (volumeStart[v] <= offset && offset <= volumeStart[v] + volumes[v].declared)
            return v;
    return 0;
}

// The installer reads a stream in requests of 4096 bytes (fewer at its
// end) and changes volumes at most once per request: a volume holding too
// few bytes to finish a request begun in the volume before it spoils that
// stream. Follows the requests of every stream to name such a volume.
void PackageReader::CheckReads()
{
    uint64_t at = 0;
    uint32_t volume = 0;
    for (const PackageEntry& entry : entries) {
        if (entry.External() || entry.packedSize == 0)
            continue;
        if (entry.dataOffset != at) {
            at = entry.dataOffset;
            volume = VolumeAt(at);
        }
        uint64_t end = at + entry.packedSize;
        if (end > usableBytes)
            return;
        while (at < end) {
            uint64_t request = end - at < SourceBufferSize ? end - at : SourceBufferSize;
            uint64_t volumeEnd = volumeStart[volume] + volumes[volume].declared;
            if (volumeEnd - at >= request) {
                at += request;
                continue;
            }
            uint64_t missing = request - (volumeEnd - at);
            if (++volume >= volumes.size())
                return;
            if (volumes[volume].declared < missing) {
                layoutProblems.push_back(volumes[volume].path + ": " +
                                         std::to_string(volumes[volume].declared) +
                                         " data bytes, too few to finish a read begun in " +
                                         volumes[volume - 1].path +
                                         " (the installer changes volumes once per 4096-byte read)");
                return;
            }
            at = volumeStart[volume] + missing;
        }
    }
}

// Puts PackageHandle and the volume state where the installer stands after
// reading `offset` bytes of the file-data region.
void PackageReader::StandAt(uint64_t offset)
{
    uint32_t number = VolumeAt(offset);
    const VolumeInfo& volume = volumes[number];
    uint32_t inside = static_cast<uint32_t>(offset - volumeStart[number]);
    uint32_t base = number == 0 ? DataLengthOffset + 4 : 4;
    if (PackageHandle == INVALID_FILE_HANDLE || VolumeNumber != number) {
        CloseFile(PackageHandle);
        std::snprintf(PackagePath, PathSize, "%s", volume.path.c_str());
        PackageHandle = OpenExisting(PackagePath, 0);
        if (PackageHandle == INVALID_FILE_HANDLE)
            throw PackageError("cannot open " + volume.path + ": " + std::strerror(errno));
        VolumeNumber = number;
    }
    if (SeekTo(PackageHandle, base + inside) != base + inside)
        throw PackageError("cannot read " + volume.path);
    VolumeDataLength = volume.declared;
    VolumeBytesLeft = volume.declared - inside;
}

FileCheck PackageReader::DecodeEntry(const PackageEntry& entry, FileVisitor& visitor, uint64_t* progress,
                                     bool* exact)
{
    FileCheck check;
    FileOutput* output = visitor.Begin(entry);

    StreamDecoder decoder;
    if (!decoder.OpenSource(PackageHandle, entry.packedSize))
        throw PackageError("out of memory");
    CheckingSink sink(decoder, entry.fileSize, output, visitor, progress, unpackedBytes);
    decoder.sink = &sink;
    PageResult = 0;
    int result;
    uint32_t consumed;
    {
        PromptCatcher prompt;
        result = decoder.Decode();
        consumed = entry.packedSize - decoder.limit - decoder.available;
        decoder.ReleaseSource();
        decoder.sink = nullptr;
        if (decoder.abandoned || PageResult == PageCancel) {
            PageResult = 0;
            ErrorCode = 0;
            if (prompt.prompted)
                throw PackageError("missing volume " + prompt.volume + " (disk " + std::to_string(prompt.disk) + ")");
            throw PackageError("volume " + Text(PackagePath) + " cannot be read again");
        }
    }
    if (!sink.writeError.empty())
        throw PackageError(sink.writeError);
    bool tooLong = sink.tooLong;
    // Only then does the handle stand where the next stream begins.
    *exact = result == DecodeOk && !sink.stopped && consumed == entry.packedSize;

    check.size = sink.produced;
    check.checksum = sink.sum.Value();
    char text[128];
    if (tooLong) {
        check.problem = "unpacks to more than its size of " + std::to_string(entry.fileSize) + " bytes";
    } else if (result != DecodeOk) {
        check.problem = decoder.ranDry && result == DecodeBadData
                            ? "damaged stream: it runs past its packed size of " + std::to_string(entry.packedSize) +
                                  " bytes"
                            : DecodeProblem(result);
    } else if (check.size != entry.fileSize) {
        check.problem = "size " + std::to_string(check.size) + ", expected " + std::to_string(entry.fileSize);
    } else if (check.checksum != entry.checksum) {
        std::snprintf(text, sizeof text, "checksum 0x%08x, expected 0x%08x", check.checksum, entry.checksum);
        check.problem = text;
    } else if (consumed != entry.packedSize) {
        // The installer would read the next file from the wrong place.
        uint32_t short_ = entry.packedSize - consumed;
        check.problem = "stream ends " + std::to_string(short_) + (short_ == 1 ? " byte" : " bytes") +
                        " before its packed size of " + std::to_string(entry.packedSize);
    }
    return check;
}

void PackageReader::ReadFiles(FileVisitor& visitor)
{
    struct Closer {
        ~Closer()
        {
            CloseFile(PackageHandle);
            PackageHandle = INVALID_FILE_HANDLE;
            VolumeNumber = 0;
        }
    } closer;
    CloseFile(PackageHandle);
    PackageHandle = INVALID_FILE_HANDLE;
    uint64_t progress = 0;
    // Streams are read one after another, as the installer reads them; only
    // after a faulty one is the next found by its offset in the table.
    bool placed = false;
    uint64_t standing = 0;
    for (const PackageEntry& entry : entries) {
        if (entry.External())
            continue;
        FileCheck check;
        if (entry.packedSize == 0) {
            // A bounded source with limit 0 would be unbounded: no stream.
            check.problem = "no stream (packed size 0)";
        } else {
            if (entry.dataOffset + entry.packedSize > usableBytes)
                throw PackageError(dataStop.empty() ? "file data ends early" : dataStop);
            if (!placed || standing != entry.dataOffset)
                StandAt(entry.dataOffset);
            check = DecodeEntry(entry, visitor, &progress, &placed);
            standing = entry.dataOffset + entry.packedSize;
        }
        if (!visitor.End(entry, check))
            break;
    }
}

} // namespace zevrin
