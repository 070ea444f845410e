// PE headers -> resource directory -> RT_VERSION -> VS_VERSIONINFO. The
// input is whatever file the publisher names, so every read goes through
// a bounds check and every walk has a fixed limit.
#include "pe_version.h"

#include <cstring>

namespace zevrin {

namespace {

const uint16_t ResourceTypeVersion = 16; // RT_VERSION
const uint32_t FixedInfoSignature = 0xFEEF04BD;
const size_t FixedInfoSize = 52;
// Resource directories and version blocks are small; a count above this
// is damage, and the loops stop there rather than walk a huge garbage list.
const unsigned MaxDirectoryEntries = 4096;
const unsigned MaxVersionChildren = 256;

struct Image {
    const uint8_t* data;
    size_t size;

    bool Has(size_t offset, size_t length) const { return offset <= size && length <= size - offset; }
    uint16_t U16(size_t offset) const { return static_cast<uint16_t>(data[offset] | data[offset + 1] << 8); }
    uint32_t U32(size_t offset) const
    {
        return data[offset] | data[offset + 1] << 8 | data[offset + 2] << 16 |
               static_cast<uint32_t>(data[offset + 3]) << 24;
    }
};

struct Section {
    uint32_t virtualAddress;
    uint32_t virtualSize;
    uint32_t rawSize;
    uint32_t rawOffset;
};

struct Pe {
    Image image;
    size_t sectionTable = 0;
    unsigned sectionCount = 0;
    uint32_t headersSize = 0;

    Section SectionAt(unsigned i) const
    {
        size_t at = sectionTable + 40 * i;
        return {image.U32(at + 12), image.U32(at + 8), image.U32(at + 16), image.U32(at + 20)};
    }

    // File offset of `rva` and how many bytes from there lie in the file
    // within the same section (or within the headers, which are mapped as
    // they are). Bytes that exist only in memory do not count.
    bool MapPrefix(uint32_t rva, size_t* offset, size_t* extent) const
    {
        for (unsigned i = 0; i < sectionCount; ++i) {
            Section s = SectionAt(i);
            uint32_t span = s.virtualSize > s.rawSize ? s.virtualSize : s.rawSize;
            if (rva < s.virtualAddress || rva - s.virtualAddress >= span)
                continue;
            uint32_t into = rva - s.virtualAddress;
            if (into >= s.rawSize)
                return false;
            *offset = static_cast<size_t>(s.rawOffset) + into;
            if (*offset >= image.size)
                return false;
            size_t raw = s.rawSize - into;
            *extent = raw < image.size - *offset ? raw : image.size - *offset;
            return true;
        }
        if (rva < headersSize && rva < image.size) {
            *offset = rva;
            size_t inHeaders = headersSize - rva;
            *extent = inHeaders < image.size - rva ? inHeaders : image.size - rva;
            return true;
        }
        return false;
    }

    // File offset of `length` bytes at `rva`, all of them in the file.
    bool Map(uint32_t rva, uint32_t length, size_t* offset) const
    {
        size_t extent;
        return MapPrefix(rva, offset, &extent) && length <= extent;
    }
};

bool Fail(std::string* error, const char* text)
{
    if (error)
        *error = text;
    return false;
}

bool ParseLayout(const Image& image, PeLayout* layout, std::string* error)
{
    if (!image.Has(0, 64) || image.data[0] != 'M' || image.data[1] != 'Z')
        return Fail(error, "not a Windows executable (no MZ header)");
    uint32_t peOffset = image.U32(0x3C);
    if (!image.Has(peOffset, 24) || std::memcmp(image.data + peOffset, "PE\0\0", 4) != 0)
        return Fail(error, "not a 32-bit Windows executable (no PE header; 16-bit files are not read)");
    size_t coff = peOffset + 4;
    unsigned sections = image.U16(coff + 2);
    uint16_t optionalSize = image.U16(coff + 16);
    size_t optional = coff + 20;
    if (!image.Has(optional, optionalSize) || optionalSize < 2)
        return Fail(error, "damaged PE header (optional header cut off)");
    uint16_t magic = image.U16(optional);
    size_t countField;
    if (magic == 0x10B)
        countField = 92;
    else if (magic == 0x20B)
        countField = 108;
    else
        return Fail(error, "damaged PE header (unknown optional header kind)");
    if (optionalSize < countField + 4)
        return Fail(error, "damaged PE header (no data directories)");
    PeLayout l;
    l.plus = magic == 0x20B;
    l.optionalHeader = optional;
    l.optionalSize = optionalSize;
    l.checksumField = optional + 64;
    l.sectionAlignment = image.U32(optional + 32);
    l.fileAlignment = image.U32(optional + 36);
    l.headersSize = image.U32(optional + 60);
    l.directories = optional + countField + 4;
    uint32_t count = image.U32(optional + countField);
    uint32_t room = static_cast<uint32_t>((optionalSize - countField - 4) / 8);
    l.directoryCount = count < room ? count : room;
    size_t table = optional + optionalSize;
    if (!image.Has(table, 40 * static_cast<size_t>(sections)))
        return Fail(error, "damaged PE header (section table cut off)");
    l.imageEnd = table + 40 * static_cast<size_t>(sections);
    if (l.headersSize > l.imageEnd && l.headersSize <= image.size)
        l.imageEnd = l.headersSize;
    for (unsigned i = 0; i < sections; ++i) {
        PeSection s;
        s.header = table + 40 * i;
        std::memcpy(s.name, image.data + s.header, 8);
        s.virtualSize = image.U32(s.header + 8);
        s.virtualAddress = image.U32(s.header + 12);
        s.rawSize = image.U32(s.header + 16);
        s.rawOffset = image.U32(s.header + 20);
        s.characteristics = image.U32(s.header + 36);
        if (s.rawSize && s.rawOffset + static_cast<size_t>(s.rawSize) > l.imageEnd)
            l.imageEnd = s.rawOffset + static_cast<size_t>(s.rawSize);
        l.sections.push_back(s);
    }
    *layout = l;
    return true;
}

bool ParseHeaders(const Image& image, Pe* pe, uint32_t* resourceRva, uint32_t* resourceSize,
                  std::string* error)
{
    PeLayout layout;
    if (!ParseLayout(image, &layout, error))
        return false;
    if (layout.directoryCount < 3)
        return Fail(error, "no version resource (the file has no resources)");
    *resourceRva = layout.DirectoryRva(2, image.data);
    *resourceSize = layout.DirectorySize(2, image.data);
    if (*resourceRva == 0 || *resourceSize == 0)
        return Fail(error, "no version resource (the file has no resources)");

    pe->image = image;
    pe->sectionTable = layout.optionalHeader + layout.optionalSize;
    pe->sectionCount = static_cast<unsigned>(layout.sections.size());
    pe->headersSize = layout.headersSize;
    return true;
}

// Entry `wanted` of a resource directory (or its first entry when `wanted`
// is negative); *target gets the entry's OffsetToData.
bool FindEntry(const Image& image, size_t base, uint32_t baseSize, uint32_t directory, int wanted,
               uint32_t* target)
{
    if (directory > baseSize || baseSize - directory < 16)
        return false;
    size_t at = base + directory;
    unsigned count = image.U16(at + 12) + image.U16(at + 14);
    if (count > MaxDirectoryEntries)
        return false;
    for (unsigned i = 0; i < count; ++i) {
        uint32_t entry = directory + 16 + 8 * i;
        if (entry > baseSize || baseSize - entry < 8)
            return false;
        uint32_t name = image.U32(base + entry);
        bool match = wanted < 0 || (!(name & 0x80000000u) && name == static_cast<uint32_t>(wanted));
        if (match) {
            *target = image.U32(base + entry + 4);
            return true;
        }
    }
    return false;
}

// The language that Windows picks on an English system: neutral, then
// U.S. English, else the first there is.
bool FindLanguage(const Image& image, size_t base, uint32_t baseSize, uint32_t directory, uint32_t* target)
{
    return FindEntry(image, base, baseSize, directory, 0, target) ||
           FindEntry(image, base, baseSize, directory, 0x0409, target) ||
           FindEntry(image, base, baseSize, directory, -1, target);
}

// One block of a version resource: wLength, wValueLength, wType, a
// UTF-16 key, padding to 4, the value, padding, the children.
struct Block {
    size_t start = 0;
    size_t end = 0; // start + wLength
    std::u16string key;
    size_t value = 0; // offset of the value
    size_t valueLength = 0; // in bytes as stored (text values count characters)
    size_t children = 0;
};

size_t Align4(size_t offset, size_t base) { return base + ((offset - base + 3) & ~size_t(3)); }

bool ReadBlock(const Image& image, size_t base, size_t start, size_t limit, Block* block)
{
    if (start + 6 > limit)
        return false;
    uint16_t length = image.U16(start);
    if (length < 6 || length > limit - start)
        return false;
    block->start = start;
    block->end = start + length;
    block->key.clear();
    size_t at = start + 6;
    for (;;) {
        if (at + 2 > block->end)
            return false;
        char16_t c = image.U16(at);
        at += 2;
        if (c == 0)
            break;
        block->key.push_back(c);
    }
    block->value = Align4(at, base);
    block->valueLength = image.U16(start + 2);
    if (block->value > block->end)
        block->value = block->end;
    uint16_t type = image.U16(start + 4);
    // Text values (type 1) count UTF-16 characters.
    size_t valueBytes = type == 1 ? 2 * block->valueLength : block->valueLength;
    if (valueBytes > block->end - block->value)
        valueBytes = block->end - block->value;
    block->children = Align4(block->value + valueBytes, base);
    if (block->children > block->end)
        block->children = block->end;
    return true;
}

bool FindChild(const Image& image, size_t base, const Block& parent, const char16_t* key, Block* found)
{
    size_t at = parent.children;
    for (unsigned i = 0; i < MaxVersionChildren && at < parent.end; ++i) {
        Block child;
        if (!ReadBlock(image, base, at, parent.end, &child))
            return false;
        if (child.key == key) {
            *found = child;
            return true;
        }
        at = Align4(child.end, base);
    }
    return false;
}

} // namespace

bool ReadPeVersion(const uint8_t* data, size_t size, PeVersion* out, std::string* error)
{
    Image image{data, size};
    Pe pe{image};
    uint32_t resourceRva = 0, resourceSize = 0;
    if (!ParseHeaders(image, &pe, &resourceRva, &resourceSize, error))
        return false;
    // The directory may claim more than its section holds: every entry is
    // checked against what is really there.
    size_t base, extent;
    if (!pe.MapPrefix(resourceRva, &base, &extent))
        return Fail(error, "damaged resource directory (outside the file)");
    uint32_t available = static_cast<uint32_t>(extent < resourceSize ? extent : resourceSize);

    uint32_t typeEntry, nameEntry, languageEntry;
    if (!FindEntry(image, base, available, 0, ResourceTypeVersion, &typeEntry))
        return Fail(error, "no version resource");
    if (!(typeEntry & 0x80000000u) ||
        !FindEntry(image, base, available, typeEntry & 0x7FFFFFFF, -1, &nameEntry) ||
        !(nameEntry & 0x80000000u) ||
        !FindLanguage(image, base, available, nameEntry & 0x7FFFFFFF, &languageEntry) ||
        (languageEntry & 0x80000000u) || languageEntry > available || available - languageEntry < 16)
        return Fail(error, "damaged resource directory");
    uint32_t dataRva = image.U32(base + languageEntry);
    uint32_t dataSize = image.U32(base + languageEntry + 4);
    size_t versionAt;
    if (dataSize < 6 || !pe.Map(dataRva, dataSize, &versionAt))
        return Fail(error, "damaged version resource (outside the file)");

    Block root;
    if (!ReadBlock(image, versionAt, versionAt, versionAt + dataSize, &root) ||
        root.key != u"VS_VERSION_INFO")
        return Fail(error, "damaged version resource");
    if (root.valueLength < FixedInfoSize || root.value + FixedInfoSize > root.end ||
        image.U32(root.value) != FixedInfoSignature)
        return Fail(error, "the version resource has no fixed version information");

    PeVersion version;
    version.fileVersionMS = image.U32(root.value + 8);
    version.fileVersionLS = image.U32(root.value + 12);
    version.productVersionMS = image.U32(root.value + 16);
    version.productVersionLS = image.U32(root.value + 20);

    Block varInfo, translation;
    if (FindChild(image, versionAt, root, u"VarFileInfo", &varInfo) &&
        FindChild(image, versionAt, varInfo, u"Translation", &translation) &&
        translation.valueLength >= 4 && translation.value + 4 <= translation.end) {
        version.hasTranslation = true;
        version.language = image.U16(translation.value);
        version.codePage = image.U16(translation.value + 2);
    }
    Block stringInfo, table;
    if (FindChild(image, versionAt, root, u"StringFileInfo", &stringInfo) &&
        ReadBlock(image, versionAt, stringInfo.children, stringInfo.end, &table)) {
        size_t at = table.children;
        for (unsigned i = 0; i < MaxVersionChildren && at < table.end; ++i) {
            Block text;
            if (!ReadBlock(image, versionAt, at, table.end, &text))
                break;
            std::u16string value;
            for (size_t c = text.value; c + 2 <= text.end && c < text.children; c += 2) {
                char16_t unit = image.U16(c);
                if (unit == 0)
                    break;
                value.push_back(unit);
            }
            version.strings[text.key] = value;
            at = Align4(text.end, versionAt);
        }
    }
    *out = version;
    return true;
}

namespace {

// One level of the resource tree: `level` 0 types, 1 names, 2 languages.
struct ResourceWalk {
    const Pe& pe;
    size_t base;
    uint32_t available;
    std::vector<PeResource>* out;
    std::string* error;

    bool Name(uint32_t field, ResourceName* name) const
    {
        name->named = (field & 0x80000000u) != 0;
        if (!name->named) {
            name->id = static_cast<uint16_t>(field);
            return true;
        }
        uint32_t at = field & 0x7FFFFFFF;
        if (at > available || available - at < 2)
            return false;
        unsigned length = pe.image.U16(base + at);
        if (available - at - 2 < 2u * length)
            return false;
        for (unsigned i = 0; i < length; ++i)
            name->text.push_back(static_cast<char16_t>(pe.image.U16(base + at + 2 + 2 * i)));
        return true;
    }

    bool Directory(uint32_t directory, int level, PeResource& path)
    {
        if (directory > available || available - directory < 16)
            return Fail(error, "damaged resource directory");
        size_t at = base + directory;
        unsigned count = pe.image.U16(at + 12) + pe.image.U16(at + 14);
        if (count > MaxDirectoryEntries || out->size() > MaxDirectoryEntries * 4)
            return Fail(error, "damaged resource directory (too many entries)");
        for (unsigned i = 0; i < count; ++i) {
            uint32_t entry = directory + 16 + 8 * i;
            if (entry > available || available - entry < 8)
                return Fail(error, "damaged resource directory");
            uint32_t nameField = pe.image.U32(base + entry);
            uint32_t target = pe.image.U32(base + entry + 4);
            bool subdirectory = (target & 0x80000000u) != 0;
            ResourceName name;
            if (!Name(nameField, &name) || subdirectory != (level < 2))
                return Fail(error, "damaged resource directory");
            if (level == 0)
                path.type = name;
            else if (level == 1)
                path.name = name;
            else
                path.language = name.id;
            if (level < 2) {
                if (!Directory(target & 0x7FFFFFFF, level + 1, path))
                    return false;
                continue;
            }
            if (target > available || available - target < 16)
                return Fail(error, "damaged resource directory");
            uint32_t dataRva = pe.image.U32(base + target);
            uint32_t dataSize = pe.image.U32(base + target + 4);
            size_t dataAt = 0;
            if (dataSize && !pe.Map(dataRva, dataSize, &dataAt))
                return Fail(error, "damaged resource (outside the file)");
            PeResource resource = path;
            resource.codePage = pe.image.U32(base + target + 8);
            resource.data.assign(pe.image.data + dataAt, pe.image.data + dataAt + dataSize);
            out->push_back(resource);
        }
        return true;
    }
};

} // namespace

uint32_t PeLayout::DirectoryRva(uint32_t i, const uint8_t* data) const
{
    if (i >= directoryCount)
        return 0;
    const uint8_t* p = data + directories + 8 * i;
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint32_t PeLayout::DirectorySize(uint32_t i, const uint8_t* data) const
{
    if (i >= directoryCount)
        return 0;
    const uint8_t* p = data + directories + 8 * i + 4;
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

bool ReadPeLayout(const uint8_t* data, size_t size, PeLayout* out, std::string* error)
{
    return ParseLayout(Image{data, size}, out, error);
}

bool ReadPeResources(const uint8_t* data, size_t size, std::vector<PeResource>* out, std::string* error)
{
    Image image{data, size};
    Pe pe{image};
    PeLayout layout;
    if (!ParseLayout(image, &layout, error))
        return false;
    out->clear();
    uint32_t resourceRva = layout.DirectoryRva(2, data);
    uint32_t resourceSize = layout.DirectorySize(2, data);
    if (resourceRva == 0 || resourceSize == 0)
        return true;
    pe.sectionTable = layout.optionalHeader + layout.optionalSize;
    pe.sectionCount = static_cast<unsigned>(layout.sections.size());
    pe.headersSize = layout.headersSize;
    size_t base, extent;
    if (!pe.MapPrefix(resourceRva, &base, &extent))
        return Fail(error, "damaged resource directory (outside the file)");
    uint32_t available = static_cast<uint32_t>(extent < resourceSize ? extent : resourceSize);
    ResourceWalk walk{pe, base, available, out, error};
    PeResource path;
    return walk.Directory(0, 0, path);
}

std::string VersionText(uint32_t ms, uint32_t ls)
{
    return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." +
           std::to_string(ls >> 16) + "." + std::to_string(ls & 0xFFFF);
}

} // namespace zevrin
