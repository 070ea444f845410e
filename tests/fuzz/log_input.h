// Uninstaller files for the log reader's tests, seeds and fuzz target: a
// small PE image (two sections, the last ending at 0x500) and the record
// pieces that follow it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace loginput {

typedef std::vector<uint8_t> Bytes;

const uint32_t ImageSize = 0x500;

inline Bytes Image()
{
    Bytes image(ImageSize, 0xCC);
    std::fill(image.begin(), image.begin() + 0x200, 0);
    image[0] = 'M';
    image[1] = 'Z';
    image[0x3C] = 0x40;
    const uint8_t pe[] = {'P', 'E', 0, 0, 0x4C, 0x01, 2, 0};
    std::copy(pe, pe + sizeof pe, image.begin() + 0x40);
    image[0x40 + 4 + 16] = 0xE0; // optional header size
    uint32_t table = 0x40 + 24 + 0xE0;
    const uint32_t sections[2][2] = {{0x200, 0x200}, {0x400, 0x100}}; // offset, size
    for (int i = 0; i < 2; ++i)
        for (int b = 0; b < 4; ++b) {
            image[table + 40 * i + 16 + b] = static_cast<uint8_t>(sections[i][1] >> (8 * b));
            image[table + 40 * i + 20 + b] = static_cast<uint8_t>(sections[i][0] >> (8 * b));
        }
    return image;
}

// Image() as osslsigncode leaves it: a certificate table (data directory
// 4) after the sections; `plus` makes it a PE32+ image.
inline Bytes SignedImage(bool plus = false)
{
    Bytes image = Image();
    const uint32_t optional = 0x40 + 24;
    image[optional] = 0x0B;
    image[optional + 1] = plus ? 0x02 : 0x01;
    uint32_t directories = optional + (plus ? 112 : 96);
    image[directories - 4] = 16; // directory count
    image[directories + 4 * 8] = static_cast<uint8_t>(ImageSize); // offset
    image[directories + 4 * 8 + 1] = static_cast<uint8_t>(ImageSize >> 8);
    image[directories + 4 * 8 + 4] = 0x10; // size
    image.resize(ImageSize + 0x10, 0x5A);
    return image;
}

inline void Add(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

inline void AddU32(Bytes& out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

inline Bytes Head(uint16_t tag, uint32_t length)
{
    Bytes head = {static_cast<uint8_t>(tag), static_cast<uint8_t>(tag >> 8), 0, 0};
    AddU32(head, length);
    return head;
}

inline Bytes Counted(const std::string& s)
{
    Bytes b = {static_cast<uint8_t>(s.size()), static_cast<uint8_t>(s.size() >> 8)};
    b.insert(b.end(), s.begin(), s.end());
    return b;
}

struct Item {
    std::string folder, name;
    int flags; // -1: a shortcut item, without flags
};

// A 4661 or 4662 record; countDelta makes its count lie.
inline Bytes Record(uint16_t tag, const std::vector<Item>& items, int countDelta = 0)
{
    Bytes body;
    AddU32(body, static_cast<uint32_t>(items.size() + countDelta));
    for (const Item& item : items) {
        Add(body, Counted(item.folder));
        Add(body, Counted(item.name));
        if (item.flags >= 0)
            body.push_back(static_cast<uint8_t>(item.flags));
    }
    Bytes out = Head(tag, static_cast<uint32_t>(body.size()));
    Add(out, body);
    return out;
}

const char AppKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zevrin Demo";

inline Bytes KeyRecord(const std::string& key, uint32_t root = 0x80000002)
{
    Bytes out = Head(4664, static_cast<uint32_t>(key.size() + 6));
    AddU32(out, root);
    Add(out, Counted(key));
    return out;
}

// The publisher's texts as the authoring tool puts them before the log.
inline Bytes TextsRecord(const std::vector<std::string>& texts)
{
    Bytes group = {static_cast<uint8_t>(texts.size()), static_cast<uint8_t>(texts.size() >> 8)};
    for (const std::string& text : texts) {
        group.insert(group.end(), text.begin(), text.end());
        group.push_back(0);
    }
    Bytes out = Head(4680, static_cast<uint32_t>(group.size()));
    Add(out, group);
    return out;
}

inline Bytes End() { return Head(0x7F7F, 0); }

// Record 4690: the folders an installation made; countDelta makes its
// count lie.
inline Bytes FoldersRecord(const std::vector<std::string>& folders, int countDelta = 0)
{
    Bytes body;
    AddU32(body, static_cast<uint32_t>(folders.size() + countDelta));
    for (const std::string& folder : folders)
        Add(body, Counted(folder));
    Bytes out = Head(4690, static_cast<uint32_t>(body.size()));
    Add(out, body);
    return out;
}

// Record 4691: the remembered folder's registry value.
inline Bytes RegistryValueRecord(uint32_t root, const std::string& key, const std::string& value, uint8_t madeParts)
{
    Bytes body;
    AddU32(body, root);
    Add(body, Counted(key));
    Add(body, Counted(value));
    body.push_back(madeParts);
    Bytes out = Head(4691, static_cast<uint32_t>(body.size()));
    Add(out, body);
    return out;
}

// Record 4692: the remembered folder's profile entry.
inline Bytes ProfileEntryRecord(const std::string& file, const std::string& section, const std::string& key,
                                uint8_t flags)
{
    Bytes body = Counted(file);
    Add(body, Counted(section));
    Add(body, Counted(key));
    body.push_back(flags);
    Bytes out = Head(4692, static_cast<uint32_t>(body.size()));
    Add(out, body);
    return out;
}

// Record 4694: (size, checksum) per file item; countDelta makes its
// count lie.
inline Bytes SumsRecord(const std::vector<std::pair<uint32_t, uint32_t>>& sums, int countDelta = 0)
{
    Bytes body;
    AddU32(body, static_cast<uint32_t>(sums.size() + countDelta));
    for (const auto& sum : sums) {
        AddU32(body, sum.first);
        AddU32(body, sum.second);
    }
    Bytes out = Head(4694, static_cast<uint32_t>(body.size()));
    Add(out, body);
    return out;
}

inline std::vector<Item> Files()
{
    return {{".", "uninst.exe", 0}, {".\\sub", "b.dat", 0}, {"C:\\WINDOWS\\SYSTEM", "lib.dll", 5}};
}

// What follows the image once an installation has written its log.
inline Bytes GoodTail()
{
    Bytes out = TextsRecord({"Remove Demo"});
    Add(out, Record(4661, Files()));
    Add(out, Record(4662, {{"C:\\Menu\\Programs\\Demo", "Demo.lnk", -1}}));
    Add(out, KeyRecord(AppKey));
    Add(out, End());
    return out;
}

} // namespace loginput
