// The package header: tagged records behind the stub's own image, read
// once at start-up into the header variables of shared/state.h.
#pragma once

#include <cstdint>

#include "../shared/platform.h"
#include "../shared/record_head.h"
#include "templates.h"

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
    TagInstallOptions = 4679,
    TagUpgradeKeep = 4693,
    // The uninstaller's texts, for the log written beside a signed one.
    TagUninstallerTexts = 4700,
};

// Why ReadPackageHeader refused a package; the authoring tool words its
// messages from it. HeaderOk after a successful read.
enum HeaderProblem : int {
    HeaderOk = 0,
    HeaderNoStub,           // StubLength is 0: no package was appended
    HeaderCannotOpen,       // the package file cannot be opened
    HeaderCutShort,         // the file ends inside a record head, a raw value or a body, or before the terminator
    HeaderRecordTooLong,    // a record claims `number` bytes, the file has `limit` left
    HeaderStreamTooLarge,   // a compressed body or group announces `number` unpacked bytes, more than its bytes could hold (`limit`: the body length)
    HeaderStreamDamaged,    // a compressed body or group does not decode, or unpacks to more than its `number` bytes
    HeaderOutOfMemory,      // a body or a group (of `number` bytes) cannot be allocated
    HeaderFileTableDamaged, // entry `number` of the file table (or the table's count) is malformed: the first entry that is, or that is missing (0 when the count is)
    HeaderTemplatesDamaged, // template `number` (8: the offset table, or no template blob) is malformed, or would make no dialog its page can use (`templates` says why)
    HeaderStartPageInvalid, // start page `number` is not a page: outside the page table, or its end marker
    HeaderIncomplete,       // the data region declares `number` bytes, the file holds `limit` (both 0: the terminator has no body)
};

struct HeaderFault {
    HeaderProblem problem = HeaderOk;
    uint16_t tag = 0;     // the record it was found in; 0 when none
    uint32_t offset = 0;  // file offset of that record's head
    int group = -1;       // message group of record 4666, -1 otherwise
    uint32_t number = 0;  // see HeaderProblem
    uint32_t limit = 0;   // see HeaderProblem
    TemplateFault templates; // HeaderTemplatesDamaged: the template check's fault
};

// The fault of the last ReadPackageHeader.
extern HeaderFault LastHeaderFault;

// Reads the header of the package at PackageSourcePath from offset
// StubLength. True when it was read, every part the run uses is sound and
// the package is complete. A refused package is described in
// LastHeaderFault, and once the message texts have been read the user is
// shown group 6, index 31 (when that text exists); before that, and when
// memory runs out, the refusal is silent.
bool ReadPackageHeader();

// Reads one record body into a new buffer: 0 done, 1 read failure or a
// damaged compressed body, 5 out of memory.
int ReadRecordBody(FileHandle handle, const RecordHead& head, uint8_t** out);

// Frees every header buffer (at exit).
void FreeHeaderData();

// Frees the header buffers and sets every header variable back to what it
// is before a package has been read, for tools and tests that read
// several packages in one process.
void ForgetPackageHeader();

} // namespace zevrin
