// The 8-byte head that frames every record: the package header's and, in
// the same framing, the uninstall log's and the uninstaller's texts.
#pragma once

#include <cstdint>

namespace zevrin {

// Ends the package header and every log: a head with an empty body.
enum : uint16_t { TagTerminator = 0x7F7F };

const uint8_t RecordCompressed = 1; // flags bit 0
const uint32_t RecordHeadSize = 8;

struct RecordHead {
    uint16_t tag;
    uint8_t flags;
    uint8_t reserved;
    uint32_t bodyLength;
};

} // namespace zevrin
