// The application's profile file: Windows INI text ("[section]" lines, "entry=value" lines),
// read through minIni and changed by replacing the whole file, so that a crash or a full disk
// during a write leaves the previous profile, never half of one.
#pragma once

#include <string>

namespace vimo::platform {

// The value of entry in section, or fallback when the file has none.
std::string ReadProfileString(const char* path, const char* section, const char* entry, const char* fallback);
long ReadProfileInt(const char* path, const char* section, const char* entry, long fallback);

// Sets entry in section to value, or removes the entry when value is nullptr; every other line
// stays as it was. A value that could not be read back whole (a line break in it, or a line
// longer than the reader takes) is not stored: its entry is removed and the result is false.
// False, with the file unchanged, when it cannot be read or written.
bool WriteProfileString(const char* path, const char* section, const char* entry, const char* value);

}  // namespace vimo::platform
