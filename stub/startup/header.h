// The package header: tagged records behind the stub's own image, read
// once at start-up into the header variables of shared/state.h.
#pragma once

#include <cstdint>

#include "../shared/platform.h"

namespace zevrin {

enum : uint16_t {
    TagHeaderFlags = 4660,
    TagDefaultInstallDir = 4661,
    TagFrameBitmap = 4662,
    TagBackgroundBitmap = 4663,
    TagUninstallName = 4664,
    TagBackgroundTitle = 4665,
    TagMessageGroups = 4666,
    TagPrevDirRoot = 4668,
    TagPrevDirKey = 4669,
    TagPrevDirValue = 4670,
    TagPrevDirIniFile = 4671,
    TagPrevDirIniSection = 4672,
    TagPrevDirIniKey = 4673,
    TagTemplateBlob = 4674,
    TagFileTable = 4675,
    TagStartPage = 4676,
    TagTitleStyle = 4678,
    TagTerminator = 0x7F7F,
};

const uint8_t RecordCompressed = 1;
const uint32_t RecordHeadSize = 8;

struct RecordHead {
    uint16_t tag;
    uint8_t flags;
    uint8_t reserved;
    uint32_t bodyLength;
};

// Reads the header of the package at PackageSourcePath from offset
// StubLength. True when it was read and the package is complete. On an
// incomplete package shows group 6, index 31 (when that text exists).
// Damaged records, and those that claim more bytes than the file holds,
// end the reading with false and no message.
bool ReadPackageHeader();

// Reads one record body into a new buffer: 0 done, 1 read failure,
// 5 out of memory.
int ReadRecordBody(FileHandle handle, const RecordHead& head, uint8_t** out);

// Frees every header buffer (at exit).
void FreeHeaderData();

// Frees the header buffers and sets every header variable back to what it
// is before a package has been read, for tools and tests that read
// several packages in one process.
void ForgetPackageHeader();

} // namespace zevrin
