// Dialog templates and the page sequencer.
#pragma once

#include <windows.h>

#include "../templates.h"

namespace zevrin {

// A fresh 16 KB moveable block holding template `number` and whatever
// follows it in the blob; null when it cannot be had or the blob does not
// hold that template.
void* LoadTemplate(unsigned number);
void FreeTemplate(void* address);

int RunPage(unsigned templateNumber, DLGPROC procedure, LPARAM parameter);
void RunWizard();

} // namespace zevrin
