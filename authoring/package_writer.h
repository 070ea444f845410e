// Turns a loaded manifest into SETUP.EXE: the stub with its stamp record
// patched, the header records, the terminator and the file-data region,
// optionally spread over continuation volumes SETUP.D01, SETUP.D02, ...
// Layout: docs/package-format.md; the stub's reader: stub/startup/header.h.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "manifest.h"
#include "pe_resources.h"

namespace zevrin {

struct BuildOptions {
    std::string output;   // the package file; volumes are named after it
    std::string stubPath; // the installer program the package is appended to
    int level = 11;       // EncodeStream level 0..12; the tool's default
    // 0: everything in one file. Otherwise no file written is larger: the
    // package file holds the stub, the header and as much data as fits,
    // each volume a u32 count and up to volumeSize - 4 data bytes.
    uint64_t volumeSize = 0;
    // Called now and then during a long build: what is being done, and
    // how far (done of total, in bytes of input).
    std::function<void(const std::string& what, uint64_t done, uint64_t total)> progress;
    // A warning of the build itself (a volume left from an earlier build)
    // fails it before anything is written.
    bool warningsAreErrors = false;
};

// One packed file, for a verbose report.
struct PackedReport {
    std::string name; // destination name
    uint64_t size = 0;
    uint64_t packed = 0;
};

struct BuildSummary {
    std::vector<std::string> written; // the package file, then its volumes
    std::vector<uint64_t> sizes;      // their sizes
    uint32_t stubLength = 0;
    uint32_t headerLength = 0; // the records and the terminator with its u32
    uint64_t dataLength = 0;   // the file-data region over all volumes
    uint64_t sourceBytes = 0;  // packed files before compression
    size_t packedFiles = 0;
    size_t externalFiles = 0;
    size_t sharedFiles = 0; // entries that install an earlier entry's bytes
    std::vector<std::string> warnings;
    std::vector<PackedReport> files; // in table order, external ones left out
};

// Builds the package. On failure nothing is left behind: an existing
// output file (and its volumes) stay as they were, and `error` holds one
// problem a line (the checks before packing, such as every missing file,
// report all of theirs).
bool BuildPackage(const Manifest& manifest, const BuildOptions& options, BuildSummary* summary,
                  std::string* error);

// What a program of the package says about itself, from the manifest:
// the execution level its privileges need, the version resource's
// strings (`description` and the file name `fileName` are the program's
// own), the icon read and checked. False with a message naming the
// manifest line when the icon cannot be used.
bool ProgramLookOf(const Manifest& m, const std::u16string& description, const std::string& fileName,
                   ProgramLook* look, std::string* error);

// The pieces, exposed for tests.

// The marker that opens the stub's 24-byte stamp record.
extern const uint8_t StampMarker[6];
// Offset of the stamp record in a stub: the marker must occur exactly once.
bool FindStamp(const std::vector<uint8_t>& stub, size_t* offset, std::string* error);

// Checks a .bmp file and rewrites it the way the installer reads a stored
// bitmap: a 40-byte info header, a full colour table for 1, 4 and 8 bits
// per pixel (none above), and the pixel bits right behind the table, rows
// bottom-up (a top-down file is turned over). Refuses compressed and
// damaged bitmaps.
bool StoredBitmapFromBmp(const std::vector<uint8_t>& file, std::vector<uint8_t>* stored, std::string* error);

// The body of the message-group record: u16 count, then per group the u32
// unpacked size and one compressed stream of the group.
std::vector<uint8_t> MessageGroupsBody(const std::vector<std::vector<std::string>>& groups, int level);

// "out/SETUP.EXE", 1 -> "out/SETUP.D01"; 100 -> "out/SETUP.D100". A name
// without extension gets one appended.
std::string VolumeName(const std::string& output, unsigned number);

// A FILETIME (100 ns since 1601) from Unix seconds and nanoseconds.
uint64_t FileTimeFromUnix(int64_t seconds, long nanoseconds);

} // namespace zevrin
