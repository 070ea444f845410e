// Self-registering libraries: their server functions.
#pragma once

namespace zevrin {

// Loads the library at path and calls its exported `name`
// (DllRegisterServer, DllUnregisterServer) without arguments; its result
// is not looked at. Nothing when it does not load or has no such export.
void CallLibraryFunction(const char* path, const char* name);

} // namespace zevrin
