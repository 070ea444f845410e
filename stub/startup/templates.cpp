// Dialog templates as the platform's dialog manager walks them. Its walk
// has no bounds of its own, so a package template is checked once, when
// the header is read, against the bytes a load will copy. A dialog with
// one control it cannot make is not made at all, so the classes are
// checked too, and the controls the page cannot do without.
#include "templates.h"

#include "../shared/byte_cursor.h"

namespace zevrin {

const unsigned PageTemplates[PageCount] = {5, 3, 2, 5, 4, 6, NoTemplate};

const char* const ItemClassNames[] = {
    // The predefined controls, as resource compilers write CONTROL classes.
    "Button", "Edit", "Static", "ListBox", "ScrollBar", "ComboBox",
    // The common controls of InitCommonControls (tool tips aside: they
    // are pop-ups, not controls of a dialog).
    "SysListView32", "SysTreeView32", "SysHeader32", "ToolbarWindow32", "msctls_statusbar32",
    "msctls_trackbar32", "SysTabControl32", "msctls_updown32", "msctls_progress32", "msctls_hotkey32",
    "SysAnimate32",
};
const unsigned ItemClassNameCount = sizeof ItemClassNames / sizeof ItemClassNames[0];

namespace {

const uint32_t DialogSetFont = 0x40; // DS_SETFONT
const uint16_t OrdinalMark = 0xFFFF;
// Longer than any name of ItemClassNames.
const unsigned LongestClassName = 24;

// Menu, class, and an item's title: 0x0000 (none), 0xFFFF and an
// ordinal, or a string.
void SkipNameOrOrdinal(ByteCursor& in)
{
    uint16_t first = in.U16();
    if (first == OrdinalMark)
        in.Skip(2);
    else if (first != 0)
        in.SkipWideText();
}

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(const char* name, const char* known)
{
    for (; *name && *known; ++name, ++known)
        if (Lower(*name) != Lower(*known))
            return false;
    return *name == *known;
}

// An item's class, read past. An empty name (0x0000) names no class.
bool ReadItemClass(ByteCursor& in)
{
    uint16_t first = in.U16();
    if (first == OrdinalMark) {
        uint16_t ordinal = in.U16();
        return ordinal >= FirstItemOrdinal && ordinal <= LastItemOrdinal;
    }
    char name[LongestClassName + 1];
    unsigned length = 0;
    bool fits = true;
    for (uint16_t c = first; c != 0 && !in.Failed(); c = in.U16()) {
        // Every known name is plain ASCII.
        if (c > 0x7F || length == LongestClassName)
            fits = false;
        else
            name[length++] = static_cast<char>(c);
    }
    name[length] = 0;
    if (!fits || length == 0)
        return false;
    for (unsigned i = 0; i < ItemClassNameCount; ++i)
        if (SameName(name, ItemClassNames[i]))
            return true;
    return false;
}

bool Refuse(TemplateFault* fault, TemplateProblem problem, int item = -1, uint32_t id = 0)
{
    if (fault) {
        fault->problem = problem;
        fault->item = item;
        fault->id = id;
    }
    return false;
}

} // namespace

bool CheckDialogTemplate(const uint8_t* data, uint32_t size, unsigned number, TemplateFault* fault)
{
    if (fault) {
        *fault = TemplateFault();
        fault->number = number;
    }
    NeededControls needed = ControlsNeeded(number);
    // Bit n: needed control n not seen yet.
    unsigned missing = (1u << needed.count) - 1;
    ByteCursor in(data, size);
    ByteCursor peek = in;
    bool extended = peek.U16() == 1 && peek.U16() == OrdinalMark;
    uint32_t style;
    if (extended) {
        in.Skip(12); // version, signature, help id, extended style
        style = in.U32();
    } else {
        style = in.U32();
        in.Skip(4); // extended style
    }
    uint16_t items = in.U16();
    in.Skip(8);            // x, y, cx, cy
    SkipNameOrOrdinal(in); // menu
    // Any class but the default needs a window class registered for
    // dialogs; the installer registers none.
    peek = in;
    bool ownClass = peek.U16() != 0;
    SkipNameOrOrdinal(in); // class
    in.SkipWideText();     // title: never an ordinal
    if (style & DialogSetFont) {
        in.Skip(extended ? 6 : 2); // point size; weight, italic, character set
        in.SkipWideText();         // face name
    }
    // The first item of an unknown class: the walk goes on, so that a
    // template that also leaves its bytes is refused for that.
    int badItem = -1;
    uint32_t badId = 0;
    for (unsigned i = 0; i < items && !in.Failed(); ++i) {
        in.Align(4);
        in.Skip(extended ? 12 : 8); // help id, styles
        in.Skip(8);                 // x, y, cx, cy
        uint32_t id = extended ? in.U32() : in.U16();
        bool made = ReadItemClass(in);
        SkipNameOrOrdinal(in); // title
        // The control is handed all its creation data, while the dialog
        // manager steps over whole words of it (an odd last byte is left
        // to the next item's alignment).
        uint16_t extra = in.U16();
        if (extra > in.Left())
            return Refuse(fault, TemplateUnwalkable);
        in.Skip(extra & ~1u);
        if (in.Failed())
            break;
        if (!made && badItem < 0) {
            badItem = static_cast<int>(i);
            badId = id;
        }
        for (unsigned n = 0; n < needed.count; ++n)
            if (id == needed.ids[n])
                missing &= ~(1u << n);
    }
    if (in.Failed())
        return Refuse(fault, TemplateUnwalkable);
    if (ownClass)
        return Refuse(fault, TemplateDialogClass);
    if (badItem >= 0)
        return Refuse(fault, TemplateItemClass, badItem, badId);
    for (unsigned n = 0; n < needed.count; ++n)
        if (missing & (1u << n))
            return Refuse(fault, TemplateControlMissing, -1, needed.ids[n]);
    return true;
}

void TemplatesOfRun(bool fullScreen, uint16_t startPage, bool loaded[NoTemplate])
{
    for (unsigned n = 0; n < NoTemplate; ++n)
        loaded[n] = false;
    loaded[fullScreen ? TemplateFrameFullScreen : TemplateFrameWindowed] = true;
    for (int page = 0; page < PageCount; ++page) {
        if (startPage != WizardMode && page != startPage)
            continue;
        if (PageTemplates[page] != NoTemplate)
            loaded[PageTemplates[page]] = true;
        if (page == DirectoryPage)
            loaded[TemplateFolderBrowser] = true;
    }
}

bool CheckTemplateBlob(const uint8_t* blob, uint32_t size, bool fullScreen, uint16_t startPage, TemplateFault* fault)
{
    *fault = TemplateFault();
    if (!blob || size < TemplateOffsetTableSize) {
        fault->problem = TemplateUnwalkable;
        return false;
    }
    bool loaded[NoTemplate];
    TemplatesOfRun(fullScreen, startPage, loaded);
    for (unsigned n = 0; n < NoTemplate; ++n) {
        if (!loaded[n])
            continue;
        uint32_t offset = 0, length = 0;
        if (!TemplateSpan(blob, size, n, &offset, &length)) {
            fault->problem = TemplateUnwalkable;
            fault->number = n;
            return false;
        }
        if (!CheckDialogTemplate(blob + offset, length, n, fault))
            return false;
    }
    return true;
}

} // namespace zevrin
