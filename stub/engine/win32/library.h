// Self-registering libraries: their server functions.
#pragma once

namespace zevrin {

// Loads the library at path and calls its exported `name`
// (DllRegisterServer, DllUnregisterServer) without arguments. Its result,
// or E_FAIL when the library does not load or has no such export: only
// the run log looks at it.
long CallLibraryFunction(const char* path, const char* name);

} // namespace zevrin
