// The full name of a TrueType font, read from its name table, for the
// Fonts registry value "<name> (TrueType)".
#pragma once

#include <cstdint>

namespace zevrin {

const uint32_t FontNameSize = 260;
// Names longer than this are cut so that " (TrueType)" still fits.
const uint32_t FontNameMaxLength = FontNameSize - 1 - 11;

// Fills name (FontNameSize bytes) with the full font name (platform 1,
// name 4; a later record replaces an earlier one) of the file at path and
// appends " (TrueType)". Looks at no more than 40 table records. A
// record whose text does not lie inside the file is skipped. False, and
// name empty, when the file has no such name.
bool ReadFontValueName(const char* path, char* name);

} // namespace zevrin
