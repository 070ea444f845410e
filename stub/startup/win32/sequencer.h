// The page sequencer.
#pragma once

#include <windows.h>

#include "../../pages/win32/pages.h"
#include "../templates.h"

namespace zevrin {

// RunPage's result for a page whose dialog the system refuses to make,
// or makes without a control the page needs (HasNeededControls).
const int PageNotMade = -1;

int RunPage(unsigned templateNumber, DLGPROC procedure, LPARAM parameter);
// False when a page could not be made; the wizard then ends at once.
bool RunWizard();
// Makes every page dialog the run can open, hidden inside the frame
// before it is shown and with no page procedure, and destroys it again:
// false when one cannot be made or lacks a control its page needs. The
// same templates make the same dialogs later, so a damaged page is found
// before anything is installed.
bool PagesCanBeMade();

} // namespace zevrin
