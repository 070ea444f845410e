// The dialog templates of the package (header record 4674): where each
// lies in the blob, which ones a run loads, and the check that a template
// is one the platform's dialog manager can walk without leaving it and
// can turn into a dialog with the controls its page needs.
#pragma once

#include <cstdint>

#include "../pages/dialog_templates.h"
#include "../shared/state.h"

namespace zevrin {

// The template of each page; the directory page also opens the folder
// browser.
extern const unsigned PageTemplates[PageCount];
const int DirectoryPage = 2;
const int ProgressPage = 4;

enum TemplateProblem : int {
    TemplateSound = 0,
    TemplateUnwalkable,     // the walk leaves the bytes a load copies, or the blob has no such template
    TemplateDialogClass,    // a window class of its own: only the system's dialog class is made
    TemplateItemClass,      // item `item` (control `id`) is of a class the installer cannot make
    TemplateControlMissing, // no control `id`, which its page needs
};

struct TemplateFault {
    TemplateProblem problem = TemplateSound;
    unsigned number = NoTemplate; // the template; NoTemplate: no blob, or its offset table is short
    int item = -1;                // index of the item at fault, -1 for none
    uint32_t id = 0;              // that item's control id, or the control missing
};

// True when `size` bytes hold a DLGTEMPLATE or DLGTEMPLATEEX that the
// dialog manager walks to its end without leaving them: header;
// menu and class each 0x0000, 0xFFFF and an ordinal, or a UTF-16 string;
// the title string; with DS_SETFONT the point size (and for the extended
// form weight, italic and character set) and the face name; then every
// item on a 4-byte boundary from the template's start, with its class and
// title (ordinal or string) and its creation data (a u16 count of bytes).
// Every string must end inside. Then what would keep the walked template
// from becoming a dialog its page can use: the dialog's class must be the
// system's dialog class (0x0000), every item's class one the installer
// can make (below), and the controls that template `number` needs
// (ControlsNeeded) must be among the items. On false `fault`, when
// given, says why.
bool CheckDialogTemplate(const uint8_t* data, uint32_t size, unsigned number, TemplateFault* fault = nullptr);

// The item classes the installer can make: the predefined controls, by
// ordinal (FirstItemOrdinal to LastItemOrdinal) or by name, and the
// common controls that InitCommonControls registers, by name. Names match
// without regard to case. The program's own window class is not among
// them: it is the background window, whose end ends the run.
const uint16_t FirstItemOrdinal = 0x0080; // button
const uint16_t LastItemOrdinal = 0x0085;  // combo box
extern const char* const ItemClassNames[];
extern const unsigned ItemClassNameCount;

// Which templates a run loads: the frame (1 full-screen, else 0); in
// wizard mode the templates of all pages and the folder browser; in
// single-page mode only the start page's, with the folder browser for the
// directory page.
void TemplatesOfRun(bool fullScreen, uint16_t startPage, bool loaded[NoTemplate]);

// Checks every template the run loads. On false, `fault` names the first
// bad one.
bool CheckTemplateBlob(const uint8_t* blob, uint32_t size, bool fullScreen, uint16_t startPage, TemplateFault* fault);

} // namespace zevrin
