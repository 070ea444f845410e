// Dialog templates as the platform's dialog manager walks them. Its walk
// has no bounds of its own, so a package template is checked once, when
// the header is read, against the bytes a load will copy.
#include "templates.h"

#include "../shared/byte_cursor.h"

namespace zevrin {

const unsigned PageTemplates[PageCount] = {5, 3, 2, 5, 4, 6, NoTemplate};

namespace {

const uint32_t DialogSetFont = 0x40; // DS_SETFONT

// Menu, class, and an item's class and title: 0x0000 (none), 0xFFFF and
// an ordinal, or a string.
void SkipNameOrOrdinal(ByteCursor& in)
{
    uint16_t first = in.U16();
    if (first == 0xFFFF)
        in.Skip(2);
    else if (first != 0)
        in.SkipWideText();
}

} // namespace

bool CheckDialogTemplate(const uint8_t* data, uint32_t size)
{
    ByteCursor in(data, size);
    ByteCursor peek = in;
    bool extended = peek.U16() == 1 && peek.U16() == 0xFFFF;
    uint32_t style;
    if (extended) {
        in.Skip(12); // version, signature, help id, extended style
        style = in.U32();
    } else {
        style = in.U32();
        in.Skip(4); // extended style
    }
    uint16_t items = in.U16();
    in.Skip(8);             // x, y, cx, cy
    SkipNameOrOrdinal(in);  // menu
    SkipNameOrOrdinal(in);  // class
    in.SkipWideText();      // title: never an ordinal
    if (style & DialogSetFont) {
        in.Skip(extended ? 6 : 2); // point size; weight, italic, character set
        in.SkipWideText();         // face name
    }
    for (unsigned i = 0; i < items && !in.Failed(); ++i) {
        in.Align(4);
        in.Skip(extended ? 12 : 8); // help id, styles
        in.Skip(8);                 // x, y, cx, cy
        in.Skip(extended ? 4 : 2);  // id
        SkipNameOrOrdinal(in);      // class
        SkipNameOrOrdinal(in);      // title
        // The control is handed all its creation data, while the dialog
        // manager steps over whole words of it (an odd last byte is left
        // to the next item's alignment).
        uint16_t extra = in.U16();
        if (extra > in.Left())
            return false;
        in.Skip(extra & ~1u);
    }
    return !in.Failed();
}

bool CheckTemplateBlob(const uint8_t* blob, uint32_t size, bool fullScreen, uint16_t startPage, unsigned* bad)
{
    *bad = NoTemplate;
    if (!blob || size < TemplateOffsetTableSize)
        return false;
    bool loaded[NoTemplate] = {};
    loaded[fullScreen ? TemplateFrameFullScreen : TemplateFrameWindowed] = true;
    for (int page = 0; page < PageCount; ++page) {
        if (startPage != WizardMode && page != startPage)
            continue;
        if (PageTemplates[page] != NoTemplate)
            loaded[PageTemplates[page]] = true;
        if (page == DirectoryPage)
            loaded[TemplateFolderBrowser] = true;
    }
    for (unsigned n = 0; n < NoTemplate; ++n) {
        uint32_t offset = 0, length = 0;
        if (loaded[n] && !(TemplateSpan(blob, size, n, &offset, &length) && CheckDialogTemplate(blob + offset, length))) {
            *bad = n;
            return false;
        }
    }
    return true;
}

} // namespace zevrin
