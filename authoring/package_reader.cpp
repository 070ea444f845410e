// Reading a SETUP.EXE with the stub's own code: the header through
// ReadPackageHeader, whose LastHeaderFault the messages are worded from,
// the streams through StreamDecoder's bounded byte source, which changes
// volumes itself (OpenNextVolume) when a stream continues in SETUP.D01,
// SETUP.D02, ... Bytes the tool reads itself go through a ByteCursor. The
// volumes are looked over before any stream is decoded, so a missing or
// cut volume is named instead of showing up as a damaged stream.
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
#include "../stub/shared/checksum.h"
#include "../stub/pages/stored_bitmap.h"
#include "../stub/shared/byte_cursor.h"
#include "../stub/shared/message_script.h"
#include "../stub/shared/state.h"
#include "../stub/startup/header.h"
#include "../stub/startup/templates.h"
#include "../stub/shared/messages.h"
#include "platform.h"
#include "templates.h"

namespace zevrin {

namespace {

// Opens the stub's stamp record: "ww" "gT)H".
const uint8_t StampMarker[6] = {0x77, 0x77, 0x67, 0x54, 0x29, 0x48};

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
        ssize_t got = ::pread(fd, buffer.data(), static_cast<size_t>(end - at), static_cast<int64_t>(at));
        if (got < 0)
            throw PackageError(std::string("cannot read: ") + std::strerror(errno));
        long hit = FirstMarker(buffer.data(), static_cast<size_t>(got));
        if (hit >= 0 && static_cast<uint64_t>(hit) < Chunk)
            return at + static_cast<uint64_t>(hit) < to ? static_cast<int64_t>(at + static_cast<uint64_t>(hit)) : -1;
    }
    return -1;
}

PictureInfo Picture(const uint8_t* block)
{
    PictureInfo info;
    if (!block)
        return info;
    info.present = true;
    info.bytes = BlockSize(block);
    // Only a whole info header counts as one.
    if (info.bytes < BitmapTableOffset)
        return info;
    ByteCursor in(block, info.bytes);
    in.Skip(BitmapFileHeaderSize + 4); // the file header, biSize
    info.hasInfo = true;
    info.width = static_cast<int32_t>(in.U32());
    info.height = static_cast<int32_t>(in.U32());
    in.Skip(2); // biPlanes
    info.bitCount = in.U16();
    return info;
}

// One file-table entry, read inside its own NextOffset bytes in the order
// of its fields.
PackageEntry ReadEntry(const uint8_t* raw, uint32_t index)
{
    ByteCursor in(raw, ByteCursor(raw, 2).U16());
    PackageEntry e;
    e.index = index;
    in.Skip(EntryIconIndex);
    e.iconIndex = in.U16();
    e.packedSize = in.U32();
    e.fileSize = in.U32();
    e.checksum = in.U32();
    e.flags = in.U8();
    e.location = in.U8();
    e.afterAction = in.U8();
    e.sharedCount = in.U8();
    e.uninstallMode = in.U8();
    e.specialKind = in.U8();
    if (e.flags & (FlagCheckVersion | FlagCheckLanguage)) {
        e.hasVersion = true;
        e.versionHigh = in.U32();
        e.versionLow = in.U32();
        in.Skip(8); // not read by the installer
        e.language = in.U32();
    }
    if (e.flags & FlagHasFileTimes) {
        e.hasTimes = true;
        for (uint64_t& time : e.times) {
            uint32_t low = in.U32();
            time = low | static_cast<uint64_t>(in.U32()) << 32;
        }
    }
    if (e.flags & FlagSameAsEntry) {
        e.copy = true;
        e.sourceEntry = in.U32();
    }
    for (std::string& text : e.strings) {
        const char* at = in.Text();
        text = at ? at : "";
    }
    return e;
}

// "record 0x1239 at 0x2c4", "message group 0 in record 0x123A at 0x200".
std::string FaultPlace(const HeaderFault& fault)
{
    std::string record = "record " + TagName(fault.tag) + " at " + Hex(fault.offset);
    return fault.group >= 0 ? "message group " + std::to_string(fault.group) + " in " + record : record;
}

std::string TemplateProblemText(const HeaderFault& fault)
{
    if (fault.number < NoTemplate) {
        std::vector<uint8_t> blob;
        if (TemplateBlob)
            blob.assign(TemplateBlob, TemplateBlob + TemplateBlobSize);
        return "dialog templates damaged: template " + std::to_string(fault.number) + " of " + FaultPlace(fault) +
               " is not a dialog the installer can make: " + ::TemplateFaultText(blob, fault.templates);
    }
    if (!fault.tag)
        return "no dialog templates: the header has no record " + TagName(TagTemplateBlob);
    return "dialog templates damaged: " + FaultPlace(fault) + " is shorter than its table of " +
           std::to_string(NoTemplate) + " template offsets";
}

// Why ReadPackageHeader refused the package of `fileLength` bytes, from
// the fault it left.
std::string HeaderFaultText(const HeaderFault& fault, uint64_t fileLength, const std::string& path)
{
    switch (fault.problem) {
    case HeaderNoStub: return "not stamped: the stub carries no package (stub length 0)";
    case HeaderCannotOpen: return "cannot open '" + path + "'";
    case HeaderCutShort:
        // The offset is that of the record head being read.
        if (fault.offset >= fileLength)
            return "header cut short: it ends without a terminator record";
        if (fileLength - fault.offset < RecordHeadSize)
            return "header cut short inside a record head at " + Hex(fault.offset);
        if (fault.tag == TagTerminator)
            return "header cut short inside the terminator record";
        return "header cut short inside " + FaultPlace(fault);
    case HeaderRecordTooLong:
        return "header damaged: " + FaultPlace(fault) + " claims " + std::to_string(fault.number) +
               " bytes, the file has " + std::to_string(fault.limit) + " left";
    case HeaderStreamTooLarge:
        return "header damaged: " + FaultPlace(fault) + " claims " + std::to_string(fault.number) +
               " unpacked bytes from " + std::to_string(fault.limit);
    case HeaderStreamDamaged:
        // The fault does not tell a stream that does not decode from one
        // that unpacks to too much.
        return "header damaged: " + FaultPlace(fault) + ": its stream does not decode or unpacks to more than its " +
               std::to_string(fault.number) + " bytes";
    case HeaderOutOfMemory:
        return "out of memory: " + FaultPlace(fault) + " needs " + std::to_string(fault.number) + " bytes";
    case HeaderFileTableDamaged: return "file table damaged (record at " + Hex(fault.offset) + ")";
    case HeaderTemplatesDamaged: return TemplateProblemText(fault);
    case HeaderStartPageInvalid:
        return "start page " + std::to_string(fault.number) + " of " +
               (fault.tag ? FaultPlace(fault) : std::string("the stamp record")) +
               " is not one of the installer's pages 0 to " + std::to_string(EndPage - 1);
    case HeaderIncomplete:
        // Without a data length the terminator declares nothing missing.
        if (fault.number <= fault.limit)
            return "incomplete package: the terminator record has no data length";
        return "data shorter than declared: " + std::to_string(fault.number) + " bytes declared, " +
               std::to_string(fault.limit) + " present";
    case HeaderOk: break;
    }
    return "header damaged: the installer cannot read it";
}

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
        sum.Add(data, static_cast<uint32_t>(take));
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

PackageReader::PackageReader(const std::string& packagePath, bool headerOnly) : path(packagePath)
{
    if (PackageOpen)
        throw std::logic_error("only one package can be open at a time");
    PackageOpen = true;
    for (uint32_t i = 0; i < StampRecordSize; ++i)
        savedStamp[i] = StampRecord[i];
    try {
        ReadStamp();
        ReadHeader(headerOnly);
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
    if (::pread(fd, stamp, sizeof stamp, static_cast<int64_t>(stampOffset)) != static_cast<ssize_t>(sizeof stamp))
        throw PackageError("stamp record cut short at the end of the file");
    // The package's stamp in place of the tool's own, read as the stub
    // reads it; Release puts the tool's back.
    for (uint32_t i = 0; i < StampRecordSize; ++i)
        StampRecord[i] = stamp[i];
    stubLength = StubLength();
    stampStartPage = StampStartPage();
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

// The installer's own reader, from a clean state.
void PackageReader::ReadHeader(bool headerOnly)
{
    if (path.size() >= PathSize)
        throw PackageError("path longer than the installer's 259 characters");
    std::snprintf(PackageSourcePath, PathSize, "%s", path.c_str());
    ForgetPackageHeader();
    PromptCatcher quiet;
    if (ReadPackageHeader())
        return;
    // Short data is found out after every record has been read; the
    // volume scan then says how much is there.
    const HeaderFault& fault = LastHeaderFault;
    if (headerOnly && fault.problem == HeaderIncomplete && fault.number > fault.limit)
        return;
    throw PackageError(HeaderFaultText(fault, fileLength, path));
}

void PackageReader::CopyHeader()
{
    title = GetMessageText(6, 0);
    headerFlags = HeaderFlags;
    installOptions = InstallOptions;
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
        PackageEntry e = ReadEntry(raw, i);
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
        // Bytes after a volume's declared data (a signature) are not
        // read: the installer stops at the declared length too.
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
        next.declared = ByteCursor(head, sizeof head).U32();
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

// `stream`: the entry whose stream holds the bytes, `entry` itself but
// for a copy.
FileCheck PackageReader::DecodeEntry(const PackageEntry& entry, const PackageEntry& stream, FileVisitor& visitor,
                                     uint64_t* progress, bool* exact)
{
    FileCheck check;
    FileOutput* output = visitor.Begin(entry);

    StreamDecoder decoder;
    if (!decoder.OpenSource(PackageHandle, stream.packedSize))
        throw PackageError("out of memory");
    CheckingSink sink(decoder, entry.fileSize, output, visitor, progress, unpackedBytes);
    decoder.sink = &sink;
    PageResult = 0;
    int result;
    uint32_t consumed;
    {
        PromptCatcher prompt;
        result = decoder.Decode();
        consumed = stream.packedSize - decoder.limit - decoder.available;
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
    *exact = result == DecodeOk && !sink.stopped && consumed == stream.packedSize;

    check.size = sink.produced;
    check.checksum = sink.sum.Value();
    char text[128];
    if (tooLong) {
        check.problem = "unpacks to more than its size of " + std::to_string(entry.fileSize) + " bytes";
    } else if (result != DecodeOk) {
        check.problem = decoder.ranDry && result == DecodeBadData
                            ? "damaged stream: it runs past its packed size of " + std::to_string(stream.packedSize) +
                                  " bytes"
                            : DecodeProblem(result);
    } else if (check.size != entry.fileSize) {
        check.problem = "size " + std::to_string(check.size) + ", expected " + std::to_string(entry.fileSize);
    } else if (check.checksum != entry.checksum) {
        std::snprintf(text, sizeof text, "checksum 0x%08x, expected 0x%08x", check.checksum, entry.checksum);
        check.problem = text;
    } else if (consumed != stream.packedSize) {
        // The installer would read the next file from the wrong place.
        uint32_t short_ = stream.packedSize - consumed;
        check.problem = "stream ends " + std::to_string(short_) + (short_ == 1 ? " byte" : " bytes") +
                        " before its packed size of " + std::to_string(stream.packedSize);
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
        // The header check has found a copy's source earlier in the table,
        // with a stream of its own.
        const PackageEntry& stream = entry.copy ? entries[entry.sourceEntry] : entry;
        if (stream.packedSize == 0) {
            // A bounded source with limit 0 would be unbounded: no stream.
            check.problem = "no stream (packed size 0)";
        } else {
            if (stream.dataOffset + stream.packedSize > usableBytes)
                throw PackageError(dataStop.empty() ? "file data ends early" : dataStop);
            if (!placed || standing != stream.dataOffset)
                StandAt(stream.dataOffset);
            check = DecodeEntry(entry, stream, visitor, &progress, &placed);
            standing = stream.dataOffset + stream.packedSize;
        }
        if (!visitor.End(entry, check))
            break;
    }
}

} // namespace zevrin
