// A file table of entries in the install folder, for the tests of the
// disk-space check and the directory page.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "../../stub/engine/file_table.h"

namespace zevrin {

// (file name, FileSize, Location, UninstallMode).
struct TableEntry {
    std::string name;
    uint32_t size;
    uint8_t location;
    uint8_t uninstallMode;
};

// The table as the header holds it: a u32 count, then the entries.
inline std::vector<uint8_t> FileTableOf(const std::vector<TableEntry>& entries)
{
    std::vector<uint8_t> table(4, 0);
    for (int i = 0; i < 4; ++i)
        table[i] = static_cast<uint8_t>(entries.size() >> (8 * i));
    for (const TableEntry& e : entries) {
        std::vector<uint8_t> entry(EntryFixedSize, 0);
        for (int i = 0; i < 4; ++i)
            entry[EntryFileSize + i] = static_cast<uint8_t>(e.size >> (8 * i));
        entry[EntryLocation] = e.location;
        entry[EntryUninstallMode] = e.uninstallMode;
        entry.insert(entry.end(), e.name.begin(), e.name.end());
        entry.insert(entry.end(), 6, 0);
        WriteU16(entry.data(), static_cast<uint16_t>(entry.size()));
        table.insert(table.end(), entry.begin(), entry.end());
    }
    return table;
}

} // namespace zevrin
