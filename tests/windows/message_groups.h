// Message groups from plain strings, for the Windows tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "../../stub/shared/platform.h"
#include "../../stub/shared/state.h"

namespace zevrin {

// Fills message group `slot` with `texts`, as the package holds them: a
// u16 count, then the texts, each ending in a NUL.
inline void SetGroup(int slot, const std::vector<std::string>& texts)
{
    std::vector<uint8_t> bytes{static_cast<uint8_t>(texts.size()), static_cast<uint8_t>(texts.size() >> 8)};
    for (const std::string& text : texts) {
        bytes.insert(bytes.end(), text.begin(), text.end());
        bytes.push_back(0);
    }
    FreeAndClear(&MessageGroups[slot]);
    AllocWithRetry(static_cast<uint32_t>(bytes.size()), &MessageGroups[slot]);
    std::memcpy(MessageGroups[slot], bytes.data(), bytes.size());
}

} // namespace zevrin
