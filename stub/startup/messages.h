// Text lookup in the package's message groups.
#pragma once

namespace zevrin {

// Text `index` of message group `group`. Never null: a missing group or
// index, or a group whose strings run out before `index`, gives "".
// Valid until the header data is freed.
const char* GetMessageText(unsigned group, unsigned index);

// Fills a package text used as a format: the first "%s" takes `text`, the
// first "%d" (or %i, %u, with an optional l) takes `number`, "%%" is a
// percent sign; anything else is copied as it stands. The texts come from
// the package, so unlike wsprintfA this never reads an argument that was
// not passed. The result is cut to fit `size` bytes and always ends.
void FormatText(char* out, unsigned size, const char* format, const char* text, long number);

} // namespace zevrin
