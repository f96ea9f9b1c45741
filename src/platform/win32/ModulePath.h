// The layer's own header for the test adapter (tests/support/TestAccess.cpp), never included by
// the program's code: a test gives "the executable's folder" a place of its own, where the
// settings file and the sender program are looked for.
#pragma once

namespace vimo::platform {

// GetModuleFileNameA and ExecutableFolder report path instead of the running program (NULL
// restores it).
void SetModulePathOverride(const char* path);

}  // namespace vimo::platform
