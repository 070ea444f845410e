// Registry roots by the package's index, and reading a path from the
// registry.
#pragma once

#include <windows.h>

#include <cstdint>

namespace zevrin {

// 0 HKEY_CLASSES_ROOT, 1 HKEY_CURRENT_USER, 2 HKEY_LOCAL_MACHINE,
// 3 HKEY_USERS.
const uint32_t RootKeyCount = 4;
extern const HKEY RootKeyTable[RootKeyCount];
// RootKeyTable[index]; HKEY_CURRENT_USER for any other index.
HKEY RootKey(uint32_t index);
// Its name, "HKEY_CURRENT_USER" and so on, for the run log.
const char* RootKeyName(uint32_t index);

// The root of what the installation registers for itself (uninstall
// key, shared counts, libraries registered at the next start):
// HKEY_CURRENT_USER for a per-user install, else HKEY_LOCAL_MACHINE.
HKEY ProductRoot();
const char* ProductRootName(); // for the run log

// Reads a path into text (PathSize bytes) from the value `name` of
// root\key (null: the key's default value). Only text values count:
// REG_SZ, and REG_EXPAND_SZ with its variables expanded. Other types hold
// no path (a number's raw bytes, or bytes without a terminator) and, like
// a missing key or value, or a text too long for PathSize (never cut: it
// would name another folder), give false with text empty.
bool ReadRegistryPath(HKEY root, const char* key, const char* name, char* text);

// Key of the shared-file usage counters (below ProductRoot()), one value per file path.
extern const char SharedDllsKey[];
// Reads the usage count of a shared file as a number: a REG_DWORD or
// 4-byte binary value as it is, a text holding a number (written by some
// other tool) as that number. False when the value holds no count.
bool ReadSharedCount(DWORD type, const BYTE* data, DWORD size, DWORD* count);

} // namespace zevrin
