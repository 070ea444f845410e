// The page sequencer.
#pragma once

#include <windows.h>

#include "../../pages/win32/pages.h"
#include "../templates.h"

namespace zevrin {

int RunPage(unsigned templateNumber, DLGPROC procedure, LPARAM parameter);
void RunWizard();

} // namespace zevrin
