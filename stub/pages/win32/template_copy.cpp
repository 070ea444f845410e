// Fresh copies of the package's dialog templates: the dialog manager may
// keep reading a template while its dialog exists, and the header blob
// is not a moveable global block.
#include <windows.h>

#include <cstring>

#include "../../shared/state.h"
#include "../dialog_templates.h"
#include "pages.h"

namespace zevrin {

void* LoadTemplate(unsigned number)
{
    // The header reader has checked every template the run loads; a
    // template it had no reason to check loads nothing rather than
    // copying from elsewhere.
    uint32_t offset = 0, length = 0;
    if (!TemplateBlob || !TemplateSpan(TemplateBlob, TemplateBlobSize, number, &offset, &length))
        return nullptr;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, TemplateBlockBytes);
    if (!block)
        return nullptr;
    void* address = GlobalLock(block);
    if (!address) {
        GlobalFree(block);
        return nullptr;
    }
    // The template and what follows it in the blob, as much as fits.
    std::memcpy(address, TemplateBlob + offset, length);
    return address;
}

void FreeTemplate(void* address)
{
    if (!address)
        return;
    HGLOBAL block = GlobalHandle(address);
    if (block) {
        GlobalUnlock(block);
        GlobalFree(block);
    }
}

} // namespace zevrin
