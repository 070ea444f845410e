// The project's uninstaller as it is packed ([uninstaller] in a manifest):
// the built program with the publisher's texts before its terminator head,
// where the uninstaller reads them (stub/engine/log_reader.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "manifest.h"
#include "pe_resources.h"

namespace zevrin {

// Writes `copy`: the program at f->source, its last 8 bytes (the empty
// terminator head the installer's log replaces) preceded by record 4680
// holding f->uninstallerTexts as one message group. Then `f` packs the
// copy, with the program's modification time rather than the copy's (so
// two builds of the same files give the same package). False, with
// `error` naming the manifest line and `f` unchanged, when the program
// cannot be read or does not end with the terminator, or the copy cannot
// be written. A program that is a PE image first gets `look` (when
// given: level, version resource, icon), and the copy its checksum.
//
// With `isSigned` given, a program signed with Authenticode (a certificate
// table in its data directories) is left as it is: nothing may be added
// to a signed file. `copy` is then not written, `f` packs the program
// itself and *isSigned is set; the installer is to write the texts
// (UninstallerTextsGroup) and its log into a file beside the program.
bool WriteUninstallerCopy(ManifestFile* f, const std::string& copy, std::string* error,
                          const ProgramLook* look = nullptr, bool* isSigned = nullptr);

// For a signed uninstaller f: install options bit 5 and record 4700 (its
// texts), so the installer writes them and its log beside the program.
void PackLogBeside(Manifest* m, const ManifestFile& f);

// f.uninstallerTexts as one message group: u16 count, NUL-terminated texts.
std::vector<uint8_t> UninstallerTextsGroup(const ManifestFile& f);

// True for a PE image with a certificate table.
bool IsSignedProgram(const std::vector<uint8_t>& data);

} // namespace zevrin
