// The project's uninstaller as it is packed ([uninstaller] in a manifest):
// the built program with the publisher's texts before its terminator head,
// where the uninstaller reads them (stub/engine/log_reader.h).
#pragma once

#include <string>

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
bool WriteUninstallerCopy(ManifestFile* f, const std::string& copy, std::string* error,
                          const ProgramLook* look = nullptr);

} // namespace zevrin
