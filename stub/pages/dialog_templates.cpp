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

NeededControls ControlsNeeded(unsigned number)
{
    static const uint16_t frame[] = {1, 2, 1007, 1006}; // Next, Cancel, Back, placeholder
    static const uint16_t folderField[] = {1004};
    static const uint16_t mainText[] = {1000};
    switch (number) {
    case TemplateFrameWindowed:
    case TemplateFrameFullScreen: return {frame, 4};
    case TemplateDirectory: return {folderField, 1};
    case TemplateInformation:
    case TemplateFinish: return {mainText, 1};
    default: return {nullptr, 0};
    }
}

} // namespace zevrin
