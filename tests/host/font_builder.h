// TrueType files made to order for the font-name tests: an offset table,
// table records with "name" last, and a name table with the given
// records, each of which may lie about its text's length or place.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zevrin {

struct NameRecord {
    uint16_t platform;
    uint16_t nameId;
    std::string text;
    int length = -1; // -1: the text's own
    int offset = -1; // -1: where the text is stored
};

inline NameRecord Full(const std::string& text) { return {1, 4, text}; }

inline void Big16(std::vector<uint8_t>& out, uint32_t value)
{
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}
inline void Big32(std::vector<uint8_t>& out, uint32_t value)
{
    Big16(out, value >> 16);
    Big16(out, value & 0xFFFF);
}

struct FontShape {
    unsigned tablesBefore = 0; // table records ahead of "name"
    int tableCount = -1;       // -1: all of them
    int nameCount = -1;        // -1: the records given
    uint32_t stringsShift = 0; // added to the string storage offset
    uint32_t tableShift = 0;   // added to the name table's offset
};

// Offset table, table records (the "name" record last), the name table.
inline std::vector<uint8_t> Font(const std::vector<NameRecord>& records, const FontShape& shape = {})
{
    uint32_t tables = shape.tablesBefore + 1;
    std::vector<uint8_t> out;
    Big32(out, 0x00010000);
    Big16(out, shape.tableCount < 0 ? tables : static_cast<uint32_t>(shape.tableCount));
    Big16(out, 0);
    Big16(out, 0);
    Big16(out, 0);
    uint32_t nameTable = 12 + 16 * tables;
    for (unsigned i = 0; i < shape.tablesBefore; ++i) {
        out.insert(out.end(), {'c', 'm', 'a', 'p'});
        Big32(out, 0);
        Big32(out, 0);
        Big32(out, 0);
    }
    out.insert(out.end(), {'n', 'a', 'm', 'e'});
    Big32(out, 0);
    Big32(out, nameTable + shape.tableShift);
    Big32(out, 0);

    Big16(out, 0);
    Big16(out, shape.nameCount < 0 ? static_cast<uint32_t>(records.size()) : static_cast<uint32_t>(shape.nameCount));
    Big16(out, static_cast<uint32_t>(6 + 12 * records.size()) + shape.stringsShift);
    std::string strings;
    for (const NameRecord& r : records) {
        Big16(out, r.platform);
        Big16(out, 0);
        Big16(out, 0);
        Big16(out, r.nameId);
        Big16(out, r.length < 0 ? static_cast<uint32_t>(r.text.size()) : static_cast<uint32_t>(r.length));
        Big16(out, r.offset < 0 ? static_cast<uint32_t>(strings.size()) : static_cast<uint32_t>(r.offset));
        strings += r.text;
    }
    out.insert(out.end(), strings.begin(), strings.end());
    return out;
}

} // namespace zevrin
