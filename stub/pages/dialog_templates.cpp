#include "dialog_templates.h"

#include "../shared/byte_cursor.h"

namespace zevrin {

bool TemplateSpan(const uint8_t* blob, uint32_t size, unsigned number, uint32_t* offset, uint32_t* length)
{
    if (number >= NoTemplate || size < TemplateOffsetTableSize)
        return false;
    ByteCursor table(blob, size);
    table.Skip(4 * number);
    uint32_t at = table.U32();
    if (table.Failed() || at < TemplateOffsetTableSize || at >= size)
        return false;
    *offset = at;
    *length = size - at < TemplateBlockBytes ? size - at : TemplateBlockBytes;
    return true;
}

} // namespace zevrin
