// Adding an installed TrueType font to the system.
#pragma once

namespace zevrin {

// HKLM's key of the installed fonts' values.
extern const char FontsKey[];

// Adds the font at path to the running system, tells every window, and
// enters it under HKLM "Software\Microsoft\Windows\CurrentVersion\Fonts"
// as "<full name> (TrueType)" = its file name. A font whose name cannot
// be read is still added, without a registry value.
void RegisterFont(const char* path);

// Takes the font at path out of the running system, tells every window,
// and removes its Fonts value when that still names the file.
void UnregisterFont(const char* path);

} // namespace zevrin
