// The package writer. Files are compressed one at a time into a spool file
// (unlinked at once, so nothing is left if the tool dies), because the
// header's file table needs every PackedSize before the first data byte
// can be placed. Then each output file is written under a temporary name
// beside its final one and renamed only when all of them are complete.
#include "package_writer.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>

#include "../stub/decode/decoder.h"
#include "../stub/engine/file_table.h"
#include "../stub/shared/checksum.h"
#include "../stub/shared/state.h"
#include "../stub/startup/header.h"
#include "../stub/startup/templates.h"
#include "encoder.h"
#include "pe_resources.h"
#include "pe_version.h"
#include "platform.h"

#ifdef _WIN32
#include <windows.h>
#endif
#include "templates.h"

namespace zevrin {

const uint8_t StampMarker[6] = {0x77, 0x77, 0x67, 0x54, 0x29, 0x48};

namespace {

typedef std::vector<uint8_t> Bytes;

const uint32_t StampStubLengthOffset = 6;
const uint32_t StampStartPageOffset = 18;
const uint32_t TerminatorSize = RecordHeadSize + 4;
// The uninstaller is delivered ending in an empty terminator head; the
// installer writes its log over those 8 bytes.
const uint8_t UninstallerTail[8] = {0x7F, 0x7F, 0, 0, 0, 0, 0, 0};
// The volume ending is ".D" and at least two digits; past this many the
// build is surely a mistake in --volume-size.
const unsigned MaxVolumes = 999;
const size_t CopyChunk = 1 << 20;

struct Failure {
    std::string message;
};

[[noreturn]] void Fail(const std::string& message) { throw Failure{message}; }

std::string SystemError() { return std::strerror(errno); }

void PutU16(Bytes& out, uint16_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void PutU32(Bytes& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void PutU64(Bytes& out, uint64_t v)
{
    PutU32(out, static_cast<uint32_t>(v));
    PutU32(out, static_cast<uint32_t>(v >> 32));
}
void PutText(Bytes& out, const std::string& text)
{
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}
uint32_t GetU32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

Bytes ReadWhole(const std::string& path, const std::string& prefix)
{
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        Fail(prefix + "cannot open '" + path + "': " + SystemError());
    struct stat info;
    if (::fstat(::fileno(file), &info) == 0 && !S_ISREG(info.st_mode)) {
        std::fclose(file);
        Fail(prefix + "'" + path + "' is not a regular file");
    }
    Bytes data;
    if (info.st_size > 0) {
        if (static_cast<uint64_t>(info.st_size) > UINT32_MAX) {
            std::fclose(file);
            Fail(prefix + "'" + path + "' is 4 GiB or larger; a packaged file must be smaller");
        }
        data.reserve(static_cast<size_t>(info.st_size));
    }
    uint8_t chunk[1 << 16];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        data.insert(data.end(), chunk, chunk + got);
        if (data.size() > UINT32_MAX) {
            std::fclose(file);
            Fail(prefix + "'" + path + "' is 4 GiB or larger; a packaged file must be smaller");
        }
    }
    bool failed = std::ferror(file) != 0;
    int saved = errno;
    std::fclose(file);
    if (failed)
        Fail(prefix + "cannot read '" + path + "': " + std::strerror(saved));
    return data;
}

// ----------------------------------------------------------------- records

void AddRecord(Bytes& header, uint16_t tag, uint8_t flags, const Bytes& body)
{
    PutU16(header, tag);
    header.push_back(flags);
    header.push_back(0);
    PutU32(header, static_cast<uint32_t>(body.size()));
    header.insert(header.end(), body.begin(), body.end());
}

// Compressed when that is shorter (short texts are not).
void AddBody(Bytes& header, uint16_t tag, const Bytes& data, int level)
{
    Bytes stream = EncodeStream(data.data(), data.size(), level);
    if (4 + stream.size() < data.size()) {
        Bytes body;
        PutU32(body, static_cast<uint32_t>(data.size()));
        body.insert(body.end(), stream.begin(), stream.end());
        AddRecord(header, tag, RecordCompressed, body);
    } else {
        AddRecord(header, tag, 0, data);
    }
}

void AddText(Bytes& header, uint16_t tag, const std::string& text, int level)
{
    Bytes body(text.begin(), text.end());
    body.push_back(0);
    AddBody(header, tag, body, level);
}

// ------------------------------------------------------------------ output

#ifdef _WIN32
// The work files being written, removed when Ctrl+C or closing the
// console ends the build. The handler runs on a thread of its own; the
// files are opened with delete sharing, so removing them works while
// they are open.
std::vector<std::string> WorkFiles;
SRWLOCK WorkFilesLock = SRWLOCK_INIT;

BOOL WINAPI RemoveWorkFiles(DWORD)
{
    // Kept: the program ends, and no file may be added after this.
    AcquireSRWLockExclusive(&WorkFilesLock);
    for (const std::string& name : WorkFiles)
        DeleteFileA(name.c_str());
    return FALSE;
}

class SignalsHeld {
public:
    SignalsHeld() { AcquireSRWLockExclusive(&WorkFilesLock); }
    ~SignalsHeld() { ReleaseSRWLockExclusive(&WorkFilesLock); }
};

class WorkFileCleanup {
public:
    WorkFileCleanup()
    {
        WorkFiles.reserve(MaxVolumes + 2);
        SetConsoleCtrlHandler(RemoveWorkFiles, TRUE);
    }
    ~WorkFileCleanup() { SetConsoleCtrlHandler(RemoveWorkFiles, FALSE); }
};

#else
// The work files being written, removed when SIGINT or SIGTERM ends the
// build (destructors do not run then). Changed only with those signals
// blocked, so the handler never sees a list being changed.
std::vector<std::string> WorkFiles;
const int CleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

void RemoveWorkFiles(int signal)
{
    for (const std::string& name : WorkFiles)
        ::unlink(name.c_str());
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

class SignalsHeld {
public:
    SignalsHeld()
    {
        sigset_t set;
        sigemptyset(&set);
        for (int signal : CleanupSignals)
            sigaddset(&set, signal);
        ::sigprocmask(SIG_BLOCK, &set, &old_);
    }
    ~SignalsHeld() { ::sigprocmask(SIG_SETMASK, &old_, nullptr); }

private:
    sigset_t old_;
};

// Removes the work files on those signals for as long as it lives; a
// signal the caller ignores stays ignored.
class WorkFileCleanup {
public:
    WorkFileCleanup()
    {
        WorkFiles.reserve(MaxVolumes + 2);
        for (size_t i = 0; i < sizeof CleanupSignals / sizeof *CleanupSignals; ++i) {
            struct sigaction action = {};
            action.sa_handler = RemoveWorkFiles;
            sigemptyset(&action.sa_mask);
            for (int signal : CleanupSignals)
                sigaddset(&action.sa_mask, signal);
            ::sigaction(CleanupSignals[i], nullptr, &old_[i]);
            if (old_[i].sa_handler != SIG_IGN)
                ::sigaction(CleanupSignals[i], &action, nullptr);
        }
    }
    ~WorkFileCleanup()
    {
        for (size_t i = 0; i < sizeof CleanupSignals / sizeof *CleanupSignals; ++i)
            ::sigaction(CleanupSignals[i], &old_[i], nullptr);
    }

private:
    struct sigaction old_[sizeof CleanupSignals / sizeof *CleanupSignals];
};

#endif

void Forget(const std::string& name)
{
    SignalsHeld held;
    for (size_t i = 0; i < WorkFiles.size(); ++i)
        if (WorkFiles[i] == name) {
            WorkFiles.erase(WorkFiles.begin() + static_cast<long>(i));
            break;
        }
}

// One output file under a temporary name until Commit; "-" is standard
// output, written as it comes.
class OutputFile {
public:
    explicit OutputFile(const std::string& path) : path_(path)
    {
        if (path == "-") {
            file_ = stdout;
            committed_ = true;
            return;
        }
        struct stat info;
        if (::lstat(path.c_str(), &info) == 0) {
            if (!S_ISREG(info.st_mode))
                Fail("'" + path + "' exists and is not a regular file");
            mode_ = info.st_mode & 07777;
        } else {
            mode_t mask = ::umask(0);
            ::umask(mask);
            mode_ = 0666 & ~mask;
        }
        temporary_ = path + ".XXXXXX";
        int fd;
        {
            SignalsHeld held;
            fd = MakeTemporary(&temporary_[0]);
            if (fd >= 0)
                WorkFiles.push_back(temporary_);
        }
        if (fd < 0)
            Fail("cannot create a file beside '" + path + "': " + SystemError());
        file_ = ::fdopen(fd, "wb");
        if (!file_) {
            ::close(fd);
            ::unlink(temporary_.c_str());
            Forget(temporary_);
            Fail("cannot write '" + path + "': " + SystemError());
        }
    }
    ~OutputFile()
    {
        if (file_ && file_ != stdout)
            std::fclose(file_);
        if (!committed_) {
            ::unlink(temporary_.c_str());
            Forget(temporary_);
        }
    }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void Write(const uint8_t* data, size_t size)
    {
        if (size && std::fwrite(data, 1, size, file_) != size)
            Fail("cannot write '" + path_ + "': " + SystemError());
        written_ += size;
    }
    void Write(const Bytes& data) { Write(data.data(), data.size()); }

    // Flushes and closes; a full disk shows here at the latest.
    void Close()
    {
        if (file_ == stdout) {
            if (std::fflush(stdout) != 0)
                Fail("cannot write to standard output: " + SystemError());
            file_ = nullptr;
            return;
        }
        bool ok = std::fflush(file_) == 0 && ::fsync(::fileno(file_)) == 0;
        int saved = errno;
        ok = std::fclose(file_) == 0 && ok;
        file_ = nullptr;
        if (!ok)
            Fail("cannot write '" + path_ + "': " + std::strerror(saved ? saved : errno));
        ::chmod(temporary_.c_str(), mode_);
    }
    void Commit()
    {
        if (committed_)
            return;
        if (!RenameOver(temporary_.c_str(), path_.c_str()))
            Fail("cannot rename the finished file to '" + path_ + "': " + SystemError());
        committed_ = true;
        Forget(temporary_);
    }
    uint64_t Written() const { return written_; }

private:
    std::string path_;
    std::string temporary_;
    FILE* file_ = nullptr;
    mode_t mode_ = 0644;
    bool committed_ = false;
    uint64_t written_ = 0;
};

// Up to `size` bytes from `offset`: fewer only at the end of the file, -1
// on an error.
ssize_t ReadAt(int fd, uint64_t offset, uint8_t* out, size_t size)
{
    size_t at = 0;
    while (at < size) {
        ssize_t n = ::pread(fd, out + at, size - at, static_cast<int64_t>(offset + at));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        at += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(at);
}

// Compressed streams, back to back, in a file that no longer has a name.
class Spool {
public:
    explicit Spool(const std::string& besidePath)
    {
        size_t slash = besidePath.find_last_of('/');
        std::string dir = slash == std::string::npos ? "." : besidePath.substr(0, slash ? slash : 1);
        if (besidePath == "-") {
            const char* tmp = std::getenv("TMPDIR");
            dir = tmp && *tmp ? tmp : "/tmp";
        }
        std::string name = dir + "/.zevrin-spool-XXXXXX";
        {
            SignalsHeld held;
#ifdef _WIN32
            // An open file cannot lose its name here: both descriptors
            // delete it when they close.
            fd_ = CreateWorkFile(&name[0]);
            if (fd_ >= 0)
                reader_ = OpenSecondReader(name.c_str());
#else
            fd_ = ::mkstemp(&name[0]);
            if (fd_ >= 0) {
                // A reader of its own, with its own position, for the
                // decoder that checks each stream.
                reader_ = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
                ::unlink(name.c_str());
            }
#endif
        }
        if (fd_ < 0 || reader_ < 0)
            Fail("cannot create a work file in '" + dir + "': " + SystemError());
    }
    ~Spool()
    {
        if (fd_ >= 0)
            ::close(fd_);
        if (reader_ >= 0)
            ::close(reader_);
    }
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;

    void Append(const Bytes& data) { Append(data.data(), data.size()); }
    void Append(const uint8_t* data, size_t size)
    {
        size_t at = 0;
        while (at < size) {
            ssize_t n = ::pwrite(fd_, data + at, size - at, static_cast<int64_t>(size_ + at));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                Fail(std::string("cannot write the work file beside the output: ") + SystemError());
            at += static_cast<size_t>(n);
        }
        size_ += size;
    }
    // Drops everything from `size` on.
    void Truncate(uint64_t size)
    {
        if (!TruncateFile(fd_, size))
            Fail(std::string("cannot write the work file beside the output: ") + SystemError());
        size_ = size;
    }
    // The reader, placed at `offset`: it reads to the end of the work file.
    int ReaderAt(uint64_t offset) const
    {
        if (::lseek(reader_, static_cast<off_t>(offset), SEEK_SET) < 0)
            Fail("cannot read back the work file");
        return reader_;
    }
    void Read(uint64_t offset, uint8_t* out, size_t size) const
    {
        if (ReadAt(fd_, offset, out, size) != static_cast<ssize_t>(size))
            Fail("cannot read back the work file");
    }
    uint64_t Size() const { return size_; }

private:
    int fd_ = -1;
    int reader_ = -1;
    uint64_t size_ = 0;
};

// ------------------------------------------------------------------- files

const uint32_t NoSource = 0xFFFFFFFF;

struct PackedFile {
    Bytes entry;
    uint64_t sourceSize = 0;
    uint32_t checksum = 0;
};

// An earlier entry with the same bytes as the one being packed.
struct SameAs {
    uint32_t index = NoSource;
    uint32_t checksum = 0;
};

std::string BaseName(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

// `source`: the index of the earlier entry whose stream this one shares,
// or NoSource.
Bytes FileEntryBytes(const ManifestFile& f, uint32_t packed, uint32_t size, uint32_t checksum,
                     uint32_t versionMS, uint32_t versionLS, uint16_t language, bool times,
                     uint64_t fileTime, uint32_t source = NoSource)
{
    uint8_t flags = 0;
    if (source != NoSource)
        flags |= FlagSameAsEntry;
    if (f.uninstaller)
        flags |= FlagUninstallerFile;
    if (f.checkVersion)
        flags |= FlagCheckVersion;
    if (f.checkLanguage)
        flags |= FlagCheckLanguage;
    if (times)
        flags |= FlagHasFileTimes;
    Bytes e;
    PutU16(e, 0); // NextOffset, set below
    PutU16(e, 0); // Status
    PutU16(e, f.iconIndex);
    PutU32(e, packed);
    PutU32(e, size);
    PutU32(e, checksum);
    e.push_back(flags);
    e.push_back(f.location);
    e.push_back(f.afterAction);
    e.push_back(f.sharedCount ? 1 : 0);
    e.push_back(f.uninstallMode);
    e.push_back(f.specialKind);
    if (flags & (FlagCheckVersion | FlagCheckLanguage)) {
        PutU32(e, versionMS);
        PutU32(e, versionLS);
        PutU64(e, 0); // not read by the installer
        PutU32(e, language);
    }
    if (times) {
        // Creation, last access, last write: all the source's modification
        // time (the build machine's access time means nothing).
        for (int i = 0; i < 3; ++i)
            PutU64(e, fileTime);
    }
    if (source != NoSource)
        PutU32(e, source);
    PutText(e, f.name);
    PutText(e, f.menuFolders);
    PutText(e, f.menuName);
    PutText(e, f.menuArgs);
    PutText(e, f.desktopName);
    PutText(e, f.desktopArgs);
    if (e.size() > 0xFFFF)
        Fail(f.ref.Prefix() + "the file's entry is too long");
    e[0] = static_cast<uint8_t>(e.size());
    e[1] = static_cast<uint8_t>(e.size() >> 8);
    return e;
}

// A packaged file, read in pieces.
class SourceFile {
public:
    SourceFile(const std::string& path, const std::string& prefix) : path_(path), prefix_(prefix)
    {
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0)
            Fail(prefix + "cannot open '" + path + "': " + SystemError());
        if (::fstat(fd_, &info_) != 0)
            Fail(prefix + "cannot read '" + path + "': " + SystemError());
        if (!S_ISREG(info_.st_mode))
            Fail(prefix + "'" + path + "' is not a regular file");
        if (static_cast<uint64_t>(info_.st_size) > UINT32_MAX)
            Fail(prefix + "'" + path + "' is 4 GiB or larger; a packaged file must be smaller");
    }
    ~SourceFile() { ::close(fd_); }
    SourceFile(const SourceFile&) = delete;
    SourceFile& operator=(const SourceFile&) = delete;

    uint32_t Size() const { return static_cast<uint32_t>(info_.st_size); }
    const struct stat& Info() const { return info_; }
    uint64_t WriteTime() const { return WriteTimeOf(fd_, info_); }
    // Exactly `size` bytes from `offset`; a file that shrank while being
    // read is an error, not a short package.
    void Read(uint64_t offset, uint8_t* out, size_t size) const
    {
        ssize_t got = ReadAt(fd_, offset, out, size);
        if (got < 0)
            Fail(prefix_ + "cannot read '" + path_ + "': " + SystemError());
        if (got != static_cast<ssize_t>(size))
            Fail(prefix_ + "'" + path_ + "' changed while it was being packed");
    }
    // The version resource; the file is mapped, so only the pages the
    // reader looks at are read.
    bool Version(PeVersion* version, std::string* problem) const
    {
        if (Size() == 0)
            return ReadPeVersion(nullptr, 0, version, problem);
        const uint8_t* map = MapFile(fd_, Size());
        if (!map)
            Fail(prefix_ + "cannot read '" + path_ + "': " + SystemError());
        bool ok = ReadPeVersion(map, Size(), version, problem);
        UnmapFile(map, Size());
        return ok;
    }

private:
    std::string path_;
    std::string prefix_;
    int fd_ = -1;
    struct stat info_;
};

// Takes the decoded bytes of one stream and compares them with the source.
class CompareSink : public OutputSink {
public:
    explicit CompareSink(const SourceFile& source) : source_(source) {}
    bool IsReady() const override { return true; }
    int Write(const uint8_t* data, uint16_t length) override
    {
        if (differs || length > source_.Size() - produced) {
            differs = true;
            return 1;
        }
        source_.Read(produced, expected_, length);
        if (std::memcmp(data, expected_, length) != 0)
            differs = true;
        produced += length;
        return differs ? 1 : 0;
    }

    uint64_t produced = 0;
    bool differs = false;

private:
    const SourceFile& source_;
    uint8_t expected_[65536];
};

// Decodes the stream at the end of the spool, from `start`, as the
// installer would, and compares it with the source. On a match,
// *consumed is how far the decoder read, which may pass the stream's end
// by a few zero bytes.
bool DecodesToSource(Spool& spool, uint64_t start, const SourceFile& source, uint64_t* consumed)
{
    uint64_t end = spool.Size();
    static const uint8_t Zeros[StreamReadAhead] = {};
    spool.Append(Zeros, sizeof Zeros);
    int fd = spool.ReaderAt(start);
    std::unique_ptr<CompareSink> sink(new CompareSink(source));
    int result;
    {
        // Released, the decoder gives back what it read and did not use.
        StreamDecoder decoder;
        if (!decoder.OpenSource(DecoderHandle(fd), 0))
            throw std::bad_alloc();
        decoder.sink = sink.get();
        result = decoder.Decode();
        decoder.sink = nullptr;
    }
    off_t position = ::lseek(fd, 0, SEEK_CUR);
    spool.Truncate(end);
    if (position < 0)
        Fail("cannot read back the work file");
    *consumed = static_cast<uint64_t>(position) - start;
    return result == DecodeOk && !sink->differs && sink->produced == source.Size() &&
           *consumed < end - start + StreamReadAhead;
}

// Compresses the source into the spool piece by piece, then decodes it
// back. Returns false when that decode does not give the source (the
// spool is then as it was).
typedef std::function<void(uint64_t done)> PieceProgress;

bool SpoolStream(const SourceFile& source, int level, Spool& spool, uint32_t* checksum,
                 const PieceProgress& progress = nullptr)
{
    uint64_t start = spool.Size();
    PieceEncoder encoder(level);
    RunningSum sum;
    Bytes piece, out;
    uint64_t size = source.Size();
    for (uint64_t at = 0; at < size || at == 0;) {
        size_t n = size - at < PieceEncoder::MaxPiece ? static_cast<size_t>(size - at) : PieceEncoder::MaxPiece;
        piece.resize(n);
        source.Read(at, piece.data(), n);
        sum.Add(piece.data(), static_cast<uint32_t>(n));
        at += n;
        encoder.Add(piece.data(), n, at == size, out);
        spool.Append(out);
        out.clear();
        if (progress)
            progress(at);
        if (size == 0)
            break;
    }
    piece = Bytes();
    *checksum = sum.Value();

    uint64_t consumed;
    if (!DecodesToSource(spool, start, source, &consumed)) {
        spool.Truncate(start);
        return false;
    }
    if (consumed > spool.Size() - start) {
        // The decoder's look-ahead ran past the end: those zero bytes are
        // part of the stream, or the installer would read them from the
        // next one.
        Bytes zeros(static_cast<size_t>(consumed - (spool.Size() - start)), 0);
        spool.Append(zeros);
        if (!DecodesToSource(spool, start, source, &consumed) || consumed != spool.Size() - start) {
            spool.Truncate(start);
            return false;
        }
    }
    return true;
}

PackedFile PackFile(const ManifestFile& f, int level, Spool& spool, const PieceProgress& progress,
                    const SameAs& same = SameAs())
{
    PackedFile result;
    std::string prefix = (f.sourceRef.line ? f.sourceRef : f.ref).Prefix();
    bool external = f.uninstallMode == UninstallExternal;
    if (external) {
        uint32_t size = 0;
        if (!f.source.empty()) {
            struct stat info;
            if (::stat(f.source.c_str(), &info) != 0)
                Fail(prefix + "cannot find '" + f.source + "': " + SystemError());
            if (!S_ISREG(info.st_mode))
                Fail(prefix + "'" + f.source + "' is not a regular file");
            if (static_cast<uint64_t>(info.st_size) > UINT32_MAX)
                Fail(prefix + "'" + f.source + "' is 4 GiB or larger");
            size = static_cast<uint32_t>(info.st_size);
        }
        result.entry = FileEntryBytes(f, 0, size, 0, 0, 0, 0, false, 0);
        return result;
    }

    SourceFile source(f.source, prefix);
    uint32_t size = source.Size();
    if (f.uninstaller && !f.logBeside) {
        uint8_t tail[8];
        if (size >= 8)
            source.Read(size - 8, tail, 8);
        if (size < 8 || std::memcmp(tail, UninstallerTail, 8) != 0)
            Fail(prefix + "'" + BaseName(f.source) + "' cannot be the uninstaller: it must end with an empty "
                          "log record (bytes 7F 7F 00 00 00 00 00 00), which the installer overwrites");
    }

    uint32_t versionMS = f.versionMS, versionLS = f.versionLS;
    uint16_t language = f.language;
    if ((f.checkVersion && !f.hasVersion) || (f.checkLanguage && !f.hasLanguage)) {
        PeVersion version;
        std::string problem;
        if (!source.Version(&version, &problem))
            Fail(prefix + "'" + BaseName(f.source) + "' has no version to compare (" + problem + "); give " +
                 (f.checkVersion && !f.hasVersion ? "version = \"a.b.c.d\"" : "language = 0x0409") +
                 " or drop the check");
        if (f.checkVersion && !f.hasVersion) {
            versionMS = version.fileVersionMS;
            versionLS = version.fileVersionLS;
        }
        if (f.checkLanguage && !f.hasLanguage) {
            if (!version.hasTranslation)
                Fail(prefix + "'" + BaseName(f.source) + "' has no language (no \\VarFileInfo\\Translation in "
                              "its version resource); give language = 0x0409 or drop check_language");
            language = version.language;
        }
    }

    result.sourceSize = size;
    uint64_t writeTime = f.hasWriteTime ? f.writeTime : source.WriteTime();
    if (same.index != NoSource) {
        result.checksum = same.checksum;
        result.entry = FileEntryBytes(f, 0, size, same.checksum, versionMS, versionLS, language, f.keepTimes,
                                      writeTime, same.index);
        return result;
    }

    // A compressed stream that is not shorter than the stored one, or that
    // does not decode back, gives way to the stored one; one of those that
    // does not decode back is a decoder defect.
    uint64_t start = spool.Size();
    uint32_t checksum = 0;
    bool ok = level > 0 && SpoolStream(source, level, spool, &checksum, progress);
    if (ok && spool.Size() - start >= StoredStreamSize(size)) {
        spool.Truncate(start);
        ok = false;
    }
    if (!ok && !SpoolStream(source, 0, spool, &checksum))
        throw std::logic_error("stored stream does not decode back to its input");
    uint64_t packed = spool.Size() - start;
    if (packed > UINT32_MAX)
        Fail(prefix + "the compressed stream is 4 GiB or larger");
    result.checksum = checksum;
    result.entry = FileEntryBytes(f, static_cast<uint32_t>(packed), size, checksum, versionMS, versionLS, language,
                                  f.keepTimes, writeTime);
    return result;
}

Bytes Picture(const std::string& path, const SourceRef& ref)
{
    Bytes file = ReadWhole(path, ref.Prefix());
    Bytes stored;
    std::string problem;
    if (!StoredBitmapFromBmp(file, &stored, &problem))
        Fail(ref.Prefix() + "'" + BaseName(path) + "': " + problem);
    return stored;
}

void Report(const BuildOptions& options, const std::string& what, uint64_t done, uint64_t total)
{
    if (options.progress)
        options.progress(what, done, total);
}

// Copies `size` bytes of the spool from `offset` into `out`.
void CopyData(const Spool& spool, uint64_t offset, uint64_t size, OutputFile& out, const BuildOptions& options,
              uint64_t* copied, uint64_t total)
{
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[CopyChunk]);
    while (size > 0) {
        size_t n = size < CopyChunk ? static_cast<size_t>(size) : CopyChunk;
        spool.Read(offset, buffer.get(), n);
        out.Write(buffer.get(), n);
        offset += n;
        size -= n;
        *copied += n;
        Report(options, "writing", *copied, total);
    }
}

void CheckOptions(const BuildOptions& options)
{
    if (options.level < 0 || options.level > MaxEncodeLevel)
        Fail("compression level " + std::to_string(options.level) + " is outside 0.." +
             std::to_string(MaxEncodeLevel));
    if (options.volumeSize > UINT32_MAX)
        Fail("a volume of " + std::to_string(options.volumeSize) + " bytes is over the 4 GiB a volume can have");
    if (options.output == "-" && options.volumeSize)
        Fail("volumes are named after OUT: give a file name, not '-', with --volume-size");
}

void PutU32At(Bytes& out, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// The stub with its stamp record filled in: its own length, where the
// installer finds the header, and the start page. A Windows program first
// gets the package's execution level, version resource and icon; a stub
// that is no PE image (a stand-in) is taken as it is.
struct Stub {
    Bytes bytes;
    size_t checksumField = 0; // 0: none to fill
};

Stub StampedStub(const std::string& stubPath, const Manifest& m, const std::string& output)
{
    if (stubPath.empty())
        Fail("no installer stub given");
    Stub result;
    Bytes& stub = result.bytes;
    stub = ReadWhole(stubPath, "stub: ");
    size_t stamp;
    std::string problem;
    if (!FindStamp(stub, &stamp, &problem))
        Fail("stub '" + stubPath + "': " + problem);
    if (uint32_t old = GetU32(&stub[stamp + StampStubLengthOffset]))
        Fail("stub '" + stubPath + "' already carries a package (its stamp gives " + std::to_string(old) +
             " as the stub length); give the plain installer program");
    PeLayout layout;
    if (ReadPeLayout(stub.data(), stub.size(), &layout, nullptr)) {
        std::u16string description = m.description;
        if (description.empty())
            description = AnsiToUtf16(m.groups.size() > 6 && !m.groups[6].empty() ? m.groups[6][0]
                                                                                 : m.productName + " Setup");
        ProgramLook look;
        if (!ProgramLookOf(m, description, output == "-" ? "SETUP.EXE" : BaseName(output), &look, &problem))
            Fail(problem);
        if (!ApplyProgramLook(&stub, look, &problem))
            Fail("stub '" + stubPath + "': " + problem);
        if (!FindStamp(stub, &stamp, &problem) || !ReadPeLayout(stub.data(), stub.size(), &layout, &problem))
            Fail("stub '" + stubPath + "' with its resources: " + problem);
        result.checksumField = layout.checksumField;
    }
    PutU32At(stub, stamp + StampStubLengthOffset, static_cast<uint32_t>(stub.size()));
    uint16_t startPage = m.hasStartPage ? m.startPage : 0xFFFF;
    stub[stamp + StampStartPageOffset] = static_cast<uint8_t>(startPage);
    stub[stamp + StampStartPageOffset + 1] = static_cast<uint8_t>(startPage >> 8);
    return result;
}

struct Resources {
    Bytes templates;
    Bytes frame;      // empty: none
    Bytes background; // empty: none
};

// Templates and pictures, and that every packed file is there: read
// before the slow part, so that their errors come fast. Each stands
// alone: the failure lists all their problems, one a line.
Resources ReadResources(const Manifest& m)
{
    Resources r;
    std::string problems;
    auto add = [&problems](const std::string& problem) { problems += (problems.empty() ? "" : "\n") + problem; };
    auto attempt = [&add](const std::function<void()>& read) {
        try {
            read();
        } catch (const Failure& f) {
            add(f.message);
        }
    };
    attempt([&] {
        std::string problem;
        if (!m.templates.empty()) {
            if (!BuildTemplateBlob(m.templates, &r.templates, &problem))
                Fail(m.templatesRef.Prefix() + problem);
        } else {
            r.templates = DefaultTemplateBlob(&problem);
            if (r.templates.empty())
                Fail(problem);
        }
        // The installer refuses a package whose templates it cannot walk:
        // find out here, with the template's number, rather than on the
        // user's machine.
        TemplateFault bad;
        if (!CheckTemplateBlob(r.templates.data(), static_cast<uint32_t>(r.templates.size()),
                               m.headerFlags & FlagFullScreen, m.hasStartPage ? m.startPage : WizardMode, &bad))
            Fail((m.templates.empty() ? std::string() : m.templatesRef.Prefix() + m.templates + ": ") + "template " +
                 std::to_string(bad.number) + " (resource id " + std::to_string(TemplateResourceBase + bad.number) +
                 ") is not a dialog the installer can make: " + TemplateFaultText(r.templates, bad));
    });
    if (!m.framePicture.empty())
        attempt([&] { r.frame = Picture(m.framePicture, m.framePictureRef); });
    if (!m.backgroundPicture.empty())
        attempt([&] { r.background = Picture(m.backgroundPicture, m.backgroundPictureRef); });
    if (!m.icon.empty())
        attempt([&] {
            ProgramLook look;
            std::string problem;
            if (!ProgramLookOf(m, std::u16string(), std::string(), &look, &problem))
                Fail(problem);
        });
    for (const ManifestFile& f : m.files) {
        if (f.uninstallMode == UninstallExternal)
            continue;
        struct stat info;
        if (::stat(f.source.c_str(), &info) != 0)
            add((f.sourceRef.line ? f.sourceRef : f.ref).Prefix() + "cannot find '" + f.source + "': " +
                SystemError());
    }
    if (!problems.empty())
        Fail(problems);
    return r;
}

// Writing over an input would lose it (a stub given as the output, say):
// refused before anything is written.
void RefuseOverwritingInputs(const Manifest& m, const BuildOptions& options)
{
    std::vector<std::pair<std::string, std::string>> inputs = {{options.stubPath, "the stub"},
                                                               {m.path, "the manifest"}};
    if (!m.templates.empty())
        inputs.push_back({m.templates, m.templatesRef.key});
    if (!m.framePicture.empty())
        inputs.push_back({m.framePicture, m.framePictureRef.key});
    if (!m.backgroundPicture.empty())
        inputs.push_back({m.backgroundPicture, m.backgroundPictureRef.key});
    if (!m.icon.empty())
        inputs.push_back({m.icon, m.iconRef.key});
    for (const ManifestFile& f : m.files)
        if (!f.source.empty())
            inputs.push_back({f.source, f.ref.key});
    for (const auto& read : m.readFiles)
        inputs.push_back({read.first, read.second.key});
    // Any volume name the build may write, whether or not the ones before
    // it exist now.
    if (options.output == "-")
        return;
    std::vector<std::string> outputNames = {options.output};
    for (unsigned k = 1; k <= MaxVolumes && options.volumeSize; ++k)
        outputNames.push_back(VolumeName(options.output, k));
    for (const std::string& name : outputNames) {
        for (const auto& input : inputs) {
            if (SameFile(input.first, name))
                Fail("'" + name + "' is " + input.second + "; writing the package there would lose it");
        }
    }
}

// The bytes of a file to be compared with others: its size, a hash, and
// the installer's checksum (which a copy's entry must repeat).
struct Fingerprint {
    uint32_t size = 0;
    uint64_t hash = 0;
    uint32_t checksum = 0;
};

Fingerprint FingerprintOf(const SourceFile& file)
{
    Fingerprint print;
    print.size = file.Size();
    uint64_t hash = 14695981039346656037ull; // FNV-1a
    RunningSum sum;
    Bytes chunk(1 << 16);
    for (uint64_t at = 0; at < print.size;) {
        size_t n = std::min<uint64_t>(chunk.size(), print.size - at);
        file.Read(at, chunk.data(), n);
        for (size_t i = 0; i < n; ++i)
            hash = (hash ^ chunk[i]) * 1099511628211ull;
        sum.Add(chunk.data(), static_cast<uint32_t>(n));
        at += n;
    }
    print.hash = hash;
    print.checksum = sum.Value();
    return print;
}

bool SameBytes(const SourceFile& a, const SourceFile& b)
{
    if (a.Size() != b.Size())
        return false;
    Bytes x(1 << 16), y(1 << 16);
    for (uint64_t at = 0; at < a.Size();) {
        size_t n = std::min<uint64_t>(x.size(), a.Size() - at);
        a.Read(at, x.data(), n);
        b.Read(at, y.data(), n);
        if (std::memcmp(x.data(), y.data(), n) != 0)
            return false;
        at += n;
    }
    return true;
}

// Files that may share another's stream: packed ones other than the
// uninstaller (its log is written over its end) and empty files (a copy's
// entry is longer than their stream).
bool MayShare(const ManifestFile& f)
{
    return f.uninstallMode != UninstallExternal && !f.uninstaller && !f.source.empty();
}

// Finds, for each file, an earlier one with the same bytes: the hash picks
// the candidates, a comparison of the bytes decides.
class Duplicates {
public:
    Duplicates(const Manifest& m, const std::vector<uint64_t>& sizes) : m_(m)
    {
        std::map<uint64_t, int> count;
        for (size_t i = 0; i < m.files.size(); ++i)
            if (MayShare(m.files[i]) && sizes[i] > 0)
                ++count[sizes[i]];
        for (size_t i = 0; i < m.files.size(); ++i)
            wanted_.push_back(MayShare(m.files[i]) && sizes[i] > 0 && count[sizes[i]] > 1);
    }

    // The earlier entry file `i` can share, if any.
    SameAs Find(size_t i)
    {
        SameAs same;
        if (!wanted_[i])
            return same;
        const ManifestFile& f = m_.files[i];
        SourceFile file(f.source, (f.sourceRef.line ? f.sourceRef : f.ref).Prefix());
        Fingerprint print = FingerprintOf(file);
        std::vector<Seen>& candidates = seen_[std::make_pair(print.size, print.hash)];
        for (const Seen& c : candidates) {
            const ManifestFile& other = m_.files[c.index];
            SourceFile earlier(other.source, (other.sourceRef.line ? other.sourceRef : other.ref).Prefix());
            // The checksum is the earlier stream's, as packed.
            if (c.checksum == print.checksum && SameBytes(file, earlier)) {
                same.index = c.index;
                same.checksum = c.checksum;
                return same;
            }
        }
        pending_ = Seen{static_cast<uint32_t>(i), 0};
        pendingKey_ = std::make_pair(print.size, print.hash);
        hasPending_ = true;
        return same;
    }

    // File `i` was packed with a stream of its own summing to `checksum`.
    void Packed(size_t i, uint32_t checksum)
    {
        if (!hasPending_ || pending_.index != i)
            return;
        pending_.checksum = checksum;
        seen_[pendingKey_].push_back(pending_);
        hasPending_ = false;
    }

private:
    struct Seen {
        uint32_t index;
        uint32_t checksum;
    };
    const Manifest& m_;
    std::vector<bool> wanted_;
    std::map<std::pair<uint32_t, uint64_t>, std::vector<Seen>> seen_;
    Seen pending_ = {};
    std::pair<uint32_t, uint64_t> pendingKey_;
    bool hasPending_ = false;
};

// Compresses every file into the spool; returns the file table.
Bytes PackFiles(const Manifest& m, const BuildOptions& options, Spool& spool, BuildSummary* summary)
{
    Bytes table;
    PutU32(table, static_cast<uint32_t>(m.files.size()));
    uint64_t total = 0;
    std::vector<uint64_t> sizes;
    for (const ManifestFile& f : m.files) {
        struct stat info;
        uint64_t size = 0;
        if (f.uninstallMode != UninstallExternal && ::stat(f.source.c_str(), &info) == 0)
            size = static_cast<uint64_t>(info.st_size);
        sizes.push_back(size);
        total += size;
    }
    Duplicates duplicates(m, sizes);
    uint64_t done = 0;
    for (size_t i = 0; i < m.files.size(); ++i) {
        const ManifestFile& f = m.files[i];
        Report(options, "compressing " + (f.source.empty() ? f.name : BaseName(f.source)), done, total);
        uint64_t before = spool.Size();
        std::string what = "compressing " + (f.source.empty() ? f.name : BaseName(f.source));
        SameAs same = m.storeOnce ? duplicates.Find(i) : SameAs();
        PackedFile packed = PackFile(f, options.level, spool, [&](uint64_t inFile) {
            Report(options, what, done + inFile, total);
        }, same);
        // A stream no longer than what a copy adds to its entry is not shared.
        if (same.index == NoSource && spool.Size() - before > SourceEntrySize)
            duplicates.Packed(i, packed.checksum);
        if (same.index != NoSource)
            ++summary->sharedFiles;
        table.insert(table.end(), packed.entry.begin(), packed.entry.end());
        if (f.uninstallMode != UninstallExternal)
            summary->files.push_back(PackedReport{f.name, packed.sourceSize, spool.Size() - before});
        done += packed.sourceSize;
        summary->sourceBytes += packed.sourceSize;
        if (f.uninstallMode == UninstallExternal)
            ++summary->externalFiles;
        else
            ++summary->packedFiles;
    }
    Report(options, "compressing", total, total);
    return table;
}

Bytes HeaderRecords(const Manifest& m, const Resources& resources, const Bytes& table, int level)
{
    Bytes header;
    Bytes flags;
    PutU32(flags, m.headerFlags);
    AddRecord(header, TagHeaderFlags, 0, flags);
    AddText(header, TagDefaultInstallDir, m.defaultFolder, level);
    if (m.installOptions) {
        Bytes options;
        PutU32(options, m.installOptions);
        AddRecord(header, TagInstallOptions, 0, options);
    }
    if (!m.uninstallerTextsBeside.empty())
        AddRecord(header, TagUninstallerTexts, 0, m.uninstallerTextsBeside);
    if (m.hasStartPage) {
        Bytes page;
        PutU16(page, m.startPage);
        AddRecord(header, TagStartPage, 0, page);
    }
    if (!m.uninstallName.empty())
        AddText(header, TagUninstallName, m.uninstallName, level);
    if (m.Upgrades() && !m.upgradeKeep.empty()) {
        std::string keep;
        for (const std::string& pattern : m.upgradeKeep)
            keep += (keep.empty() ? "" : "|") + pattern;
        AddText(header, TagUpgradeKeep, keep, level);
    }
    if (m.hasBackgroundTitle) {
        AddText(header, TagBackgroundTitle, m.backgroundTitle, level);
        AddBody(header, TagTitleStyle, Bytes(m.titleStyle, m.titleStyle + sizeof m.titleStyle), level);
    }
    if (m.hasRegistry) {
        Bytes root;
        PutU32(root, m.registryRoot);
        AddRecord(header, TagPrevDirRoot, 0, root);
        AddText(header, TagPrevDirKey, m.registryKey, level);
        if (m.hasRegistryValue)
            AddText(header, TagPrevDirValue, m.registryValue, level);
    }
    if (m.hasProfile) {
        AddText(header, TagPrevDirIniFile, m.profileFile, level);
        AddText(header, TagPrevDirIniSection, m.profileSection, level);
        AddText(header, TagPrevDirIniKey, m.profileKey, level);
    }
    AddRecord(header, TagMessageGroups, 0, MessageGroupsBody(m.groups, level));
    AddBody(header, TagTemplateBlob, resources.templates, level);
    if (!resources.frame.empty())
        AddBody(header, TagFrameBitmap, resources.frame, level);
    if (!resources.background.empty())
        AddBody(header, TagBackgroundBitmap, resources.background, level);
    AddBody(header, TagFileTable, table, level);
    return header;
}

// How the data region is spread: `first` bytes in the package file, then
// one entry per continuation volume.
struct DataLayout {
    uint64_t first = 0;
    std::vector<uint64_t> volumes;
};

// `fixed`: the stub, the header and the terminator, which all go into the
// package file.
// Why `size` cannot be the volume size, or empty.
std::string VolumeSizeProblem(uint64_t size, uint64_t fixed, uint64_t data)
{
    if (size < fixed)
        return "a volume of " + std::to_string(size) + " bytes cannot hold the installer and the package header (" +
               std::to_string(fixed) + " bytes)";
    uint64_t first = std::min(data, size - fixed);
    uint64_t per = size - 4;
    uint64_t volumes = (data - first + per - 1) / per;
    if (volumes > MaxVolumes)
        return "a volume size of " + std::to_string(size) + " bytes would need more than " +
               std::to_string(MaxVolumes) + " volumes";
    // The installer reads SourceBufferSize bytes at a time and changes
    // volumes at most once per read, so no read may have to pass over a
    // whole volume: every volume but the last holds at least that.
    if (volumes > 1 && per < SourceBufferSize)
        return "a volume of " + std::to_string(size) + " bytes holds " + std::to_string(per) +
               " data bytes; with more than one continuation volume each must hold at least " +
               std::to_string(SourceBufferSize) + " (--volume-size " + std::to_string(SourceBufferSize + 4) +
               " or more), since the installer reads that much at a time";
    return std::string();
}

// The smallest volume size without a problem (sizes that work only grow).
uint64_t SmallestVolumeSize(uint64_t fixed, uint64_t data)
{
    uint64_t low = 1, high = UINT32_MAX;
    if (!VolumeSizeProblem(high, fixed, data).empty())
        return 0;
    while (low < high) {
        uint64_t middle = low + (high - low) / 2;
        if (VolumeSizeProblem(middle, fixed, data).empty())
            high = middle;
        else
            low = middle + 1;
    }
    return low;
}

DataLayout PlanVolumes(const BuildOptions& options, uint64_t fixed, uint64_t data)
{
    DataLayout layout;
    layout.first = data;
    if (options.volumeSize) {
        std::string problem = VolumeSizeProblem(options.volumeSize, fixed, data);
        if (!problem.empty()) {
            uint64_t smallest = SmallestVolumeSize(fixed, data);
            Fail(problem + (smallest ? "; the smallest --volume-size that works is " + std::to_string(smallest) +
                                           " (" + std::to_string((smallest + 1023) / 1024) + "K)"
                                     : std::string()));
        }
        if (layout.first > options.volumeSize - fixed)
            layout.first = options.volumeSize - fixed;
        uint64_t per = options.volumeSize - 4;
        for (uint64_t rest = data - layout.first; rest > 0;) {
            uint64_t n = rest < per ? rest : per;
            layout.volumes.push_back(n);
            rest -= n;
        }
    }
    if (fixed + layout.first > UINT32_MAX)
        Fail("the package would be " + std::to_string(fixed + layout.first) +
             " bytes, over the 4 GiB a package file can have; split it with --volume-size");
    return layout;
}

// The terminator: body length = the data in this volume, never 0 (a
// package without data must still pass the completeness test).
Bytes Terminator(uint32_t firstData)
{
    Bytes terminator;
    AddRecord(terminator, TagTerminator, 0, Bytes());
    PutU32At(terminator, 4, firstData ? firstData : 4);
    PutU32(terminator, firstData);
    return terminator;
}

// Writes the package file and its volumes, each under a temporary name;
// renames them only when all are complete.
void WriteOutputs(Stub& stub, const Bytes& header, const Spool& spool, const DataLayout& layout,
                  const BuildOptions& options, BuildSummary* summary)
{
    uint64_t data = spool.Size();
    Bytes terminator = Terminator(static_cast<uint32_t>(layout.first));
    if (stub.checksumField) {
        // The sum covers the whole package file, so the data is read once
        // more first: standard output cannot be patched afterwards.
        PeChecksum sum(stub.checksumField);
        sum.Add(stub.bytes.data(), stub.bytes.size());
        sum.Add(header.data(), header.size());
        sum.Add(terminator.data(), terminator.size());
        std::unique_ptr<uint8_t[]> buffer(new uint8_t[CopyChunk]);
        for (uint64_t at = 0; at < layout.first;) {
            size_t n = layout.first - at < CopyChunk ? static_cast<size_t>(layout.first - at) : CopyChunk;
            spool.Read(at, buffer.get(), n);
            sum.Add(buffer.get(), n);
            at += n;
        }
        PutU32At(stub.bytes, stub.checksumField, sum.Finish());
    }
    std::vector<std::unique_ptr<OutputFile>> outputs;
    uint64_t copied = 0;
    outputs.emplace_back(new OutputFile(options.output));
    OutputFile& package = *outputs.back();
    package.Write(stub.bytes);
    package.Write(header);
    package.Write(terminator);
    CopyData(spool, 0, layout.first, package, options, &copied, data);
    package.Close();
    summary->written.push_back(options.output);
    summary->sizes.push_back(package.Written());

    uint64_t offset = layout.first;
    for (size_t k = 0; k < layout.volumes.size(); ++k) {
        std::string name = VolumeName(options.output, static_cast<unsigned>(k + 1));
        outputs.emplace_back(new OutputFile(name));
        OutputFile& volume = *outputs.back();
        Bytes count;
        PutU32(count, static_cast<uint32_t>(layout.volumes[k]));
        volume.Write(count);
        CopyData(spool, offset, layout.volumes[k], volume, options, &copied, data);
        volume.Close();
        offset += layout.volumes[k];
        summary->written.push_back(name);
        summary->sizes.push_back(volume.Written());
    }

    // Volumes first, the package file last: until then an older package
    // file still finds whatever it found before.
    for (size_t k = outputs.size(); k-- > 0;)
        outputs[k]->Commit();
}

// Makes the output's missing folders; the ones it made go again unless
// Keep is called (a failed build leaves nothing).
class OutputFolders {
public:
    explicit OutputFolders(const std::string& output)
    {
        if (output == "-")
            return;
        std::vector<std::string> missing;
        for (std::string dir = Parent(output); !dir.empty(); dir = Parent(dir)) {
            struct stat info;
            if (::stat(dir.c_str(), &info) == 0)
                break;
            missing.push_back(dir);
        }
        for (size_t i = missing.size(); i-- > 0;) {
            if (::mkdir(missing[i].c_str(), 0777) != 0 && errno != EEXIST)
                Fail("cannot create the folder '" + missing[i] + "': " + SystemError());
            made_.push_back(missing[i]);
        }
    }
    ~OutputFolders()
    {
        for (size_t i = made_.size(); i-- > 0;)
            ::rmdir(made_[i].c_str());
    }
    OutputFolders(const OutputFolders&) = delete;
    OutputFolders& operator=(const OutputFolders&) = delete;
    void Keep() { made_.clear(); }

private:
    // "a/b/c" -> "a/b"; "c" and "/c" -> "".
    static std::string Parent(const std::string& path)
    {
        size_t slash = path.find_last_of('/');
        if (slash == std::string::npos || slash == 0)
            return std::string();
        std::string parent = path.substr(0, slash);
        while (!parent.empty() && parent.back() == '/')
            parent.pop_back();
        return parent;
    }

    std::vector<std::string> made_;
};

void Build(const Manifest& m, const BuildOptions& options, BuildSummary* summary)
{
    CheckOptions(options);
    Stub stub = StampedStub(options.stubPath, m, options.output);
    Resources resources = ReadResources(m);
    RefuseOverwritingInputs(m, options);

    OutputFolders folders(options.output);
    WorkFileCleanup cleanup;
    Spool spool(options.output);
    Bytes table = PackFiles(m, options, spool, summary);
    Bytes header = HeaderRecords(m, resources, table, options.level);
    uint64_t fixed = static_cast<uint64_t>(stub.bytes.size()) + header.size() + TerminatorSize;
    DataLayout layout = PlanVolumes(options, fixed, spool.Size());
    struct stat info;
    std::string stale = VolumeName(options.output, static_cast<unsigned>(layout.volumes.size() + 1));
    if (options.output != "-" && ::stat(stale.c_str(), &info) == 0) {
        std::string warning = "'" + stale + "' is left over from an earlier build; the new package does not use it";
        if (options.warningsAreErrors)
            Fail(warning + " (warnings are errors: nothing written)");
        summary->warnings.push_back(warning);
    }
    WriteOutputs(stub, header, spool, layout, options, summary);

    summary->stubLength = static_cast<uint32_t>(stub.bytes.size());
    summary->headerLength = static_cast<uint32_t>(header.size() + TerminatorSize);
    summary->dataLength = spool.Size();
    folders.Keep();
}


} // namespace

bool ProgramLookOf(const Manifest& m, const std::u16string& description, const std::string& fileName,
                   ProgramLook* look, std::string* error)
{
    ProgramLook l;
    l.requireAdministrator = !m.PerUser();
    l.productName = AnsiToUtf16(m.productName);
    l.description = description;
    l.version = AnsiToUtf16(m.productVersion); // digits and dots
    l.versionMS = m.versionMS;
    l.versionLS = m.versionLS;
    l.publisher = m.publisher;
    l.copyright = m.copyright;
    l.originalName = AnsiToUtf16(fileName);
    if (!m.icon.empty()) {
        try {
            l.icon = ReadWhole(m.icon, m.iconRef.Prefix());
        } catch (const Failure& f) {
            *error = f.message;
            return false;
        }
        std::string problem;
        if (!CheckIconFile(l.icon, &problem)) {
            *error = m.iconRef.Prefix() + "'" + BaseName(m.icon) + "' " + problem;
            return false;
        }
        // The package reader finds the stamp as the first marker in the
        // stub: none may come after it.
        if (std::search(l.icon.begin(), l.icon.end(), StampMarker, StampMarker + sizeof StampMarker) !=
            l.icon.end()) {
            *error = m.iconRef.Prefix() + "'" + BaseName(m.icon) +
                     "' holds the bytes 77 77 67 54 29 48, which mark the installer's stamp record; change "
                     "the icon a little (one pixel will do)";
            return false;
        }
    }
    *look = std::move(l);
    return true;
}

bool FindStamp(const Bytes& stub, size_t* offset, std::string* error)
{
    size_t found = 0, count = 0;
    for (size_t i = 0; i + sizeof StampMarker <= stub.size(); ++i) {
        if (std::memcmp(&stub[i], StampMarker, sizeof StampMarker) == 0) {
            if (count++ == 0)
                found = i;
        }
    }
    if (count == 0) {
        *error = "no stamp record (marker 77 77 67 54 29 48) found: is it the Zevrin installer program?";
        return false;
    }
    if (count > 1) {
        *error = "the stamp record marker occurs " + std::to_string(count) + " times; it must occur once";
        return false;
    }
    if (stub.size() - found < StampRecordSize) {
        *error = "the stamp record is cut off at the end of the file";
        return false;
    }
    if (stub.size() > UINT32_MAX) {
        *error = "the stub is 4 GiB or larger";
        return false;
    }
    *offset = found;
    return true;
}

bool StoredBitmapFromBmp(const Bytes& file, Bytes* stored, std::string* error)
{
    auto fail = [error](const std::string& text) {
        *error = text;
        return false;
    };
    if (file.size() < 14 + 40 || file[0] != 'B' || file[1] != 'M')
        return fail("not a BMP file");
    uint32_t pixelsAt = GetU32(&file[10]);
    uint32_t infoSize = GetU32(&file[14]);
    if (infoSize == 12)
        return fail("an OS/2 bitmap (12-byte header); save it as a Windows BMP");
    if (infoSize < 40 || infoSize > file.size() - 14)
        return fail("damaged BMP header");
    const uint8_t* info = &file[14];
    int32_t width = static_cast<int32_t>(GetU32(info + 4));
    int32_t height = static_cast<int32_t>(GetU32(info + 8));
    uint16_t planes = GetU16(info + 12);
    uint16_t bits = GetU16(info + 14);
    uint32_t compression = GetU32(info + 16);
    uint32_t colours = GetU32(info + 32);
    bool topDown = height < 0;
    if (topDown && height != INT32_MIN)
        height = -height;
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384)
        return fail("width and height must be 1 to 16384 pixels");
    if (planes != 1)
        return fail("damaged BMP header (planes is not 1)");
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return fail(std::to_string(bits) + " bits per pixel; use 1, 4, 8, 16, 24 or 32");
    // ImageMagick writes 8-bit palette pictures as RLE8 unless told not to.
    if (compression == 1 || compression == 2)
        return fail(std::string("an RLE") + (compression == 1 ? "8" : "4") +
                    "-compressed bitmap; save it uncompressed (BI_RGB), with ImageMagick: "
                    "convert in.png -type Palette -compress none BMP3:out.bmp");
    if (compression != 0)
        return fail("a compressed or bit-field bitmap; save it uncompressed (BI_RGB), with ImageMagick: "
                    "convert in.png -compress none BMP3:out.bmp");
    uint32_t tableEntries = bits <= 8 ? 1u << bits : 0;
    if (bits <= 8 && colours > tableEntries)
        return fail("the colour table has more entries than " + std::to_string(bits) + " bits can use");
    uint32_t present = bits <= 8 ? (colours ? colours : tableEntries) : colours;
    uint64_t tableAt = 14 + static_cast<uint64_t>(infoSize);
    if (tableAt + 4ull * present > file.size())
        return fail("the colour table is cut off");
    uint64_t stride = (static_cast<uint64_t>(width) * bits + 31) / 32 * 4;
    uint64_t imageSize = stride * static_cast<uint64_t>(height);
    if (imageSize > (64u << 20))
        return fail("the picture is over 64 MB");
    if (pixelsAt < tableAt || pixelsAt > file.size() || imageSize > file.size() - pixelsAt)
        return fail("the pixel data is cut off");

    Bytes out;
    uint32_t offBits = 14 + 40 + 4 * tableEntries;
    out.push_back('B');
    out.push_back('M');
    PutU32(out, static_cast<uint32_t>(offBits + imageSize));
    PutU32(out, 0);
    PutU32(out, offBits);
    out.insert(out.end(), info, info + 40);
    out[14] = 40; // biSize: the installer reads a 40-byte header
    out[15] = out[16] = out[17] = 0;
    uint8_t* header = &out[14];
    for (int i = 0; i < 4; ++i) {
        header[20 + i] = static_cast<uint8_t>(imageSize >> (8 * i)); // biSizeImage
        header[32 + i] = 0;                                          // biClrUsed: the full table
        header[36 + i] = 0;                                          // biClrImportant
    }
    // A full table, zero-padded: the installer builds a 256-colour
    // palette from any 8-bit picture.
    size_t tableStart = out.size();
    out.resize(tableStart + 4 * tableEntries, 0);
    uint32_t copy = present < tableEntries ? present : tableEntries;
    if (copy)
        std::memcpy(&out[tableStart], &file[tableAt], 4 * copy);
    // Rows bottom-up, as every reader of the format expects.
    for (int32_t row = 0; row < height; ++row) {
        int32_t from = topDown ? height - 1 - row : row;
        auto start = file.begin() + pixelsAt + static_cast<size_t>(stride) * from;
        out.insert(out.end(), start, start + static_cast<size_t>(stride));
    }
    for (int i = 0; i < 4; ++i)
        out[14 + 8 + i] = static_cast<uint8_t>(static_cast<uint32_t>(height) >> (8 * i)); // biHeight
    *stored = std::move(out);
    return true;
}

Bytes MessageGroupsBody(const std::vector<std::vector<std::string>>& groups, int level)
{
    Bytes body;
    PutU16(body, static_cast<uint16_t>(groups.size()));
    for (const std::vector<std::string>& texts : groups) {
        if (texts.size() > 0xFFFF)
            Fail("a message group has more than 65535 texts");
        Bytes group;
        PutU16(group, static_cast<uint16_t>(texts.size()));
        for (const std::string& text : texts)
            PutText(group, text);
        Bytes stream = EncodeStream(group.data(), group.size(), level);
        PutU32(body, static_cast<uint32_t>(group.size()));
        body.insert(body.end(), stream.begin(), stream.end());
    }
    return body;
}

std::string VolumeName(const std::string& output, unsigned number)
{
    size_t slash = output.find_last_of('/');
    size_t dot = output.find_last_of('.');
    std::string stem = dot != std::string::npos && (slash == std::string::npos || dot > slash)
                           ? output.substr(0, dot)
                           : output;
    char ending[16];
    std::snprintf(ending, sizeof ending, ".D%02u", number);
    return stem + ending;
}

uint64_t FileTimeFromUnix(int64_t seconds, long nanoseconds)
{
    const int64_t Epoch1601 = 11644473600; // seconds from 1601 to 1970
    if (seconds < -Epoch1601)
        return 0;
    return static_cast<uint64_t>(seconds + Epoch1601) * 10000000u + static_cast<uint64_t>(nanoseconds / 100);
}

bool BuildPackage(const Manifest& manifest, const BuildOptions& options, BuildSummary* summary,
                  std::string* error)
{
    BuildSummary local;
    try {
        Build(manifest, options, &local);
    } catch (const Failure& f) {
        *error = f.message;
        return false;
    } catch (const std::bad_alloc&) {
        *error = "out of memory";
        return false;
    } catch (const std::exception& e) {
        *error = e.what();
        return false;
    }
    if (summary)
        *summary = std::move(local);
    return true;
}

} // namespace zevrin
