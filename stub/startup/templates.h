// The dialog templates of the package (header record 4674): where each
// lies in the blob, which ones a run loads, and the check that a template
// is one the platform's dialog manager can walk without leaving it.
#pragma once

#include <cstdint>

#include "../pages/dialog_templates.h"
#include "../shared/state.h"

namespace zevrin {

// The template of each page; the directory page also opens the folder
// browser.
extern const unsigned PageTemplates[PageCount];
const int DirectoryPage = 2;

// True when `size` bytes hold a DLGTEMPLATE or DLGTEMPLATEEX that the
// dialog manager walks to its end without leaving them: header;
// menu and class each 0x0000, 0xFFFF and an ordinal, or a UTF-16 string;
// the title string; with DS_SETFONT the point size (and for the extended
// form weight, italic and character set) and the face name; then every
// item on a 4-byte boundary from the template's start, with its class and
// title (ordinal or string) and its creation data (a u16 count of bytes).
// Every string must end inside.
bool CheckDialogTemplate(const uint8_t* data, uint32_t size);

// Checks every template the run can load: the frame (1 full-screen, else
// 0); in wizard mode the templates of all pages and the folder browser;
// in single-page mode only the start page's, with the folder browser for
// the directory page. On false *bad is the first bad template's number,
// NoTemplate when there is no blob or its offset table is short.
bool CheckTemplateBlob(const uint8_t* blob, uint32_t size, bool fullScreen, uint16_t startPage, unsigned* bad);

} // namespace zevrin
