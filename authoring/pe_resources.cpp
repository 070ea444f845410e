// The resource section is written from scratch: directory tables (types,
// names, languages, breadth first), data entries, name strings, then the
// data, each piece 8-aligned. Moving the section's end is safe only when
// nothing but the base relocations follows it: they are read through
// their data directory alone, so they can move to a new address.
#include "pe_resources.h"

#include <algorithm>
#include <cstring>

namespace zevrin {

namespace {

typedef std::vector<uint8_t> Bytes;

const uint16_t TypeIcon = 3;
const uint16_t TypeGroupIcon = 14;
const uint16_t TypeVersion = 16;
const uint16_t TypeManifest = 24;
const uint16_t ManifestId = 1; // CREATEPROCESS_MANIFEST_RESOURCE_ID
const uint16_t EnglishUs = 0x0409;
const uint32_t DirectoryResources = 2;
const uint32_t DirectorySecurity = 4;
const uint32_t DirectoryRelocations = 5;

bool Fail(std::string* error, const std::string& text)
{
    if (error)
        *error = text;
    return false;
}

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t U32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
void Put16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void Append16(Bytes& out, uint16_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void Append32(Bytes& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void PadTo(Bytes& out, size_t alignment)
{
    while (out.size() % alignment)
        out.push_back(0);
}
uint64_t AlignUp(uint64_t value, uint32_t alignment) { return (value + alignment - 1) / alignment * alignment; }

// Named entries first, by their text; then numbers, ascending.
bool NameLess(const ResourceName& a, const ResourceName& b)
{
    if (a.named != b.named)
        return a.named;
    return a.named ? a.text < b.text : a.id < b.id;
}

ResourceName Id(uint16_t id)
{
    ResourceName name;
    name.id = id;
    return name;
}

// ------------------------------------------------------------ version block

// wLength, wValueLength, wType, the key, the value, the children; each
// part starts 4-aligned within the resource.
Bytes VersionBlock(const std::u16string& key, const Bytes& value, uint16_t valueLength, bool text,
                   const std::vector<Bytes>& children)
{
    Bytes b(6, 0);
    for (char16_t c : key)
        Append16(b, static_cast<uint16_t>(c));
    Append16(b, 0);
    PadTo(b, 4);
    b.insert(b.end(), value.begin(), value.end());
    for (const Bytes& child : children) {
        PadTo(b, 4);
        b.insert(b.end(), child.begin(), child.end());
    }
    Put16(&b[0], static_cast<uint16_t>(b.size()));
    Put16(&b[2], valueLength);
    Put16(&b[4], text ? 1 : 0);
    return b;
}

Bytes StringBlock(const std::u16string& key, const std::u16string& value)
{
    Bytes bytes;
    for (char16_t c : value)
        Append16(bytes, static_cast<uint16_t>(c));
    Append16(bytes, 0);
    return VersionBlock(key, bytes, static_cast<uint16_t>(value.size() + 1), true, {});
}

Bytes VersionResource(const ProgramLook& look)
{
    Bytes fixed;
    Append32(fixed, 0xFEEF04BD);
    Append32(fixed, 0x00010000);
    Append32(fixed, look.versionMS); // file version
    Append32(fixed, look.versionLS);
    Append32(fixed, look.versionMS); // product version
    Append32(fixed, look.versionLS);
    Append32(fixed, 0x3F);    // flags mask
    Append32(fixed, 0);       // flags
    Append32(fixed, 0x40004); // VOS_NT_WINDOWS32
    Append32(fixed, 1);       // VFT_APP
    Append32(fixed, 0);
    Append32(fixed, 0); // date
    Append32(fixed, 0);

    std::vector<Bytes> strings;
    auto add = [&strings](const char16_t* key, const std::u16string& value) {
        if (!value.empty())
            strings.push_back(StringBlock(key, value));
    };
    add(u"CompanyName", look.publisher);
    add(u"FileDescription", look.description);
    add(u"FileVersion", look.version);
    add(u"InternalName", look.originalName);
    add(u"LegalCopyright", look.copyright);
    add(u"OriginalFilename", look.originalName);
    add(u"ProductName", look.productName);
    add(u"ProductVersion", look.version);
    // U.S. English, Unicode: what the strings are.
    Bytes table = VersionBlock(u"040904B0", Bytes(), 0, true, strings);
    Bytes stringInfo = VersionBlock(u"StringFileInfo", Bytes(), 0, true, {table});
    Bytes translation;
    Append16(translation, EnglishUs);
    Append16(translation, 1200);
    Bytes varInfo = VersionBlock(u"VarFileInfo", Bytes(), 0, true,
                                 {VersionBlock(u"Translation", translation, 4, false, {})});
    return VersionBlock(u"VS_VERSION_INFO", fixed, static_cast<uint16_t>(fixed.size()), false,
                        {stringInfo, varInfo});
}

// ------------------------------------------------------------------ icons

const size_t IconDirSize = 6, IconEntrySize = 16, GroupEntrySize = 14;

// Replaces icon group `group` (and the images it names) by the images of
// `ico`, numbered from the lowest free icon numbers.
void ReplaceIcon(std::vector<PeResource>* resources, const Bytes& ico, uint16_t group)
{
    uint16_t language = EnglishUs;
    std::vector<uint16_t> old;
    for (const PeResource& r : *resources) {
        if (!(r.type == Id(TypeGroupIcon) && r.name == Id(group)))
            continue;
        language = r.language;
        for (size_t at = IconDirSize; r.data.size() >= IconDirSize && at + GroupEntrySize <= r.data.size();
             at += GroupEntrySize)
            old.push_back(U16(&r.data[at + 12]));
    }
    resources->erase(std::remove_if(resources->begin(), resources->end(),
                                    [&](const PeResource& r) {
                                        if (r.type == Id(TypeGroupIcon))
                                            return r.name == Id(group);
                                        return r.type == Id(TypeIcon) && !r.name.named &&
                                               std::find(old.begin(), old.end(), r.name.id) != old.end();
                                    }),
                     resources->end());
    std::vector<uint16_t> used;
    for (const PeResource& r : *resources)
        if (r.type == Id(TypeIcon) && !r.name.named)
            used.push_back(r.name.id);

    unsigned count = U16(&ico[4]);
    Bytes directory(ico.begin(), ico.begin() + IconDirSize);
    uint16_t next = 1;
    for (unsigned i = 0; i < count; ++i) {
        const uint8_t* entry = &ico[IconDirSize + IconEntrySize * i];
        while (std::find(used.begin(), used.end(), next) != used.end())
            ++next;
        PeResource image;
        image.type = Id(TypeIcon);
        image.name = Id(next);
        image.language = language;
        uint32_t size = U32(entry + 8), offset = U32(entry + 12);
        image.data.assign(ico.begin() + offset, ico.begin() + offset + size);
        resources->push_back(image);
        directory.insert(directory.end(), entry, entry + 12); // up to the size
        Append16(directory, next);
        used.push_back(next);
    }
    PeResource groupResource;
    groupResource.type = Id(TypeGroupIcon);
    groupResource.name = Id(group);
    groupResource.language = language;
    groupResource.data = directory;
    resources->push_back(groupResource);
}

// ----------------------------------------------------------------- manifest

bool SetLevel(Bytes* xml, const char* level, std::string* error)
{
    std::string text(xml->begin(), xml->end());
    size_t element = text.find("requestedExecutionLevel");
    size_t attribute = element == std::string::npos ? element : text.find("level", element + 23);
    size_t close = element == std::string::npos ? element : text.find('>', element);
    if (attribute == std::string::npos || attribute > close)
        return Fail(error, "its application manifest has no requestedExecutionLevel level=\"...\"");
    size_t at = attribute + 5;
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\r' || text[at] == '\n'))
        ++at;
    if (at < text.size() && text[at] == '=')
        ++at;
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\r' || text[at] == '\n'))
        ++at;
    char quote = at < text.size() ? text[at] : 0;
    size_t end = quote == '"' || quote == '\'' ? text.find(quote, at + 1) : std::string::npos;
    if (end == std::string::npos || end > close)
        return Fail(error, "its application manifest has no requestedExecutionLevel level=\"...\"");
    text.replace(at + 1, end - at - 1, level);
    xml->assign(text.begin(), text.end());
    return true;
}

} // namespace

// -------------------------------------------------------------- the section

Bytes ResourceSectionBytes(const std::vector<PeResource>& resources, uint32_t rva)
{
    std::vector<const PeResource*> sorted;
    for (const PeResource& r : resources)
        sorted.push_back(&r);
    std::stable_sort(sorted.begin(), sorted.end(), [](const PeResource* a, const PeResource* b) {
        if (!(a->type == b->type))
            return NameLess(a->type, b->type);
        if (!(a->name == b->name))
            return NameLess(a->name, b->name);
        return a->language < b->language;
    });
    struct NameGroup {
        ResourceName name;
        std::vector<const PeResource*> languages;
        uint32_t directory = 0;
    };
    struct TypeGroup {
        ResourceName type;
        std::vector<NameGroup> names;
        uint32_t directory = 0;
    };
    std::vector<TypeGroup> types;
    for (const PeResource* r : sorted) {
        if (types.empty() || !(types.back().type == r->type))
            types.push_back(TypeGroup{r->type, {}, 0});
        std::vector<NameGroup>& names = types.back().names;
        if (names.empty() || !(names.back().name == r->name))
            names.push_back(NameGroup{r->name, {}, 0});
        names.back().languages.push_back(r);
    }

    // Where everything goes.
    uint32_t at = 16 + 8 * static_cast<uint32_t>(types.size());
    for (TypeGroup& t : types) {
        t.directory = at;
        at += 16 + 8 * static_cast<uint32_t>(t.names.size());
    }
    for (TypeGroup& t : types)
        for (NameGroup& n : t.names) {
            n.directory = at;
            at += 16 + 8 * static_cast<uint32_t>(n.languages.size());
        }
    uint32_t dataEntries = at;
    at += 16 * static_cast<uint32_t>(sorted.size());
    std::vector<std::pair<const ResourceName*, uint32_t>> strings;
    auto placeString = [&](const ResourceName& name) {
        if (!name.named)
            return;
        strings.push_back({&name, at});
        at += 2 + 2 * static_cast<uint32_t>(name.text.size());
    };
    for (TypeGroup& t : types) {
        placeString(t.type);
        for (NameGroup& n : t.names)
            placeString(n.name);
    }
    auto stringAt = [&](const ResourceName& name) -> uint32_t {
        for (const auto& s : strings)
            if (s.first == &name)
                return 0x80000000u | s.second;
        return name.id;
    };

    Bytes out(at, 0);
    auto directory = [&out](uint32_t offset, const std::vector<ResourceName>& names) {
        uint16_t named = 0;
        for (const ResourceName& n : names)
            named = static_cast<uint16_t>(named + (n.named ? 1 : 0));
        Put16(&out[offset + 12], named);
        Put16(&out[offset + 14], static_cast<uint16_t>(names.size() - named));
    };
    std::vector<ResourceName> typeNames;
    for (const TypeGroup& t : types)
        typeNames.push_back(t.type);
    directory(0, typeNames);
    uint32_t entry = dataEntries;
    Bytes data;
    std::vector<std::pair<uint32_t, const PeResource*>> placed;
    for (size_t i = 0; i < types.size(); ++i) {
        const TypeGroup& t = types[i];
        Put32(&out[16 + 8 * i], stringAt(t.type));
        Put32(&out[16 + 8 * i + 4], 0x80000000u | t.directory);
        std::vector<ResourceName> names;
        for (const NameGroup& n : t.names)
            names.push_back(n.name);
        directory(t.directory, names);
        for (size_t j = 0; j < t.names.size(); ++j) {
            const NameGroup& n = t.names[j];
            Put32(&out[t.directory + 16 + 8 * j], stringAt(n.name));
            Put32(&out[t.directory + 16 + 8 * j + 4], 0x80000000u | n.directory);
            Put16(&out[n.directory + 14], static_cast<uint16_t>(n.languages.size()));
            for (size_t k = 0; k < n.languages.size(); ++k) {
                Put32(&out[n.directory + 16 + 8 * k], n.languages[k]->language);
                Put32(&out[n.directory + 16 + 8 * k + 4], entry);
                placed.push_back({entry, n.languages[k]});
                entry += 16;
            }
        }
    }
    for (const auto& s : strings) {
        Put16(&out[s.second], static_cast<uint16_t>(s.first->text.size()));
        for (size_t i = 0; i < s.first->text.size(); ++i)
            Put16(&out[s.second + 2 + 2 * i], static_cast<uint16_t>(s.first->text[i]));
    }
    for (const auto& p : placed) {
        PadTo(out, 8);
        Put32(&out[p.first], rva + static_cast<uint32_t>(out.size()));
        Put32(&out[p.first + 4], static_cast<uint32_t>(p.second->data.size()));
        Put32(&out[p.first + 8], p.second->codePage);
        out.insert(out.end(), p.second->data.begin(), p.second->data.end());
    }
    return out;
}

bool ReplaceResourceSection(Bytes* image, const std::vector<PeResource>& resources, std::string* error)
{
    PeLayout layout;
    if (!ReadPeLayout(image->data(), image->size(), &layout, error))
        return false;
    const uint8_t* data = image->data();
    if (layout.fileAlignment < 512 || (layout.fileAlignment & (layout.fileAlignment - 1)) ||
        layout.sectionAlignment < layout.fileAlignment ||
        (layout.sectionAlignment & (layout.sectionAlignment - 1)))
        return Fail(error, "damaged PE header (alignment)");
    if (layout.DirectoryRva(DirectorySecurity, data) || layout.DirectorySize(DirectorySecurity, data))
        return Fail(error, "it is signed; a program is signed after its resources are written");
    uint32_t resourceRva = layout.DirectoryRva(DirectoryResources, data);
    size_t r = layout.sections.size();
    for (size_t i = 0; i < layout.sections.size(); ++i)
        if (resourceRva && layout.sections[i].virtualAddress == resourceRva)
            r = i;
    if (r == layout.sections.size())
        return Fail(error, "it has no resource section");
    // In the file and in memory, only the relocations may follow.
    uint32_t relocationRva = layout.DirectoryRva(DirectoryRelocations, data);
    const PeSection& resource = layout.sections[r];
    for (size_t i = 0; i < layout.sections.size(); ++i) {
        const PeSection& s = layout.sections[i];
        bool after = s.virtualAddress > resource.virtualAddress;
        if (after != (i > r) || (i > r && (s.virtualAddress != relocationRva || s.rawOffset < resource.rawOffset)) ||
            (i < r && s.rawSize && s.rawOffset > resource.rawOffset))
            return Fail(error, "its resource section is not the last one (only the relocations may follow)");
    }
    for (uint32_t d = 0; d < layout.directoryCount; ++d) {
        uint32_t rva = layout.DirectoryRva(d, data);
        if (d != DirectoryResources && d != DirectoryRelocations && d != DirectorySecurity && rva &&
            rva >= resource.virtualAddress)
            return Fail(error, "data directory " + std::to_string(d) + " lies in or after its resource section");
    }
    if (resource.rawOffset < layout.headersSize || resource.rawOffset > image->size())
        return Fail(error, "damaged section table");

    Bytes out(image->begin(), image->begin() + resource.rawOffset);
    Bytes section = ResourceSectionBytes(resources, resource.virtualAddress);
    uint32_t sectionSize = static_cast<uint32_t>(section.size());
    section.resize(AlignUp(section.size(), layout.fileAlignment), 0);
    out.insert(out.end(), section.begin(), section.end());
    Put32(&out[resource.header + 8], sectionSize);
    Put32(&out[resource.header + 16], static_cast<uint32_t>(section.size()));
    uint64_t nextRva = AlignUp(static_cast<uint64_t>(resource.virtualAddress) + sectionSize, layout.sectionAlignment);
    uint64_t end = nextRva;
    for (size_t i = r + 1; i < layout.sections.size(); ++i) {
        const PeSection& s = layout.sections[i];
        if (s.rawSize && (s.rawOffset > image->size() || s.rawSize > image->size() - s.rawOffset))
            return Fail(error, "damaged section table");
        Put32(&out[s.header + 12], static_cast<uint32_t>(nextRva));
        Put32(&out[s.header + 20], s.rawSize ? static_cast<uint32_t>(out.size()) : 0);
        if (s.virtualAddress == relocationRva)
            Put32(&out[layout.directories + 8 * DirectoryRelocations], static_cast<uint32_t>(nextRva));
        out.insert(out.end(), image->begin() + s.rawOffset, image->begin() + s.rawOffset + s.rawSize);
        end = AlignUp(nextRva + std::max(s.virtualSize, s.rawSize), layout.sectionAlignment);
        nextRva = end;
    }
    if (end > UINT32_MAX)
        return Fail(error, "the image would be 4 GiB or larger");
    size_t optional = layout.optionalHeader;
    Put32(&out[optional + 56], static_cast<uint32_t>(end)); // SizeOfImage
    uint32_t initialized = U32(&out[optional + 8]) - resource.rawSize + static_cast<uint32_t>(section.size());
    Put32(&out[optional + 8], initialized);
    Put32(&out[layout.directories + 8 * DirectoryResources + 4], sectionSize);
    Put32(&out[layout.checksumField], 0);
    if (layout.imageEnd < image->size())
        out.insert(out.end(), image->begin() + layout.imageEnd, image->end());
    image->swap(out);
    return true;
}

bool CheckIconFile(const Bytes& ico, std::string* error)
{
    if (ico.size() < IconDirSize || U16(&ico[0]) != 0 || U16(&ico[2]) != 1 || U16(&ico[4]) == 0)
        return Fail(error, "is not an icon file (.ico)");
    unsigned count = U16(&ico[4]);
    if (ico.size() < IconDirSize + IconEntrySize * count)
        return Fail(error, "is cut short: its directory lists " + std::to_string(count) + " images");
    for (unsigned i = 0; i < count; ++i) {
        const uint8_t* entry = &ico[IconDirSize + IconEntrySize * i];
        uint32_t size = U32(entry + 8), offset = U32(entry + 12);
        if (size == 0 || offset < IconDirSize + IconEntrySize * count || offset > ico.size() ||
            size > ico.size() - offset)
            return Fail(error, "is damaged: image " + std::to_string(i + 1) + " of " + std::to_string(count) +
                                   " lies outside the file");
    }
    return true;
}

bool ApplyProgramLook(Bytes* image, const ProgramLook& look, std::string* error)
{
    std::vector<PeResource> resources;
    if (!ReadPeResources(image->data(), image->size(), &resources, error))
        return false;
    // The process manifest is number 1; a program whose only manifest
    // went in under another name (a misspelt constant in its script) gets
    // it renumbered, or Windows would not read it.
    PeResource* manifest = nullptr;
    size_t manifests = 0;
    for (PeResource& r : resources)
        if (r.type == Id(TypeManifest)) {
            ++manifests;
            if (r.name == Id(ManifestId) || (!manifest && r.name.named))
                manifest = &r;
        }
    if (manifest && !(manifest->name == Id(ManifestId)) && manifests > 1)
        manifest = nullptr;
    if (manifest)
        manifest->name = Id(ManifestId);
    if (!manifest)
        return Fail(error, "it has no application manifest (resource 24, 1)");
    if (!SetLevel(&manifest->data, look.requireAdministrator ? "requireAdministrator" : "asInvoker", error))
        return false;

    uint16_t language = EnglishUs;
    for (const PeResource& r : resources)
        if (r.type == Id(TypeVersion))
            language = r.language;
    resources.erase(std::remove_if(resources.begin(), resources.end(),
                                   [](const PeResource& r) { return r.type == Id(TypeVersion); }),
                    resources.end());
    PeResource version;
    version.type = Id(TypeVersion);
    version.name = Id(1);
    version.language = language;
    version.data = VersionResource(look);
    if (version.data.size() > 0xFFFF)
        return Fail(error, "its version resource would be larger than 64 KB");
    resources.push_back(version);

    if (!look.icon.empty()) {
        if (!CheckIconFile(look.icon, error))
            return false;
        ReplaceIcon(&resources, look.icon, ProgramIconId);
    }
    Bytes copy = *image;
    if (!ReplaceResourceSection(&copy, resources, error))
        return false;
    image->swap(copy);
    return true;
}

bool ParseFileVersion(const std::string& text, uint32_t* ms, uint32_t* ls)
{
    uint32_t parts[4] = {0, 0, 0, 0};
    size_t count = 0, at = 0;
    while (count < 4) {
        size_t digits = 0;
        uint32_t value = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 6) {
            value = value * 10 + static_cast<uint32_t>(text[at++] - '0');
            ++digits;
        }
        if (digits == 0 || value > 0xFFFF)
            return false;
        parts[count++] = value;
        if (at == text.size())
            break;
        if (text[at++] != '.')
            return false;
    }
    if (at != text.size())
        return false;
    *ms = parts[0] << 16 | parts[1];
    *ls = parts[2] << 16 | parts[3];
    return true;
}

// ---------------------------------------------------------------- checksum

void PeChecksum::Add(const uint8_t* data, size_t size)
{
    uint64_t sum = sum_;
    uint64_t at = length_;
    size_t i = 0;
    auto byte = [&](size_t k) -> uint32_t {
        uint64_t where = at + (k - i);
        return where >= field_ && where < field_ + 4 ? 0 : data[k];
    };
    while (i < size) {
        if ((at & 1) == 0 && i + 1 < size) {
            // Whole words; only those near the field are looked at closely.
            if (at + 2 <= field_ || at >= field_ + 4)
                sum += data[i] | static_cast<uint32_t>(data[i + 1]) << 8;
            else
                sum += byte(i) | byte(i + 1) << 8;
            i += 2;
            at += 2;
        } else {
            sum += (at & 1) ? byte(i) << 8 : byte(i);
            ++i;
            ++at;
        }
    }
    sum_ = sum;
    length_ = at;
}

uint32_t PeChecksum::Finish() const
{
    uint64_t sum = sum_;
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum + length_);
}

bool SetPeChecksum(Bytes* file)
{
    PeLayout layout;
    if (!ReadPeLayout(file->data(), file->size(), &layout, nullptr))
        return false;
    PeChecksum sum(layout.checksumField);
    sum.Add(file->data(), file->size());
    Put32(&(*file)[layout.checksumField], sum.Finish());
    return true;
}

} // namespace zevrin
