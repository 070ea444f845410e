// Text lookup in the package's message groups.
#pragma once

// Text `index` of message group `group`. Never null: a missing group or
// index, or a group whose strings run out before `index`, gives "".
// Valid until the header data is freed.
const char* GetMessageText(unsigned group, unsigned index);
