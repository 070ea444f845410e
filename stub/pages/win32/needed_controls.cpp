// Whether a dialog made from a package template has the controls its
// page cannot do without: a template can pass every check and still
// come out without one (DS_NOFAILCREATE drops controls that fail).
#include <windows.h>

#include "../dialog_templates.h"
#include "pages.h"

namespace zevrin {

bool HasNeededControls(HWND dialog, unsigned templateNumber)
{
    NeededControls needed = ControlsNeeded(templateNumber);
    for (unsigned i = 0; i < needed.count; ++i)
        if (!GetDlgItem(dialog, needed.ids[i]))
            return false;
    return true;
}

} // namespace zevrin
