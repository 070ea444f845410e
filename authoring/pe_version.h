// The version resource of a Windows executable, read on the host so the
// file table can carry the version and language that the installer
// compares with an existing copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace zevrin {

struct PeVersion {
    uint32_t fileVersionMS = 0;  // VS_FIXEDFILEINFO dwFileVersionMS
    uint32_t fileVersionLS = 0;
    uint32_t productVersionMS = 0;
    uint32_t productVersionLS = 0;
    bool hasTranslation = false; // \VarFileInfo\Translation was found
    uint16_t language = 0;       // its first language identifier
    uint16_t codePage = 0;
    // \StringFileInfo: the first string table's values by key
    // ("ProductName", "FileVersion", ...).
    std::map<std::u16string, std::u16string> strings;
};

// Finds RT_VERSION in a PE image (PE32 or PE32+) held in memory: headers,
// section table, resource directory, then VS_FIXEDFILEINFO and
// \VarFileInfo\Translation. Of several languages it takes the one an
// English Windows would load: neutral, U.S. English, else the first.
// Every offset is checked against `size`. False with a message (no file name in it) when the image
// is not a PE file, is damaged, or has no fixed version information.
bool ReadPeVersion(const uint8_t* data, size_t size, PeVersion* out, std::string* error);

// Where things are in a PE image, as its headers say.
struct PeSection {
    char name[9] = {};
    uint32_t virtualAddress = 0;
    uint32_t virtualSize = 0;
    uint32_t rawSize = 0;
    uint32_t rawOffset = 0;
    uint32_t characteristics = 0;
    size_t header = 0; // file offset of its 40-byte entry
};

struct PeLayout {
    bool plus = false;           // PE32+ (x86-64)
    size_t optionalHeader = 0;   // file offsets
    size_t optionalSize = 0;
    size_t checksumField = 0;
    size_t directories = 0;      // data directory 0
    uint32_t directoryCount = 0;
    uint32_t fileAlignment = 0;
    uint32_t sectionAlignment = 0;
    uint32_t headersSize = 0;
    std::vector<PeSection> sections; // in table order
    // Where the image ends in the file: its headers or the last byte of
    // raw section data, whichever is later. What follows is appended data.
    size_t imageEnd = 0;

    uint32_t DirectoryRva(uint32_t i, const uint8_t* data) const;
    uint32_t DirectorySize(uint32_t i, const uint8_t* data) const;
};

// The headers and section table of a PE image in memory, every field
// checked against `size`. False with a message when it is not a PE image
// or its headers are damaged.
bool ReadPeLayout(const uint8_t* data, size_t size, PeLayout* out, std::string* error);

// A resource's type or name: a number, or a string when `named`.
struct ResourceName {
    bool named = false;
    uint16_t id = 0;
    std::u16string text;

    bool operator==(const ResourceName& o) const { return named == o.named && (named ? text == o.text : id == o.id); }
};

struct PeResource {
    ResourceName type;
    ResourceName name;
    uint16_t language = 0;
    uint32_t codePage = 0;
    std::vector<uint8_t> data;
};

// Every resource of the image, in directory order. An image without a
// resource directory gives none. False with a message when the directory
// is damaged or a resource lies outside the file.
bool ReadPeResources(const uint8_t* data, size_t size, std::vector<PeResource>* out, std::string* error);

// Formats a version as "1.2.3.4".
std::string VersionText(uint32_t ms, uint32_t ls);

} // namespace zevrin
