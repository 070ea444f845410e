// The version resource of a Windows executable, read on the host so the
// file table can carry the version and language that the installer
// compares with an existing copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zevrin {

struct PeVersion {
    uint32_t fileVersionMS = 0;  // VS_FIXEDFILEINFO dwFileVersionMS
    uint32_t fileVersionLS = 0;
    uint32_t productVersionMS = 0;
    uint32_t productVersionLS = 0;
    bool hasTranslation = false; // \VarFileInfo\Translation was found
    uint16_t language = 0;       // its first language identifier
    uint16_t codePage = 0;
};

// Finds RT_VERSION in a PE image (PE32 or PE32+) held in memory: headers,
// section table, resource directory, then VS_FIXEDFILEINFO and
// \VarFileInfo\Translation. Of several languages it takes the one an
// English Windows would load: neutral, U.S. English, else the first.
// Every offset is checked against `size`. False with a message (no file name in it) when the image
// is not a PE file, is damaged, or has no fixed version information.
bool ReadPeVersion(const uint8_t* data, size_t size, PeVersion* out, std::string* error);

// Formats a version as "1.2.3.4".
std::string VersionText(uint32_t ms, uint32_t ls);

} // namespace zevrin
