// Reading a finished SETUP.EXE on the host, for `zevrin list`, `verify` and
// `extract` and for tests: the stamp record, the header (through the stub's
// own reader), the file table, and every file's stream across the package
// volumes (through the stub's own byte source and decoder), so the tool
// sees the package exactly as the installer will.
//
// The stub keeps the header in program-wide state, so only one package can
// be open at a time in a process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace zevrin {

// A package that cannot be read, or a volume that cannot be had; the text
// is one line, fit to follow "zevrin: verify: ".
struct PackageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Where the stamp record lies in the first `size` bytes of a stub image:
// its one occurrence, or -1 when there is none and -2 when there are
// several.
long FindStampMarker(const uint8_t* data, size_t size);

// A package text made safe for a terminal: control bytes and bytes of 0x80
// and above (code-page characters) are written as \xNN.
std::string Printable(const std::string& text);

// The destination name of a file-table entry as a relative path below an
// extraction folder, '/'-separated. False, with the reason in *why, for a
// name that could reach outside it or that the installer could not write
// safely: empty, absolute, with a drive letter or ':', with '.' or '..'
// components (or components of dots and blanks only, which Windows treats
// alike), empty components, or control characters.
bool SafeRelativePath(const std::string& name, std::string* path, std::string* why);

// Where `extract` puts an entry, relative to DIR: the install folder's files
// under their names; Windows-folder files under @windows/, shared system
// files under @system/ (by their last name part only, as the installer
// places them) and fonts under @fonts/. False for an unsafe name.
bool ExtractPath(uint8_t location, const std::string& name, std::string* path, std::string* why);

struct PictureInfo {
    bool present = false;
    uint32_t bytes = 0;
    bool hasInfo = false; // a bitmap info header was there to read
    int32_t width = 0;
    int32_t height = 0;
    uint16_t bitCount = 0;
};

struct PackageEntry {
    uint32_t index = 0;
    uint16_t iconIndex = 0;
    uint32_t packedSize = 0;
    uint32_t fileSize = 0;
    uint32_t checksum = 0;
    uint8_t flags = 0;
    uint8_t location = 0;
    uint8_t afterAction = 0;
    uint8_t sharedCount = 0;
    uint8_t uninstallMode = 0;
    uint8_t specialKind = 0;
    bool hasVersion = false;
    uint32_t versionHigh = 0, versionLow = 0, language = 0;
    bool hasTimes = false;
    uint64_t times[3] = {}; // creation, last access, last write (FILETIME)
    // FileName, MenuFolders, MenuLinkName, MenuLinkArgs, DesktopLinkName,
    // DesktopLinkArgs.
    std::string strings[6];
    // Where its stream starts in the file-data region (all volumes as one).
    uint64_t dataOffset = 0;
    // A copy (flag 16) installs the bytes of this earlier entry; it has no
    // stream of its own.
    bool copy = false;
    uint32_t sourceEntry = 0;

    const std::string& Name() const { return strings[0]; }
    bool External() const { return uninstallMode == 2; }
    bool Uninstaller() const { return flags & 1; }
};

struct VolumeInfo {
    std::string path;
    bool present = false;
    uint32_t declared = 0; // data bytes its head (or the terminator) declares
    uint64_t held = 0;     // data bytes the file holds behind its head
};

// What one stream unpacked to, and what is wrong with it.
struct FileCheck {
    uint64_t size = 0;     // bytes it unpacked to (counting stops past FileSize)
    uint32_t checksum = 0; // RotateAddSum of those bytes
    std::string problem;   // empty when the file is sound
    bool Ok() const { return problem.empty(); }
};

// Takes the unpacked bytes of one file. May throw PackageError (a write
// failed), which ends the walk.
class FileOutput {
public:
    virtual ~FileOutput() {}
    virtual void Write(const uint8_t* data, size_t size) = 0;
};

class FileVisitor {
public:
    virtual ~FileVisitor() {}
    // Where this entry's bytes go; null to only check them. Called for
    // every entry that has a stream (not for external ones).
    virtual FileOutput* Begin(const PackageEntry&) { return nullptr; }
    // After its stream; false ends the walk.
    virtual bool End(const PackageEntry& entry, const FileCheck& check) = 0;
    // Unpacked bytes so far, of `total` for the whole walk.
    virtual void Progress(uint64_t, uint64_t) {}
};

class PackageReader {
public:
    // Opens a SETUP.EXE: finds its stamp, reads its header as the installer
    // would, walks its file table and looks over its volumes. Throws
    // PackageError with the reason when the installer would refuse it.
    // `headerOnly`: file data cut short is not refused (dataStop says what
    // is missing), for a look at the header and the table.
    explicit PackageReader(const std::string& path, bool headerOnly = false);
    ~PackageReader();
    PackageReader(const PackageReader&) = delete;
    PackageReader& operator=(const PackageReader&) = delete;

    // Decodes every stream in table order across the volumes (a copy's
    // source stream again, for the copy's own visit), checking
    // its size, checksum (also for the uninstaller entry) and that it
    // ends exactly at its packed size. A file that fails does not stop the
    // walk: the next stream is read from where the table puts it. Throws
    // PackageError when a volume is missing or damaged.
    void ReadFiles(FileVisitor& visitor);

    std::string path;
    uint64_t fileLength = 0;
    uint32_t stampOffset = 0;
    uint32_t stubLength = 0;
    uint16_t stampStartPage = 0;

    std::string title; // group 6, index 0
    uint32_t headerFlags = 0;
    uint32_t installOptions = 0; // record 4679; 0 when absent
    std::string defaultFolder;
    uint16_t startPage = 0;
    std::string uninstallName;
    std::string backgroundTitle;
    uint32_t prevDirRoot = 0;
    std::string prevDirKey, prevDirValue;
    std::string prevDirIniFile, prevDirIniSection, prevDirIniKey;
    PictureInfo framePicture, backgroundPicture;
    bool hasTitleStyle = false;
    unsigned messageGroups = 0; // slots filled
    bool hasFileTable = false;
    uint32_t templateBlobSize = 0;
    std::vector<PackageEntry> entries;

    uint64_t dataBytes = 0; // packed bytes of all streams
    uint64_t unpackedBytes = 0;
    // The volumes the streams need (SETUP.EXE first), as far as they could
    // be looked at; a missing one is the last.
    std::vector<VolumeInfo> volumes;
    // Data bytes that can be read in one run from the start of the region.
    uint64_t usableBytes = 0;
    // Why the data ends at usableBytes, when the streams need more.
    std::string dataStop;
    // Faults of the volume set: data left after the last stream, a volume
    // too small for the installer to change into in the middle of a read.
    std::vector<std::string> layoutProblems;

private:
    void Release();
    void ReadStamp();
    void ReadHeader(bool headerOnly);
    void CopyHeader();
    void ScanVolumes();
    uint32_t VolumeAt(uint64_t offset) const;
    void CheckReads();
    void StandAt(uint64_t offset);
    FileCheck DecodeEntry(const PackageEntry& entry, const PackageEntry& stream, FileVisitor& visitor,
                          uint64_t* progress, bool* exact);

    uint8_t savedStamp[24];
    bool headerRead = false;
    std::vector<uint64_t> volumeStart; // region offset of each volume's data
};

} // namespace zevrin
