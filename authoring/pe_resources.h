// Writing a PE image's resources and checksum: what SETUP.EXE and the
// packed uninstaller say about themselves (execution level, version
// resource, icon). The image's resource section is rebuilt whole, so a
// version resource or an icon of any size fits; that needs the resource
// section to be the image's last, or followed only by the base relocations,
// which move up behind it. Reading is pe_version.h's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pe_version.h"

namespace zevrin {

// The icon group both programs load (LoadIcon(800)), also the stub's
// background window class icon.
const uint16_t ProgramIconId = 800;

struct ProgramLook {
    bool requireAdministrator = true; // else asInvoker
    std::u16string productName;
    std::u16string description;  // FileDescription
    std::u16string version;      // as the publisher wrote it; empty: none
    uint32_t versionMS = 0, versionLS = 0;
    std::u16string publisher;    // CompanyName; empty: left out
    std::u16string copyright;    // LegalCopyright; empty: left out
    std::u16string originalName; // OriginalFilename and InternalName
    std::vector<uint8_t> icon;   // a .ico file; empty: the program keeps its own
};

// Sets the execution level in the application manifest, replaces the
// version resource and, when look.icon is given, icon group 800 and its
// images, then rebuilds the resource section. The checksum field is left
// 0 (the caller sums the final file). Data after the image (the
// uninstaller's terminator) stays behind it. False with a message, the
// image unchanged, when the program has no manifest with a
// requestedExecutionLevel, is signed, or its resource section cannot be
// rebuilt.
bool ApplyProgramLook(std::vector<uint8_t>* image, const ProgramLook& look, std::string* error);

// Checks a .ico file: its directory and every image inside the file.
bool CheckIconFile(const std::vector<uint8_t>& ico, std::string* error);

// "1", "1.2", "1.2.3" or "1.2.3.4", each part 0..65535, as the fixed
// version's two words.
bool ParseFileVersion(const std::string& text, uint32_t* ms, uint32_t* ls);

// The pieces, exposed for tests.

// The bytes of a resource section at `rva` holding `resources`.
std::vector<uint8_t> ResourceSectionBytes(const std::vector<PeResource>& resources, uint32_t rva);

// Replaces the image's resource section by one holding `resources`.
bool ReplaceResourceSection(std::vector<uint8_t>* image, const std::vector<PeResource>& resources,
                            std::string* error);

// The sum Windows keeps in the optional header (CheckSumMappedFile): the
// file's 16-bit words added with end-around carry, the checksum field
// itself counted as 0, plus the file's length. Fed in pieces of any size.
class PeChecksum {
public:
    // `field`: file offset of the checksum field, whose bytes count as 0.
    explicit PeChecksum(uint64_t field) : field_(field) {}
    void Add(const uint8_t* data, size_t size);
    uint32_t Finish() const;

private:
    uint64_t field_;
    uint64_t length_ = 0;
    uint64_t sum_ = 0;
};

// Sets the checksum field of a whole file held in memory; false when it
// is not a PE image.
bool SetPeChecksum(std::vector<uint8_t>* file);

} // namespace zevrin
